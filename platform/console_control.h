#pragma once
// Console control events: Ctrl+C (SIGINT), Ctrl+Break (SIGQUIT), the console
// closing (SIGHUP) and the system shutting down (SIGTERM) reach the handlers a
// program installed, each event on a thread of its own. The handlers are asked
// newest first; the first that returns true ends the handling. When none does,
// the default handling ends the process (by the signal that came).

#include <cstdint>

namespace platform {

inline constexpr uint32_t CTRL_C_EVENT = 0;
inline constexpr uint32_t CTRL_BREAK_EVENT = 1;
inline constexpr uint32_t CTRL_CLOSE_EVENT = 2;
inline constexpr uint32_t CTRL_LOGOFF_EVENT = 5;
inline constexpr uint32_t CTRL_SHUTDOWN_EVENT = 6;

using ConsoleCtrlHandler = bool (*)(uint32_t ctrlType);

// Adds or removes a handler. A null handler with add == true makes the
// process ignore Ctrl+C (false: heed it again). Removing a handler that was
// never added fails with 87. The first call installs the signal handling.
bool setConsoleCtrlHandler(ConsoleCtrlHandler handler, bool add);

// Raises a console control event in this process as the console would
// (CTRL_C_EVENT or CTRL_BREAK_EVENT; 87 for another).
bool generateConsoleCtrlEvent(uint32_t ctrlType);

}  // namespace platform
