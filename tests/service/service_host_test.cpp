// quintorsvc as a program: its command line, installation through the
// service control manager, the service and console modes and their single
// instance.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/event_log.h"
#include "platform/mutexes.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/service/service_machine.h"

using namespace service_testing;

namespace {

const std::string kHelp =
    "\nquintorsvc V1.35\nQuintor Control Service\n\nSupported command line options:\n"
    " -install    Install the service.\n -uninstall  Uninstall the service.\n -start      Start the service.\n"
    " -stop       Stop the service.\n -console    Start service in console mode.\n"
    " -h, -?      Print this help message.\n\n";

platform::ServiceStatus serviceStatus() {
  const platform::ServiceHandle manager = platform::openServiceManager(nullptr, nullptr, platform::SC_MANAGER_CONNECT);
  const platform::ServiceHandle service = platform::openService(manager, u"quintorsvc", platform::SERVICE_QUERY_STATUS);
  platform::ServiceStatus status;
  if (service == nullptr || !platform::queryServiceStatus(service, &status)) status.currentState = 0;
  platform::closeServiceHandle(service);
  platform::closeServiceHandle(manager);
  return status;
}

std::vector<std::u16string> applicationEvents() {
  uint64_t offset = 0;
  std::vector<platform::EventLogRecord> records;
  (void)platform::readEventLog(u"Application", offset, records);
  std::vector<std::u16string> texts;
  for (const auto& record : records) texts.push_back(platform::eventMessageText(record));
  return texts;
}

bool hasEvent(const std::u16string& text) {
  return eventually([&] {
    for (const auto& event : applicationEvents()) {
      if (event == text) return true;
    }
    return false;
  });
}

class CommandLineTest : public ::testing::Test {
 protected:
  void TearDown() override { testing_support::endProcessesOfRoot(root_.path()); }
  testing_support::TestSystemRoot root_;
};

TEST_F(CommandLineTest, TextsAndExitCodes) {
  struct Case {
    std::vector<std::string> arguments;
    std::string output;
    int exitCode;
  } cases[] = {
      {{}, "No arguments given, use -h.\n", 1},
      {{"-INSTALL"}, "Unknown argument -INSTALL, use -h.\n", 1},
      {{"install"}, "Unknown argument install, use -h.\n", 1},
      {{"-h"}, kHelp, 0},
      {{"-?", "-install"}, kHelp, 0},
      // Not installed: 1060, of which the exit status keeps the low 8 bits.
      {{"-stop"}, "Error stopping service.\n", 1060 % 256},
      {{"-start"}, "Error starting service.\n", 1060 % 256},
      {{"-uninstall"}, "Error uninstalling service.\n", 1060 % 256},
      // Typed at a prompt: no service control manager started it.
      {{"-service"}, "", 255},
  };
  for (const Case& c : cases) {
    const ProgramResult result = quintorsvc(c.arguments);
    const std::string what = c.arguments.empty() ? "(none)" : c.arguments[0];
    EXPECT_EQ(result.output, c.output) << what;
    EXPECT_EQ(result.exitCode, c.exitCode) << what;
  }
  EXPECT_EQ(quintorsvc({"-stop"}).errors,
            "quintorsvc: error 1060: The specified service does not exist as an installed service.\n")
      << "the full number where the user reads it";
}

TEST_F(CommandLineTest, InstallRegistersTheServiceAndItsEventSource) {
  const ProgramResult installed = quintorsvc({"-install", "ignored"});
  ASSERT_EQ(installed.exitCode, 0) << installed.errors;
  EXPECT_EQ(installed.output, "Service installed successfully.\n");

  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::open(platform::RegistryHive::LocalMachine,
                                        u"SYSTEM\\CurrentControlSet\\Services\\quintorsvc", platform::KEY_READ, key),
            0u);
  std::u16string text;
  std::vector<std::u16string> list;
  uint32_t value = 0;
  EXPECT_EQ(key.getString(u"ImagePath", text), 0u);
  EXPECT_EQ(text, platform::toWide(QUINTORSVC) + u" -service");
  EXPECT_EQ(key.getMultiString(u"DependOnService", list), 0u);
  EXPECT_EQ(list, (std::vector<std::u16string>{u"eventlog", u"PlugPlay"}));
  EXPECT_EQ(key.getString(u"Group", text), 0u);
  EXPECT_EQ(text, u"PlugPlay");
  EXPECT_EQ(key.getDword(u"Start", value), 0u);
  EXPECT_EQ(value, platform::SERVICE_AUTO_START);
  EXPECT_EQ(key.getDword(u"Type", value), 0u);
  EXPECT_EQ(value, platform::SERVICE_WIN32_OWN_PROCESS);
  EXPECT_EQ(key.getString(u"DisplayName", text), 0u);
  EXPECT_EQ(text, u"Quintor Control");
  EXPECT_EQ(key.getString(u"Description", text), 0u);
  EXPECT_EQ(text, u"Quintor control service");

