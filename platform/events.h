#pragma once
// Events: auto-reset (a wait consumes the signal; several signals before a wait
// wake one waiter once) and manual-reset (signalled until reset). An event is
// an eventfd, so it can be waited on together with other descriptors and
// passed to another process.

#include "platform/handles.h"
#include "platform/unique_fd.h"

namespace platform {

class EventObject final : public KernelObject {
 public:
  EventObject(UniqueFd fd, bool manualReset) : fd_(std::move(fd)), manualReset_(manualReset) {}

  // A new unnamed event; null with the last error set on failure.
  static std::shared_ptr<EventObject> create(bool manualReset, bool initialState);

  bool set();
  bool reset();
  bool isSignalled() const;
  bool manualReset() const { return manualReset_; }
  int fd() const { return fd_.get(); }

  int readinessFd() const override { return fd_.get(); }
  bool tryAcquire() override;

 private:
  UniqueFd fd_;
  bool manualReset_;
};

// Creates an unnamed event and returns its handle (null, last error set, on failure).
Handle createEvent(bool manualReset, bool initialState);

// Signals, or clears, the event; false with last error 6 for a handle that is
// not an event.
bool setEvent(Handle event);
bool resetEvent(Handle event);

// Wraps an event descriptor received from elsewhere (another process) into a
// handle of this process. Takes ownership of the descriptor.
Handle adoptEventFd(UniqueFd fd, bool manualReset);

// The event behind a handle, for passing its descriptor to another process.
std::shared_ptr<EventObject> eventFromHandle(Handle event);

}  // namespace platform
