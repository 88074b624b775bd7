#pragma once
// A program's resources: icons (SVG artwork), strings and the status-bar
// prompts of menu commands, found by number as the program's code names them.
// Each program sets its table once at start; tests may set another or none.

#include <span>
#include <string>
#include <string_view>

#include "platform/ui/image_list.h"

namespace platform::ui {

struct IconResource {
  int id;
  std::string_view svg;
};

struct StringResource {
  int id;
  std::u16string_view text;
};

struct ResourceTable {
  std::span<const IconResource> icons;
  std::span<const StringResource> strings;
};

// The program's table; null removes it.
void setResources(const ResourceTable* table);

// The icon of that number, or a null icon.
Icon loadIcon(int id);
// The string of that number, or "".
std::u16string loadString(int id);

}  // namespace platform::ui
