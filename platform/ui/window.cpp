#include "platform/ui/window.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "platform/ui/application.h"
#include "platform/ui/image_list.h"
#include "platform/ui/qt_support.h"
#include "platform/ui/window_directory.h"

namespace platform::ui {

namespace {

uint32_t ownProcess() { return static_cast<uint32_t>(::getpid()); }
bool isLocal(WindowHandle window) { return window && window.process() == ownProcess(); }

// Handles of this process. The serial set is read by posting threads; the
// windows themselves are touched on the GUI thread only.
std::mutex tableMutex;
std::unordered_map<uint32_t, Window*> windowsBySerial;  // guarded by tableMutex
uint32_t nextSerial = 1;                               // guarded by tableMutex
std::unordered_map<const QWidget*, Window*> windowsByWidget;  // GUI thread

}  // namespace

// Installed on a window's widget: the one place where Qt events become messages.
class EventBridge final : public QObject {
 public:
  explicit EventBridge(Window* window) : window_(window) {}
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Window* window_;
};

struct WindowPrivate {
  QPointer<QWidget> widget;
  // Deleted with the window's object or when it is destroyed, so that a
  // widget whose deletion is deferred never reaches a gone window.
  std::unique_ptr<EventBridge> bridge;
  std::map<uintptr_t, QTimer*> timers;  // owned by the widget
};

struct WindowAccess {
  static WindowPrivate& d(Window& window) { return *window.d_; }
  static bool translate(Window& window, QEvent* event) { return window.translateEvent(event); }
  static void detach(Window& window) { window.detach(); }
  static bool minimizeInProgress(const Window& window) { return window.minimizeInProgress_; }
  static WindowHandle& lastActivePopup(Window& window) { return window.lastActivePopup_; }
  static void noteActivated(Window& window) { window.noteActivated(); }
};

bool EventBridge::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_->widget()) return false;
  QtCallbackScope scope;
  return WindowAccess::translate(*window_, event);
}

Window::Window() : d_(std::make_unique<WindowPrivate>()) {}

Window::~Window() {
  QWidget* widget = this->widget();
  if (widget == nullptr) return;
  // No messages from here: the derived parts are gone already.
  std::vector<Window*> family;
  for (QWidget* child : widget->findChildren<QWidget*>()) {
    if (Window* window = windowFromWidget(child)) family.push_back(window);
  }
  for (Window* window : family) window->detach();
  detach();
  widget->hide();
  if (QtCallbackScope::active()) {
    widget->deleteLater();
  } else {
    delete widget;
  }
}

QWidget* Window::widget() const { return d_->widget.data(); }

void Window::attachWidget(QWidget* widget, std::u16string_view className) {
  d_->widget = widget;
  {
    std::lock_guard lock(tableMutex);
    handle_ = WindowHandle::make(ownProcess(), nextSerial++);
    windowsBySerial[handle_.serial()] = this;
  }
  windowsByWidget[widget] = this;
  className_ = std::u16string(className);
  d_->bridge = std::make_unique<EventBridge>(this);
  widget->installEventFilter(d_->bridge.get());
  if (widget->isWindow() && !className_.empty()) WindowDirectory::enter(handle_, className_);
}

void Window::detach() {
  QWidget* widget = d_->widget.data();
  if (widget != nullptr) {
    for (auto& [id, timer] : d_->timers) {
      timer->stop();
      timer->deleteLater();
    }
    windowsByWidget.erase(widget);
  }
  d_->timers.clear();
  d_->bridge.reset();
  d_->widget.clear();
  if (handle_) {
    WindowDirectory::withdraw(handle_);
    std::lock_guard lock(tableMutex);
    windowsBySerial.erase(handle_.serial());
  }
}

bool Window::processMessage(uint32_t, WParam, LParam, LResult&) { return false; }

