#pragma once
// Windows and messages on Qt widgets.
//
// A Window is one widget with a handle, a window procedure (processMessage,
// then defaultProcessing for what no handler took) and timers. Qt's events
// of the widget (resize, close box, minimize, keys of dialogs) are turned
// into messages in one place, translateEvent. Every window belongs to the
// GUI thread, the thread that created the Application; other threads post
// messages to it, which wakes its event loop at once.
//
// Handles are global: a handle of another process (found with findWindow)
// works with the few functions that reach across processes: sendMessageTimeout
// with integer parameters, showWindow, isIconic, isWindowVisible,
// setForegroundWindow, getLastActivePopup, isWindow.
//
// Destroying a window (destroyWindow, or WM_CLOSE's default) sends WM_DESTROY
// to it and then to each child window, then WM_NCDESTROY, and frees the
// widgets. The C++ object stays and may be created again; its destructor
// frees a window that still exists without sending messages.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/device_notifications.h"
#include "platform/ui/messages.h"
#include "platform/ui/types.h"

class QWidget;
class QEvent;

namespace platform::ui {

class Icon;

class Window {
 public:
  Window();
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  WindowHandle handle() const { return handle_; }
  // Null while the window does not exist.
  QWidget* widget() const;
  bool exists() const { return widget() != nullptr; }
  const std::u16string& className() const { return className_; }

  // The window procedure: true when the message was handled, with `result`
  // set. Derived windows handle what they want and pass the rest to their base.
  virtual bool processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result);
  // What happens with a message that no handler took (WM_CLOSE destroys the
  // window, WM_SYSCOMMAND closes or minimizes it, ...).
  virtual LResult defaultProcessing(uint32_t message, WParam wParam, LParam lParam);

  // processMessage, then defaultProcessing when it was not handled.
  LResult dispatch(uint32_t message, WParam wParam, LParam lParam);

  // The window's text: a top-level window's title; controls show theirs.
  virtual void setText(std::u16string_view text);
  virtual std::u16string text() const;

  // Forwards device interface arrival and removal to this window as
  // WM_DEVICECHANGE; register it with DEVICE_NOTIFY_WINDOW_HANDLE from the
  // GUI thread.
  platform::DeviceNotificationRecipient* deviceNotificationRecipient() { return &deviceRecipient_; }

 protected:
  // Makes `widget` this window: gives it a handle and watches its events.
  // A top-level window with a class name can be found by other processes.
  // Sends nothing; the creating class sends WM_CREATE or WM_INITDIALOG.
  void attachWidget(QWidget* widget, std::u16string_view className = {});

  // Turns one Qt event of the widget into messages; true when Qt must not
  // handle the event itself. The base handles resize, close, minimize and
  // activation.
  virtual bool translateEvent(QEvent* event);

 private:
  friend struct WindowAccess;  // the window layer's functions

  class DeviceChangeForwarder final : public platform::DeviceNotificationRecipient {
   public:
    explicit DeviceChangeForwarder(Window* owner) : owner_(owner) {}
    void onDeviceChange(uint32_t eventType, const uint8_t* record) override;

   private:
    Window* owner_;
  };

  // Forgets the widget and handle: timers stop, the handle is withdrawn.
  void detach();
  void noteActivated();

  WindowHandle handle_;
  std::unique_ptr<struct WindowPrivate> d_;  // the widget side
  std::u16string className_;
  WindowHandle lastActivePopup_;
  // Set while WM_SYSCOMMAND SC_MINIMIZE for a minimize the window system
  // already did is processed: the window still counts as not minimized.
  bool minimizeInProgress_ = false;
  DeviceChangeForwarder deviceRecipient_{this};
};

// The window of a handle of this process, or null (also for other processes'
// handles and destroyed windows). GUI thread only.
Window* windowFromHandle(WindowHandle window);
// The window whose widget is `widget`, or null.
Window* windowFromWidget(const QWidget* widget);

// Sends a message and returns the window procedure's result. On the GUI
// thread it runs at once; from another thread of the process it waits until
// the GUI thread has run it. 0 for an unknown handle. Windows of other
// processes: as sendMessageTimeout without a time-out.
LResult sendMessage(WindowHandle window, uint32_t message, WParam wParam = 0, LParam lParam = 0);

// Sends a message, waiting at most `timeoutMs` for the answer. False (last
// error 1400 for an unknown window, 1460 on time-out, 5 for a message whose
// parameters cannot cross processes) when no answer came.
bool sendMessageTimeout(WindowHandle window, uint32_t message, WParam wParam, LParam lParam, uint32_t timeoutMs,
                        LResult* result);

// Queues a message for a window of this process, from any thread. False
// (last error 1400) when the window does not exist or the GUI thread's queue
// is gone.
bool postMessage(WindowHandle window, uint32_t message, WParam wParam = 0, LParam lParam = 0);

bool isWindow(WindowHandle window);
bool destroyWindow(WindowHandle window);
// Shows, hides, minimizes or restores; sends WM_SHOWWINDOW first when the
// visibility changes. Returns whether the window was visible before.
bool showWindow(WindowHandle window, int command);
bool isWindowVisible(WindowHandle window);
bool isIconic(WindowHandle window);
// Enables or disables input; returns whether the window was disabled before.
bool enableWindow(WindowHandle window, bool enable);
bool isWindowEnabled(WindowHandle window);
// Raises and activates a top-level window.
bool setForegroundWindow(WindowHandle window);
// The top-level window that has the focus, or null.
WindowHandle getActiveWindow();
// The popup owned by `window` that was active last, or `window` itself.
WindowHandle getLastActivePopup(WindowHandle window);
// Records `popup` as the last active popup of the window that owns it (done
// when a popup is activated; modal dialogs say so when they start).
void notePopupActive(WindowHandle popup);
// The window whose widget contains this one's, or null.
WindowHandle getParent(WindowHandle window);

// Gives the window the keyboard focus.
bool setFocus(WindowHandle window);
// Repaints the window now.
bool updateWindow(WindowHandle window);

bool setWindowText(WindowHandle window, std::u16string_view text);
// The icon of a top-level window of this process (its title bar and task
// switcher); a null icon removes it.
bool setWindowIcon(WindowHandle window, const Icon& icon);
bool hasWindowIcon(WindowHandle window);
// The icon a top-level window of this process carries; null without one.
Icon windowIcon(WindowHandle window);
std::u16string getWindowText(WindowHandle window);

// Rectangles of top-level windows are in screen coordinates, of child windows
// in their parent's; both cover the widget without the window system's
// decorations.
Rect getWindowRect(WindowHandle window);
bool moveWindow(WindowHandle window, const Rect& rect);
Rect getClientRect(WindowHandle window);

// Starts (or restarts) the timer `id` of a window: WM_TIMER every
// `milliseconds`. Returns `id`, or 0 for an unknown window or id 0.
uintptr_t setTimer(WindowHandle window, uintptr_t id, uint32_t milliseconds);
bool killTimer(WindowHandle window, uintptr_t id);

}  // namespace platform::ui
