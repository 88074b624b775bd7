// The port class driver's device side: CUnknown, adapter devices and their
// Plug and Play requests, subdevice registration, service groups and the
// dispatch of file object requests to filters and pins.

#include "platform/kernel/wdm/port_class.h"

#include <cctype>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/kernel/wdm/port_internal.h"

namespace platform::wdm {

// ================================================================ CUnknown

CUnknown::CUnknown(IUnknown* outer) : self_(this), outer_(outer != nullptr ? outer : &self_) {}

NtStatus CUnknown::NonDelegatingQueryInterface(const Guid& iid, void** object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  if (iid == IID_IUnknown) {
    *object = NonDelegatingUnknown();
    NonDelegatingAddRef();
    return STATUS_SUCCESS;
  }
  *object = nullptr;
  return STATUS_INVALID_PARAMETER;
}

uint32_t CUnknown::NonDelegatingAddRef() { return static_cast<uint32_t>(references_.fetch_add(1) + 1); }

uint32_t CUnknown::NonDelegatingRelease() {
  const int32_t left = references_.fetch_sub(1) - 1;
  if (left == 0) {
    references_.store(1);  // a destructor that queries itself must not delete twice
    delete this;
    return 0;
  }
  if (left < 0) reportViolation("object released more often than referenced");
  return static_cast<uint32_t>(left);
}

void* CUnknown::operator new(size_t size, PoolType pool, uint32_t tag) noexcept {
  void* block = exAllocatePoolWithTag(pool, size, tag);
  if (block != nullptr) std::memset(block, 0, size);
  return block;
}

void CUnknown::operator delete(void* block, PoolType, uint32_t) noexcept {
  if (block != nullptr) exFreePool(block);
}

void CUnknown::operator delete(void* block) noexcept {
  if (block != nullptr) exFreePool(block);
}

// ================================================================ object counts

namespace {
std::atomic<int64_t> liveObjects{0};
}

void countPortClassObject(int delta) { liveObjects.fetch_add(delta); }

size_t livePortClassObjects() { return static_cast<size_t>(std::max<int64_t>(liveObjects.load(), 0)); }

NtStatus completeIrp(Irp* irp, NtStatus status, uintptr_t information) {
  irp->ioStatus.status = status;
  irp->ioStatus.information = information;
  ioCompleteRequest(irp);
  return status;
}

// ================================================================ adapter devices

namespace {

struct Subdevice {
  std::u16string name;
  std::u16string linkName;
  ISubdevice* subdevice = nullptr;
};

// What the port class keeps per functional device (its device extension
// holds a pointer to it, ahead of the driver's own part).
struct PortClassDevice {
  PcStartDevice startDevice = nullptr;
  uint32_t maxObjects = 0;
  DeviceObject* physicalDevice = nullptr;
  DeviceObject* lowerDevice = nullptr;
  std::mutex mutex;
  std::vector<Subdevice> subdevices;
  IAdapterPowerManagement* powerManagement = nullptr;
};

PortClassDevice* portClassDevice(DeviceObject* device) {
  if (device == nullptr || device->deviceExtension == nullptr) return nullptr;
  return *static_cast<PortClassDevice**>(device->deviceExtension);
}

// Passes a request down the stack and waits for it.
NtStatus forwardAndWait(DeviceObject* lower, Irp* irp) {
  Event done;
  keInitializeEvent(&done, NotificationEvent, false);
  ioCopyCurrentIrpStackLocationToNext(irp);
  ioSetCompletionRoutine(
      irp,
      [](DeviceObject*, Irp*, void* context) -> NtStatus {
        keSetEvent(static_cast<Event*>(context));
        return STATUS_MORE_PROCESSING_REQUIRED;
      },
      &done, true, true, true);
  if (ioCallDriver(lower, irp) == STATUS_PENDING) keWaitForSingleObject(&done, Executive, KernelMode, false, nullptr);
  return irp->ioStatus.status;
}

void removeSubdevices(PortClassDevice& context) {
  std::vector<Subdevice> subdevices;
  {
    std::lock_guard lock(context.mutex);
    subdevices.swap(context.subdevices);
  }
  for (Subdevice& entry : subdevices) {
    ksRemoveDeviceInterface(entry.linkName);  // already gone when the host stopped
    entry.subdevice->ReleaseChildren();
  }
  if (context.powerManagement != nullptr) {
    context.powerManagement->Release();
    context.powerManagement = nullptr;
  }
  for (Subdevice& entry : subdevices) entry.subdevice->Release();
}

NtStatus dispatchPnp(DeviceObject* device, Irp* irp) {
  PortClassDevice* context = portClassDevice(device);
  IoStackLocation* stack = ioGetCurrentIrpStackLocation(irp);
  if (context == nullptr) return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  switch (stack->minorFunction) {
    case IRP_MN_START_DEVICE: {
      NtStatus status = forwardAndWait(context->lowerDevice, irp);
      if (ntSuccess(status)) status = context->startDevice(device, irp, nullptr);
      return completeIrp(irp, status);
    }
    case IRP_MN_REMOVE_DEVICE: {
      removeSubdevices(*context);
      const NtStatus status = forwardAndWait(context->lowerDevice, irp);
      ioDetachDevice(context->lowerDevice);
      completeIrp(irp, status);
      delete context;
      *static_cast<PortClassDevice**>(device->deviceExtension) = nullptr;
      ioDeleteDevice(device);
      return status;
    }
    default:
      return completeIrp(irp, STATUS_SUCCESS);
  }
}

NtStatus dispatchPower(DeviceObject*, Irp* irp) { return completeIrp(irp, STATUS_SUCCESS); }

Subdevice* findSubdevice(PortClassDevice& context, const std::u16string& name) {
  for (Subdevice& entry : context.subdevices) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

NtStatus dispatchCreate(DeviceObject* device, Irp* irp) {
  PortClassDevice* context = portClassDevice(device);
  FileObject* file = ioGetCurrentIrpStackLocation(irp)->fileObject;
  if (context == nullptr || file == nullptr) return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  ISubdevice* subdevice = nullptr;
  {
    std::lock_guard lock(context->mutex);
    Subdevice* entry = findSubdevice(*context, file->fileName);
    if (entry != nullptr) {
      subdevice = entry->subdevice;
      subdevice->AddRef();
    }
  }
  if (subdevice == nullptr) return completeIrp(irp, STATUS_OBJECT_NAME_NOT_FOUND);
  file->fsContext = subdevice->Port()->newFilter(file);
  subdevice->Release();
  return completeIrp(irp, file->fsContext != nullptr ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES);
}

KsObject* objectOf(Irp* irp) {
  FileObject* file = ioGetCurrentIrpStackLocation(irp)->fileObject;
  return file == nullptr ? nullptr : static_cast<KsObject*>(file->fsContext);
}

NtStatus dispatchDeviceControl(DeviceObject*, Irp* irp) {
  KsObject* object = objectOf(irp);
  if (object == nullptr) return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  return object->deviceControl(irp);
}

NtStatus dispatchCleanup(DeviceObject*, Irp* irp) {
  if (KsObject* object = objectOf(irp)) object->cleanup();
  return completeIrp(irp, STATUS_SUCCESS);
}

NtStatus dispatchClose(DeviceObject*, Irp* irp) {
  FileObject* file = ioGetCurrentIrpStackLocation(irp)->fileObject;
  if (file != nullptr) {
    delete static_cast<KsObject*>(file->fsContext);
    file->fsContext = nullptr;
  }
  return completeIrp(irp, STATUS_SUCCESS);
}

bool linkCharacterAllowed(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'{' || c == u'}' || c == u'-' || c == u'_' ||
         c == u'#';
}

}  // namespace

std::u16string subdeviceLinkName(const std::u16string& instancePath, const Guid& category, const char16_t* name) {
  std::u16string link = instancePath + u"#" + guidToWide(category) + u"#" + (name != nullptr ? name : u"");
  for (char16_t& c : link) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c == u'\\') c = u'#';
    if (!linkCharacterAllowed(c)) c = u'_';
  }
  return link;
}

