// The programs sc, eventlog and machine, run as a user runs them, on a private
// system root with the simulated USB audio kernel driver and a toy service.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_log.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/text.h"
#include "tests/support/program_runner.h"
#include "tests/support/root_processes.h"
#include "tests/support/test_system_root.h"

namespace {

using testing_support::ProgramResult;
using testing_support::runProgram;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool eventually(const std::function<bool()>& condition, int seconds = 10) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class ServiceToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The simulated driver reads its device configuration from its Parameters key.
    std::ofstream(root_.path() / "sim.conf") << "[device]\nserial = QT0001\nname = Quintor One\n"
                                                "i2s_inputs = 2\ni2s_outputs = 2\nrates = 44100 48000\n";
    platform::RegistryKey parameters;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine,
                                            u"SYSTEM\\CurrentControlSet\\Services\\usbaudio_sim\\Parameters",
                                            platform::KEY_ALL_ACCESS, parameters),
              0u);
    ASSERT_EQ(parameters.setString(u"ConfigFile", platform::toWide((root_.path() / "sim.conf").string())), 0u);
  }

  void TearDown() override { testing_support::endProcessesOfRoot(root_.path()); }

  static ProgramResult sc(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), SC_TOOL);
    return runProgram(arguments);
  }
  static ProgramResult machine(const std::string& command) { return runProgram({MACHINE_TOOL, command}); }
  static ProgramResult eventlog(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), EVENTLOG_TOOL);
    return runProgram(arguments);
  }

  void createToy(const std::string& name, const std::string& start = "demand", const std::string& depend = "") {
    std::vector<std::string> arguments = {"create", name, "binPath=",
                                          std::string(TOY_SERVICE) + " --record " +
                                              (root_.path() / "record").string() + " --name " + name,
                                          "start=", start};
    if (!depend.empty()) arguments.insert(arguments.end(), {"depend=", depend});
    const ProgramResult created = sc(arguments);
    ASSERT_EQ(created.exitCode, 0) << created.errors;
    EXPECT_EQ(created.output, "[SC] CreateService SUCCESS\n");
  }

  void registerSimulatedDriver() {
    const ProgramResult created =
        sc({"create", "usbaudio_sim", "type=", "kernel", "start=", "system", "binPath=", WN_USBAUDIO_SIM_MODULE});
    ASSERT_EQ(created.exitCode, 0) << created.errors;
  }

  static uint32_t processIdOf(const std::string& name) {
    const ProgramResult query = sc({"query", name});
    const size_t at = query.output.find("PID                : ");
    return at == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(query.output.substr(at + 21)));
  }

  testing_support::TestSystemRoot root_;
};

TEST_F(ServiceToolsTest, ScCommandLineErrorsComeBeforeAnyEffect) {
  struct Case {
    std::vector<std::string> arguments;
    std::string text;
  } cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"query"}, "missing arguments"},
      {{"query", "a", "b"}, "too many arguments"},
      {{"create", "x", "type=", "own"}, "binPath= is required"},
      {{"create", "x", "binPath=", "/bin/true", "type=", "shared"}, "type= must be own or kernel"},
      {{"create", "x", "binPath=", "/bin/true", "start=", "boot"}, "boot and system start are for kernel drivers"},
      {{"create", "x", "binPath="}, "binPath= needs a value"},
      {{"create", "x", "colour=", "red", "binPath=", "/bin/true"}, "unknown option 'colour='"},
      {{"--bogus", "list"}, "unknown option --bogus"},
  };
  for (const Case& c : cases) {
    const ProgramResult result = sc(c.arguments);
    EXPECT_EQ(result.exitCode, 2) << c.text;
    EXPECT_TRUE(contains(result.errors, c.text)) << result.errors;
  }
  EXPECT_EQ(sc({"list"}).output, "NAME                 TYPE                 STATE          PID      DISPLAY NAME\n")
      << "nothing was created";
  EXPECT_EQ(sc({"--version"}).exitCode, 0);
  EXPECT_TRUE(contains(sc({"-h"}).output, "Usage: sc"));
}

