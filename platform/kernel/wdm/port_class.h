#pragma once
// The port class driver: adapter drivers register subdevices, each a port
// driver (MIDI or topology) bound to the adapter's miniport. The port turns
// the subdevice into a kernel-streaming filter that applications open as a
// device interface; it creates pins, dispatches property and event requests
// through the miniport's descriptors and automation tables, and moves MIDI
// bytes between applications and the miniport's streams.
//
// Objects are reference counted and aggregatable: a non-delegating IUnknown
// and an outer IUnknown, which is the object's own non-delegating part when it
// is not aggregated. QueryInterface answers STATUS_SUCCESS and AddRefs, or
// STATUS_INVALID_PARAMETER.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/guid.h"
#include "platform/kernel/wdm/io.h"
#include "platform/kernel_streaming.h"

namespace platform::wdm {

using platform::Guid;
using platform::KSDATAFORMAT;
using platform::KSDATARANGE;
using platform::KSIDENTIFIER;
using platform::KSPIN_COMMUNICATION;
using platform::KSPIN_DATAFLOW;
using platform::KSSTATE;

// ---------------------------------------------------------------- identifiers

inline constexpr Guid IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid IID_IPort = {0xDC40C7A8, 0x0764, 0x45AA, {0x88, 0xF3, 0x17, 0x7F, 0x03, 0x7A, 0x29, 0x4A}};
inline constexpr Guid IID_IPortMidi = {0x8D754912, 0x2804, 0x4CE2, {0xA8, 0xA1, 0xD8, 0x0F, 0x05, 0x37, 0xB0, 0xC2}};
inline constexpr Guid IID_IPortTopology = {0xB92FCDF2, 0xACF3, 0x452A, {0x8C, 0xAB, 0x79, 0xC1, 0x7F, 0x51, 0xC6, 0x91}};
inline constexpr Guid IID_IPortEvents = {0x1E0B816F, 0x3D0D, 0x4D31, {0xA2, 0xFC, 0x09, 0x43, 0x40, 0x7E, 0xD4, 0x0B}};
inline constexpr Guid IID_IMiniport = {0x3DF41AD4, 0x5679, 0x4D6C, {0x9C, 0xEF, 0xBC, 0xF2, 0xAC, 0x69, 0x43, 0x07}};
inline constexpr Guid IID_IMiniportMidi = {0x2A6D3226, 0x5674, 0x4050, {0x8A, 0xF4, 0x04, 0x07, 0x20, 0x55, 0x46, 0x78}};
inline constexpr Guid IID_IMiniportMidiStream = {
    0xF79AC297, 0xE63E, 0x42AD, {0xA6, 0xAD, 0x7A, 0x31, 0xF2, 0x2F, 0xC6, 0x10}};
inline constexpr Guid IID_IMiniportTopology = {
    0xAE2FEF4E, 0xDA64, 0x4F0F, {0xBE, 0x43, 0x3F, 0xE3, 0xC2, 0xBB, 0x82, 0x7B}};
inline constexpr Guid IID_IServiceSink = {0x07E54F2D, 0x08C5, 0x4853, {0xA9, 0x8F, 0x2B, 0xF1, 0x85, 0x6A, 0xAC, 0x18}};
inline constexpr Guid IID_IServiceGroup = {0x6F334461, 0xF6C5, 0x4AB6, {0x86, 0x42, 0x9D, 0x5F, 0xD7, 0x68, 0x03, 0x61}};
inline constexpr Guid IID_IAdapterPowerManagement = {
    0x4B565375, 0xF34C, 0x480F, {0xAA, 0xAD, 0xDC, 0xEE, 0x72, 0xA2, 0x3E, 0xA2}};
inline constexpr Guid IID_IResourceList = {0x0AF2C4C0, 0x83B0, 0x455A, {0x84, 0xBA, 0x34, 0xFE, 0xD4, 0xA5, 0x0C, 0xE9}};
inline constexpr Guid IID_ISubdevice = {0x1564DFE4, 0xB745, 0x44C2, {0x95, 0x97, 0x3E, 0x9B, 0xED, 0x8B, 0xBD, 0x12}};
inline constexpr Guid CLSID_PortMidi = {0xB91BD246, 0x79E0, 0x467B, {0xBF, 0x0D, 0x4E, 0x31, 0x30, 0x61, 0x08, 0x7C}};
inline constexpr Guid CLSID_PortTopology = {0xC707219E, 0x5DB5, 0x4445, {0xA2, 0xAD, 0x26, 0xAD, 0xEC, 0x84, 0x92, 0x83}};

// ---------------------------------------------------------------- IUnknown

struct IUnknown {
  virtual NtStatus QueryInterface(const Guid& iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  virtual ~IUnknown() = default;
};

struct INonDelegatingUnknown {
  virtual NtStatus NonDelegatingQueryInterface(const Guid& iid, void** object) = 0;
  virtual uint32_t NonDelegatingAddRef() = 0;
  virtual uint32_t NonDelegatingRelease() = 0;
  virtual ~INonDelegatingUnknown() = default;
};

// The reference count and the outer IUnknown of a port-class object, which
// lives in pool memory with the tag it was created with.
class CUnknown : public INonDelegatingUnknown {
 public:
  explicit CUnknown(IUnknown* outer);
  ~CUnknown() override = default;

