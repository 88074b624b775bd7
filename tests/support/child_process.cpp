#include "tests/support/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace testing_support {

ChildProcess::ChildProcess(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
      code = 98;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
}

ChildProcess::~ChildProcess() {
  if (status_ < 0 && pid_ > 0) kill();
}

int ChildProcess::wait() {
  if (status_ < 0) {
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
    }
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }
  return status_;
}

void ChildProcess::kill() {
  if (status_ < 0) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

}  // namespace testing_support
