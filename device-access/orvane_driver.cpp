#include "device-access/orvane_driver.h"

#include <algorithm>
#include <cstdint>

#include "device-access/copy_text.h"
#include "device-access/orvane_status.h"

namespace {

uint64_t handleSlot(platform::Handle handle) { return reinterpret_cast<uintptr_t>(handle); }

// Serial numbers compare as 16-bit characters up to the terminator, never
// beyond the field.
bool sameSerialNumber(const ORVANE_DEVICE_INFO& a, const ORVANE_DEVICE_INFO& b) {
  for (size_t i = 0; i < ORVANE_SERIAL_NUMBER_CHARS; ++i) {
    if (a.serialNumber[i] != b.serialNumber[i]) return false;
    if (a.serialNumber[i] == 0) return true;
  }
  return true;
}

bool sameDevice(const ORVANE_DEVICE_INFO& a, const ORVANE_DEVICE_INFO& b) {
  return a.vendorId == b.vendorId && a.productId == b.productId && sameSerialNumber(a, b);
}

}  // namespace

OrvaneDriver::OrvaneDriver() = default;

OrvaneDriver::~OrvaneDriver() {
  closeDriver();
  devices_.clear();
}

std::unique_ptr<OrvaneDevice> OrvaneDriver::createDevice() { return std::make_unique<OrvaneDevice>(); }

uint32_t OrvaneDriver::createEventIfWanted(bool wanted, WnEvent& event) {
  if (!wanted || event.handle() != nullptr) return 0;
  return event.create(false);
}

uint32_t OrvaneDriver::openDriver(const char16_t* name, bool wantMessageEvent, bool wantNotificationEvent) {
  uint32_t status = open(name);
  if (status != 0) return status;
  copyText(linkName_, name, ORVANE_LINK_NAME_CHARS);

  status = createEventIfWanted(wantMessageEvent, messageEvent_);
  if (status == 0) status = createEventIfWanted(wantNotificationEvent, notificationEvent_);
  if (status == 0) {
    ORVANE_EVENT_HANDLES events{};
    if (wantMessageEvent) events.messageEvent = handleSlot(messageEvent_.handle());
    if (wantNotificationEvent) events.notificationEvent = handleSlot(notificationEvent_.handle());
    status = ioctlSetEvents(events);
  }
  if (status != 0) close();
  return status;
}

void OrvaneDriver::closeDriver() {
  (void)ioctlSetEvents(ORVANE_EVENT_HANDLES{});
  close();
  messageEvent_.closeHandle();
  notificationEvent_.closeHandle();
}

uint32_t OrvaneDriver::openConnection(const char16_t* name, uint32_t clientType, bool withEvents) {
  if (isOpen()) return 0;
  uint32_t status = openDriver(name, withEvents, withEvents);
  if (status != 0) return status;
  status = ioctlRegisterClient(clientType);
  if (status != 0) closeDriver();
  return status;
}

uint32_t OrvaneDriver::readNextNotification(ORVANE_MESSAGE& message) {
  for (;;) {
    const uint32_t status = ioctlReadNotification(message);
    if (status != 0) return status;
    if (message.kind == ORVANE_MSG_NOTIFICATION) return 0;
  }
}

uint32_t OrvaneDriver::drainNotifications() {
  ORVANE_MESSAGE message;
  uint32_t status = 0;
  do {
    status = ioctlReadNotification(message);
  } while (status == 0);
  return status == ORVANE_STATUS_NO_MORE_ITEMS ? 0 : status;
}

std::unique_ptr<OrvaneDevice> OrvaneDriver::takeMatchingDevice(std::vector<std::unique_ptr<OrvaneDevice>>& candidates,
                                                               const ORVANE_DEVICE_INFO& entry) {
  const auto match = std::find_if(candidates.begin(), candidates.end(),
                                  [&](const auto& device) { return sameDevice(device->info_, entry); });
  if (match == candidates.end()) return nullptr;
  std::unique_ptr<OrvaneDevice> device = std::move(*match);
  candidates.erase(match);
  return device;
}

uint32_t OrvaneDriver::refreshDevice(OrvaneDevice& device, const ORVANE_DEVICE_INFO& entry) {
  const bool identifierChanged = !(device.info_.deviceId == entry.deviceId);
  device.info_ = entry;
  // A device plugged in again may come back under a new identifier; the
  // kernel driver applies the connection's requests to the identifier it
  // was attached to, so it follows the device.
  return identifierChanged ? device.ioctlAttachDevice(entry.deviceId) : 0;
}

uint32_t OrvaneDriver::updateDeviceList(bool& changed) {
  changed = false;
  std::vector<std::unique_ptr<OrvaneDevice>> previous = std::move(devices_);
  devices_.clear();

  ORVANE_DEVICE_LIST list;
  const uint32_t status = ioctlGetDeviceList(list);
  if (status == 0) {
    for (uint32_t i = 0; i < list.count; ++i) {
      const ORVANE_DEVICE_INFO& entry = list.devices[i];
      std::unique_ptr<OrvaneDevice> device = takeMatchingDevice(previous, entry);
      if (device && refreshDevice(*device, entry) != 0) {
        device.reset();  // no longer attached: replaced by a new connection below
        changed = true;
      }
      if (!device) {
        device = createDevice();
        if (!device) continue;
        if (device->openDevice(linkName_, entry) != 0) continue;  // tried again at the next update
        changed = true;
      }
      devices_.push_back(std::move(device));
    }
  }

  if (!previous.empty()) changed = true;
  previous.clear();
  return status;
}

OrvaneDevice* OrvaneDriver::deviceAt(size_t position) const {
  return position < devices_.size() ? devices_[position].get() : nullptr;
}

OrvaneDevice* OrvaneDriver::findDevice(uint32_t first, uint32_t second) const {
  const ORVANE_DEVICE_ID wanted{first, second};
  for (const auto& device : devices_) {
    if (device->deviceId() == wanted) return device.get();
  }
  return nullptr;
}
