#include "device-access/orvane_client.h"

#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "platform/errors.h"
#include "platform/waits.h"

OrvaneClient::OrvaneClient() = default;

OrvaneClient::~OrvaneClient() { closeDriver(); }

uint32_t OrvaneClient::nextSequence() {
  ++sequenceCounter_;
  if (sequenceCounter_ == 0) ++sequenceCounter_;
  return sequenceCounter_;
}

uint32_t OrvaneClient::readResponse(uint32_t sequence, ORVANE_MESSAGE& response) {
  for (;;) {
    const uint32_t status = ioctlReadMessage(response);
    if (status != 0) return status;
    if (response.kind == ORVANE_MSG_RESPONSE && response.sequence == sequence) return 0;
    // Anything else (no response, or the late answer to an earlier request)
    // is discarded, and the queue read on: a signal that stood for several
    // records has already been consumed.
  }
}

uint32_t OrvaneClient::transact(ORVANE_MESSAGE& request, ORVANE_MESSAGE& response, uint32_t timeoutMs) {
  platform::CriticalSectionLock hold(lock_);
  request.sequence = nextSequence();
  uint32_t status = ioctlSendMessage(request);
  if (status != 0) return status;

  for (;;) {
    const uint32_t wait = platform::waitForSingle(messageEvent(), timeoutMs);
    if (wait == platform::WAIT_TIMEOUT) return ORVANE_STATUS_TIMEOUT;
    if (wait != platform::WAIT_OBJECT_0) return ORVANE_STATUS_FAILED;
    status = readResponse(request.sequence, response);
    if (status != ORVANE_STATUS_NO_MORE_ITEMS) return status;
  }
}

uint32_t OrvaneClient::genericResult(uint32_t transactionStatus, const ORVANE_MESSAGE& response) {
  if (transactionStatus != 0) return transactionStatus;
  if (response.code != ORVANE_MSG_CODE_RESULT) return ORVANE_STATUS_UNEXPECTED_MSG_CODE;
  return response.result;
}

uint32_t OrvaneClient::sendRequest(uint32_t code, const void* payload, uint32_t length, ORVANE_MESSAGE& response,
                                   uint32_t timeoutMs) {
  ORVANE_MESSAGE request;
  initMessage(request, ORVANE_MSG_REQUEST, code);
  const uint32_t status = setPayload(request, payload, length);
  if (status != 0) return status;
  initMessage(response, ORVANE_MSG_NONE, 0);
  return transact(request, response, timeoutMs);
}

uint32_t OrvaneClient::setSampleRate(uint32_t rate, uint32_t timeoutMs) {
  ORVANE_MESSAGE response;
  return genericResult(sendRequest(ORVANE_MSG_CODE_SET_SAMPLE_RATE, &rate, sizeof rate, response, timeoutMs),
                       response);
}

uint32_t OrvaneClient::setBufferSizes(const ORVANE_BUFFER_SETTINGS& settings, uint32_t timeoutMs) {
  ORVANE_MESSAGE response;
  return genericResult(
      sendRequest(ORVANE_MSG_CODE_SET_BUFFER_SIZES, &settings, sizeof settings, response, timeoutMs), response);
}

uint32_t OrvaneClient::selectStreamingDevice(uint32_t first, uint32_t second, uint32_t mode, uint32_t timeoutMs) {
  const ORVANE_STREAMING_DEVICE_SELECTION selection{{first, second}, mode};
  ORVANE_MESSAGE response;
  return genericResult(
      sendRequest(ORVANE_MSG_CODE_SELECT_STREAMING_DEVICE, &selection, sizeof selection, response, timeoutMs),
      response);
}

uint32_t OrvaneClient::setDsdMode(bool dsd, uint32_t timeoutMs) {
  const uint8_t mode = dsd ? ORVANE_DSD_MODE_DSD : ORVANE_DSD_MODE_PCM;
  ORVANE_MESSAGE response;
  return genericResult(sendRequest(ORVANE_MSG_CODE_SET_DSD_MODE, &mode, sizeof mode, response, timeoutMs),
                       response);
}
