#pragma once
// The control panel's registered connection to the kernel driver, with the two
// requests only the control panel sends to the device control service:
// reading and setting a device's sound device configuration.

#include <cstdint>

#include "device-access/orvane_client.h"
#include "device-access/orvane_records.h"

class OrvaneCplClient : public OrvaneClient {
 public:
  OrvaneCplClient();
  ~OrvaneCplClient() override;

  // Request 11001 with the configuration; the transaction's failure, else the
  // service's result when it answered 2001, else ORVANE_STATUS_UNEXPECTED_MSG_CODE.
  uint32_t setSoundDeviceConfiguration(const ORVANE_DEVICE_ID& device, uint32_t playbackConfiguration,
                                       uint32_t recordingConfiguration);
  // Request 11002; the configuration from a 12001 answer with a 16-byte
  // payload. ORVANE_STATUS_UNEXPECTED_MSG_CODE for any other answer (the
  // service answers 2001 when it refuses), the answer's result when it is
  // not 0, ORVANE_STATUS_INVALID_MSG_SIZE for another payload size.
  uint32_t getSoundDeviceConfiguration(const ORVANE_DEVICE_ID& device, uint32_t& playbackConfiguration,
                                       uint32_t& recordingConfiguration);
};

// The program's main connection: every page's requests and the kernel
// driver's notifications go through it. Lives for the whole program run.
OrvaneCplClient& mainConnection();
