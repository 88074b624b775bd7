#pragma once
// Moves and sizes a dialog's controls when the dialog is resized, by a table
// of rules: a control grows with the dialog's width or height, or moves
// right or down with its right or bottom edge. The size the dialog had when
// the resizer was set up is its minimum: below it nothing moves further.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/ui/types.h"

namespace platform::ui {

class Dialog;

namespace resize {
inline constexpr uint32_t growWidth = 1u << 0;
inline constexpr uint32_t growHeight = 1u << 1;
inline constexpr uint32_t moveRight = 1u << 2;
inline constexpr uint32_t moveDown = 1u << 3;
}  // namespace resize

struct ResizeRule {
  int control;
  uint32_t flags;
};

class DialogResizer {
 public:
  // Remembers the dialog's present size and each ruled control's rectangle.
  void initialise(Dialog& dialog, std::span<const ResizeRule> rules);
  // Applies the rules for the dialog's present size.
  void resize(Dialog& dialog);
  Size minimumSize() const { return minimum_; }

 private:
  struct Placed {
    ResizeRule rule;
    Rect initial;
  };
  Size minimum_;
  std::vector<Placed> placed_;
  bool initialised_ = false;
};

}  // namespace platform::ui
