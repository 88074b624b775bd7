#pragma once
// The GUI thread and its message queue.
//
// One Application per process: it creates the Qt application on the calling
// thread, which becomes the GUI thread that owns every window. The thread's
// message queue rides on Qt's event loop: a message posted from any thread is
// a Qt event for that thread, and completion routines queued to the thread
// (device interface notifications for windows among them) run from the loop
// as they arrive, as in an alertable wait.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::ui {

class Application {
 public:
  // `argv` must outlive the application. Does not return when no display can
  // be opened; call displayProblem() first.
  Application(int& argc, char** argv);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Why the window system cannot be reached ("" when it can): no DISPLAY,
  // WAYLAND_DISPLAY or QT_QPA_PLATFORM to choose a platform from.
  static std::string displayProblem();
};

bool isGuiThread();

// Runs the GUI thread's message loop until WM_QUIT; returns its exit code.
int runMessageLoop();

// Posts WM_QUIT: the running message loop (and any modal loop inside it)
// ends with `exitCode`. Ignored when no loop runs.
void postQuitMessage(int exitCode);

// Runs `task` on the GUI thread and waits at most `timeoutMs` for it
// (0xFFFFFFFF: no limit). On the GUI thread it runs at once. False when the
// GUI thread did not run it in time or there is none; a task that missed its
// time is still run later unless the queue is gone.
bool runOnGuiThread(const std::function<void()>& task, uint32_t timeoutMs);

namespace detail {
// Queues `task` for the GUI thread without waiting; false when there is no
// GUI thread queue.
bool queueToGuiThread(std::function<void()> task);
}  // namespace detail

}  // namespace platform::ui
