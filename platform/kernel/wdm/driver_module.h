#pragma once
// A driver built on the kernel stand-ins, running as a module of the device
// host. The module's exported entry hands over to runDriverModule:
//
//   extern "C" uint32_t DriverEntry(platform::kernel::DriverObject* host, const char16_t* path) {
//     return platform::wdm::runDriverModule(host, path, &mydriver::DriverEntry);
//   }
//
// runDriverModule starts the system pieces (worker queues, the UDP transport),
// creates the driver object and calls the driver's entry. A driver that
// registered an AddDevice routine then gets its devices: every device of the
// machine whose registry entry names the driver's service, that is every
// subkey "Enum\Root\<class>\<instance>" of HKEY_LOCAL_MACHINE
// "System\CurrentControlSet" with the value "Service" equal to the service
// name. Each is added and started (Plug and Play start request); its
// "DeviceDesc" becomes the device's description. When the host unloads the
// driver, its devices are removed, its unload routine runs, queued work
// finishes, and every pool block still outstanding is reported on the debug
// output.
//
// The stand-ins keep their state per module: one driver per module.

#include <cstdint>
#include <string>

#include "platform/kernel/driver.h"
#include "platform/kernel/wdm/io.h"

namespace platform::wdm {

uint32_t runDriverModule(platform::kernel::DriverObject* host, const char16_t* registryPath, DriverInitialize entry);

// The device host's object of the running driver (null when none runs).
platform::kernel::DriverObject* hostDriverObject();

inline constexpr char16_t kEnumRootKey[] = u"System\\CurrentControlSet\\Enum\\Root";

// The pool blocks outstanding, as "tag: blocks (bytes)" lines; empty when
// none are.
std::string describeOutstandingPool();

}  // namespace platform::wdm
