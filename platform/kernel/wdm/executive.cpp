#include "platform/kernel/wdm/executive.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <thread>
#include <unordered_map>
#include <utility>

namespace platform::wdm {

// ================================================================ debug output

namespace {

struct DebugOutput {
  std::mutex mutex;
  std::function<void(std::string_view)> sink;
  std::string prefix;
};

DebugOutput& debugOutput() {
  static DebugOutput output;
  return output;
}

}  // namespace

void dbgPrintText(std::string_view text) {
  DebugOutput& output = debugOutput();
  std::lock_guard lock(output.mutex);
  if (output.sink) {
    output.sink(text);
    return;
  }
  std::string line = output.prefix.empty() ? std::string() : output.prefix + ": ";
  line.append(text);
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void setDebugOutput(std::function<void(std::string_view)> sink) {
  std::lock_guard lock(debugOutput().mutex);
  debugOutput().sink = std::move(sink);
}

void setDebugPrefix(std::string prefix) {
  std::lock_guard lock(debugOutput().mutex);
  debugOutput().prefix = std::move(prefix);
}

// ================================================================ IRQL

namespace {

thread_local Irql currentIrql = PASSIVE_LEVEL;
std::atomic<uint64_t> violations{0};

uint64_t currentThreadKey() {
  static std::atomic<uint64_t> next{1};
  thread_local uint64_t key = next.fetch_add(1);
  return key;
}

}  // namespace

uint64_t violationCount() { return violations.load(); }

void reportViolation(std::string_view what) {
  violations.fetch_add(1);
  dbgPrint("*** %s\n", std::string(what));
}

Irql keGetCurrentIrql() { return currentIrql; }

void keRaiseIrql(Irql newIrql, Irql* oldIrql) {
  if (newIrql < currentIrql) reportViolation("KeRaiseIrql to a lower level");
  if (oldIrql != nullptr) *oldIrql = currentIrql;
  currentIrql = newIrql;
}

void keLowerIrql(Irql newIrql) {
  if (newIrql > currentIrql) reportViolation("KeLowerIrql to a higher level");
  currentIrql = newIrql;
}

// ================================================================ spin locks

void keInitializeSpinLock(SpinLock* lock) { lock->owner.store(0); }

void keAcquireSpinLockAtDpcLevel(SpinLock* lock) {
  if (currentIrql < DISPATCH_LEVEL) reportViolation("spin lock taken below dispatch level");
  if (lock->owner.load() == currentThreadKey()) {
    reportViolation("spin lock taken twice by one thread");
    return;  // taking it again would hang the thread for good
  }
  lock->mutex.lock();
  lock->owner.store(currentThreadKey());
}

void keReleaseSpinLockFromDpcLevel(SpinLock* lock) {
  if (lock->owner.load() != currentThreadKey()) {
    reportViolation("spin lock released by a thread that does not hold it");
    return;
  }
  lock->owner.store(0);
  lock->mutex.unlock();
}

void keAcquireSpinLock(SpinLock* lock, Irql* oldIrql) {
  keRaiseIrql(std::max<Irql>(currentIrql, DISPATCH_LEVEL), oldIrql);
  keAcquireSpinLockAtDpcLevel(lock);
}

void keReleaseSpinLock(SpinLock* lock, Irql oldIrql) {
  keReleaseSpinLockFromDpcLevel(lock);
  keLowerIrql(oldIrql);
}

// ================================================================ time

int64_t keQueryInterruptTime() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
}

// ================================================================ dispatcher objects

struct WaitBlock {
  std::condition_variable changed;
};

// One lock for all dispatcher objects, as the kernel's dispatcher lock: a
// wait looks at several objects at once.
struct DispatcherAccess {
  static std::mutex& lock() {
    static std::mutex mutex;
    return mutex;
  }
  static bool signalled(const DispatcherObject* object) { return object->signalState_ > 0; }
  static void consume(DispatcherObject* object) {
    if (object->autoReset_) object->signalState_ = 0;
  }
  static void signal(DispatcherObject* object) {
    object->signalState_ = 1;
    for (WaitBlock* waiter : object->waiters_) waiter->changed.notify_one();
  }
  static void setState(DispatcherObject* object, bool autoReset, int32_t state) {
    object->autoReset_ = autoReset;
    object->signalState_ = state;
  }
  static int32_t exchange(DispatcherObject* object, int32_t state) { return std::exchange(object->signalState_, state); }
  static int32_t state(const DispatcherObject* object) { return object->signalState_; }
  static void addWaiter(DispatcherObject* object, WaitBlock* block) { object->waiters_.push_back(block); }
  static void removeWaiter(DispatcherObject* object, WaitBlock* block) {
    auto& list = object->waiters_;
    list.erase(std::remove(list.begin(), list.end(), block), list.end());
  }
};

void keInitializeEvent(Event* event, EventType type, bool signalled) {
  std::lock_guard lock(DispatcherAccess::lock());
  DispatcherAccess::setState(event, type == SynchronizationEvent, signalled ? 1 : 0);
}

int32_t keSetEvent(Event* event, int32_t, bool) {
  std::lock_guard lock(DispatcherAccess::lock());
  const int32_t previous = DispatcherAccess::state(event);
  DispatcherAccess::signal(event);
  return previous;
}

int32_t keResetEvent(Event* event) {
  std::lock_guard lock(DispatcherAccess::lock());
  return DispatcherAccess::exchange(event, 0);
}

void keClearEvent(Event* event) { keResetEvent(event); }

int32_t keReadStateEvent(Event* event) {
  std::lock_guard lock(DispatcherAccess::lock());
  return DispatcherAccess::state(event);
}

namespace {

using Clock = std::chrono::steady_clock;

// The moment a wait ends, or nullopt for no limit.
bool deadlineOf(const int64_t* timeout, Clock::time_point* deadline) {
  if (timeout == nullptr) return false;
  int64_t relative = *timeout;
  if (relative > 0) relative = -(relative - keQueryInterruptTime());  // absolute interrupt time
  *deadline = Clock::now() + std::chrono::nanoseconds(-std::min<int64_t>(relative, 0) * 100);
  return true;
}

// Under the dispatcher lock: the index of the object that satisfies the wait,
// or -1. A satisfied wait consumes the signal of auto-reset objects.
int trySatisfy(uint32_t count, DispatcherObject* const objects[], WaitType type) {
  if (type == WaitAny) {
    for (uint32_t i = 0; i < count; ++i) {
      if (DispatcherAccess::signalled(objects[i])) {
        DispatcherAccess::consume(objects[i]);
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!DispatcherAccess::signalled(objects[i])) return -1;
  }
  for (uint32_t i = 0; i < count; ++i) DispatcherAccess::consume(objects[i]);
  return 0;
}

}  // namespace

NtStatus keWaitForMultipleObjects(uint32_t count, DispatcherObject* const objects[], WaitType type, uint32_t,
                                  KProcessorMode, bool, const int64_t* timeout) {
  if (count == 0 || objects == nullptr) return STATUS_INVALID_PARAMETER;
  int64_t pollOnly = 0;
  if (currentIrql >= DISPATCH_LEVEL && (timeout == nullptr || *timeout != 0)) {
    reportViolation("wait with a time-out at dispatch level");
    timeout = &pollOnly;
  }
  Clock::time_point deadline;
  const bool limited = deadlineOf(timeout, &deadline);

  std::unique_lock lock(DispatcherAccess::lock());
  int index = trySatisfy(count, objects, type);
  if (index >= 0) return STATUS_WAIT_0 + static_cast<uint32_t>(index);
  if (limited && Clock::now() >= deadline) return STATUS_TIMEOUT;

  WaitBlock block;
  for (uint32_t i = 0; i < count; ++i) DispatcherAccess::addWaiter(objects[i], &block);
  for (;;) {
    if (limited) {
      if (block.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
        index = trySatisfy(count, objects, type);
        break;
      }
    } else {
      block.changed.wait(lock);
    }
    index = trySatisfy(count, objects, type);
    if (index >= 0) break;
  }
  for (uint32_t i = 0; i < count; ++i) DispatcherAccess::removeWaiter(objects[i], &block);
  return index >= 0 ? STATUS_WAIT_0 + static_cast<uint32_t>(index) : STATUS_TIMEOUT;
}

NtStatus keWaitForSingleObject(DispatcherObject* object, uint32_t waitReason, KProcessorMode mode, bool alertable,
                               const int64_t* timeout) {
  DispatcherObject* objects[] = {object};
  return keWaitForMultipleObjects(1, objects, WaitAny, waitReason, mode, alertable, timeout);
}

void keDelayExecutionThread(KProcessorMode, bool, const int64_t* interval) {
  if (currentIrql >= DISPATCH_LEVEL) {
    reportViolation("KeDelayExecutionThread at dispatch level");
    return;
  }
  Clock::time_point deadline;
  if (deadlineOf(interval, &deadline)) std::this_thread::sleep_until(deadline);
}

// ================================================================ pool

namespace {

constexpr uint64_t kBlockMagic = 0x4C4F4F50'4D44574EULL;  // "NWDMPOOL"

struct alignas(16) BlockHeader {
  uint64_t magic;
  uint32_t tag;
  uint32_t pool;
  uint64_t size;
  uint64_t reserved;
};
static_assert(sizeof(BlockHeader) % 16 == 0);

struct PoolState {
  std::mutex mutex;
  std::map<uint32_t, PoolUsage> usage;
  std::map<uint32_t, std::deque<uint32_t>> failures;  // per tag: successes to let pass before one failure
};

PoolState& poolState() {
  static PoolState state;
  return state;
}

}  // namespace

std::string poolTagText(uint32_t tag) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
    text.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  }
  return text;
}