  platform::RegistryKey source;
  ASSERT_EQ(platform::RegistryKey::open(platform::RegistryHive::LocalMachine,
                                        u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\quintorsvc",
                                        platform::KEY_READ, source),
            0u);
  uint32_t type = 0;
  EXPECT_EQ(source.queryValue(u"EventMessageFile", &type, nullptr, nullptr), 0u);
  EXPECT_EQ(type, platform::REG_EXPAND_SZ);
  EXPECT_EQ(source.getString(u"EventMessageFile", text), 0u);
  EXPECT_EQ(text, platform::toWide(QUINTORSVC));
  EXPECT_EQ(source.getDword(u"TypesSupported", value), 0u);
  EXPECT_EQ(value, 7u);

  const ProgramResult stopped = quintorsvc({"-stop"});
  EXPECT_EQ(stopped.output, "Error stopping service.\n");
  EXPECT_EQ(stopped.exitCode, 1062 % 256) << "installed but not running";

  EXPECT_EQ(quintorsvc({"-install"}).exitCode, 0) << "installing again replaces it";
  const ProgramResult removed = quintorsvc({"-uninstall"});
  EXPECT_EQ(removed.output, "Service uninstalled successfully.\n");
  EXPECT_EQ(removed.exitCode, 0);
  EXPECT_EQ(platform::RegistryKey::open(platform::RegistryHive::LocalMachine,
                                        u"SYSTEM\\CurrentControlSet\\Services\\quintorsvc", platform::KEY_READ, key),
            platform::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(platform::RegistryKey::open(platform::RegistryHive::LocalMachine,
                                        u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\quintorsvc",
                                        platform::KEY_READ, source),
            platform::ERROR_FILE_NOT_FOUND);
}

class ServiceHostTest : public ServiceMachineTest {
 protected:
  // quintorsvc -console in the background, with its output on a pipe.
  void startConsole() {
    if (console_.process != nullptr) platform::closeHandle(console_.process);
    consoleText_.clear();
    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    platform::ProcessOptions options;
    options.standardOutput = output[1];
    ASSERT_EQ(platform::startProcess({QUINTORSVC, "-console"}, options, console_), 0u);
    ::close(output[1]);
    consoleOutput_.reset(output[0]);
  }

