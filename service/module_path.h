#pragma once
// The program's own full path, as a service registers it.

#include <cstddef>
#include <cstdint>

class ModulePath {
 public:
  static constexpr size_t kPathChars = 260;

  // Reads the path; 0, or 122 (ERROR_INSUFFICIENT_BUFFER) when it does not
  // fit 259 characters, or the system error.
  uint32_t read();
  const char16_t* fullPath() const { return fullPath_; }

 private:
  char16_t fullPath_[kPathChars] = {};
};
