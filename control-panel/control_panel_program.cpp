#include "control-panel/control_panel_program.h"

#include <cstdio>

#include "control-panel/control_panel_resources.h"
#include "control-panel/main_frame.h"
#include "forms/first_instance.h"
#include "platform/errors.h"
#include "platform/handles.h"
#include "platform/mutexes.h"
#include "platform/text.h"
#include "platform/ui/application.h"
#include "platform/ui/screen.h"
#include "platform/ui/window_directory.h"
#include "platform/waits.h"

using namespace platform::ui;

namespace {

constexpr uint32_t kCloseAttempts = 50;
constexpr uint32_t kCloseInterval = 200;
// How long one close message may take before it counts as not answered.
constexpr uint32_t kCloseAnswerMs = 5000;

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

Rect initialFrameRect() {
  Rect desktop;
  if (!desktopRect(&desktop)) {
    return Rect{100, 100, 100 + MainFrame::kMinimumWidth, 100 + MainFrame::kMinimumHeight};
  }
  const int left = desktop.width() / 2 - MainFrame::kMinimumWidth / 2;
  const int top = desktop.height() / 2 - MainFrame::kMinimumHeight / 2;
  return Rect{left, top, left + MainFrame::kMinimumWidth, top + MainFrame::kMinimumHeight};
}

}  // namespace

ControlPanelOptions parseControlPanelCommandLine(std::u16string_view commandLine) {
  ControlPanelOptions options;
  size_t at = 0;
  while (at < commandLine.size()) {
    while (at < commandLine.size() && isSpace(commandLine[at])) ++at;
    const size_t start = at;
    while (at < commandLine.size() && !isSpace(commandLine[at])) ++at;
    const std::u16string token = platform::foldCase(commandLine.substr(start, at - start));
    if (token == u"-exit") options.exit = true;
    if (token == u"-hide") options.hide = true;
    if (token == u"-notray") options.noTray = true;
  }
  return options;
}

std::u16string joinArguments(int argc, char** argv) {
  std::u16string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += u' ';
    line += platform::toWide(argv[i]);
  }
  return line;
}

int exitRunningInstance() {
  for (uint32_t sent = 0;;) {
    const WindowHandle running = findWindow(cpl::kFrameClassName);
    if (!running) return 0;
    if (sent == kCloseAttempts) return 1;
    LResult ignored = 0;
    sendMessageTimeout(running, WM_CLOSE, 0, 0, kCloseAnswerMs, &ignored);
    ++sent;
    platform::sleepMs(kCloseInterval);
  }
}

int activateRunningInstance() { return activateFirstInstance(cpl::kFrameClassName); }

int runControlPanel(int argc, char** argv) {
  const ControlPanelOptions options = parseControlPanelCommandLine(joinArguments(argc, argv));
  setResources(&cpl::resources());
  if (options.exit) return exitRunningInstance();

  const platform::Handle instance = platform::createMutex(true, cpl::kFrameClassName);
  if (instance == nullptr || platform::lastError() == platform::ERROR_ALREADY_EXISTS) {
    return activateRunningInstance();
  }

  const std::string problem = Application::displayProblem();
  if (!problem.empty()) {
    std::fprintf(stderr, "orvanecpl: %s\n", problem.c_str());
    platform::closeHandle(instance);
    return 1;
  }
  int exitCode = 1;
  {
    Application application(argc, argv);
    auto frame = std::make_unique<MainFrame>(MainFrame::Options{options.hide, options.noTray});
    if (frame->createFrame(initialFrameRect())) {
      showWindow(frame->handle(), options.hide ? SW_HIDE : SW_SHOWNORMAL);
      exitCode = runMessageLoop();
    }
    frame.reset();
  }
  platform::closeHandle(instance);
  return exitCode;
}
