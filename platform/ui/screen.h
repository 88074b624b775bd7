#pragma once
// The primary screen.

#include "platform/ui/types.h"

namespace platform::ui {

// The primary screen's size in pixels; false when there is no screen.
bool screenSize(Size* size);
// The desktop rectangle (the primary screen's whole area); false when there is no screen.
bool desktopRect(Rect* rect);

}  // namespace platform::ui
