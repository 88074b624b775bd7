// devhost without driver arguments: the machine's device host, loading the
// kernel-driver entries of the service database and showing them (and the
// machine's system services) running while it runs.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "platform/process.h"
#include "platform/services.h"
#include "platform/text.h"
#include "platform/waits.h"
#include "tests/kernel/kernel_test_support.h"
#include "tests/support/eventually.h"
#include "tests/support/root_processes.h"
#include "tests/support/test_system_root.h"

namespace {

using testing_support::eventually;

uint32_t stateOf(const char16_t* name) {
  const platform::ServiceHandle manager = platform::openServiceManager(nullptr, nullptr, platform::SC_MANAGER_CONNECT);
  const platform::ServiceHandle service = platform::openService(manager, name, platform::SERVICE_QUERY_STATUS);
  platform::ServiceStatus status;
  const bool ok = service != nullptr && platform::queryServiceStatus(service, &status);
  platform::closeServiceHandle(service);
  platform::closeServiceHandle(manager);
  return ok ? status.currentState : 0;
}

class DevhostDatabaseTest : public ::testing::Test {
 protected:
  void TearDown() override { testing_support::endProcessesOfRoot(root_.path()); }
  testing_support::TestSystemRoot root_;
};

TEST_F(DevhostDatabaseTest, LoadsTheKernelDriverEntriesAndShowsThemRunning) {
  ASSERT_EQ(platform::registerKernelDriver(u"WnDatabaseDriver", platform::toWide(WN_TEST_DRIVER)), 0u);
  ASSERT_EQ(platform::registerKernelDriver(u"WnDisabledDriver", u"/nonexistent.so", platform::SERVICE_DISABLED), 0u);
  platform::ProcessInformation host;
  ASSERT_EQ(platform::startProcess({WN_DEVHOST}, {}, host), 0u);
  ASSERT_TRUE(eventually([] { return stateOf(u"WnDatabaseDriver") == platform::SERVICE_RUNNING; }));
  EXPECT_TRUE(eventually([] { return stateOf(u"eventlog") == platform::SERVICE_RUNNING; }));
  EXPECT_TRUE(eventually([] { return stateOf(u"PlugPlay") == platform::SERVICE_RUNNING; }));
  EXPECT_EQ(stateOf(u"WnDisabledDriver"), platform::SERVICE_STOPPED) << "a disabled entry is not loaded";

  kernel_testing::DeviceFile file;
  ASSERT_TRUE(file.isOpen()) << file.openError();
  char16_t path[128] = {};
  uint32_t bytes = 0;
  ASSERT_EQ(file.control(test_driver::kRegistryPath, nullptr, 0, path, sizeof path, &bytes), 0u);
  EXPECT_EQ(std::u16string(path, bytes / 2),
            u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\WnDatabaseDriver");

  ASSERT_EQ(::kill(static_cast<pid_t>(host.processId), SIGTERM), 0);
  EXPECT_EQ(platform::waitForSingle(host.process, 10000), platform::WAIT_OBJECT_0);
  platform::closeHandle(host.process);
  EXPECT_TRUE(eventually([] { return stateOf(u"WnDatabaseDriver") == platform::SERVICE_STOPPED; }));
  EXPECT_TRUE(eventually([] { return stateOf(u"PlugPlay") == platform::SERVICE_STOPPED; }));
}

}  // namespace
