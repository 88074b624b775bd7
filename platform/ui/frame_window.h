#pragma once
// Top-level frame windows: a menu bar (the command bar), a multi-pane status
// bar whose default pane shows the menu commands' prompts, and a client
// window between them. Sends WM_CREATE when created, before it is shown.

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/image_list.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

class QLabel;

namespace platform::ui {

class FrameWindow : public Window {
 public:
  // Creates the frame, hidden, at `rect` (screen coordinates), and sends
  // WM_CREATE. False when it exists already or WM_CREATE answered -1 (the
  // window is then destroyed).
  bool create(std::u16string_view className, std::u16string_view title, const Rect& rect, const Icon& icon);

  // The menu bar from a menu template; `images` are shown beside their
  // commands. Each command's prompt is the program's string of its number.
  void createCommandBar(const MenuTemplate& menu, std::span<const CommandImage> images = {});
  // The status bar: the default pane with `text`, which stretches, and
  // panes of the given widths in pixels after it (wider when their text
  // needs more room in the user's font).
  void createStatusBar(std::u16string_view text, std::initializer_list<int> paneWidths);
  // Pane 0 is the default pane.
  bool setPaneText(int pane, std::u16string_view text);
  std::u16string paneText(int pane) const;
  // The prompt the default pane shows while a menu is open ("" when none).
  std::u16string prompt() const;

  // The window between the bars; it fills the frame's client area.
  void setClientWindow(Window& client);
  // Takes the maximize button off the title bar.
  void removeMaximizeBox();

 private:
  std::vector<QLabel*> panes_;  // owned by the status bar
};

}  // namespace platform::ui
