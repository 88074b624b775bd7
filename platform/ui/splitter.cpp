#include "platform/ui/splitter.h"

#include <QMouseEvent>
#include <QPointer>
#include <QShowEvent>
#include <QResizeEvent>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "platform/ui/messages.h"
#include "platform/ui/qt_support.h"

namespace platform::ui {

namespace {

constexpr int kBarWidth = 4;

// A pane: its one window fills it.
class PaneHost final : public QWidget {
 public:
  explicit PaneHost(QWidget* parent) : QWidget(parent) {}
  // A pane window destroyed while shown leaves the pane empty.
  QPointer<QWidget> content;

 protected:
  void resizeEvent(QResizeEvent*) override {
    if (content != nullptr && content->parentWidget() == this) content->setGeometry(rect());
  }
};

class SplitterWidget;

// The bar between the panes; dragging it moves the panes with it.
class SplitterBar final : public QWidget {
 public:
  explicit SplitterBar(SplitterWidget* owner);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  SplitterWidget* owner_;
  int grabOffset_ = 0;
};

class SplitterWidget final : public QWidget {
 public:
  explicit SplitterWidget(QWidget* parent) : QWidget(parent) {
    panes[0] = new PaneHost(this);
    panes[1] = new PaneHost(this);
    bar = new SplitterBar(this);
  }

  // The left pane's width. While the splitter is not on screen its size is
  // not final: the position then waits for the first real size and becomes
  // a share of the width from there.
  void setPosition(int value) {
    position = std::max(0, value);
    shareKnown = false;
    if (isVisible() && width() > kBarWidth) rememberShare();
    layoutPanes();
  }

  void layoutPanes() {
    const int room = std::max(0, width() - kBarWidth);
    const int left = std::min(position, room);
    panes[0]->setGeometry(0, 0, left, height());
    bar->setGeometry(left, 0, kBarWidth, height());
    panes[1]->setGeometry(left + kBarWidth, 0, room - left, height());
  }

  int shownPosition() const { return std::min(position, std::max(0, width() - kBarWidth)); }

  PaneHost* panes[2];
  SplitterBar* bar;
  int position = 0;
  double share = 0.0;
  bool shareKnown = false;

 protected:
  void resizeEvent(QResizeEvent*) override {
    const int room = width() - kBarWidth;
    if (shareKnown && room > 0) {
      position = static_cast<int>(std::lround(share * room));
    } else if (isVisible() && room > 0) {
      rememberShare();
    }
    layoutPanes();
  }

  void showEvent(QShowEvent*) override {
    if (!shareKnown && width() > kBarWidth) rememberShare();
    layoutPanes();
  }

 private:
  void rememberShare() {
    const int room = width() - kBarWidth;
    position = std::min(position, room);
    share = static_cast<double>(position) / room;
    shareKnown = true;
  }
};

SplitterBar::SplitterBar(SplitterWidget* owner) : QWidget(owner), owner_(owner) { setCursor(Qt::SplitHCursor); }

void SplitterBar::mousePressEvent(QMouseEvent* event) { grabOffset_ = static_cast<int>(event->position().x()); }

void SplitterBar::mouseMoveEvent(QMouseEvent* event) {
  if ((event->buttons() & Qt::LeftButton) == 0) return;
  const QPoint inOwner = mapToParent(event->position().toPoint());
  owner_->setPosition(inOwner.x() - grabOffset_);
}

SplitterWidget* splitterOf(const Window& window) { return dynamic_cast<SplitterWidget*>(window.widget()); }

}  // namespace

bool SplitterWindow::create(WindowHandle parent) {
  Window* owner = windowFromHandle(parent);
  if (owner == nullptr || exists()) return false;
  attachWidget(new SplitterWidget(owner->widget()));
  return true;
}

bool SplitterWindow::setPane(int pane, WindowHandle window) {
  SplitterWidget* splitter = splitterOf(*this);
  Window* content = windowFromHandle(window);
  if (splitter == nullptr || content == nullptr || (pane != left && pane != right)) return false;
  PaneHost* host = splitter->panes[pane];
  if (host->content != nullptr && host->content != content->widget()) {
    host->content->setParent(splitter);  // hidden by leaving its parent
  }
  QWidget* widget = content->widget();
  const bool visible = !widget->isHidden();
  widget->setParent(host);
  widget->setGeometry(host->rect());
  widget->setVisible(visible);
  host->content = widget;
  panes_[pane] = window;
  return true;
}

WindowHandle SplitterWindow::pane(int pane) const {
  return pane == left || pane == right ? panes_[pane] : WindowHandle();
}

void SplitterWindow::setSplitterPosition(int position) {
  if (SplitterWidget* splitter = splitterOf(*this)) splitter->setPosition(position);
}

int SplitterWindow::splitterPosition() const {
  SplitterWidget* splitter = splitterOf(*this);
  return splitter != nullptr ? splitter->shownPosition() : 0;
}

bool SplitterWindow::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message != WM_NOTIFY && message != WM_COMMAND) return false;
  result = sendMessage(getParent(handle()), message, wParam, lParam);
  return true;
}

void SplitterWindow::layoutPanes() {
  SplitterWidget* splitter = splitterOf(*this);
  if (splitter == nullptr) return;
  splitter->layoutPanes();
  for (PaneHost* host : splitter->panes) {
    if (host->content != nullptr) host->content->setGeometry(host->rect());
  }
}

}  // namespace platform::ui
