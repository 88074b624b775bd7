#include "usb-audio-kernel-sim/completion_delayer.h"

#include <algorithm>
#include <system_error>

namespace usbaudio_sim {

void CompletionDelayer::completeLater(std::shared_ptr<platform::kernel::PendingRequest> request,
                                      platform::kernel::NtStatus status, std::vector<uint8_t> output,
                                      uint32_t milliseconds) {
  std::lock_guard lock(mutex_);
  if (stopping_) {
    request->complete(platform::kernel::STATUS_CANCELLED, nullptr, 0);
    return;
  }
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // Without the worker the request cannot wait: it fails now.
      request->complete(platform::kernel::STATUS_INSUFFICIENT_RESOURCES, nullptr, 0);
      return;
    }
  }
  items_.push_back(Item{std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds),
                        std::move(request), status, std::move(output)});
  wake_.notify_all();
}

void CompletionDelayer::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (Item& item : items_) item.request->complete(platform::kernel::STATUS_CANCELLED, nullptr, 0);
  items_.clear();
}

void CompletionDelayer::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (items_.empty()) {
      wake_.wait(lock);
      continue;
    }
    auto next = std::min_element(items_.begin(), items_.end(),
                                 [](const Item& a, const Item& b) { return a.due < b.due; });
    if (std::chrono::steady_clock::now() < next->due) {
      wake_.wait_until(lock, next->due);
      continue;
    }
    Item item = std::move(*next);
    items_.erase(next);
    lock.unlock();
    item.request->complete(item.status, item.output.data(), static_cast<uint32_t>(item.output.size()));
    lock.lock();
  }
}

}  // namespace usbaudio_sim
