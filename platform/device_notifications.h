#pragma once
// Device interface notifications: a recipient registered for an interface
// class learns when an interface of that class arrives or is removed, in
// whatever process of the same system root its device host runs.
//
// A recipient is a DeviceNotificationRecipient. With DEVICE_NOTIFY_WINDOW_HANDLE
// it is called on the thread that registered it, from that thread's alertable
// waits (the window layer forwards it into its message loop); with
// DEVICE_NOTIFY_SERVICE_HANDLE it is called on an internal thread, one call at
// a time. After unregisterDeviceNotification returns, the recipient is not
// called again.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/guid.h"

namespace platform {

inline constexpr uint32_t WM_DEVICECHANGE = 0x219;
inline constexpr uint32_t DBT_DEVNODES_CHANGED = 7;
inline constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;
inline constexpr uint32_t DEVICE_NOTIFY_WINDOW_HANDLE = 0;
inline constexpr uint32_t DEVICE_NOTIFY_SERVICE_HANDLE = 1;
inline constexpr uint32_t DEVICE_NOTIFY_ALL_INTERFACE_CLASSES = 4;

// The device interface record: u32 size, u32 device type (5), u32 reserved,
// the 16-byte class GUID, then the zero-terminated UTF-16 link name.
inline constexpr size_t kDeviceInterfaceRecordNameOffset = 28;
inline constexpr size_t kDeviceInterfaceRecordMinimumSize = 32;

// A record for `classGuid` and `name`, at least 32 bytes long.
std::vector<uint8_t> makeDeviceInterfaceRecord(const Guid& classGuid, std::u16string_view name);

// Whether a record (null: none) carries a link name that is not empty.
bool deviceInterfaceRecordHasName(const uint8_t* record);

class DeviceNotificationRecipient {
 public:
  virtual ~DeviceNotificationRecipient() = default;
  // eventType is DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE; the record is
  // valid for the call only.
  virtual void onDeviceChange(uint32_t eventType, const uint8_t* record) = 0;
};

using DeviceNotifyHandle = void*;

// Registers `recipient` for the interface class in `filter` (a device interface
// record; its name is ignored). Null with the last error set: 87 for a null
// recipient or unknown flags, 13 for a filter that is no device interface record.
DeviceNotifyHandle registerDeviceNotification(DeviceNotificationRecipient* recipient, const void* filter,
                                              uint32_t flags);

// False with last error 6 for an unknown registration.
bool unregisterDeviceNotification(DeviceNotifyHandle registration);

}  // namespace platform
