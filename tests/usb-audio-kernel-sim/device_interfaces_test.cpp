// Each plugged device has a device interface of the panel and service class,
// so that a program registered for device interface notifications learns of
// its arrival and removal (the service reconnects on an arrival).

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/device_notifications.h"
#include "platform/guid.h"
#include "platform/text.h"
#include "tests/usb-audio-kernel-sim/sim_test_support.h"
#include "usb-audio-kernel-sim/sim_control.h"

using namespace sim_testing;

namespace {

class Recorder final : public platform::DeviceNotificationRecipient {
 public:
  void onDeviceChange(uint32_t eventType, const uint8_t* record) override {
    std::lock_guard lock(mutex_);
    events_.push_back({eventType, reinterpret_cast<const char16_t*>(record + platform::kDeviceInterfaceRecordNameOffset)});
  }
  bool saw(uint32_t eventType, const std::u16string& link) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard lock(mutex_);
        for (const auto& [type, name] : events_) {
          if (type == eventType && name == link) return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<uint32_t, std::u16string>> events_;
};

class DeviceInterfaces : public SimDriverTest {};

TEST_F(DeviceInterfaces, PluggingAndUnpluggingAreArrivalsAndRemovals) {
  const std::u16string mini = u"USB#VID_2F1A_PID_0104#00000002#{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}";
  platform::Guid panelClass;
  ASSERT_TRUE(platform::parseGuid(std::u16string_view(kPanelLink), &panelClass));
  bool found = false;
  for (const auto& info : host.interfaces()) {
    if (info.linkName == mini) {
      found = true;
      EXPECT_EQ(info.interfaceClass, panelClass);
    }
  }
  EXPECT_TRUE(found) << "a plugged device has its interface";
  SimFile opened(mini.c_str());
  EXPECT_TRUE(opened.isOpen()) << "and it opens like the device link";

  Recorder recorder;
  const std::vector<uint8_t> filter = platform::makeDeviceInterfaceRecord(panelClass, u"");
  const platform::DeviceNotifyHandle registration =
      platform::registerDeviceNotification(&recorder, filter.data(), platform::DEVICE_NOTIFY_SERVICE_HANDLE);
  ASSERT_NE(registration, nullptr);

  const usbaudio_sim::SIM_DEVICE_SELECTOR second{1, 0, {}};
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_UNPLUG, second), 0u);
  EXPECT_TRUE(recorder.saw(platform::DBT_DEVICEREMOVECOMPLETE, mini));
  const uint32_t index = 1;
  ORVANE_DEVICE_ID id{};
  ASSERT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_PLUG_CONFIGURED, &index, sizeof index, &id, sizeof id), 0u);
  EXPECT_TRUE(recorder.saw(platform::DBT_DEVICEARRIVAL,
                           u"USB#VID_2F1A_PID_0104#00000003#{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"))
      << "a replugged device comes back under its new identifier";
  platform::unregisterDeviceNotification(registration);
}

}  // namespace
