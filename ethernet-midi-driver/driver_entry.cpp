#include "ethernet-midi-driver/driver_entry.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "ethernet-midi-driver/ethernet_midi_miniport.h"
#include "ethernet-midi-driver/topology_miniport.h"

namespace mirelo {

namespace {

std::atomic<uint32_t> g_PortsValue{0};

constexpr uint32_t kNameSlotBytes = 14;  // six characters and the terminator

uint32_t configuredCount() { return g_PortsValue.load() & 0xFF; }

// "Midi01" ... "Midi09", "Midi10", ... in a slot of 14 bytes.
NtStatus makePortName(char16_t* slot, uint32_t portNumber) {
  std::memset(slot, 0, kNameSlotBytes);
  UnicodeString name{0, static_cast<uint16_t>(kNameSlotBytes), slot};
  NtStatus status = rtlAppendUnicodeToString(&name, portNumber < 10 ? u"Midi0" : u"Midi");
  if (status != STATUS_SUCCESS) return STATUS_INSUFFICIENT_RESOURCES;
  char16_t digits[12] = {};
  UnicodeString number{0, static_cast<uint16_t>(sizeof digits), digits};
  status = rtlIntegerToUnicodeString(portNumber, 10, &number);
  if (status == STATUS_SUCCESS) status = rtlAppendUnicodeStringToString(&name, &number);
  return status == STATUS_SUCCESS ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

// Creates a port of `portClass`, binds `miniport` to it and registers it as
// the subdevice `name`. The port is returned referenced.
NtStatus installSubdevice(DeviceObject* device, Irp* irp, const platform::Guid& portClass, IUnknown* miniport,
                          IUnknown* unknownAdapter, const char16_t* name, IPort** port) {
  NtStatus status = pcNewPort(port, portClass);
  if (status != STATUS_SUCCESS) return status;
  status = (*port)->Init(device, irp, miniport, unknownAdapter, nullptr);
  if (status == STATUS_SUCCESS) status = pcRegisterSubdevice(device, name, *port);
  if (status != STATUS_SUCCESS) {
    (*port)->Release();
    *port = nullptr;
  }
  return status;
}

NtStatus installTopology(DeviceObject* device, Irp* irp, IUnknown* unknownAdapter, IEthernetMidiAdapter* adapter,
                         IUnknown** topologyUnknown) {
  auto* miniport = new (NonPagedPool, kObjectTag) TopologyMiniport(nullptr);
  if (miniport == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  miniport->AddRef();
  IPort* port = nullptr;
  NtStatus status = installSubdevice(device, irp, CLSID_PortTopology, static_cast<IMiniportTopology*>(miniport),
                                     unknownAdapter, u"Topology", &port);
  miniport->Release();
  if (status != STATUS_SUCCESS) return status;
  port->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(topologyUnknown));
  status = port->QueryInterface(IID_IPortTopology, reinterpret_cast<void**>(adapter->TopologyPortSlot()));
  port->Release();
  return status;
}

NtStatus installMidiPort(DeviceObject* device, Irp* irp, IUnknown* unknownAdapter, IEthernetMidiAdapter* adapter,
                         uint32_t portIndex, const char16_t* name) {
  auto* miniport = new (NonPagedPool, kObjectTag) EthernetMidiMiniport(nullptr, portIndex);
  if (miniport == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  miniport->AddRef();
  IPort* port = nullptr;
  NtStatus status = installSubdevice(device, irp, CLSID_PortMidi, static_cast<IMiniportMidi*>(miniport),
                                     unknownAdapter, name, &port);
  miniport->Release();
  if (status != STATUS_SUCCESS) return status;
  // The slot keeps the last installed port only; the one before is let go.
  IPortMidi** slot = adapter->MidiPortSlot();
  if (*slot != nullptr) std::exchange(*slot, nullptr)->Release();
  status = port->QueryInterface(IID_IPortMidi, reinterpret_cast<void**>(slot));
  port->Release();
  return status;
}

}  // namespace

uint32_t PortsValue() { return g_PortsValue.load(); }

NtStatus DriverEntry(DriverObject* driverObject, UnicodeString* registryPath) {
  if (registryPath == nullptr) return STATUS_UNSUCCESSFUL;
  const size_t bytes = registryPath->length + sizeof(char16_t);
  auto* path = static_cast<char16_t*>(exAllocatePoolWithTag(PagedPool, bytes, kDriverTag));
  if (path == nullptr) return STATUS_UNSUCCESSFUL;
  std::memset(path, 0, bytes);
  std::memcpy(path, registryPath->buffer, registryPath->length);

  uint32_t value = 0;
  const uint32_t defaultValue = kDefaultPorts;
  RtlQueryRegistryTable table[3] = {};
  table[0].flags = RTL_QUERY_REGISTRY_SUBKEY;
  table[0].name = u"Parameters";
  table[1].flags = RTL_QUERY_REGISTRY_DIRECT;
  table[1].name = u"Ports";
  table[1].entryContext = &value;
  table[1].defaultType = REG_DWORD;
  table[1].defaultData = &defaultValue;
  table[1].defaultLength = sizeof defaultValue;
  const NtStatus status = rtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, path, table, nullptr, nullptr);
  exFreePoolWithTag(path, kDriverTag);
  g_PortsValue.store(value);
  if (status != STATUS_SUCCESS) return status;
  if ((value & 0xFF) > kMaxConfiguredPorts) return STATUS_UNSUCCESSFUL;
  return pcInitializeAdapterDriver(driverObject, registryPath, &AddDevice);
}

NtStatus AddDevice(DriverObject* driverObject, DeviceObject* physicalDeviceObject) {
  return pcAddAdapterDevice(driverObject, physicalDeviceObject, &StartDevice, configuredCount() + 2, 0);
}

NtStatus StartDevice(DeviceObject* deviceObject, Irp* irp, IResourceList*) {
  const uint32_t configured = configuredCount();
  const uint32_t toInstall = std::min(configured, kMaxPorts);
  if (toInstall < configured) {
    dbgPrint("%d ports configured; the driver offers %d, installing %d\n", configured, kMaxPorts, toInstall);
  }
  auto* names = static_cast<char16_t*>(
      exAllocatePoolWithTag(NonPagedPool, kNameSlotBytes * std::max<uint32_t>(configured, 1), kDriverTag));
  if (names == nullptr) return STATUS_INSUFFICIENT_RESOURCES;

  NtStatus status = STATUS_INSUFFICIENT_RESOURCES;
  IUnknown* unknownAdapter = nullptr;
  IEthernetMidiAdapter* adapter = nullptr;
  IUnknown* topologyUnknown = nullptr;
  uint32_t installed = 0;
  if (auto* created = new (NonPagedPool, kObjectTag) EthernetMidiAdapter(nullptr)) {
    unknownAdapter = created->NonDelegatingUnknown();
    unknownAdapter->AddRef();
    status = unknownAdapter->QueryInterface(IID_IEthernetMidiAdapter, reinterpret_cast<void**>(&adapter));
  }
  if (status == STATUS_SUCCESS) status = adapter->Init(deviceObject);
  if (status == STATUS_SUCCESS) status = pcRegisterAdapterPowerManagement(unknownAdapter, deviceObject);
  if (status == STATUS_SUCCESS) status = installTopology(deviceObject, irp, unknownAdapter, adapter, &topologyUnknown);
  for (uint32_t number = 1; status == STATUS_SUCCESS && number <= toInstall; ++number) {
    char16_t* slot = names + (number - 1) * (kNameSlotBytes / sizeof(char16_t));
    status = makePortName(slot, number);
    if (status == STATUS_SUCCESS) status = installMidiPort(deviceObject, irp, unknownAdapter, adapter, number - 1, slot);
    if (status == STATUS_SUCCESS) ++installed;
  }
  if (adapter != nullptr) adapter->SetPortCount(installed);
  if (status == STATUS_SUCCESS) {
    const uint32_t value = installed * 256 + configured;
    status = rtlWriteRegistryValue(RTL_REGISTRY_SERVICES, kParametersPath, u"Ports", REG_DWORD, &value, sizeof value);
  }
  if (adapter != nullptr) adapter->Release();
  if (unknownAdapter != nullptr) unknownAdapter->Release();
  if (topologyUnknown != nullptr) topologyUnknown->Release();
  exFreePoolWithTag(names, kDriverTag);
  return status;
}

}  // namespace mirelo
