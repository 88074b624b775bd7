#pragma once
// The test signal asio-host plays and the check of what comes back.
//
// Output c plays a sine at 440 Hz × 2^(c/12) and -20 dBFS in the upper 16 bits
// of each 32-bit sample, with the low 16 bits of the frame number below it.
// An input that returns an output's samples can so be matched to that output
// and to the frame it started from, and then checked sample by sample,
// bit-exact, whatever delay the loop adds.
//
// The frames are the host's own count of buffer switches times the buffer
// size; a switch the host misses shifts it against the device's time for
// two buffers, after which the delay is the same again.

#include <cstddef>
#include <cstdint>
#include <vector>

// Sample `frame` of output `channel` at `rate`.
int32_t loopbackSample(uint32_t channel, uint64_t frame, double rate);

class LoopbackCheck {
 public:
  struct InputResult {
    bool locked = false;      // carries one output's signal
    uint32_t output = 0;      // which one
    int64_t delayFrames = 0;  // how many frames after it was written it came back
    uint64_t checkedSamples = 0;
    uint64_t wrongSamples = 0;  // differed after the input had locked
    uint64_t wrongBuffers = 0;  // buffers with wrong samples
    // Before the lock: the output and delay the latest buffers matched, and how many in a row.
    uint32_t candidateOutput = 0;
    int64_t candidateDelay = 0;
    uint32_t candidateRun = 0;
  };

  // Buffers in a row that must match one output at one delay before an input
  // locks, so that a switch missed while the stream starts cannot fix a wrong delay.
  static constexpr uint32_t kLockBuffers = 8;

  // `outputs` is how many outputs play the signal.
  LoopbackCheck(size_t inputs, uint32_t outputs, double rate);

  // Checks `count` samples that input `input` returned at the buffer switch
  // of host frame `frame`. Real-time safe: no allocation.
  void check(size_t input, const int32_t* samples, uint32_t count, uint64_t frame);
  // After the stream was restarted (at a new rate): inputs match afresh.
  void restart(double rate);

  const std::vector<InputResult>& results() const { return results_; }
  size_t lockedInputs() const;
  // At least one input locked, and every locked input stayed bit-exact
  // except where buffer switches were missed. A missed switch leaves one
  // output half unwritten for a period, which spoils two input buffers: the
  // stale half, and the one that comes back a buffer early.
  bool intact(uint64_t missedSwitches) const;

 private:
  // The output and delay whose samples these are; false when none fits.
  bool match(const int32_t* samples, uint32_t count, uint64_t frame, uint32_t* output, int64_t* delay) const;
  bool tryLock(InputResult& result, const int32_t* samples, uint32_t count, uint64_t frame) const;

  uint32_t outputs_;
  double rate_;
  std::vector<InputResult> results_;
};
