#pragma once
// An icon in the notification area (the system tray). It is accepted only
// when the desktop has a notification area. Mouse events on it reach the
// owner as the callback message with the icon's identifier as wParam and
// the mouse message (WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP,
// WM_MBUTTONUP) as lParam.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/image_list.h"
#include "platform/ui/types.h"

class QSystemTrayIcon;

namespace platform::ui {

enum class BalloonIcon { none, information, warning, error };

class NotificationIcon {
 public:
  NotificationIcon();
  ~NotificationIcon();  // removes the icon
  NotificationIcon(const NotificationIcon&) = delete;
  NotificationIcon& operator=(const NotificationIcon&) = delete;

  // Whether the desktop has a notification area now.
  static bool available();

  // Adds the icon; false (nothing added) when there is no notification area
  // or it is added already. The tip is cut to 127 characters.
  bool add(WindowHandle owner, uint32_t id, uint32_t callbackMessage, const Icon& icon, std::u16string_view tip);
  bool setIcon(const Icon& icon);
  bool setTip(std::u16string_view tip);
  bool remove();
  bool isAdded() const { return tray_ != nullptr; }
  std::u16string tip() const { return tip_; }

  // A balloon message beside the icon, shown for `timeoutMs`.
  bool showBalloon(std::u16string_view title, std::u16string_view text, BalloonIcon icon, uint32_t timeoutMs);
  std::u16string lastBalloonTitle() const { return balloonTitle_; }
  std::u16string lastBalloonText() const { return balloonText_; }

  // The Qt icon while added, for tests that act as the user.
  QSystemTrayIcon* qtIcon() const { return tray_.get(); }

 private:
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::u16string tip_;
  std::u16string balloonTitle_;
  std::u16string balloonText_;
};

}  // namespace platform::ui
