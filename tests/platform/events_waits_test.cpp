#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/apc.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/threads.h"
#include "platform/waits.h"
#include "tests/support/child_process.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Closes its handles at the end of a test.
struct Handles {
  std::vector<Handle> list;
  Handle add(Handle h) {
    list.push_back(h);
    return h;
  }
  ~Handles() {
    for (Handle h : list) closeHandle(h);
  }
};

}  // namespace

TEST(Events, AutoResetWakesOnceForSeveralSignals) {
  Handles h;
  Handle event = h.add(createEvent(false, false));
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(setEvent(event));
  EXPECT_TRUE(setEvent(event));
  EXPECT_TRUE(setEvent(event));
  EXPECT_EQ(waitForSingle(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(waitForSingle(event, 0), WAIT_TIMEOUT);
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
  Handles h;
  Handle event = h.add(createEvent(true, true));
  EXPECT_EQ(waitForSingle(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(waitForSingle(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(resetEvent(event));
  EXPECT_EQ(waitForSingle(event, 0), WAIT_TIMEOUT);
}

TEST(Events, AutoResetReleasesExactlyOneOfTwoWaiters) {
  Handles h;
  Handle event = h.add(createEvent(false, false));
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (waitForSingle(event, 300) == WAIT_OBJECT_0) ++woken;
  };
  std::thread a(waiter), b(waiter);
  std::this_thread::sleep_for(30ms);
  setEvent(event);
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(Events, SetOnNonEventHandleFails) {
  EXPECT_FALSE(setEvent(reinterpret_cast<Handle>(0x7ff0)));
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
  uint32_t id = 0;
  Handle thread = createThread(0, [] { return 0u; }, 0, &id);
  EXPECT_FALSE(setEvent(thread));
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
  waitForSingle(thread, INFINITE);
  closeHandle(thread);
}

TEST(Waits, LowestSignalledIndexWins) {
  Handles h;
  Handle events[4];
  for (auto& e : events) e = h.add(createEvent(false, false));
  setEvent(events[3]);
  setEvent(events[1]);
  EXPECT_EQ(waitForMultiple(4, events, 0), WAIT_OBJECT_0 + 1);
  // Only the winner was consumed.
  EXPECT_EQ(waitForMultiple(4, events, 0), WAIT_OBJECT_0 + 3);
  EXPECT_EQ(waitForMultiple(4, events, 0), WAIT_TIMEOUT);
}

TEST(Waits, WakesWhenAnotherThreadSignals) {
  Handles h;
  Handle events[2] = {h.add(createEvent(false, false)), h.add(createEvent(false, false))};
  std::thread signaller([&] {
    std::this_thread::sleep_for(20ms);
    setEvent(events[1]);
  });
  EXPECT_EQ(waitForMultiple(2, events, 5000), WAIT_OBJECT_0 + 1);
  signaller.join();
}

TEST(Waits, TimesOutAfterRoughlyTheGivenTime) {
  Handles h;
  Handle event = h.add(createEvent(false, false));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitForSingle(event, 50), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

TEST(Waits, BadHandlesAndCountsFail) {
  Handles h;
  Handle good = h.add(createEvent(true, true));
  struct Case {
    const char* what;
    std::vector<Handle> handles;
    uint32_t count;
    uint32_t error;
  };
  const std::vector<Case> cases = {
      {"null handle", {nullptr}, 1, ERROR_INVALID_HANDLE},
      {"invalid handle value", {kInvalidHandle}, 1, ERROR_INVALID_HANDLE},
      {"never issued", {reinterpret_cast<Handle>(0x40000)}, 1, ERROR_INVALID_HANDLE},
      {"bad among good", {good, nullptr}, 2, ERROR_INVALID_HANDLE},
      {"zero count", {good}, 0, ERROR_INVALID_PARAMETER},
      {"65 handles", std::vector<Handle>(65, good), 65, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    setLastError(0);
    EXPECT_EQ(waitForMultiple(c.count, c.handles.data(), 0), WAIT_FAILED) << c.what;
    EXPECT_EQ(lastError(), c.error) << c.what;
  }
}

TEST(Waits, SixtyFourHandlesAreAccepted) {
  Handles h;
  std::vector<Handle> events;
  for (int i = 0; i < 64; ++i) events.push_back(h.add(createEvent(false, false)));
  setEvent(events[63]);
  EXPECT_EQ(waitForMultiple(64, events.data(), 0), WAIT_OBJECT_0 + 63);
}

TEST(Waits, ClosedHandleIsBad) {
  Handle event = createEvent(false, false);
  ASSERT_TRUE(closeHandle(event));
  EXPECT_EQ(waitForSingle(event, 0), WAIT_FAILED);
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(closeHandle(event));
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
}

TEST(Waits, AlertableWaitRunsQueuedCallsOnThisThreadOnly) {
  Handles h;
  Handle event = h.add(createEvent(false, false));
  std::atomic<uint32_t> ranOn{0};
  const uint32_t me = currentThreadId();
  currentApcQueue();
  std::thread other([&] { EXPECT_TRUE(queueApcToThread(me, [&] { ranOn = currentThreadId(); })); });
  other.join();
  // A wait that is not alertable neither runs the call nor returns for it.
  EXPECT_EQ(waitForSingle(event, 20, false), WAIT_TIMEOUT);
  EXPECT_EQ(ranOn.load(), 0u);
  EXPECT_EQ(waitForSingle(event, 1000, true), WAIT_IO_COMPLETION);
  EXPECT_EQ(ranOn.load(), me);
  EXPECT_EQ(sleepEx(0, true), 0u);
}

TEST(Waits, AlertableSleepWakesForQueuedCall) {
  const uint32_t me = currentThreadId();
  currentApcQueue();
  std::atomic<bool> ran{false};
  std::thread other([&] {
    std::this_thread::sleep_for(20ms);
    queueApcToThread(me, [&] { ran = true; });
  });
  EXPECT_EQ(sleepEx(5000, true), WAIT_IO_COMPLETION);
  EXPECT_TRUE(ran);
  other.join();
}

TEST(Events, SignalFromAnotherProcessWakesWaiter) {
  // The descriptor is inherited across fork, as a driver would hold it.
  Handles h;
  Handle event = h.add(createEvent(false, false));
  auto object = eventFromHandle(event);
  ASSERT_TRUE(object);
  testing_support::ChildProcess child([&] {
    std::this_thread::sleep_for(30ms);
    return object->set() ? 0 : 1;
  });
  EXPECT_EQ(waitForSingle(event, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(child.wait(), 0);
}
