#include "device-access/wn_waitable_timer.h"

#include "platform/errors.h"
#include "platform/timers.h"

namespace {
void forwardToCallback(void* argument, uint32_t lowValue, uint32_t highValue) {
  static_cast<WnWaitableTimerCallbackInterface*>(argument)->onTimer(lowValue, highValue);
}
}  // namespace

WnWaitableTimer::~WnWaitableTimer() {
  cancel();
  closeHandle();
}

uint32_t WnWaitableTimer::create(bool manualReset, const void* /*securityAttributes*/, const char16_t* name) {
  if (handle_ != nullptr) {
    cancel();
    closeHandle();
  }
  handle_ = platform::createWaitableTimer(manualReset, name);
  return handle_ != nullptr ? platform::ERROR_SUCCESS : platform::lastError();
}

uint32_t WnWaitableTimer::set(int32_t periodMs, WnWaitableTimerCallbackInterface* callback, bool resume) {
  if (periodMs <= 0) return platform::ERROR_INVALID_PARAMETER;
  const int64_t dueTime = -static_cast<int64_t>(periodMs);
  const bool armed = platform::setWaitableTimer(handle_, dueTime, periodMs, callback != nullptr ? forwardToCallback : nullptr,
                                                callback, resume);
  return armed ? platform::ERROR_SUCCESS : platform::lastError();
}

uint32_t WnWaitableTimer::cancel() {
  if (handle_ == nullptr) return platform::ERROR_SUCCESS;
  return platform::cancelWaitableTimer(handle_) ? platform::ERROR_SUCCESS : platform::lastError();
}
