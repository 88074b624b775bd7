#pragma once
// Top-level windows across the processes of one system root.
//
// Every top-level window with a class name is entered in <root>/windows/ as
// w<pid>-<serial> (its class name inside); each process that has such windows
// serves requests for them on the socket <root>/windows/p<pid>.sock. A finder
// checks every candidate with its process, so the window of a process that
// died is never found (its leftovers are removed). Requests run on the owning
// process's GUI thread, bounded by the caller's time-out.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/types.h"

namespace platform::ui {

// The most recently created live top-level window of that class (compared
// without regard to case) in any process, or the null handle.
WindowHandle findWindow(std::u16string_view className);

// Every live top-level window with a class name, newest first.
std::vector<WindowHandle> enumTopLevelWindows();

// The class name of a window of any process ("" when unknown).
std::u16string getClassName(WindowHandle window);

// A message number in 0xC000..0xFFFF that is the same for `name` (compared
// without regard to case) in every process of the system root; 0 with the
// last error set when none can be given.
uint32_t registerWindowMessage(std::u16string_view name);

class WindowDirectory {
 public:
  // Called by the window layer for its top-level windows.
  static void enter(WindowHandle window, std::u16string_view className);
  static void withdraw(WindowHandle window);
  // Withdraws this process's entries and stops serving (process end).
  static void shutDown();

  enum class Operation : uint32_t {
    exists = 1,
    sendMessage = 2,
    showWindow = 3,
    isIconic = 4,
    isVisible = 5,
    setForeground = 6,
    lastActivePopup = 7,
  };

  // Runs an operation on a window of another process. False with the last
  // error set (1400 no such window, 1460 time-out) when it did not answer.
  static bool request(WindowHandle window, Operation operation, uint32_t message, WParam wParam, LParam lParam,
                      uint32_t timeoutMs, LResult* result);
};

}  // namespace platform::ui
