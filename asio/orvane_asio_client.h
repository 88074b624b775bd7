#pragma once
// The ASIO driver's connection to the kernel driver: a client registered as
// ORVANE_CLIENT_TYPE_ASIO on the ASIO device link with a message and a
// notification event. The ASIO requests are the ioctlAsio... wrappers it
// inherits; the service requests (setSampleRate, setDsdMode) and the
// notification reads come from OrvaneClient and OrvaneDriver.

#include <cstdint>

#include "device-access/orvane_client.h"

class OrvaneAsioClient : public OrvaneClient {
 public:
  // Reads the streaming status at most `reads` times, 10 ms apart, until the
  // kernel driver streams. False when it reports Error, a read fails, or it
  // never reported Running.
  bool waitUntilStreaming(uint32_t reads);
};
