#include "platform/console_control.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/module_lifetime.h"

namespace platform {

namespace {

struct SignalEvent {
  int signal;
  uint32_t ctrlType;
};

constexpr SignalEvent kEvents[] = {
    {SIGINT, CTRL_C_EVENT},
    {SIGQUIT, CTRL_BREAK_EVENT},
    {SIGHUP, CTRL_CLOSE_EVENT},
    {SIGTERM, CTRL_SHUTDOWN_EVENT},
};

int g_signalPipe[2] = {-1, -1};  // written by the signal handler, read by the event thread

void onSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  (void)::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

class ConsoleControl {
 public:
  static ConsoleControl& instance() {
    static ConsoleControl* control = new ConsoleControl;  // its thread may outlive static destruction
    return *control;
  }

  bool change(ConsoleCtrlHandler handler, bool add) {
    std::lock_guard lock(mutex_);
    if (!install()) return false;
    if (handler == nullptr) {
      ignoreCtrlC_ = add;
      return true;
    }
    if (add) {
      handlers_.push_back(handler);
      return true;
    }
    const auto found = std::find(handlers_.rbegin(), handlers_.rend(), handler);
    if (found == handlers_.rend()) {
      setLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    handlers_.erase(std::next(found).base());
    return true;
  }

 private:
  // Installs the signal handlers and the thread that reads what they report.
  bool install() {
    if (installedBy_ == ::getpid()) return true;
    if (g_signalPipe[0] >= 0) {  // inherited from the parent of a forked child
      ::close(g_signalPipe[0]);
      ::close(g_signalPipe[1]);
    }
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      setLastErrorFromErrno(errno);
      return false;
    }
    const int readFd = g_signalPipe[0];
    const int flags = ::fcntl(readFd, F_GETFL);
    ::fcntl(readFd, F_SETFL, flags & ~O_NONBLOCK);
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const SignalEvent& event : kEvents) ::sigaction(event.signal, &action, nullptr);
    keepModuleLoaded();
    std::thread([this, readFd] { readEvents(readFd); }).detach();
    installedBy_ = ::getpid();
    return true;
  }

  void readEvents(int readFd) {
    for (;;) {
      unsigned char signal = 0;
      const ssize_t n = ::read(readFd, &signal, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      for (const SignalEvent& event : kEvents) {
        if (event.signal == signal) std::thread([this, event] { deliver(event); }).detach();
      }
    }
  }

  void deliver(const SignalEvent& event) {
    std::vector<ConsoleCtrlHandler> handlers;
    {
      std::lock_guard lock(mutex_);
      if (event.ctrlType == CTRL_C_EVENT && ignoreCtrlC_) return;
      handlers.assign(handlers_.rbegin(), handlers_.rend());
    }
    for (const ConsoleCtrlHandler handler : handlers) {
      if (handler(event.ctrlType)) return;
    }
    endProcess(event.signal);
  }

  // The default handling: the process ends by the signal that came.
  static void endProcess(int signal) {
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // the signal's default is to continue (cannot happen for these four)
  }

  std::mutex mutex_;
  pid_t installedBy_ = 0;
  std::vector<ConsoleCtrlHandler> handlers_;
  bool ignoreCtrlC_ = false;
};

}  // namespace

bool setConsoleCtrlHandler(ConsoleCtrlHandler handler, bool add) { return ConsoleControl::instance().change(handler, add); }

bool generateConsoleCtrlEvent(uint32_t ctrlType) {
  for (const SignalEvent& event : kEvents) {
    if (event.ctrlType == ctrlType && ctrlType <= CTRL_BREAK_EVENT) return ::kill(::getpid(), event.signal) == 0;
  }
  setLastError(ERROR_INVALID_PARAMETER);
  return false;
}

}  // namespace platform
