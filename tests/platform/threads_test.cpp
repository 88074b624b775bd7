#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/errors.h"
#include "platform/events.h"
#include "platform/threads.h"
#include "platform/waits.h"

using namespace platform;
using namespace std::chrono_literals;

TEST(Threads, RunsWithIdAndExitCode) {
  std::atomic<uint32_t> idInside{0};
  uint32_t id = 0;
  Handle thread = createThread(64 * 1024, [&] {
    idInside = currentThreadId();
    return 42u;
  }, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(waitForSingle(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(idInside.load(), id);
  EXPECT_EQ(threadIdOf(thread), id);
  uint32_t code = 0;
  EXPECT_TRUE(getExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  closeHandle(thread);
}

TEST(Threads, WaitTimesOutWhileRunningAndReportsStillActive) {
  Handle release = createEvent(true, false);
  Handle thread = createThread(0, [&] {
    waitForSingle(release, INFINITE);
    return 7u;
  }, 0, nullptr);
  EXPECT_EQ(waitForSingle(thread, 0), WAIT_TIMEOUT);
  uint32_t code = 0;
  EXPECT_TRUE(getExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  setEvent(release);
  EXPECT_EQ(waitForSingle(thread, 5000), WAIT_OBJECT_0);
  closeHandle(thread);
  closeHandle(release);
}

TEST(Threads, SuspendedThreadStartsOnResume) {
  std::atomic<bool> ran{false};
  Handle thread = createThread(0, [&] {
    ran = true;
    return 0u;
  }, CREATE_SUSPENDED, nullptr);
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(resumeThread(thread));
  EXPECT_EQ(waitForSingle(thread, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(ran);
  closeHandle(thread);
}

TEST(Threads, ClosingTheHandleDoesNotStopTheThread) {
  Handle done = createEvent(true, false);
  auto doneObject = eventFromHandle(done);
  Handle thread = createThread(0, [doneObject] {
    std::this_thread::sleep_for(20ms);
    doneObject->set();
    return 0u;
  }, 0, nullptr);
  closeHandle(thread);
  EXPECT_EQ(waitForSingle(done, 5000), WAIT_OBJECT_0);
  closeHandle(done);
}

TEST(Threads, TimeCriticalPriorityIsNeverAnError) {
  Handle thread = createThread(0, [] {
    const bool ok = setCurrentThreadPriority(THREAD_PRIORITY_TIME_CRITICAL);
    const bool back = setCurrentThreadPriority(THREAD_PRIORITY_NORMAL);
    return ok && back && !currentThreadIsRealTime() ? 0u : 1u;
  }, 0, nullptr);
  EXPECT_EQ(waitForSingle(thread, 5000), WAIT_OBJECT_0);
  uint32_t code = 99;
  getExitCodeThread(thread, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(setThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));  // ended: accepted, nothing to do
  closeHandle(thread);
}

TEST(Threads, BadHandleAndMissingProcedure) {
  EXPECT_EQ(createThread(0, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
  Handle event = createEvent(false, false);
  uint32_t code;
  EXPECT_FALSE(getExitCodeThread(event, &code));
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(threadIdOf(event), 0u);
  closeHandle(event);
}
