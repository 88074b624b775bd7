#pragma once
// The device host's log: what the host cannot tell any caller (a driver's
// exception, a refused connection, a caller that did not answer, a file it
// could not create) and the drivers' own messages. One line each, with the
// time and the process: "2025-03-01 12:00:00.123 devhost[4711]: text".

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace platform::kernel {

class HostLog {
 public:
  // Receives each finished line, without the newline.
  using Sink = std::function<void(std::string_view line)>;

  HostLog();  // writes to standard error
  HostLog(const HostLog&) = delete;
  HostLog& operator=(const HostLog&) = delete;

  void setSink(Sink sink);
  void write(std::string_view message);
  // For what callers can cause at will: at most kThrottledLinesPerSecond such
  // lines a second; the others are counted and the count is written with the
  // next one that passes.
  void writeThrottled(std::string_view message);

  static constexpr uint32_t kThrottledLinesPerSecond = 20;

 private:
  void writeLine(std::string_view message);

  std::mutex mutex_;
  Sink sink_;
  std::chrono::steady_clock::time_point windowStart_{};
  uint32_t linesInWindow_ = 0;
  uint64_t suppressed_ = 0;
};

// "<what> <path>: <the system's message for errno>", e.g.
// "cannot create /x/devices/a.lock: Read-only file system".
std::string fileError(std::string_view what, const std::string& path, int error);

// The system's message for an errno value.
std::string systemMessage(int error);

// What an exception caught with `catch (...)` says.
std::string describeException(const std::exception_ptr& failure);

}  // namespace platform::kernel
