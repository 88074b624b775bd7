// The ASIO requests and the pacing thread: channels, buffers, the shared
// block and buffer event, loopback and test tone, missed events, usage.

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/shared_memory.h"
#include "tests/usb-audio-kernel-sim/sim_test_support.h"

using namespace sim_testing;

namespace {

// The ASIO driver's side of a stream: its client, shared block, buffer event
// and channel buffers in shareable memory.
class AsioHost {
 public:
  AsioHost()
      : client(ORVANE_CLIENT_TYPE_ASIO, kAsioLink), bufferEvent(platform::createEvent(false, false)),
        block(static_cast<uint32_t*>(platform::allocateShareable(sizeof(ORVANE_ASIO_SHARED_BLOCK)))) {}
  ~AsioHost() {
    client.close();
    for (void* buffer : buffers_) platform::freeShareable(buffer);
    platform::freeShareable(block);
    platform::closeHandle(bufferEvent);
  }

  uint32_t createBuffers(uint32_t frames) {
    frames_ = frames;
    return client.send(ORVANE_IOCTL_ASIO_CREATE_BUFFERS,
                       ORVANE_ASIO_CREATE_BUFFERS{reinterpret_cast<uintptr_t>(block), handleValue(bufferEvent), frames});
  }

  // Acquires the channel and hands it two halves; returns the first half.
  uint8_t* addChannel(uint64_t channel, uint32_t bytesPerFrame = 4) {
    EXPECT_EQ(client.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, channel), 0u);
    const uint32_t half = frames_ * bytesPerFrame;
    auto* buffer = static_cast<uint8_t*>(platform::allocateShareable(2 * half));
    buffers_.push_back(buffer);
    EXPECT_EQ(client.send(ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS,
                          ORVANE_ASIO_CHANNEL_BUFFERS{channel, half, ORVANE_ASIO_CHANNEL_BUFFER_WORD,
                                                      reinterpret_cast<uintptr_t>(buffer)}),
              0u);
    return buffer;
  }

  bool waitSwitch(uint32_t milliseconds = 2000) {
    return platform::waitForSingle(bufferEvent, milliseconds) == platform::WAIT_OBJECT_0;
  }
  uint32_t index() const { return std::atomic_ref<uint32_t>(block[0]).load(); }
  void acknowledge() { std::atomic_ref<uint32_t>(block[1]).fetch_add(1); }

  Client client;
  platform::Handle bufferEvent;
  uint32_t* block;

 private:
  uint32_t frames_ = 0;
  std::vector<void*> buffers_;
};

class Asio : public SimDriverTest {
 protected:
  void SetUp() override {
    SimDriverTest::SetUp();
    service = std::make_unique<SimFile>();
    ORVANE_CHANNEL_LIST_PAIR pair{};
    ASSERT_EQ(service->get(ORVANE_IOCTL_ASIO_GET_CHANNELS, &pair), 0u);
    for (uint32_t i = 0; i < pair.inputs.count; ++i) inputs.push_back(channelAt(pair.inputs, i));
    for (uint32_t i = 0; i < pair.outputs.count; ++i) outputs.push_back(channelAt(pair.outputs, i));
  }

  // "switches N missed M" of the first stream in the state dump.
  std::pair<uint32_t, uint32_t> streamCounters() {
    const std::string dump = state();
    return {numberAfter(dump, "switches "), numberAfter(dump, " missed ")};
  }
  // The number that follows the first `label` in `text`, 0 without one.
  static uint32_t numberAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    return at == std::string::npos ? 0 : static_cast<uint32_t>(std::strtoul(text.c_str() + at + label.size(), nullptr, 10));
  }

  std::unique_ptr<SimFile> service;  // opened once the driver runs
  std::vector<uint64_t> inputs;   // 16 line, 2 S/PDIF, 2 virtual
  std::vector<uint64_t> outputs;  // 16 line, 2 S/PDIF
};

