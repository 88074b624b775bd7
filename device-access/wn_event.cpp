#include "device-access/wn_event.h"

#include "platform/errors.h"
#include "platform/events.h"

uint32_t WnEvent::create(bool manualReset) {
  closeHandle();
  handle_ = platform::createEvent(manualReset, false);
  return handle_ != nullptr ? platform::ERROR_SUCCESS : platform::lastError();
}
