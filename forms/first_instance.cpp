#include "forms/first_instance.h"

#include "platform/ui/window.h"
#include "platform/ui/window_directory.h"

using namespace platform::ui;

int activateFirstInstance(std::u16string_view frameClassName) {
  const WindowHandle running = findWindow(frameClassName);
  if (!running) return 1;
  if (isIconic(running)) showWindow(running, SW_RESTORE);
  const WindowHandle popup = getLastActivePopup(running);
  showWindow(popup, SW_SHOW);
  setForegroundWindow(popup);
  return 1;
}
