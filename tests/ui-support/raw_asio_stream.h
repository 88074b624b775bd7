#pragma once
// A stream of input channels as an ASIO host's would be, made with the device
// requests themselves, for the graphical tests and pictures that need the
// kernel driver to move samples (its mixer levels come from them): registers
// as an ASIO client, acquires the channels, hands over the buffers, starts,
// and, with `driveEngine`, brings the streaming engine to Running itself
// from the state it finds (a device control service may have it Ready) and
// back to that state when it stops. Stopped and released on destruction.

#include <cstdint>
#include <memory>
#include <vector>

#include "device-access/orvane_asio_records.h"
#include "device-access/orvane_driver.h"
#include "device-access/orvane_service_records.h"
#include "device-access/wn_event.h"
#include "platform/shared_memory.h"

namespace ui_testing {

class RawAsioStream {
 public:
  RawAsioStream() = default;
  ~RawAsioStream() {
    stop();
    for (void* block : blocks_) platform::freeShareable(block);
  }
  RawAsioStream(const RawAsioStream&) = delete;
  RawAsioStream& operator=(const RawAsioStream&) = delete;

  // 0 or the first failed request's status.
  uint32_t start(const char16_t* link, uint32_t frames = 256, bool driveEngine = true) {
    if (uint32_t status = connection_.openConnection(link, ORVANE_CLIENT_TYPE_ASIO, true); status != 0) return status;
    ORVANE_CHANNEL_LIST inputs{};
    if (uint32_t status = connection_.ioctlGetInputChannels(inputs); status != 0) return status;
    if (uint32_t status = event_.create(false); status != 0) return status;
    // The kernel driver reaches only memory made shareable.
    void* block = shareable(sizeof(ORVANE_ASIO_SHARED_BLOCK));
    const ORVANE_ASIO_CREATE_BUFFERS create{reinterpret_cast<uint64_t>(block),
                                            reinterpret_cast<uint64_t>(event_.handle()), frames};
    if (uint32_t status = connection_.ioctlAsioCreateBuffers(create); status != 0) return status;
    for (uint32_t i = 0; i < inputs.count; ++i) {
      if (uint32_t status = connection_.ioctlAsioAcquireChannel(inputs.channelIds[i]); status != 0) return status;
      void* halves = shareable(2 * static_cast<size_t>(frames) * 4);
      const ORVANE_ASIO_CHANNEL_BUFFERS channel{inputs.channelIds[i], frames * 4, ORVANE_ASIO_CHANNEL_BUFFER_WORD,
                                                reinterpret_cast<uint64_t>(halves)};
      if (uint32_t status = connection_.ioctlAsioSetChannelBuffers(channel); status != 0) return status;
    }
    if (uint32_t status = connection_.ioctlAsioStart(); status != 0) return status;
    started_ = true;
    if (!driveEngine) return 0;
    // From the state the engine is in: a device control service may already
    // have brought it up to Ready.
    ORVANE_STREAMING_STATUS status{};
    if (uint32_t failed = connection_.ioctlGetStreamingStatus(status); failed != 0) return failed;
    foundState_ = status.state;
    if (foundState_ == ORVANE_STREAMING_STATE_RUNNING) return 0;
    const struct {
      uint32_t from;
      uint32_t command;
    } steps[] = {{ORVANE_STREAMING_STATE_DOWN, ORVANE_STREAMING_COMMAND_INITIALIZE},
                 {ORVANE_STREAMING_STATE_READY, ORVANE_STREAMING_COMMAND_PREPARE},
                 {ORVANE_STREAMING_STATE_PREPARED, ORVANE_STREAMING_COMMAND_START}};
    for (const auto& step : steps) {
      if (status.state != step.from) continue;
      if (uint32_t failed = connection_.ioctlStreamingControl(step.command); failed != 0) return failed;
      drivesEngine_ = true;
      if (uint32_t failed = connection_.ioctlGetStreamingStatus(status); failed != 0) return failed;
    }
    return status.state == ORVANE_STREAMING_STATE_RUNNING ? 0 : ORVANE_STATUS_INVALID_STATE;
  }

  void stop() {
    if (started_) (void)connection_.ioctlAsioStop();
    if (drivesEngine_) {  // back to the state it was found in
      (void)connection_.ioctlStreamingControl(ORVANE_STREAMING_COMMAND_STOP);
      if (foundState_ == ORVANE_STREAMING_STATE_DOWN) {
        (void)connection_.ioctlStreamingControl(ORVANE_STREAMING_COMMAND_SHUTDOWN);
      }
    }
    started_ = drivesEngine_ = false;
    connection_.closeDriver();
  }

 private:
  void* shareable(size_t size) {
    blocks_.push_back(platform::allocateShareable(size));
    return blocks_.back();
  }

  OrvaneDriver connection_;
  WnEvent event_;
  std::vector<void*> blocks_;
  bool started_ = false;
  bool drivesEngine_ = false;
  uint32_t foundState_ = ORVANE_STREAMING_STATE_DOWN;
};

}  // namespace ui_testing
