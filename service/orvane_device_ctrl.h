#pragma once
// A device connection of the service's server: the hooks the server calls
// around streaming engine transitions and on the kernel driver's device
// notifications. The base implementation does nothing; the service's own
// device class (CustomDevice) fills them in.

#include <cstdint>
#include <string>

#include "device-access/orvane_device.h"

class OrvaneDeviceCtrl : public OrvaneDevice {
 public:
  OrvaneDeviceCtrl();
  ~OrvaneDeviceCtrl() override;

  uint32_t onOpened() override;
  // The name of the device's settings key: its serial number.
  virtual std::u16string getSettingsKeyName();
  virtual uint32_t beforeTransition(uint32_t from, uint32_t to, uint32_t rate);
  virtual void afterTransition(uint32_t from, uint32_t to, uint32_t rate);
  virtual void transitionFailed(uint32_t from, uint32_t to, uint32_t status);
  virtual void onMixerOutputsChanged();
  virtual void onCaptureVolumeChanged(uint32_t soundDeviceIndex);
  virtual void onRenderVolumeChanged(uint32_t soundDeviceIndex);
  virtual uint32_t onDsdMode(uint8_t flag);
  virtual uint32_t canStart();
};
