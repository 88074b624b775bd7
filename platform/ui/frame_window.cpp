#include "platform/ui/frame_window.h"

#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "platform/ui/messages.h"
#include "platform/ui/qt_support.h"

namespace platform::ui {

namespace {

QMainWindow* mainWindowOf(const Window& window) { return qobject_cast<QMainWindow*>(window.widget()); }

}  // namespace

bool FrameWindow::create(std::u16string_view className, std::u16string_view title, const Rect& rect,
                         const Icon& icon) {
  if (exists()) return false;
  auto* frame = new QMainWindow;
  frame->setWindowTitle(toQString(title));
  if (!icon.isNull()) frame->setWindowIcon(icon.qIcon());
  attachWidget(frame, className);
  moveWindow(handle(), rect);
  if (dispatch(WM_CREATE, 0, 0) == -1) {
    destroyWindow(handle());
    return false;
  }
  return true;
}

void FrameWindow::createCommandBar(const MenuTemplate& menu, std::span<const CommandImage> images) {
  QMainWindow* frame = mainWindowOf(*this);
  auto* bar = new QMenuBar(frame);
  const WindowHandle owner = handle();
  const auto onCommand = [owner](int command) {
    sendMessage(owner, WM_COMMAND, makeWParam(static_cast<uint16_t>(command), 0), 0);
  };
  for (const MenuItem& item : menu.items) {
    if (!item.popup.empty()) fillQtMenu(bar->addMenu(windowsText(item.text)), item.popup, onCommand, images);
  }
  frame->setMenuBar(bar);
}

void FrameWindow::createStatusBar(std::u16string_view text, std::initializer_list<int> paneWidths) {
  QMainWindow* frame = mainWindowOf(*this);
  QStatusBar* bar = frame->statusBar();
  panes_.clear();
  auto* defaultPane = new QLabel(labelText(text), bar);
  bar->addWidget(defaultPane, 1);
  panes_.push_back(defaultPane);
  for (const int width : paneWidths) {
    // At least the given width, wider where the text needs it.
    auto* pane = new QLabel(bar);
    pane->setMinimumWidth(width);
    pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addPermanentWidget(pane);
    panes_.push_back(pane);
  }
}

bool FrameWindow::setPaneText(int pane, std::u16string_view text) {
  if (pane < 0 || pane >= static_cast<int>(panes_.size())) return false;
  panes_[static_cast<size_t>(pane)]->setText(labelText(text));
  return true;
}

std::u16string FrameWindow::paneText(int pane) const {
  if (pane < 0 || pane >= static_cast<int>(panes_.size())) return {};
  return fromQString(panes_[static_cast<size_t>(pane)]->text());
}

std::u16string FrameWindow::prompt() const {
  QMainWindow* frame = mainWindowOf(*this);
  return frame != nullptr ? fromQString(frame->statusBar()->currentMessage()) : std::u16string();
}

void FrameWindow::setClientWindow(Window& client) {
  if (QMainWindow* frame = mainWindowOf(*this)) frame->setCentralWidget(client.widget());
}

void FrameWindow::removeMaximizeBox() {
  QMainWindow* frame = mainWindowOf(*this);
  frame->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                        Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
}

}  // namespace platform::ui
