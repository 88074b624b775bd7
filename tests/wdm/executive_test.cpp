// The kernel executive stand-in: dispatcher objects and waits, IRQL rules,
// spin locks, pool tags, handles, system threads and worker queues.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/kernel/wdm/executive.h"

namespace platform::wdm {
namespace {

using namespace std::chrono_literals;

class ExecutiveTest : public ::testing::Test {
 protected:
  void SetUp() override { violations = violationCount(); }
  void TearDown() override { shutdownExecutive(); }
  uint64_t newViolations() const { return violationCount() - violations; }
  uint64_t violations = 0;
};

TEST_F(ExecutiveTest, ANotificationEventReleasesEveryWaiterAndStaysSignalled) {
  Event event;
  keInitializeEvent(&event, NotificationEvent, false);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (keWaitForSingleObject(&event, Executive, KernelMode, false, nullptr) == STATUS_SUCCESS) ++released;
    });
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(keSetEvent(&event), 0);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), 3);
  EXPECT_EQ(keReadStateEvent(&event), 1);
  EXPECT_EQ(keResetEvent(&event), 1);
  EXPECT_EQ(keResetEvent(&event), 0);
}

TEST_F(ExecutiveTest, ASynchronizationEventReleasesOneWaitAndClearsItself) {
  Event event;
  keInitializeEvent(&event, SynchronizationEvent, true);
  const int64_t poll = 0;
  EXPECT_EQ(keWaitForSingleObject(&event, Executive, KernelMode, false, &poll), STATUS_SUCCESS);
  EXPECT_EQ(keWaitForSingleObject(&event, Executive, KernelMode, false, &poll), STATUS_TIMEOUT);
  keSetEvent(&event);
  keSetEvent(&event);  // two signals before a wait count once
  EXPECT_EQ(keWaitForSingleObject(&event, Executive, KernelMode, false, &poll), STATUS_SUCCESS);
  EXPECT_EQ(keWaitForSingleObject(&event, Executive, KernelMode, false, &poll), STATUS_TIMEOUT);
}

TEST_F(ExecutiveTest, WaitAnyAnswersTheLowestSignalledIndexAndWaitAllNeedsEvery) {
  Event first;
  Event second;
  keInitializeEvent(&first, SynchronizationEvent, false);
  keInitializeEvent(&second, NotificationEvent, true);
  DispatcherObject* objects[] = {&first, &second};
  const int64_t poll = 0;
  EXPECT_EQ(keWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, false, &poll), STATUS_WAIT_0 + 1);
  EXPECT_EQ(keWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, false, &poll), STATUS_TIMEOUT);
  keSetEvent(&first);
  EXPECT_EQ(keWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, false, &poll), STATUS_WAIT_0);
  keSetEvent(&first);
  EXPECT_EQ(keWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, false, &poll), STATUS_WAIT_0);
  EXPECT_EQ(keReadStateEvent(&first), 0);  // consumed by the wait
}

TEST_F(ExecutiveTest, ARelativeTimeOutEndsTheWait) {
  Event event;
  keInitializeEvent(&event, NotificationEvent, false);
  const int64_t timeout = relativeMilliseconds(60);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(keWaitForSingleObject(&event, Executive, KernelMode, false, &timeout), STATUS_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 55ms);
}

