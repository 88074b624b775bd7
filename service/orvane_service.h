#pragma once
// The device control service: a ServiceBase that owns the server
// (CustomServer), takes its names from it, holds the single-instance lock and
// signals the server loop's arrival event on device interface arrivals.

#include <cstdint>
#include <memory>

#include "device-access/wn_event.h"
#include "device-access/wn_mutex.h"
#include "service/custom_server.h"
#include "service/service_base.h"

class OrvaneService : public ServiceBase {
 public:
  // The program's single service object: the one that getServiceMain's entry
  // function runs. Set by the constructor, cleared by the destructor.
  OrvaneService();
  ~OrvaneService() override;

  const char16_t* getServiceName() override;
  const char16_t* getDisplayName() override;
  const char16_t* getDescription() override;
  platform::ServiceMainFunction getServiceMain() override;
  int runConsole() override;
  // Arrivals signal the arrival event; every other event is ignored.
  void onDeviceEvent(uint32_t eventType, const void* eventData) override;

  // The service's main function under the service control manager.
  void serviceMain(uint32_t argumentCount, char16_t** arguments);

  // Takes the mutex "<service name>-<interface GUID>": 0, 183 when another
  // instance holds it, or the error of its creation.
  uint32_t acquireInstanceLock();
  void releaseInstanceLock();

  CustomServer& server() { return *server_; }

 private:
  static void serviceMainEntry(uint32_t argumentCount, char16_t** arguments);

  std::unique_ptr<CustomServer> server_;
  WnMutex instanceLock_;
  WnEvent arrivalEvent_;
};
