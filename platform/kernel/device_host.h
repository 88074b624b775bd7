#pragma once
// The device host: the emulated machine's kernel. It runs kernel-mode drivers
// in this process and serves their device interfaces as sockets in the system
// root's "devices" directory (one connection = one file object).

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/driver.h"

namespace platform::kernel {

class DeviceHost {
 public:
  DeviceHost();
  ~DeviceHost();  // stops
  DeviceHost(const DeviceHost&) = delete;
  DeviceHost& operator=(const DeviceHost&) = delete;

  // Opens the devices directory of the current system root (created when
  // missing) and starts accepting connections. 0 or a system error code.
  uint32_t start();

  // Loads a driver module and runs its entry with the service key's path.
  // Returns the entry's status; STATUS_OBJECT_NAME_NOT_FOUND when the module
  // cannot be loaded, STATUS_INVALID_IMAGE_FORMAT when it has no entry. A
  // failing driver is unloaded again; `error` receives a readable reason.
  NtStatus loadDriver(const std::string& modulePath, const std::u16string& serviceName,
                      std::string* error = nullptr);
  // Runs a driver linked into this program.
  NtStatus addDriver(DriverEntryFunction entry, const std::u16string& serviceName, std::string* error = nullptr);

  // Withdraws every interface (file objects get their cleanup), unloads the
  // drivers and stops accepting. Idempotent.
  void stop();

  std::filesystem::path devicesDirectory() const;
  std::vector<DeviceInterfaceInfo> interfaces() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

inline constexpr NtStatus STATUS_INVALID_IMAGE_FORMAT = 0xC000007B;

// "\Registry\Machine\System\CurrentControlSet\Services\<service name>"
std::u16string serviceRegistryPath(const std::u16string& serviceName);

}  // namespace platform::kernel
