#pragma once
// What DriverControlClient asks of its owner, the monitor dialog.

#include <string>

class CTernokApiInterface {
 public:
  virtual ~CTernokApiInterface() = default;
  // Called on the notification thread after each control-change event.
  virtual void OnControlChange() = 0;
  // The description of the driver's device, compared exactly.
  virtual std::u16string GetDeviceDescription() = 0;
};
