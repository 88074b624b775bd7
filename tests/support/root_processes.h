#pragma once
// Ends every process that was started on a system root: each program that a
// test's services, machine or tools started inherits WN_SYSTEM_ROOT, which
// /proc/<pid>/environ shows. Tests call it at the end, also when they fail,
// so that nothing they started is left running.

#include <filesystem>
#include <vector>

#include <sys/types.h>

namespace testing_support {

// The processes (other than this one) whose environment names `root` as the system root.
std::vector<pid_t> processesOfRoot(const std::filesystem::path& root);

// Kills them (SIGKILL) and waits, at most 10 s, until they are gone.
void endProcessesOfRoot(const std::filesystem::path& root);

}  // namespace testing_support
