#include "service/custom_server.h"

#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "service/custom_device.h"

CustomServer::CustomServer() = default;
CustomServer::~CustomServer() = default;

std::unique_ptr<OrvaneDevice> CustomServer::createDevice() { return std::make_unique<CustomDevice>(*this); }

uint32_t CustomServer::onCustomRequest(const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response) {
  if (request.code == ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION) return setSoundDeviceConfiguration(request);
  if (request.code == ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION) {
    return getSoundDeviceConfiguration(request, response);
  }
  return ORVANE_STATUS_INVALID_COMMAND;
}

uint32_t CustomServer::setSoundDeviceConfiguration(const ORVANE_MESSAGE& request) {
  ORVANE_SOUND_DEVICE_CONFIGURATION configuration{};
  if (const uint32_t status = requestPayload(request, configuration); status != 0) return status;
  auto* device =
      dynamic_cast<CustomDevice*>(findDeviceCtrl(configuration.deviceId.first, configuration.deviceId.second));
  if (device == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  if (configuration.playbackConfiguration > ORVANE_MAX_PLAYBACK_CONFIGURATION ||
      configuration.recordingConfiguration > ORVANE_MAX_RECORDING_CONFIGURATION) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  ORVANE_STREAMING_STATUS status{};
  if (const uint32_t result = ioctlGetStreamingStatus(status); result != 0) return result;
  if (status.firstUsageCount != 0) return ORVANE_STATUS_SOUND_DEVICE_IN_USE;
  if (const uint32_t result = bringDown(); result != 0) return result;
  (void)device->applyConfiguration(configuration.playbackConfiguration, configuration.recordingConfiguration);
  return bringUp();
}

uint32_t CustomServer::getSoundDeviceConfiguration(const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response) {
  ORVANE_SOUND_DEVICE_CONFIGURATION configuration{};
  if (const uint32_t status = requestPayload(request, configuration); status != 0) return status;
  auto* device =
      dynamic_cast<CustomDevice*>(findDeviceCtrl(configuration.deviceId.first, configuration.deviceId.second));
  if (device == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  configuration.playbackConfiguration = device->playbackConfiguration();
  configuration.recordingConfiguration = device->recordingConfiguration();
  response.code = ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION;
  (void)setPayload(response, configuration);
  return 0;
}
