// The library across processes: the device host with the simulated kernel
// driver in one child process, the server in another, the client here.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device-access/orvane_client.h"
#include "device-access/orvane_status.h"
#include "platform/waits.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/child_process.h"

namespace {

using sim_testing::DeviceSpec;
using sim_testing::kPanelLink;

// Retries until the server in the other process has registered.
uint32_t setSampleRateOnceServed(OrvaneClient& client, uint32_t rate) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  uint32_t status = ORVANE_STATUS_NO_SERVER;
  while (status == ORVANE_STATUS_NO_SERVER && std::chrono::steady_clock::now() < deadline) {
    status = client.setSampleRate(rate, 5000);
    if (status == ORVANE_STATUS_NO_SERVER) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

TEST(OrvaneCrossProcess, ClientHostAndServerInThreeProcesses) {
  testing_support::TestSystemRoot root;
  sim_testing::configureSimulatedDriver({DeviceSpec{"QT0001", "Quintor One"}, DeviceSpec{"QT0002", "Quintor Two"}});
  testing_support::ChildProcess host([] { return sim_testing::runSimulatedHost(); });
  testing_support::ChildProcess server([] { return sim_testing::TestServer::runForever(); });
  ASSERT_TRUE(sim_testing::waitForLink(kPanelLink));

  OrvaneClient client;
  ASSERT_EQ(client.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  EXPECT_EQ(setSampleRateOnceServed(client, 48000), 0u);
  EXPECT_EQ(client.setDsdMode(false), 0u);

  // The device list and its attached device connections.
  bool changed = false;
  ASSERT_EQ(client.updateDeviceList(changed), 0u);
  EXPECT_TRUE(changed);
  ASSERT_EQ(client.deviceCount(), 2u);
  EXPECT_EQ(std::u16string(client.deviceAt(1)->info().serialNumber), u"QT0002");

  // The host's process signals our notification event.
  sim_testing::SimControl control;
  ASSERT_EQ(control.open(), 0u);
  ASSERT_EQ(client.drainNotifications(), 0u);
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED), 0u);
  EXPECT_EQ(platform::waitForSingle(client.notificationEvent(), 5000), platform::WAIT_OBJECT_0);
  ORVANE_MESSAGE notification;
  ASSERT_EQ(client.readNextNotification(notification), 0u);
  EXPECT_EQ(notification.code, ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED);

  // The server's process ends: its registration ends with it.
  server.kill();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  uint32_t status = 0;
  while ((status = client.setSampleRate(44100, 5000)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(status, ORVANE_STATUS_NO_SERVER);

  // The host's process ends: requests fail, nothing hangs.
  host.kill();
  ORVANE_DRIVER_INFO info;
  EXPECT_NE(client.ioctlGetDriverInfo(info), 0u);
  EXPECT_NE(client.setSampleRate(44100, 1000), 0u);
}

}  // namespace
