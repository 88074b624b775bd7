#pragma once
// Runs a piece of a test in a separate process, so that behaviour across
// processes (shared objects, a process that dies) is tested for real.

#include <sys/types.h>

#include <functional>

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

}  // namespace testing_support
