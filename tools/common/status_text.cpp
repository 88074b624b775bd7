#include <iterator>
#include <string>

#include "device-access/orvane_status.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "tools/common/tool.h"

namespace tool {

namespace {

struct KernelStatusName {
  uint32_t status;
  const char* name;
};

// The kernel statuses a driver or the device host may report.
constexpr KernelStatusName kKernelStatusNames[] = {
    {0x00000000, "STATUS_SUCCESS"},
    {0x00000102, "STATUS_TIMEOUT"},
    {0x00000103, "STATUS_PENDING"},
    {0x80000005, "STATUS_BUFFER_OVERFLOW"},
    {0xC0000001, "STATUS_UNSUCCESSFUL"},
    {0xC0000002, "STATUS_NOT_IMPLEMENTED"},
    {0xC0000008, "STATUS_INVALID_HANDLE"},
    {0xC000000D, "STATUS_INVALID_PARAMETER"},
    {0xC0000010, "STATUS_INVALID_DEVICE_REQUEST"},
    {0xC0000017, "STATUS_NO_MEMORY"},
    {0xC0000023, "STATUS_BUFFER_TOO_SMALL"},
    {0xC0000034, "STATUS_OBJECT_NAME_NOT_FOUND"},
    {0xC0000035, "STATUS_OBJECT_NAME_COLLISION"},
    {0xC000007B, "STATUS_INVALID_IMAGE_FORMAT"},
    {0xC000009A, "STATUS_INSUFFICIENT_RESOURCES"},
    {0xC000009D, "STATUS_DEVICE_NOT_CONNECTED"},
    {0xC00000B5, "STATUS_IO_TIMEOUT"},
    {0xC0000120, "STATUS_CANCELLED"},
    {0xC0000141, "STATUS_INVALID_ADDRESS"},
    {0xC0000184, "STATUS_INVALID_DEVICE_STATE"},
    {0xC000020A, "STATUS_ADDRESS_ALREADY_EXISTS"},
    {0xC0000225, "STATUS_NOT_FOUND"},
    {0xC000023C, "STATUS_NETWORK_UNREACHABLE"},
    {0xC0000272, "STATUS_NO_MATCH"},
};

const char* kernelStatusName(uint32_t status) {
  for (const KernelStatusName& entry : kKernelStatusNames) {
    if (entry.status == status) return entry.name;
  }
  return nullptr;
}

std::string hex32(uint32_t value) { return platform::formatText("0x%08X", value); }

}  // namespace

std::string statusText(uint32_t status) {
  if (status == 0) return orvaneStatusName(0);
  if (status < 0x80000000u) return platform::errorMessage(status) + " (system error " + std::to_string(status) + ")";
  if (status >= 0xE0000000u) {
    const std::string name = orvaneStatusName(status);
    if (name != "???") return name + " (" + hex32(status) + ")";
  } else if (const char* name = kernelStatusName(status)) {
    return std::string(name) + " (" + hex32(status) + ")";
  }
  return "unknown status " + hex32(status);
}

std::string kernelStatusText(uint32_t status) {
  if (const char* name = kernelStatusName(status)) return std::string(name) + " (" + hex32(status) + ")";
  return "kernel status " + hex32(status);
}

}  // namespace tool
