#include "platform/ui/notification_icon.h"

#include <QSystemTrayIcon>

#include "platform/ui/messages.h"
#include "platform/ui/qt_support.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {

constexpr size_t kTipCharacters = 127;

uint32_t mouseMessageOf(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Context:
      return WM_RBUTTONUP;
    case QSystemTrayIcon::DoubleClick:
      return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::MiddleClick:
      return WM_MBUTTONUP;
    default:
      return WM_LBUTTONUP;
  }
}

}  // namespace

NotificationIcon::NotificationIcon() = default;

NotificationIcon::~NotificationIcon() { remove(); }

bool NotificationIcon::available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool NotificationIcon::add(WindowHandle owner, uint32_t id, uint32_t callbackMessage, const Icon& icon,
                           std::u16string_view tip) {
  if (tray_ != nullptr || !available()) return false;
  tray_ = std::make_unique<QSystemTrayIcon>(icon.qIcon());
  tip_ = std::u16string(tip.substr(0, kTipCharacters));
  tray_->setToolTip(toQString(tip_));
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                   [owner, id, callbackMessage](QSystemTrayIcon::ActivationReason reason) {
                     QtCallbackScope scope;
                     sendMessage(owner, callbackMessage, id, static_cast<LParam>(mouseMessageOf(reason)));
                   });
  tray_->show();
  return true;
}

bool NotificationIcon::setIcon(const Icon& icon) {
  if (tray_ == nullptr) return false;
  tray_->setIcon(icon.qIcon());
  return true;
}

bool NotificationIcon::setTip(std::u16string_view tip) {
  if (tray_ == nullptr) return false;
  tip_ = std::u16string(tip.substr(0, kTipCharacters));
  tray_->setToolTip(toQString(tip_));
  return true;
}

bool NotificationIcon::remove() {
  if (tray_ == nullptr) return false;
  tray_->hide();
  tray_.reset();
  return true;
}

bool NotificationIcon::showBalloon(std::u16string_view title, std::u16string_view text, BalloonIcon icon,
                                   uint32_t timeoutMs) {
  if (tray_ == nullptr) return false;
  balloonTitle_ = std::u16string(title);
  balloonText_ = std::u16string(text);
  QSystemTrayIcon::MessageIcon kind = QSystemTrayIcon::NoIcon;
  if (icon == BalloonIcon::information) kind = QSystemTrayIcon::Information;
  if (icon == BalloonIcon::warning) kind = QSystemTrayIcon::Warning;
  if (icon == BalloonIcon::error) kind = QSystemTrayIcon::Critical;
  tray_->showMessage(toQString(title), toQString(text), kind, static_cast<int>(timeoutMs));
  return true;
}

}  // namespace platform::ui