TEST_F(ServiceToolsTest, ScManagesAService) {
  createToy("toy");
  EXPECT_EQ(sc({"description", "toy", "A toy for the tests"}).exitCode, 0);
  const ProgramResult config = sc({"qc", "toy"});
  EXPECT_EQ(config.exitCode, 0);
  EXPECT_TRUE(contains(config.output, "TYPE               : 10 WIN32_OWN_PROCESS")) << config.output;
  EXPECT_TRUE(contains(config.output, "START_TYPE         : 3  DEMAND_START")) << config.output;
  EXPECT_TRUE(contains(config.output, "DESCRIPTION        : A toy for the tests")) << config.output;
  EXPECT_TRUE(contains(config.output, "SERVICE_START_NAME : LocalSystem")) << config.output;

  const ProgramResult failed = sc({"create", "toy", "binPath=", "/bin/true"});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.errors, "sc: CreateService FAILED 1073: The specified service already exists.\n");

  const ProgramResult started = sc({"start", "toy", "--wait"});
  ASSERT_EQ(started.exitCode, 0) << started.errors;
  EXPECT_TRUE(contains(started.output, "STATE              : 4  RUNNING")) << started.output;
  EXPECT_TRUE(contains(started.output, "(STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)")) << started.output;
  EXPECT_NE(processIdOf("toy"), 0u);
  const ProgramResult again = sc({"start", "toy"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.errors, "sc: StartService FAILED 1056: An instance of the service is already running.\n");
  const ProgramResult listed = sc({"list"});
  EXPECT_TRUE(contains(listed.output, "toy                  WIN32_OWN_PROCESS    RUNNING")) << listed.output;

  const ProgramResult stopped = sc({"stop", "toy", "--wait"});
  ASSERT_EQ(stopped.exitCode, 0) << stopped.errors;
  EXPECT_TRUE(contains(stopped.output, "STATE              : 1  STOPPED")) << stopped.output;
  const ProgramResult stopAgain = sc({"stop", "toy"});
  EXPECT_EQ(stopAgain.exitCode, 1);
  EXPECT_EQ(stopAgain.errors, "sc: ControlService FAILED 1062: The service has not been started.\n");

  EXPECT_EQ(sc({"delete", "toy"}).output, "[SC] DeleteService SUCCESS\n");
  const ProgramResult gone = sc({"query", "toy"});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_EQ(gone.errors, "sc: OpenService FAILED 1060: The specified service does not exist as an installed service.\n");
}

TEST_F(ServiceToolsTest, ScExplainsWhatRunsWithTheMachine) {
  registerSimulatedDriver();
  createToy("needsMachine", "demand", "eventlog/PlugPlay");
  ASSERT_EQ(platform::ensureMachineSystemServices(), 0u);
  for (const std::string name : {"usbaudio_sim", "needsMachine"}) {
    const ProgramResult result = sc({"start", name});
    EXPECT_EQ(result.exitCode, 1) << name;
    EXPECT_TRUE(contains(result.errors, "start it with `machine start`")) << result.errors;
  }
  const ProgramResult query = sc({"query", "usbaudio_sim"});
  EXPECT_TRUE(contains(query.output, "TYPE               : 1  KERNEL_DRIVER")) << query.output;
}

