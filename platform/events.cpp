#include "platform/events.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>

#include "platform/errors.h"

namespace platform {

std::shared_ptr<EventObject> EventObject::create(bool manualReset, bool initialState) {
  UniqueFd fd(::eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fd.valid()) {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  return std::make_shared<EventObject>(std::move(fd), manualReset);
}

bool EventObject::set() {
  const uint64_t one = 1;
  // A full counter (EAGAIN) is still signalled; nothing is lost.
  if (::write(fd_.get(), &one, sizeof one) < 0 && errno != EAGAIN) {
    setLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool EventObject::reset() {
  uint64_t count;
  if (::read(fd_.get(), &count, sizeof count) < 0 && errno != EAGAIN) {
    setLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool EventObject::isSignalled() const {
  pollfd p{fd_.get(), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

bool EventObject::tryAcquire() {
  if (manualReset_) return isSignalled();
  uint64_t count;
  return ::read(fd_.get(), &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

Handle createEvent(bool manualReset, bool initialState) {
  auto event = EventObject::create(manualReset, initialState);
  if (!event) return nullptr;
  return insertHandle(std::move(event));
}

std::shared_ptr<EventObject> eventFromHandle(Handle event) {
  auto object = lookupHandle(event);
  auto asEvent = std::dynamic_pointer_cast<EventObject>(object);
  if (!asEvent) setLastError(ERROR_INVALID_HANDLE);
  return asEvent;
}

bool setEvent(Handle event) {
  auto object = eventFromHandle(event);
  return object && object->set();
}

bool resetEvent(Handle event) {
  auto object = eventFromHandle(event);
  return object && object->reset();
}

Handle adoptEventFd(UniqueFd fd, bool manualReset) {
  if (!fd.valid()) {
    setLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return insertHandle(std::make_shared<EventObject>(std::move(fd), manualReset));
}

}  // namespace platform
