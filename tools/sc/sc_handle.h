#pragma once
// An open service control manager handle (manager or service) of a tool,
// closed at the end of its scope.

#include "platform/services.h"

class ScHandle {
 public:
  explicit ScHandle(platform::ServiceHandle handle = nullptr) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) platform::closeServiceHandle(handle_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  platform::ServiceHandle get() const { return handle_; }

 private:
  platform::ServiceHandle handle_;
};
