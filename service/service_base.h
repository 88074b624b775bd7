#pragma once
// The generic service framework: a service that installs, removes, starts and
// stops itself through the service control manager, registers its control
// handler, reports its status and learns of device interface arrivals, as a
// service (status handle notifications) or in console mode (a hidden window).

#include <cstdint>

#include "device-access/device_notification_list.h"
#include "device-access/wn_event.h"
#include "platform/guid.h"
#include "platform/services.h"
#include "service/wn_pnp_notificator.h"
#include "service/wn_service.h"

class ServiceBase {
 public:
  ServiceBase();
  virtual ~ServiceBase();
  ServiceBase(const ServiceBase&) = delete;
  ServiceBase& operator=(const ServiceBase&) = delete;

  virtual const char16_t* getServiceName() = 0;
  virtual const char16_t* getDisplayName() = 0;
  virtual const char16_t* getDescription() = 0;
  virtual platform::ServiceMainFunction getServiceMain() = 0;
  virtual int runConsole() = 0;
  // A device event (arrival or removal) of a registered interface class. Nothing here.
  virtual void onDeviceEvent(uint32_t eventType, const void* eventData);
  // Stop and shutdown request the stop; device events go to onDeviceEvent.
  // Every control returns 0.
  virtual uint32_t onControl(uint32_t control, uint32_t eventType, void* eventData);

  // Each returns 0 or the system error.
  uint32_t installService();
  uint32_t uninstallService();
  uint32_t startService();
  // Sends the stop control and waits, at most 50 × 100 ms, for SERVICE_STOPPED
  // (1460 when it does not come).
  uint32_t stopService();

  // Reports a status while the control handler is registered (true otherwise);
  // false when the report fails.
  bool setStatus(uint32_t state, uint32_t waitHint = 0, uint32_t checkPoint = 0, uint32_t win32ExitCode = 0,
                 uint32_t serviceExitCode = 0);
  bool registerControlHandler();
  uint32_t registerServiceNotification(const platform::Guid& interfaceClass);
  uint32_t registerWindowNotification(const platform::Guid& interfaceClass);
  // Withdraws the device notifications and signals the stop event.
  void requestStop();

  // The body of a console mode thread: runConsole.
  uint32_t runConsoleThread() { return static_cast<uint32_t>(runConsole()); }

 protected:
  platform::Handle stopEvent() const { return stopEvent_.handle(); }
  platform::ServiceStatusHandle statusHandle() const { return service_.statusHandle(); }

 private:
  static uint32_t controlHandler(uint32_t control, uint32_t eventType, void* eventData, void* context);

  WnService service_;
  WnServiceCallbackForwarderT<ServiceBase> controlForwarder_;
  DeviceNotificationList serviceNotifications_;
  const uint32_t serviceType_ = platform::SERVICE_WIN32_OWN_PROCESS;
  const uint32_t acceptedControls_ = platform::SERVICE_ACCEPT_STOP | platform::SERVICE_ACCEPT_SHUTDOWN;
  WnEvent stopEvent_;
  WnPnPNotificator notificator_;
  WnPnPNotificatorCallbackForwarderT<ServiceBase> notificatorForwarder_;
};
