#pragma once
// The device host: the emulated machine's kernel. It runs kernel-mode drivers
// in this process and serves their device interfaces as sockets in the system
// root's "devices" directory (one connection = one file object).
//
// Like a kernel it trusts no caller: what one caller process can make it
// spend is bounded (HostLimits), signalling a caller's event never blocks,
// and a missing thread, descriptor or page refuses one request or connection
// with a status, never the host. What no caller can be told goes to the log.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/driver.h"
#include "platform/kernel/host_limits.h"
#include "platform/kernel/host_log.h"

namespace platform::kernel {

class DeviceHost {
 public:
  DeviceHost();
  ~DeviceHost();  // stops
  DeviceHost(const DeviceHost&) = delete;
  DeviceHost& operator=(const DeviceHost&) = delete;

  // Both before start().
  void setLimits(const HostLimits& limits);
  // Where the log's lines go; standard error by default.
  void setLogSink(HostLog::Sink sink);
  HostLog& log();

  // Opens the devices directory of the current system root (created when
  // missing) and starts accepting connections. 0 or a system error code;
  // `error` receives a readable reason ("cannot create <path>: <reason>").
  uint32_t start(std::string* error = nullptr);

  // Loads a driver module and runs its entry with the service key's path.
  // Returns the entry's status; STATUS_OBJECT_NAME_NOT_FOUND when the module
  // cannot be loaded, STATUS_INVALID_IMAGE_FORMAT when it has no entry. A
  // failing driver is unloaded again; `error` receives a readable reason,
  // with the last line the driver logged during its entry.
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
