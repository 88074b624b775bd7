#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/critical_section.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/mutexes.h"
#include "platform/waits.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system_root.h"

using namespace platform;
using namespace std::chrono_literals;
using testing_support::ChildProcess;

namespace {

constexpr const char16_t* kName = u"Global\\QuintorSingleInstance";

// The child signals through a pipe that it is holding the mutex, then waits
// to be told to go.
struct Pipe {
  int fds[2];
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  void send() { EXPECT_EQ(::write(fds[1], "x", 1), 1); }
  bool receive() {
    char c;
    return ::read(fds[0], &c, 1) == 1;
  }
};

class NamedMutexTest : public ::testing::Test {
 protected:
  testing_support::TestSystemRoot root;
};

}  // namespace

TEST_F(NamedMutexTest, SecondCreateInAnotherProcessReportsAlreadyExists) {
  Pipe ready, go;
  ChildProcess child([&] {
    Handle mine = createMutex(true, kName);
    if (mine == nullptr || lastError() != ERROR_SUCCESS) return 1;
    ready.send();
    go.receive();
    return 0;
  });
  ASSERT_TRUE(ready.receive());
  Handle second = createMutex(false, kName);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(lastError(), ERROR_ALREADY_EXISTS);
  // The other process owns it.
  EXPECT_EQ(waitForSingle(second, 20), WAIT_TIMEOUT);
  go.send();
  EXPECT_EQ(child.wait(), 0);
  closeHandle(second);
}

TEST_F(NamedMutexTest, EndsWithTheLastHandleEvenWhenItsProcessIsKilled) {
  Pipe ready;
  ChildProcess child([&]() -> int {
    createMutex(false, kName);
    ready.send();
    for (;;) ::pause();
  });
  ASSERT_TRUE(ready.receive());
  Handle opened = openMutex(kName);
  EXPECT_NE(opened, nullptr);
  child.kill();
  // Our opened handle still keeps it alive.
  Handle again = createMutex(false, kName);
  EXPECT_EQ(lastError(), ERROR_ALREADY_EXISTS);
  closeHandle(again);
  closeHandle(opened);
  Handle fresh = createMutex(false, kName);
  EXPECT_EQ(lastError(), ERROR_SUCCESS);
  closeHandle(fresh);
}

TEST_F(NamedMutexTest, KilledOwnerLeavesItAbandonedAndFree) {
  Pipe ready;
  ChildProcess child([&]() -> int {
    createMutex(true, kName);
    ready.send();
    for (;;) ::pause();
  });
  ASSERT_TRUE(ready.receive());
  Handle mine = createMutex(false, kName);
  EXPECT_EQ(lastError(), ERROR_ALREADY_EXISTS);
  child.kill();
  EXPECT_EQ(waitForSingle(mine, 2000), WAIT_ABANDONED_0);
  EXPECT_TRUE(releaseMutex(mine));
  closeHandle(mine);
  // With every handle gone the name is free again.
  Handle fresh = createMutex(false, kName);
  EXPECT_EQ(lastError(), ERROR_SUCCESS);
  EXPECT_EQ(openMutex(u"never created"), nullptr);
  EXPECT_EQ(lastError(), ERROR_FILE_NOT_FOUND);
  closeHandle(fresh);
}

TEST_F(NamedMutexTest, ReleasedOwnershipPassesToAWaiterInAnotherProcess) {
  Pipe ready, go;
  ChildProcess child([&] {
    Handle mine = createMutex(true, kName);
    ready.send();
    go.receive();
    return releaseMutex(mine) ? 0 : 1;
  });
  ASSERT_TRUE(ready.receive());
  Handle mine = createMutex(false, kName);
  go.send();
  EXPECT_EQ(waitForSingle(mine, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(child.wait(), 0);
  EXPECT_TRUE(releaseMutex(mine));
  closeHandle(mine);
}

TEST(Mutex, OwnerMayReenterAndOnlyTheOwnerReleases) {
  Handle mutex = createMutex(true, nullptr);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(lastError(), ERROR_SUCCESS);
  EXPECT_EQ(waitForSingle(mutex, 0), WAIT_OBJECT_0);  // depth 2
  std::thread other([&] {
    EXPECT_EQ(waitForSingle(mutex, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(releaseMutex(mutex));
    EXPECT_EQ(lastError(), ERROR_NOT_OWNER);
  });
  other.join();
  EXPECT_TRUE(releaseMutex(mutex));
  EXPECT_TRUE(releaseMutex(mutex));
  EXPECT_FALSE(releaseMutex(mutex));
  std::thread taker([&] {
    EXPECT_EQ(waitForSingle(mutex, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(releaseMutex(mutex));
  });
  taker.join();
  closeHandle(mutex);
}

TEST(Mutex, WaiterWakesWhenOwnerReleases) {
  Handle mutex = createMutex(true, nullptr);
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    got = waitForSingle(mutex, 5000) == WAIT_OBJECT_0;
    releaseMutex(mutex);
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(got);
  releaseMutex(mutex);
  waiter.join();
  EXPECT_TRUE(got);
  closeHandle(mutex);
}

TEST(CriticalSection, ReentrantForTheOwner) {
  CriticalSection section;
  section.enter();
  EXPECT_TRUE(section.tryEnter());
  std::thread other([&] { EXPECT_FALSE(section.tryEnter()); });
  other.join();
  section.leave();
  section.leave();
  std::thread after([&] {
    CriticalSectionLock lock(section);
  });
  after.join();
}
