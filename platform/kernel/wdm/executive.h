#pragma once
// The kernel executive as a driver running in the device host sees it: debug
// output, interrupt request levels, spin locks, dispatcher objects (events,
// threads) and waits, pool memory with tags, referenced objects and kernel
// handles, system threads and the system worker queues.
//
// Interrupt request level (IRQL) is kept per thread. Code at dispatch level
// must not wait: a wait with a time-out other than zero at dispatch level is
// reported as a violation (debug output and a counter that tests read) and
// only polls. Paged pool at dispatch level is a violation too.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/format.h"
#include "platform/kernel/wdm/ntstatus.h"

namespace platform::wdm {

// ---------------------------------------------------------------- debug output

// Writes to the kernel debugger: by default standard error, prefixed with the
// driver's name when one is set.
void dbgPrintText(std::string_view text);

template <typename... Args>
void dbgPrint(std::string_view format, const Args&... args) {
  dbgPrintText(platform::formatText(format, args...));
}

// Where debug output goes; null restores standard error. For tests and hosts.
void setDebugOutput(std::function<void(std::string_view)> sink);
void setDebugPrefix(std::string prefix);

// ---------------------------------------------------------------- IRQL

using Irql = uint8_t;
inline constexpr Irql PASSIVE_LEVEL = 0;
inline constexpr Irql APC_LEVEL = 1;
inline constexpr Irql DISPATCH_LEVEL = 2;

Irql keGetCurrentIrql();
// Raising to a lower level, or lowering to a higher one, is a violation.
void keRaiseIrql(Irql newIrql, Irql* oldIrql);
void keLowerIrql(Irql newIrql);

// Misuse found by the stand-ins (a wait at dispatch level, a spin lock taken
// twice, a pool block freed with the wrong tag). Each one is also written to
// the debug output with "*** " in front.
uint64_t violationCount();
void reportViolation(std::string_view what);

// ---------------------------------------------------------------- spin locks

struct SpinLock {
  std::mutex mutex;
  std::atomic<uint64_t> owner{0};  // thread holding it, for misuse checks
};

void keInitializeSpinLock(SpinLock* lock);
// Raises to dispatch level and takes the lock.
void keAcquireSpinLock(SpinLock* lock, Irql* oldIrql);
void keReleaseSpinLock(SpinLock* lock, Irql oldIrql);
// For callers already at dispatch level.
void keAcquireSpinLockAtDpcLevel(SpinLock* lock);
void keReleaseSpinLockFromDpcLevel(SpinLock* lock);

// ---------------------------------------------------------------- time

// 100-ns units of a monotonic clock shared by every process of the machine
// (CLOCK_MONOTONIC); the time stamps of kernel streaming use it too.
int64_t keQueryInterruptTime();
// A relative time-out of `milliseconds` in the form waits take (negative).
inline constexpr int64_t relativeMilliseconds(int64_t milliseconds) { return -milliseconds * 10000; }

// ---------------------------------------------------------------- dispatcher objects

struct WaitBlock;

// The common part of everything a thread can wait for.
class DispatcherObject {
 public:
  DispatcherObject() = default;
  DispatcherObject(const DispatcherObject&) = delete;
  DispatcherObject& operator=(const DispatcherObject&) = delete;

