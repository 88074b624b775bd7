#pragma once
// Building and reading ORVANE_MESSAGE records: requests and notifications,
// payloads with their length checks, and the server's response to a request.

#include <cstdint>
#include <type_traits>

#include "device-access/orvane_records.h"
#include "device-access/orvane_status.h"

// Header size 32, no payload, the given kind and code; sequence, routing
// words, result and the whole payload zeroed.
void initMessage(ORVANE_MESSAGE& message, uint32_t kind, uint32_t code);

// Copies `length` payload bytes and sets the payload length.
// ORVANE_STATUS_INVALID_LENGTH, record unchanged, when length > 512.
uint32_t setPayload(ORVANE_MESSAGE& message, const void* bytes, uint32_t length);

// Copies the payload into `buffer` and sets `size` to the payload length.
// ORVANE_STATUS_INVALID_LENGTH when `size` is smaller than the payload;
// ORVANE_STATUS_INVALID_MSG_SIZE for a record whose payload length exceeds
// 512 (nothing is copied from such a record).
uint32_t getPayload(const ORVANE_MESSAGE& message, void* buffer, uint32_t& size);

// A fixed-size payload: a record or a number of 1 to 16 bytes.
template <typename Payload>
concept OrvaneFixedPayload = isOrvaneRecord<Payload> && sizeof(Payload) <= ORVANE_MESSAGE_MAX_PAYLOAD;

template <OrvaneFixedPayload Payload>
uint32_t setPayload(ORVANE_MESSAGE& message, const Payload& value) {
  return setPayload(message, &value, sizeof value);
}

// Reads a payload of exactly sizeof(Payload) bytes;
// ORVANE_STATUS_INVALID_MSG_SIZE, `value` untouched, for any other length.
template <OrvaneFixedPayload Payload>
uint32_t getPayload(const ORVANE_MESSAGE& message, Payload& value) {
  if (message.payloadLength != sizeof value) return ORVANE_STATUS_INVALID_MSG_SIZE;
  uint32_t size = sizeof value;
  return getPayload(message, &value, size);
}

// The generic response (kind 2, code 2001) to `request` with `defaultResult`,
// carrying the request's sequence number and routing words.
ORVANE_MESSAGE makeResponse(const ORVANE_MESSAGE& request, uint32_t defaultResult);
