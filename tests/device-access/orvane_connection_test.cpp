// OrvaneApiContext and OrvaneDriver against the simulated USB audio kernel
// driver in a device host of this process.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device-access/orvane_api_context.h"
#include "device-access/orvane_device.h"
#include "device-access/orvane_driver.h"
#include "device-access/orvane_status.h"
#include "platform/errors.h"
#include "platform/waits.h"
#include "tests/support/simulated_driver.h"

namespace {

using sim_testing::DeviceSpec;
using sim_testing::kPanelLink;
using sim_testing::SimulatedDriverTest;

// --- OrvaneApiContext ---------------------------------------------------------------

using OrvaneApiContextSim = SimulatedDriverTest;

TEST_F(OrvaneApiContextSim, OpensAndReadsTheDriverInformation) {
  OrvaneApiContext context;
  ASSERT_EQ(context.open(kPanelLink), 0u);
  EXPECT_TRUE(context.isOpen());
  ORVANE_DRIVER_INFO info{};
  uint32_t returned = 0;
  ASSERT_EQ(context.ioControl(ORVANE_IOCTL_GET_DRIVER_INFO, nullptr, 0, &info, sizeof info, &returned), 0u);
  EXPECT_EQ(returned, sizeof info);
  EXPECT_EQ(info.interfaceVersionMajor, 2u);
  context.close();
  EXPECT_FALSE(context.isOpen());
  EXPECT_EQ(context.ioctlGetDriverInfo(info), ORVANE_STATUS_NOT_OPENED);
}

TEST_F(OrvaneApiContextSim, ASecondOpenIsRejectedAndKeepsTheHandle) {
  OrvaneApiContext context;
  ASSERT_EQ(context.open(kPanelLink), 0u);
  EXPECT_EQ(context.open(kPanelLink), ORVANE_STATUS_REJECTED);
  EXPECT_EQ(context.open(u"NoSuchLink"), ORVANE_STATUS_REJECTED);
  EXPECT_TRUE(context.isOpen());
  ORVANE_STREAMING_STATUS status;
  EXPECT_EQ(context.ioctlGetStreamingStatus(status), 0u);
}

TEST_F(OrvaneApiContextSim, AFailedOpenLeavesItClosedAndALaterOpenSucceeds) {
  OrvaneApiContext context;
  EXPECT_EQ(context.open(u"NoSuchLink"), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(context.isOpen());
  EXPECT_EQ(context.open(kPanelLink), 0u);
  EXPECT_TRUE(context.isOpen());
}

TEST_F(OrvaneApiContextSim, AFailingDriverInformationRequestFailsTheOpen) {
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_DRIVER_INFO, ORVANE_STATUS_NO_RESOURCES, 0, 1), 0u);
  OrvaneApiContext context;
  EXPECT_EQ(context.open(kPanelLink), ORVANE_STATUS_NO_RESOURCES);
  EXPECT_FALSE(context.isOpen());
  EXPECT_EQ(context.open(kPanelLink), 0u);
}

TEST_F(OrvaneApiContextSim, ReturnedCountIsStoredAlsoOnFailure) {
  OrvaneApiContext context;
  ASSERT_EQ(context.open(kPanelLink), 0u);
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_STREAMING_STATUS, ORVANE_STATUS_IN_USE, 0, 2), 0u);

  ORVANE_STREAMING_STATUS status;
  uint32_t returned = 0xC0FFEE;
  EXPECT_EQ(context.ioControl(ORVANE_IOCTL_GET_STREAMING_STATUS, nullptr, 0, &status, sizeof status, &returned),
            ORVANE_STATUS_IN_USE);
  EXPECT_EQ(returned, 0u);
  // Without a pointer nothing is written, and the status is the same.
  EXPECT_EQ(context.ioControl(ORVANE_IOCTL_GET_STREAMING_STATUS, nullptr, 0, &status, sizeof status),
            ORVANE_STATUS_IN_USE);
}