  std::string consoleText() {
    char buffer[4096];
    pollfd p{consoleOutput_.get(), POLLIN, 0};
    while (::poll(&p, 1, 0) > 0) {
      const ssize_t n = ::read(consoleOutput_.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      consoleText_.append(buffer, static_cast<size_t>(n));
    }
    return consoleText_;
  }

  int waitForConsole() {
    if (platform::waitForSingle(console_.process, 10000) != platform::WAIT_OBJECT_0) return -1;
    uint32_t code = 0;
    platform::getExitCodeProcess(console_.process, &code);
    return static_cast<int>(code);
  }

  void TearDown() override {
    ServiceMachineTest::TearDown();
    if (console_.process != nullptr) platform::closeHandle(console_.process);
  }

  // Stops the service and waits until its process has let go of the
  // single-instance lock, which it does after reporting SERVICE_STOPPED.
  void stopService() {
    ASSERT_EQ(quintorsvc({"-stop"}).exitCode, 0);
    ASSERT_TRUE(eventually([] {
      const platform::Handle lock = platform::openMutex(u"quintorsvc-{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}");
      if (lock != nullptr) platform::closeHandle(lock);
      return lock == nullptr;
    }));
  }

  platform::ProcessInformation console_;
  platform::UniqueFd consoleOutput_;
  std::string consoleText_;
};

TEST_F(ServiceHostTest, StopAndStartThroughTheServiceControlManager) {
  const ProgramResult stopped = quintorsvc({"-stop"});
  EXPECT_EQ(stopped.output, "Service stopped successfully.\n");
  EXPECT_EQ(stopped.exitCode, 0);
  EXPECT_EQ(serviceStatus().currentState, platform::SERVICE_STOPPED);
  EXPECT_EQ(serviceStatus().win32ExitCode, 0u);
  EXPECT_TRUE(eventually([&] { return !serverRegistered(); }));
  EXPECT_TRUE(hasEvent(u"quintorsvc terminating.\r\n"));

  const ProgramResult started = quintorsvc({"-start"});
  EXPECT_EQ(started.output, "Service started successfully.\n");
  EXPECT_EQ(started.exitCode, 0);
  EXPECT_TRUE(waitForServer());
  EXPECT_TRUE(hasEvent(u"quintorsvc started\r\nExePath: " + platform::toWide(QUINTORSVC) +
                       u"\r\nVersion 1.35.2\r\nInterface Version 2.0\r\n"));
}

TEST_F(ServiceHostTest, AStopThatTakesLongerThanFiveSecondsGives1460) {
  // The worker is kept in a device request for 8 s: the stop waits for it.
  ASSERT_EQ(usbaudioSim({"delay", "GET_STREAMING_STATUS", "8000", "1"}).exitCode, 0);
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_STREAMING_WANTED), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto begin = std::chrono::steady_clock::now();
  const ProgramResult stopped = quintorsvc({"-stop"});
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_EQ(stopped.output, "Error stopping service.\n");
  EXPECT_EQ(stopped.exitCode, 1460 % 256);
  EXPECT_TRUE(contains(stopped.errors, "error 1460")) << stopped.errors;
  EXPECT_TRUE(eventually([] { return serviceStatus().currentState == platform::SERVICE_STOPPED; }))
      << "it stops once the request is answered";
}

TEST_F(ServiceHostTest, InstallOnARunningServiceStopsItAndInstallsItAgain) {
  const ProgramResult installed = quintorsvc({"-install"});
  EXPECT_EQ(installed.output, "Service installed successfully.\n");
  EXPECT_EQ(installed.exitCode, 0) << installed.errors;
  EXPECT_EQ(serviceStatus().currentState, platform::SERVICE_STOPPED);
  EXPECT_EQ(quintorsvc({"-start"}).exitCode, 0);
  EXPECT_TRUE(waitForServer());
}

TEST_F(ServiceHostTest, ConsoleAndServiceExcludeEachOther) {
  startConsole();
  EXPECT_EQ(waitForConsole(), 0);
  EXPECT_EQ(consoleText(), "Cannot start, another instance is already running.\n");

  stopService();
  startConsole();
  ASSERT_TRUE(waitForServer()) << consoleText();
  EXPECT_EQ(quintorsvc({"-start"}).exitCode, 0) << "the start itself succeeds";
  EXPECT_TRUE(eventually([] { return serviceStatus().currentState == platform::SERVICE_STOPPED; }));
  EXPECT_EQ(serviceStatus().win32ExitCode, platform::ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(hasEvent(u"Unable to start because another instance is already running.\r\n"));

  // In console mode the hidden window's arrivals reconnect the server.
  const ORVANE_DEVICE_ID device = firstDevice();
  ASSERT_EQ(control.unplug(device), 0u);
  EXPECT_TRUE(eventually([&] { return !serverRegistered(); }));
  const uint32_t index = 0;
  ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_PLUG_CONFIGURED, &index, sizeof index), 0u);
  EXPECT_TRUE(waitForServer()) << state();
  EXPECT_EQ(setRate(96000), 0u);

  ::kill(static_cast<pid_t>(console_.processId), SIGINT);  // Ctrl+C
  EXPECT_EQ(waitForConsole(), 0);
  EXPECT_TRUE(eventually([&] { return !serverRegistered(); }));
}

TEST_F(ServiceHostTest, TheConsoleDoesNotHandleClosingOrShutdown) {
  stopService();
  startConsole();
  ASSERT_TRUE(waitForServer()) << consoleText();
  ::kill(static_cast<pid_t>(console_.processId), SIGHUP);  // the console window closes
  EXPECT_EQ(waitForConsole(), 128 + SIGHUP);
}

}  // namespace