TEST_F(Asio, TheStreamAlternatesTheIndexLoopsOutputsBackAndPlaysATone) {
  AsioHost asio;
  constexpr uint32_t kFrames = 2048;  // 42.7 ms at 48 kHz
  ASSERT_EQ(asio.createBuffers(kFrames), 0u);
  auto* out1 = reinterpret_cast<int32_t*>(asio.addChannel(outputs[0]));
  auto* in1 = reinterpret_cast<const int32_t*>(asio.addChannel(inputs[0]));      // loops out 1
  auto* in3 = reinterpret_cast<const int32_t*>(asio.addChannel(inputs[2]));      // nothing to loop: tone
  auto* loop1 = reinterpret_cast<const int32_t*>(asio.addChannel(inputs[18]));   // virtual: takes line out 1
  bringUp(*service);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), 0u);

  constexpr int32_t kPattern = 0x12345678;
  uint32_t previous = 2;
  for (int k = 0; k < 24; ++k) {
    ASSERT_TRUE(asio.waitSwitch()) << k;
    const uint32_t half = asio.index();
    ASSERT_LT(half, 2u);
    if (previous < 2) {
      EXPECT_EQ(half, previous ^ 1) << k;
    }
    previous = half;
    for (uint32_t i = 0; i < kFrames; ++i) out1[half * kFrames + i] = kPattern;
    asio.acknowledge();
  }
  ASSERT_TRUE(asio.waitSwitch());
  const uint32_t half = asio.index();
  for (uint32_t i = 0; i < kFrames; ++i) {
    ASSERT_EQ(in1[half * kFrames + i], kPattern) << i;
    ASSERT_EQ(loop1[half * kFrames + i], kPattern) << i;
  }
  int32_t peak = 0;
  for (uint32_t i = 0; i < kFrames; ++i) peak = std::max(peak, std::abs(in3[half * kFrames + i]));
  EXPECT_GT(peak, 200'000'000);  // -20 dBFS is 214748364
  EXPECT_LT(peak, 215'000'000);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_STOP), 0u);
  const auto [switches, missed] = streamCounters();
  EXPECT_GE(switches, 25u);
  EXPECT_EQ(missed, 0u);
}

TEST_F(Asio, PeriodsWithoutAcknowledgementCountAsMissedEvents) {
  AsioHost asio;
  ASSERT_EQ(asio.createBuffers(1024), 0u);  // 21.3 ms
  asio.addChannel(outputs[0]);
  bringUp(*service);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), 0u);
  for (int k = 0; k < 5; ++k) {
    ASSERT_TRUE(asio.waitSwitch());
    asio.acknowledge();
  }
  // Acknowledged periods count nothing, unless this thread was held up for a
  // whole period on a loaded machine.
  const uint32_t missedWhileAcknowledging = streamCounters().second;
  EXPECT_LE(missedWhileAcknowledging, 1u);
  for (int k = 0; k < 10; ++k) ASSERT_TRUE(asio.waitSwitch());
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_STOP), 0u);
  EXPECT_GE(streamCounters().second - missedWhileAcknowledging, 8u);
  // The driver-wide ASIO error counter counts them too.
  EXPECT_GE(numberAfter(state(), "asio errors "), 8u);
}

