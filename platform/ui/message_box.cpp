#include "platform/ui/message_box.h"

#include <QMessageBox>

#include <utility>

#include "platform/ui/messages.h"
#include "platform/ui/qt_support.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {

MessageBoxResponder& responder() {
  static MessageBoxResponder* current = new MessageBoxResponder;
  return *current;
}

QMessageBox::Icon iconOf(uint32_t type) {
  switch (type & 0xF0) {
    case MB_ICONERROR:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONWARNING:
      return QMessageBox::Warning;
    case MB_ICONINFORMATION:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

void setMessageBoxResponder(MessageBoxResponder answer) { responder() = std::move(answer); }

int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption, uint32_t type) {
  if (responder()) {
    return responder()(MessageBoxRequest{owner, std::u16string(text), std::u16string(caption), type});
  }
  Window* ownerWindow = windowFromHandle(owner);
  QMessageBox box(iconOf(type), toQString(caption), toQString(text), QMessageBox::NoButton,
                  ownerWindow != nullptr ? ownerWindow->widget()->window() : nullptr);
  switch (type & 0x0F) {
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  QtCallbackScope scope;
  switch (box.exec()) {
    case QMessageBox::Cancel:
      return IDCANCEL;
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    default:
      return IDOK;
  }
}

}  // namespace platform::ui
