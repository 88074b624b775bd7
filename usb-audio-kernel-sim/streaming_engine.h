#pragma once
// The streaming engine's settings and the arithmetic of buffer size classes.
//
// Buffer sizes scale with the rate: a class names a number of frames at
// 44.1/48 kHz, doubled at 88.2/96 kHz, four times at 176.4/192 kHz and 64 or
// 128 times at the DSD rates (counted in DSD samples there). The length in
// microseconds follows from frames and rate.

#include <atomic>
#include <cstdint>

#include "device-access/orvane_records.h"

namespace usbaudio_sim {

struct StreamingEngine {
  // Read without the driver lock by the pacing threads; written under it.
  std::atomic<uint32_t> state{ORVANE_STREAMING_STATE_DOWN};
  std::atomic<uint32_t> sampleRate{48000};

  // Under the driver lock.
  uint32_t mode = ORVANE_STREAMING_MODE_SINGLE_DEVICE;
  bool hasSelection = false;
  ORVANE_DEVICE_ID selectedDevice{};
  uint32_t presetRate = 0;  // announced by PRESET_SAMPLE_RATE, 0 when none
  ORVANE_BUFFER_SETTINGS buffers{ORVANE_STREAMING_BUFFER_SMALL, ORVANE_ASIO_BUFFER_SMALL, 0};
};

inline constexpr uint32_t kStreamingBufferClasses = 6;
inline constexpr uint32_t kAsioBufferClasses = 4;

bool isDsdRate(uint32_t rate);
// 1, 2, 4 for PCM rates; 64 or 128 for DSD rates.
uint32_t rateMultiplier(uint32_t rate);
// Frames per second of the channel buffers: the rate, or the rate / 64 for
// DSD (a DSD frame carries 64 one-bit samples).
uint32_t bufferFrameRate(uint32_t rate);

// In samples at `rate` (DSD samples at DSD rates); 0 for an unknown class.
uint32_t streamingBufferSamples(uint32_t sizeClass, uint32_t rate);
uint32_t asioBufferSamples(uint32_t sizeClass, uint32_t rate);
uint32_t samplesToMicroseconds(uint32_t samples, uint32_t rate);

// The latencies the ASIO driver adds to the buffer size, in samples at `rate`.
uint32_t asioInputLatency(uint32_t streamingClass, uint32_t rate);
uint32_t asioOutputLatency(uint32_t streamingClass, uint32_t rate);

const char* streamingStateName(uint32_t state);

// Whether the engine streams in `state` (Prepared or Running).
inline bool isStreaming(uint32_t state) {
  return state == ORVANE_STREAMING_STATE_PREPARED || state == ORVANE_STREAMING_STATE_RUNNING;
}

}  // namespace usbaudio_sim
