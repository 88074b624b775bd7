#include "platform/timers.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/apc.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/module_lifetime.h"
#include "platform/events.h"

namespace platform {

namespace {

class TimerObject;

// One thread per process watches every armed timer descriptor and turns an
// expiry into the timer's signalled state and, when a routine is set, into a
// call queued to the arming thread, as the original system's kernel does.
class TimerService {
 public:
  // The process's service, started on first use; null (last error set) when
  // its thread or descriptor cannot be created, and tried again next time.
  static TimerService* instance();

  bool add(uint64_t id, int fd, const std::weak_ptr<TimerObject>& timer);
  void remove(uint64_t id, int fd);

 private:
  explicit TimerService(UniqueFd epoll);
  void run();

  UniqueFd epoll_;
  std::mutex mutex_;
  std::unordered_map<uint64_t, std::weak_ptr<TimerObject>> timers_;
};

class TimerObject final : public KernelObject, public std::enable_shared_from_this<TimerObject> {
 public:
  TimerObject(UniqueFd timerFd, std::shared_ptr<EventObject> signal)
      : timerFd_(std::move(timerFd)), signal_(std::move(signal)), id_(nextId_++) {}

  ~TimerObject() override {
    if (!registered_) return;
    if (TimerService* service = TimerService::instance()) service->remove(id_, timerFd_.get());
  }

  int readinessFd() const override { return signal_->fd(); }
  bool tryAcquire() override { return signal_->tryAcquire(); }

  bool arm(int64_t dueTime, int32_t periodMs, TimerCompletionRoutine routine, void* argument) {
    if (!registered_) {
      TimerService* service = TimerService::instance();
      if (service == nullptr || !service->add(id_, timerFd_.get(), weak_from_this())) return false;
      registered_ = true;
    }
    {
      std::lock_guard lock(mutex_);
      ++generation_;
      routine_ = routine;
      argument_ = argument;
      target_ = routine != nullptr ? std::weak_ptr<ApcQueue>(currentApcQueue()) : std::weak_ptr<ApcQueue>();
      callQueued_ = false;
    }
    signal_->reset();
    // An absolute due time is a wall-clock time; it is turned into the
    // interval from now.
    int64_t relative100ns = dueTime < 0 ? -dueTime : dueTime - static_cast<int64_t>(systemTimeAsFileTime());
    itimerspec schedule{};
    schedule.it_value = fromHundredNs(static_cast<uint64_t>(relative100ns > 0 ? relative100ns : 0));
    if (schedule.it_value.tv_sec == 0 && schedule.it_value.tv_nsec == 0) schedule.it_value.tv_nsec = 1;  // 0 would disarm
    schedule.it_interval = fromHundredNs(static_cast<uint64_t>(periodMs) * 10000);
    return setTime(schedule);
  }

  bool cancel() {
    {
      std::lock_guard lock(mutex_);
      ++generation_;
      callQueued_ = false;
    }
    itimerspec off{};
    return setTime(off);
  }

  // Called on the timer service thread when the descriptor is readable.
  void onExpired() {
    uint64_t expirations = 0;
    if (::read(timerFd_.get(), &expirations, sizeof expirations) != sizeof expirations) return;
    signal_->set();
    std::lock_guard lock(mutex_);
    if (routine_ == nullptr || callQueued_) return;
    const uint64_t generation = generation_;
    std::weak_ptr<TimerObject> self = weak_from_this();
    callQueued_ = queueApc(target_, [self, generation] {
      if (auto timer = self.lock()) timer->runRoutine(generation);
    });
  }

 private:
  static timespec fromHundredNs(uint64_t units) {
    return timespec{static_cast<time_t>(units / 10000000), static_cast<long>((units % 10000000) * 100)};
  }

  bool setTime(const itimerspec& schedule) {
    if (::timerfd_settime(timerFd_.get(), 0, &schedule, nullptr) != 0) {
      setLastErrorFromErrno(errno);
      return false;
    }
    return true;
  }

