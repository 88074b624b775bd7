#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/errors.h"
#include "platform/format.h"
#include "platform/device_wire.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "tools/common/tool.h"

namespace tool {

namespace {

std::optional<uint32_t> parseHexWord(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

// A device host holds an exclusive lock on the lock file of every interface
// it serves; the kernel drops it when the host ends, however it ends.
bool lockHeld(const std::filesystem::path& file) {
  platform::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  return ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

}  // namespace

std::string deviceIdText(const ORVANE_DEVICE_ID& id) { return platform::formatText("%08X:%08X", id.first, id.second); }

std::optional<ORVANE_DEVICE_ID> parseDeviceId(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::optional<uint32_t> first = parseHexWord(text.substr(0, colon));
  const std::optional<uint32_t> second = parseHexWord(text.substr(colon + 1));
  if (!first || !second) return std::nullopt;
  return ORVANE_DEVICE_ID{*first, *second};
}

std::string devicePositionError(uint64_t position, size_t deviceCount) {
  const std::string prefix = "there is no device at position " + std::to_string(position) + ": ";
  if (deviceCount == 0) return prefix + "no device is connected";
  if (deviceCount == 1) return prefix + "1 device is connected (position 0)";
  return prefix + std::to_string(deviceCount) + " devices are connected (positions 0 to " +
         std::to_string(deviceCount - 1) + ")";
}

bool deviceHostRunning() {
  const std::filesystem::path devices = platform::systemRoot() / platform::wire::kDevicesDirectory;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(devices, error)) {
    if (entry.path().extension() == platform::wire::kLockSuffix && lockHeld(entry.path())) return true;
  }
  return false;
}

std::string openFailureText(std::string_view operation, std::u16string_view link, uint32_t error) {
  if (error == platform::ERROR_FILE_NOT_FOUND && !deviceHostRunning()) {
    return "no device host is running on " + platform::systemRoot().string() +
           "; start it with `machine start` or `devhost --daemon`";
  }
  std::string text = std::string(operation) + " failed: " + statusText(error);
  if (error == platform::ERROR_FILE_NOT_FOUND) {
    text += "; the device host on " + platform::systemRoot().string() + " serves no interface " +
            platform::toUtf8(link) + " (is its driver loaded?)";
  }
  return text;
}

void checkSystemRoot() {
  const std::string problem = platform::systemRootProblem();
  if (!problem.empty()) throw Failure{problem};
}

}  // namespace tool
