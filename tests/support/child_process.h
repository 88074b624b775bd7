#pragma once
// Runs a piece of a test in a separate process, so that behaviour across
// processes (shared objects, a process that dies) is tested for real.

#include <sys/types.h>

#include <chrono>
#include <functional>

#include "platform/unique_fd.h"

namespace testing_support {

class ChildProcess {
 public:
  // Forks; the child runs `body` and exits with its return value. Call it
  // before the test starts threads of its own.
  explicit ChildProcess(const std::function<int()>& body);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the child; returns its exit code, or 128 + signal number.
  int wait();
  // Ends the child at once (SIGKILL) and reaps it.
  void kill();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// A one-way pipe over which one process tells another, across a fork, that a
// step is done: one byte a step, which may carry a small result. Made before
// the fork, so that both sides hold it.
class StepPipe {
 public:
  StepPipe();  // aborts when no pipe can be made
  StepPipe(const StepPipe&) = delete;
  StepPipe& operator=(const StepPipe&) = delete;

  // Aborts when the byte cannot be written.
  void say(char byte = 's') const;
  // The next byte, or 0 when none comes within `timeout` (negative: no limit)
  // or the other side is gone.
  char listen(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1)) const;

 private:
  platform::UniqueFd read_;
  platform::UniqueFd write_;
};

}  // namespace testing_support
