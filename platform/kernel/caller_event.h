#pragma once
// A caller's event as the host holds it: the eventfd the caller handed over
// during a request. Signalling or resetting it never blocks the host thread
// that does it, whatever the caller does to the descriptor.

#include "platform/kernel/driver.h"
#include "platform/unique_fd.h"

namespace platform::kernel {

// Whether `fd` is an eventfd.
bool isEventFd(int fd);

class CallerEvent final : public KernelEvent {
 public:
  CallerEvent(UniqueFd fd, bool manualReset);
  // A full counter already means "signalled": nothing is written then.
  void set() override;
  void reset() override;
  bool manualReset() const override { return manualReset_; }

 private:
  UniqueFd fd_;
  bool manualReset_;
};

// How long a host thread may spend in one read or write of a caller's
// eventfd before it is interrupted (see caller_event.cpp).
inline constexpr long kCallerEventWaitLimitNanoseconds = 20'000'000;

}  // namespace platform::kernel
