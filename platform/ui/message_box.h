#pragma once
// Message boxes through one function, which tests can answer.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/ui/types.h"

namespace platform::ui {

// Buttons (low four bits) and icon.
inline constexpr uint32_t MB_OK = 0x00;
inline constexpr uint32_t MB_OKCANCEL = 0x01;
inline constexpr uint32_t MB_YESNO = 0x04;
inline constexpr uint32_t MB_ICONERROR = 0x10;
inline constexpr uint32_t MB_ICONQUESTION = 0x20;
inline constexpr uint32_t MB_ICONWARNING = 0x30;
inline constexpr uint32_t MB_ICONINFORMATION = 0x40;

struct MessageBoxRequest {
  WindowHandle owner;
  std::u16string text;
  std::u16string caption;
  uint32_t type = MB_OK;
};

// Shows a modal message box owned by `owner` and returns the button the
// user pressed (IDOK, IDCANCEL, IDYES, IDNO).
int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption, uint32_t type);

// While set, message boxes are not shown: the responder answers them.
using MessageBoxResponder = std::function<int(const MessageBoxRequest&)>;
void setMessageBoxResponder(MessageBoxResponder responder);

}  // namespace platform::ui
