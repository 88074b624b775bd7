#include "tools/asio-host/loopback_signal.h"

#include <cmath>
#include <numbers>

namespace {
constexpr double kBaseFrequency = 440.0;
constexpr double kAmplitude = 0.1 * 32767;  // -20 dBFS in 16 bits
constexpr uint64_t kFrameCodeMask = 0xFFFF;
}  // namespace

int32_t loopbackSample(uint32_t channel, uint64_t frame, double rate) {
  // Four octaves of semitones; beyond them the same notes a quarter turn on.
  const double frequency = kBaseFrequency * std::exp2(static_cast<double>(channel % 48) / 12.0);
  const double offset = 0.25 * static_cast<double>(channel / 48);
  const double phase = std::fmod(static_cast<double>(frame) * frequency / rate + offset, 1.0);
  const auto tone = static_cast<int16_t>(std::lround(kAmplitude * std::sin(2 * std::numbers::pi * phase)));
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(tone)) << 16) |
                              static_cast<uint32_t>(frame & kFrameCodeMask));
}

LoopbackCheck::LoopbackCheck(size_t inputs, uint32_t outputs, double rate)
    : outputs_(outputs), rate_(rate), results_(inputs) {}

void LoopbackCheck::restart(double rate) {
  rate_ = rate;
  for (InputResult& result : results_) {
    result.locked = false;
    result.candidateRun = 0;
  }
}

bool LoopbackCheck::match(const int32_t* samples, uint32_t count, uint64_t frame, uint32_t* output,
                          int64_t* delay) const {
  if (count == 0) return false;
  // The newest frame with the first sample's frame code that is not in the future.
  const uint64_t code = static_cast<uint32_t>(samples[0]) & kFrameCodeMask;
  if ((frame & kFrameCodeMask) < code && frame <= kFrameCodeMask) return false;
  const uint64_t source = frame - ((frame - code) & kFrameCodeMask);
  for (uint32_t candidate = 0; candidate < outputs_; ++candidate) {
    uint32_t i = 0;
    while (i < count && samples[i] == loopbackSample(candidate, source + i, rate_)) ++i;
    if (i == count) {
      *output = candidate;
      *delay = static_cast<int64_t>(frame - source);
      return true;
    }
  }
  return false;
}

bool LoopbackCheck::tryLock(InputResult& result, const int32_t* samples, uint32_t count, uint64_t frame) const {
  uint32_t output = 0;
  int64_t delay = 0;
  if (!match(samples, count, frame, &output, &delay)) {
    result.candidateRun = 0;
    return false;
  }
  if (result.candidateRun > 0 && output == result.candidateOutput && delay == result.candidateDelay) {
    ++result.candidateRun;
  } else {
    result.candidateOutput = output;
    result.candidateDelay = delay;
    result.candidateRun = 1;
  }
  if (result.candidateRun < kLockBuffers) return false;
  result.locked = true;
  result.output = output;
  result.delayFrames = delay;
  return true;
}

void LoopbackCheck::check(size_t input, const int32_t* samples, uint32_t count, uint64_t frame) {
  if (input >= results_.size()) return;
  InputResult& result = results_[input];
  if (!result.locked) {
    if (!tryLock(result, samples, count, frame)) return;
  }
  const uint64_t source = frame - static_cast<uint64_t>(result.delayFrames);
  uint32_t wrong = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (samples[i] != loopbackSample(result.output, source + i, rate_)) ++wrong;
  }
  result.checkedSamples += count;
  result.wrongSamples += wrong;
  result.wrongBuffers += wrong > 0 ? 1 : 0;
}

size_t LoopbackCheck::lockedInputs() const {
  size_t locked = 0;
  for (const InputResult& result : results_) locked += result.checkedSamples > 0 ? 1 : 0;
  return locked;
}

bool LoopbackCheck::intact(uint64_t missedSwitches) const {
  for (const InputResult& result : results_) {
    if (result.wrongBuffers > 2 * missedSwitches) return false;
  }
  return lockedInputs() > 0;
}
