#pragma once
// The device notification registrations of one recipient (a window or a
// service): registered one interface class at a time, withdrawn together.

#include <cstdint>
#include <mutex>

#include "platform/device_notifications.h"
#include "platform/guid.h"

class DeviceNotificationList {
 public:
  DeviceNotificationList() = default;
  ~DeviceNotificationList();  // removeAll
  DeviceNotificationList(const DeviceNotificationList&) = delete;
  DeviceNotificationList& operator=(const DeviceNotificationList&) = delete;

  // Registers `recipient` for device interfaces of `interfaceClass`
  // (flags: DEVICE_NOTIFY_WINDOW_HANDLE or DEVICE_NOTIFY_SERVICE_HANDLE).
  // Returns 0, or the system error of the registration.
  uint32_t add(platform::DeviceNotificationRecipient* recipient, const platform::Guid& interfaceClass,
               uint32_t flags);

  // Withdraws every registration of the list (failures ignored).
  void removeAll();

 private:
  struct Node {
    Node* previous = nullptr;
    Node* next = nullptr;
    platform::Guid interfaceClass;
    platform::DeviceNotifyHandle registration = nullptr;
  };

  std::recursive_mutex lock_;
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
};
