#pragma once
// Device interface notifications for a program without a service status
// handle (the console mode): a thread with a hidden window registered for
// device interface classes; arrivals and removals reach a callback from the
// window's message loop.
//
// The window is this platform's stand-in: an object that receives the
// window messages of its thread (WM_DEVICECHANGE from the device
// notifications, WM_CLOSE posted by stop) in the thread's alertable waits.

#include <cstdint>
#include <memory>
#include <string>

#include "device-access/device_notification_list.h"
#include "device-access/wn_event.h"
#include "device-access/wn_thread.h"
#include "platform/critical_section.h"
#include "platform/guid.h"

inline constexpr uint32_t WM_DESTROY = 0x0002;
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_QUIT = 0x0012;

class WnPnPNotificatorCallbackInterface {
 public:
  // eventType is DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE; `header` is the
  // device interface broadcast record, valid for the call.
  virtual void onDeviceChange(uint32_t eventType, const uint8_t* header) = 0;

 protected:
  ~WnPnPNotificatorCallbackInterface() = default;
};

// Forwards onDeviceChange to a member of its owner while an owner is set.
template <typename Owner>
class WnPnPNotificatorCallbackForwarderT final : public WnPnPNotificatorCallbackInterface {
 public:
  using Method = void (Owner::*)(uint32_t, const void*);
  WnPnPNotificatorCallbackForwarderT(Owner* owner, Method method) : owner_(owner), method_(method) {}
  void setOwner(Owner* owner) { owner_ = owner; }
  void onDeviceChange(uint32_t eventType, const uint8_t* header) override {
    if (owner_ != nullptr) (owner_->*method_)(eventType, header);
  }

 private:
  Owner* owner_;
  Method method_;
};

class WnPnPNotificator : public WnThreadCallbackInterface {
 public:
  WnPnPNotificator();
  virtual ~WnPnPNotificator();  // stop without a time limit
  WnPnPNotificator(const WnPnPNotificator&) = delete;
  WnPnPNotificator& operator=(const WnPnPNotificator&) = delete;

  // Starts the thread and its window. 87 for a null callback, 1247 when
  // started already, 1460 when the window is not ready within 10 s, the
  // window's creation error, or the thread's. A null module is the program.
  uint32_t start(WnPnPNotificatorCallbackInterface* callback, const void* module);
  // Closes the window, waits for the thread up to `timeout` ms, then withdraws
  // the registrations. Returns the wait's result (0 when the thread ended).
  uint32_t stop(uint32_t timeout);
  // Registers the window for device interfaces of `interfaceClass`; 13 when
  // not started.
  uint32_t registerInterface(const platform::Guid& interfaceClass);

  // The thread body: creates the window and runs its message loop.
  uint32_t run() override;
  // The window's messages: WM_DEVICECHANGE (arrivals and removals of device
  // interfaces go to the callback), WM_DESTROY (ends the loop), the rest to
  // the default handling (WM_CLOSE destroys the window).
  virtual intptr_t windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

  class HiddenWindow;

 private:
  platform::CriticalSection lock_;
  bool started_ = false;
  const void* module_ = nullptr;
  std::shared_ptr<HiddenWindow> window_;
  WnPnPNotificatorCallbackInterface* callback_ = nullptr;
  WnThread thread_;
  WnEvent ready_;
  uint32_t windowResult_ = 0;
  DeviceNotificationList notifications_;
};