LResult Window::defaultProcessing(uint32_t message, WParam wParam, LParam) {
  switch (message) {
    case WM_CLOSE:
      destroyWindow(handle_);
      return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE:
          dispatch(WM_CLOSE, 0, 0);
          break;
        case SC_MINIMIZE:
          showWindow(handle_, SW_MINIMIZE);
          break;
        case SC_RESTORE:
          showWindow(handle_, SW_RESTORE);
          break;
        default:
          break;
      }
      return 0;
    default:
      return 0;
  }
}

LResult Window::dispatch(uint32_t message, WParam wParam, LParam lParam) {
  LResult result = 0;
  if (processMessage(message, wParam, lParam, result)) return result;
  return defaultProcessing(message, wParam, lParam);
}

void Window::setText(std::u16string_view text) {
  if (QWidget* widget = this->widget()) widget->setWindowTitle(toQString(text));
}

std::u16string Window::text() const {
  QWidget* widget = this->widget();
  return widget != nullptr ? fromQString(widget->windowTitle()) : std::u16string();
}

bool Window::translateEvent(QEvent* event) {
  QWidget* widget = this->widget();
  switch (event->type()) {
    case QEvent::Resize: {
      const WParam kind = widget->isMinimized() ? SIZE_MINIMIZED : SIZE_RESTORED;
      dispatch(WM_SIZE, kind,
               makeLParam(static_cast<uint16_t>(widget->width()), static_cast<uint16_t>(widget->height())));
      return false;
    }
    case QEvent::Close:
      // The close box: the window procedure decides.
      event->ignore();
      dispatch(WM_SYSCOMMAND, SC_CLOSE, 0);
      return true;
    case QEvent::WindowStateChange: {
      const auto* change = static_cast<QWindowStateChangeEvent*>(event);
      if (!(change->oldState() & Qt::WindowMinimized) && widget->isMinimized()) {
        // Minimized by the window system: the window hears of it as the
        // command, while it still counts as not minimized.
        minimizeInProgress_ = true;
        dispatch(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        minimizeInProgress_ = false;
      }
      return false;
    }
    case QEvent::WindowActivate:
      noteActivated();
      return false;
    default:
      return false;
  }
}

void Window::noteActivated() {
  QWidget* widget = this->widget();
  if (widget == nullptr || !widget->isWindow()) return;
  if (Window* owner = windowFromWidget(widget->parentWidget() != nullptr ? widget->parentWidget()->window() : nullptr)) {
    owner->lastActivePopup_ = handle_;
  }
}

void Window::DeviceChangeForwarder::onDeviceChange(uint32_t eventType, const uint8_t* record) {
  if (owner_->exists()) {
    sendMessage(owner_->handle(), WM_DEVICECHANGE, eventType, reinterpret_cast<LParam>(record));
  }
}

// ---------------------------------------------------------------------------

Window* windowFromHandle(WindowHandle window) {
  if (!isLocal(window)) return nullptr;
  Window* found = nullptr;
  {
    std::lock_guard lock(tableMutex);
    auto it = windowsBySerial.find(window.serial());
    if (it != windowsBySerial.end()) found = it->second;
  }
  return found != nullptr && found->exists() ? found : nullptr;
}

Window* windowFromWidget(const QWidget* widget) {
  if (widget == nullptr) return nullptr;
  auto it = windowsByWidget.find(widget);
  return it != windowsByWidget.end() && it->second->exists() ? it->second : nullptr;
}

namespace {

Window* localWindow(WindowHandle window) {
  Window* found = windowFromHandle(window);
  if (found == nullptr) setLastError(ERROR_INVALID_WINDOW_HANDLE);
  return found;
}

// Messages whose parameters are plain numbers, so that they can be sent to
// another process.
bool crossesProcesses(uint32_t message, LParam lParam) {
  switch (message) {
    case WM_NULL:
    case WM_CLOSE:
    case WM_SYSCOMMAND:
      return true;
    case WM_COMMAND:
      return lParam == 0;
    default:
      return message >= WM_USER;
  }
}

// The window and its child windows, parents before children.
std::vector<Window*> windowFamily(Window* top) {
  std::vector<Window*> family{top};
  for (QWidget* child : top->widget()->findChildren<QWidget*>()) {
    if (Window* window = windowFromWidget(child)) family.push_back(window);
  }
  return family;
}

void applyTrackSize(Window* window) {
  QWidget* widget = window->widget();
  if (!widget->isWindow()) return;
  MinMaxInfo info;
  window->dispatch(WM_GETMINMAXINFO, 0, reinterpret_cast<LParam>(&info));
  widget->setMinimumSize(std::max(0, info.minTrackSize.width), std::max(0, info.minTrackSize.height));
  widget->setMaximumSize(info.maxTrackSize.width < 0 ? QWIDGETSIZE_MAX : info.maxTrackSize.width,
                         info.maxTrackSize.height < 0 ? QWIDGETSIZE_MAX : info.maxTrackSize.height);
}

}  // namespace

LResult sendMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  if (window && !isLocal(window)) {
    LResult result = 0;
    sendMessageTimeout(window, message, wParam, lParam, 0xFFFFFFFF, &result);
    return result;
  }
  if (!isGuiThread()) {
    auto result = std::make_shared<LResult>(0);
    runOnGuiThread(
        [=] {
          if (Window* target = windowFromHandle(window)) *result = target->dispatch(message, wParam, lParam);
        },
        0xFFFFFFFF);
    return *result;
  }
  Window* target = localWindow(window);
  return target != nullptr ? target->dispatch(message, wParam, lParam) : 0;
}

