#include "asio/orvane_asio_client.h"

#include "platform/waits.h"

namespace {
constexpr uint32_t kStatusPollMs = 10;
}  // namespace

bool OrvaneAsioClient::waitUntilStreaming(uint32_t reads) {
  for (uint32_t read = 0; read < reads; ++read) {
    if (read > 0) platform::sleepMs(kStatusPollMs);
    ORVANE_STREAMING_STATUS status{};
    if (ioctlGetStreamingStatus(status) != 0) return false;
    if (status.state == ORVANE_STREAMING_STATE_RUNNING) return true;
    if (status.state == ORVANE_STREAMING_STATE_ERROR) return false;
  }
  return false;
}