void* exAllocatePoolWithTag(PoolType pool, size_t bytes, uint32_t tag) {
  if (pool == PagedPool && currentIrql >= DISPATCH_LEVEL) reportViolation("paged pool allocated at dispatch level");
  PoolState& state = poolState();
  {
    std::lock_guard lock(state.mutex);
    auto failure = state.failures.find(tag);
    if (failure != state.failures.end() && !failure->second.empty()) {
      if (failure->second.front() == 0) {
        failure->second.pop_front();
        return nullptr;
      }
      --failure->second.front();
    }
  }
  if (bytes > (size_t{1} << 40)) return nullptr;
  void* raw = std::aligned_alloc(alignof(BlockHeader), (sizeof(BlockHeader) + bytes + 15) / 16 * 16);
  if (raw == nullptr) return nullptr;
  auto* header = static_cast<BlockHeader*>(raw);
  *header = BlockHeader{kBlockMagic, tag, static_cast<uint32_t>(pool), bytes, 0};
  {
    std::lock_guard lock(state.mutex);
    PoolUsage& usage = state.usage[tag];
    ++usage.allocations;
    ++usage.outstandingBlocks;
    usage.outstandingBytes += bytes;
  }
  return header + 1;
}

void exFreePoolWithTag(void* block, uint32_t tag) {
  if (block == nullptr) {
    reportViolation("ExFreePool of a null pointer");
    return;
  }
  auto* header = static_cast<BlockHeader*>(block) - 1;
  if (header->magic != kBlockMagic) {
    reportViolation("ExFreePool of memory that is not a pool block (or freed twice)");
    return;
  }
  if (tag != 0 && header->tag != tag) {
    reportViolation("pool block of tag " + poolTagText(header->tag) + " freed with tag " + poolTagText(tag));
  }
  {
    PoolState& state = poolState();
    std::lock_guard lock(state.mutex);
    PoolUsage& usage = state.usage[header->tag];
    ++usage.frees;
    --usage.outstandingBlocks;
    usage.outstandingBytes -= header->size;
  }
  header->magic = 0;
  std::free(header);
}