TEST_F(Asio, DsdChannelsLoopAndCarryADeltaSigmaTone) {
  ASSERT_EQ(service->send(ORVANE_IOCTL_SET_SAMPLE_RATE, ORVANE_SAMPLE_RATE_DSD64), 0u);
  ORVANE_CHANNEL_LIST_PAIR pair{};
  ASSERT_EQ(service->get(ORVANE_IOCTL_ASIO_GET_CHANNELS, &pair), 0u);
  AsioHost asio;
  constexpr uint32_t kFrames = 512;  // 11.6 ms at 44.1 kHz frames of 64 bits
  ASSERT_EQ(asio.createBuffers(kFrames), 0u);
  EXPECT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS,
                             ORVANE_ASIO_CHANNEL_BUFFERS{channelAt(pair.outputs, 0), kFrames * 4,
                                                         ORVANE_ASIO_CHANNEL_BUFFER_WORD, 0x1000}),
            ORVANE_STATUS_NOT_ALLOWED);  // not acquired yet
  uint8_t* out = asio.addChannel(channelAt(pair.outputs, 0), 8);
  const uint8_t* in = asio.addChannel(channelAt(pair.inputs, 0), 8);
  const uint8_t* tone = asio.addChannel(channelAt(pair.inputs, 1), 8);
  std::memset(out, 0x69, 2 * kFrames * 8);
  bringUp(*service);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), 0u);
  for (int k = 0; k < 4; ++k) {
    ASSERT_TRUE(asio.waitSwitch());
    asio.acknowledge();
  }
  const uint32_t half = asio.index();
  for (uint32_t i = 0; i < kFrames * 8; ++i) ASSERT_EQ(in[half * kFrames * 8 + i], 0x69) << i;
  int ones = 0;
  for (uint32_t i = 0; i < kFrames * 8; ++i) ones += __builtin_popcount(tone[half * kFrames * 8 + i]);
  EXPECT_GT(ones, static_cast<int>(kFrames * 64 / 4));  // a tone around zero: about half the bits set
  EXPECT_LT(ones, static_cast<int>(kFrames * 64 * 3 / 4));
}

TEST_F(Asio, SignalTimesMarkEveryBufferEventOnThePeriodGrid) {
  auto times = std::make_unique<usbaudio_sim::SIM_SIGNAL_TIMES>();
  ASSERT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_GET_SIGNAL_TIMES, nullptr, 0, times.get(), sizeof *times), 0u);
  EXPECT_EQ(times->count, 0u);  // no stream
  AsioHost asio;
  ASSERT_EQ(asio.createBuffers(480), 0u);  // 10 ms at 48 kHz
  asio.addChannel(outputs[0]);
  bringUp(*service);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), 0u);
  for (int k = 0; k < 10; ++k) {
    ASSERT_TRUE(asio.waitSwitch());
    asio.acknowledge();
  }
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_STOP), 0u);
  ASSERT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_GET_SIGNAL_TIMES, nullptr, 0, times.get(), sizeof *times), 0u);
  ASSERT_EQ(times->count, streamCounters().first);
  ASSERT_GE(times->count, 10u);
  // 10 ms apart: in order, and the median interval on the period (a late
  // signal of a loaded machine makes one interval longer and the next shorter).
  std::vector<int64_t> intervals;
  for (uint32_t k = 1; k < times->count; ++k) {
    intervals.push_back(times->nanoseconds[k] - times->nanoseconds[k - 1]);
    EXPECT_GT(intervals.back(), 0) << k;
  }
  std::sort(intervals.begin(), intervals.end());
  EXPECT_NEAR(static_cast<double>(intervals[intervals.size() / 2]), 10'000'000.0, 1'000'000.0);
  EXPECT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_GET_SIGNAL_TIMES, nullptr, 0, times.get(), 100),
            ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
}

TEST_F(Asio, TheStreamPausesWhileTheEngineIsNotRunning) {
  AsioHost asio;
  ASSERT_EQ(asio.createBuffers(64), 0u);
  asio.addChannel(outputs[0]);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), 0u);
  EXPECT_FALSE(asio.waitSwitch(100));
  bringUp(*service);
  EXPECT_TRUE(asio.waitSwitch());
  ASSERT_EQ(service->send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_STOP), 0u);
  asio.waitSwitch(50);  // one that was on its way
  EXPECT_FALSE(asio.waitSwitch(100));
}

