#include "platform/waits.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <vector>

#include "platform/apc.h"
#include "platform/errors.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Objects without a readiness descriptor (mutexes held in another process)
// are retried at this interval.
constexpr auto kRetryInterval = std::chrono::milliseconds(2);

// Satisfies the wait with the lowest signalled index, if any.
bool acquireLowest(const std::vector<std::shared_ptr<KernelObject>>& objects, uint32_t& result) {
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->tryAcquire()) {
      const uint32_t base = objects[i]->wasAbandoned() ? WAIT_ABANDONED_0 : WAIT_OBJECT_0;
      result = base + static_cast<uint32_t>(i);
      return true;
    }
  }
  return false;
}

timespec toTimespec(Clock::duration d) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

uint32_t waitOn(std::vector<std::shared_ptr<KernelObject>> objects, uint32_t milliseconds, bool alertable) {
  std::shared_ptr<ApcQueue> apcs = alertable ? currentApcQueue() : nullptr;
  if (apcs && apcs->pending()) {
    apcs->runAll();
    return WAIT_IO_COMPLETION;
  }

  const bool forever = milliseconds == INFINITE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);

  std::vector<pollfd> fds;
  bool needsRetry = false;
  for (const auto& object : objects) {
    const int fd = object->readinessFd();
    if (fd >= 0) {
      fds.push_back(pollfd{fd, POLLIN, 0});
    } else {
      needsRetry = true;
    }
  }
  if (apcs) fds.push_back(pollfd{apcs->wakeFd(), POLLIN, 0});

  for (;;) {
    uint32_t result;
    if (acquireLowest(objects, result)) return result;

    Clock::duration remaining = Clock::duration::max();
    if (!forever) {
      remaining = deadline - Clock::now();
      if (remaining <= Clock::duration::zero()) return WAIT_TIMEOUT;
    }
    if (needsRetry && remaining > kRetryInterval) remaining = kRetryInterval;

    const bool bounded = remaining != Clock::duration::max();
    const timespec ts = bounded ? toTimespec(remaining) : timespec{};
    const int ready = ::ppoll(fds.data(), fds.size(), bounded ? &ts : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) {
      setLastErrorFromErrno(errno);
      return WAIT_FAILED;
    }
    if (apcs && apcs->pending()) {
      // A handle signalled at the same moment still wins: it is consumed by
      // the next wait, not lost.
      apcs->runAll();
      return WAIT_IO_COMPLETION;
    }
  }
}

}  // namespace

uint32_t waitForMultiple(uint32_t count, const Handle* handles, uint32_t milliseconds, bool alertable) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    setLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  objects.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    auto object = lookupHandle(handles[i]);
    if (!object) return WAIT_FAILED;  // last error 6 set by the lookup
    objects.push_back(std::move(object));
  }
  return waitOn(std::move(objects), milliseconds, alertable);
}

uint32_t waitForSingle(Handle handle, uint32_t milliseconds, bool alertable) {
  return waitForMultiple(1, &handle, milliseconds, alertable);
}

uint32_t sleepEx(uint32_t milliseconds, bool alertable) {
  return waitOn({}, milliseconds, alertable) == WAIT_IO_COMPLETION ? WAIT_IO_COMPLETION : 0;
}

void sleepMs(uint32_t milliseconds) { sleepEx(milliseconds, false); }

}  // namespace platform
