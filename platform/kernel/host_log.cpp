#include "platform/kernel/host_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace platform::kernel {

namespace {

void writeToStandardError(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string timestamp() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03ld", now.tv_nsec / 1'000'000);
  return text;
}

}  // namespace

HostLog::HostLog() : sink_(writeToStandardError) {}

void HostLog::setSink(Sink sink) {
  std::lock_guard lock(mutex_);
  sink_ = sink ? std::move(sink) : Sink(writeToStandardError);
}

void HostLog::write(std::string_view message) {
  std::lock_guard lock(mutex_);
  writeLine(message);
}

void HostLog::writeThrottled(std::string_view message) {
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (now - windowStart_ >= std::chrono::seconds(1)) {
    windowStart_ = now;
    linesInWindow_ = 0;
  }
  if (linesInWindow_ >= kThrottledLinesPerSecond) {
    ++suppressed_;
    return;
  }
  ++linesInWindow_;
  if (suppressed_ > 0) {
    writeLine(std::string(message) + " (" + std::to_string(suppressed_) + " similar lines left out before this one)");
    suppressed_ = 0;
  } else {
    writeLine(message);
  }
}

void HostLog::writeLine(std::string_view message) {
  sink_(timestamp() + " " + program_invocation_short_name + "[" + std::to_string(::getpid()) + "]: " +
        std::string(message));
}

std::string systemMessage(int error) {
  char buffer[256];
  return ::strerror_r(error, buffer, sizeof buffer);
}

std::string describeException(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception that is not a std::exception";
  }
}

std::string fileError(std::string_view what, const std::string& path, int error) {
  return std::string(what) + " " + path + ": " + systemMessage(error);
}

}  // namespace platform::kernel
