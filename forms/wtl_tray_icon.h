#pragma once
// The notification area icon of a frame class T (which has handle()): the
// icon with its tooltip, and the mouse on it. Right button released: the
// first popup of the icon's menu at the cursor, whose command reaches the
// frame as WM_COMMAND. Left double-click: the frame restored, shown and
// brought to the front.

#include <cstdint>
#include <string_view>

#include "platform/ui/image_list.h"
#include "platform/ui/menu.h"
#include "platform/ui/messages.h"
#include "platform/ui/notification_icon.h"
#include "platform/ui/window.h"

template <class T>
class WtlTrayIcon {
 public:
  explicit WtlTrayIcon(const platform::ui::MenuTemplate& menu) : menu_(menu) {}
  virtual ~WtlTrayIcon() = default;

  // Adds the icon; it counts as installed only if the system accepted it.
  bool installIcon(const platform::ui::Icon& icon, std::u16string_view tip, uint32_t id, uint32_t callbackMessage) {
    id_ = id;
    callbackMessage_ = callbackMessage;
    installed_ = icon_.add(static_cast<T*>(this)->handle(), id, callbackMessage, icon, tip);
    return installed_;
  }

  void removeIcon() {
    icon_.remove();
    installed_ = false;
  }

  bool isIconInstalled() const { return installed_; }
  platform::ui::NotificationIcon& notificationIcon() { return icon_; }

 protected:
  bool processTrayMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                          platform::ui::LResult& result) {
    using namespace platform::ui;
    if (!installed_ || message != callbackMessage_ || wParam != id_) return false;
    const WindowHandle frame = static_cast<T*>(this)->handle();
    switch (static_cast<uint32_t>(lParam)) {
      case WM_RBUTTONUP:
        if (!menu_.items.empty()) {
          setForegroundWindow(frame);
          trackPopupMenu(menu_.items.front().popup, cursorPosition(), frame);
          postMessage(frame, WM_NULL);  // lets the menu close properly
        }
        break;
      case WM_LBUTTONDBLCLK:
        if (isIconic(frame)) showWindow(frame, SW_RESTORE);
        showWindow(frame, SW_SHOW);
        setForegroundWindow(frame);
        break;
      default:
        break;
    }
    result = 0;
    return true;
  }

 private:
  const platform::ui::MenuTemplate& menu_;
  platform::ui::NotificationIcon icon_;
  uint32_t id_ = 0;
  uint32_t callbackMessage_ = 0;
  bool installed_ = false;
};
