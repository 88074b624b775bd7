#pragma once
// The interface of every page: a modeless child dialog that a frame shows in
// its right pane, refreshes and sizes.

#include <cstdint>

#include "platform/ui/types.h"

class FormBase {
 public:
  virtual platform::ui::WindowHandle getFormWindow() = 0;
  // The page's part of the dialog initialisation; its result is the answer
  // to WM_INITDIALOG.
  virtual platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam,
                                           platform::ui::LParam lParam, bool& handled) {
    (void)message;
    (void)wParam;
    (void)lParam;
    (void)handled;
    return 0;
  }
  // updateForm, then show the window.
  virtual void showForm() = 0;
  virtual void hideForm() = 0;
  virtual void onFormSize() {}
  virtual void onFormTimer(uintptr_t timerId) { (void)timerId; }
  virtual void updateForm() = 0;

 protected:
  ~FormBase() = default;
};