  NtStatus NonDelegatingQueryInterface(const Guid& iid, void** object) override;
  uint32_t NonDelegatingAddRef() override;
  uint32_t NonDelegatingRelease() override;

  IUnknown* GetOuterUnknown() { return outer_; }
  // The object's own non-delegating part, seen as an IUnknown.
  IUnknown* NonDelegatingUnknown() { return &self_; }

  // Zeroed pool memory; null when the allocation fails.
  static void* operator new(size_t size, PoolType pool, uint32_t tag) noexcept;
  static void operator delete(void* block, PoolType pool, uint32_t tag) noexcept;
  static void operator delete(void* block) noexcept;

 private:
  struct SelfUnknown final : IUnknown {
    explicit SelfUnknown(CUnknown* owner) : owner_(owner) {}
    NtStatus QueryInterface(const Guid& iid, void** object) override {
      return owner_->NonDelegatingQueryInterface(iid, object);
    }
    uint32_t AddRef() override { return owner_->NonDelegatingAddRef(); }
    uint32_t Release() override { return owner_->NonDelegatingRelease(); }
    CUnknown* owner_;
  };
  SelfUnknown self_;
  IUnknown* outer_;
  std::atomic<int32_t> references_{0};
};

// The delegating IUnknown of an object built on CUnknown: its three
// operations go to the outer IUnknown.
#define PORTCLS_DELEGATING_UNKNOWN                                                                \
  NtStatus QueryInterface(const Guid& iid, void** object) override {                             \
    return GetOuterUnknown()->QueryInterface(iid, object);                                       \
  }                                                                                               \
  uint32_t AddRef() override { return GetOuterUnknown()->AddRef(); }                              \
  uint32_t Release() override { return GetOuterUnknown()->Release(); }

// ---------------------------------------------------------------- descriptors

struct PCPROPERTY_REQUEST;
struct PCEVENT_REQUEST;
struct KSEVENT_ENTRY;
using PCPFNPROPERTY_HANDLER = NtStatus (*)(PCPROPERTY_REQUEST* request);
using PCPFNEVENT_HANDLER = NtStatus (*)(PCEVENT_REQUEST* request);

inline constexpr uint32_t PCPROPERTY_ITEM_FLAG_GET = KSPROPERTY_TYPE_GET;
inline constexpr uint32_t PCPROPERTY_ITEM_FLAG_SET = KSPROPERTY_TYPE_SET;
inline constexpr uint32_t PCPROPERTY_ITEM_FLAG_BASICSUPPORT = KSPROPERTY_TYPE_BASICSUPPORT;
inline constexpr uint32_t PCEVENT_ITEM_FLAG_ENABLE = KSEVENT_TYPE_ENABLE;
inline constexpr uint32_t PCEVENT_ITEM_FLAG_BASICSUPPORT = KSEVENT_TYPE_BASICSUPPORT;

inline constexpr uint32_t PCEVENT_VERB_NONE = 0;
inline constexpr uint32_t PCEVENT_VERB_ADD = 1;
inline constexpr uint32_t PCEVENT_VERB_REMOVE = 2;
inline constexpr uint32_t PCEVENT_VERB_SUPPORT = 4;

struct PCPROPERTY_ITEM {
  const Guid* set;
  uint32_t id;
  uint32_t flags;
  PCPFNPROPERTY_HANDLER handler;
};

struct PCEVENT_ITEM {
  const Guid* set;
  uint32_t id;
  uint32_t flags;
  PCPFNEVENT_HANDLER handler;
};

struct PCAUTOMATION_TABLE {
  uint32_t propertyItemSize;
  uint32_t propertyCount;
  const PCPROPERTY_ITEM* properties;
  uint32_t methodItemSize;
  uint32_t methodCount;
  const void* methods;
  uint32_t eventItemSize;
  uint32_t eventCount;
  const PCEVENT_ITEM* events;
  uint32_t reserved;
};

struct KSPIN_DESCRIPTOR {
  uint32_t interfacesCount;
  const KSIDENTIFIER* interfaces;
  uint32_t mediumsCount;
  const KSIDENTIFIER* mediums;
  uint32_t dataRangesCount;
  const KSDATARANGE* const* dataRanges;
  KSPIN_DATAFLOW dataFlow;
  KSPIN_COMMUNICATION communication;
  const Guid* category;
  const Guid* name;
};

struct PCPIN_DESCRIPTOR {
  uint32_t maxGlobalInstanceCount;
  uint32_t maxFilterInstanceCount;
  uint32_t minFilterInstanceCount;
  const PCAUTOMATION_TABLE* automationTable;
  KSPIN_DESCRIPTOR ksPinDescriptor;
};

struct PCNODE_DESCRIPTOR {
  uint32_t flags;
  const PCAUTOMATION_TABLE* automationTable;
  const Guid* type;
  const Guid* name;
};

inline constexpr uint32_t PCFILTER_NODE = 0xFFFFFFFF;  // a connection end on the filter's own pin

struct PCCONNECTION_DESCRIPTOR {
  uint32_t fromNode;
  uint32_t fromNodePin;
  uint32_t toNode;
  uint32_t toNodePin;
};

struct PCFILTER_DESCRIPTOR {
  uint32_t version;
  const PCAUTOMATION_TABLE* automationTable;
  uint32_t pinSize;
  uint32_t pinCount;
  const PCPIN_DESCRIPTOR* pins;
  uint32_t nodeSize;
  uint32_t nodeCount;
  const PCNODE_DESCRIPTOR* nodes;
  uint32_t connectionCount;
  const PCCONNECTION_DESCRIPTOR* connections;
  uint32_t categoryCount;
  const Guid* categories;
};

// A property request as the handler of a property item gets it. The value
// buffer holds valueSize bytes (null when there are none); the handler sets
// valueSize to the bytes it returns or needs.
struct PCPROPERTY_REQUEST {
  IUnknown* majorTarget;  // the miniport
  IUnknown* minorTarget;  // the stream, for pin requests
  uint32_t node;          // ULONG(-1) for filter and pin requests
  const PCPROPERTY_ITEM* propertyItem;
  uint32_t verb;  // the request's KSPROPERTY_TYPE_ flags without the topology bit
  uint32_t instanceSize;
  void* instance;
  uint32_t valueSize;
  void* value;
  Irp* irp;
};

// An enabled event: what a port keeps in its event list and signals.
struct KSEVENT_ENTRY;

struct PCEVENT_REQUEST {
  IUnknown* majorTarget;
  IUnknown* minorTarget;
  uint32_t node;
  const PCEVENT_ITEM* eventItem;
  KSEVENT_ENTRY* eventEntry;
  uint32_t verb;
  Irp* irp;
};

// ---------------------------------------------------------------- interfaces

struct IResourceList : IUnknown {};

struct IServiceSink : IUnknown {
  virtual void RequestService() = 0;
};

struct IServiceGroup : IServiceSink {
  virtual NtStatus AddMember(IServiceSink* sink) = 0;
  virtual void RemoveMember(IServiceSink* sink) = 0;
  virtual void SupportDelayedService() = 0;
  virtual void RequestDelayedService(uint64_t delay) = 0;
  virtual void CancelDelayedService() = 0;
};

struct IPort : IUnknown {
  virtual NtStatus Init(DeviceObject* device, Irp* irp, IUnknown* unknownMiniport, IUnknown* unknownAdapter,
                        IResourceList* resourceList) = 0;
  virtual NtStatus GetDeviceProperty(DeviceRegistryProperty property, uint32_t bufferLength, void* buffer,
                                     uint32_t* resultLength) = 0;
};

struct IPortMidi : IPort {
  // Asks the port to service the streams of `serviceGroup` (read capture data).
  virtual void Notify(IServiceGroup* serviceGroup) = 0;
  virtual void RegisterServiceGroup(IServiceGroup* serviceGroup) = 0;
};

struct IPortTopology : IPort {};

struct IPortEvents : IUnknown {
  virtual void AddEventToEventList(KSEVENT_ENTRY* eventEntry) = 0;
  // Signals every listed entry of the event: of any set when `set` is null;
  // of the pin (pinEvent) and/or node (nodeEvent) given.
  virtual void GenerateEventList(const Guid* set, uint32_t eventId, bool pinEvent, uint32_t pinId, bool nodeEvent,
                                 uint32_t nodeId) = 0;
};

struct IMiniport : IUnknown {
  virtual NtStatus GetDescription(const PCFILTER_DESCRIPTOR** description) = 0;
  virtual NtStatus DataRangeIntersection(uint32_t pinId, const KSDATARANGE* dataRange,
                                         const KSDATARANGE* matchingDataRange, uint32_t outputBufferLength,
                                         void* resultantFormat, uint32_t* resultantFormatLength) = 0;
};

struct IMiniportMidiStream : IUnknown {
  virtual NtStatus SetFormat(const KSDATAFORMAT* format) = 0;
  virtual NtStatus SetState(KSSTATE state) = 0;
  virtual NtStatus Read(void* buffer, uint32_t length, uint32_t* bytesRead) = 0;
  virtual NtStatus Write(const void* buffer, uint32_t length, uint32_t* bytesWritten) = 0;
};

struct IMiniportMidi : IMiniport {
  virtual NtStatus Init(IUnknown* unknownAdapter, IResourceList* resourceList, IPortMidi* port,
                        IServiceGroup** serviceGroup) = 0;
  virtual void Service() = 0;
  virtual NtStatus NewStream(IMiniportMidiStream** stream, IUnknown* outerUnknown, PoolType poolType, uint32_t pin,
                             bool capture, const KSDATAFORMAT* dataFormat, IServiceGroup** serviceGroup) = 0;
};

struct IMiniportTopology : IMiniport {
  virtual NtStatus Init(IUnknown* unknownAdapter, IResourceList* resourceList, IPortTopology* port) = 0;
};

enum DevicePowerState : uint32_t {
  PowerDeviceUnspecified = 0,
  PowerDeviceD0 = 1,
  PowerDeviceD1 = 2,
  PowerDeviceD2 = 3,
  PowerDeviceD3 = 4,
};
struct PowerState {
  DevicePowerState deviceState;
};
struct DeviceCapabilities {
  uint16_t size;
  uint16_t version;
  uint32_t flags;
};

struct IAdapterPowerManagement : IUnknown {
  virtual void PowerChangeState(PowerState newState) = 0;
  virtual NtStatus QueryPowerChangeState(PowerState newStateQuery) = 0;
  virtual NtStatus QueryDeviceCapabilities(DeviceCapabilities* capabilities) = 0;
};

// ---------------------------------------------------------------- functions

using PcStartDevice = NtStatus (*)(DeviceObject* device, Irp* irp, IResourceList* resourceList);

// Makes the driver a port-class adapter driver: its requests go to the port
// class, and `addDevice` is called for each of its devices.
NtStatus pcInitializeAdapterDriver(DriverObject* driver, UnicodeString* registryPath, DriverAddDevice addDevice);
// Creates the functional device for a physical device; `startDevice` runs when
// the device is started. At most `maxObjects` subdevices may be registered.
NtStatus pcAddAdapterDevice(DriverObject* driver, DeviceObject* physicalDevice, PcStartDevice startDevice,
                            uint32_t maxObjects, uint32_t deviceExtensionSize);
// A new port driver of the class CLSID_PortMidi or CLSID_PortTopology.
NtStatus pcNewPort(IPort** port, const Guid& classId);
// Makes the initialised port a subdevice of the device: a device interface of
// the audio category named after the device and `name`.
NtStatus pcRegisterSubdevice(DeviceObject* device, const char16_t* name, IUnknown* unknown);
NtStatus pcRegisterAdapterPowerManagement(IUnknown* unknown, DeviceObject* device);
NtStatus pcNewServiceGroup(IServiceGroup** serviceGroup, IUnknown* outerUnknown);

// The device interface link name of a subdevice: the physical device's
// instance path, the category and the subdevice name, in lower case with
// "#" between the parts ("root#media#0000#{6994ad04-...}#topology").
std::u16string subdeviceLinkName(const std::u16string& instancePath, const Guid& category, const char16_t* name);

// How many port-class objects (ports, pins, filters, service groups) live;
// for leak checks in tests.
size_t livePortClassObjects();

}  // namespace platform::wdm