TEST_F(OrvaneApiContextSim, ARequestAnsweredLaterCompletesThroughTheRequestEvent) {
  OrvaneApiContext context;
  ASSERT_EQ(context.open(kPanelLink), 0u);
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_STREAMING_STATUS, 0, 50, 1), 0u);
  ORVANE_STREAMING_STATUS status{};
  status.state = 99;
  uint32_t returned = 0;
  EXPECT_EQ(context.ioControl(ORVANE_IOCTL_GET_STREAMING_STATUS, nullptr, 0, &status, sizeof status, &returned), 0u);
  EXPECT_EQ(returned, sizeof status);
  EXPECT_LE(status.state, ORVANE_STREAMING_STATE_UNSUPPORTED);

  // A delayed failure also arrives with its status.
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_SET_SAMPLE_RATE, 0, 30, 1), 0u);
  EXPECT_EQ(context.ioctlSetSampleRate(12345), ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE);
}

TEST_F(OrvaneApiContextSim, ThreadsSharingOneConnectionGetTheirOwnAnswers) {
  OrvaneApiContext context;
  ASSERT_EQ(context.open(kPanelLink), 0u);
  // Streaming status answers come late, so the threads queue up on the lock.
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_STREAMING_STATUS, 0, 2), 0u);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        if (t % 2 == 0) {
          ORVANE_DRIVER_INFO info{};
          uint32_t returned = 0;
          if (context.ioControl(ORVANE_IOCTL_GET_DRIVER_INFO, nullptr, 0, &info, sizeof info, &returned) != 0 ||
              returned != sizeof info || info.interfaceVersionMajor != 2) {
            ++failures;
          }
        } else {
          ORVANE_STREAMING_STATUS status{};
          uint32_t returned = 0;
          if (context.ioControl(ORVANE_IOCTL_GET_STREAMING_STATUS, nullptr, 0, &status, sizeof status, &returned) !=
                  0 ||
              returned != sizeof status) {
            ++failures;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
}

TEST_F(OrvaneApiContextSim, RequestsWithCountsAreLimitedToTheirRecords) {
  OrvaneApiContext context;
  ASSERT_EQ(context.open(kPanelLink), 0u);
  ORVANE_SAMPLE_RATES rates;
  ASSERT_EQ(context.ioctlGetSampleRates(rates), 0u);
  EXPECT_EQ(rates.rateCount, 3u);
  EXPECT_EQ(rates.rates[2], 96000u);
  ORVANE_CHANNEL_LIST inputs;
  ASSERT_EQ(context.ioctlGetInputChannels(inputs), 0u);
  EXPECT_EQ(inputs.count, 2u);
  ORVANE_CHANNEL_INFO info;
  ASSERT_EQ(context.ioctlGetChannelInfo(inputs.channelIds[0], info), 0u);
  EXPECT_EQ(info.direction, ORVANE_CHANNEL_DIRECTION_INPUT);
}

// --- OrvaneDriver: events and notifications --------------------------------------

using OrvaneDriverSim = SimulatedDriverTest;

TEST_F(OrvaneDriverSim, ASecondOpenKeepsTheLinkNameItWasOpenedWith) {
  OrvaneDriver driver;
  ASSERT_EQ(driver.openDriver(kPanelLink, false, false), 0u);
  EXPECT_EQ(driver.openDriver(u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}", false, false), ORVANE_STATUS_REJECTED);
  EXPECT_EQ(std::u16string(driver.linkName()), kPanelLink);
  EXPECT_TRUE(driver.isOpen());
}

TEST_F(OrvaneDriverSim, LinkNameKeepsAtMost99Characters) {
  OrvaneDriver driver;
  const std::u16string longName(150, u'a');
  EXPECT_NE(driver.openDriver(longName.c_str(), false, false), 0u);
  ASSERT_EQ(driver.openDriver(kPanelLink, false, false), 0u);
  EXPECT_EQ(std::u16string(driver.linkName()), kPanelLink);
}

TEST_F(OrvaneDriverSim, EventsFailingToRegisterCloseTheConnectionAndAreReused) {
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_SET_EVENTS, ORVANE_STATUS_NO_RESOURCES, 0, 1), 0u);
  OrvaneDriver driver;
  EXPECT_EQ(driver.openDriver(kPanelLink, true, true), ORVANE_STATUS_NO_RESOURCES);
  EXPECT_FALSE(driver.isOpen());
  const platform::Handle messageEvent = driver.messageEvent();
  const platform::Handle notificationEvent = driver.notificationEvent();
  EXPECT_NE(messageEvent, nullptr);
  EXPECT_NE(notificationEvent, nullptr);

  ASSERT_EQ(driver.openDriver(kPanelLink, true, true), 0u);
  EXPECT_EQ(driver.messageEvent(), messageEvent);
  EXPECT_EQ(driver.notificationEvent(), notificationEvent);

  driver.closeDriver();
  EXPECT_FALSE(driver.isOpen());
  EXPECT_EQ(driver.messageEvent(), nullptr);
  EXPECT_EQ(driver.notificationEvent(), nullptr);
}

