#include "service/module_path.h"

#include <algorithm>
#include <string>

#include "platform/errors.h"
#include "platform/process.h"

uint32_t ModulePath::read() {
  std::u16string path;
  if (const uint32_t error = platform::programPath(path); error != 0) return error;
  const size_t length = std::min(path.size(), kPathChars - 1);
  std::copy_n(path.data(), length, fullPath_);
  fullPath_[length] = 0;
  return path.size() < kPathChars ? 0 : platform::ERROR_INSUFFICIENT_BUFFER;
}
