#pragma once
// A lock that the owning thread may enter again (re-entrant), released once
// per entry.

#include <mutex>

namespace platform {

class CriticalSection {
 public:
  void enter() { mutex_.lock(); }
  bool tryEnter() { return mutex_.try_lock(); }
  void leave() { mutex_.unlock(); }

  // BasicLockable, so std::lock_guard and std::unique_lock work on it.
  void lock() { enter(); }
  void unlock() { leave(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for one scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.enter(); }
  ~CriticalSectionLock() { section_.leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace platform
