#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

StepPipe::StepPipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) std::abort();
  read_.reset(fds[0]);
  write_.reset(fds[1]);
}

void StepPipe::say(char byte) const {
  if (::write(write_.get(), &byte, 1) != 1) std::abort();
}

char StepPipe::listen(std::chrono::milliseconds timeout) const {
  pollfd p{read_.get(), POLLIN, 0};
  char byte = 0;
  int ready;
  while ((ready = ::poll(&p, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
  }
  if (ready != 1 || ::read(read_.get(), &byte, 1) != 1) return 0;
  return byte;
}

}  // namespace testing_support
