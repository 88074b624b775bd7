#include "device-access/device_notification_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/errors.h"
#include "platform/device_wire.h"
#include "tests/support/test_system_root.h"

using namespace platform;
namespace wire = platform::wire;

namespace {

const Guid kWatched = {0xBC1AFE28, 0x22BD, 0x4DFC, {0x82, 0x1B, 0x51, 0x30, 0x6F, 0x8D, 0x0D, 0x1D}};
const Guid kOther = {0x94E7B4BC, 0x5599, 0x4B48, {0xB1, 0xA4, 0x9B, 0xA8, 0xA0, 0xE7, 0xF3, 0x91}};

class Counter : public DeviceNotificationRecipient {
 public:
  void onDeviceChange(uint32_t, const uint8_t*) override {
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  int waitFor(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return count_ >= count; });
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Makes an interface of `interfaceClass` appear as a device host publishes it.
void publishInterface(const std::filesystem::path& root, const std::string& name, const Guid& interfaceClass) {
  const auto dir = root / "devices";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / (name + ".tmp")) << "description=x\n";
  const std::u16string link(name.begin(), name.end());
  std::filesystem::rename(dir / (name + ".tmp"), dir / wire::metadataFileName(link, interfaceClass));
}

}  // namespace

TEST(DeviceNotificationList, AddRegistersEachClassAndRemoveAllWithdrawsThem) {
  testing_support::TestSystemRoot root;
  Counter recipient;
  DeviceNotificationList list;
  EXPECT_EQ(list.add(&recipient, kWatched, DEVICE_NOTIFY_SERVICE_HANDLE), 0u);
  EXPECT_EQ(list.add(&recipient, kOther, DEVICE_NOTIFY_SERVICE_HANDLE), 0u);
  publishInterface(root.path(), "first", kWatched);
  publishInterface(root.path(), "second", kOther);
  EXPECT_EQ(recipient.waitFor(2), 2);

  list.removeAll();
  publishInterface(root.path(), "third", kWatched);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(recipient.waitFor(2), 2);
  // The list can be filled again after removeAll.
  EXPECT_EQ(list.add(&recipient, kWatched, DEVICE_NOTIFY_SERVICE_HANDLE), 0u);
  publishInterface(root.path(), "fourth", kWatched);
  EXPECT_EQ(recipient.waitFor(3), 3);
}

TEST(DeviceNotificationList, FailedAddReturnsTheSystemError) {
  testing_support::TestSystemRoot root;
  DeviceNotificationList list;
  EXPECT_EQ(list.add(nullptr, kWatched, DEVICE_NOTIFY_SERVICE_HANDLE), ERROR_INVALID_PARAMETER);
  Counter recipient;
  EXPECT_EQ(list.add(&recipient, kWatched, 7), ERROR_INVALID_PARAMETER);
  list.removeAll();  // nothing registered: nothing to do
}

TEST(DeviceNotificationList, DestructorWithdrawsTheRegistrations) {
  testing_support::TestSystemRoot root;
  Counter recipient;
  {
    DeviceNotificationList list;
    ASSERT_EQ(list.add(&recipient, kWatched, DEVICE_NOTIFY_SERVICE_HANDLE), 0u);
    publishInterface(root.path(), "first", kWatched);
    EXPECT_EQ(recipient.waitFor(1), 1);
  }
  publishInterface(root.path(), "second", kWatched);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(recipient.waitFor(1), 1);
}
