#pragma once
// What one caller can make the device host spend. docs/device-host.md
// explains each bound and how to change it.

#include <chrono>
#include <cstdint>

namespace platform::kernel {

struct HostLimits {
  // Open connections of one caller process, over all interfaces; the next one
  // is refused (STATUS_QUOTA_EXCEEDED, error 1816).
  uint32_t connectionsPerProcess = 64;
  // Requests one connection may have in the host at a time: being served,
  // waiting behind an open query, or pending in the driver. The next one fails
  // at once (STATUS_INSUFFICIENT_RESOURCES, error 1450).
  uint32_t requestsPerConnection = 64;
  // Input and output bytes of those requests together; a lone request may
  // always use the largest message.
  uint64_t bytesPerConnection = 2 * 1024 * 1024;
  // How long the host waits for the caller's answer to a question about an
  // event handle or a memory range (STATUS_IO_TIMEOUT to the driver).
  std::chrono::milliseconds answerTimeout{5000};
};

}  // namespace platform::kernel
