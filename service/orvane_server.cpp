#include "service/orvane_server.h"

#include <cstring>
#include <functional>

#include "device-access/orvane_message.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_status.h"
#include "platform/errors.h"
#include "platform/threads.h"
#include "platform/waits.h"

namespace {

constexpr platform::Guid kInterfaceGuid = {0xBC1AFE28, 0x22BD, 0x4DFC, {0x82, 0x1B, 0x51, 0x30, 0x6F, 0x8D, 0x0D, 0x1D}};

// How many state changes one bring-up or bring-down may take. A kernel driver
// whose engine never reaches the wanted state would otherwise keep the
// worker, at time-critical priority, in the loop for ever.
constexpr int kMaxTransitions = 16;
// A wait that fails is tried again after this pause rather than at once.
constexpr uint32_t kFailedWaitPauseMs = 10;

uint32_t word(const ORVANE_STREAMING_STATUS& status, size_t offset) {
  uint32_t value;
  std::memcpy(&value, reinterpret_cast<const uint8_t*>(&status) + offset, sizeof value);
  return value;
}

bool isStreamingState(uint32_t state) {
  return state == ORVANE_STREAMING_STATE_PREPARED || state == ORVANE_STREAMING_STATE_RUNNING;
}

}  // namespace

OrvaneServer::OrvaneServer() = default;
OrvaneServer::~OrvaneServer() = default;