bool sendMessageTimeout(WindowHandle window, uint32_t message, WParam wParam, LParam lParam, uint32_t timeoutMs,
                        LResult* result) {
  if (!window) {
    setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (!isLocal(window)) {
    if (!crossesProcesses(message, lParam)) {
      setLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    return WindowDirectory::request(window, WindowDirectory::Operation::sendMessage, message, wParam, lParam,
                                    timeoutMs, result);
  }
  auto answer = std::make_shared<LResult>(0);
  auto found = std::make_shared<bool>(false);
  const bool ran = runOnGuiThread(
      [=] {
        if (Window* target = windowFromHandle(window)) {
          *found = true;
          *answer = target->dispatch(message, wParam, lParam);
        }
      },
      timeoutMs);
  if (!ran) {
    setLastError(ERROR_TIMEOUT);
    return false;
  }
  if (!*found) {
    setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (result != nullptr) *result = *answer;
  return true;
}

bool postMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  bool exists = false;
  if (isLocal(window)) {
    std::lock_guard lock(tableMutex);
    exists = windowsBySerial.count(window.serial()) != 0;
  }
  if (!exists || !detail::queueToGuiThread([=] {
        if (Window* target = windowFromHandle(window)) target->dispatch(message, wParam, lParam);
      })) {
    setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return true;
}

bool isWindow(WindowHandle window) {
  if (window && !isLocal(window)) {
    return WindowDirectory::request(window, WindowDirectory::Operation::exists, 0, 0, 0, 1000, nullptr);
  }
  return windowFromHandle(window) != nullptr;
}

bool destroyWindow(WindowHandle window) {
  Window* top = localWindow(window);
  if (top == nullptr) return false;
  QWidget* widget = top->widget();
  const std::vector<Window*> family = windowFamily(top);
  for (Window* member : family) {
    if (member->exists()) member->dispatch(WM_DESTROY, 0, 0);
  }
  for (auto it = family.rbegin(); it != family.rend(); ++it) {
    if ((*it)->exists()) (*it)->dispatch(WM_NCDESTROY, 0, 0);
  }
  for (Window* member : family) WindowAccess::detach(*member);
  if (widget != nullptr) {
    widget->hide();
    if (QtCallbackScope::active()) {
      widget->deleteLater();
    } else {
      delete widget;
    }
  }
  return true;
}

bool showWindow(WindowHandle window, int command) {
  if (window && !isLocal(window)) {
    LResult wasVisible = 0;
    WindowDirectory::request(window, WindowDirectory::Operation::showWindow, 0, static_cast<WParam>(command), 0,
                             5000, &wasVisible);
    return wasVisible != 0;
  }
  Window* target = localWindow(window);
  if (target == nullptr) return false;
  QWidget* widget = target->widget();
  const bool wasVisible = !widget->isHidden();
  const bool willBeVisible = command != SW_HIDE;
  if (wasVisible != willBeVisible) target->dispatch(WM_SHOWWINDOW, willBeVisible ? 1 : 0, 0);
  if (!target->exists()) return wasVisible;
  if (willBeVisible) applyTrackSize(target);
  // The first showing of a top-level window may place it by its frame
  // instead of its client area; the window keeps the rectangle it was given.
  const bool firstShowing = widget->isWindow() && !widget->testAttribute(Qt::WA_WState_Created);
  const QRect given = widget->geometry();
  switch (command) {
    case SW_HIDE:
      widget->hide();
      break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
      widget->showMinimized();
      break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
      if (widget->isWindow()) {
        widget->showNormal();
      } else {
        widget->show();
      }
      break;
    default:
      widget->show();
      break;
  }
  if (firstShowing && willBeVisible && !widget->isMinimized() && widget->geometry() != given) {
    widget->setGeometry(given);
  }
  return wasVisible;
}

bool isWindowVisible(WindowHandle window) {
  if (window && !isLocal(window)) {
    LResult visible = 0;
    return WindowDirectory::request(window, WindowDirectory::Operation::isVisible, 0, 0, 0, 5000, &visible) &&
           visible != 0;
  }
  Window* target = windowFromHandle(window);
  return target != nullptr && target->widget()->isVisible();
}

bool isIconic(WindowHandle window) {
  if (window && !isLocal(window)) {
    LResult iconic = 0;
    return WindowDirectory::request(window, WindowDirectory::Operation::isIconic, 0, 0, 0, 5000, &iconic) &&
           iconic != 0;
  }
  Window* target = windowFromHandle(window);
  return target != nullptr && target->widget()->isMinimized() && !WindowAccess::minimizeInProgress(*target);
}

bool enableWindow(WindowHandle window, bool enable) {
  Window* target = localWindow(window);
  if (target == nullptr) return false;
  const bool wasDisabled = !target->widget()->isEnabled();
  target->widget()->setEnabled(enable);
  return wasDisabled;
}

bool isWindowEnabled(WindowHandle window) {
  Window* target = windowFromHandle(window);
  return target != nullptr && target->widget()->isEnabled();
}

bool setForegroundWindow(WindowHandle window) {
  if (window && !isLocal(window)) {
    return WindowDirectory::request(window, WindowDirectory::Operation::setForeground, 0, 0, 0, 5000, nullptr);
  }
  Window* target = localWindow(window);
  if (target == nullptr) return false;
  QWidget* top = target->widget()->window();
  top->raise();
  top->activateWindow();
  return true;
}

WindowHandle getActiveWindow() {
  Window* active = windowFromWidget(QApplication::activeWindow());
  return active != nullptr ? active->handle() : WindowHandle();
}

WindowHandle getLastActivePopup(WindowHandle window) {
  if (window && !isLocal(window)) {
    LResult popup = 0;
    if (!WindowDirectory::request(window, WindowDirectory::Operation::lastActivePopup, 0, 0, 0, 5000, &popup)) {
      return window;
    }
    return WindowHandle{static_cast<uint64_t>(popup)};
  }
  Window* target = windowFromHandle(window);
  if (target == nullptr) return window;
  Window* popup = windowFromHandle(WindowAccess::lastActivePopup(*target));
  return popup != nullptr && popup->widget()->isVisible() ? popup->handle() : window;
}

void notePopupActive(WindowHandle popup) {
  if (Window* target = windowFromHandle(popup)) WindowAccess::noteActivated(*target);
}

WindowHandle getParent(WindowHandle window) {
  Window* target = windowFromHandle(window);
  if (target == nullptr) return {};
  for (QWidget* parent = target->widget()->parentWidget(); parent != nullptr; parent = parent->parentWidget()) {
    if (Window* found = windowFromWidget(parent)) return found->handle();
  }
  return {};
}

bool setFocus(WindowHandle window) {
  Window* target = localWindow(window);
  if (target == nullptr) return false;
  target->widget()->setFocus();
  return true;
}

bool updateWindow(WindowHandle window) {
  Window* target = localWindow(window);
  if (target == nullptr) return false;
  target->widget()->repaint();
  return true;
}

bool setWindowText(WindowHandle window, std::u16string_view text) {
  Window* target = localWindow(window);
  if (target == nullptr) return false;
  target->setText(text);
  return true;
}

bool setWindowIcon(WindowHandle window, const Icon& icon) {
  Window* target = localWindow(window);
  if (target == nullptr || target->widget() == nullptr) return false;
  target->widget()->setWindowIcon(icon.isNull() ? QIcon() : icon.qIcon());
  return true;
}

bool hasWindowIcon(WindowHandle window) {
  Window* target = localWindow(window);
  return target != nullptr && target->widget() != nullptr && !target->widget()->windowIcon().isNull();
}

Icon windowIcon(WindowHandle window) {
  Window* target = localWindow(window);
  if (target == nullptr || target->widget() == nullptr) return Icon();
  return Icon::fromQIcon(target->widget()->windowIcon());
}

std::u16string getWindowText(WindowHandle window) {
  Window* target = windowFromHandle(window);
  return target != nullptr ? target->text() : std::u16string();
}

Rect getWindowRect(WindowHandle window) {
  Window* target = windowFromHandle(window);
  if (target == nullptr) return {};
  const QRect geometry = target->widget()->geometry();
  return Rect{geometry.left(), geometry.top(), geometry.left() + geometry.width(), geometry.top() + geometry.height()};
}

bool moveWindow(WindowHandle window, const Rect& rect) {
  Window* target = localWindow(window);
  if (target == nullptr) return false;
  applyTrackSize(target);
  target->widget()->setGeometry(rect.left, rect.top, rect.width(), rect.height());
  return true;
}

Rect getClientRect(WindowHandle window) {
  Window* target = windowFromHandle(window);
  if (target == nullptr) return {};
  return Rect{0, 0, target->widget()->width(), target->widget()->height()};
}

uintptr_t setTimer(WindowHandle window, uintptr_t id, uint32_t milliseconds) {
  Window* target = localWindow(window);
  if (target == nullptr || id == 0) return 0;
  WindowPrivate& d = WindowAccess::d(*target);
  QTimer*& timer = d.timers[id];
  if (timer == nullptr) {
    timer = new QTimer(target->widget());
    QObject::connect(timer, &QTimer::timeout, [window, id] {
      QtCallbackScope scope;
      if (Window* owner = windowFromHandle(window)) owner->dispatch(WM_TIMER, id, 0);
    });
  }
  timer->start(static_cast<int>(std::min<uint32_t>(milliseconds, 0x7FFFFFFF)));
  return id;
}

bool killTimer(WindowHandle window, uintptr_t id) {
  Window* target = windowFromHandle(window);
  if (target == nullptr) return false;
  WindowPrivate& d = WindowAccess::d(*target);
  auto it = d.timers.find(id);
  if (it == d.timers.end()) return false;
  it->second->stop();
  it->second->deleteLater();
  d.timers.erase(it);
  return true;
}

}  // namespace platform::ui
