#pragma once
// A vertical splitter: a left and a right pane side by side with a bar
// between them that the user drags (the panes follow while dragging). The
// left pane keeps its share of the width when the splitter is resized.
// Windows created as children of the splitter stay hidden until they are
// made a pane; a pane's window fills it. Notifications and commands from the
// panes go on to the splitter's parent.

#include "platform/ui/window.h"

namespace platform::ui {

class SplitterWindow : public Window {
 public:
  static constexpr int left = 0;
  static constexpr int right = 1;

  // Creates the splitter as a child of `parent`.
  bool create(WindowHandle parent);

  // Makes `window` (a child of the splitter) the pane's window, keeping its
  // visibility; the previous one is taken out of the pane and hidden.
  bool setPane(int pane, WindowHandle window);
  WindowHandle pane(int pane) const;
  // The left pane's width in pixels.
  void setSplitterPosition(int position);
  int splitterPosition() const;
  // Sizes the panes' windows to their panes now.
  void layoutPanes();

  bool processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) override;

 private:
  WindowHandle panes_[2];
  double leftShare_ = 0.0;  // of the width, kept on resize
};

}  // namespace platform::ui
