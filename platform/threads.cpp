#include "platform/threads.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>

#include "platform/apc.h"
#include "platform/errors.h"
#include "platform/events.h"

namespace platform {

namespace {

thread_local int t_priority = THREAD_PRIORITY_NORMAL;

class ThreadObject final : public KernelObject {
 public:
  ThreadObject(std::shared_ptr<EventObject> finished, std::shared_ptr<EventObject> resume, ThreadProcedure procedure)
      : finished_(std::move(finished)), resume_(std::move(resume)), procedure_(std::move(procedure)) {}

  int readinessFd() const override { return finished_->fd(); }
  bool tryAcquire() override { return finished_->isSignalled(); }

  void run() {
    currentApcQueue();  // registered before anyone learns the id, so calls can be queued to it
    id_.store(currentThreadId());
    id_.notify_all();
    if (resume_) waitForSignal(*resume_);
    exitCode_.store(procedure_());
    procedure_ = nullptr;
    finished_->set();
  }

  bool resume() { return !resume_ || resume_->set(); }
  uint32_t exitCode() const { return finished_->isSignalled() ? exitCode_.load() : STILL_ACTIVE; }
  uint32_t id() const { return id_.load(); }
  void waitUntilStarted() const { id_.wait(0); }

 private:
  static void waitForSignal(const EventObject& event) {
    pollfd p{event.fd(), POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
  }

  std::shared_ptr<EventObject> finished_;
  std::shared_ptr<EventObject> resume_;
  ThreadProcedure procedure_;
  std::atomic<uint32_t> exitCode_{0};
  std::atomic<uint32_t> id_{0};
};

void* threadMain(void* arg) {
  auto* holder = static_cast<std::shared_ptr<ThreadObject>*>(arg);
  std::shared_ptr<ThreadObject> self = std::move(*holder);
  delete holder;
  self->run();
  return nullptr;
}

int nicenessFor(int priority) {
  if (priority >= THREAD_PRIORITY_TIME_CRITICAL) return -20;
  if (priority <= THREAD_PRIORITY_IDLE) return 19;
  return -priority * 5;
}

// Addressed by kernel thread id, which stays harmless once the thread has ended.
void applyPriority(pid_t tid, int priority) {
  sched_param param{};
  if (priority >= THREAD_PRIORITY_TIME_CRITICAL) {
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    if (sched_setscheduler(tid, SCHED_FIFO, &param) == 0) return;
  }
  param.sched_priority = 0;
  sched_setscheduler(tid, SCHED_OTHER, &param);
  // Per-thread niceness; a refused raise keeps the current value.
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nicenessFor(priority));
}

}  // namespace

uint32_t currentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

Handle createThread(size_t stackSize, ThreadProcedure procedure, uint32_t creationFlags, uint32_t* threadId) {
  if (!procedure) {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto finished = EventObject::create(true, false);
  std::shared_ptr<EventObject> resume;
  if ((creationFlags & CREATE_SUSPENDED) != 0) resume = EventObject::create(true, false);
  if (!finished || ((creationFlags & CREATE_SUSPENDED) != 0 && !resume)) return nullptr;
  auto object = std::make_shared<ThreadObject>(std::move(finished), std::move(resume), std::move(procedure));

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) {
    const size_t minimum = PTHREAD_STACK_MIN;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t size = stackSize < minimum ? minimum : stackSize;
    size = (size + page - 1) / page * page;
    pthread_attr_setstacksize(&attr, size);
  }
  auto* holder = new std::shared_ptr<ThreadObject>(object);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, threadMain, holder);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete holder;
    setLastErrorFromErrno(rc);
    if (threadId != nullptr) *threadId = 0;
    return nullptr;
  }
  object->waitUntilStarted();
  if (threadId != nullptr) *threadId = object->id();
  return insertHandle(std::move(object));
}

bool resumeThread(Handle thread) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object) {
    setLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return object->resume();
}

bool getExitCodeThread(Handle thread, uint32_t* exitCode) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object || exitCode == nullptr) {
    setLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return false;
  }
  *exitCode = object->exitCode();
  return true;
}

uint32_t threadIdOf(Handle thread) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object) {
    setLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return object->id();
}

bool setThreadPriority(Handle thread, int priority) {
  auto object = lookupHandleAs<ThreadObject>(thread);
  if (!object) {
    setLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (object->exitCode() != STILL_ACTIVE) return true;
  applyPriority(static_cast<pid_t>(object->id()), priority);
  return true;
}

bool setCurrentThreadPriority(int priority) {
  applyPriority(static_cast<pid_t>(currentThreadId()), priority);
  t_priority = priority;
  return true;
}

int currentThreadPriority() { return t_priority; }

bool currentThreadIsRealTime() {
  int policy;
  sched_param param{};
  return pthread_getschedparam(pthread_self(), &policy, &param) == 0 && (policy == SCHED_FIFO || policy == SCHED_RR);
}

}  // namespace platform
