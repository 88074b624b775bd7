#include "device-access/orvane_device.h"

#include "device-access/copy_text.h"

OrvaneDevice::OrvaneDevice() = default;

OrvaneDevice::~OrvaneDevice() { close(); }

uint32_t OrvaneDevice::onOpened() { return 0; }

uint32_t OrvaneDevice::openDevice(const char16_t* name, const ORVANE_DEVICE_INFO& info) {
  copyText(linkName_, name, ORVANE_LINK_NAME_CHARS);
  info_ = info;
  uint32_t status = open(name);
  if (status != 0) return status;
  status = ioctlAttachDevice(info_.deviceId);
  if (status == 0) status = onOpened();
  if (status != 0) close();
  return status;
}
