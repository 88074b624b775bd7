#pragma once
// An event owned by one object. Its users set and reset it with the system's
// calls on handle(); create() makes the unsignalled, unnamed event.

#include <cstdint>

#include "device-access/wn_handle.h"

class WnEvent : public WnHandle {
 public:
  // Closes a held event, then creates an auto-reset or manual-reset event.
  // Returns 0 or the system error.
  uint32_t create(bool manualReset);
};