NtStatus pcInitializeAdapterDriver(DriverObject* driver, UnicodeString*, DriverAddDevice addDevice) {
  if (driver == nullptr || addDevice == nullptr) return STATUS_INVALID_PARAMETER;
  driver->majorFunction[IRP_MJ_CREATE] = dispatchCreate;
  driver->majorFunction[IRP_MJ_CLOSE] = dispatchClose;
  driver->majorFunction[IRP_MJ_CLEANUP] = dispatchCleanup;
  driver->majorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchDeviceControl;
  driver->majorFunction[IRP_MJ_PNP] = dispatchPnp;
  driver->majorFunction[IRP_MJ_POWER] = dispatchPower;
  driver->driverExtension.addDevice = addDevice;
  return STATUS_SUCCESS;
}

NtStatus pcAddAdapterDevice(DriverObject* driver, DeviceObject* physicalDevice, PcStartDevice startDevice,
                            uint32_t maxObjects, uint32_t deviceExtensionSize) {
  if (driver == nullptr || physicalDevice == nullptr || startDevice == nullptr || maxObjects == 0) {
    return STATUS_INVALID_PARAMETER;
  }
  DeviceObject* device = nullptr;
  const NtStatus status = ioCreateDevice(driver, static_cast<uint32_t>(sizeof(PortClassDevice*)) + deviceExtensionSize,
                                         nullptr, FILE_DEVICE_KS, 0, false, &device);
  if (status != STATUS_SUCCESS) return status;
  auto* context = new PortClassDevice();
  context->startDevice = startDevice;
  context->maxObjects = maxObjects;
  context->physicalDevice = physicalDevice;
  *static_cast<PortClassDevice**>(device->deviceExtension) = context;
  context->lowerDevice = ioAttachDeviceToDeviceStack(device, physicalDevice);
  device->flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NtStatus pcNewPort(IPort** port, const Guid& classId) {
  if (port == nullptr) return STATUS_INVALID_PARAMETER;
  *port = nullptr;
  IPort* created = nullptr;
  if (classId == CLSID_PortMidi) {
    created = newMidiPort();
  } else if (classId == CLSID_PortTopology) {
    created = newTopologyPort();
  } else {
    return STATUS_INVALID_PARAMETER;
  }
  if (created == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  *port = created;
  return STATUS_SUCCESS;
}

NtStatus pcRegisterSubdevice(DeviceObject* device, const char16_t* name, IUnknown* unknown) {
  PortClassDevice* context = portClassDevice(device);
  if (context == nullptr || name == nullptr || unknown == nullptr || name[0] == 0) return STATUS_INVALID_PARAMETER;
  ISubdevice* subdevice = nullptr;
  if (unknown->QueryInterface(IID_ISubdevice, reinterpret_cast<void**>(&subdevice)) != STATUS_SUCCESS) {
    return STATUS_INVALID_PARAMETER;
  }
  Subdevice entry;
  entry.name = name;
  entry.subdevice = subdevice;
  entry.linkName = subdeviceLinkName(context->physicalDevice->instancePath, KSCATEGORY_AUDIO, name);
  {
    std::lock_guard lock(context->mutex);
    if (findSubdevice(*context, entry.name) != nullptr) {
      subdevice->Release();
      return STATUS_OBJECT_NAME_COLLISION;
    }
    if (context->subdevices.size() >= context->maxObjects) {
      subdevice->Release();
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    context->subdevices.push_back(entry);
  }
  const NtStatus status = ksRegisterDeviceInterface(device, entry.linkName, KSCATEGORY_AUDIO,
                                                    context->physicalDevice->deviceDescription, entry.name);
  if (status != STATUS_SUCCESS) {
    std::lock_guard lock(context->mutex);
    auto& list = context->subdevices;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->name == entry.name) {
        list.erase(it);
        break;
      }
    }
    subdevice->Release();
  }
  return status;
}

NtStatus pcRegisterAdapterPowerManagement(IUnknown* unknown, DeviceObject* device) {
  PortClassDevice* context = portClassDevice(device);
  if (context == nullptr || unknown == nullptr) return STATUS_INVALID_PARAMETER;
  IAdapterPowerManagement* power = nullptr;
  const NtStatus status = unknown->QueryInterface(IID_IAdapterPowerManagement, reinterpret_cast<void**>(&power));
  if (status != STATUS_SUCCESS) return status;
  std::lock_guard lock(context->mutex);
  if (context->powerManagement != nullptr) context->powerManagement->Release();
  context->powerManagement = power;
  return STATUS_SUCCESS;
}

// ================================================================ service groups

namespace {

class ServiceGroup final : public IServiceGroup, public CUnknown {
 public:
  explicit ServiceGroup(IUnknown* outer) : CUnknown(outer) { countPortClassObject(1); }
  ~ServiceGroup() override {
    for (IServiceSink* member : members_) member->Release();
    countPortClassObject(-1);
  }

  PORTCLS_DELEGATING_UNKNOWN

  NtStatus NonDelegatingQueryInterface(const Guid& iid, void** object) override {
    if (object == nullptr) return STATUS_INVALID_PARAMETER;
    if (iid == IID_IUnknown || iid == IID_IServiceSink || iid == IID_IServiceGroup) {
      *object = iid == IID_IUnknown ? static_cast<void*>(static_cast<IUnknown*>(static_cast<IServiceGroup*>(this)))
                                    : static_cast<void*>(static_cast<IServiceGroup*>(this));
      AddRef();
      return STATUS_SUCCESS;
    }
    *object = nullptr;
    return STATUS_INVALID_PARAMETER;
  }

  void RequestService() override {
    std::vector<IServiceSink*> members;
    {
      std::lock_guard lock(mutex_);
      members = members_;
      for (IServiceSink* member : members) member->AddRef();
    }
    for (IServiceSink* member : members) {
      member->RequestService();
      member->Release();
    }
  }

  NtStatus AddMember(IServiceSink* sink) override {
    if (sink == nullptr) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(mutex_);
    for (IServiceSink* member : members_) {
      if (member == sink) return STATUS_SUCCESS;
    }
    sink->AddRef();
    members_.push_back(sink);
    return STATUS_SUCCESS;
  }

  void RemoveMember(IServiceSink* sink) override {
    std::lock_guard lock(mutex_);
    for (auto it = members_.begin(); it != members_.end(); ++it) {
      if (*it == sink) {
        members_.erase(it);
        sink->Release();
        return;
      }
    }
  }

  void SupportDelayedService() override {}

  void RequestDelayedService(uint64_t delay) override {
    AddRef();
    exQueueWork(DelayedWorkQueue, [this, delay] {
      const int64_t interval = -static_cast<int64_t>(delay > 0x7FFFFFFFFFFFFFFFull ? 0 : delay);
      keDelayExecutionThread(KernelMode, false, &interval);
      RequestService();
      Release();
    });
  }

  void CancelDelayedService() override {}

 private:
  std::mutex mutex_;
  std::vector<IServiceSink*> members_;
};

}  // namespace

NtStatus pcNewServiceGroup(IServiceGroup** serviceGroup, IUnknown* outerUnknown) {
  if (serviceGroup == nullptr) return STATUS_INVALID_PARAMETER;
  auto* group = new (NonPagedPool, poolTag("PcSg")) ServiceGroup(outerUnknown);
  if (group == nullptr) {
    *serviceGroup = nullptr;
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  group->AddRef();
  *serviceGroup = group;
  return STATUS_SUCCESS;
}

}  // namespace platform::wdm