TEST_F(OrvaneDriverSim, NotificationsSignalTheEventAndAreReadInOrder) {
  OrvaneDriver driver;
  ASSERT_EQ(driver.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  const ORVANE_DEVICE_ID device{7, 8};
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_MIXER_GAINS_CHANGED, &device, sizeof device), 0u);
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED), 0u);

  EXPECT_EQ(platform::waitForSingle(driver.notificationEvent(), 5000), platform::WAIT_OBJECT_0);
  ORVANE_MESSAGE message;
  ASSERT_EQ(driver.readNextNotification(message), 0u);
  EXPECT_EQ(message.kind, ORVANE_MSG_NOTIFICATION);
  EXPECT_EQ(message.code, ORVANE_MSG_CODE_MIXER_GAINS_CHANGED);
  ORVANE_DEVICE_ID payload{};
  EXPECT_EQ(getPayload(message, payload), 0u);
  EXPECT_EQ(payload, device);
  ASSERT_EQ(driver.readNextNotification(message), 0u);
  EXPECT_EQ(message.code, ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED);
  EXPECT_EQ(driver.readNextNotification(message), ORVANE_STATUS_NO_MORE_ITEMS);
  EXPECT_EQ(message.kind, ORVANE_MSG_NONE) << "a failed read must not look like a notification";
}

TEST_F(OrvaneDriverSim, DrainDiscardsEveryQueuedNotification) {
  OrvaneDriver driver;
  ASSERT_EQ(driver.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(control.notify(ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED), 0u);
  EXPECT_EQ(driver.drainNotifications(), 0u);
  ORVANE_MESSAGE message;
  EXPECT_EQ(driver.readNextNotification(message), ORVANE_STATUS_NO_MORE_ITEMS);
  EXPECT_EQ(driver.drainNotifications(), 0u);

  ASSERT_EQ(control.setFault(ORVANE_IOCTL_READ_NOTIFICATION, ORVANE_STATUS_INTERNAL_ERROR, 0, 1), 0u);
  EXPECT_EQ(driver.drainNotifications(), ORVANE_STATUS_INTERNAL_ERROR);
}

TEST_F(OrvaneDriverSim, OpenConnectionOnAnOpenConnectionDoesNotRegisterAgain) {
  OrvaneDriver driver;
  ASSERT_EQ(driver.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  // A second registration would be refused by the kernel driver.
  EXPECT_EQ(driver.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  EXPECT_EQ(driver.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_SERVER, false), 0u);
  EXPECT_EQ(driver.ioctlRegisterClient(ORVANE_CLIENT_TYPE_PANEL), ORVANE_STATUS_ALREADY_DONE);
}

TEST_F(OrvaneDriverSim, ASecondServerIsRefusedAndLeftClosed) {
  OrvaneDriver first;
  ASSERT_EQ(first.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_SERVER, true), 0u);
  OrvaneDriver second;
  EXPECT_EQ(second.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_SERVER, true), ORVANE_STATUS_ALREADY_DONE);
  EXPECT_FALSE(second.isOpen());
  // Once the first server has gone, another can register.
  first.closeDriver();
  EXPECT_EQ(second.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_SERVER, true), 0u);
}