TEST_F(Asio, ChannelsAreHeldByOneConnection) {
  AsioHost first;
  SimFile second(kAsioLink);
  ASSERT_EQ(first.client.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, inputs[0]), 0u);
  EXPECT_EQ(first.client.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, inputs[0]), 0u);  // again: no change
  EXPECT_EQ(second.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, inputs[0]), ORVANE_STATUS_IN_USE);
  EXPECT_EQ(second.send(ORVANE_IOCTL_ASIO_RELEASE_CHANNEL, inputs[0]), ORVANE_STATUS_NOT_ALLOWED);
  ASSERT_EQ(first.client.send(ORVANE_IOCTL_ASIO_RELEASE_CHANNEL, inputs[0]), 0u);
  EXPECT_EQ(second.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, inputs[0]), 0u);

  const uint64_t missing[] = {0, ~uint64_t{0}, inputs[0] + 0x100, (uint64_t{77} << 32) | (inputs[0] & 0xFFFFFFFF)};
  for (uint64_t channel : missing) {
    EXPECT_EQ(second.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, channel), ORVANE_STATUS_OBJECT_NOT_FOUND) << channel;
    EXPECT_EQ(second.send(ORVANE_IOCTL_ASIO_RELEASE_CHANNEL, channel), ORVANE_STATUS_OBJECT_NOT_FOUND) << channel;
  }
  // A DSD channel is not in the lists at a PCM rate.
  const uint64_t dsdInput = (inputs[0] & ~uint64_t{0xFF0000}) | (uint64_t{ORVANE_PORT_TYPE_DSD} << 16);
  EXPECT_EQ(second.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, dsdInput), ORVANE_STATUS_OBJECT_NOT_FOUND);
}

TEST_F(Asio, BadBufferRecordsAreRefused) {
  AsioHost asio;
  auto* memory = static_cast<uint8_t*>(platform::allocateShareable(4096));
  std::vector<uint8_t> ordinary(4096);
  const uint64_t block = reinterpret_cast<uintptr_t>(asio.block);
  const uint64_t event = handleValue(asio.bufferEvent);
  struct CreateCase {
    ORVANE_ASIO_CREATE_BUFFERS record;
    uint32_t status;
  };
  const CreateCase creates[] = {
      {{block, event, 0}, ORVANE_STATUS_INVALID_BUFFER_SIZE},
      {{block, event, 8193}, ORVANE_STATUS_INVALID_BUFFER_SIZE},
      {{0, event, 64}, ORVANE_STATUS_INVALID_PARAMETER},
      {{block, 0, 64}, ORVANE_STATUS_INVALID_PARAMETER},
      {{block, 0x4321, 64}, ORVANE_STATUS_INVALID_PARAMETER},
      {{block + 2, event, 64}, ORVANE_STATUS_INVALID_PARAMETER},  // unaligned words
      {{reinterpret_cast<uintptr_t>(ordinary.data()), event, 64}, ORVANE_STATUS_INVALID_PARAMETER},
      {{block + 4096 - 4, event, 64}, ORVANE_STATUS_INVALID_PARAMETER},  // runs past the block
  };
  for (const CreateCase& c : creates) {
    EXPECT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_CREATE_BUFFERS, c.record), c.status) << c.record.bufferFrames;
  }
  EXPECT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), ORVANE_STATUS_INVALID_STATE);
  EXPECT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_STOP), ORVANE_STATUS_INVALID_STATE);
  const auto buffers = [&](uint64_t channel, uint32_t half, uint32_t word, uint64_t address) {
    return asio.client.send(ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS,
                            ORVANE_ASIO_CHANNEL_BUFFERS{channel, half, word, address});
  };
  const uint64_t address = reinterpret_cast<uintptr_t>(memory);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, outputs[1]), 0u);
  EXPECT_EQ(buffers(outputs[1], 256, 4, address), ORVANE_STATUS_INVALID_STATE);  // no buffers created
  ASSERT_EQ(asio.createBuffers(64), 0u);
  EXPECT_EQ(buffers(outputs[1], 255, 4, address), ORVANE_STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(buffers(outputs[1], 512, 4, address), ORVANE_STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(buffers(outputs[1], 256, 5, address), ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(buffers(outputs[1], 256, 4, 0), ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(buffers(outputs[1], 256, 4, reinterpret_cast<uintptr_t>(ordinary.data())), ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(buffers(outputs[1], 256, 4, address + 4096 - 256), ORVANE_STATUS_INVALID_PARAMETER);  // second half past
  EXPECT_EQ(buffers(outputs[2], 256, 4, address), ORVANE_STATUS_NOT_ALLOWED);
  EXPECT_EQ(buffers(0x0BADull, 256, 4, address), ORVANE_STATUS_OBJECT_NOT_FOUND);
  EXPECT_EQ(buffers(outputs[1], 256, 4, address), 0u);
  platform::freeShareable(memory);
}

TEST_F(Asio, BuffersMarkTheStreamsAsWantedAndStartingAsInUse) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  AsioHost asio;
  server.drainNotifications();
  ASSERT_EQ(asio.createBuffers(256), 0u);
  ASSERT_TRUE(server.waitNotification());
  EXPECT_EQ(server.drainNotifications(), std::vector<uint32_t>{ORVANE_MSG_CODE_STREAMING_WANTED});
  ORVANE_STREAMING_STATUS status = streamingStatus();
  EXPECT_EQ(status.reserved1, 1u);
  EXPECT_EQ(status.secondUsageCount, 0u);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), 0u);
  EXPECT_EQ(streamingStatus().secondUsageCount, 1u);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_STOP), 0u);
  EXPECT_EQ(streamingStatus().secondUsageCount, 0u);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS), 0u);
  ASSERT_TRUE(server.waitNotification());
  EXPECT_EQ(server.drainNotifications(), std::vector<uint32_t>{ORVANE_MSG_CODE_STREAMING_NOT_WANTED});
  EXPECT_EQ(streamingStatus().reserved1, 0u);
}

