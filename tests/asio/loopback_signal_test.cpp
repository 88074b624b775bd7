// asio-host's test signal and the check of the inputs that return it.

#include "tools/asio-host/loopback_signal.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double kRate = 48000;
constexpr uint32_t kSize = 64;

// What a loop-back input returns at switch `k`: output `output`'s samples from `delay` buffers before.
std::vector<int32_t> returned(uint32_t output, uint64_t k, uint64_t delay) {
  std::vector<int32_t> samples(kSize, 0);
  if (k < delay) return samples;
  for (uint32_t i = 0; i < kSize; ++i) samples[i] = loopbackSample(output, (k - delay) * kSize + i, kRate);
  return samples;
}

TEST(LoopbackSignal, CarriesATonePerOutputAndTheFrameNumber) {
  EXPECT_EQ(loopbackSample(0, 0, kRate), 0);
  EXPECT_EQ(loopbackSample(3, 0x12345, kRate) & 0xFFFF, 0x2345);
  int32_t peak = 0;
  for (uint64_t frame = 0; frame < 48000; ++frame) peak = std::max(peak, loopbackSample(0, frame, kRate) >> 16);
  EXPECT_EQ(peak, 3277);  // -20 dBFS of 16 bits
  EXPECT_NE(loopbackSample(0, 1000, kRate), loopbackSample(1, 1000, kRate));
  EXPECT_NE(loopbackSample(0, 1000, kRate), loopbackSample(48, 1000, kRate));
}

TEST(LoopbackCheck, FindsTheOutputAndDelayOfEachInput) {
  LoopbackCheck check(3, 4, kRate);
  for (uint64_t k = 0; k < 2000; ++k) {  // beyond 65536 frames, where the frame code wraps
    check.check(0, returned(2, k, 2).data(), kSize, k * kSize);
    check.check(1, returned(0, k, 5).data(), kSize, k * kSize);
    const std::vector<int32_t> silence(kSize, 0);
    check.check(2, silence.data(), kSize, k * kSize);
  }
  const auto& results = check.results();
  EXPECT_TRUE(results[0].locked);
  EXPECT_EQ(results[0].output, 2u);
  EXPECT_EQ(results[0].delayFrames, 2 * kSize);
  EXPECT_EQ(results[1].output, 0u);
  EXPECT_EQ(results[1].delayFrames, 5 * kSize);
  EXPECT_EQ(results[0].wrongSamples + results[1].wrongSamples, 0u);
  EXPECT_FALSE(results[2].locked);
  EXPECT_EQ(check.lockedInputs(), 2u);
  EXPECT_TRUE(check.intact(0));
}

TEST(LoopbackCheck, ADamagedSampleOrSwappedHalvesAreFound) {
  struct Case {
    const char* what;
    uint64_t at;  // the damaged switch
    void (*damage)(std::vector<int32_t>&, uint64_t k);
  };
  const Case cases[] = {
      {"one bit", 300, [](std::vector<int32_t>& s, uint64_t) { s[17] ^= 1 << 20; }},
      {"the lowest bit", 300, [](std::vector<int32_t>& s, uint64_t) { s[0] ^= 1; }},
      {"a stale buffer", 300, [](std::vector<int32_t>& s, uint64_t k) { s = returned(1, k - 2, 2); }},
      {"silence", 300, [](std::vector<int32_t>& s, uint64_t) { s.assign(kSize, 0); }},
  };
  for (const Case& c : cases) {
    LoopbackCheck check(1, 2, kRate);
    for (uint64_t k = 0; k < 400; ++k) {
      std::vector<int32_t> samples = returned(1, k, 2);
      if (k == c.at) c.damage(samples, k);
      check.check(0, samples.data(), kSize, k * kSize);
    }
    EXPECT_EQ(check.results()[0].wrongBuffers, 1u) << c.what;
    EXPECT_FALSE(check.intact(0)) << c.what;
    EXPECT_TRUE(check.intact(1)) << c.what;  // explained by one missed switch
  }
}

TEST(LoopbackCheck, ASwitchMissedWhileStartingDoesNotFixAWrongDelay) {
  // A missed switch returns one buffer a buffer early and the next a buffer late.
  LoopbackCheck check(1, 2, kRate);
  for (uint64_t k = 0; k < 100; ++k) {
    const uint64_t delay = k == 3 ? 1 : k == 4 ? 3 : 2;
    check.check(0, returned(1, k, delay).data(), kSize, k * kSize);
  }
  EXPECT_EQ(check.results()[0].delayFrames, 2 * kSize);
  EXPECT_EQ(check.results()[0].wrongBuffers, 0u);
  EXPECT_TRUE(check.intact(0));
}

TEST(LoopbackCheck, RestartMatchesAfresh) {
  LoopbackCheck check(1, 2, kRate);
  for (uint64_t k = 0; k < 20; ++k) check.check(0, returned(1, k, 2).data(), kSize, k * kSize);
  check.restart(96000);
  for (uint64_t k = 0; k < 20; ++k) {
    std::vector<int32_t> samples(kSize, 0);
    if (k >= 3) {
      for (uint32_t i = 0; i < kSize; ++i) samples[i] = loopbackSample(0, (k - 3) * kSize + i, 96000);
    }
    check.check(0, samples.data(), kSize, k * kSize);
  }
  EXPECT_EQ(check.results()[0].output, 0u);
  EXPECT_EQ(check.results()[0].delayFrames, 3 * kSize);
  EXPECT_TRUE(check.intact(0));
}

}  // namespace
