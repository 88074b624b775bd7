#include "platform/ui/screen.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform::ui {

bool desktopRect(Rect* rect) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return false;
  const QRect area = screen->geometry();
  *rect = Rect{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
  return true;
}

bool screenSize(Size* size) {
  Rect area;
  if (!desktopRect(&area)) return false;
  *size = Size{area.width(), area.height()};
  return true;
}

}  // namespace platform::ui
