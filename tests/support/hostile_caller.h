#pragma once
// A hostile caller of the device host in a child process of its own, and an
// alarm that turns a host frozen by one into a failed test rather than a
// hung one.

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/handles.h"
#include "tests/support/child_process.h"

namespace testing_support {

// Forked at construction, before the test starts the host (this process has
// no threads then). The child waits for go(), runs its body and reports the
// byte the body returns; then it stays, with whatever it left open, until
// the object is destroyed.
class HostileCaller {
 public:
  explicit HostileCaller(const std::function<char()>& body);
  ~HostileCaller();
  HostileCaller(const HostileCaller&) = delete;
  HostileCaller& operator=(const HostileCaller&) = delete;

  void go() { go_.say(); }
  // The byte the body returned, or 0 when it did not finish in time.
  char result(std::chrono::milliseconds timeout = std::chrono::seconds(20)) { return report_.listen(timeout); }

 private:
  StepPipe go_;
  StepPipe report_;
  ChildProcess child_;
};

// An event whose eventfd counter is full (an eventfd cannot count higher)
// and whose descriptor is blocking: a write to it would wait for ever.
struct FullEvent {
  static constexpr uint64_t kFullCounter = 0xfffffffffffffffe;
  FullEvent();
  // Clears O_NONBLOCK again, after someone else set it.
  void makeBlocking() const;
  // Reads the counter (and so empties it).
  uint64_t counter() const;

  int fd = -1;
  platform::Handle handle = nullptr;
};

// Ends the test process with SIGALRM after `seconds` unless destroyed first.
// Declared before the host, it also covers stopping the host.
class Alarm {
 public:
  explicit Alarm(unsigned seconds = 90);
  ~Alarm();
  Alarm(const Alarm&) = delete;
  Alarm& operator=(const Alarm&) = delete;
};

}  // namespace testing_support
