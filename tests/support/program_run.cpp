#include "tests/support/program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

int exitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Forks and runs the program with standard output and error going to files
// in `directory`; the child leads a new process group.
pid_t start(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment, const std::filesystem::path& directory) {
  std::vector<std::string> argumentCopies{program};
  argumentCopies.insert(argumentCopies.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argumentCopies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const std::string out = (directory / "stdout").string();
  const std::string err = (directory / "stderr").string();
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // A test that crashes takes its programs with it.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);
  ::setpgid(0, 0);
  for (const std::string& entry : environment) ::putenv(const_cast<char*>(entry.c_str()));
  const int in = ::open("/dev/null", O_RDONLY);
  const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(in, 0);
  ::dup2(outFd, 1);
  ::dup2(errFd, 2);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

std::filesystem::path outputDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "wn-program-XXXXXX").string();
  const char* made = ::mkdtemp(pattern.data());
  return made != nullptr ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment) {
  BackgroundProgram running(program, arguments, environment);
  ProgramRun run;
  run.exitCode = running.wait(120000);
  run.out = running.out();
  run.err = running.err();
  return run;
}

BackgroundProgram::BackgroundProgram(const std::string& program, const std::vector<std::string>& arguments,
                                     const std::vector<std::string>& environment)
    : directory_(outputDirectory()) {
  pid_ = start(program, arguments, environment, directory_);
}

BackgroundProgram::~BackgroundProgram() {
  if (running()) stop(SIGKILL);
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void BackgroundProgram::reap(int status) {
  exitCode_ = exitCodeOf(status);
  pid_ = -1;
}

bool BackgroundProgram::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    reap(status);
    return false;
  }
  return true;
}

int BackgroundProgram::wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (running()) {
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return exitCode_;
}

int BackgroundProgram::stop(int signal, int timeoutMs) {
  if (!running()) return exitCode_;
  const pid_t group = pid_;
  ::kill(-group, signal);
  if (wait(timeoutMs) < 0) {
    ::kill(-group, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reap(status);
  }
  // What the program started in its group ends with it.
  ::kill(-group, SIGKILL);
  return exitCode_;
}

std::string BackgroundProgram::out() const { return readFile(directory_ / "stdout"); }

std::string BackgroundProgram::err() const { return readFile(directory_ / "stderr"); }

}  // namespace testing_support
