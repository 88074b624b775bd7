#pragma once
// Enumerating the device interfaces present on the machine: every interface
// a running device host serves, with its class and the description of its
// device, the way programs find a driver's interfaces by class and device.

#include <string>
#include <vector>

#include "platform/guid.h"

namespace platform {

struct DeviceInterface {
  std::u16string linkName;  // open it as devicePath()
  Guid interfaceClass;
  std::u16string description;  // the device's description

  std::u16string devicePath() const { return u"\\\\.\\" + linkName; }
};

// The interfaces of `interfaceClass` that a live device host serves now,
// ordered by link name. Empty when there are none (or no devices directory).
std::vector<DeviceInterface> enumerateDeviceInterfaces(const Guid& interfaceClass);

}  // namespace platform
