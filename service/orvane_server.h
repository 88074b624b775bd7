#pragma once
// The server of the USB audio kernel driver: the one registered connection
// that carries out every change needing the streaming engine stopped and
// restarted. Its loop (run) waits for the stop and arrival events and the
// connection's message and notification events, answers request messages,
// reacts to the kernel driver's notifications, drives the streaming engine
// and keeps one device connection (OrvaneDeviceCtrl) per connected device.

#include <cstdint>
#include <functional>
#include <memory>

#include "device-access/orvane_driver.h"
#include "device-access/orvane_records.h"
#include "platform/guid.h"
#include "platform/handles.h"
#include "service/orvane_device_ctrl.h"

class OrvaneServer : public OrvaneDriver {
 public:
  OrvaneServer();
  ~OrvaneServer() override;

  std::unique_ptr<OrvaneDevice> createDevice() override;
  virtual const char16_t* getServiceName();
  virtual const char16_t* getDisplayName();
  virtual const char16_t* getDescription();
  virtual void getInterfaceGuid(platform::Guid& guid);
  virtual const char16_t* getInterfaceGuidString();
  virtual const char16_t* getRegistryRoot();
  virtual void onDeviceListChanged();
  virtual uint32_t onRequest(const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response);
  virtual uint32_t onCustomRequest(const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response);
  virtual uint32_t setSampleRate(uint32_t rate);
  virtual uint32_t setBufferSizes(const ORVANE_BUFFER_SETTINGS& settings);
  virtual uint32_t setStreamingDevice(const ORVANE_STREAMING_DEVICE_SELECTION& selection);
  virtual uint32_t setDsdMode(uint8_t flag);
  virtual void onNotification(const ORVANE_MESSAGE& message);
  virtual void onOtherNotification(const ORVANE_MESSAGE& message);
  virtual void onNotify3003();
  virtual void onNotify3004();
  virtual void onNotify3006();
  virtual void onNotify3005();
  virtual void onNotify3015(uint32_t first, uint32_t second);
  virtual void onNotify3016(uint32_t first, uint32_t second);
  virtual void onNotify3020();
  virtual void onNotify3051(uint32_t first, uint32_t second);
  virtual void onNotify3060(const ORVANE_VOLUME_CHANGE& change);
  virtual bool isStreamingWanted(const ORVANE_STREAMING_STATUS& status);
  virtual uint32_t broadcastBeforeTransition(uint32_t from, uint32_t to, uint32_t rate);
  virtual void broadcastAfterTransition(uint32_t from, uint32_t to, uint32_t rate);
  virtual void broadcastTransitionFailed(uint32_t from, uint32_t to, uint32_t status);
  virtual uint32_t broadcastCanStart();

  // The server loop; returns when the stop event is signalled, when a wait
  // gives an unexpected result, or at once when another server is registered.
  void run(platform::Handle stopEvent, platform::Handle arrivalEvent);

  uint32_t connect(const char16_t* linkName);
  void disconnect();
  bool isConnected() const { return isOpen(); }

  void drainRequests();
  void drainNotifications();
  uint32_t notify(uint32_t code);

  uint32_t bringUp();
  uint32_t bringDown();
  uint32_t stopIfUnused();

 protected:
  // Copies a request's payload into a record of the size the request has: a
  // longer payload is refused with ORVANE_STATUS_INVALID_LENGTH, a shorter
  // one with ORVANE_STATUS_INVALID_MSG_SIZE.
  static uint32_t requestPayload(const ORVANE_MESSAGE& request, void* record, uint32_t size);
  template <typename Record>
  static uint32_t requestPayload(const ORVANE_MESSAGE& request, Record& record) {
    return requestPayload(request, &record, sizeof record);
  }

  // The device controller of the list with that identifier, or null.
  OrvaneDeviceCtrl* findDeviceCtrl(uint32_t first, uint32_t second) const;

 private:
  // Every device connection of the list that is a device controller, in list order.
  template <typename Visit>
  void forEachDeviceCtrl(Visit visit) const;
  // Sends a command and reports a failure to the controllers as the table says.
  uint32_t transition(uint32_t command, uint32_t from, uint32_t to, uint32_t rate, bool abortOnHook);
  uint32_t refuseIfInUse(ORVANE_STREAMING_STATUS& status);
  // One step of bringing the engine up or down: done (with the status to
  // return), or a command sent (its status; the state is read again).
  struct EngineStep {
    bool done = false;
    uint32_t status = 0;
  };
  // Reads the state and takes steps until one is done or fails; Error and
  // Unsupported are recovered (command 1), Undefined and unknown states give
  // ORVANE_STATUS_INVALID_STATE, and so does a 16th step.
  uint32_t driveEngine(const std::function<EngineStep(const ORVANE_STREAMING_STATUS&)>& step);
  // Brings the engine down, makes the change, brings it up again and sends
  // 3010 (also when the engine did not come down). The change's status, else
  // the bring-up's.
  uint32_t changeWhileDown(const std::function<uint32_t()>& change);

  bool disconnectPending_ = false;
};