void exFreePool(void* block) { exFreePoolWithTag(block, 0); }

PoolUsage poolUsage(uint32_t tag) {
  PoolState& state = poolState();
  std::lock_guard lock(state.mutex);
  auto it = state.usage.find(tag);
  return it == state.usage.end() ? PoolUsage{} : it->second;
}

std::vector<std::pair<uint32_t, PoolUsage>> outstandingPool() {
  PoolState& state = poolState();
  std::lock_guard lock(state.mutex);
  std::vector<std::pair<uint32_t, PoolUsage>> result;
  for (const auto& [tag, usage] : state.usage) {
    if (usage.outstandingBlocks != 0) result.emplace_back(tag, usage);
  }
  return result;
}

void resetPoolCounts() {
  PoolState& state = poolState();
  std::lock_guard lock(state.mutex);
  for (auto& [tag, usage] : state.usage) usage.allocations = usage.frees = 0;
}

void injectPoolFailure(uint32_t tag, uint32_t skip) {
  PoolState& state = poolState();
  std::lock_guard lock(state.mutex);
  state.failures[tag].push_back(skip);
}

void clearPoolFailures() {
  PoolState& state = poolState();
  std::lock_guard lock(state.mutex);
  state.failures.clear();
}

// ================================================================ objects and handles