std::unique_ptr<OrvaneDevice> OrvaneServer::createDevice() { return std::make_unique<OrvaneDeviceCtrl>(); }
const char16_t* OrvaneServer::getServiceName() { return u"quintorsvc"; }
const char16_t* OrvaneServer::getDisplayName() { return u"Quintor Control"; }
const char16_t* OrvaneServer::getDescription() { return u"Quintor control service"; }
void OrvaneServer::getInterfaceGuid(platform::Guid& guid) { guid = kInterfaceGuid; }
const char16_t* OrvaneServer::getInterfaceGuidString() { return u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"; }
const char16_t* OrvaneServer::getRegistryRoot() { return u"Software\\tarnvale\\QUINTOR"; }

template <typename Visit>
void OrvaneServer::forEachDeviceCtrl(Visit visit) const {
  for (size_t i = 0; i < deviceCount(); ++i) {
    if (auto* device = dynamic_cast<OrvaneDeviceCtrl*>(deviceAt(i))) {
      if (!visit(*device)) return;
    }
  }
}

OrvaneDeviceCtrl* OrvaneServer::findDeviceCtrl(uint32_t first, uint32_t second) const {
  OrvaneDeviceCtrl* found = nullptr;
  const ORVANE_DEVICE_ID wanted{first, second};
  forEachDeviceCtrl([&](OrvaneDeviceCtrl& device) {
    if (device.deviceId() == wanted) found = &device;
    return found == nullptr;
  });
  return found;
}

// ---------------------------------------------------------------------------
// The loop

void OrvaneServer::run(platform::Handle stopEvent, platform::Handle arrivalEvent) {
  platform::setCurrentThreadPriority(platform::THREAD_PRIORITY_TIME_CRITICAL);
  const char16_t* name = getInterfaceGuidString();
  if (!isConnected() && connect(name) == ORVANE_STATUS_ALREADY_DONE) return;
  if (isConnected()) {
    bool changed = false;
    (void)updateDeviceList(changed);
    onDeviceListChanged();
  }
  for (bool running = true; running;) {
    const platform::Handle handles[] = {stopEvent, arrivalEvent, messageEvent(), notificationEvent()};
    const uint32_t count = isConnected() ? 4 : 2;
    const uint32_t result = platform::waitForMultiple(count, handles, platform::INFINITE, true);
    switch (result) {
      case platform::WAIT_OBJECT_0:
        running = false;
        break;
      case platform::WAIT_OBJECT_0 + 1:
        if (!isConnected()) (void)connect(name);
        if (isConnected()) {
          bool changed = false;
          (void)updateDeviceList(changed);
          if (changed) onDeviceListChanged();
        }
        break;
      case platform::WAIT_OBJECT_0 + 2:
        if (isConnected()) drainRequests();
        break;
      case platform::WAIT_OBJECT_0 + 3:
        if (isConnected()) drainNotifications();
        break;
      case platform::WAIT_IO_COMPLETION:
        break;
      case platform::WAIT_FAILED:
        platform::sleepMs(kFailedWaitPauseMs);
        break;
      default:
        running = false;
        break;
    }
    if (disconnectPending_) {
      disconnectPending_ = false;
      disconnect();
    }
  }
}

uint32_t OrvaneServer::connect(const char16_t* linkName) {
  uint32_t status = openDriver(linkName, true, true);
  if (status != 0) return status;
  status = ioctlRegisterClient(ORVANE_CLIENT_TYPE_SERVER);
  if (status != 0) disconnect();
  return status;
}

void OrvaneServer::disconnect() { closeDriver(); }

void OrvaneServer::drainRequests() {
  ORVANE_MESSAGE request;
  while (ioctlReadMessage(request) == 0) {
    if (request.kind != ORVANE_MSG_REQUEST) continue;
    ORVANE_MESSAGE response = makeResponse(request, ORVANE_STATUS_INVALID_COMMAND);
    const uint32_t result = onRequest(request, response);
    if (result == ORVANE_STATUS_PENDING) continue;
    response.result = result;
    (void)ioctlSendMessage(response);
  }
}

void OrvaneServer::drainNotifications() {
  ORVANE_MESSAGE message;
  while (ioctlReadNotification(message) == 0) {
    if (message.kind == ORVANE_MSG_NOTIFICATION) onNotification(message);
  }
}

uint32_t OrvaneServer::notify(uint32_t code) {
  ORVANE_MESSAGE message;
  initMessage(message, ORVANE_MSG_NOTIFICATION, code);
  return ioctlSendMessage(message);
}

// ---------------------------------------------------------------------------
// Requests

uint32_t OrvaneServer::requestPayload(const ORVANE_MESSAGE& request, void* record, uint32_t size) {
  if (request.payloadLength > size) return ORVANE_STATUS_INVALID_LENGTH;
  if (request.payloadLength < size) return ORVANE_STATUS_INVALID_MSG_SIZE;
  std::memcpy(record, request.payload, size);
  return 0;
}

uint32_t OrvaneServer::onRequest(const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response) {
  switch (request.code) {
    case ORVANE_MSG_CODE_SET_SAMPLE_RATE: {
      uint32_t rate = 0;
      const uint32_t status = requestPayload(request, rate);
      return status != 0 ? status : setSampleRate(rate);
    }
    case ORVANE_MSG_CODE_SET_BUFFER_SIZES: {
      ORVANE_BUFFER_SETTINGS settings{};
      const uint32_t status = requestPayload(request, settings);
      return status != 0 ? status : setBufferSizes(settings);
    }
    case ORVANE_MSG_CODE_SELECT_STREAMING_DEVICE: {
      ORVANE_STREAMING_DEVICE_SELECTION selection{};
      const uint32_t status = requestPayload(request, selection);
      return status != 0 ? status : setStreamingDevice(selection);
    }
    case ORVANE_MSG_CODE_SET_DSD_MODE: {
      uint8_t flag = 0;
      const uint32_t status = requestPayload(request, flag);
      return status != 0 ? status : setDsdMode(flag);
    }
    default:
      return onCustomRequest(request, response);
  }
}

uint32_t OrvaneServer::onCustomRequest(const ORVANE_MESSAGE&, ORVANE_MESSAGE&) { return ORVANE_STATUS_INVALID_COMMAND; }

uint32_t OrvaneServer::refuseIfInUse(ORVANE_STREAMING_STATUS& status) {
  if (const uint32_t result = ioctlGetStreamingStatus(status); result != 0) return result;
  return status.firstUsageCount != 0 || status.secondUsageCount != 0 ? ORVANE_STATUS_SOUND_DEVICE_IN_USE : 0;
}

uint32_t OrvaneServer::changeWhileDown(const std::function<uint32_t()>& change) {
  if (const uint32_t result = bringDown(); result != 0) {
    (void)notify(ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED);
    return result;
  }
  uint32_t result = change();
  const uint32_t up = bringUp();
  if (result == 0) result = up;
  (void)notify(ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED);
  return result;
}

uint32_t OrvaneServer::setSampleRate(uint32_t rate) {
  ORVANE_STREAMING_STATUS status{};
  if (const uint32_t result = ioctlGetStreamingStatus(status); result != 0) return result;
  if (rate == status.sampleRate) return 0;
  if (status.firstUsageCount != 0 || status.secondUsageCount != 0) return ORVANE_STATUS_SOUND_DEVICE_IN_USE;
  (void)ioctlPresetSampleRate(rate);
  bool changed = false;
  const uint32_t result = changeWhileDown([&] {
    changed = true;
    return ioctlSetSampleRate(rate);
  });
  if (changed) (void)notify(ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED);
  return result;
}

uint32_t OrvaneServer::setBufferSizes(const ORVANE_BUFFER_SETTINGS& settings) {
  ORVANE_STREAMING_STATUS status{};
  if (const uint32_t result = refuseIfInUse(status); result != 0) return result;
  return changeWhileDown([&] { return ioctlSetBufferSizes(settings); });
}

uint32_t OrvaneServer::setStreamingDevice(const ORVANE_STREAMING_DEVICE_SELECTION& selection) {
  ORVANE_STREAMING_STATUS status{};
  if (const uint32_t result = refuseIfInUse(status); result != 0) return result;
  return changeWhileDown([&] { return ioctlSetStreamingDevice(selection); });
}

uint32_t OrvaneServer::setDsdMode(uint8_t flag) {
  uint32_t result = 0;
  forEachDeviceCtrl([&](OrvaneDeviceCtrl& device) {
    result = device.onDsdMode(flag);
    return result == 0;
  });
  return result;
}

// ---------------------------------------------------------------------------
// Notifications

void OrvaneServer::onNotification(const ORVANE_MESSAGE& message) {
  ORVANE_DEVICE_ID device{};
  ORVANE_VOLUME_CHANGE change{};
  const bool empty = message.payloadLength == 0;
  switch (message.code) {
    case ORVANE_MSG_CODE_STREAMING_WANTED:
      if (empty) onNotify3003();
      return;
    case ORVANE_MSG_CODE_STREAMING_NOT_WANTED:
      if (empty) onNotify3004();
      return;
    case ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED:
      if (empty) onNotify3005();
      return;
    case ORVANE_MSG_CODE_STREAMING_WANTED_AGAIN:
      if (empty) onNotify3006();
      return;
    case ORVANE_MSG_CODE_DEVICE_STREAMING_WANTED:
      if (getPayload(message, device) == 0) onNotify3015(device.first, device.second);
      return;
    case ORVANE_MSG_CODE_DEVICE_STREAMING_NOT_WANTED:
      if (getPayload(message, device) == 0) onNotify3016(device.first, device.second);
      return;
    case ORVANE_MSG_CODE_DEVICE_LIST_QUERY:
      if (empty) onNotify3020();
      return;
    case ORVANE_MSG_CODE_IGNORED:
      return;
    case ORVANE_MSG_CODE_MIXER_GAINS_CHANGED:
      if (getPayload(message, device) == 0) onNotify3051(device.first, device.second);
      return;
    case ORVANE_MSG_CODE_VOLUME_CHANGED:
      if (getPayload(message, change) == 0) onNotify3060(change);
      return;
    default:
      onOtherNotification(message);
      return;
  }
}

void OrvaneServer::onOtherNotification(const ORVANE_MESSAGE&) {}
void OrvaneServer::onNotify3003() { (void)bringUp(); }
void OrvaneServer::onNotify3004() { (void)stopIfUnused(); }
void OrvaneServer::onNotify3006() { (void)bringUp(); }

void OrvaneServer::onNotify3005() {
  bool changed = false;
  (void)updateDeviceList(changed);
  onDeviceListChanged();
}

void OrvaneServer::onNotify3015(uint32_t, uint32_t) { (void)bringUp(); }
void OrvaneServer::onNotify3016(uint32_t, uint32_t) { (void)stopIfUnused(); }
void OrvaneServer::onNotify3020() { (void)notify(ORVANE_MSG_CODE_DEVICE_LIST_CHANGED); }

void OrvaneServer::onNotify3051(uint32_t first, uint32_t second) {
  if (OrvaneDeviceCtrl* device = findDeviceCtrl(first, second)) device->onMixerOutputsChanged();
}

void OrvaneServer::onNotify3060(const ORVANE_VOLUME_CHANGE& change) {
  OrvaneDeviceCtrl* device = findDeviceCtrl(change.deviceId.first, change.deviceId.second);
  if (device == nullptr) return;
  if (change.direction == ORVANE_SOUND_DEVICE_RECORDING) device->onCaptureVolumeChanged(change.soundDeviceIndex);
  if (change.direction == ORVANE_SOUND_DEVICE_PLAYBACK) device->onRenderVolumeChanged(change.soundDeviceIndex);
}

void OrvaneServer::onDeviceListChanged() {
  if (deviceCount() > 0) {
    (void)bringUp();
  } else {
    disconnectPending_ = true;
  }
  (void)notify(ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED);
  (void)notify(ORVANE_MSG_CODE_DEVICE_LIST_CHANGED);
}

// ---------------------------------------------------------------------------
// The streaming engine

bool OrvaneServer::isStreamingWanted(const ORVANE_STREAMING_STATUS& status) {
  for (const size_t offset : {12u, 16u, 28u, 24u}) {
    if (word(status, offset) != 0) return true;
  }
  return false;
}

uint32_t OrvaneServer::broadcastBeforeTransition(uint32_t from, uint32_t to, uint32_t rate) {
  uint32_t result = 0;
  forEachDeviceCtrl([&](OrvaneDeviceCtrl& device) {
    result = device.beforeTransition(from, to, rate);
    return result == 0;
  });
  return result;
}

void OrvaneServer::broadcastAfterTransition(uint32_t from, uint32_t to, uint32_t rate) {
  forEachDeviceCtrl([&](OrvaneDeviceCtrl& device) {
    device.afterTransition(from, to, rate);
    return true;
  });
}

void OrvaneServer::broadcastTransitionFailed(uint32_t from, uint32_t to, uint32_t status) {
  forEachDeviceCtrl([&](OrvaneDeviceCtrl& device) {
    device.transitionFailed(from, to, status);
    return true;
  });
}

uint32_t OrvaneServer::broadcastCanStart() {
  uint32_t result = 0;
  forEachDeviceCtrl([&](OrvaneDeviceCtrl& device) {
    result = device.canStart();
    return result == 0;
  });
  return result;
}

uint32_t OrvaneServer::transition(uint32_t command, uint32_t from, uint32_t to, uint32_t rate, bool abortOnHook) {
  const uint32_t hook = broadcastBeforeTransition(from, to, rate);
  if (abortOnHook && hook != 0) return hook;
  const uint32_t status = ioctlStreamingControl(command);
  if (status != 0) {
    if (command >= ORVANE_STREAMING_COMMAND_PREPARE) broadcastTransitionFailed(from, to, status);
    return status;
  }
  broadcastAfterTransition(from, to, rate);
  return 0;
}

uint32_t OrvaneServer::driveEngine(const std::function<EngineStep(const ORVANE_STREAMING_STATUS&)>& step) {
  for (int pass = 0; pass < kMaxTransitions; ++pass) {
    ORVANE_STREAMING_STATUS status{};
    if (const uint32_t result = ioctlGetStreamingStatus(status); result != 0) return result;
    EngineStep next;
    if (status.state == ORVANE_STREAMING_STATE_ERROR || status.state == ORVANE_STREAMING_STATE_UNSUPPORTED) {
      next = {false, ioctlStreamingControl(ORVANE_STREAMING_COMMAND_RECOVER)};
    } else if (status.state == ORVANE_STREAMING_STATE_UNDEFINED || status.state > ORVANE_STREAMING_STATE_UNSUPPORTED) {
      next = {true, ORVANE_STATUS_INVALID_STATE};
    } else {
      next = step(status);
    }
    if (next.done || next.status != 0) return next.status;
  }
  return ORVANE_STATUS_INVALID_STATE;
}

uint32_t OrvaneServer::bringUp() {
  if (const uint32_t status = broadcastCanStart(); status != 0) return status;
  return driveEngine([this](const ORVANE_STREAMING_STATUS& status) -> EngineStep {
    const uint32_t rate = status.sampleRate;
    switch (status.state) {
      case ORVANE_STREAMING_STATE_DOWN:
        return {false, transition(ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_STATE_DOWN,
                                  ORVANE_STREAMING_STATE_READY, rate, true)};
      case ORVANE_STREAMING_STATE_READY:
        if (!isStreamingWanted(status)) return {true, 0};
        return {false, transition(ORVANE_STREAMING_COMMAND_PREPARE, ORVANE_STREAMING_STATE_READY,
                                  ORVANE_STREAMING_STATE_PREPARED, rate, true)};
      case ORVANE_STREAMING_STATE_PREPARED:
        return {false, transition(ORVANE_STREAMING_COMMAND_START, ORVANE_STREAMING_STATE_PREPARED,
                                  ORVANE_STREAMING_STATE_RUNNING, rate, true)};
      default:  // Running
        return {true, 0};
    }
  });
}

uint32_t OrvaneServer::bringDown() {
  return driveEngine([this](const ORVANE_STREAMING_STATUS& status) -> EngineStep {
    const uint32_t rate = status.sampleRate;
    switch (status.state) {
      case ORVANE_STREAMING_STATE_DOWN:
        return {true, 0};
      case ORVANE_STREAMING_STATE_READY:
        return {false, transition(ORVANE_STREAMING_COMMAND_SHUTDOWN, ORVANE_STREAMING_STATE_READY,
                                  ORVANE_STREAMING_STATE_DOWN, rate, false)};
      default:  // Prepared or Running
        return {false,
                transition(ORVANE_STREAMING_COMMAND_STOP, status.state, ORVANE_STREAMING_STATE_READY, rate, false)};
    }
  });
}

uint32_t OrvaneServer::stopIfUnused() {
  ORVANE_STREAMING_STATUS status{};
  if (const uint32_t result = ioctlGetStreamingStatus(status); result != 0) return result;
  if (!isStreamingState(status.state) || isStreamingWanted(status)) return 0;
  return transition(ORVANE_STREAMING_COMMAND_STOP, status.state, ORVANE_STREAMING_STATE_READY, status.sampleRate,
                    false);
}
