#pragma once
// Runs the project's programs from tests: to completion with their output,
// or in the background until the test stops them (also when it fails).

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct ProgramResult {
  int exitCode = -1;  // 128 + signal for a program ended by a signal
  std::string output;  // standard output
  std::string errors;  // standard error
};

// Runs `argv` with `environment` added to this process's environment.
ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment = {});

// A program running in the background, its standard output and error
// collected in a file. The destructor ends it (SIGTERM, then SIGKILL after
// five seconds) and reaps it.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment = {});
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // What it wrote so far (standard output and error together).
  std::string output() const;
  // Waits until its output contains `text`; false when it ends first or the
  // time runs out.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Waits until it ends by itself: its exit code, or -1 when the time runs out.
  int wait(std::chrono::milliseconds limit);
  // SIGTERM and wait (SIGKILL after five seconds); returns the exit code.
  int stop();
  // SIGKILL and reap.
  void kill();

 private:
  int reap(bool block);

  pid_t pid_ = -1;
  int exitCode_ = -1;
  std::string outputFile_;
};

}  // namespace testing_support