// --- OrvaneDriver: the device list ----------------------------------------------------

class OrvaneDeviceListTest : public SimulatedDriverTest {
 protected:
  std::vector<DeviceSpec> configuredDevices() const override { return {}; }

  void SetUp() override {
    SimulatedDriverTest::SetUp();
    ASSERT_EQ(driver.openDriver(kPanelLink, false, false), 0u);
  }

  // Updates and returns the changed flag; the update must succeed.
  bool update() {
    bool changed = false;
    EXPECT_EQ(driver.updateDeviceList(changed), 0u);
    return changed;
  }

  std::vector<OrvaneDevice*> connections() const {
    std::vector<OrvaneDevice*> result;
    for (size_t i = 0; i < driver.deviceCount(); ++i) result.push_back(driver.deviceAt(i));
    return result;
  }

  static std::u16string serialOf(const OrvaneDevice* device) { return device->info().serialNumber; }

  const DeviceSpec alpha{"QTALPHA", "Quintor Alpha"};
  const DeviceSpec beta{"QTBETA", "Quintor Beta"};
  OrvaneDriver driver;
};

TEST_F(OrvaneDeviceListTest, NewDevicesGetAttachedConnectionsInListOrder) {
  EXPECT_FALSE(update());
  EXPECT_EQ(driver.deviceCount(), 0u);

  const ORVANE_DEVICE_ID a = control.plug(alpha);
  const ORVANE_DEVICE_ID b = control.plug(beta);
  EXPECT_TRUE(update());
  ASSERT_EQ(driver.deviceCount(), 2u);
  EXPECT_EQ(serialOf(driver.deviceAt(0)), u"QTALPHA");
  EXPECT_EQ(serialOf(driver.deviceAt(1)), u"QTBETA");
  EXPECT_EQ(driver.deviceAt(2), nullptr);
  EXPECT_EQ(driver.findDevice(b.first, b.second), driver.deviceAt(1));
  EXPECT_EQ(driver.findDevice(a.first, a.second), driver.deviceAt(0));
  EXPECT_EQ(driver.findDevice(a.first + 100, a.second), nullptr);
  for (OrvaneDevice* device : connections()) {
    EXPECT_TRUE(device->isOpen());
    EXPECT_EQ(std::u16string(device->linkName()), kPanelLink);
  }
  EXPECT_EQ(std::u16string(driver.deviceAt(0)->info().deviceName), u"Quintor Alpha");

  // Nothing changed: the same connections, no change reported.
  const std::vector<OrvaneDevice*> before = connections();
  EXPECT_FALSE(update());
  EXPECT_EQ(connections(), before);
}

TEST_F(OrvaneDeviceListTest, AReplugBetweenTwoUpdatesKeepsTheConnection) {
  const ORVANE_DEVICE_ID first = control.plug(alpha);
  ASSERT_TRUE(update());
  OrvaneDevice* connection = driver.deviceAt(0);

  ASSERT_EQ(control.unplug(first), 0u);
  const ORVANE_DEVICE_ID second = control.plug(alpha);
  ASSERT_NE(first.first, second.first);

  EXPECT_FALSE(update());
  ASSERT_EQ(driver.deviceCount(), 1u);
  EXPECT_EQ(driver.deviceAt(0), connection);
  EXPECT_TRUE(connection->isOpen());
  EXPECT_EQ(connection->deviceId(), second);
  EXPECT_EQ(driver.findDevice(first.first, first.second), nullptr);
  EXPECT_EQ(driver.findDevice(second.first, second.second), connection);
}

