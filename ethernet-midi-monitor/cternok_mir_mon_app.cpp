#include "ethernet-midi-monitor/cternok_mir_mon_app.h"

#include <cstdlib>
#include <optional>

#include "ethernet-midi-monitor/cternok_mir_mon_dlg.h"
#include "ethernet-midi-monitor/mirelo_mon_resources.h"
#include "platform/errors.h"
#include "platform/handles.h"
#include "platform/mutexes.h"
#include "platform/text.h"
#include "platform/ui/application.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"
#include "platform/ui/window_directory.h"

using namespace platform::ui;

namespace {

// A decimal number, or nothing.
std::optional<int> parsePosition(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < -100000 || value > 100000) return std::nullopt;
  return static_cast<int>(value);
}

// Brings the running monitor of this desktop to the front.
void activateFirstInstance() {
  const uint32_t areYouMe = registerWindowMessage(CternokMirMonDlg::kAreYouMe);
  if (areYouMe == 0) return;
  for (const WindowHandle window : enumTopLevelWindows()) {
    LResult answer = 0;
    if (sendMessageTimeout(window, areYouMe, 0, 0, 200, &answer) && answer == static_cast<LResult>(areYouMe)) {
      showWindow(window, SW_SHOW);
      setForegroundWindow(window);
      return;
    }
  }
}

bool clientFailed(CternokMirMonDlg& dialog) { return dialog.client().Failed(); }

}  // namespace

std::u16string CternokMirMonApp::MutexName() {
  // Every program of one X display shares a desktop.
  const char* display = std::getenv("DISPLAY");
  return std::u16string(kMutexPrefix) + u"-" + (display != nullptr ? platform::toWide(display) : u"Default");
}

int CternokMirMonApp::Run(const std::vector<std::string>& arguments) {
  std::optional<int> x;
  std::optional<int> y;
  if (arguments.size() == 2) {
    x = parsePosition(arguments[0]);
    y = parsePosition(arguments[1]);
  }
  const bool restarted = x && y;
  const platform::Handle mutex = platform::createMutex(false, MutexName().c_str());
  const uint32_t error = platform::lastError();
  if ((mutex == nullptr || error == platform::ERROR_ALREADY_EXISTS || error == platform::ERROR_ACCESS_DENIED) &&
      !restarted) {
    activateFirstInstance();
    if (mutex != nullptr) platform::closeHandle(mutex);
    return 0;
  }
  setResources(&mirelo_mon::resources());
  int result = 0;
  {
    CternokMirMonDlg dialog;
    if (!dialog.HasDevice()) {
      messageBox({}, u"Mirelo Device not installed", u"Error", MB_OK | MB_ICONERROR);
    } else if (clientFailed(dialog)) {
      result = 1;
    } else if (dialog.create({}, u"Dialog") && dialog.Initialised()) {
      if (restarted) {
        showWindow(dialog.handle(), SW_SHOW);
        if (*x != 0 && *y != 0) {
          Rect rect = getWindowRect(dialog.handle());
          moveWindow(dialog.handle(), {*x, *y, *x + rect.width(), *y + rect.height()});
        }
        setForegroundWindow(dialog.handle());
      }
      result = runMessageLoop();
    } else {
      result = 1;
    }
  }
  setResources(nullptr);
  if (mutex != nullptr) platform::closeHandle(mutex);
  return result;
}
