#include "platform/kernel/caller_event.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace platform::kernel {

namespace {

// The caller's eventfd shares its open file description, and so its
// O_NONBLOCK flag, with the caller. The host sets the flag before every access
// (the caller's own events have it anyway), but a hostile caller can clear it
// again between that and the access and fill the counter, and a blocking
// write would then wait for ever. For that race every access runs under a
// one-shot timer of the calling thread whose signal (installed without
// SA_RESTART) interrupts the access after kCallerEventWaitLimitNanoseconds.
int interruptSignal() { return SIGRTMAX - 3; }

void ignoreInterrupt(int) {}

void installInterruptHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = ignoreInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(interruptSignal(), &action, nullptr);
  });
}

class ThreadTimer {
 public:
  ThreadTimer() {
    installInterruptHandler();
    sigevent notify{};
    notify.sigev_notify = SIGEV_THREAD_ID;
    notify.sigev_signo = interruptSignal();
    notify._sigev_un._tid = ::gettid();
    valid_ = ::timer_create(CLOCK_MONOTONIC, &notify, &timer_) == 0;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, interruptSignal());
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  }
  ~ThreadTimer() {
    if (valid_) ::timer_delete(timer_);
  }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;

  void arm(long nanoseconds) {
    if (!valid_) return;
    itimerspec due{};
    due.it_value.tv_sec = nanoseconds / 1'000'000'000;
    due.it_value.tv_nsec = nanoseconds % 1'000'000'000;
    ::timer_settime(timer_, 0, &due, nullptr);
  }
  void disarm() {
    if (!valid_) return;
    const itimerspec off{};
    ::timer_settime(timer_, 0, &off, nullptr);
  }

 private:
  timer_t timer_{};
  bool valid_ = false;
};

// One 8-byte read or write of the eventfd that cannot block for long.
template <typename Access>
ssize_t accessWithoutBlocking(int fd, Access access) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK) == 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  thread_local ThreadTimer timer;
  timer.arm(kCallerEventWaitLimitNanoseconds);
  const ssize_t result = access();
  const int error = errno;
  timer.disarm();
  errno = error;
  return result;
}

}  // namespace

bool isEventFd(int fd) {
  char target[64] = {};
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 && std::string_view(target, static_cast<size_t>(n)) == "anon_inode:[eventfd]";
}

CallerEvent::CallerEvent(UniqueFd fd, bool manualReset) : fd_(std::move(fd)), manualReset_(manualReset) {}

void CallerEvent::set() {
  const uint64_t one = 1;
  accessWithoutBlocking(fd_.get(), [&] { return ::write(fd_.get(), &one, sizeof one); });
}

void CallerEvent::reset() {
  uint64_t count = 0;
  accessWithoutBlocking(fd_.get(), [&] { return ::read(fd_.get(), &count, sizeof count); });
}

}  // namespace platform::kernel
