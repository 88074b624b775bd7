#pragma once
// The I/O manager as drivers see it: driver and device objects, file objects,
// I/O request packets (IRPs) with one stack location per driver of a device
// stack, device I/O control requests with completion and cancellation,
// memory descriptor lists, named devices opened with extended attributes,
// work items, and device properties.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel/wdm/executive.h"
#include "platform/kernel/wdm/rtl.h"

namespace platform::kernel {
class IoRequest;
}

namespace platform::wdm {

struct DriverObject;
struct DeviceObject;
struct FileObject;
struct Irp;
struct TDI_CONNECTION_INFORMATION;

inline constexpr NtStatus STATUS_MORE_PROCESSING_REQUIRED = 0xC0000016;

// Major functions.
inline constexpr uint8_t IRP_MJ_CREATE = 0x00;
inline constexpr uint8_t IRP_MJ_CLOSE = 0x02;
inline constexpr uint8_t IRP_MJ_DEVICE_CONTROL = 0x0E;
inline constexpr uint8_t IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0F;
inline constexpr uint8_t IRP_MJ_CLEANUP = 0x12;
inline constexpr uint8_t IRP_MJ_POWER = 0x16;
inline constexpr uint8_t IRP_MJ_PNP = 0x1B;
inline constexpr uint8_t IRP_MJ_MAXIMUM_FUNCTION = 0x1B;

// Plug and Play minor functions.
inline constexpr uint8_t IRP_MN_START_DEVICE = 0x00;
inline constexpr uint8_t IRP_MN_REMOVE_DEVICE = 0x02;

// Device I/O control codes: device type, access, function, transfer method.
constexpr uint32_t ctlCode(uint32_t deviceType, uint32_t function, uint32_t method, uint32_t access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
inline constexpr uint32_t METHOD_BUFFERED = 0;
inline constexpr uint32_t METHOD_NEITHER = 3;
inline constexpr uint32_t FILE_ANY_ACCESS = 0;
inline constexpr uint32_t FILE_READ_ACCESS = 1;
inline constexpr uint32_t FILE_WRITE_ACCESS = 2;

using DriverDispatch = NtStatus (*)(DeviceObject* device, Irp* irp);
using DriverAddDevice = NtStatus (*)(DriverObject* driver, DeviceObject* physicalDevice);
using DriverUnload = void (*)(DriverObject* driver);
using DriverInitialize = NtStatus (*)(DriverObject* driver, UnicodeString* registryPath);
using IoCompletionRoutine = NtStatus (*)(DeviceObject* device, Irp* irp, void* context);
using DriverCancel = void (*)(DeviceObject* device, Irp* irp);

struct DriverExtension {
  DriverAddDevice addDevice = nullptr;
};

struct DriverObject : ObjectBody {
  DriverObject() : ObjectBody(ObjectType::Driver) {}
  DeviceObject* deviceObject = nullptr;  // the driver's devices, linked by nextDevice
  DriverDispatch majorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1] = {};
  DriverUnload driverUnload = nullptr;
  DriverExtension driverExtension;
  std::u16string driverName;  // "\Driver\<service>"
  // Per-driver data of a class driver library the driver is built on (port class).
  void* classExtension = nullptr;
};

inline constexpr uint32_t FILE_DEVICE_KS = 0x2F;
inline constexpr uint32_t FILE_DEVICE_NETWORK = 0x12;
inline constexpr uint32_t FILE_DEVICE_UNKNOWN = 0x22;
inline constexpr uint32_t DO_DEVICE_INITIALIZING = 0x80;

struct DeviceObject : ObjectBody {
  DeviceObject() : ObjectBody(ObjectType::Device) {}
  ~DeviceObject() override;
  DriverObject* driverObject = nullptr;
  DeviceObject* nextDevice = nullptr;      // next device of the same driver
  DeviceObject* attachedDevice = nullptr;  // the device attached on top of this one
  DeviceObject* lowerDevice = nullptr;     // the device this one is attached to
  void* deviceExtension = nullptr;
  uint32_t deviceType = 0;
  uint32_t flags = 0;
  int8_t stackSize = 1;
  std::u16string name;  // "\Device\Udp"; empty for unnamed devices
  // Plug and Play data of a physical device object.
  std::u16string instancePath;       // "ROOT\MEDIA\0000"
  std::u16string deviceDescription;  // from the device's registry entry
};

struct FileObject : ObjectBody {
  FileObject() : ObjectBody(ObjectType::File) {}
  DeviceObject* deviceObject = nullptr;
  void* fsContext = nullptr;
  void* fsContext2 = nullptr;
  std::u16string fileName;
  // The requests sent when the last reference goes (cleanup, then close).
  void deleteProcedure() override;
};

struct IoStatusBlock {
  NtStatus status = STATUS_SUCCESS;
  uintptr_t information = 0;
};

// A memory descriptor list: describes a buffer whose pages a driver locks
// before a lower driver reads or writes them.
struct Mdl {
  Mdl* next = nullptr;
  void* startVa = nullptr;
  uint32_t byteCount = 0;
  bool locked = false;
};

struct FILE_FULL_EA_INFORMATION;

struct IoStackLocation {
  uint8_t majorFunction = 0;
  uint8_t minorFunction = 0;
  uint8_t flags = 0;
  uint8_t control = 0;
  // The parameters of each kind of request (a union on the original system).
  struct {
    struct {
      uint32_t outputBufferLength = 0;
      uint32_t inputBufferLength = 0;
      uint32_t ioControlCode = 0;
      void* type3InputBuffer = nullptr;
    } deviceIoControl;
    struct {
      uint32_t desiredAccess = 0;
      uint32_t options = 0;
      uint16_t fileAttributes = 0;
      uint16_t shareAccess = 0;
      const FILE_FULL_EA_INFORMATION* eaBuffer = nullptr;
      uint32_t eaLength = 0;
    } create;
    struct {
      uint32_t sendLength = 0;
      TDI_CONNECTION_INFORMATION* sendDatagramInformation = nullptr;
    } tdiSendDatagram;
    struct {
      int32_t eventType = 0;
      void* eventHandler = nullptr;
      void* eventContext = nullptr;
    } tdiSetEventHandler;
  } parameters;
  DeviceObject* deviceObject = nullptr;
  FileObject* fileObject = nullptr;
  IoCompletionRoutine completionRoutine = nullptr;
  void* context = nullptr;
};

inline constexpr uint8_t SL_PENDING_RETURNED = 0x01;
inline constexpr uint8_t SL_INVOKE_ON_SUCCESS = 0x40;
inline constexpr uint8_t SL_INVOKE_ON_ERROR = 0x80;
inline constexpr uint8_t SL_INVOKE_ON_CANCEL = 0x20;

struct Irp {
  Mdl* mdlAddress = nullptr;
  IoStatusBlock ioStatus;
  bool pendingReturned = false;
  std::atomic<bool> cancel{false};
  std::atomic<DriverCancel> cancelRoutine{nullptr};
  KProcessorMode requestorMode = KernelMode;
  // Buffers: the system buffer of buffered requests, the caller's output
  // buffer otherwise.
  void* systemBuffer = nullptr;
  void* userBuffer = nullptr;
  // What a request built by IoBuildDeviceIoControlRequest reports to its
  // issuer when it completes.
  IoStatusBlock* userIosb = nullptr;
  Event* userEvent = nullptr;
  bool threaded = false;        // built by IoBuild...: completion frees it
  bool bufferedOutput = false;  // copy the system buffer back to userBuffer on completion
  uint32_t outputLength = 0;
  // Room for the driver that owns the request right now (queues, state).
  void* driverContext[4] = {};
  // The device host's request behind an IRP that came from an application
  // (for resolving the caller's event handles during dispatch); null otherwise.
  platform::kernel::IoRequest* hostRequest = nullptr;
  int8_t stackCount = 0;
  int8_t currentLocation = 0;  // stackCount + 1 before the first IoCallDriver
  std::vector<IoStackLocation> stack;
};

IoStackLocation* ioGetCurrentIrpStackLocation(Irp* irp);
IoStackLocation* ioGetNextIrpStackLocation(Irp* irp);
void ioCopyCurrentIrpStackLocationToNext(Irp* irp);
void ioSkipCurrentIrpStackLocation(Irp* irp);
void ioSetCompletionRoutine(Irp* irp, IoCompletionRoutine routine, void* context, bool onSuccess, bool onError,
                            bool onCancel);
void ioMarkIrpPending(Irp* irp);
// Returns the previous routine.
DriverCancel ioSetCancelRoutine(Irp* irp, DriverCancel routine);

Irp* ioAllocateIrp(int8_t stackSize, bool chargeQuota);
void ioFreeIrp(Irp* irp);

// A device control request for `device`, ready for IoCallDriver. Buffered
// codes (method 0) copy the input into a system buffer and the output back
// when the request completes. Completion fills `iosb`, sets `event` and frees
// the request, unless a completion routine keeps it (more processing
// required), in which case its owner frees it with IoFreeIrp.
Irp* ioBuildDeviceIoControlRequest(uint32_t ioControlCode, DeviceObject* device, void* inputBuffer,
                                   uint32_t inputLength, void* outputBuffer, uint32_t outputLength,
                                   bool internal, Event* event, IoStatusBlock* iosb);

// Passes the request to `device`'s driver through its next stack location.
NtStatus ioCallDriver(DeviceObject* device, Irp* irp);
// Finishes a request: completion routines from the bottom up, then what its
// issuer asked for.
void ioCompleteRequest(Irp* irp, int8_t priorityBoost = 0);
// Marks the request cancelled and calls its cancel routine when it has one.
// True when a routine was called.
bool ioCancelIrp(Irp* irp);

// Memory descriptors.
Mdl* ioAllocateMdl(void* virtualAddress, uint32_t length, bool secondaryBuffer, bool chargeQuota, Irp* irp);
void ioFreeMdl(Mdl* mdl);
enum LockOperation { IoReadAccess = 0, IoWriteAccess = 1, IoModifyAccess = 2 };
void mmProbeAndLockPages(Mdl* mdl, KProcessorMode mode, LockOperation operation);
void mmUnlockPages(Mdl* mdl);
// The buffer of a locked descriptor, or null (a violation) for one not locked.
void* mmGetSystemAddressForMdlSafe(Mdl* mdl, uint32_t priority);

// Devices.
NtStatus ioCreateDevice(DriverObject* driver, uint32_t extensionSize, const UnicodeString* name, uint32_t deviceType,
                        uint32_t characteristics, bool exclusive, DeviceObject** device);
void ioDeleteDevice(DeviceObject* device);
DeviceObject* ioAttachDeviceToDeviceStack(DeviceObject* source, DeviceObject* target);
void ioDetachDevice(DeviceObject* target);
// The top of the device stack a file object was opened on.
DeviceObject* ioGetRelatedDeviceObject(FileObject* file);
// The named device, referenced; null when there is none.
DeviceObject* ioFindNamedDevice(std::u16string_view name, bool caseInsensitive);

enum DeviceRegistryProperty { DevicePropertyDeviceDescription = 0 };
NtStatus ioGetDeviceProperty(DeviceObject* device, DeviceRegistryProperty property, uint32_t bufferLength,
                             void* buffer, uint32_t* resultLength);

// Opening a named device as a file.
inline constexpr uint32_t OBJ_CASE_INSENSITIVE = 0x40;
inline constexpr uint32_t OBJ_KERNEL_HANDLE = 0x200;
struct ObjectAttributes {
  uint32_t length = sizeof(ObjectAttributes);
  Handle rootDirectory = nullptr;
  UnicodeString* objectName = nullptr;
  uint32_t attributes = 0;
};
void initializeObjectAttributes(ObjectAttributes* attributes, UnicodeString* name, uint32_t flags);

inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr uint32_t FILE_OPEN = 1;

// An extended attribute as the create request carries it: the name (nameLength
// bytes, then a terminating zero) and the value follow the fixed part.
struct FILE_FULL_EA_INFORMATION {
  uint32_t nextEntryOffset;
  uint8_t flags;
  uint8_t eaNameLength;
  uint16_t eaValueLength;
  char eaName[1];
};
static_assert(sizeof(FILE_FULL_EA_INFORMATION) == 12);
inline constexpr size_t kEaNameOffset = 8;

// Opens the device named by `attributes` with a create request that carries
// the extended attributes; `fileHandle` receives a kernel handle of the new
// file object. STATUS_OBJECT_NAME_NOT_FOUND for an unknown name.
NtStatus zwCreateFile(Handle* fileHandle, uint32_t desiredAccess, ObjectAttributes* attributes,
                      IoStatusBlock* ioStatus, int64_t* allocationSize, uint32_t fileAttributes,
                      uint32_t shareAccess, uint32_t createDisposition, uint32_t createOptions,
                      const void* eaBuffer, uint32_t eaLength);

// Sends a request the caller prepared (next stack location) and waits for
// its final status; the request is freed when it completes.
NtStatus ioCallDriverAndWait(DeviceObject* device, Irp* irp);

// Sends a create (with its extended attributes), cleanup or close request
// about `file` to the device it was opened on, and waits for it.
NtStatus ioSendFileRequest(FileObject* file, uint8_t majorFunction, const FILE_FULL_EA_INFORMATION* ea = nullptr,
                           uint32_t eaLength = 0, uint32_t desiredAccess = 0);

// Work items: queued on a system worker queue for a device, which stays
// referenced while the item waits and runs.
struct IoWorkItem;
using IoWorkItemRoutine = void (*)(DeviceObject* device, void* context);
IoWorkItem* ioAllocateWorkItem(DeviceObject* device);
void ioQueueWorkItem(IoWorkItem* item, IoWorkItemRoutine routine, WorkQueueType queue, void* context);
void ioFreeWorkItem(IoWorkItem* item);

// Pool tags of the I/O manager's own allocations, so that leak checks see them.
inline constexpr uint32_t kIrpTag = poolTag("Irp ");
inline constexpr uint32_t kMdlTag = poolTag("Mdl ");
inline constexpr uint32_t kWorkItemTag = poolTag("IoWk");

}  // namespace platform::wdm
