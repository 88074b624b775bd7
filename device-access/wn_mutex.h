#pragma once
// A mutex owned by one object; a named one serves as a single-instance check.

#include <cstdint>

#include "device-access/wn_handle.h"

class WnMutex : public WnHandle {
 public:
  // Closes a held mutex, then creates one. Unnamed: 0 on success. Named: the
  // system's last error even on success, so 183 tells that another process
  // holds a mutex of that name (the handle is held all the same). On failure
  // the system error. The security attributes are accepted and not used.
  uint32_t create(const void* securityAttributes, bool initiallyOwned, const char16_t* name);
};
