#include "platform/services.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/guid.h"
#include "platform/device_wire.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/waits.h"
#include "tests/support/child_process.h"
#include "tests/support/root_processes.h"
#include "tests/support/test_system_root.h"

namespace {

using platform::ServiceHandle;
using platform::ServiceStatus;

// Waits up to `seconds` for `condition`.
bool eventually(const std::function<bool()>& condition, int seconds = 10) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recordFile_ = root_.path() / "record.txt";
    manager_ = platform::openServiceManager(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager_, nullptr);
  }

  void TearDown() override {
    for (ServiceHandle handle : opened_) platform::closeServiceHandle(handle);
    platform::closeServiceHandle(manager_);
    testing_support::endProcessesOfRoot(root_.path());
    ::unsetenv("WN_SERVICE_START_TIMEOUT_MS");
    ::unsetenv("WN_SERVICE_CONTROL_TIMEOUT_MS");
  }

  std::u16string toyCommand(const std::string& mode, const std::string& more = "") const {
    return platform::toWide("\"" + std::string(TOY_SERVICE) + "\" --record \"" + recordFile_.string() +
                            "\" --mode " + mode + more);
  }

  ServiceHandle create(const std::u16string& name, const std::u16string& command,
                       const char16_t* dependencies = nullptr, uint32_t startType = platform::SERVICE_DEMAND_START) {
    const ServiceHandle service = platform::createService(
        manager_, name.c_str(), nullptr, platform::SERVICE_ALL_ACCESS, platform::SERVICE_WIN32_OWN_PROCESS, startType,
        platform::SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, dependencies, nullptr, nullptr);
    EXPECT_NE(service, nullptr) << platform::lastError();
    if (service != nullptr) opened_.push_back(service);
    return service;
  }

  ServiceHandle createToy(const std::u16string& name, const std::string& mode, const char16_t* dependencies = nullptr,
                          const std::string& more = "") {
    return create(name, toyCommand(mode, " --name " + platform::toUtf8(name) + more), dependencies);
  }

  static ServiceStatus status(ServiceHandle service) {
    ServiceStatus s;
    EXPECT_TRUE(platform::queryServiceStatus(service, &s)) << platform::lastError();
    return s;
  }

  static bool reaches(ServiceHandle service, uint32_t state, int seconds = 10) {
    return eventually([&] { return status(service).currentState == state; }, seconds);
  }

  std::vector<std::string> recorded() const {
    std::ifstream file(recordFile_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

  bool hasRecorded(const std::string& line) const {
    return eventually([&] {
      for (const std::string& recordedLine : recorded()) {
        if (recordedLine == line) return true;
      }
      return false;
    });
  }

  testing_support::TestSystemRoot root_;
  std::filesystem::path recordFile_;
  ServiceHandle manager_ = nullptr;
  std::vector<ServiceHandle> opened_;
};

TEST_F(ServicesTest, TheDatabaseKeepsWhatCreateServiceWasGiven) {
  const std::u16string command = u"/opt/quintor/quintorsvc -service";
  const ServiceHandle service = platform::createService(
      manager_, u"quintorsvc", u"Quintor Control", platform::SERVICE_ALL_ACCESS, platform::SERVICE_WIN32_OWN_PROCESS,
      platform::SERVICE_AUTO_START, platform::SERVICE_ERROR_NORMAL, command.c_str(), u"PlugPlay", nullptr,
      u"eventlog\0PlugPlay\0", nullptr, nullptr);
  ASSERT_NE(service, nullptr) << platform::lastError();
  const platform::ServiceDescription description{u"Quintor control service"};
  EXPECT_TRUE(platform::changeServiceConfig2(service, platform::SERVICE_CONFIG_DESCRIPTION, &description));

  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::open(platform::RegistryHive::LocalMachine,
                                        u"SYSTEM\\CurrentControlSet\\Services\\quintorsvc", platform::KEY_READ, key),
            0u);
  uint32_t value = 0;
  std::u16string text;
  std::vector<std::u16string> list;
  EXPECT_EQ(key.getDword(u"Type", value), 0u);
  EXPECT_EQ(value, 0x10u);
  EXPECT_EQ(key.getDword(u"Start", value), 0u);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(key.getDword(u"ErrorControl", value), 0u);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(key.getString(u"ImagePath", text), 0u);
  EXPECT_EQ(text, command);
  EXPECT_EQ(key.getString(u"Group", text), 0u);
  EXPECT_EQ(text, u"PlugPlay");
  EXPECT_EQ(key.getMultiString(u"DependOnService", list), 0u);
  EXPECT_EQ(list, (std::vector<std::u16string>{u"eventlog", u"PlugPlay"}));
  EXPECT_EQ(key.getString(u"ObjectName", text), 0u);
  EXPECT_EQ(text, u"LocalSystem");
  EXPECT_EQ(key.getString(u"Description", text), 0u);
  EXPECT_EQ(text, u"Quintor control service");

  platform::ServiceConfig config;
  const ServiceHandle opened = platform::openService(manager_, u"QUINTORSVC", platform::SERVICE_QUERY_CONFIG);
  ASSERT_NE(opened, nullptr) << "names compare without case";
  EXPECT_TRUE(platform::queryServiceConfig(opened, &config));
  EXPECT_EQ(config.displayName, u"Quintor Control");
  EXPECT_EQ(config.dependencies.size(), 2u);
  EXPECT_EQ(config.startType, platform::SERVICE_AUTO_START);
  EXPECT_FALSE(platform::deleteService(opened)) << "no DELETE access";
  EXPECT_EQ(platform::lastError(), platform::ERROR_ACCESS_DENIED);
  platform::closeServiceHandle(opened);

  std::vector<platform::ServiceEntry> entries;
  EXPECT_TRUE(platform::enumServicesStatus(manager_, platform::SERVICE_WIN32, platform::SERVICE_STATE_ALL, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, u"quintorsvc");
  EXPECT_EQ(entries[0].status.currentState, platform::SERVICE_STOPPED);

  EXPECT_TRUE(platform::deleteService(service));
  EXPECT_FALSE(key.getDword(u"Type", value) == 0);
  EXPECT_EQ(platform::openService(manager_, u"quintorsvc", platform::SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_DOES_NOT_EXIST);
  platform::closeServiceHandle(service);
}

TEST_F(ServicesTest, CreateServiceRefusesWhatCannotBeAnEntry) {
  ASSERT_NE(createToy(u"first", "normal"), nullptr);
  struct Case {
    const char* what;
    const char16_t* name;
    const char16_t* displayName;
    uint32_t type;
    uint32_t startType;
    const char16_t* image;
    uint32_t error;
  } cases[] = {
      {"existing name", u"FIRST", nullptr, 0x10, 3, u"/bin/true", platform::ERROR_SERVICE_EXISTS},
      {"display name taken", u"second", u"first", 0x10, 3, u"/bin/true", platform::ERROR_DUPLICATE_SERVICE_NAME},
      {"backslash", u"a\\b", nullptr, 0x10, 3, u"/bin/true", platform::ERROR_INVALID_NAME},
      {"empty name", u"", nullptr, 0x10, 3, u"/bin/true", platform::ERROR_INVALID_NAME},
      {"unknown type", u"x", nullptr, 0x40, 3, u"/bin/true", platform::ERROR_INVALID_PARAMETER},
      {"boot start program", u"x", nullptr, 0x10, 0, u"/bin/true", platform::ERROR_INVALID_PARAMETER},
      {"start type 5", u"x", nullptr, 0x10, 5, u"/bin/true", platform::ERROR_INVALID_PARAMETER},
      {"no image", u"x", nullptr, 0x10, 3, u"", platform::ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::createService(manager_, c.name, c.displayName, platform::SERVICE_ALL_ACCESS, c.type,
                                      c.startType, 1, c.image, nullptr, nullptr, nullptr, nullptr, nullptr),
              nullptr)
        << c.what;
    EXPECT_EQ(platform::lastError(), c.error) << c.what;
  }
  const ServiceHandle readOnly = platform::openServiceManager(nullptr, nullptr, platform::SC_MANAGER_CONNECT);
  EXPECT_EQ(platform::createService(readOnly, u"y", nullptr, 0, 0x10, 3, 1, u"/bin/true", nullptr, nullptr, nullptr,
                                    nullptr, nullptr),
            nullptr);
  EXPECT_EQ(platform::lastError(), platform::ERROR_ACCESS_DENIED);
  platform::closeServiceHandle(readOnly);
  EXPECT_EQ(platform::openServiceManager(u"otherhost", nullptr, platform::SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(platform::openServiceManager(nullptr, u"ServicesFailed", platform::SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(platform::lastError(), platform::ERROR_DATABASE_DOES_NOT_EXIST);
  EXPECT_FALSE(platform::closeServiceHandle(reinterpret_cast<ServiceHandle>(0x10)));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_HANDLE);
}

TEST_F(ServicesTest, StartRunsTheProgramAndStopReachesItsHandler) {
  const ServiceHandle service = createToy(u"toy", "normal", nullptr, " --exit-code 1066");
  const char16_t* arguments[] = {u"one", u"two words"};
  ASSERT_TRUE(platform::startService(service, 2, arguments)) << platform::lastError();
  ASSERT_TRUE(reaches(service, platform::SERVICE_RUNNING));
  EXPECT_TRUE(hasRecorded("main 3 toy one two words")) << "the main function gets the name and the arguments";
  uint32_t processId = 0;
  ServiceStatus s;
  EXPECT_TRUE(platform::queryServiceStatusProcess(service, &s, &processId));
  EXPECT_NE(processId, 0u);
  EXPECT_EQ(s.controlsAccepted, platform::SERVICE_ACCEPT_STOP | platform::SERVICE_ACCEPT_SHUTDOWN);

  EXPECT_FALSE(platform::startService(service, 0, nullptr));
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_ALREADY_RUNNING);
  EXPECT_TRUE(platform::controlService(service, platform::SERVICE_CONTROL_INTERROGATE, &s));
  EXPECT_EQ(s.currentState, platform::SERVICE_RUNNING);
  EXPECT_FALSE(platform::controlService(service, platform::SERVICE_CONTROL_PAUSE, &s));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_SERVICE_CONTROL);
  EXPECT_FALSE(platform::controlService(service, platform::SERVICE_CONTROL_SHUTDOWN, &s))
      << "only the machine sends a shutdown";
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_PARAMETER);

  EXPECT_TRUE(platform::controlService(service, platform::SERVICE_CONTROL_STOP, &s));
  ASSERT_TRUE(reaches(service, platform::SERVICE_STOPPED));
  s = status(service);
  EXPECT_EQ(s.win32ExitCode, 1066u);
  EXPECT_EQ(s.serviceSpecificExitCode, 42u);
  EXPECT_TRUE(hasRecorded("control 4 dispatcher-thread=1"));
  EXPECT_TRUE(hasRecorded("control 1 dispatcher-thread=1"));
  EXPECT_TRUE(hasRecorded("dispatcher-returned"));
  EXPECT_TRUE(eventually([&] { return !std::filesystem::exists("/proc/" + std::to_string(processId)); }));

  EXPECT_FALSE(platform::controlService(service, platform::SERVICE_CONTROL_STOP, &s));
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_NOT_ACTIVE);
  EXPECT_EQ(s.currentState, platform::SERVICE_STOPPED);

  ASSERT_TRUE(platform::startService(service, 0, nullptr)) << "a stopped service starts again";
  EXPECT_TRUE(reaches(service, platform::SERVICE_RUNNING));
  EXPECT_TRUE(platform::sendShutdownControl(service, &s));
  EXPECT_TRUE(reaches(service, platform::SERVICE_STOPPED));
  EXPECT_TRUE(hasRecorded("control 5 dispatcher-thread=1"));
}

TEST_F(ServicesTest, StartFailuresAreReportedAndLeaveTheServiceStopped) {
  ::setenv("WN_SERVICE_START_TIMEOUT_MS", "700", 1);
  struct Case {
    const char* what;
    std::u16string command;
    uint32_t error;
  } cases[] = {
      {"missing program", u"/nonexistent/program -service", platform::ERROR_FILE_NOT_FOUND},
      {"no dispatcher in time", toyCommand("no-dispatcher"), platform::ERROR_SERVICE_REQUEST_TIMEOUT},
      {"ends before connecting", toyCommand("exit-early"), platform::ERROR_PROCESS_ABORTED},
      {"runs another service", toyCommand("normal", " --name other"), platform::ERROR_SERVICE_NOT_IN_EXE},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::u16string name = u"failing" + platform::toWide(std::to_string(index++));
    const ServiceHandle service = create(name, c.command);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::startService(service, 0, nullptr)) << c.what;
    EXPECT_EQ(platform::lastError(), c.error) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(8)) << c.what;
    EXPECT_TRUE(reaches(service, platform::SERVICE_STOPPED)) << c.what;
    EXPECT_EQ(status(service).win32ExitCode, c.error) << c.what;
  }
  EXPECT_TRUE(testing_support::processesOfRoot(root_.path()).empty() ||
              eventually([&] { return testing_support::processesOfRoot(root_.path()).empty(); }))
      << "a program that did not connect is ended";
}

