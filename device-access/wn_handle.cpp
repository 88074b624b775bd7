#include "device-access/wn_handle.h"

#include "platform/errors.h"

WnHandle::~WnHandle() { closeHandle(); }

void WnHandle::closeHandle() {
  if (handle_ != nullptr) {
    if (!platform::closeHandle(handle_)) (void)platform::lastError();
    handle_ = nullptr;
  }
}
