#pragma once
// Administrator rights of the calling process. The emulated machine decides
// them from how the program was started: a program started as a standard
// user has WN_ADMINISTRATOR=0 in its environment; the shell verb "runas"
// (shell_execute.h) starts a program with the rights; every other process is
// an administrator. The registry refuses a standard user write access under
// HKEY_LOCAL_MACHINE (ERROR_ACCESS_DENIED).

namespace platform {

inline constexpr char kAdministratorVariable[] = "WN_ADMINISTRATOR";

// Read on every call, so that a test can change it.
bool isAdministrator();

}  // namespace platform