TEST_F(ServicesTest, AServiceThatDiesIsReportedStoppedWithItsExitCode) {
  const ServiceHandle service = createToy(u"crasher", "crash");
  ASSERT_TRUE(platform::startService(service, 0, nullptr));
  ASSERT_TRUE(reaches(service, platform::SERVICE_STOPPED));
  const ServiceStatus s = status(service);
  EXPECT_EQ(s.win32ExitCode, platform::ERROR_PROCESS_ABORTED);
  EXPECT_EQ(s.serviceSpecificExitCode, 3u);

  uint64_t offset = 0;
  std::vector<platform::EventLogRecord> records;
  ASSERT_TRUE(eventually([&] {
    offset = 0;
    platform::readEventLog(u"System", offset, records);
    return records.size() >= 3;
  }));
  EXPECT_EQ(platform::eventMessageText(records[0]), u"The crasher service entered the running state.");
  EXPECT_EQ(platform::eventMessageText(records[1]), u"The crasher service terminated unexpectedly with exit code 3.");
  EXPECT_EQ(records[1].type, platform::EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(platform::eventMessageText(records[2]), u"The crasher service entered the stopped state.");
}

TEST_F(ServicesTest, AKilledServiceIsNoticedAtOnce) {
  const ServiceHandle service = createToy(u"victim", "normal");
  ASSERT_TRUE(platform::startService(service, 0, nullptr));
  ASSERT_TRUE(reaches(service, platform::SERVICE_RUNNING));
  uint32_t processId = 0;
  ServiceStatus s;
  ASSERT_TRUE(platform::queryServiceStatusProcess(service, &s, &processId));
  ::kill(static_cast<pid_t>(processId), SIGKILL);
  ASSERT_TRUE(reaches(service, platform::SERVICE_STOPPED, 2));
  EXPECT_EQ(status(service).win32ExitCode, platform::ERROR_PROCESS_ABORTED);
  EXPECT_EQ(status(service).serviceSpecificExitCode, 128u + SIGKILL);
}

TEST_F(ServicesTest, SigtermIsAShutdownAndAMonitorThatDiedStopsItsService) {
  const ServiceHandle service = createToy(u"graceful", "normal");
  ASSERT_TRUE(platform::startService(service, 0, nullptr));
  ASSERT_TRUE(reaches(service, platform::SERVICE_RUNNING));
  uint32_t processId = 0;
  ServiceStatus s;
  ASSERT_TRUE(platform::queryServiceStatusProcess(service, &s, &processId));
  ::kill(static_cast<pid_t>(processId), SIGTERM);
  ASSERT_TRUE(reaches(service, platform::SERVICE_STOPPED));
  EXPECT_EQ(status(service).win32ExitCode, 0u) << "it stopped as asked, not by dying";
  EXPECT_TRUE(hasRecorded("control 5 dispatcher-thread=1"));

  // The monitor holds the lock; killing every process but the service's
  // leaves the service without its monitor.
  ASSERT_TRUE(platform::startService(service, 0, nullptr));
  ASSERT_TRUE(reaches(service, platform::SERVICE_RUNNING));
  ASSERT_TRUE(platform::queryServiceStatusProcess(service, &s, &processId));
  for (const pid_t pid : testing_support::processesOfRoot(root_.path())) {
    if (static_cast<uint32_t>(pid) != processId) ::kill(pid, SIGKILL);
  }
  ASSERT_TRUE(reaches(service, platform::SERVICE_STOPPED));
  EXPECT_EQ(status(service).win32ExitCode, platform::ERROR_PROCESS_ABORTED);
  EXPECT_TRUE(eventually([&] { return !std::filesystem::exists("/proc/" + std::to_string(processId)); }))
      << "a service whose monitor ended shuts down";
  EXPECT_TRUE(platform::startService(service, 0, nullptr)) << platform::lastError();
  EXPECT_TRUE(reaches(service, platform::SERVICE_RUNNING));
}

TEST_F(ServicesTest, ControlsThatCannotBeDelivered) {
  ::setenv("WN_SERVICE_CONTROL_TIMEOUT_MS", "500", 1);
  const ServiceHandle slow = createToy(u"slow", "slow-handler");
  ASSERT_TRUE(platform::startService(slow, 0, nullptr));
  ASSERT_TRUE(reaches(slow, platform::SERVICE_RUNNING));
  ServiceStatus s;
  EXPECT_FALSE(platform::controlService(slow, platform::SERVICE_CONTROL_STOP, &s));
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_REQUEST_TIMEOUT);
  EXPECT_TRUE(reaches(slow, platform::SERVICE_STOPPED)) << "the handler still ran to its end";

  const ServiceHandle pending = createToy(u"pending", "stop-pending");
  ASSERT_TRUE(platform::startService(pending, 0, nullptr));
  ASSERT_TRUE(reaches(pending, platform::SERVICE_RUNNING));
  EXPECT_TRUE(platform::controlService(pending, platform::SERVICE_CONTROL_STOP, &s));
  ASSERT_TRUE(reaches(pending, platform::SERVICE_STOP_PENDING));
  EXPECT_FALSE(platform::controlService(pending, platform::SERVICE_CONTROL_STOP, &s));
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_CANNOT_ACCEPT_CTRL);

  const ServiceHandle quiet = createToy(u"quiet", "quiet");
  ASSERT_TRUE(platform::startService(quiet, 0, nullptr)) << "started once its main function runs";
  EXPECT_EQ(status(quiet).currentState, platform::SERVICE_START_PENDING);
  EXPECT_FALSE(platform::controlService(quiet, platform::SERVICE_CONTROL_STOP, &s));
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
}

