#pragma once
// The driver's entry points: driver entry (reads "Ports"), AddDevice and
// StartDevice (the adapter, the "Topology" subdevice and one MIDI subdevice
// per port, then "Ports" written back).

#include <cstdint>

#include "ethernet-midi-driver/ethernet_midi_adapter.h"

namespace mirelo {

// The largest configured port count the driver loads with; ports beyond
// kMaxPorts are not installed.
inline constexpr uint32_t kMaxConfiguredPorts = 30;
inline constexpr uint32_t kDefaultPorts = 2;
inline constexpr char16_t kParametersPath[] = u"Mirelo\\Parameters";

NtStatus DriverEntry(DriverObject* driverObject, UnicodeString* registryPath);
NtStatus AddDevice(DriverObject* driverObject, DeviceObject* physicalDeviceObject);
NtStatus StartDevice(DeviceObject* deviceObject, Irp* irp, IResourceList* resourceList);

// The "Ports" value read at load.
uint32_t PortsValue();

}  // namespace mirelo
