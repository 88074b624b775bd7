#include "tools/devhost/daemon_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "platform/kernel/host_log.h"
#include "platform/system_root.h"
#include "tools/common/tool.h"

namespace devhost {

namespace {

[[noreturn]] void fail(std::string_view what, const std::filesystem::path& path, int error) {
  throw tool::Failure{platform::kernel::fileError(what, path.string(), error)};
}

void ensureRoot() {
  std::error_code ec;
  std::filesystem::create_directories(platform::systemRoot(), ec);
  if (ec) fail("cannot create", platform::systemRoot(), ec.value());
}

pid_t readPid(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  return n > 0 ? static_cast<pid_t>(std::atoi(text)) : 0;
}

// Whether `fd` is still the file at `path` (not one removed meanwhile by a
// daemon that ended).
bool stillNamed(int fd, const std::filesystem::path& path) {
  struct stat open {};
  struct stat named {};
  return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_ino == named.st_ino &&
         open.st_dev == named.st_dev;
}

}  // namespace

std::filesystem::path pidFilePath() { return platform::systemRoot() / kPidFileName; }
std::filesystem::path logFilePath() { return platform::systemRoot() / kLogFileName; }

PidFile PidFile::claim() {
  ensureRoot();
  const std::filesystem::path path = pidFilePath();
  for (;;) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.valid()) fail("cannot create", path, errno);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      throw tool::Failure{"a device host daemon already runs on " + platform::systemRoot().string() + " (pid " +
                          std::to_string(readPid(fd.get())) + "); `devhost --stop` stops it"};
    }
    if (!stillNamed(fd.get(), path)) continue;  // its daemon removed it as we opened it
    const std::string text = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.get(), 0) != 0 || ::pwrite(fd.get(), text.data(), text.size(), 0) != ssize_t(text.size())) {
      fail("cannot write", path, errno);
    }
    PidFile claimed;
    claimed.fd_ = std::move(fd);
    return claimed;
  }
}

PidFile::~PidFile() {
  // Removed while still locked, so that no one takes over a file on its way out.
  if (fd_.valid()) ::unlink(pidFilePath().c_str());
}

pid_t runningDaemon() {
  platform::UniqueFd fd(::open(pidFilePath().c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return 0;
  // A lock that can be had belongs to no one: the daemon is gone.
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return 0;
  return readPid(fd.get());
}

bool waitForDaemonEnd(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (runningDaemon() != 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void redirectOutputToLog() {
  ensureRoot();
  const std::filesystem::path path = logFilePath();
  platform::UniqueFd log(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!log.valid()) fail("cannot create", path, errno);
  ::dup2(log.get(), STDOUT_FILENO);
  ::dup2(log.get(), STDERR_FILENO);
}

void writeLogLine(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
  struct stat st {};
  if (::fstat(STDERR_FILENO, &st) != 0 || st.st_size < kLogRotateBytes) return;
  const std::filesystem::path path = logFilePath();
  std::error_code ec;
  std::filesystem::rename(path, path.string() + ".1", ec);
  platform::UniqueFd fresh(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (ec || !fresh.valid()) return;  // keeps writing where it was
  ::dup2(fresh.get(), STDOUT_FILENO);
  ::dup2(fresh.get(), STDERR_FILENO);
}

}  // namespace devhost
