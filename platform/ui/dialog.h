#pragma once
// Dialogs made from templates: modeless child dialogs (the pages of the
// programs), top-level modeless dialogs and modal dialogs. A dialog creates
// its controls from the template and receives WM_INITDIALOG once they exist.
// Escape sends WM_COMMAND IDCANCEL, Enter the default button's command, and
// the close box WM_CLOSE, whose default is IDCANCEL; ending a modal dialog is
// the dialog's own handler's business (endDialog).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/window.h"

class QButtonGroup;
class QEventLoop;

namespace platform::ui {

class Dialog : public Window {
 public:
  explicit Dialog(const DialogTemplate& dialogTemplate);
  ~Dialog() override;

  const DialogTemplate& dialogTemplate() const { return template_; }

  // A modeless dialog: a child of `parent`, or a top-level window when the
  // parent is null (found by other processes under `className` when given).
  // Visible when the template says so. False when it exists already or the
  // parent is unknown; WM_INITDIALOG's answer decides nothing here.
  bool create(WindowHandle parent, std::u16string_view className = {});

  // A modal dialog owned by `owner` (null: none), which is disabled while it
  // runs; returns the result given to endDialog, or -1 when it could not be
  // created. WM_QUIT ends it with IDCANCEL.
  LResult doModal(WindowHandle owner);
  // Ends a modal dialog with `result` (it is destroyed when doModal returns).
  bool endDialog(LResult result);
  bool isModal() const { return modal_; }

  // Controls by identifier; null handle or null pointer when there is none.
  WindowHandle item(int id) const;
  Control* control(int id) const;
  template <typename T>
  T* controlAs(int id) const {
    return dynamic_cast<T*>(control(id));
  }

  bool setItemText(int id, std::u16string_view text);
  std::u16string itemText(int id) const;
  bool checkButton(int id, bool checked);
  bool isButtonChecked(int id) const;
  // Checks `checked` and unchecks the other radio buttons first..last.
  bool checkRadioButton(int first, int last, int checked);

  // Moves the dialog to the middle of its owner (or of the screen).
  void centreOnOwner();
  // A box's usual handling of OK and Cancel: a WM_COMMAND of either ends the
  // dialog with its identifier. Returns whether `message` was one of them.
  bool endOnOkOrCancel(uint32_t message, WParam wParam, LResult& result);
  // Draws a sunken edge around a child dialog's client area.
  void addClientEdge();

  LResult defaultProcessing(uint32_t message, WParam wParam, LParam lParam) override;

 protected:
  bool translateEvent(QEvent* event) override;

 private:
  bool build(QWidget* widget, std::u16string_view className);

  const DialogTemplate& template_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<std::unique_ptr<QButtonGroup>> radioGroups_;
  bool modal_ = false;
  bool ended_ = false;
  LResult result_ = 0;
  QEventLoop* loop_ = nullptr;
};

}  // namespace platform::ui