TEST_F(OrvaneDeviceListTest, AReplugSeenInBetweenGivesANewConnection) {
  const ORVANE_DEVICE_ID first = control.plug(alpha);
  ASSERT_TRUE(update());
  ASSERT_EQ(control.unplug(first), 0u);
  EXPECT_TRUE(update());
  EXPECT_EQ(driver.deviceCount(), 0u);
  control.plug(alpha);
  EXPECT_TRUE(update());
  EXPECT_EQ(driver.deviceCount(), 1u);
}

TEST_F(OrvaneDeviceListTest, ReorderingMovesTheConnectionsWithoutAChange) {
  const ORVANE_DEVICE_ID a = control.plug(alpha);
  control.plug(beta);
  ASSERT_TRUE(update());
  OrvaneDevice* alphaConnection = driver.deviceAt(0);
  OrvaneDevice* betaConnection = driver.deviceAt(1);

  // Alpha plugged in again comes after beta now.
  ASSERT_EQ(control.unplug(a), 0u);
  control.plug(alpha);
  EXPECT_FALSE(update());
  EXPECT_EQ(connections(), (std::vector<OrvaneDevice*>{betaConnection, alphaConnection}));
}

TEST_F(OrvaneDeviceListTest, EqualDevicesAreMatchedInListOrder) {
  const ORVANE_DEVICE_ID first = control.plug(alpha);
  const ORVANE_DEVICE_ID second = control.plug(alpha);
  ASSERT_TRUE(update());
  OrvaneDevice* c1 = driver.deviceAt(0);
  OrvaneDevice* c2 = driver.deviceAt(1);
  ASSERT_EQ(c1->deviceId(), first);
  ASSERT_EQ(c2->deviceId(), second);

  // The list now reads [second, third]: the first entry takes the first old
  // connection, the second the next one.
  ASSERT_EQ(control.unplug(first), 0u);
  const ORVANE_DEVICE_ID third = control.plug(alpha);
  EXPECT_FALSE(update());
  EXPECT_EQ(connections(), (std::vector<OrvaneDevice*>{c1, c2}));
  EXPECT_EQ(c1->deviceId(), second);
  EXPECT_EQ(c2->deviceId(), third);

  // A third equal device gets a new connection.
  control.plug(alpha);
  EXPECT_TRUE(update());
  ASSERT_EQ(driver.deviceCount(), 3u);
  EXPECT_EQ(driver.deviceAt(0), c1);
  EXPECT_EQ(driver.deviceAt(1), c2);
}

TEST_F(OrvaneDeviceListTest, DevicesDifferingOnlyInVendorOrProductAreDifferent) {
  control.plug(alpha);
  ASSERT_TRUE(update());
  OrvaneDevice* original = driver.deviceAt(0);
  const ORVANE_DEVICE_ID id = original->deviceId();
  ASSERT_EQ(control.unplug(id), 0u);
  DeviceSpec otherProduct = alpha;
  otherProduct.product = 0x0111;
  control.plug(otherProduct);
  EXPECT_TRUE(update());
  ASSERT_EQ(driver.deviceCount(), 1u);
  EXPECT_EQ(driver.deviceAt(0)->info().productId, 0x0111);
}

TEST_F(OrvaneDeviceListTest, AnEmptyListDestroysEveryConnection) {
  const ORVANE_DEVICE_ID a = control.plug(alpha);
  const ORVANE_DEVICE_ID b = control.plug(beta);
  ASSERT_TRUE(update());
  ASSERT_EQ(control.unplug(a), 0u);
  ASSERT_EQ(control.unplug(b), 0u);
  EXPECT_TRUE(update());
  EXPECT_EQ(driver.deviceCount(), 0u);
  EXPECT_FALSE(update());
}