TEST_F(ExecutiveTest, AWaitAtDispatchLevelIsAViolationThatOnlyPolls) {
  Event event;
  keInitializeEvent(&event, NotificationEvent, false);
  Irql old;
  keRaiseIrql(DISPATCH_LEVEL, &old);
  EXPECT_EQ(keWaitForSingleObject(&event, Executive, KernelMode, false, nullptr), STATUS_TIMEOUT);
  keLowerIrql(old);
  EXPECT_EQ(newViolations(), 1u);
  EXPECT_EQ(keGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(ExecutiveTest, SpinLocksRaiseToDispatchLevelAndReportMisuse) {
  SpinLock lock;
  keInitializeSpinLock(&lock);
  Irql old;
  keAcquireSpinLock(&lock, &old);
  EXPECT_EQ(keGetCurrentIrql(), DISPATCH_LEVEL);
  keAcquireSpinLockAtDpcLevel(&lock);  // taken twice: reported, not a hang
  EXPECT_EQ(newViolations(), 1u);
  keReleaseSpinLock(&lock, old);
  EXPECT_EQ(keGetCurrentIrql(), PASSIVE_LEVEL);
  keAcquireSpinLockAtDpcLevel(&lock);  // below dispatch level
  keReleaseSpinLockFromDpcLevel(&lock);
  EXPECT_EQ(newViolations(), 2u);
}

TEST_F(ExecutiveTest, PoolBlocksAreCountedPerTag) {
  constexpr uint32_t tag = poolTag("Test");
  const PoolUsage before = poolUsage(tag);
  void* first = exAllocatePoolWithTag(NonPagedPool, 100, tag);
  void* second = exAllocatePoolWithTag(PagedPool, 28, tag);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(poolUsage(tag).outstandingBlocks, before.outstandingBlocks + 2);
  EXPECT_EQ(poolUsage(tag).outstandingBytes, before.outstandingBytes + 128);
  exFreePoolWithTag(first, tag);
  exFreePool(second);
  EXPECT_EQ(poolUsage(tag).outstandingBlocks, before.outstandingBlocks);
  EXPECT_EQ(poolTagText(tag), "Test");
  EXPECT_EQ(newViolations(), 0u);
}

TEST_F(ExecutiveTest, PoolMisuseIsReported) {
  constexpr uint32_t tag = poolTag("Test");
  void* block = exAllocatePoolWithTag(NonPagedPool, 8, tag);
  exFreePoolWithTag(block, poolTag("Othr"));
  EXPECT_EQ(newViolations(), 1u);
  Irql old;
  keRaiseIrql(DISPATCH_LEVEL, &old);
  void* paged = exAllocatePoolWithTag(PagedPool, 8, tag);
  keLowerIrql(old);
  exFreePool(paged);
  EXPECT_EQ(newViolations(), 2u);
}

TEST_F(ExecutiveTest, InjectedFailuresHitTheChosenAllocation) {
  constexpr uint32_t tag = poolTag("Fail");
  injectPoolFailure(tag, 1);
  void* first = exAllocatePoolWithTag(NonPagedPool, 8, tag);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(exAllocatePoolWithTag(NonPagedPool, 8, tag), nullptr);
  void* third = exAllocatePoolWithTag(NonPagedPool, 8, tag);
  EXPECT_NE(third, nullptr);
  exFreePool(first);
  exFreePool(third);
  clearPoolFailures();
}

class CountedObject : public ObjectBody {
 public:
  explicit CountedObject(int* deleted) : ObjectBody(ObjectType::Device), deleted_(deleted) {}
  ~CountedObject() override { ++*deleted_; }

 private:
  int* deleted_;
};

TEST_F(ExecutiveTest, HandlesHoldReferencesOfTheirType) {
  int deleted = 0;
  auto* object = new CountedObject(&deleted);
  Handle handle = obInsertHandle(object);
  obDereferenceObject(object);  // the handle keeps it
  EXPECT_EQ(deleted, 0);
  void* found = nullptr;
  EXPECT_EQ(obReferenceObjectByHandle(handle, 0, ObjectType::File, KernelMode, &found, nullptr),
            STATUS_OBJECT_TYPE_MISMATCH);
  ASSERT_EQ(obReferenceObjectByHandle(handle, 0, ObjectType::Device, KernelMode, &found, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(found, object);
  EXPECT_EQ(zwClose(handle), STATUS_SUCCESS);
  EXPECT_EQ(zwClose(handle), STATUS_INVALID_HANDLE);
  EXPECT_EQ(deleted, 0);
  obDereferenceObject(static_cast<CountedObject*>(found));
  EXPECT_EQ(deleted, 1);
}

TEST_F(ExecutiveTest, ASystemThreadRunsAtPassiveLevelAndItsObjectIsSignalledAtItsEnd) {
  static std::atomic<Irql> seen{DISPATCH_LEVEL};
  Handle handle = nullptr;
  ASSERT_EQ(psCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                 [](void*) {
                                   seen.store(keGetCurrentIrql());
                                   std::this_thread::sleep_for(30ms);
                                   psTerminateSystemThread(0x1234);
                                 },
                                 nullptr),
            STATUS_SUCCESS);
  void* object = nullptr;
  ASSERT_EQ(obReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, ObjectType::Thread, KernelMode, &object, nullptr),
            STATUS_SUCCESS);
  zwClose(handle);
  auto* thread = static_cast<ThreadObject*>(object);
  EXPECT_EQ(keWaitForSingleObject(thread, Executive, KernelMode, false, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(thread->exitStatus, 0x1234u);
  EXPECT_EQ(seen.load(), PASSIVE_LEVEL);
  obDereferenceObject(thread);
}

TEST_F(ExecutiveTest, WorkRunsAtPassiveLevelAndFlushWaitsForIt) {
  std::atomic<int> done{0};
  std::atomic<bool> passive{true};
  for (int i = 0; i < 6; ++i) {
    exQueueWork(i % 2 == 0 ? CriticalWorkQueue : DelayedWorkQueue, [&] {
      passive = passive && keGetCurrentIrql() == PASSIVE_LEVEL;
      std::this_thread::sleep_for(10ms);
      ++done;
    });
  }
  exFlushWorkQueues();
  EXPECT_EQ(done.load(), 6);
  EXPECT_TRUE(passive.load());
}

TEST_F(ExecutiveTest, WorkOnTheCriticalQueueMayRunSideBySide) {
  std::atomic<int> running{0};
  std::atomic<int> most{0};
  for (int i = 0; i < 4; ++i) {
    exQueueWork(CriticalWorkQueue, [&] {
      const int now = ++running;
      most = std::max(most.load(), now);
      std::this_thread::sleep_for(50ms);
      --running;
    });
    std::this_thread::sleep_for(5ms);
  }
  exFlushWorkQueues();
  EXPECT_GE(most.load(), 2);
}

}  // namespace
}  // namespace platform::wdm
