#include "platform/ui/menu.h"

#include <QAction>
#include <QCursor>
#include <QMenu>

#include "platform/ui/messages.h"
#include "platform/ui/qt_support.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace platform::ui {

void fillQtMenu(QMenu* menu, std::span<const MenuItem> items, const std::function<void(int)>& onCommand,
                std::span<const CommandImage> images) {
  for (const MenuItem& item : items) {
    if ((item.flags & menuFlag::separator) != 0) {
      menu->addSeparator();
      continue;
    }
    if (!item.popup.empty()) {
      fillQtMenu(menu->addMenu(windowsText(item.text)), item.popup, onCommand, images);
      continue;
    }
    QAction* action = menu->addAction(windowsText(item.text));
    action->setData(item.command);
    const std::u16string prompt = loadString(item.command);
    action->setStatusTip(toQString(std::u16string_view(prompt).substr(0, prompt.find(u'\n'))));
    for (const CommandImage& image : images) {
      if (image.command == item.command) action->setIcon(image.icon.qIcon());
    }
    if ((item.flags & menuFlag::defaultItem) != 0) menu->setDefaultAction(action);
    const int command = item.command;
    QObject::connect(action, &QAction::triggered, menu, [onCommand, command] {
      QtCallbackScope scope;
      onCommand(command);
    });
  }
}

int trackPopupMenu(std::span<const MenuItem> items, Point screenPosition, WindowHandle owner) {
  QMenu menu;
  int chosen = 0;
  fillQtMenu(&menu, items, [&chosen](int command) { chosen = command; }, {});
  menu.exec(QPoint(screenPosition.x, screenPosition.y));
  if (chosen != 0) postMessage(owner, WM_COMMAND, makeWParam(static_cast<uint16_t>(chosen), 0), 0);
  return chosen;
}

Point cursorPosition() {
  const QPoint position = QCursor::pos();
  return Point{position.x(), position.y()};
}

}  // namespace platform::ui