TEST_F(Asio, ClosingAStreamingConnectionStopsAndReleasesEverything) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  bringUp(*service);
  {
    AsioHost asio;
    ASSERT_EQ(asio.createBuffers(64), 0u);
    asio.addChannel(outputs[0]);
    asio.addChannel(inputs[0]);
    ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), 0u);
    ASSERT_TRUE(asio.waitSwitch());
    server.drainNotifications();
  }
  ASSERT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_STREAMING_NOT_WANTED));
  const ORVANE_STREAMING_STATUS status = streamingStatus();
  EXPECT_EQ(status.reserved1 | status.secondUsageCount, 0u);
  SimFile other(kAsioLink);
  EXPECT_EQ(other.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, outputs[0]), 0u);
  EXPECT_EQ(other.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, inputs[0]), 0u);
  EXPECT_EQ(state().find(" frames"), std::string::npos);  // no stream left
}

TEST_F(Asio, UnpluggingTheStreamingDeviceEndsInError) {
  AsioHost asio;
  ASSERT_EQ(asio.createBuffers(64), 0u);
  asio.addChannel(outputs[0]);
  bringUp(*service);
  ASSERT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_START), 0u);
  ASSERT_TRUE(asio.waitSwitch());
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_UNPLUG, usbaudio_sim::SIM_DEVICE_SELECTOR{0, 0, {}}), 0u);
  EXPECT_EQ(streamingStatus().state, ORVANE_STREAMING_STATE_ERROR);
  // The channel went with the device.
  EXPECT_EQ(asio.client.send(ORVANE_IOCTL_ASIO_RELEASE_CHANNEL, outputs[0]), ORVANE_STATUS_OBJECT_NOT_FOUND);
  asio.waitSwitch(50);
  EXPECT_FALSE(asio.waitSwitch(100));
}

}  // namespace
