#pragma once
// A registered connection that asks the device control service for changes:
// request messages through the kernel driver, each answered by a response
// with the same sequence number.

#include <cstdint>

#include "device-access/orvane_driver.h"
#include "device-access/orvane_records.h"

// How long the typed requests wait for the service's answer.
inline constexpr uint32_t ORVANE_SERVICE_TIMEOUT_MS = 30000;

class OrvaneClient : public OrvaneDriver {
 public:
  OrvaneClient();
  ~OrvaneClient() override;

  // Sends `request` with the next sequence number (never 0) and waits, at
  // most `timeoutMs` after each wake-up, for the response with that number.
  // Holds the connection's lock throughout. Responses to earlier requests
  // (a late answer after a time-out) and other records of the message queue
  // are discarded; notifications stay queued. ORVANE_STATUS_TIMEOUT when no
  // answer came, ORVANE_STATUS_FAILED when the wait failed (no message event).
  uint32_t transact(ORVANE_MESSAGE& request, ORVANE_MESSAGE& response, uint32_t timeoutMs);

  // The service requests. Each returns the transaction's failure, else the
  // service's result when the response is the generic one (2001), else
  // ORVANE_STATUS_UNEXPECTED_MSG_CODE. Each waits `timeoutMs` for the answer;
  // the programs pass ORVANE_SERVICE_TIMEOUT_MS.
  uint32_t setSampleRate(uint32_t rate, uint32_t timeoutMs);
  uint32_t setBufferSizes(const ORVANE_BUFFER_SETTINGS& settings, uint32_t timeoutMs = ORVANE_SERVICE_TIMEOUT_MS);
  uint32_t selectStreamingDevice(uint32_t first, uint32_t second, uint32_t mode,
                                 uint32_t timeoutMs = ORVANE_SERVICE_TIMEOUT_MS);
  uint32_t setDsdMode(bool dsd, uint32_t timeoutMs = ORVANE_SERVICE_TIMEOUT_MS);

 protected:
  // Sends a request of `code` with `length` payload bytes and waits for its
  // response; returns the transaction's status.
  uint32_t sendRequest(uint32_t code, const void* payload, uint32_t length, ORVANE_MESSAGE& response,
                       uint32_t timeoutMs);
  // The outcome of a request answered by the generic response: the
  // transaction's failure, the service's result, or
  // ORVANE_STATUS_UNEXPECTED_MSG_CODE for any other response.
  static uint32_t genericResult(uint32_t transactionStatus, const ORVANE_MESSAGE& response);

  // The last sequence number used; survives closing and reopening.
  uint32_t sequenceCounter_ = 0;

 private:
  uint32_t nextSequence();
  // Reads the message queue up to the response with `sequence`:
  // 0 when it was read, ORVANE_STATUS_NO_MORE_ITEMS when the queue ran empty
  // first, or the read's failure.
  uint32_t readResponse(uint32_t sequence, ORVANE_MESSAGE& response);
};
