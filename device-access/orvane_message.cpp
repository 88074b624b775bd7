#include "device-access/orvane_message.h"

#include <cstring>

void initMessage(ORVANE_MESSAGE& message, uint32_t kind, uint32_t code) {
  message = {};
  message.headerSize = ORVANE_MESSAGE_HEADER_SIZE;
  message.kind = kind;
  message.code = code;
}

uint32_t setPayload(ORVANE_MESSAGE& message, const void* bytes, uint32_t length) {
  if (length > ORVANE_MESSAGE_MAX_PAYLOAD) return ORVANE_STATUS_INVALID_LENGTH;
  if (length > 0) std::memmove(message.payload, bytes, length);
  message.payloadLength = length;
  return 0;
}

uint32_t getPayload(const ORVANE_MESSAGE& message, void* buffer, uint32_t& size) {
  if (message.payloadLength > ORVANE_MESSAGE_MAX_PAYLOAD) return ORVANE_STATUS_INVALID_MSG_SIZE;
  if (size < message.payloadLength) return ORVANE_STATUS_INVALID_LENGTH;
  if (message.payloadLength > 0) std::memcpy(buffer, message.payload, message.payloadLength);
  size = message.payloadLength;
  return 0;
}

ORVANE_MESSAGE makeResponse(const ORVANE_MESSAGE& request, uint32_t defaultResult) {
  ORVANE_MESSAGE response;
  initMessage(response, ORVANE_MSG_RESPONSE, ORVANE_MSG_CODE_RESULT);
  response.sequence = request.sequence;
  response.routingFirst = request.routingFirst;
  response.routingSecond = request.routingSecond;
  response.result = defaultResult;
  return response;
}
