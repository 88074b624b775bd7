#pragma once
// Kernel streaming inside the device host: device interfaces whose
// connections become file objects of a device (create, device control,
// cleanup and close requests as IRPs), and the entries of enabled events.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/kernel/driver.h"
#include "platform/kernel/wdm/io.h"
#include "platform/kernel_streaming.h"

namespace platform::wdm {

struct PCEVENT_ITEM;

// An enabled event: kept in a port's event list while it is enabled, and
// signalled through the application's event.
struct KSEVENT_ENTRY {
  FileObject* fileObject = nullptr;  // the file that enabled it
  Guid set{};
  uint32_t eventId = 0;
  bool nodeEvent = false;
  uint32_t nodeId = 0;
  bool pinEvent = false;
  uint32_t pinId = 0;
  platform::KSEVENTDATA data{};
  std::shared_ptr<platform::kernel::KernelEvent> event;
  const PCEVENT_ITEM* eventItem = nullptr;
  bool listed = false;  // an event list owns it
};

// Signals the entry's application event. Never blocks; any IRQL.
void ksGenerateEvent(KSEVENT_ENTRY* entry);

// Makes a device interface whose connections are file objects of `device`:
// a connection's create is an IRP_MJ_CREATE with `referenceString` as the
// file name, its requests are IRP_MJ_DEVICE_CONTROL (METHOD_NEITHER buffers,
// pending allowed) and its end is IRP_MJ_CLEANUP then IRP_MJ_CLOSE.
NtStatus ksRegisterDeviceInterface(DeviceObject* device, const std::u16string& linkName, const Guid& category,
                                   const std::u16string& description, const std::u16string& referenceString);
NtStatus ksRemoveDeviceInterface(const std::u16string& linkName);

}  // namespace platform::wdm
