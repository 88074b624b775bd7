#include "device-access/wn_thread.h"

#include "platform/errors.h"
#include "platform/threads.h"
#include "platform/waits.h"

uint32_t WnThread::start(WnThreadCallbackInterface* callback, size_t stackSize, uint32_t creationFlags) {
  if (handle_ != nullptr) return platform::ERROR_ALREADY_EXISTS;
  if (callback == nullptr) return platform::ERROR_INVALID_PARAMETER;
  handle_ = platform::createThread(stackSize, [callback] { return callback->run(); }, creationFlags, &threadId_);
  if (handle_ == nullptr) {
    threadId_ = 0;
    return platform::lastError();
  }
  return platform::ERROR_SUCCESS;
}

uint32_t WnThread::wait(uint32_t milliseconds) {
  if (handle_ == nullptr) return platform::ERROR_SUCCESS;
  const uint32_t result = platform::waitForSingle(handle_, milliseconds);
  if (result != platform::WAIT_OBJECT_0) return result;
  closeHandle();
  threadId_ = 0;
  return platform::ERROR_SUCCESS;
}
