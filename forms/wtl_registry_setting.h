#pragma once
// The window placement of a frame, kept in the registry under the current
// user: "PosX", "PosY", "Width" and "Height" as REG_DWORD values of the
// program's settings key.

#include <string>
#include <string_view>

#include "platform/ui/types.h"

// Keeps a rectangle on a screen of `screen` size: left within 0 … W − 50, top
// within 0 … H − 50, right within 50 … W, bottom within 50 … H (lower bound
// first). A rectangle narrower or lower than 50 pixels, before or after
// that, becomes the 50 × 50 square in the middle of the screen.
platform::ui::Rect clampToScreen(const platform::ui::Rect& rect, const platform::ui::Size& screen);

// Reads the four values of `key` and moves `window` to the stored rectangle
// (through clampToScreen; shown as well when `show`). Nothing changes when a
// value is missing or not a 4-byte REG_DWORD. Returns whether it moved.
bool loadWindowPlacement(platform::ui::WindowHandle window, std::u16string_view key, bool show);

// Writes the window's rectangle (through clampToScreen) unless it is
// minimized; stops at the first failed write. Returns whether all were written.
bool saveWindowPlacement(platform::ui::WindowHandle window, std::u16string_view key);

// The mix-in of a frame class T (which has handle()).
template <class T>
class WtlRegistrySetting {
 public:
  explicit WtlRegistrySetting(std::u16string_view settingsKey) : settingsKey_(settingsKey) {}
  virtual ~WtlRegistrySetting() = default;

  bool loadPlacement(bool show = false) {
    return loadWindowPlacement(static_cast<T*>(this)->handle(), settingsKey_, show);
  }
  bool savePlacement() { return saveWindowPlacement(static_cast<T*>(this)->handle(), settingsKey_); }
  static platform::ui::Rect clampToScreen(const platform::ui::Rect& rect, const platform::ui::Size& screen) {
    return ::clampToScreen(rect, screen);
  }
  const std::u16string& settingsKey() const { return settingsKey_; }

 private:
  std::u16string settingsKey_;
};
