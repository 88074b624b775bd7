#include "platform/ui/dialog_resizer.h"

#include <algorithm>

#include "platform/ui/dialog.h"

namespace platform::ui {

void DialogResizer::initialise(Dialog& dialog, std::span<const ResizeRule> rules) {
  const Rect client = getClientRect(dialog.handle());
  minimum_ = Size{client.width(), client.height()};
  placed_.clear();
  for (const ResizeRule& rule : rules) {
    const WindowHandle control = dialog.item(rule.control);
    if (control) placed_.push_back(Placed{rule, getWindowRect(control)});
  }
  initialised_ = true;
}

void DialogResizer::resize(Dialog& dialog) {
  if (!initialised_) return;
  const Rect client = getClientRect(dialog.handle());
  const int dx = std::max(0, client.width() - minimum_.width);
  const int dy = std::max(0, client.height() - minimum_.height);
  for (const Placed& placed : placed_) {
    Rect rect = placed.initial;
    if ((placed.rule.flags & resize::moveRight) != 0) {
      rect.left += dx;
      rect.right += dx;
    } else if ((placed.rule.flags & resize::growWidth) != 0) {
      rect.right += dx;
    }
    if ((placed.rule.flags & resize::moveDown) != 0) {
      rect.top += dy;
      rect.bottom += dy;
    } else if ((placed.rule.flags & resize::growHeight) != 0) {
      rect.bottom += dy;
    }
    moveWindow(dialog.item(placed.rule.control), rect);
  }
}

}  // namespace platform::ui
