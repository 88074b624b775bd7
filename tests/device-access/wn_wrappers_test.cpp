#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>

#include "device-access/wn_event.h"
#include "device-access/wn_mutex.h"
#include "device-access/wn_thread.h"
#include "device-access/wn_waitable_timer.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/handles.h"
#include "platform/threads.h"
#include "platform/waits.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system_root.h"

using namespace platform;

namespace {

// A thread owner in the shape the programs use: a forwarder member and a stop event.
class Worker {
 public:
  Worker() { stop_.create(true); }
  uint32_t start() { return thread_.start(&forwarder_, 0, 0); }
  void stop() { setEvent(stop_.handle()); }
  WnThread& thread() { return thread_; }
  std::atomic<int> runs{0};

 private:
  uint32_t threadProc() {
    ++runs;
    waitForSingle(stop_.handle(), INFINITE);
    return 5;
  }
  WnEvent stop_;
  WnThreadCallbackForwarderT<Worker> forwarder_{this, &Worker::threadProc};
  WnThread thread_;
};

class TimerOwner {
 public:
  WnWaitableTimerCallbackForwarderT<TimerOwner> forwarder{this, &TimerOwner::onTimer};
  std::atomic<int> calls{0};
  std::atomic<uint32_t> thread{0};

 private:
  void onTimer(uint32_t, uint32_t) {
    ++calls;
    thread = currentThreadId();
  }
};

}  // namespace

TEST(WnHandle, ClosingEmptiesAndReleasesTheHandle) {
  const size_t before = openHandleCount();
  {
    WnEvent event;
    ASSERT_EQ(event.create(false), 0u);
    EXPECT_NE(event.handle(), nullptr);
    EXPECT_EQ(openHandleCount(), before + 1);
    event.closeHandle();
    EXPECT_EQ(event.handle(), nullptr);
    event.closeHandle();  // closing an empty wrapper does nothing
    ASSERT_EQ(event.create(true), 0u);
  }
  EXPECT_EQ(openHandleCount(), before);  // the destructor closed the second one
}

TEST(WnThread, WaitReportsTimeoutWhileRunningThenEmpties) {
  Worker worker;
  ASSERT_EQ(worker.start(), 0u);
  EXPECT_NE(worker.thread().threadId(), 0u);
  EXPECT_EQ(worker.start(), ERROR_ALREADY_EXISTS);  // a second start leaves it running
  EXPECT_EQ(worker.thread().wait(0), WAIT_TIMEOUT);
  EXPECT_NE(worker.thread().handle(), nullptr);
  worker.stop();
  EXPECT_EQ(worker.thread().wait(INFINITE), 0u);
  EXPECT_EQ(worker.thread().handle(), nullptr);
  EXPECT_EQ(worker.thread().threadId(), 0u);
  EXPECT_EQ(worker.runs.load(), 1);
  EXPECT_EQ(worker.thread().wait(0), 0u);  // nothing held
}

TEST(WnThread, WaitOnAFinishedThreadEmptiesTheWrapper) {
  Worker worker;
  worker.stop();
  ASSERT_EQ(worker.start(), 0u);
  waitForSingle(worker.thread().handle(), INFINITE);
  uint32_t code = 0;
  getExitCodeThread(worker.thread().handle(), &code);
  EXPECT_EQ(code, 5u);
  EXPECT_EQ(worker.thread().wait(0), 0u);
  EXPECT_EQ(worker.thread().handle(), nullptr);
  EXPECT_EQ(worker.start(), 0u);  // may be started again once empty
  EXPECT_EQ(worker.thread().wait(INFINITE), 0u);
}

TEST(WnWaitableTimer, PeriodNotGreaterThanZeroIsRejectedAndLeavesTheTimerUnarmed) {
  WnWaitableTimer timer;
  ASSERT_EQ(timer.create(false, nullptr, nullptr), 0u);
  TimerOwner owner;
  for (int32_t period : {0, -1, -1000}) {
    EXPECT_EQ(timer.set(period, &owner.forwarder, false), ERROR_INVALID_PARAMETER) << period;
  }
  EXPECT_EQ(sleepEx(30, true), 0u);
  EXPECT_EQ(waitForSingle(timer.handle(), 0), WAIT_TIMEOUT);
  EXPECT_EQ(owner.calls.load(), 0);
}

TEST(WnWaitableTimer, CallbackRunsOnTheArmingThreadDuringAlertableWaits) {
  WnWaitableTimer timer;
  ASSERT_EQ(timer.create(false, nullptr, nullptr), 0u);
  TimerOwner owner;
  ASSERT_EQ(timer.set(5, &owner.forwarder, false), 0u);
  for (int i = 0; i < 200 && owner.calls.load() < 3; ++i) sleepEx(50, true);
  EXPECT_GE(owner.calls.load(), 3);
  EXPECT_EQ(owner.thread.load(), currentThreadId());
  EXPECT_EQ(timer.cancel(), 0u);
}

TEST(WnWaitableTimer, CancelAndCreateOnAnEmptyOrHeldTimer) {
  WnWaitableTimer timer;
  EXPECT_EQ(timer.cancel(), 0u);  // nothing held
  const size_t before = openHandleCount();
  ASSERT_EQ(timer.create(true, nullptr, nullptr), 0u);
  ASSERT_EQ(timer.create(true, nullptr, nullptr), 0u);  // replaces the first
  EXPECT_EQ(openHandleCount(), before + 1);
  EXPECT_EQ(timer.set(1000, nullptr, false), 0u);
  EXPECT_EQ(waitForSingle(timer.handle(), 1000), WAIT_OBJECT_0);  // first expiry almost at once
}

TEST(WnMutex, NamedMutexHeldByAnotherProcessReports183AndStillHolds) {
  testing_support::TestSystemRoot root;
  int ready[2], go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  testing_support::ChildProcess child([&] {
    WnMutex mutex;
    const uint32_t status = mutex.create(nullptr, true, u"OrvaneCplSingleInstance");
    char c = status == 0 ? 'y' : 'n';
    [[maybe_unused]] auto w = ::write(ready[1], &c, 1);
    [[maybe_unused]] auto r = ::read(go[0], &c, 1);
    return 0;
  });
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  WnMutex mutex;
  EXPECT_EQ(mutex.create(nullptr, true, u"OrvaneCplSingleInstance"), ERROR_ALREADY_EXISTS);
  EXPECT_NE(mutex.handle(), nullptr);
  [[maybe_unused]] auto w = ::write(go[1], "x", 1);
  EXPECT_EQ(child.wait(), 0);
  WnMutex unnamed;
  EXPECT_EQ(unnamed.create(nullptr, false, nullptr), 0u);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
}
