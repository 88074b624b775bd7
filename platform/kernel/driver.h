#pragma once
// What a kernel-mode driver sees of the device host. A driver is a shared
// library exporting
//
//   extern "C" uint32_t DriverEntry(platform::kernel::DriverObject* driver,
//                                   const char16_t* registryPath);
//
// which receives its service key's path
// ("\Registry\Machine\System\CurrentControlSet\Services\<name>") and registers
// its device interfaces. Every object the host hands to a driver is reached
// through virtual functions only, so a driver module needs no symbol of the
// host program.
//
// Threads: the callbacks of one file object run one at a time on that
// connection's thread; different file objects are served concurrently.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/guid.h"

namespace platform::kernel {

using NtStatus = uint32_t;

inline constexpr NtStatus STATUS_SUCCESS = 0;
inline constexpr NtStatus STATUS_TIMEOUT = 0x102;
inline constexpr NtStatus STATUS_PENDING = 0x103;
inline constexpr NtStatus STATUS_BUFFER_OVERFLOW = 0x80000005;
inline constexpr NtStatus STATUS_UNSUCCESSFUL = 0xC0000001;
inline constexpr NtStatus STATUS_NOT_IMPLEMENTED = 0xC0000002;
inline constexpr NtStatus STATUS_INVALID_HANDLE = 0xC0000008;
inline constexpr NtStatus STATUS_INVALID_PARAMETER = 0xC000000D;
inline constexpr NtStatus STATUS_INVALID_DEVICE_REQUEST = 0xC0000010;
inline constexpr NtStatus STATUS_NO_MEMORY = 0xC0000017;
inline constexpr NtStatus STATUS_BUFFER_TOO_SMALL = 0xC0000023;
inline constexpr NtStatus STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034;
inline constexpr NtStatus STATUS_OBJECT_NAME_COLLISION = 0xC0000035;
inline constexpr NtStatus STATUS_QUOTA_EXCEEDED = 0xC0000044;
inline constexpr NtStatus STATUS_INSUFFICIENT_RESOURCES = 0xC000009A;
inline constexpr NtStatus STATUS_DEVICE_NOT_CONNECTED = 0xC000009D;
inline constexpr NtStatus STATUS_IO_TIMEOUT = 0xC00000B5;
inline constexpr NtStatus STATUS_CANCELLED = 0xC0000120;

// A caller's event, resolved from its handle value during a request. The
// driver may keep it and signal it from any thread, also after the request.
class KernelEvent {
 public:
  virtual ~KernelEvent() = default;
  virtual void set() = 0;
  virtual void reset() = 0;
  virtual bool manualReset() const = 0;
};

// A caller's address range, mapped into the host. The memory stays mapped
// while the driver holds this object, even after the caller freed it.
class MappedMemory {
 public:
  virtual ~MappedMemory() = default;
  virtual uint8_t* data() = 0;  // the first byte of the range
  virtual size_t size() const = 0;
};

// One open connection to a device interface.
class FileObject {
 public:
  virtual ~FileObject() = default;
  virtual const std::u16string& linkName() const = 0;
  virtual uint32_t processId() const = 0;  // of the caller
  // The driver's own per-file state; the host never touches it.
  void* context = nullptr;
};

// A request the driver finishes later, from any thread. Completing twice, or
// after the caller has gone, does nothing.
class PendingRequest {
 public:
  virtual ~PendingRequest() = default;
  virtual uint32_t outputCapacity() const = 0;
  // Bytes beyond the output capacity are dropped.
  virtual void complete(NtStatus status, const void* output, uint32_t size) = 0;
};

// A device I/O control request, valid during the device-control callback.
class IoRequest {
 public:
  virtual ~IoRequest() = default;
  virtual uint32_t code() const = 0;
  virtual const uint8_t* input() const = 0;
  virtual uint32_t inputSize() const = 0;
  virtual uint8_t* output() = 0;  // zeroed, outputCapacity() bytes
  virtual uint32_t outputCapacity() const = 0;
  // The bytes returned to the caller (limited to the capacity); 0 by default.
  virtual void setInformation(uint32_t bytes) = 0;

  // Resolves one of the caller's event handles (STATUS_INVALID_HANDLE when it
  // names no event of the caller).
  virtual NtStatus referenceEvent(uint64_t handleValue, std::shared_ptr<KernelEvent>* event) = 0;
  // Maps [address, address + length) of the caller's shareable memory
  // (STATUS_INVALID_PARAMETER for any other range).
  virtual NtStatus mapUserMemory(uint64_t address, uint64_t length, std::shared_ptr<MappedMemory>* memory) = 0;

  // Makes the request pending: the caller learns of it as I/O pending, and the
  // value the callback returns is ignored. Null when called twice.
  virtual std::shared_ptr<PendingRequest> markPending() = 0;
};

struct DeviceCallbacks {
  // A new file object; a failure status refuses the open (no cleanup follows).
  std::function<NtStatus(FileObject&)> create;
  std::function<NtStatus(FileObject&, IoRequest&)> deviceControl;
  // The caller closed its handle or ended; the file object is gone afterwards.
  std::function<void(FileObject&)> cleanup;
};

struct DeviceInterfaceInfo {
  std::u16string linkName;  // what callers open as "\\.\<link name>"
  Guid interfaceClass;
  std::u16string description;
};

class DriverObject {
 public:
  virtual ~DriverObject() = default;
  virtual const std::u16string& serviceName() const = 0;
  virtual const std::u16string& registryPath() const = 0;

  // Makes an interface appear (STATUS_OBJECT_NAME_COLLISION when a live
  // interface of that name exists, STATUS_INVALID_PARAMETER for a bad name).
  virtual NtStatus createInterface(const DeviceInterfaceInfo& info, DeviceCallbacks callbacks) = 0;
  // Withdraws an interface: open file objects get their cleanup first. Must
  // not be called from one of that interface's own callbacks.
  virtual NtStatus removeInterface(std::u16string_view linkName) = 0;

  // Called when the host stops, after every interface of the driver is gone.
  virtual void setUnload(std::function<void()> unload) = 0;

  // Writes one line to the host's log, where a kernel driver's debug output
  // goes. A line written while the entry runs also becomes part of the reason
  // the host reports when the entry fails.
  virtual void log(std::string_view message) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  }
};

using DriverEntryFunction = uint32_t (*)(DriverObject* driver, const char16_t* registryPath);
inline constexpr const char* kDriverEntryName = "DriverEntry";

}  // namespace platform::kernel
