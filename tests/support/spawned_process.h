#pragma once
// A program started in the background by a test (a device host, the
// service, a graphical program). It is stopped when the object goes away,
// also when the test fails: SIGTERM, then SIGKILL after two seconds; and it
// is killed when the test process ends in any other way. Start it from the
// test's main thread (the one whose end it follows).

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class SpawnedProcess {
 public:
  // Starts `arguments[0]` with the test's environment plus `environment`
  // ("NAME=value" entries). Its output goes to the test's output.
  explicit SpawnedProcess(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {});
  ~SpawnedProcess();
  SpawnedProcess(const SpawnedProcess&) = delete;
  SpawnedProcess& operator=(const SpawnedProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Whether it still runs (it is reaped when it has ended).
  bool running();
  // Waits up to `timeoutMs` for the end; its exit code (128 + signal for a
  // signal), or -1 when it still runs.
  int waitExit(int timeoutMs);
  // SIGTERM, then SIGKILL when it has not ended after `graceMs`; its exit code.
  int stop(int graceMs = 2000);
  // SIGKILL at once; its exit code.
  int kill();

 private:
  bool reap(bool block);

  pid_t pid_ = -1;
  int exitCode_ = -1;
};

}  // namespace testing_support
