// Device interface arrival and removal reach the recipients registered for
// that interface class, in this process and from a host in another process.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/device_notifications.h"
#include "platform/errors.h"
#include "platform/waits.h"
#include "tests/kernel/kernel_recorder.h"
#include "tests/kernel/kernel_test_support.h"

using namespace platform;
using kernel_testing::DeviceFile;
using kernel_testing::HostedDriverTest;
using kernel_testing::RecordingRecipient;

namespace {

const Guid kClassA = {0xA0A0A0A0, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
const Guid kClassB = {0xB0B0B0B0, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

DeviceNotifyHandle registerFor(RecordingRecipient* recipient, const Guid& interfaceClass, uint32_t flags) {
  const auto filter = makeDeviceInterfaceRecord(interfaceClass, u"");
  return registerDeviceNotification(recipient, filter.data(), flags);
}

void addInterface(DeviceFile& control, const Guid& interfaceClass, const std::u16string& link) {
  test_driver::InterfaceInput input{interfaceClass, {}};
  link.copy(input.linkName, 63);
  ASSERT_EQ(control.send(test_driver::kAddInterface, input), 0u);
}

void removeInterface(DeviceFile& control, const std::u16string& link) {
  ASSERT_EQ(control.control(test_driver::kRemoveInterface, link.data(), static_cast<uint32_t>(link.size() * 2),
                            nullptr, 0),
            0u);
}

}  // namespace

TEST(DeviceInterfaceRecord, HasTheWindowsLayout) {
  const auto record = makeDeviceInterfaceRecord(kClassA, u"{AB}");
  ASSERT_EQ(record.size(), 28u + 5 * 2);
  uint32_t words[3];
  std::memcpy(words, record.data(), sizeof words);
  EXPECT_EQ(words[0], record.size());
  EXPECT_EQ(words[1], 5u);
  EXPECT_EQ(words[2], 0u);
  EXPECT_EQ(std::memcmp(record.data() + 12, &kClassA, 16), 0);
  EXPECT_EQ(record[28], '{');
  EXPECT_EQ(record[30], 'A');
  EXPECT_EQ(record[36], 0);
  EXPECT_EQ(record[37], 0);
  EXPECT_EQ(makeDeviceInterfaceRecord(kClassA, u"").size(), 32u);  // the filter's size
}

TEST(DeviceNotificationRegistration, RejectsBadArguments) {
  testing_support::TestSystemRoot root;
  RecordingRecipient recipient;
  const auto filter = makeDeviceInterfaceRecord(kClassA, u"");
  auto wrongType = filter;
  wrongType[4] = 3;
  EXPECT_EQ(registerDeviceNotification(nullptr, filter.data(), DEVICE_NOTIFY_SERVICE_HANDLE), nullptr);
  EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(registerDeviceNotification(&recipient, filter.data(), 2), nullptr);
  EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(registerDeviceNotification(&recipient, nullptr, DEVICE_NOTIFY_SERVICE_HANDLE), nullptr);
  EXPECT_EQ(lastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(registerDeviceNotification(&recipient, wrongType.data(), DEVICE_NOTIFY_SERVICE_HANDLE), nullptr);
  EXPECT_EQ(lastError(), ERROR_INVALID_DATA);
  int notARegistration = 0;
  EXPECT_FALSE(unregisterDeviceNotification(&notARegistration));
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HostedDriverTest, ArrivalAndRemovalReachOnlyRecipientsOfThatClass) {
  RecordingRecipient serviceA;
  RecordingRecipient serviceB;
  RecordingRecipient everything;
  DeviceNotifyHandle a = registerFor(&serviceA, kClassA, DEVICE_NOTIFY_SERVICE_HANDLE);
  DeviceNotifyHandle b = registerFor(&serviceB, kClassB, DEVICE_NOTIFY_SERVICE_HANDLE);
  DeviceNotifyHandle all =
      registerFor(&everything, kClassB, DEVICE_NOTIFY_SERVICE_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(all, nullptr);

  DeviceFile control;
  addInterface(control, kClassA, u"WnDeviceA1");
  const auto arrived = serviceA.waitFor(1);
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(arrived[0].eventType, DBT_DEVICEARRIVAL);
  EXPECT_EQ(arrived[0].deviceType, DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_EQ(arrived[0].interfaceClass, kClassA);
  EXPECT_EQ(arrived[0].name, u"WnDeviceA1");
  EXPECT_EQ(arrived[0].size, 28u + 11 * 2);
  DeviceFile opened(u"WnDeviceA1");  // openable by the time the arrival is seen
  EXPECT_TRUE(opened.isOpen());
  opened.close();

  removeInterface(control, u"WnDeviceA1");
  const auto both = serviceA.waitFor(2);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[1].eventType, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(both[1].interfaceClass, kClassA);
  EXPECT_EQ(both[1].name, u"WnDeviceA1");

  addInterface(control, kClassB, u"WnDeviceB1");
  ASSERT_EQ(serviceB.waitFor(1).size(), 1u);
  EXPECT_EQ(everything.waitFor(3).size(), 3u);
  EXPECT_EQ(serviceA.received().size(), 2u);
  EXPECT_EQ(serviceB.received().size(), 1u);

  // Unregistered recipients hear nothing more.
  EXPECT_TRUE(unregisterDeviceNotification(b));
  removeInterface(control, u"WnDeviceB1");
  EXPECT_EQ(everything.waitFor(4).size(), 4u);
  EXPECT_EQ(serviceB.received().size(), 1u);
  EXPECT_TRUE(unregisterDeviceNotification(a));
  EXPECT_TRUE(unregisterDeviceNotification(all));
}

TEST_F(HostedDriverTest, WindowRecipientsAreCalledOnTheirOwnThreadDuringAlertableWaits) {
  RecordingRecipient window;
  std::atomic<bool> registered{false};
  std::atomic<bool> done{false};
  std::atomic<uint32_t> windowThread{0};
  std::atomic<int> completions{0};
  std::thread owner([&] {
    windowThread = currentThreadId();
    DeviceNotifyHandle handle = registerFor(&window, kClassA, DEVICE_NOTIFY_WINDOW_HANDLE);
    registered = handle != nullptr;
    while (!done) {
      if (sleepEx(20, true) == WAIT_IO_COMPLETION) ++completions;
    }
    unregisterDeviceNotification(handle);
  });
  while (!registered) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  DeviceFile control;
  addInterface(control, kClassA, u"WnWindowDevice");
  removeInterface(control, u"WnWindowDevice");
  const auto received = window.waitFor(2);
  done = true;
  owner.join();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].eventType, DBT_DEVICEARRIVAL);
  EXPECT_EQ(received[1].eventType, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(received[0].threadId, windowThread.load());
  EXPECT_EQ(received[1].threadId, windowThread.load());
  EXPECT_GE(completions.load(), 1);
}

TEST(DeviceNotificationsAcrossProcesses, HostInAnotherProcessIsSeenArrivingAndLeaving) {
  testing_support::TestSystemRoot root;
  RecordingRecipient recipient;
  DeviceNotifyHandle handle = registerFor(&recipient, test_driver::kInterfaceClass, DEVICE_NOTIFY_SERVICE_HANDLE);
  ASSERT_NE(handle, nullptr);
  pid_t pid = 0;
  {
    const std::string command = std::string(WN_DEVHOST) + " --daemon " + WN_TEST_DRIVER;
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr) {
      if (const char* at = std::strstr(line, "pid ")) pid = static_cast<pid_t>(std::atoi(at + 4));
    }
    ASSERT_EQ(::pclose(out), 0);
  }
  ASSERT_GT(pid, 0);
  const auto arrived = recipient.waitFor(1);
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(arrived[0].eventType, DBT_DEVICEARRIVAL);
  EXPECT_EQ(arrived[0].name, test_driver::kLinkName);

  ::kill(pid, SIGTERM);
  const auto both = recipient.waitFor(2);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[1].eventType, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(both[1].interfaceClass, test_driver::kInterfaceClass);
  EXPECT_TRUE(unregisterDeviceNotification(handle));
}

TEST_F(HostedDriverTest, RecipientMayUnregisterItselfDuringItsCall) {
  struct SelfRemoving : RecordingRecipient {
    std::atomic<DeviceNotifyHandle> handle = nullptr;  // written once the watcher thread runs
    // Records only after unregistering: the test may end once the call is
    // recorded, so nothing of this object may be touched after that.
    void onDeviceChange(uint32_t eventType, const uint8_t* record) override {
      EXPECT_TRUE(unregisterDeviceNotification(handle.load()));
      RecordingRecipient::onDeviceChange(eventType, record);
    }
  } recipient;
  recipient.handle = registerFor(&recipient, kClassA, DEVICE_NOTIFY_SERVICE_HANDLE);
  DeviceFile control;
  addInterface(control, kClassA, u"WnSelfRemoving");
  removeInterface(control, u"WnSelfRemoving");
  EXPECT_EQ(recipient.waitFor(1).size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(recipient.received().size(), 1u);
}
