#include "ethernet-midi-monitor/c_system_tray.h"

#include "platform/ui/messages.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

using namespace platform::ui;

bool CSystemTray::Create(WindowHandle owner, uint32_t callbackMessage, std::u16string_view tip, int iconId,
                         uint32_t id, const MenuTemplate& menu) {
  owner_ = owner;
  menu_ = &menu;
  id_ = id;
  iconId_ = iconId;
  return icon_.add(owner, id, callbackMessage, loadIcon(iconId), tip);
}

bool CSystemTray::SetIcon(int iconId) {
  if (iconId == iconId_) return true;
  iconId_ = iconId;
  return icon_.setIcon(loadIcon(iconId));
}

bool CSystemTray::ShowBalloon(std::u16string_view title, std::u16string_view text, BalloonIcon icon,
                              uint32_t timeoutMs) {
  return icon_.showBalloon(title, text, icon, timeoutMs);
}

int CSystemTray::DefaultCommand() const {
  if (menu_ == nullptr || menu_->items.empty()) return 0;
  for (const MenuItem& item : menu_->items.front().popup) {
    if ((item.flags & menuFlag::defaultItem) != 0) return item.command;
  }
  return 0;
}

void CSystemTray::OnTrayNotification(WParam wParam, LParam lParam) {
  if (wParam != id_ || menu_ == nullptr || menu_->items.empty()) return;
  switch (static_cast<uint32_t>(lParam)) {
    case WM_RBUTTONUP:
      setForegroundWindow(owner_);
      trackPopupMenu(menu_->items.front().popup, cursorPosition(), owner_);
      postMessage(owner_, WM_NULL);  // lets the menu close properly
      break;
    case WM_LBUTTONDBLCLK:
      sendMessage(owner_, WM_COMMAND, static_cast<WParam>(DefaultCommand()), 0);
      break;
    default:
      break;
  }
}
