#include "platform/kernel/wdm/io.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/text.h"

namespace platform::wdm {

// ================================================================ stack locations

IoStackLocation* ioGetCurrentIrpStackLocation(Irp* irp) {
  if (irp->currentLocation < 1 || irp->currentLocation > irp->stackCount) return nullptr;
  return &irp->stack[static_cast<size_t>(irp->currentLocation - 1)];
}

IoStackLocation* ioGetNextIrpStackLocation(Irp* irp) {
  if (irp->currentLocation < 2) return nullptr;
  return &irp->stack[static_cast<size_t>(irp->currentLocation - 2)];
}

void ioCopyCurrentIrpStackLocationToNext(Irp* irp) {
  IoStackLocation* current = ioGetCurrentIrpStackLocation(irp);
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  if (current == nullptr || next == nullptr) return;
  *next = *current;
  next->completionRoutine = nullptr;
  next->context = nullptr;
  next->control = 0;
}

void ioSkipCurrentIrpStackLocation(Irp* irp) { ++irp->currentLocation; }

void ioSetCompletionRoutine(Irp* irp, IoCompletionRoutine routine, void* context, bool onSuccess, bool onError,
                            bool onCancel) {
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  if (next == nullptr) {
    reportViolation("IoSetCompletionRoutine without a next stack location");
    return;
  }
  next->completionRoutine = routine;
  next->context = context;
  next->control = static_cast<uint8_t>((onSuccess ? SL_INVOKE_ON_SUCCESS : 0) | (onError ? SL_INVOKE_ON_ERROR : 0) |
                                       (onCancel ? SL_INVOKE_ON_CANCEL : 0));
}

void ioMarkIrpPending(Irp* irp) {
  if (IoStackLocation* current = ioGetCurrentIrpStackLocation(irp)) current->control |= SL_PENDING_RETURNED;
}

DriverCancel ioSetCancelRoutine(Irp* irp, DriverCancel routine) { return irp->cancelRoutine.exchange(routine); }

// ================================================================ IRPs

Irp* ioAllocateIrp(int8_t stackSize, bool) {
  if (stackSize < 1) stackSize = 1;
  void* memory = exAllocatePoolWithTag(NonPagedPool, sizeof(Irp), kIrpTag);
  if (memory == nullptr) return nullptr;
  Irp* irp = new (memory) Irp();
  irp->stackCount = stackSize;
  irp->currentLocation = static_cast<int8_t>(stackSize + 1);
  irp->stack.resize(static_cast<size_t>(stackSize));
  return irp;
}

void ioFreeIrp(Irp* irp) {
  if (irp == nullptr) return;
  if (irp->systemBuffer != nullptr) exFreePoolWithTag(irp->systemBuffer, kIrpTag);
  irp->~Irp();
  exFreePoolWithTag(irp, kIrpTag);
}

Irp* ioBuildDeviceIoControlRequest(uint32_t ioControlCode, DeviceObject* device, void* inputBuffer,
                                   uint32_t inputLength, void* outputBuffer, uint32_t outputLength, bool internal,
                                   Event* event, IoStatusBlock* iosb) {
  if (device == nullptr) return nullptr;
  Irp* irp = ioAllocateIrp(device->stackSize, false);
  if (irp == nullptr) return nullptr;
  irp->threaded = true;
  irp->userEvent = event;
  irp->userIosb = iosb;
  irp->outputLength = outputLength;
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  next->majorFunction = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  next->parameters.deviceIoControl.ioControlCode = ioControlCode;
  next->parameters.deviceIoControl.inputBufferLength = inputLength;
  next->parameters.deviceIoControl.outputBufferLength = outputLength;
  if ((ioControlCode & 3) == METHOD_NEITHER) {
    next->parameters.deviceIoControl.type3InputBuffer = inputBuffer;
    irp->userBuffer = outputBuffer;
    return irp;
  }
  // Buffered (and, here, the direct methods too): one system buffer for both ways.
  const uint32_t size = std::max(inputLength, outputLength);
  if (size > 0) {
    irp->systemBuffer = exAllocatePoolWithTag(NonPagedPool, size, kIrpTag);
    if (irp->systemBuffer == nullptr) {
      ioFreeIrp(irp);
      return nullptr;
    }
    std::memset(irp->systemBuffer, 0, size);
    if (inputLength > 0 && inputBuffer != nullptr) std::memcpy(irp->systemBuffer, inputBuffer, inputLength);
  }
  irp->userBuffer = outputBuffer;
  irp->bufferedOutput = outputLength > 0 && outputBuffer != nullptr;
  return irp;
}

NtStatus ioCallDriver(DeviceObject* device, Irp* irp) {
  if (device == nullptr || irp == nullptr) return STATUS_INVALID_PARAMETER;
  if (irp->currentLocation <= 1) {
    reportViolation("IoCallDriver with no stack location left");
    irp->ioStatus.status = STATUS_INVALID_PARAMETER;
    ioCompleteRequest(irp);
    return STATUS_INVALID_PARAMETER;
  }
  --irp->currentLocation;
  IoStackLocation* location = ioGetCurrentIrpStackLocation(irp);
  location->deviceObject = device;
  DriverDispatch dispatch = device->driverObject == nullptr
                                ? nullptr
                                : device->driverObject->majorFunction[std::min<uint8_t>(location->majorFunction,
                                                                                        IRP_MJ_MAXIMUM_FUNCTION)];
  if (dispatch == nullptr) {
    irp->ioStatus.status = STATUS_INVALID_DEVICE_REQUEST;
    irp->ioStatus.information = 0;
    ioCompleteRequest(irp);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  return dispatch(device, irp);
}

namespace {

void freeMdlChain(Irp* irp) {
  Mdl* mdl = irp->mdlAddress;
  irp->mdlAddress = nullptr;
  while (mdl != nullptr) {
    Mdl* next = mdl->next;
    if (mdl->locked) mmUnlockPages(mdl);
    ioFreeMdl(mdl);
    mdl = next;
  }
}

// What the issuer of a built request gets when it has completed.
void finishThreadedIrp(Irp* irp) {
  if (irp->bufferedOutput && irp->systemBuffer != nullptr && ntSuccess(irp->ioStatus.status)) {
    const size_t bytes = std::min<uintptr_t>(irp->ioStatus.information, irp->outputLength);
    std::memcpy(irp->userBuffer, irp->systemBuffer, bytes);
  }
  if (irp->userIosb != nullptr) *irp->userIosb = irp->ioStatus;
  freeMdlChain(irp);
  Event* event = irp->userEvent;
  ioFreeIrp(irp);
  if (event != nullptr) keSetEvent(event);
}

bool invokes(const IoStackLocation& location, NtStatus status, bool cancelled) {
  if (cancelled) return (location.control & SL_INVOKE_ON_CANCEL) != 0;
  return (location.control & (ntSuccess(status) ? SL_INVOKE_ON_SUCCESS : SL_INVOKE_ON_ERROR)) != 0;
}

}  // namespace

void ioCompleteRequest(Irp* irp, int8_t) {
  if (irp == nullptr) return;
  if (irp->cancelRoutine.load() != nullptr) {
    reportViolation("IRP completed with a cancel routine still set");
    irp->cancelRoutine.store(nullptr);
  }
  // Completion routines run from the completing driver's location upwards;
  // each sits in the location below the driver that set it.
  while (irp->currentLocation <= irp->stackCount) {
    IoStackLocation* location = ioGetCurrentIrpStackLocation(irp);
    irp->pendingReturned = (location->control & SL_PENDING_RETURNED) != 0;
    ++irp->currentLocation;
    DeviceObject* upper = irp->currentLocation <= irp->stackCount ? ioGetCurrentIrpStackLocation(irp)->deviceObject
                                                                   : nullptr;
    if (location->completionRoutine != nullptr &&
        invokes(*location, irp->ioStatus.status, irp->cancel.load() && irp->ioStatus.status == STATUS_CANCELLED)) {
      const NtStatus result = location->completionRoutine(upper, irp, location->context);
      if (result == STATUS_MORE_PROCESSING_REQUIRED) return;  // the routine's owner keeps the request
    } else if (irp->pendingReturned && irp->currentLocation <= irp->stackCount) {
      ioMarkIrpPending(irp);
    }
  }
  if (irp->threaded) {
    finishThreadedIrp(irp);
  } else {
    freeMdlChain(irp);
  }
}

bool ioCancelIrp(Irp* irp) {
  if (irp == nullptr) return false;
  irp->cancel.store(true);
  DriverCancel routine = irp->cancelRoutine.exchange(nullptr);
  if (routine == nullptr) return false;
  IoStackLocation* location = ioGetCurrentIrpStackLocation(irp);
  routine(location != nullptr ? location->deviceObject : nullptr, irp);
  return true;
}

// ================================================================ memory descriptors

Mdl* ioAllocateMdl(void* virtualAddress, uint32_t length, bool secondaryBuffer, bool, Irp* irp) {
  void* memory = exAllocatePoolWithTag(NonPagedPool, sizeof(Mdl), kMdlTag);
  if (memory == nullptr) return nullptr;
  Mdl* mdl = new (memory) Mdl();
  mdl->startVa = virtualAddress;
  mdl->byteCount = length;
  if (irp != nullptr) {
    if (!secondaryBuffer || irp->mdlAddress == nullptr) {
      irp->mdlAddress = mdl;
    } else {
      Mdl* last = irp->mdlAddress;
      while (last->next != nullptr) last = last->next;
      last->next = mdl;
    }
  }
  return mdl;
}

void ioFreeMdl(Mdl* mdl) {
  if (mdl == nullptr) return;
  if (mdl->locked) reportViolation("IoFreeMdl of a descriptor whose pages are locked");
  mdl->~Mdl();
  exFreePoolWithTag(mdl, kMdlTag);
}

void mmProbeAndLockPages(Mdl* mdl, KProcessorMode, LockOperation) {
  if (mdl->locked) reportViolation("MmProbeAndLockPages of locked pages");
  mdl->locked = true;
}

void mmUnlockPages(Mdl* mdl) {
  if (!mdl->locked) reportViolation("MmUnlockPages of pages that are not locked");
  mdl->locked = false;
}

void* mmGetSystemAddressForMdlSafe(Mdl* mdl, uint32_t) {
  if (mdl == nullptr) return nullptr;
  if (!mdl->locked) {
    reportViolation("buffer of a memory descriptor whose pages are not locked");
    return nullptr;
  }
  return mdl->startVa;
}

// ================================================================ devices

namespace {

struct NamedDevices {
  std::mutex mutex;
  std::vector<DeviceObject*> devices;
};

NamedDevices& namedDevices() {
  static NamedDevices table;
  return table;
}

}  // namespace

DeviceObject::~DeviceObject() {
  if (deviceExtension != nullptr) exFreePoolWithTag(deviceExtension, poolTag("DevX"));
}

NtStatus ioCreateDevice(DriverObject* driver, uint32_t extensionSize, const UnicodeString* name, uint32_t deviceType,
                        uint32_t, bool, DeviceObject** device) {
  if (driver == nullptr || device == nullptr) return STATUS_INVALID_PARAMETER;
  *device = nullptr;
  std::u16string deviceName;
  if (name != nullptr && name->buffer != nullptr) deviceName.assign(name->buffer, name->length / 2);
  auto* created = new DeviceObject();
  if (extensionSize > 0) {
    created->deviceExtension = exAllocatePoolWithTag(NonPagedPool, extensionSize, poolTag("DevX"));
    if (created->deviceExtension == nullptr) {
      obDereferenceObject(created);
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memset(created->deviceExtension, 0, extensionSize);
  }
  created->driverObject = driver;
  created->deviceType = deviceType;
  created->flags = DO_DEVICE_INITIALIZING;
  created->name = deviceName;
  if (!deviceName.empty()) {
    NamedDevices& table = namedDevices();
    std::lock_guard lock(table.mutex);
    const std::u16string folded = foldCase(deviceName);
    for (DeviceObject* existing : table.devices) {
      if (foldCase(existing->name) == folded) {
        obDereferenceObject(created);
        return STATUS_OBJECT_NAME_COLLISION;
      }
    }
    table.devices.push_back(created);
  }
  created->nextDevice = driver->deviceObject;
  driver->deviceObject = created;
  *device = created;
  return STATUS_SUCCESS;
}

void ioDeleteDevice(DeviceObject* device) {
  if (device == nullptr) return;
  if (!device->name.empty()) {
    NamedDevices& table = namedDevices();
    std::lock_guard lock(table.mutex);
    table.devices.erase(std::remove(table.devices.begin(), table.devices.end(), device), table.devices.end());
  }
  if (DriverObject* driver = device->driverObject) {
    for (DeviceObject** link = &driver->deviceObject; *link != nullptr; link = &(*link)->nextDevice) {
      if (*link == device) {
        *link = device->nextDevice;
        break;
      }
    }
  }
  obDereferenceObject(device);
}

DeviceObject* ioAttachDeviceToDeviceStack(DeviceObject* source, DeviceObject* target) {
  if (source == nullptr || target == nullptr) return nullptr;
  DeviceObject* top = target;
  while (top->attachedDevice != nullptr) top = top->attachedDevice;
  top->attachedDevice = source;
  source->lowerDevice = top;
  source->stackSize = static_cast<int8_t>(top->stackSize + 1);
  return top;
}

void ioDetachDevice(DeviceObject* target) {
  if (target == nullptr || target->attachedDevice == nullptr) return;
  target->attachedDevice->lowerDevice = nullptr;
  target->attachedDevice = nullptr;
}

DeviceObject* ioGetRelatedDeviceObject(FileObject* file) {
  if (file == nullptr || file->deviceObject == nullptr) return nullptr;
  DeviceObject* top = file->deviceObject;
  while (top->attachedDevice != nullptr) top = top->attachedDevice;
  return top;
}

DeviceObject* ioFindNamedDevice(std::u16string_view name, bool caseInsensitive) {
  NamedDevices& table = namedDevices();
  std::lock_guard lock(table.mutex);
  const std::u16string folded = foldCase(name);
  for (DeviceObject* device : table.devices) {
    if (caseInsensitive ? foldCase(device->name) == folded : device->name == name) {
      obReferenceObject(device);
      return device;
    }
  }
  return nullptr;
}

NtStatus ioGetDeviceProperty(DeviceObject* device, DeviceRegistryProperty property, uint32_t bufferLength,
                             void* buffer, uint32_t* resultLength) {
  if (device == nullptr || resultLength == nullptr || property != DevicePropertyDeviceDescription) {
    return STATUS_INVALID_PARAMETER;
  }
  while (device->lowerDevice != nullptr) device = device->lowerDevice;  // the physical device holds it
  const std::u16string& text = device->deviceDescription;
  const uint32_t needed = static_cast<uint32_t>((text.size() + 1) * 2);
  *resultLength = needed;
  if (bufferLength < needed || buffer == nullptr) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(buffer, text.c_str(), needed);
  return STATUS_SUCCESS;
}

// ================================================================ files

void initializeObjectAttributes(ObjectAttributes* attributes, UnicodeString* name, uint32_t flags) {
  *attributes = ObjectAttributes{};
  attributes->objectName = name;
  attributes->attributes = flags;
}

NtStatus ioCallDriverAndWait(DeviceObject* device, Irp* irp) {
  Event done;
  IoStatusBlock status;
  keInitializeEvent(&done, NotificationEvent, false);
  irp->threaded = true;
  irp->userEvent = &done;
  irp->userIosb = &status;
  NtStatus result = ioCallDriver(device, irp);
  if (result == STATUS_PENDING) {
    keWaitForSingleObject(&done, Executive, KernelMode, false, nullptr);
    result = status.status;
  }
  return result;
}

NtStatus ioSendFileRequest(FileObject* file, uint8_t major, const FILE_FULL_EA_INFORMATION* ea, uint32_t eaLength,
                           uint32_t desiredAccess) {
  DeviceObject* device = ioGetRelatedDeviceObject(file);
  Irp* irp = ioAllocateIrp(device->stackSize, false);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  next->majorFunction = major;
  next->fileObject = file;
  next->parameters.create.eaBuffer = ea;
  next->parameters.create.eaLength = eaLength;
  next->parameters.create.desiredAccess = desiredAccess;
  return ioCallDriverAndWait(device, irp);
}

void FileObject::deleteProcedure() {
  if (deviceObject == nullptr) return;
  ioSendFileRequest(this, IRP_MJ_CLEANUP, nullptr, 0, 0);
  ioSendFileRequest(this, IRP_MJ_CLOSE, nullptr, 0, 0);
  obDereferenceObject(deviceObject);
  deviceObject = nullptr;
}

NtStatus zwCreateFile(Handle* fileHandle, uint32_t desiredAccess, ObjectAttributes* attributes,
                      IoStatusBlock* ioStatus, int64_t*, uint32_t, uint32_t, uint32_t, uint32_t,
                      const void* eaBuffer, uint32_t eaLength) {
  if (fileHandle == nullptr || attributes == nullptr || attributes->objectName == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  *fileHandle = nullptr;
  const UnicodeString& name = *attributes->objectName;
  DeviceObject* device = ioFindNamedDevice(std::u16string_view(name.buffer, name.length / 2),
                                           (attributes->attributes & OBJ_CASE_INSENSITIVE) != 0);
  if (device == nullptr) {
    if (ioStatus != nullptr) *ioStatus = IoStatusBlock{STATUS_OBJECT_NAME_NOT_FOUND, 0};
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  auto* file = new FileObject();
  file->fileName.assign(name.buffer, name.length / 2);
  file->deviceObject = device;  // takes the reference ioFindNamedDevice gave
  const NtStatus status = ioSendFileRequest(file, IRP_MJ_CREATE, static_cast<const FILE_FULL_EA_INFORMATION*>(eaBuffer),
                                          eaLength, desiredAccess);
  if (ioStatus != nullptr) *ioStatus = IoStatusBlock{status, 0};
  if (!ntSuccess(status)) {
    // A refused create gets no cleanup or close.
    obDereferenceObject(device);
    file->deviceObject = nullptr;
    obDereferenceObject(file);
    return status;
  }
  *fileHandle = obInsertHandle(file);
  obDereferenceObject(file);
  return STATUS_SUCCESS;
}

// ================================================================ work items

struct IoWorkItem {
  DeviceObject* device = nullptr;
  std::atomic<bool> queued{false};
};

IoWorkItem* ioAllocateWorkItem(DeviceObject* device) {
  if (device == nullptr) return nullptr;
  void* memory = exAllocatePoolWithTag(NonPagedPool, sizeof(IoWorkItem), kWorkItemTag);
  if (memory == nullptr) return nullptr;
  auto* item = new (memory) IoWorkItem();
  item->device = device;
  return item;
}

void ioQueueWorkItem(IoWorkItem* item, IoWorkItemRoutine routine, WorkQueueType queue, void* context) {
  if (item == nullptr || routine == nullptr) return;
  if (item->queued.exchange(true)) {
    reportViolation("work item queued while it is still queued");
    return;
  }
  DeviceObject* device = item->device;
  obReferenceObject(device);
  exQueueWork(queue, [item, routine, device, context] {
    item->queued.store(false);
    routine(device, context);  // may free the item
    obDereferenceObject(device);
  });
}

void ioFreeWorkItem(IoWorkItem* item) {
  if (item == nullptr) return;
  if (item->queued.load()) reportViolation("work item freed while it is queued");
  item->~IoWorkItem();
  exFreePoolWithTag(item, kWorkItemTag);
}

}  // namespace platform::wdm
