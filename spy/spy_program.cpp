#include "spy/spy_program.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "forms/first_instance.h"
#include "platform/errors.h"
#include "platform/handles.h"
#include "platform/mutexes.h"
#include "platform/ui/application.h"
#include "platform/ui/screen.h"
#include "spy/main_frame.h"
#include "spy/spy_resources.h"

using namespace platform::ui;

namespace {

// The window system's default place and size for a new top-level window:
// three quarters of the desktop, a little off its top left corner.
Rect defaultFrameRect() {
  Rect desktop;
  if (!desktopRect(&desktop)) return Rect{40, 40, 40 + MainFrame::kMinimumWidth, 40 + MainFrame::kMinimumHeight};
  const int width = std::max(desktop.width() * 3 / 4, MainFrame::kMinimumWidth);
  const int height = std::max(desktop.height() * 3 / 4, MainFrame::kMinimumHeight);
  return Rect{desktop.left + 40, desktop.top + 40, desktop.left + 40 + width, desktop.top + 40 + height};
}

}  // namespace

int runSpy(int argc, char** argv) {
  setResources(&spy::resources());
  const platform::Handle instance = platform::createMutex(true, spy::kFrameClassName);
  if (instance == nullptr || platform::lastError() == platform::ERROR_ALREADY_EXISTS) {
    if (instance != nullptr) platform::closeHandle(instance);
    return activateFirstInstance(spy::kFrameClassName);
  }
  const std::string problem = Application::displayProblem();
  if (!problem.empty()) {
    std::fprintf(stderr, "orvanespy: %s\n", problem.c_str());
    platform::closeHandle(instance);
    return 1;
  }
  int exitCode = 0;
  {
    Application application(argc, argv);
    auto frame = std::make_unique<MainFrame>();
    if (frame->createFrame(defaultFrameRect())) {
      showWindow(frame->handle(), SW_SHOWNORMAL);
      exitCode = runMessageLoop();
    }
    frame.reset();
  }
  platform::closeHandle(instance);
  return exitCode;
}
