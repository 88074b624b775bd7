#pragma once
// An X server of a test's own (Xvfb on a free display), optionally with a
// notification area (trayer) on it, for programs and tray icons that need a
// real window system.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/spawned_process.h"

namespace ui_testing {

using testing_support::SpawnedProcess;

#ifndef WN_LSAN_SUPPRESSIONS
#define WN_LSAN_SUPPRESSIONS ""
#endif

// An X server of its own (Xvfb on a free display), and optionally a
// notification area (trayer) on it.
class Desktop {
 public:
  explicit Desktop(bool withTray) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return;
    ::fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
    server_ = std::make_unique<SpawnedProcess>(std::vector<std::string>{
        "/usr/bin/Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    ::close(pipeFds[1]);
    char number[16] = {};
    ssize_t got = 0;
    for (ssize_t n; got < static_cast<ssize_t>(sizeof number) - 1 &&
                    (n = ::read(pipeFds[0], number + got, sizeof number - 1 - static_cast<size_t>(got))) > 0;) {
      got += n;
      if (number[got - 1] == '\n') break;
    }
    ::close(pipeFds[0]);
    if (got <= 0) return;
    display_ = ":" + std::string(number, static_cast<size_t>(got - 1));
    if (withTray) {
      tray_ = std::make_unique<SpawnedProcess>(
          std::vector<std::string>{"/usr/bin/trayer", "--edge", "top", "--align", "right", "--widthtype", "request"},
          environment());
      std::this_thread::sleep_for(std::chrono::milliseconds(500));  // trayer takes the notification area
    }
  }

  bool ready() const { return !display_.empty(); }
  const std::string& display() const { return display_; }
  std::vector<std::string> environment() const {
    return {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb", "LSAN_OPTIONS=suppressions=" WN_LSAN_SUPPRESSIONS};
  }

  // Clicks the notification area's first icon with xdotool's click
  // arguments ("3": the right button).
  bool clickTrayIcon(const std::string& click) const {
    return xdotool("search --name '^panel$' mousemove --window %1 12 13 click " + click);
  }
  bool typeKey(const std::string& key) const { return xdotool("key " + key); }
  // Runs xdotool on this display; whether it succeeded.
  bool xdotool(const std::string& arguments) const {
    return std::system(("DISPLAY=" + display_ + " xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
  }

 private:
  std::unique_ptr<SpawnedProcess> server_;
  std::unique_ptr<SpawnedProcess> tray_;
  std::string display_;
};

}  // namespace ui_testing