void obReferenceObject(ObjectBody* object) {
  if (object == nullptr) {
    reportViolation("ObReferenceObject of a null object");
    return;
  }
  object->references_.fetch_add(1);
}

void obDereferenceObject(ObjectBody* object) {
  if (object == nullptr) {
    reportViolation("ObDereferenceObject of a null object");
    return;
  }
  const int32_t left = object->references_.fetch_sub(1) - 1;
  if (left < 0) reportViolation("object dereferenced more often than referenced");
  if (left == 0) {
    object->deleteProcedure();
    delete object;
  }
}

namespace {

struct HandleTable {
  std::mutex mutex;
  uintptr_t next = 0;
  std::unordered_map<uintptr_t, ObjectBody*> objects;
};

HandleTable& handleTable() {
  static HandleTable table;
  return table;
}

// Kernel handles have the top bit set, so they never equal a user handle.
constexpr uintptr_t kKernelHandleBit = uintptr_t{1} << (sizeof(uintptr_t) * 8 - 1);

}  // namespace

Handle obInsertHandle(ObjectBody* object) {
  obReferenceObject(object);
  HandleTable& table = handleTable();
  std::lock_guard lock(table.mutex);
  table.next += 4;
  const uintptr_t value = kKernelHandleBit | table.next;
  table.objects[value] = object;
  return reinterpret_cast<Handle>(value);
}

NtStatus obReferenceObjectByHandle(Handle handle, uint32_t, ObjectType type, KProcessorMode, void** object, void*) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  *object = nullptr;
  HandleTable& table = handleTable();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.objects.end()) return STATUS_INVALID_HANDLE;
  if (it->second->objectType() != type) return STATUS_OBJECT_TYPE_MISMATCH;
  obReferenceObject(it->second);
  *object = dynamic_cast<void*>(it->second);
  return STATUS_SUCCESS;
}

NtStatus zwClose(Handle handle) {
  ObjectBody* object = nullptr;
  {
    HandleTable& table = handleTable();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) return STATUS_INVALID_HANDLE;
    object = it->second;
    table.objects.erase(it);
  }
  obDereferenceObject(object);
  return STATUS_SUCCESS;
}

size_t kernelHandleCount() {
  HandleTable& table = handleTable();
  std::lock_guard lock(table.mutex);
  return table.objects.size();
}

// ================================================================ system threads

namespace {

struct ThreadRegistry {
  std::mutex mutex;
  std::condition_variable ended;
  size_t running = 0;
  // Every thread is joined before the executive shuts down, so that no thread
  // is still leaving code of a module that is being unloaded.
  std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> threads;

  ~ThreadRegistry() {
    for (auto& thread : threads) thread.first.detach();
  }

  void joinFinished(std::unique_lock<std::mutex>& lock) {
    std::vector<std::thread> done;
    auto split = std::partition(threads.begin(), threads.end(), [](const auto& t) { return !t.second->load(); });
    for (auto it = split; it != threads.end(); ++it) done.push_back(std::move(it->first));
    threads.erase(split, threads.end());
    lock.unlock();
    for (auto& thread : done) thread.join();
    lock.lock();
  }
};

ThreadRegistry& threadRegistry() {
  static ThreadRegistry registry;
  return registry;
}

thread_local ThreadObject* currentSystemThread = nullptr;

}  // namespace

