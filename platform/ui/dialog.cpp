#include "platform/ui/dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialog>
#include <QEventLoop>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

#include <cmath>

#include "platform/ui/qt_support.h"

namespace platform::ui {

Size dialogBaseUnits() {
  const QFontMetrics metrics(QApplication::font());
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return Size{(letters / 26 + 1) / 2, metrics.height()};
}

Rect dialogUnitsToPixels(int x, int y, int width, int height) {
  const Size base = dialogBaseUnits();
  const auto horizontal = [&](int units) { return static_cast<int>(std::lround(units * base.width / 4.0)); };
  const auto vertical = [&](int units) { return static_cast<int>(std::lround(units * base.height / 8.0)); };
  const int left = horizontal(x);
  const int top = vertical(y);
  return Rect{left, top, left + horizontal(width), top + vertical(height)};
}

Dialog::Dialog(const DialogTemplate& dialogTemplate) : template_(dialogTemplate) {}

Dialog::~Dialog() = default;

bool Dialog::build(QWidget* widget, std::u16string_view className) {
  attachWidget(widget, className);
  const Rect size = dialogUnitsToPixels(0, 0, template_.width, template_.height);
  widget->resize(size.width(), size.height());
  if (widget->isWindow()) widget->setWindowTitle(toQString(template_.title));
  QButtonGroup* group = nullptr;
  Control* previous = nullptr;
  for (const ControlTemplate& entry : template_.controls) {
    std::unique_ptr<Control> control = Control::make(entry.kind);
    if (control == nullptr) continue;
    control->create(entry, *this, dialogUnitsToPixels(entry.x, entry.y, entry.width, entry.height));
    if ((entry.style & style::group) != 0) group = nullptr;
    if (entry.kind == ControlKind::radioButton) {
      if (group == nullptr) {
        radioGroups_.push_back(std::make_unique<QButtonGroup>());
        group = radioGroups_.back().get();
        group->setExclusive(true);
      }
      static_cast<Button*>(control.get())->joinGroup(group);
    }
    if (entry.kind == ControlKind::spin) static_cast<Spin*>(control.get())->setBuddy(dynamic_cast<Edit*>(previous));
    previous = control.get();
    controls_.push_back(std::move(control));
  }
  if ((template_.style & dialogStyle::clientEdge) != 0) addClientEdge();
  return true;
}

bool Dialog::create(WindowHandle parent, std::u16string_view className) {
  if (exists()) return false;
  QWidget* widget = nullptr;
  if (parent) {
    Window* owner = windowFromHandle(parent);
    if (owner == nullptr) return false;
    widget = new QFrame(owner->widget());
  } else {
    widget = new QDialog(nullptr);
  }
  widget->hide();
  build(widget, parent ? std::u16string_view() : (className.empty() ? std::u16string_view(u"Dialog") : className));
  dispatch(WM_INITDIALOG, 0, 0);
  if (exists() && (template_.style & dialogStyle::visible) != 0) showWindow(handle(), SW_SHOW);
  return true;
}

LResult Dialog::doModal(WindowHandle owner) {
  if (exists()) return -1;
  QWidget* ownerWidget = nullptr;
  if (Window* ownerWindow = windowFromHandle(owner)) ownerWidget = ownerWindow->widget()->window();
  auto* widget = new QDialog(ownerWidget);
  widget->setWindowModality(ownerWidget != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
  modal_ = true;
  ended_ = false;
  result_ = IDCANCEL;
  build(widget, u"Dialog");
  dispatch(WM_INITDIALOG, 0, 0);
  if (!ended_ && exists()) {
    showWindow(handle(), SW_SHOW);
    notePopupActive(handle());
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
  }
  modal_ = false;
  if (exists()) destroyWindow(handle());
  return result_;
}

bool Dialog::endDialog(LResult result) {
  if (!modal_) return false;
  ended_ = true;
  result_ = result;
  if (loop_ != nullptr) loop_->exit(0);
  return true;
}

WindowHandle Dialog::item(int id) const {
  Control* found = control(id);
  return found != nullptr ? found->handle() : WindowHandle();
}

Control* Dialog::control(int id) const {
  for (const auto& entry : controls_) {
    if (entry->id() == id && entry->exists()) return entry.get();
  }
  return nullptr;
}

bool Dialog::setItemText(int id, std::u16string_view text) {
  Control* found = control(id);
  if (found == nullptr) return false;
  found->setText(text);
  return true;
}

std::u16string Dialog::itemText(int id) const {
  Control* found = control(id);
  return found != nullptr ? found->text() : std::u16string();
}

bool Dialog::checkButton(int id, bool checked) {
  auto* button = controlAs<Button>(id);
  if (button == nullptr) return false;
  button->setChecked(checked);
  return true;
}

bool Dialog::isButtonChecked(int id) const {
  auto* button = controlAs<Button>(id);
  return button != nullptr && button->isChecked();
}

bool Dialog::checkRadioButton(int first, int last, int checked) {
  for (const auto& entry : controls_) {
    if (entry->id() < first || entry->id() > last) continue;
    if (auto* button = dynamic_cast<Button*>(entry.get())) button->setChecked(entry->id() == checked);
  }
  return true;
}

bool Dialog::endOnOkOrCancel(uint32_t message, WParam wParam, LResult& result) {
  if (message != WM_COMMAND || (commandId(wParam) != IDOK && commandId(wParam) != IDCANCEL)) return false;
  endDialog(commandId(wParam));
  result = 0;
  return true;
}

void Dialog::centreOnOwner() {
  QWidget* widget = this->widget();
  if (widget == nullptr || !widget->isWindow()) return;
  QRect area;
  if (QWidget* owner = widget->parentWidget()) {
    area = owner->window()->geometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  widget->move(area.center().x() - widget->width() / 2, area.center().y() - widget->height() / 2);
}

void Dialog::addClientEdge() {
  if (auto* frame = qobject_cast<QFrame*>(widget())) frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

LResult Dialog::defaultProcessing(uint32_t message, WParam wParam, LParam lParam) {
  if (message == WM_CLOSE) {
    // A dialog's close box is its cancel command.
    dispatch(WM_COMMAND, makeWParam(IDCANCEL, BN_CLICKED), static_cast<LParam>(item(IDCANCEL).value));
    return 0;
  }
  return Window::defaultProcessing(message, wParam, lParam);
}

bool Dialog::translateEvent(QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape) {
      dispatch(WM_COMMAND, makeWParam(IDCANCEL, BN_CLICKED), static_cast<LParam>(item(IDCANCEL).value));
      return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      int command = IDOK;
      for (const auto& entry : controls_) {
        auto* button = dynamic_cast<Button*>(entry.get());
        if (button != nullptr && button->isDefault()) command = entry->id();
      }
      if (auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget())) {
        if (Window* owner = windowFromWidget(focused)) {
          if (auto* button = dynamic_cast<Control*>(owner)) command = button->id();
        }
      }
      dispatch(WM_COMMAND, makeWParam(static_cast<uint16_t>(command), BN_CLICKED),
               static_cast<LParam>(item(command).value));
      return true;
    }
  }
  return Window::translateEvent(event);
}

}  // namespace platform::ui
