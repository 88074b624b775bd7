#pragma once
// The service's server: device connections of class CustomDevice, and the
// requests 11001 (set a device's sound device layout) and 11002 (get it).

#include <cstdint>
#include <memory>

#include "service/orvane_server.h"

class CustomServer : public OrvaneServer {
 public:
  CustomServer();
  ~CustomServer() override;

  std::unique_ptr<OrvaneDevice> createDevice() override;
  uint32_t onCustomRequest(const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response) override;

 private:
  uint32_t setSoundDeviceConfiguration(const ORVANE_MESSAGE& request);
  uint32_t getSoundDeviceConfiguration(const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response);
};
