#pragma once
// A waitable timer owned by one object, with an optional completion callback
// that runs on the arming thread during its alertable waits.

#include <cstdint>

#include "device-access/wn_handle.h"

class WnWaitableTimerCallbackInterface {
 public:
  // The two words of the timer's value at expiry.
  virtual void onTimer(uint32_t lowValue, uint32_t highValue) = 0;

 protected:
  ~WnWaitableTimerCallbackInterface() = default;
};

// Forwards onTimer() to a member function of its owner. Embedded in the owner;
// owns nothing.
template <typename Owner>
class WnWaitableTimerCallbackForwarderT final : public WnWaitableTimerCallbackInterface {
 public:
  using Method = void (Owner::*)(uint32_t, uint32_t);
  WnWaitableTimerCallbackForwarderT(Owner* owner, Method method) : owner_(owner), method_(method) {}
  void onTimer(uint32_t lowValue, uint32_t highValue) override { (owner_->*method_)(lowValue, highValue); }

 private:
  Owner* owner_;
  Method method_;
};

class WnWaitableTimer : public WnHandle {
 public:
  ~WnWaitableTimer() override;

  // Cancels and closes a held timer (failures ignored), then creates one.
  // Returns 0 or the system error. The security attributes are not used.
  uint32_t create(bool manualReset, const void* securityAttributes, const char16_t* name);

  // Arms the timer with a period in milliseconds; the first expiry follows
  // almost at once (the due time is the period's value in 100-ns units). 87 for
  // a period that is not greater than 0, leaving the timer as it was.
  uint32_t set(int32_t periodMs, WnWaitableTimerCallbackInterface* callback, bool resume);

  // 0 when no timer is held or cancelling succeeded, else the system error.
  uint32_t cancel();
};
