#include "service/orvane_device_ctrl.h"

#include "platform/text.h"

OrvaneDeviceCtrl::OrvaneDeviceCtrl() = default;
OrvaneDeviceCtrl::~OrvaneDeviceCtrl() = default;

uint32_t OrvaneDeviceCtrl::onOpened() { return 0; }
std::u16string OrvaneDeviceCtrl::getSettingsKeyName() {
  const char16_t* serial = info().serialNumber;
  return std::u16string(serial, platform::wideLength(serial, ORVANE_SERIAL_NUMBER_CHARS));
}
uint32_t OrvaneDeviceCtrl::beforeTransition(uint32_t, uint32_t, uint32_t) { return 0; }
void OrvaneDeviceCtrl::afterTransition(uint32_t, uint32_t, uint32_t) {}
void OrvaneDeviceCtrl::transitionFailed(uint32_t, uint32_t, uint32_t) {}
void OrvaneDeviceCtrl::onMixerOutputsChanged() {}
void OrvaneDeviceCtrl::onCaptureVolumeChanged(uint32_t) {}
void OrvaneDeviceCtrl::onRenderVolumeChanged(uint32_t) {}
uint32_t OrvaneDeviceCtrl::onDsdMode(uint8_t) { return 0; }
uint32_t OrvaneDeviceCtrl::canStart() { return 0; }
