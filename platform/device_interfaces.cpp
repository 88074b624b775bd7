#include "platform/device_interfaces.h"

#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/system_root.h"
#include "platform/text.h"

namespace platform {

namespace {

// A metadata file "<name>.<link>.<class>.info" holds "link=", "class=",
// "description=" and "pid=" (of the serving host) lines. `hostAlive` tells
// whether that process still runs: a killed host leaves its files behind.
bool readMetadata(const std::filesystem::path& file, DeviceInterface* found, bool* hostAlive) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  bool haveLink = false;
  bool haveClass = false;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "link") {
      found->linkName = toWide(value);
      haveLink = !value.empty();
    } else if (key == "class") {
      haveClass = parseGuid(value, &found->interfaceClass);
    } else if (key == "description") {
      found->description = toWide(value);
    } else if (key == "pid") {
      const long pid = std::strtol(value.c_str(), nullptr, 10);
      *hostAlive = pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
    }
  }
  return haveLink && haveClass;
}

}  // namespace

std::vector<DeviceInterface> enumerateDeviceInterfaces(const Guid& interfaceClass) {
  std::vector<DeviceInterface> result;
  const std::filesystem::path directory = systemRoot() / "devices";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 6 || name.compare(name.size() - 5, 5, ".info") != 0) continue;
    DeviceInterface found;
    bool hostAlive = false;
    if (!readMetadata(entry.path(), &found, &hostAlive) || !hostAlive || found.interfaceClass != interfaceClass) {
      continue;
    }
    result.push_back(std::move(found));
  }
  std::sort(result.begin(), result.end(),
            [](const DeviceInterface& a, const DeviceInterface& b) { return a.linkName < b.linkName; });
  return result;
}

}  // namespace platform
