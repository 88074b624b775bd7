#pragma once
// The system root: the directory that holds all machine-wide state of the
// emulated system (registry, named objects, device interfaces, services).

#include <filesystem>
#include <string>

namespace platform {

inline constexpr const char* kSystemRootVariable = "WN_SYSTEM_ROOT";

// $WN_SYSTEM_ROOT, or ~/.local/share/wn-system when it is unset or empty.
// The directory is not created here.
std::filesystem::path systemRoot();

// What is wrong with the system root setting, or "" when nothing is: an
// empty WN_SYSTEM_ROOT (most likely a variable that was meant to hold a path),
// or a root that exists but is no directory. Programs that a user starts by
// hand say it rather than quietly using another root.
std::string systemRootProblem();

// A directory below the system root, created (with its parents) when missing.
// Returns an empty path and sets the last error when it cannot be created.
std::filesystem::path systemDirectory(const std::string& name);

}  // namespace platform
