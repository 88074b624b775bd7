#pragma once
// Asynchronous procedure calls: work queued to one thread and run by that
// thread only while it waits alertably.

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class ApcQueue;

// The calling thread's queue (created on first use, released when the thread ends).
std::shared_ptr<ApcQueue> currentApcQueue();

// Queues a call to a thread's queue. Returns false when the thread has ended.
bool queueApc(const std::weak_ptr<ApcQueue>& queue, std::function<void()> call);

// Queues a call to the thread with the given identifier (false, last error 6,
// when no such thread of this process is alive).
bool queueApcToThread(uint32_t threadId, std::function<void()> call);

class ApcQueue {
 public:
  ApcQueue();
  ~ApcQueue();
  ApcQueue(const ApcQueue&) = delete;
  ApcQueue& operator=(const ApcQueue&) = delete;

  void push(std::function<void()> call);
  // Runs every queued call; returns how many ran.
  int runAll();
  bool pending() const;
  // Readable while calls are queued.
  int wakeFd() const { return wakeFd_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  int wakeFd_;
};

}  // namespace platform
