#include "service/wn_event_log_writer.h"

#include "platform/errors.h"

WnEventLogHandle::~WnEventLogHandle() { close(); }

uint32_t WnEventLogHandle::open(const char16_t* sourceName) {
  close();
  handle_ = platform::registerEventSource(nullptr, sourceName);
  return handle_ == nullptr ? platform::lastError() : 0;
}

void WnEventLogHandle::close() {
  if (handle_ != nullptr) (void)platform::deregisterEventSource(handle_);
  handle_ = nullptr;
}

uint32_t WnEventLogWriter::report(uint16_t type, uint32_t eventId, const char16_t* text) {
  const char16_t* strings[] = {text};
  return platform::reportEvent(handle_, type, 0, eventId, nullptr, 1, 0, strings, nullptr) ? 0 : platform::lastError();
}
