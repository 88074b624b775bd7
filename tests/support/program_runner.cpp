#include "tests/support/program_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& additions) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (additions.count(name) == 0) result.push_back(text);
  }
  for (const auto& [name, value] : additions) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> result;
  for (std::string& word : words) result.push_back(word.data());
  result.push_back(nullptr);
  return result;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

int exitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

pid_t spawn(std::vector<std::string> argv, const std::map<std::string, std::string>& environment, int out, int err) {
  std::vector<std::string> env = environmentWith(environment);
  std::vector<char*> argvPointers = pointers(argv);
  std::vector<char*> envPointers = pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  pid_t pid = -1;
  const int result = ::posix_spawnp(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  return result == 0 ? pid : -1;
}

}  // namespace

ProgramResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment) {
  ProgramResult result;
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return result;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return result;
  }
  const pid_t pid = spawn(argv, environment, out[1], err[1]);
  ::close(out[1]);
  ::close(err[1]);
  std::string errors;
  std::thread errorReader([&] { errors = readAll(err[0]); });
  result.output = readAll(out[0]);
  errorReader.join();
  ::close(out[0]);
  ::close(err[0]);
  result.errors = errors;
  if (pid < 0) {
    result.errors = "cannot start " + argv[0];
    return result;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = exitCodeOf(status);
  return result;
}

// The program ends with the thread that started it (also when a test or
// benchmark crashes), so that no device host or JACK server is left behind.
BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv,
                                     const std::map<std::string, std::string>& environment) {
  char name[] = "/tmp/wn-background-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return;
  outputFile_ = name;
  std::vector<std::string> words = argv;
  std::vector<std::string> env = environmentWith(environment);
  std::vector<char*> argvPointers = pointers(words);
  std::vector<char*> envPointers = pointers(env);
  const pid_t parent = ::getpid();
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int input = ::open("/dev/null", O_RDONLY);
    ::dup2(input, 0);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execvpe(argvPointers[0], argvPointers.data(), envPointers.data());
    ::_exit(127);
  }
  ::close(fd);
}

BackgroundProgram::~BackgroundProgram() {
  stop();
  if (!outputFile_.empty()) ::unlink(outputFile_.c_str());
}

int BackgroundProgram::reap(bool block) {
  if (pid_ <= 0 || exitCode_ >= 0) return exitCode_;
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == pid_) exitCode_ = exitCodeOf(status);
  return exitCode_;
}

bool BackgroundProgram::running() { return pid_ > 0 && reap(false) < 0; }

std::string BackgroundProgram::output() const {
  std::ifstream in(outputFile_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool BackgroundProgram::waitForOutput(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (output().find(text) != std::string::npos) return true;
    if (!running() || std::chrono::steady_clock::now() >= deadline) return output().find(text) != std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int BackgroundProgram::wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return exitCode_;
}

int BackgroundProgram::stop() {
  if (!running()) return exitCode_;
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (running()) kill();
  return exitCode_;
}

void BackgroundProgram::kill() {
  if (!running()) return;
  ::kill(pid_, SIGKILL);
  reap(true);
}

}  // namespace testing_support
