// The module's entry, called by the device host that loads it.

#include "ethernet-midi-driver/driver_entry.h"
#include "platform/kernel/wdm/driver_module.h"

extern "C" __attribute__((visibility("default"))) uint32_t DriverEntry(platform::kernel::DriverObject* host,
                                                                       const char16_t* registryPath) {
  return platform::wdm::runDriverModule(host, registryPath, &mirelo::DriverEntry);
}
