#pragma once
// The message box of a failed registration. The driver has no window layer:
// the message goes to standard error and to the event log, so that a
// registration tool's user and the machine's log both see it.

void showRegistrationMessage(const char16_t* text, const char16_t* caption);
