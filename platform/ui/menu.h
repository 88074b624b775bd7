#pragma once
// Menus as data: items with texts ("&" marks the mnemonic), command numbers,
// popups and separators. Chosen commands reach the owner as WM_COMMAND with
// code 0; a program's string of the same number is the command's prompt in
// the status bar.

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/ui/image_list.h"
#include "platform/ui/types.h"

namespace platform::ui {

namespace menuFlag {
inline constexpr uint32_t separator = 1u << 0;
inline constexpr uint32_t defaultItem = 1u << 1;  // shown bold; the tray's double-click command
}  // namespace menuFlag

struct MenuItem {
  std::u16string_view text;
  int command = 0;
  std::span<const MenuItem> popup = {};
  uint32_t flags = 0;
};

struct MenuTemplate {
  int id;
  std::span<const MenuItem> items;
};

// An image shown beside a command in menus.
struct CommandImage {
  int command;
  Icon icon;
};

// Opens the popup `items` at a screen position with `owner` as its owner;
// when the user chooses a command it is posted to the owner as WM_COMMAND.
// Returns the chosen command, 0 when the menu was dismissed.
int trackPopupMenu(std::span<const MenuItem> items, Point screenPosition, WindowHandle owner);

// The mouse pointer's position on the screen.
Point cursorPosition();

}  // namespace platform::ui
