#pragma once
// Runs built programs from tests: to completion with their output captured,
// or in the background until the test stops them. A background program runs
// in its own process group, so stopping it also stops what it started; the
// destructor kills and reaps it, and a test process that dies takes its
// programs with it (the parent-death signal), so no program outlives a
// failed test.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct ProgramRun {
  int exitCode = -1;  // 128 + signal number when a signal ended it
  std::string out;
  std::string err;
};

// Runs `program` with `arguments`; `environment` entries ("NAME=value") are
// added to the test's own environment.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment = {});

class BackgroundProgram {
 public:
  BackgroundProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {});
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Sends `signal` to the program's process group and waits for the program
  // (at most `timeoutMs`, then SIGKILL); its exit code as ProgramRun gives it.
  int stop(int signal, int timeoutMs = 10000);
  // Waits for the program to end by itself; -1 after `timeoutMs`.
  int wait(int timeoutMs);
  // Its standard output and error so far.
  std::string out() const;
  std::string err() const;

 private:
  void reap(int status);

  pid_t pid_ = -1;
  int exitCode_ = -1;
  std::filesystem::path directory_;
};

}  // namespace testing_support
