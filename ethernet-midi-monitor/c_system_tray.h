#pragma once
// The monitor's notification area icon: icon, tool tip, balloon messages and
// the pop-up menu. Mouse events arrive at the owner as the callback message;
// the owner passes them to OnTrayNotification.

#include <cstdint>
#include <string_view>

#include "platform/ui/menu.h"
#include "platform/ui/notification_icon.h"
#include "platform/ui/types.h"

class CSystemTray {
 public:
  // False when the desktop has no notification area.
  bool Create(platform::ui::WindowHandle owner, uint32_t callbackMessage, std::u16string_view tip, int iconId,
              uint32_t id, const platform::ui::MenuTemplate& menu);
  bool SetIcon(int iconId);
  int IconId() const { return iconId_; }
  bool ShowBalloon(std::u16string_view title, std::u16string_view text, platform::ui::BalloonIcon icon,
                   uint32_t timeoutMs);
  // Right button released: the menu's first pop-up at the cursor with its
  // default item; left double click: the default item's command.
  void OnTrayNotification(platform::ui::WParam wParam, platform::ui::LParam lParam);
  int DefaultCommand() const;

  platform::ui::NotificationIcon& icon() { return icon_; }

 private:
  platform::ui::NotificationIcon icon_;
  platform::ui::WindowHandle owner_;
  const platform::ui::MenuTemplate* menu_ = nullptr;
  uint32_t id_ = 0;
  int iconId_ = 0;
};