TEST_F(ServiceToolsTest, EventlogPrintsEveryLogOldestFirstAndFollows) {
  // The service monitor's message table gives the texts of this source.
  platform::RegistryKey source;
  ASSERT_EQ(platform::RegistryKey::create(
                platform::RegistryHive::LocalMachine,
                std::u16string(platform::kEventLogKey) + u"\\System\\Service Control Manager", platform::KEY_ALL_ACCESS,
                source),
            0u);
  ASSERT_EQ(source.setString(u"EventMessageFile", platform::toWide(SERVICE_MONITOR), platform::REG_EXPAND_SZ), 0u);
  const auto write = [](const char16_t* sourceName, uint16_t type, uint32_t id, std::vector<std::u16string> strings) {
    const platform::EventSourceHandle handle = platform::registerEventSource(nullptr, sourceName);
    std::vector<const char16_t*> pointers;
    for (const auto& s : strings) pointers.push_back(s.c_str());
    EXPECT_TRUE(platform::reportEvent(handle, type, 0, id, nullptr, static_cast<uint16_t>(pointers.size()), 0,
                                      pointers.data(), nullptr));
    platform::deregisterEventSource(handle);
  };
  write(u"Service Control Manager", platform::EVENTLOG_INFORMATION_TYPE, 0x40001B7C, {u"Quintor Control", u"running"});
  write(u"quintorsvc", platform::EVENTLOG_ERROR_TYPE, 0xE0070003, {u"first line\r\nsecond line\r\n"});

  const ProgramResult all = eventlog({});
  ASSERT_EQ(all.exitCode, 0) << all.errors;
  const size_t first = all.output.find("  Information  Service Control Manager  7036  The Quintor Control service entered "
                                    "the running state.\n");
  const size_t second = all.output.find("  Error        quintorsvc  3  The description for Event ID 3");
  EXPECT_NE(first, std::string::npos) << all.output;
  EXPECT_NE(second, std::string::npos) << all.output;
  EXPECT_LT(first, second) << "oldest first";
  EXPECT_TRUE(contains(all.output, "\n    first line\n    second line\n")) << all.output;

  EXPECT_FALSE(contains(eventlog({"-n", "1"}).output, "Service Control Manager"));
  EXPECT_FALSE(contains(eventlog({"--log", "System"}).output, "quintorsvc"));
  EXPECT_EQ(eventlog({"-n", "x"}).exitCode, 2);
  EXPECT_EQ(eventlog({"extra"}).exitCode, 2);

  // -f: what is written later appears as it comes.
  int output[2];
  ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
  platform::ProcessOptions options;
  options.standardOutput = output[1];
  platform::ProcessInformation follower;
  ASSERT_EQ(platform::startProcess({EVENTLOG_TOOL, "-f", "-n", "0"}, options, follower), 0u);
  ::close(output[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  write(u"Service Control Manager", platform::EVENTLOG_INFORMATION_TYPE, 0x40001B7C, {u"Later", u"stopped"});
  std::string followed;
  EXPECT_TRUE(eventually([&] {
    char buffer[4096];
    pollfd p{output[0], POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::read(output[0], buffer, sizeof buffer);
      if (n > 0) followed.append(buffer, static_cast<size_t>(n));
    }
    return contains(followed, "The Later service entered the stopped state.");
  })) << followed;
  EXPECT_FALSE(contains(followed, "Quintor Control")) << "-n 0 printed nothing old";
  platform::terminateProcess(follower.process, 0);
  platform::closeHandle(follower.process);
  ::close(output[0]);
}

TEST_F(ServiceToolsTest, MachineStartsStopsAndRecovers) {
  registerSimulatedDriver();
  createToy("base", "auto", "eventlog/PlugPlay");
  createToy("top", "auto", "base");
  createToy("manual", "demand");

  ProgramResult result = machine("stop");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(contains(result.output, "The machine is not running")) << result.output;

  result = machine("start");
  ASSERT_EQ(result.exitCode, 0) << result.output << result.errors;
  EXPECT_TRUE(contains(result.output, "Starting the device host ... running (pid ")) << result.output;
  EXPECT_TRUE(contains(result.output, "kernel drivers: usbaudio_sim")) << result.output;
  const size_t base = result.output.find("Starting base (base) ... running");
  const size_t top = result.output.find("Starting top (top) ... running");
  EXPECT_NE(base, std::string::npos) << result.output;
  EXPECT_LT(base, top) << "dependencies first";
  EXPECT_FALSE(contains(result.output, "manual")) << "only automatic services start";

  result = machine("start");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(contains(result.output, "The machine is already running")) << result.output;

  result = machine("status");
  EXPECT_TRUE(contains(result.output, ": running\n")) << result.output;
  EXPECT_TRUE(contains(result.output, "usbaudio_sim           kernel driver    RUNNING")) << result.output;
  EXPECT_TRUE(contains(result.output, "top                    service          RUNNING        pid ")) << result.output;

  // A service killed with kill -9 is reported, and start brings it back.
  const uint32_t topPid = processIdOf("top");
  ASSERT_NE(topPid, 0u);
  ::kill(static_cast<pid_t>(topPid), SIGKILL);
  ASSERT_TRUE(eventually([&] { return contains(machine("status").output, "ended unexpectedly (exit code 137)"); }));
  result = machine("start");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(contains(result.output, "top was stopped: it ended unexpectedly (exit code 137).")) << result.output;
  EXPECT_TRUE(contains(result.output, "Starting top (top) ... running")) << result.output;

  // So is a device host killed with kill -9.
  const uint32_t hostPid = processIdOf("PlugPlay");
  ASSERT_NE(hostPid, 0u);
  ::kill(static_cast<pid_t>(hostPid), SIGKILL);
  ASSERT_TRUE(eventually([&] { return contains(machine("status").output, "(it ended unexpectedly)"); }));
  result = machine("start");
  EXPECT_EQ(result.exitCode, 0) << result.output << result.errors;
  EXPECT_TRUE(contains(result.output, "The device host ended unexpectedly")) << result.output;
  EXPECT_TRUE(contains(result.output, "Starting the device host ... running")) << result.output;

  result = machine("stop");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  const size_t stopTop = result.output.find("Stopping top ... stopped");
  const size_t stopBase = result.output.find("Stopping base ... stopped");
  EXPECT_NE(stopTop, std::string::npos) << result.output;
  EXPECT_LT(stopTop, stopBase) << "dependents first";
  EXPECT_TRUE(contains(result.output, "Stopping the device host (pid ")) << result.output;
  EXPECT_TRUE(eventually([&] { return testing_support::processesOfRoot(root_.path()).empty(); }))
      << "nothing of the machine runs";
  EXPECT_TRUE(contains(machine("status").output, ": stopped\n"));
  EXPECT_EQ(machine("reboot").exitCode, 2);
  EXPECT_EQ(runProgram({MACHINE_TOOL}).exitCode, 2);
}

}  // namespace
