#pragma once
// A device notification recipient that records what reaches it.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_notifications.h"
#include "platform/threads.h"

namespace kernel_testing {

struct Notification {
  uint32_t eventType;
  uint32_t size;
  uint32_t deviceType;
  platform::Guid interfaceClass;
  std::u16string name;
  uint32_t threadId;
};

class RecordingRecipient : public platform::DeviceNotificationRecipient {
 public:
  void onDeviceChange(uint32_t eventType, const uint8_t* record) override {
    Notification n{};
    n.eventType = eventType;
    std::memcpy(&n.size, record, 4);
    std::memcpy(&n.deviceType, record + 4, 4);
    std::memcpy(&n.interfaceClass, record + 12, 16);
    for (const uint8_t* p = record + platform::kDeviceInterfaceRecordNameOffset;; p += 2) {
      char16_t c;
      std::memcpy(&c, p, 2);
      if (c == 0) break;
      n.name.push_back(c);
    }
    n.threadId = platform::currentThreadId();
    std::lock_guard lock(mutex_);
    received_.push_back(n);
    changed_.notify_all();
  }

  // Waits until `count` notifications have arrived (up to five seconds).
  std::vector<Notification> waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return received_.size() >= count; });
    return received_;
  }

  std::vector<Notification> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notification> received_;
};

}  // namespace kernel_testing