TEST_F(OrvaneDeviceListTest, AClosedDriverConnectionDestroysEveryConnection) {
  control.plug(alpha);
  ASSERT_TRUE(update());
  driver.closeDriver();
  bool changed = false;
  EXPECT_EQ(driver.updateDeviceList(changed), ORVANE_STATUS_NOT_OPENED);
  EXPECT_TRUE(changed);
  EXPECT_EQ(driver.deviceCount(), 0u);
  EXPECT_EQ(driver.updateDeviceList(changed), ORVANE_STATUS_NOT_OPENED);
  EXPECT_FALSE(changed);
}

TEST_F(OrvaneDeviceListTest, AFailingListRequestDestroysEveryConnection) {
  control.plug(alpha);
  ASSERT_TRUE(update());
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_DEVICE_LIST, ORVANE_STATUS_INTERNAL_ERROR, 0, 1), 0u);
  bool changed = false;
  EXPECT_EQ(driver.updateDeviceList(changed), ORVANE_STATUS_INTERNAL_ERROR);
  EXPECT_TRUE(changed);
  EXPECT_EQ(driver.deviceCount(), 0u);
  EXPECT_TRUE(update());
  EXPECT_EQ(driver.deviceCount(), 1u);
}

TEST_F(OrvaneDeviceListTest, ADeviceThatCannotBeAttachedIsTriedAgainNextTime) {
  control.plug(alpha);
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_ATTACH_DEVICE, ORVANE_STATUS_NO_RESOURCES, 0, 1), 0u);
  EXPECT_FALSE(update());
  EXPECT_EQ(driver.deviceCount(), 0u);
  EXPECT_TRUE(update());
  EXPECT_EQ(driver.deviceCount(), 1u);
}

// A driver whose devices refuse to open for one serial number, and that can
// run out of device objects.
class CustomDevice : public OrvaneDevice {
 public:
  explicit CustomDevice(std::vector<std::u16string>* opened) : opened_(opened) {}
  uint32_t onOpened() override {
    opened_->push_back(info().serialNumber);
    return std::u16string(info().serialNumber) == u"QTBETA" ? ORVANE_STATUS_NOT_POSSIBLE : 0;
  }

 private:
  std::vector<std::u16string>* opened_;
};

class CustomDriver : public OrvaneDriver {
 public:
  std::unique_ptr<OrvaneDevice> createDevice() override {
    if (!canCreate) return nullptr;
    return std::make_unique<CustomDevice>(&opened);
  }
  bool canCreate = true;
  std::vector<std::u16string> opened;
};

TEST_F(OrvaneDeviceListTest, DerivedDriversMakeTheirOwnDevicesAndOnOpenedCanRefuse) {
  CustomDriver custom;
  ASSERT_EQ(custom.openDriver(kPanelLink, false, false), 0u);
  control.plug(alpha);
  control.plug(beta);
  bool changed = false;
  ASSERT_EQ(custom.updateDeviceList(changed), 0u);
  EXPECT_TRUE(changed);
  ASSERT_EQ(custom.deviceCount(), 1u);
  EXPECT_NE(dynamic_cast<CustomDevice*>(custom.deviceAt(0)), nullptr);
  EXPECT_EQ(custom.opened, (std::vector<std::u16string>{u"QTALPHA", u"QTBETA"}));

  // The refused device is tried again; a kept one is not opened again.
  ASSERT_EQ(custom.updateDeviceList(changed), 0u);
  EXPECT_FALSE(changed);
  EXPECT_EQ(custom.opened, (std::vector<std::u16string>{u"QTALPHA", u"QTBETA", u"QTBETA"}));

  // No device object: the entry is left out.
  const ORVANE_DEVICE_ID third = control.plug(DeviceSpec{"QTGAMMA", "Quintor Gamma"});
  custom.canCreate = false;
  ASSERT_EQ(custom.updateDeviceList(changed), 0u);
  EXPECT_EQ(custom.deviceCount(), 1u);
  EXPECT_EQ(custom.findDevice(third.first, third.second), nullptr);
}

}  // namespace
