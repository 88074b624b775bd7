#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/threads.h"
#include "platform/timers.h"
#include "platform/waits.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct Record {
  std::atomic<int> calls{0};
  std::atomic<uint32_t> thread{0};
  std::atomic<uint64_t> value{0};
};

void recordCall(void* argument, uint32_t low, uint32_t high) {
  auto* record = static_cast<Record*>(argument);
  record->thread = currentThreadId();
  record->value = (static_cast<uint64_t>(high) << 32) | low;
  ++record->calls;
}

constexpr int64_t kOneMsRelative = -10000;  // 1 ms in 100-ns units, relative

class TimerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (timer) closeHandle(timer);
  }
  Handle timer = nullptr;
};

}  // namespace

TEST_F(TimerTest, RoutineRunsOnlyInTheArmingThreadsAlertableWait) {
  timer = createWaitableTimer(false, nullptr);
  ASSERT_NE(timer, nullptr);
  Record record;
  ASSERT_TRUE(setWaitableTimer(timer, kOneMsRelative, 0, recordCall, &record, false));

  // Another thread's alertable wait never runs it.
  std::thread other([] { EXPECT_EQ(sleepEx(50, true), 0u); });
  other.join();
  // A wait that is not alertable on the arming thread does not run it either.
  sleepEx(20, false);
  EXPECT_EQ(record.calls.load(), 0);

  EXPECT_EQ(sleepEx(1000, true), WAIT_IO_COMPLETION);
  EXPECT_EQ(record.calls.load(), 1);
  EXPECT_EQ(record.thread.load(), currentThreadId());
  const uint64_t now = systemTimeAsFileTime();
  EXPECT_LE(record.value.load(), now);
  EXPECT_GT(record.value.load(), now - 10ULL * 10000000);  // within the last ten seconds
}

TEST_F(TimerTest, ExpiriesWhileNotWaitingFoldIntoOneCall) {
  timer = createWaitableTimer(false, nullptr);
  Record record;
  ASSERT_TRUE(setWaitableTimer(timer, kOneMsRelative, 2, recordCall, &record, false));
  std::this_thread::sleep_for(30ms);  // many periods pass, no alertable wait
  EXPECT_EQ(sleepEx(0, true), WAIT_IO_COMPLETION);
  EXPECT_EQ(record.calls.load(), 1);
  ASSERT_TRUE(cancelWaitableTimer(timer));
}

TEST_F(TimerTest, PeriodicTimerKeepsCallingBack) {
  timer = createWaitableTimer(false, nullptr);
  Record record;
  ASSERT_TRUE(setWaitableTimer(timer, kOneMsRelative, 5, recordCall, &record, false));
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (record.calls.load() < 5 && std::chrono::steady_clock::now() < deadline) sleepEx(100, true);
  EXPECT_GE(record.calls.load(), 5);
  ASSERT_TRUE(cancelWaitableTimer(timer));
}

TEST_F(TimerTest, CancelWithdrawsAQueuedCall) {
  timer = createWaitableTimer(false, nullptr);
  Record record;
  ASSERT_TRUE(setWaitableTimer(timer, kOneMsRelative, 0, recordCall, &record, false));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(cancelWaitableTimer(timer));
  sleepEx(0, true);
  EXPECT_EQ(record.calls.load(), 0);
}

TEST_F(TimerTest, ClosingTheTimerWithdrawsAQueuedCall) {
  timer = createWaitableTimer(false, nullptr);
  Record record;
  ASSERT_TRUE(setWaitableTimer(timer, kOneMsRelative, 0, recordCall, &record, false));
  std::this_thread::sleep_for(20ms);
  closeHandle(timer);
  timer = nullptr;
  sleepEx(0, true);
  EXPECT_EQ(record.calls.load(), 0);
}

TEST_F(TimerTest, SynchronizationTimerSignalsOneWaitPerExpiry) {
  timer = createWaitableTimer(false, nullptr);
  ASSERT_TRUE(setWaitableTimer(timer, kOneMsRelative, 0, nullptr, nullptr, false));
  EXPECT_EQ(waitForSingle(timer, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(waitForSingle(timer, 20), WAIT_TIMEOUT);
}

TEST_F(TimerTest, ManualResetTimerStaysSignalledUntilSetAgain) {
  timer = createWaitableTimer(true, nullptr);
  ASSERT_TRUE(setWaitableTimer(timer, kOneMsRelative, 0, nullptr, nullptr, false));
  EXPECT_EQ(waitForSingle(timer, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(waitForSingle(timer, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(setWaitableTimer(timer, -10000000, 0, nullptr, nullptr, false));  // one second away
  EXPECT_EQ(waitForSingle(timer, 0), WAIT_TIMEOUT);
}

TEST_F(TimerTest, AbsoluteDueTimeInThePastFiresAtOnce) {
  timer = createWaitableTimer(false, nullptr);
  ASSERT_TRUE(setWaitableTimer(timer, static_cast<int64_t>(systemTimeAsFileTime()) - 1000, 0, nullptr, nullptr, false));
  EXPECT_EQ(waitForSingle(timer, 1000), WAIT_OBJECT_0);
}

TEST_F(TimerTest, InvalidArguments) {
  timer = createWaitableTimer(false, nullptr);
  EXPECT_FALSE(setWaitableTimer(timer, kOneMsRelative, -1, nullptr, nullptr, false));
  EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(setWaitableTimer(nullptr, kOneMsRelative, 1, nullptr, nullptr, false));
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(createWaitableTimer(false, u"named"), nullptr);
  EXPECT_EQ(lastError(), ERROR_NOT_SUPPORTED);
  EXPECT_TRUE(setWaitableTimer(timer, kOneMsRelative, 0, nullptr, nullptr, true));
  EXPECT_EQ(lastError(), ERROR_NOT_SUPPORTED);  // armed, resume not available
}

TEST(Clock, TimePeriodRequestsBalance) {
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
  EXPECT_EQ(timeEndPeriod(3), TIMERR_NOCANDO);  // never begun
  EXPECT_EQ(timeBeginPeriod(3), TIMERR_NOERROR);
  EXPECT_EQ(activeTimePeriodRequests(3), 1);
  EXPECT_EQ(timeEndPeriod(3), TIMERR_NOERROR);
  EXPECT_EQ(activeTimePeriodRequests(3), 0);
}

TEST(Clock, TickCountAdvancesWithSleep) {
  const uint64_t before = tickCount64();
  sleepMs(30);
  EXPECT_GE(tickCount64() - before, 30u);
}
