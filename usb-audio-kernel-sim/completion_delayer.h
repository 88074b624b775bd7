#pragma once
// Completes pending requests later, for the "answer after a delay" fault.
// One worker thread; whatever is still waiting at stop() is cancelled.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/driver.h"

namespace usbaudio_sim {

class CompletionDelayer {
 public:
  CompletionDelayer() = default;
  ~CompletionDelayer() { stop(); }
  CompletionDelayer(const CompletionDelayer&) = delete;
  CompletionDelayer& operator=(const CompletionDelayer&) = delete;

  void completeLater(std::shared_ptr<platform::kernel::PendingRequest> request, platform::kernel::NtStatus status,
                     std::vector<uint8_t> output, uint32_t milliseconds);
  void stop();

 private:
  struct Item {
    std::chrono::steady_clock::time_point due;
    std::shared_ptr<platform::kernel::PendingRequest> request;
    platform::kernel::NtStatus status;
    std::vector<uint8_t> output;
  };
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Item> items_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace usbaudio_sim
