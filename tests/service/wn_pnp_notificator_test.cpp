// The console mode's device notifications: a hidden window on a thread of
// its own, registered for interface classes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/device_notifications.h"
#include "platform/device_wire.h"
#include "platform/errors.h"
#include "platform/system_root.h"
#include "platform/threads.h"
#include "service/wn_pnp_notificator.h"
#include "tests/support/test_system_root.h"

namespace {

constexpr platform::Guid kClass = {0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr platform::Guid kOtherClass = {0x0BADF00D, 0x1234, 0x5678, {9, 9, 9, 9, 9, 9, 9, 9}};

class Recorder final : public WnPnPNotificatorCallbackInterface {
 public:
  void onDeviceChange(uint32_t eventType, const uint8_t* header) override {
    std::lock_guard lock(mutex_);
    const auto* name = reinterpret_cast<const char16_t*>(header + platform::kDeviceInterfaceRecordNameOffset);
    events_.push_back({eventType, name, platform::currentThreadId()});
  }
  struct Event {
    uint32_t type;
    std::u16string link;
    uint32_t thread;
  };
  std::vector<Event> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  bool waitFor(size_t count) {
    for (int i = 0; i < 500 && events().size() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return events().size() >= count;
  }

 private:
  std::mutex mutex_;
  std::vector<Event> events_;
};

// An interface appears or goes as the device host shows it: its metadata file.
std::filesystem::path announce(const std::u16string& link, const platform::Guid& interfaceClass) {
  const auto path = platform::systemDirectory(platform::wire::kDevicesDirectory) /
                    platform::wire::metadataFileName(link, interfaceClass);
  std::ofstream(path) << "link=x\n";
  return path;
}

TEST(WnPnPNotificator, ArrivalsAndRemovalsOfItsClassesReachTheCallbackOnItsThread) {
  testing_support::TestSystemRoot root;
  WnPnPNotificator notificator;
  Recorder recorder;
  EXPECT_EQ(notificator.registerInterface(kClass), platform::ERROR_INVALID_DATA) << "not started";
  EXPECT_EQ(notificator.start(nullptr, nullptr), platform::ERROR_INVALID_PARAMETER);
  ASSERT_EQ(notificator.start(&recorder, nullptr), 0u);
  EXPECT_EQ(notificator.start(&recorder, nullptr), platform::ERROR_ALREADY_INITIALIZED);
  ASSERT_EQ(notificator.registerInterface(kClass), 0u);

  const auto other = announce(u"OtherDevice", kOtherClass);
  const auto mine = announce(u"MyDevice", kClass);
  ASSERT_TRUE(recorder.waitFor(1));
  std::filesystem::remove(mine);
  ASSERT_TRUE(recorder.waitFor(2));
  const auto events = recorder.events();
  ASSERT_EQ(events.size(), 2u) << "only its class";
  EXPECT_EQ(events[0].type, platform::DBT_DEVICEARRIVAL);
  EXPECT_EQ(events[0].link, u"MyDevice");
  EXPECT_EQ(events[1].type, platform::DBT_DEVICEREMOVECOMPLETE);
  EXPECT_NE(events[0].thread, platform::currentThreadId()) << "delivered on the window's thread";

  EXPECT_EQ(notificator.stop(platform::INFINITE), 0u);
  announce(u"LateDevice", kClass);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(recorder.events().size(), 2u) << "nothing after stop";
  EXPECT_EQ(notificator.registerInterface(kClass), platform::ERROR_INVALID_DATA);
  ASSERT_EQ(notificator.start(&recorder, nullptr), 0u) << "it starts again";
  EXPECT_EQ(notificator.stop(1000), 0u);
}

}  // namespace