TEST_F(ServicesTest, DependenciesStartFirstAndKeepTheirDependentsRunning) {
  const ServiceHandle base = createToy(u"base", "normal");
  const ServiceHandle top = createToy(u"top", "normal", u"base\0");
  ASSERT_TRUE(platform::startService(top, 0, nullptr)) << platform::lastError();
  EXPECT_TRUE(reaches(base, platform::SERVICE_RUNNING));
  EXPECT_TRUE(reaches(top, platform::SERVICE_RUNNING));
  ServiceStatus s;
  EXPECT_FALSE(platform::controlService(base, platform::SERVICE_CONTROL_STOP, &s));
  EXPECT_EQ(platform::lastError(), platform::ERROR_DEPENDENT_SERVICES_RUNNING);
  EXPECT_TRUE(platform::controlService(top, platform::SERVICE_CONTROL_STOP, &s));
  ASSERT_TRUE(reaches(top, platform::SERVICE_STOPPED));
  EXPECT_TRUE(platform::controlService(base, platform::SERVICE_CONTROL_STOP, &s));

  const ServiceHandle orphan = createToy(u"orphan", "normal", u"missing\0");
  EXPECT_FALSE(platform::startService(orphan, 0, nullptr));
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_DEPENDENCY_DELETED);
  ASSERT_EQ(platform::ensureMachineSystemServices(), 0u);
  const ServiceHandle needsMachine = createToy(u"needsMachine", "normal", u"eventlog\0PlugPlay\0");
  EXPECT_FALSE(platform::startService(needsMachine, 0, nullptr)) << "the machine's services do not run";
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_DEPENDENCY_FAIL);
}

