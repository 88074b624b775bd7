#pragma once
// A driver connection: requests that concern the kernel driver as a whole,
// the connection's message and notification events, client registration and
// notifications, and the device connections kept in step with the kernel
// driver's list of connected devices.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "device-access/orvane_api_context.h"
#include "device-access/orvane_device.h"
#include "device-access/orvane_records.h"
#include "device-access/wn_event.h"
#include "platform/handles.h"

class OrvaneDriver : public OrvaneApiContext {
 public:
  OrvaneDriver();
  // Runs closeDriver and destroys every device connection.
  ~OrvaneDriver() override;

  // A new, unopened device connection for updateDeviceList; null when none
  // can be made. Derived drivers return their own device class.
  virtual std::unique_ptr<OrvaneDevice> createDevice();

  // Opens `name` (at most 99 characters are kept as the link name) and hands
  // the wanted events (auto-reset; created once and kept across reopening)
  // to the kernel driver. On failure the connection is closed. A second open
  // is rejected and keeps the connection and its link name as they were.
  uint32_t openDriver(const char16_t* name, bool wantMessageEvent, bool wantNotificationEvent);
  // Withdraws the events from the kernel driver, closes the connection and
  // the events. Device connections are not touched.
  void closeDriver();

  // Opens the connection and registers it under `clientType` (with a message
  // and a notification event when `withEvents`). 0 without any change when it
  // is already open.
  uint32_t openConnection(const char16_t* name, uint32_t clientType, bool withEvents);
  // The next queued notification (kind 3), skipping records of other kinds;
  // ORVANE_STATUS_NO_MORE_ITEMS when the queue is empty.
  uint32_t readNextNotification(ORVANE_MESSAGE& message);
  // Discards every queued notification; 0 once the queue is empty.
  uint32_t drainNotifications();

  // Brings the device connections in step with the kernel driver's list:
  // a device listed again (same vendor, product and serial number) keeps its
  // connection with refreshed info (re-attached when the device came back
  // under a new identifier), new devices get a new attached connection,
  // connections of devices no longer listed are destroyed. `changed` tells
  // whether a connection was added or destroyed (a new order alone is no
  // change). When the list cannot be read every connection is destroyed and
  // that status returned.
  uint32_t updateDeviceList(bool& changed);

  size_t deviceCount() const { return devices_.size(); }
  // Null when position >= deviceCount().
  OrvaneDevice* deviceAt(size_t position) const;
  // The first device connection whose device identifier is (first, second), or null.
  OrvaneDevice* findDevice(uint32_t first, uint32_t second) const;

  const char16_t* linkName() const { return linkName_; }
  // Null while the event does not exist.
  platform::Handle messageEvent() const { return messageEvent_.handle(); }
  platform::Handle notificationEvent() const { return notificationEvent_.handle(); }

 private:
  uint32_t createEventIfWanted(bool wanted, WnEvent& event);
  // Removes and returns the first of `candidates` that is the same device
  // (vendor, product, serial number) as `entry`, or null.
  static std::unique_ptr<OrvaneDevice> takeMatchingDevice(std::vector<std::unique_ptr<OrvaneDevice>>& candidates,
                                                          const ORVANE_DEVICE_INFO& entry);
  // Takes over the new entry; re-attaches the connection when the device's
  // identifier changed. 0 or the attach request's failure.
  static uint32_t refreshDevice(OrvaneDevice& device, const ORVANE_DEVICE_INFO& entry);

  // In the order of the kernel driver's last device list. Not guarded by the
  // connection's lock: the owner reads and updates it from one thread.
  std::vector<std::unique_ptr<OrvaneDevice>> devices_;
  WnEvent messageEvent_;
  WnEvent notificationEvent_;
  char16_t linkName_[ORVANE_LINK_NAME_CHARS]{};
};
