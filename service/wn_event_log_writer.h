#pragma once
// The service's event log writer: an event source handle that reports
// informational and error events with one insertion string.

#include <cstdint>

#include "platform/event_log.h"
#include "platform/format.h"

// Event identifiers of the service's message table (each message is "%1\r\n").
inline constexpr uint32_t QUINTORSVC_MSG_INFO = 0x60070001;
inline constexpr uint32_t QUINTORSVC_MSG_WARNING = 0xA0070002;  // never written
inline constexpr uint32_t QUINTORSVC_MSG_ERROR = 0xE0070003;

// Owns the handle of a registered event source.
class WnEventLogHandle {
 public:
  WnEventLogHandle() = default;
  virtual ~WnEventLogHandle();
  WnEventLogHandle(const WnEventLogHandle&) = delete;
  WnEventLogHandle& operator=(const WnEventLogHandle&) = delete;

  // Registers the source on the local machine. 0 or the error.
  uint32_t open(const char16_t* sourceName);
  void close();
  bool isOpen() const { return handle_ != nullptr; }

 protected:
  platform::EventSourceHandle handle_ = nullptr;
};

class WnEventLogWriter : public WnEventLogHandle {
 public:
  static constexpr size_t kTextChars = 4096;

  // Formats the text (truncated to 4095 characters) and writes it as an
  // informational event. 0 or the error.
  template <typename... Args>
  uint32_t reportInfo(const char16_t* format, const Args&... args) {
    char16_t text[kTextChars];
    platform::formatText(text, kTextChars, format, args...);
    return report(platform::EVENTLOG_INFORMATION_TYPE, QUINTORSVC_MSG_INFO, text);
  }

  uint32_t reportError(const char16_t* text) { return report(platform::EVENTLOG_ERROR_TYPE, QUINTORSVC_MSG_ERROR, text); }

 private:
  uint32_t report(uint16_t type, uint32_t eventId, const char16_t* text);
};
