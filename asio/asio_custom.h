#pragma once
// Everything product-specific of the ASIO driver: its name, the kernel
// driver's device link it opens, and how it opens the control panel.

#include "platform/asio/asio_interface.h"

class AsioCustom {
 public:
  virtual ~AsioCustom() = default;

  virtual const char16_t* driverName() const;      // "SorvikUSB ASIO Driver"
  virtual const char16_t* deviceLinkName() const;  // the ASIO device link
  // Starts the control panel program from `directory` (the driver file's
  // drive and directory, ending with a separator) with "-asio". 0 whether or
  // not it could be started.
  virtual ASIOError openControlPanel(void* moduleHandle, const char16_t* directory);
};