NtStatus psCreateSystemThread(Handle* threadHandle, uint32_t, void*, Handle, void*, KStartRoutine routine,
                              void* context) {
  if (threadHandle == nullptr || routine == nullptr) return STATUS_INVALID_PARAMETER;
  auto* thread = new ThreadObject();
  {
    std::lock_guard lock(DispatcherAccess::lock());
    DispatcherAccess::setState(thread, false, 0);
  }
  obReferenceObject(thread);  // held by the running thread
  ThreadRegistry& registry = threadRegistry();
  std::unique_lock lock(registry.mutex);
  registry.joinFinished(lock);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  try {
    registry.threads.emplace_back(std::thread([thread, routine, context, finished] {
                                    currentSystemThread = thread;
                                    routine(context);
                                    currentIrql = PASSIVE_LEVEL;
                                    {
                                      std::lock_guard dispatcher(DispatcherAccess::lock());
                                      if (thread->exitStatus == STATUS_PENDING) thread->exitStatus = STATUS_SUCCESS;
                                      DispatcherAccess::signal(thread);
                                    }
                                    obDereferenceObject(thread);
                                    ThreadRegistry& threads = threadRegistry();
                                    std::lock_guard ending(threads.mutex);
                                    --threads.running;
                                    finished->store(true);
                                    threads.ended.notify_all();
                                  }),
                                  finished);
  } catch (const std::system_error&) {
    lock.unlock();
    obDereferenceObject(thread);
    obDereferenceObject(thread);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  ++registry.running;
  lock.unlock();
  *threadHandle = obInsertHandle(thread);
  obDereferenceObject(thread);  // the handle holds it now
  return STATUS_SUCCESS;
}

NtStatus psTerminateSystemThread(NtStatus exitStatus) {
  if (currentSystemThread == nullptr) return STATUS_INVALID_PARAMETER;
  std::lock_guard lock(DispatcherAccess::lock());
  currentSystemThread->exitStatus = exitStatus;
  return STATUS_SUCCESS;
}

size_t runningSystemThreads() {
  std::lock_guard lock(threadRegistry().mutex);
  return threadRegistry().running;
}

// ================================================================ worker queues

namespace {

class WorkQueue {
 public:
  explicit WorkQueue(size_t threads) : size_(threads) {}
  ~WorkQueue() { shutdown(); }

  void queue(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(work));
    if (threads_.size() < size_ && idle_ == 0) threads_.emplace_back([this] { run(); });
    changed_.notify_one();
  }

  void flush() {
    std::unique_lock lock(mutex_);
    drained_.wait(lock, [&] { return items_.empty() && busy_ == 0; });
  }

  void shutdown() {
    std::vector<std::thread> threads;
    {
      std::unique_lock lock(mutex_);
      drained_.wait(lock, [&] { return items_.empty() && busy_ == 0; });
      stopping_ = true;
      changed_.notify_all();
      threads.swap(threads_);
    }
    for (auto& thread : threads) thread.join();
    std::lock_guard lock(mutex_);
    stopping_ = false;
    idle_ = 0;
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idle_;
      changed_.wait(lock, [&] { return stopping_ || !items_.empty(); });
      --idle_;
      if (items_.empty()) return;  // stopping
      std::function<void()> work = std::move(items_.front());
      items_.pop_front();
      ++busy_;
      lock.unlock();
      currentIrql = PASSIVE_LEVEL;
      work();
      if (currentIrql != PASSIVE_LEVEL) {
        reportViolation("work item returned above passive level");
        currentIrql = PASSIVE_LEVEL;
      }
      lock.lock();
      --busy_;
      if (items_.empty() && busy_ == 0) drained_.notify_all();
    }
  }

  const size_t size_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::condition_variable drained_;
  std::deque<std::function<void()>> items_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  size_t busy_ = 0;
  bool stopping_ = false;
};

WorkQueue& workQueue(WorkQueueType type) {
  static WorkQueue critical(4);
  static WorkQueue delayed(2);
  return type == CriticalWorkQueue ? critical : delayed;
}

}  // namespace

void exQueueWork(WorkQueueType queue, std::function<void()> work) { workQueue(queue).queue(std::move(work)); }

void exFlushWorkQueues() {
  // An item of one queue may queue into the other: flush until both are still.
  for (int round = 0; round < 4; ++round) {
    workQueue(CriticalWorkQueue).flush();
    workQueue(DelayedWorkQueue).flush();
  }
}

void shutdownExecutive() {
  exFlushWorkQueues();
  {
    ThreadRegistry& registry = threadRegistry();
    std::unique_lock lock(registry.mutex);
    if (!registry.ended.wait_for(lock, std::chrono::seconds(30), [&] { return registry.running == 0; })) {
      reportViolation("system threads still running at shutdown");
    } else {
      registry.joinFinished(lock);
    }
  }
  workQueue(CriticalWorkQueue).shutdown();
  workQueue(DelayedWorkQueue).shutdown();
}

}  // namespace platform::wdm
