#pragma once
// Wrappers of the service control manager's handles: the status handle of a
// running service (WnService), the manager and service handles
// (WnServiceCtrlHandle, WnServiceCtrlMgr, WnServiceCtrl), and the control
// callback interface with its forwarder.

#include <cstdint>

#include "platform/services.h"

// A service's control handler.
class WnServiceCallbackInterface {
 public:
  virtual uint32_t onServiceControl(uint32_t control, uint32_t eventType, void* eventData) = 0;

 protected:
  ~WnServiceCallbackInterface() = default;
};

// Forwards onServiceControl to a member function of its owner. Embedded in
// the owner; its address is the context of the handler registration.
template <typename Owner>
class WnServiceCallbackForwarderT final : public WnServiceCallbackInterface {
 public:
  using Method = uint32_t (Owner::*)(uint32_t, uint32_t, void*);
  WnServiceCallbackForwarderT(Owner* owner, Method method) : owner_(owner), method_(method) {}
  uint32_t onServiceControl(uint32_t control, uint32_t eventType, void* eventData) override {
    return (owner_->*method_)(control, eventType, eventData);
  }

 private:
  Owner* owner_;
  Method method_;
};

// The status handle of a running service; null before its control handler is registered.
class WnService {
 public:
  platform::ServiceStatusHandle statusHandle() const { return statusHandle_; }
  void setStatusHandle(platform::ServiceStatusHandle handle) { statusHandle_ = handle; }

 private:
  platform::ServiceStatusHandle statusHandle_ = nullptr;
};

// Owns one manager or service handle and closes it when destroyed or reassigned.
class WnServiceCtrlHandle {
 public:
  WnServiceCtrlHandle() = default;
  virtual ~WnServiceCtrlHandle();
  WnServiceCtrlHandle(const WnServiceCtrlHandle&) = delete;
  WnServiceCtrlHandle& operator=(const WnServiceCtrlHandle&) = delete;

  platform::ServiceHandle handle() const { return handle_; }
  void close();

 protected:
  // Closes a held handle and keeps `handle`; 0, or the last error when it is null.
  uint32_t assign(platform::ServiceHandle handle);

 private:
  platform::ServiceHandle handle_ = nullptr;
};

class WnServiceCtrlMgr : public WnServiceCtrlHandle {
 public:
  // The local machine's active database with all access. 0 or the error.
  uint32_t open();
};

class WnServiceCtrl : public WnServiceCtrlHandle {
 public:
  // 0 or the error of the call.
  uint32_t create(const WnServiceCtrlMgr& manager, const char16_t* serviceName, const char16_t* displayName,
                  uint32_t access, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                  const char16_t* binaryPathName, const char16_t* loadOrderGroup, const char16_t* dependencies,
                  const char16_t* account, const char16_t* password);
  uint32_t open(const WnServiceCtrlMgr& manager, const char16_t* serviceName, uint32_t access);
};
