#include "asio/registration_message.h"

#include <cstdio>

#include "platform/event_log.h"
#include "platform/text.h"

void showRegistrationMessage(const char16_t* text, const char16_t* caption) {
  std::fprintf(stderr, "%s: %s\n", platform::toUtf8(caption).c_str(), platform::toUtf8(text).c_str());
  // The caption names the source; the machine's log keeps what the user may not have seen.
  platform::EventSourceHandle source = platform::registerEventSource(nullptr, caption);
  if (source == nullptr) return;
  const char16_t* strings[] = {text};
  platform::reportEvent(source, platform::EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
  platform::deregisterEventSource(source);
}
