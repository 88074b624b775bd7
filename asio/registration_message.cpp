#include "asio/registration_message.h"

#include <cstdio>

#include "platform/text.h"

void showRegistrationMessage(const char16_t* text, const char16_t* caption) {
  std::fprintf(stderr, "%s: %s\n", platform::toUtf8(caption).c_str(), platform::toUtf8(text).c_str());
  // TODO(event log): write the text to the event log once its stand-in is on main.
}
