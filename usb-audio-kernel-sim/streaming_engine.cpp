#include "usb-audio-kernel-sim/streaming_engine.h"

namespace usbaudio_sim {
namespace {

// Frames at 44.1/48 kHz per class.
constexpr uint32_t kStreamingFrames[kStreamingBufferClasses] = {32, 48, 64, 128, 256, 512};
constexpr uint32_t kAsioFrames[kAsioBufferClasses] = {64, 128, 256, 512};
// The converters and the USB transfer in front of the streaming buffer.
constexpr uint32_t kInputSafetyFrames = 24;
constexpr uint32_t kOutputSafetyFrames = 40;

}  // namespace

bool isDsdRate(uint32_t rate) { return rate == ORVANE_SAMPLE_RATE_DSD64 || rate == ORVANE_SAMPLE_RATE_DSD128; }

uint32_t rateMultiplier(uint32_t rate) {
  const uint32_t multiplier = rate / 44100;
  return multiplier == 0 ? 1 : multiplier;
}

uint32_t bufferFrameRate(uint32_t rate) { return isDsdRate(rate) ? rate / 64 : rate; }

uint32_t streamingBufferSamples(uint32_t sizeClass, uint32_t rate) {
  return sizeClass < kStreamingBufferClasses ? kStreamingFrames[sizeClass] * rateMultiplier(rate) : 0;
}

uint32_t asioBufferSamples(uint32_t sizeClass, uint32_t rate) {
  return sizeClass < kAsioBufferClasses ? kAsioFrames[sizeClass] * rateMultiplier(rate) : 0;
}

uint32_t samplesToMicroseconds(uint32_t samples, uint32_t rate) {
  return rate == 0 ? 0 : static_cast<uint32_t>(uint64_t{samples} * 1'000'000 / rate);
}

uint32_t asioInputLatency(uint32_t streamingClass, uint32_t rate) {
  return streamingBufferSamples(streamingClass, rate) + kInputSafetyFrames * rateMultiplier(rate);
}

uint32_t asioOutputLatency(uint32_t streamingClass, uint32_t rate) {
  return streamingBufferSamples(streamingClass, rate) + kOutputSafetyFrames * rateMultiplier(rate);
}

const char* streamingStateName(uint32_t state) {
  switch (state) {
    case ORVANE_STREAMING_STATE_UNDEFINED: return "Undefined";
    case ORVANE_STREAMING_STATE_DOWN: return "Down";
    case ORVANE_STREAMING_STATE_READY: return "Ready";
    case ORVANE_STREAMING_STATE_PREPARED: return "Prepared";
    case ORVANE_STREAMING_STATE_RUNNING: return "Running";
    case ORVANE_STREAMING_STATE_ERROR: return "Error";
    case ORVANE_STREAMING_STATE_UNSUPPORTED: return "Unsupported";
    default: return "?";
  }
}

}  // namespace usbaudio_sim
