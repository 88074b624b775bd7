#pragma once
// The files of a device host daemon in its system root: the pid file that
// names the daemon (and, locked, shows that it runs) and the log.

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "platform/unique_fd.h"

namespace devhost {

inline constexpr const char* kPidFileName = "devhost.pid";
inline constexpr const char* kLogFileName = "devhost.log";
// A log that grows past this is renamed to "devhost.log.1" (replacing the
// one before) and started afresh.
inline constexpr off_t kLogRotateBytes = 8 * 1024 * 1024;

std::filesystem::path pidFilePath();
std::filesystem::path logFilePath();

// The daemon's claim on its system root: the pid file, locked for as long as
// the object lives and removed with it.
class PidFile {
 public:
  // Throws tool::Failure naming the running daemon, or the file and the
  // system's message when it cannot be written.
  static PidFile claim();
  PidFile(PidFile&&) = default;
  PidFile& operator=(PidFile&&) = default;
  ~PidFile();

 private:
  PidFile() = default;
  platform::UniqueFd fd_;
};

// The pid of the daemon that runs on the system root, or 0.
pid_t runningDaemon();

// Waits until the daemon that held the pid file has ended; false after
// `timeoutMs`.
bool waitForDaemonEnd(int timeoutMs);

// Makes standard output and standard error the log (appending); throws
// tool::Failure naming the file when it cannot be opened.
void redirectOutputToLog();

// Writes one line to the log and renames it once it has grown past
// kLogRotateBytes. For the host's log sink.
void writeLogLine(std::string_view line);

}  // namespace devhost