 protected:
  friend struct DispatcherAccess;
  bool autoReset_ = false;  // a satisfied wait clears the signal
  int32_t signalState_ = 0;
  std::vector<WaitBlock*> waiters_;
};

enum EventType { NotificationEvent = 0, SynchronizationEvent = 1 };

// A kernel event: notification events stay signalled until cleared,
// synchronization events release one waiter and clear themselves.
class Event : public DispatcherObject {};

void keInitializeEvent(Event* event, EventType type, bool signalled);
// Returns the previous state.
int32_t keSetEvent(Event* event, int32_t priorityIncrement = 0, bool wait = false);
int32_t keResetEvent(Event* event);
void keClearEvent(Event* event);
int32_t keReadStateEvent(Event* event);

enum WaitType { WaitAll = 0, WaitAny = 1 };
enum KProcessorMode { KernelMode = 0, UserMode = 1 };
inline constexpr uint32_t Executive = 0;  // the wait reason drivers give

// `timeout`: null waits without limit; negative is relative, in 100-ns units;
// zero only tests; positive is an absolute interrupt time. Returns
// STATUS_WAIT_0 + index of the satisfied object (WaitAny; the lowest index
// when several are signalled), STATUS_WAIT_0 (WaitAll) or STATUS_TIMEOUT.
NtStatus keWaitForSingleObject(DispatcherObject* object, uint32_t waitReason, KProcessorMode mode,
                               bool alertable, const int64_t* timeout);
NtStatus keWaitForMultipleObjects(uint32_t count, DispatcherObject* const objects[], WaitType type,
                                  uint32_t waitReason, KProcessorMode mode, bool alertable,
                                  const int64_t* timeout);

// Sleeps at passive level.
void keDelayExecutionThread(KProcessorMode mode, bool alertable, const int64_t* interval);

// ---------------------------------------------------------------- pool

enum PoolType { NonPagedPool = 0, PagedPool = 1 };

// A pool tag as it reads in memory: poolTag("MRLO").
constexpr uint32_t poolTag(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}
std::string poolTagText(uint32_t tag);

// Null when the allocation fails (injected failures included).
void* exAllocatePoolWithTag(PoolType pool, size_t bytes, uint32_t tag);
// Freeing with another tag than the block's is a violation (the block is freed).
void exFreePoolWithTag(void* block, uint32_t tag);
void exFreePool(void* block);

struct PoolUsage {
  uint64_t allocations = 0;  // since the counts were reset
  uint64_t frees = 0;
  uint64_t outstandingBlocks = 0;
  uint64_t outstandingBytes = 0;
};
PoolUsage poolUsage(uint32_t tag);
// Every tag that has blocks outstanding, with its usage.
std::vector<std::pair<uint32_t, PoolUsage>> outstandingPool();
void resetPoolCounts();  // allocations and frees back to zero; outstanding blocks stay

// Makes the allocation of `tag` after `skip` successful ones fail, once.
void injectPoolFailure(uint32_t tag, uint32_t skip = 0);
void clearPoolFailures();

// ---------------------------------------------------------------- objects and handles

enum class ObjectType { Device, File, Thread, Driver };

// A referenced object of the object manager. Created with one reference; the
// last dereference deletes it.
class ObjectBody {
 public:
  explicit ObjectBody(ObjectType type) : type_(type) {}
  virtual ~ObjectBody() = default;
  ObjectBody(const ObjectBody&) = delete;
  ObjectBody& operator=(const ObjectBody&) = delete;

  ObjectType objectType() const { return type_; }
  int32_t referenceCount() const { return references_.load(); }

 protected:
  // Runs when the last reference goes, before the object is deleted (a file
  // object sends its cleanup and close requests here).
  virtual void deleteProcedure() {}

 private:
  friend void obReferenceObject(ObjectBody* object);
  friend void obDereferenceObject(ObjectBody* object);
  ObjectType type_;
  std::atomic<int32_t> references_{1};
};

void obReferenceObject(ObjectBody* object);
void obDereferenceObject(ObjectBody* object);

using Handle = void*;

// Enters a reference to `object` into the kernel handle table (the table takes
// a reference of its own).
Handle obInsertHandle(ObjectBody* object);
// A referenced object of the wanted type; STATUS_INVALID_HANDLE for a handle
// the table does not hold, STATUS_OBJECT_TYPE_MISMATCH for another type.
NtStatus obReferenceObjectByHandle(Handle handle, uint32_t desiredAccess, ObjectType type, KProcessorMode mode,
                                   void** object, void* handleInformation);
// Drops the handle's reference; STATUS_INVALID_HANDLE for an unknown handle.
NtStatus zwClose(Handle handle);
size_t kernelHandleCount();

inline constexpr uint32_t THREAD_ALL_ACCESS = 0x1FFFFF;
inline constexpr uint32_t FILE_READ_DATA = 1;
inline constexpr uint32_t FILE_WRITE_DATA = 2;
inline constexpr uint32_t GENERIC_READ = 0x80000000;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000;

// ---------------------------------------------------------------- system threads

// A thread object: waitable, signalled when the thread has ended.
class ThreadObject : public ObjectBody, public DispatcherObject {
 public:
  ThreadObject() : ObjectBody(ObjectType::Thread) {}
  NtStatus exitStatus = STATUS_PENDING;
};

using KStartRoutine = void (*)(void* context);

// Starts `routine` at passive level on a new thread; `threadHandle` receives a
// kernel handle of its thread object.
NtStatus psCreateSystemThread(Handle* threadHandle, uint32_t desiredAccess, void* objectAttributes,
                              Handle processHandle, void* clientId, KStartRoutine routine, void* context);
// Records the thread's exit status. The routine returns after calling it.
NtStatus psTerminateSystemThread(NtStatus exitStatus);
// System threads that have not ended yet.
size_t runningSystemThreads();

// ---------------------------------------------------------------- worker queues

enum WorkQueueType { CriticalWorkQueue = 0, DelayedWorkQueue = 1 };

// Runs `work` at passive level on a thread of the queue. The critical queue has
// four threads and the delayed queue two, so items of one queue may overlap.
void exQueueWork(WorkQueueType queue, std::function<void()> work);
// Waits until both queues are empty and idle.
void exFlushWorkQueues();

// Ends the executive's own threads after waiting for queued work and system
// threads. The next use starts them again. For driver unload and tests.
void shutdownExecutive();

}  // namespace platform::wdm