  void runRoutine(uint64_t generation) {
    TimerCompletionRoutine routine;
    void* argument;
    {
      std::lock_guard lock(mutex_);
      if (generation != generation_) return;  // cancelled or re-armed since
      callQueued_ = false;
      routine = routine_;
      argument = argument_;
    }
    const uint64_t now = systemTimeAsFileTime();
    routine(argument, static_cast<uint32_t>(now), static_cast<uint32_t>(now >> 32));
  }

  static inline std::atomic<uint64_t> nextId_{1};

  UniqueFd timerFd_;
  std::shared_ptr<EventObject> signal_;
  const uint64_t id_;
  bool registered_ = false;

  std::mutex mutex_;
  uint64_t generation_ = 0;
  TimerCompletionRoutine routine_ = nullptr;
  void* argument_ = nullptr;
  std::weak_ptr<ApcQueue> target_;
  bool callQueued_ = false;
};

TimerService* g_service = nullptr;
std::mutex g_serviceMutex;

TimerService* TimerService::instance() {
  std::lock_guard lock(g_serviceMutex);
  if (g_service == nullptr) {
    UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll.valid()) {
      setLastErrorFromErrno(errno);
      return nullptr;
    }
    try {
      g_service = new TimerService(std::move(epoll));  // runs until the process ends
    } catch (const std::system_error& e) {
      setLastErrorFromErrno(e.code().value() != 0 ? e.code().value() : EAGAIN);
      return nullptr;
    }
    // A forked child has no service thread; it starts its own on first use.
    static const bool atForkRegistered = [] {
      pthread_atfork(nullptr, nullptr, [] { g_service = nullptr; });
      return true;
    }();
    (void)atForkRegistered;
  }
  return g_service;
}

TimerService::TimerService(UniqueFd epoll) : epoll_(std::move(epoll)) {
  keepModuleLoaded();
  std::thread([this] { run(); }).detach();
}

bool TimerService::add(uint64_t id, int fd, const std::weak_ptr<TimerObject>& timer) {
  {
    std::lock_guard lock(mutex_);
    timers_[id] = timer;
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = id;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
    setLastErrorFromErrno(errno);
    std::lock_guard lock(mutex_);
    timers_.erase(id);
    return false;
  }
  return true;
}

void TimerService::remove(uint64_t id, int fd) {
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

void TimerService::run() {
  epoll_event events[16];
  for (;;) {
    const int n = ::epoll_wait(epoll_.get(), events, 16, -1);
    for (int i = 0; i < n; ++i) {
      std::shared_ptr<TimerObject> timer;
      {
        std::lock_guard lock(mutex_);
        auto it = timers_.find(events[i].data.u64);
        if (it != timers_.end()) timer = it->second.lock();
      }
      if (timer) timer->onExpired();
    }
  }
}

std::shared_ptr<TimerObject> timerFromHandle(Handle handle) {
  auto timer = lookupHandleAs<TimerObject>(handle);
  if (!timer) setLastError(ERROR_INVALID_HANDLE);
  return timer;
}

}  // namespace

Handle createWaitableTimer(bool manualReset, const char16_t* name) {
  if (name != nullptr && *name != u'\0') {
    setLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  UniqueFd fd(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
  if (!fd.valid()) {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  auto signal = EventObject::create(manualReset, false);
  if (!signal) return nullptr;
  setLastError(ERROR_SUCCESS);
  return insertHandle(std::make_shared<TimerObject>(std::move(fd), std::move(signal)));
}

bool setWaitableTimer(Handle timer, int64_t dueTime, int32_t periodMs, TimerCompletionRoutine routine, void* argument,
                      bool resume) {
  auto object = timerFromHandle(timer);
  if (!object) return false;
  if (periodMs < 0) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!object->arm(dueTime, periodMs, routine, argument)) return false;
  setLastError(resume ? ERROR_NOT_SUPPORTED : ERROR_SUCCESS);
  return true;
}

bool cancelWaitableTimer(Handle timer) {
  auto object = timerFromHandle(timer);
  return object && object->cancel();
}

}  // namespace platform
