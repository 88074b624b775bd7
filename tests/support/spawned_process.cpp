#include "tests/support/spawned_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace testing_support {

SpawnedProcess::SpawnedProcess(const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string current = *entry;
    const std::string name = current.substr(0, current.find('='));
    bool replaced = false;
    for (const std::string& extra : environment) replaced = replaced || extra.substr(0, extra.find('=')) == name;
    if (!replaced) variables.push_back(current);
  }
  variables.insert(variables.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // Ends with the test process, also when that is killed (a test that
    // runs out of time): nothing a test starts outlives it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
}

SpawnedProcess::~SpawnedProcess() {
  if (running()) stop();
}

bool SpawnedProcess::reap(bool block) {
  if (pid_ <= 0 || exitCode_ >= 0) return true;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  if (done != pid_) return false;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool SpawnedProcess::running() { return pid_ > 0 && !reap(false); }

int SpawnedProcess::waitExit(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!reap(false)) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exitCode_;
}

int SpawnedProcess::stop(int graceMs) {
  if (!running()) return exitCode_;
  ::kill(pid_, SIGTERM);
  if (waitExit(graceMs) >= 0) return exitCode_;
  return kill();
}

int SpawnedProcess::kill() {
  if (!running()) return exitCode_;
  ::kill(pid_, SIGKILL);
  reap(true);
  return exitCode_;
}

}  // namespace testing_support
