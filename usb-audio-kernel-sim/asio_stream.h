#pragma once
// One ASIO client's stream: the shared block and buffer event it handed over
// with ASIO_CREATE_BUFFERS, the channel buffers of ASIO_SET_CHANNEL_BUFFERS,
// and the pacing thread that runs between ASIO_START and ASIO_STOP.
//
// Once per buffer period (frames / frame rate, on absolute deadlines of a
// timerfd) while the streaming engine is Running, the thread hands the next
// buffer half to the host: each input half receives the matching output's
// half (same port type and number; a virtual input takes the line output of
// its number) or, without one, a 997 Hz test tone; then it writes the half's
// index into word 0 of the shared block and signals the buffer event. A
// period in which word 1 (the host's acknowledgement counter) did not advance
// counts as a missed event.
//
// Lock order: the driver lock may be held while calling into a stream; the
// stream never takes the driver lock.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/driver.h"
#include "usb-audio-kernel-sim/streaming_engine.h"
#include "usb-audio-kernel-sim/virtual_device.h"

namespace usbaudio_sim {

// Counters of the stream as the statistics record shows them.
struct AsioStreamCounters {
  uint32_t inputChannels = 0;     // with buffers
  uint32_t outputChannels = 0;
  bool running = false;
  uint32_t bufferSwitchEvents = 0;
  uint32_t switchIntervalSamples = 0;
  uint32_t switchIntervalMicroseconds = 0;
  uint32_t threadMissedEvents = 0;  // periods the thread itself was too late for
  uint32_t eventsMissed = 0;        // periods the host did not acknowledge
  int32_t minIntervalMicroseconds = 0;
  int32_t maxIntervalMicroseconds = 0;
  int32_t currentIntervalMicroseconds = 0;
};

struct ChannelBufferSpec {
  uint64_t channelId = 0;
  uint32_t deviceFirst = 0;  // first word of the owning device's identifier
  uint32_t direction = 0;
  uint32_t portType = 0;
  uint32_t index = 0;
  std::shared_ptr<LevelMeter> meter;
  std::shared_ptr<platform::kernel::MappedMemory> memory;  // both halves
  uint32_t halfBytes = 0;
};

class AsioStream {
 public:
  // `missedEvents` is the driver-wide counter that missed events also add to.
  AsioStream(std::shared_ptr<platform::kernel::MappedMemory> sharedBlock,
             std::shared_ptr<platform::kernel::KernelEvent> bufferEvent, uint32_t frames,
             const StreamingEngine& engine, std::atomic<uint32_t>& missedEvents);
  ~AsioStream();
  AsioStream(const AsioStream&) = delete;
  AsioStream& operator=(const AsioStream&) = delete;

  uint32_t frames() const { return frames_; }
  // Bytes of one buffer half a channel of that kind needs.
  uint32_t halfBytesFor(bool dsd) const { return frames_ * (dsd ? 8 : 4); }

  // Replaces the channel's buffers if it had some.
  void setChannelBuffer(ChannelBufferSpec spec);
  void removeChannel(uint64_t channelId);
  void removeDeviceChannels(uint32_t deviceFirst);
  bool hasChannel(uint64_t channelId) const;

  // 0, or a system error when the thread or its timer cannot be created.
  uint32_t start();
  void stop();
  bool running() const { return running_.load(); }

  AsioStreamCounters counters() const;
  void clearCounters();
  // When the buffer event was signalled, oldest first (at most `capacity`, the latest).
  std::vector<int64_t> signalTimes() const;

 private:
  struct Buffer {
    ChannelBufferSpec spec;
    int partner = -1;            // inputs: the output whose half it copies
    double tonePhase = 0;        // inputs without partner
    double deltaSigma = 0;       // DSD test signal integrator
  };

  void run(int timerFd, int stopFd);
  // One period: hands the next half over, then signals the buffer event
  // outside the stream's lock.
  void runPeriod();
  // Fills the half and writes its index; false while the engine is paused.
  bool handOverHalf();
  void linkPartners();
  void fillInput(Buffer& input, uint32_t half, uint32_t rate);

  const std::shared_ptr<platform::kernel::MappedMemory> sharedBlock_;
  const std::shared_ptr<platform::kernel::KernelEvent> bufferEvent_;
  const uint32_t frames_;
  const StreamingEngine& engine_;
  std::atomic<uint32_t>& driverMissedEvents_;

  mutable std::mutex mutex_;  // the buffers and the counters
  std::vector<Buffer> inputs_;
  std::vector<Buffer> outputs_;
  uint32_t nextHalf_ = 0;
  bool haveAcknowledgement_ = false;
  uint32_t lastAcknowledgement_ = 0;
  int64_t lastSwitchNanoseconds_ = 0;
  AsioStreamCounters counters_;
  std::vector<int64_t> signalTimes_;  // a ring of the latest signals
  uint64_t signals_ = 0;

  std::thread thread_;
  std::atomic<bool> running_{false};
  int stopFd_ = -1;
};

}  // namespace usbaudio_sim
