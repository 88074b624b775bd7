#include "control-panel/orvane_cpl_client.h"

#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"

OrvaneCplClient::OrvaneCplClient() = default;

OrvaneCplClient::~OrvaneCplClient() = default;

uint32_t OrvaneCplClient::setSoundDeviceConfiguration(const ORVANE_DEVICE_ID& device, uint32_t playbackConfiguration,
                                                      uint32_t recordingConfiguration) {
  const ORVANE_SOUND_DEVICE_CONFIGURATION configuration{device, playbackConfiguration, recordingConfiguration};
  ORVANE_MESSAGE response;
  return genericResult(sendRequest(ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION, &configuration,
                                   sizeof configuration, response, ORVANE_SERVICE_TIMEOUT_MS),
                       response);
}

uint32_t OrvaneCplClient::getSoundDeviceConfiguration(const ORVANE_DEVICE_ID& device, uint32_t& playbackConfiguration,
                                                      uint32_t& recordingConfiguration) {
  const ORVANE_SOUND_DEVICE_CONFIGURATION query{device, 0, 0};
  ORVANE_MESSAGE response;
  const uint32_t status = sendRequest(ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION, &query, sizeof query, response,
                                      ORVANE_SERVICE_TIMEOUT_MS);
  if (status != 0) return status;
  if (response.code != ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION) return ORVANE_STATUS_UNEXPECTED_MSG_CODE;
  if (response.result != 0) return response.result;
  ORVANE_SOUND_DEVICE_CONFIGURATION answer{};
  const uint32_t read = getPayload(response, answer);
  if (read != 0) return read;
  playbackConfiguration = answer.playbackConfiguration;
  recordingConfiguration = answer.recordingConfiguration;
  return 0;
}

OrvaneCplClient& mainConnection() {
  static OrvaneCplClient connection;
  return connection;
}
