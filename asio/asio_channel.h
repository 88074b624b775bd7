#pragma once
// The driver's view of the kernel driver's channels: one AsioChannel per
// channel with its buffer, and the channel sets (PCM and DSD) that list them
// by ASIO channel number.

#include <cstdint>
#include <memory>
#include <vector>

#include "device-access/orvane_records.h"

struct AsioChannel {
  AsioChannel() = default;
  AsioChannel(const ORVANE_CHANNEL_INFO& channelInfo, bool isDummy) : info(channelInfo), dummy(isDummy) {}
  ~AsioChannel() { freeBuffer(); }
  AsioChannel(const AsioChannel&) = delete;
  AsioChannel& operator=(const AsioChannel&) = delete;

  bool isInput() const { return info.direction == ORVANE_CHANNEL_DIRECTION_INPUT; }
  bool isDsd() const { return info.sampleFormat == ORVANE_SAMPLE_FORMAT_DSD; }
  // Bytes of both buffer halves for `frames` frames per half: 4 per frame and
  // half for PCM, 8 for DSD (64 one-bit samples).
  uint32_t bufferBytesFor(uint32_t frames) const { return frames * (isDsd() ? 16 : 8); }

  // Replaces the buffer with `bytes` zeroed bytes of shareable memory; false
  // when out of memory (the channel then has none).
  bool allocateBuffer(uint32_t bytes);
  void freeBuffer();

  ORVANE_CHANNEL_INFO info{};
  bool dummy = false;  // never acquired from or given to the kernel driver
  uint8_t* buffer = nullptr;
  uint32_t bufferBytes = 0;
};

class AsioChannelSet {
 public:
  // The channel with ASIO number `number` among the inputs or outputs, or null.
  AsioChannel* find(bool input, int32_t number) const;
  // Appends to the inputs or outputs by the channel's direction.
  void append(std::unique_ptr<AsioChannel> channel);
  // Frees the buffers of the active channels and empties the active lists.
  void releaseActive();
  // Destroys every channel.
  void clear();
  // Destroys every channel that has no buffer; the others move to `keep`
  // and stay in the active lists, since the host and the kernel driver still
  // use their buffers until the buffers are disposed.
  void clearKeepingActive(std::vector<std::unique_ptr<AsioChannel>>& keep);
  bool empty() const { return inputs.empty() && outputs.empty(); }

  std::vector<std::unique_ptr<AsioChannel>> inputs;
  std::vector<std::unique_ptr<AsioChannel>> outputs;
  std::vector<AsioChannel*> activeInputs;
  std::vector<AsioChannel*> activeOutputs;
};