TEST_F(ServicesTest, ARunningServiceIsDeletedWhenItStops) {
  const ServiceHandle service = createToy(u"doomed", "normal");
  ASSERT_TRUE(platform::startService(service, 0, nullptr));
  ASSERT_TRUE(reaches(service, platform::SERVICE_RUNNING));
  EXPECT_TRUE(platform::deleteService(service));
  EXPECT_FALSE(platform::deleteService(service));
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(platform::createService(manager_, u"doomed", nullptr, 0, 0x10, 3, 1, u"/bin/true", nullptr, nullptr,
                                    nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_MARKED_FOR_DELETE);
  ServiceStatus s;
  EXPECT_TRUE(platform::controlService(service, platform::SERVICE_CONTROL_STOP, &s));
  EXPECT_TRUE(eventually([&] {
    return platform::openService(manager_, u"doomed", platform::SERVICE_QUERY_STATUS) == nullptr &&
           platform::lastError() == platform::ERROR_SERVICE_DOES_NOT_EXIST;
  }));
}

TEST_F(ServicesTest, DeviceEventsReachTheHandlerOnTheDispatcherThread) {
  const ServiceHandle service = createToy(u"listener", "normal");
  ASSERT_TRUE(platform::startService(service, 0, nullptr));
  ASSERT_TRUE(reaches(service, platform::SERVICE_RUNNING));
  // An interface of the class the toy registered for appears: its metadata
  // file is what the device host writes.
  const platform::Guid toyClass = {0x1234ABCD, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
  const auto devices = platform::systemDirectory(platform::wire::kDevicesDirectory);
  const auto metadata = devices / platform::wire::metadataFileName(u"ToyDevice", toyClass);
  std::ofstream(metadata) << "link=ToyDevice\n";
  EXPECT_TRUE(hasRecorded("device 32768 ToyDevice"));
  std::filesystem::remove(metadata);
  EXPECT_TRUE(hasRecorded("device 32772 ToyDevice"));
}

TEST_F(ServicesTest, ADispatcherNeedsAProgramStartedByTheManager) {
  const platform::ServiceTableEntry table[] = {{u"x", [](uint32_t, char16_t**) {}}, {nullptr, nullptr}};
  EXPECT_FALSE(platform::startServiceCtrlDispatcher(table));
  EXPECT_EQ(platform::lastError(), platform::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  const platform::ServiceTableEntry empty[] = {{nullptr, nullptr}};
  EXPECT_FALSE(platform::startServiceCtrlDispatcher(empty));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(platform::registerServiceCtrlHandlerEx(u"x", nullptr, nullptr), nullptr);
  EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_DOES_NOT_EXIST);
  const ServiceStatus s;
  EXPECT_FALSE(platform::setServiceStatus(reinterpret_cast<void*>(0x20), &s));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_HANDLE);
}

TEST_F(ServicesTest, KernelDriversAndSystemServicesRunWithTheDeviceHost) {
  ASSERT_EQ(platform::registerKernelDriver(u"usbaudio_sim", u"/drivers/usbaudio_sim.so"), 0u);
  ASSERT_EQ(platform::registerKernelDriver(u"late", u"/drivers/late.so", platform::SERVICE_DEMAND_START), 0u);
  ASSERT_EQ(platform::registerKernelDriver(u"off", u"/drivers/off.so", platform::SERVICE_DISABLED), 0u);
  ASSERT_EQ(platform::registerKernelDriver(u"early", u"/drivers/early.so", platform::SERVICE_BOOT_START), 0u);
  EXPECT_EQ(platform::registerKernelDriver(u"bad", u"", platform::SERVICE_BOOT_START),
            platform::ERROR_INVALID_PARAMETER);
  const auto drivers = platform::kernelDriverEntries();
  ASSERT_EQ(drivers.size(), 3u);
  EXPECT_EQ(drivers[0].name, u"early");
  EXPECT_EQ(drivers[1].name, u"usbaudio_sim");
  EXPECT_EQ(drivers[1].modulePath, u"/drivers/usbaudio_sim.so");
  EXPECT_EQ(drivers[2].name, u"late");

  ASSERT_EQ(platform::ensureMachineSystemServices(), 0u);
  const ServiceHandle driver = platform::openService(manager_, u"usbaudio_sim", platform::SERVICE_ALL_ACCESS);
  const ServiceHandle eventlog = platform::openService(manager_, u"EventLog", platform::SERVICE_ALL_ACCESS);
  ASSERT_NE(driver, nullptr);
  ASSERT_NE(eventlog, nullptr);
  opened_.push_back(driver);
  opened_.push_back(eventlog);
  EXPECT_FALSE(platform::startService(driver, 0, nullptr));
  EXPECT_EQ(platform::lastError(), platform::ERROR_NOT_SUPPORTED);

  {
    // A device host in another process marks what it runs; its death ends them.
    testing_support::ChildProcess host([] {
      platform::RunningMark marks[2];
      if (marks[0].mark(u"usbaudio_sim") != 0 || marks[1].mark(u"eventlog") != 0) return 1;
      for (;;) platform::sleepMs(1000);
    });
    ASSERT_TRUE(reaches(driver, platform::SERVICE_RUNNING));
    ASSERT_TRUE(reaches(eventlog, platform::SERVICE_RUNNING));
    ServiceStatus s;
    EXPECT_FALSE(platform::controlService(driver, platform::SERVICE_CONTROL_STOP, &s));
    EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_FALSE(platform::startService(eventlog, 0, nullptr));
    EXPECT_EQ(platform::lastError(), platform::ERROR_SERVICE_ALREADY_RUNNING);
    platform::RunningMark second;
    EXPECT_EQ(second.mark(u"usbaudio_sim"), platform::ERROR_SERVICE_ALREADY_RUNNING);
    host.kill();
  }
  EXPECT_EQ(status(driver).currentState, platform::SERVICE_STOPPED);
  EXPECT_EQ(status(driver).win32ExitCode, platform::ERROR_PROCESS_ABORTED) << "its host died";

  platform::RunningMark mark;
  ASSERT_EQ(mark.mark(u"usbaudio_sim"), 0u);
  EXPECT_EQ(status(driver).currentState, platform::SERVICE_RUNNING);
  EXPECT_TRUE(platform::deleteService(driver));
  EXPECT_NE(platform::openService(manager_, u"usbaudio_sim", platform::SERVICE_QUERY_STATUS), nullptr)
      << "kept while it runs";
  mark = platform::RunningMark();
  EXPECT_EQ(platform::openService(manager_, u"usbaudio_sim", platform::SERVICE_QUERY_STATUS), nullptr);
}

}  // namespace
