#include "platform/apc.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <mutex>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/module_lifetime.h"
#include "platform/threads.h"

namespace platform {

struct ApcQueue::State {
  mutable std::mutex mutex;
  std::deque<std::function<void()>> calls;
};

ApcQueue::ApcQueue() : state_(std::make_unique<State>()), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ApcQueue::~ApcQueue() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void ApcQueue::push(std::function<void()> call) {
  {
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back(std::move(call));
  }
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

int ApcQueue::runAll() {
  uint64_t drained;
  [[maybe_unused]] ssize_t n = ::read(wakeFd_, &drained, sizeof drained);
  int ran = 0;
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(state_->mutex);
      if (state_->calls.empty()) break;
      call = std::move(state_->calls.front());
      state_->calls.pop_front();
    }
    call();
    ++ran;
  }
  return ran;
}

bool ApcQueue::pending() const {
  std::lock_guard lock(state_->mutex);
  return !state_->calls.empty();
}

namespace {

std::mutex g_registryMutex;
std::unordered_map<uint32_t, std::weak_ptr<ApcQueue>>& registry() {
  static auto* map = (keepModuleLoaded(), new std::unordered_map<uint32_t, std::weak_ptr<ApcQueue>>);
  return *map;
}

// Owns the calling thread's queue and withdraws it from the registry when the
// thread ends, so nothing is queued to a thread that can no longer run it.
struct ThreadQueueHolder {
  std::shared_ptr<ApcQueue> queue = std::make_shared<ApcQueue>();
  uint32_t threadId = currentThreadId();
  ThreadQueueHolder() {
    std::lock_guard lock(g_registryMutex);
    registry()[threadId] = queue;
  }
  ~ThreadQueueHolder() {
    std::lock_guard lock(g_registryMutex);
    registry().erase(threadId);
  }
};

}  // namespace

std::shared_ptr<ApcQueue> currentApcQueue() {
  thread_local ThreadQueueHolder holder;
  return holder.queue;
}

bool queueApc(const std::weak_ptr<ApcQueue>& queue, std::function<void()> call) {
  auto target = queue.lock();
  if (!target) return false;
  target->push(std::move(call));
  return true;
}

bool queueApcToThread(uint32_t threadId, std::function<void()> call) {
  std::weak_ptr<ApcQueue> queue;
  {
    std::lock_guard lock(g_registryMutex);
    auto it = registry().find(threadId);
    if (it != registry().end()) queue = it->second;
  }
  if (!queueApc(queue, std::move(call))) {
    setLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

}  // namespace platform
