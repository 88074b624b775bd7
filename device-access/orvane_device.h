#pragma once
// A connection attached to one connected device. Device connections live in
// their driver connection's list (OrvaneDriver), which creates, refreshes and
// destroys them; each has its own handle on the driver's device link.

#include <cstddef>
#include <cstdint>

#include "device-access/orvane_api_context.h"
#include "device-access/orvane_records.h"

class OrvaneDriver;

// Capacity of a connection's link name, terminator included.
inline constexpr size_t ORVANE_LINK_NAME_CHARS = 100;

class OrvaneDevice : public OrvaneApiContext {
 public:
  OrvaneDevice();
  ~OrvaneDevice() override;

  // Runs after the connection has been attached to its device; a non-zero
  // status makes openDevice fail. The base returns 0.
  virtual uint32_t onOpened();

  // Opens `name` (at most 99 characters are kept), attaches the connection to
  // the device that `info` names, then runs onOpened. On failure the
  // connection is closed and the failing status returned.
  uint32_t openDevice(const char16_t* name, const ORVANE_DEVICE_INFO& info);

  const ORVANE_DEVICE_INFO& info() const { return info_; }
  const ORVANE_DEVICE_ID& deviceId() const { return info_.deviceId; }
  const char16_t* linkName() const { return linkName_; }

 private:
  friend class OrvaneDriver;  // refreshes the info when the device is listed again

  ORVANE_DEVICE_INFO info_{};
  char16_t linkName_[ORVANE_LINK_NAME_CHARS]{};
};
