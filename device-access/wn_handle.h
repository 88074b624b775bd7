#pragma once
// Owner of one system handle; closes it when destroyed.

#include "platform/handles.h"

class WnHandle {
 public:
  WnHandle() = default;
  virtual ~WnHandle();
  WnHandle(const WnHandle&) = delete;
  WnHandle& operator=(const WnHandle&) = delete;

  // Closes a held handle (a failure is read and discarded) and clears the field.
  void closeHandle();
  platform::Handle handle() const { return handle_; }

 protected:
  platform::Handle handle_ = nullptr;
};
