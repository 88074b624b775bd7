#pragma once
// A thread owned by one object, running a callback interface.

#include <cstddef>
#include <cstdint>

#include "device-access/wn_handle.h"

class WnThreadCallbackInterface {
 public:
  virtual uint32_t run() = 0;

 protected:
  ~WnThreadCallbackInterface() = default;
};

// Forwards run() to a member function of its owner. Embedded in the owner;
// owns nothing.
template <typename Owner>
class WnThreadCallbackForwarderT final : public WnThreadCallbackInterface {
 public:
  using Method = uint32_t (Owner::*)();
  WnThreadCallbackForwarderT(Owner* owner, Method method) : owner_(owner), method_(method) {}
  uint32_t run() override { return (owner_->*method_)(); }

 private:
  Owner* owner_;
  Method method_;
};

class WnThread : public WnHandle {
 public:
  // Starts a thread whose procedure returns callback->run() as its exit code.
  // 183 when a thread is already held (it keeps running); on failure the
  // identifier is cleared and the system error returned.
  uint32_t start(WnThreadCallbackInterface* callback, size_t stackSize, uint32_t creationFlags);

  // 0 when no thread is held. Otherwise waits; any result other than the
  // signalled state (258 on time-out) is returned and the handle kept; when the
  // thread has ended the handle is closed and 0 returned.
  uint32_t wait(uint32_t milliseconds);

  uint32_t threadId() const { return threadId_; }

 private:
  uint32_t threadId_ = 0;
};
