#include "device-access/device_notification_list.h"

#include <vector>

#include "platform/errors.h"

DeviceNotificationList::~DeviceNotificationList() { removeAll(); }

uint32_t DeviceNotificationList::add(platform::DeviceNotificationRecipient* recipient,
                                     const platform::Guid& interfaceClass, uint32_t flags) {
  auto* node = new Node;
  node->interfaceClass = interfaceClass;
  // The filter: a device interface record of 32 bytes with the class and an empty name.
  const std::vector<uint8_t> filter = platform::makeDeviceInterfaceRecord(interfaceClass, u"");
  node->registration = platform::registerDeviceNotification(recipient, filter.data(), flags);
  if (node->registration == nullptr) {
    const uint32_t error = platform::lastError();
    delete node;
    return error;
  }
  std::lock_guard lock(lock_);
  node->previous = tail_;
  if (tail_ != nullptr) {
    tail_->next = node;
  } else {
    head_ = node;
  }
  tail_ = node;
  return 0;
}

void DeviceNotificationList::removeAll() {
  // The nodes are unlinked under the lock and unregistered after it: an
  // unregistration waits for a notification in progress, whose recipient may
  // itself be using this list.
  Node* node;
  {
    std::lock_guard lock(lock_);
    node = head_;
    head_ = nullptr;
    tail_ = nullptr;
  }
  while (node != nullptr) {
    Node* next = node->next;
    if (!platform::unregisterDeviceNotification(node->registration)) (void)platform::lastError();
    delete node;
    node = next;
  }
}
