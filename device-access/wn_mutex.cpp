#include "device-access/wn_mutex.h"

#include "platform/errors.h"
#include "platform/mutexes.h"

uint32_t WnMutex::create(const void* /*securityAttributes*/, bool initiallyOwned, const char16_t* name) {
  closeHandle();
  handle_ = platform::createMutex(initiallyOwned, name);
  if (handle_ == nullptr) return platform::lastError();
  const bool named = name != nullptr && *name != u'\0';
  return named ? platform::lastError() : platform::ERROR_SUCCESS;
}
