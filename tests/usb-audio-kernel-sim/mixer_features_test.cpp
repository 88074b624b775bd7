// The mixer family over the real transport: pins, gains and crosspoints kept
// per device and announced to the other connections, levels from an ASIO
// stream's samples, and the device setup's loopback path.

#include <cmath>

#include "tests/usb-audio-kernel-sim/feature_test_support.h"

using namespace feature_testing;

namespace {

constexpr uint8_t kLine = ORVANE_MIXER_PORT_I2S;
constexpr uint8_t kSpdif = ORVANE_MIXER_PORT_SPDIF;
constexpr uint8_t kVirtual = ORVANE_MIXER_PORT_VIRTUAL;
constexpr uint8_t kPlaybackLine = 2;
constexpr uint8_t kPlaybackSpdif = 3;

class Mixer : public FeatureTest {
 protected:
  std::vector<ORVANE_MIXER_PIN> pins(SimFile& file, uint32_t selector, uint32_t* status = nullptr) {
    std::vector<ORVANE_MIXER_PIN> result(ORVANE_MIXER_MAX_OUTPUT_PINS);
    uint32_t bytes = 0;
    const uint32_t answer = file.control(ORVANE_IOCTL_GET_MIXER_PINS, &selector, sizeof selector, result.data(),
                                         static_cast<uint32_t>(result.size() * 4), &bytes);
    if (status != nullptr) *status = answer;
    result.resize(answer == 0 ? bytes / 4 : 0);
    return result;
  }

  ORVANE_MIXER_GAIN readGain(SimFile& file, ORVANE_MIXER_PIN output) {
    std::vector<ORVANE_MIXER_GAIN> entries{{output, 0, 0, 0}};
    EXPECT_EQ(exchange(file, ORVANE_IOCTL_GET_MIXER_GAINS, entries), 0u);
    return entries[0];
  }

  ORVANE_MIXER_CROSSPOINT readCrosspoint(SimFile& file, ORVANE_MIXER_PIN output, ORVANE_MIXER_PIN input) {
    std::vector<ORVANE_MIXER_CROSSPOINT> entries{{output, input, 0, 0, 0}};
    EXPECT_EQ(exchange(file, ORVANE_IOCTL_GET_MIXER_CROSSPOINTS, entries), 0u);
    return entries[0];
  }

  int16_t level(SimFile& file, uint32_t code, ORVANE_MIXER_PIN pin) {
    std::vector<ORVANE_MIXER_LEVEL> entries{{pin, 0, {0, 0}}};
    EXPECT_EQ(exchange(file, code, entries), 0u);
    return entries[0].level;
  }
};

TEST_F(Mixer, PinsPerSelectorComeFromTheConfiguration) {
  SimFile studio;
  attach(studio, 0);
  const std::vector<ORVANE_MIXER_PIN> outputs = pins(studio, ORVANE_MIXER_PINS_OUTPUTS);
  ASSERT_EQ(outputs.size(), 20u);
  EXPECT_EQ(outputs[0], pin(kLine, 0));
  EXPECT_EQ(outputs[15], pin(kLine, 15));
  EXPECT_EQ(outputs[16], pin(kSpdif, 0));
  EXPECT_EQ(outputs[19], pin(kVirtual, 1));
  const std::vector<ORVANE_MIXER_PIN> monitor = pins(studio, ORVANE_MIXER_PINS_MONITOR_INPUTS);
  ASSERT_EQ(monitor.size(), 18u);
  EXPECT_EQ(monitor[17], pin(kSpdif, 1));
  const std::vector<ORVANE_MIXER_PIN> playback = pins(studio, ORVANE_MIXER_PINS_PLAYBACK_INPUTS);
  ASSERT_EQ(playback.size(), 18u);
  EXPECT_EQ(playback[0], pin(kPlaybackLine, 0));
  EXPECT_EQ(playback[16], pin(kPlaybackSpdif, 0));

  uint32_t status = 0;
  EXPECT_TRUE(pins(studio, 3, &status).empty());
  EXPECT_EQ(status, ORVANE_STATUS_INVALID_PARAMETER);

  // Room for fewer pins than there are.
  uint32_t selector = ORVANE_MIXER_PINS_OUTPUTS;
  ORVANE_MIXER_PIN few[4] = {};
  EXPECT_EQ(studio.control(ORVANE_IOCTL_GET_MIXER_PINS, &selector, 4, few, sizeof few),
            ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);

  // A device without a mixer has no pins.
  SimFile mini;
  attach(mini, 1);
  for (uint32_t s = 0; s < 3; ++s) EXPECT_TRUE(pins(mini, s, &status).empty()) << s;
  EXPECT_EQ(status, 0u);
}

TEST_F(Mixer, GainsAreKeptPerDeviceAndLimited) {
  SimFile first;
  SimFile second;
  attach(first, 0);
  attach(second, 0);
  EXPECT_EQ(readGain(first, pin(kLine, 3)).gain, 0);
  EXPECT_EQ(readGain(first, pin(kLine, 3)).flags, 0);

  std::vector<ORVANE_MIXER_GAIN> set{{pin(kLine, 3), 0, ORVANE_MIXER_GAIN_MUTE, -1250},
                                     {pin(kSpdif, 1), 0, 0xFE, 2000},        // only the mute bit counts
                                     {pin(kVirtual, 0), 0, 0, INT16_MIN}};  // below the floor
  ASSERT_EQ(exchange(first, ORVANE_IOCTL_SET_MIXER_GAINS, set), 0u);
  EXPECT_EQ(set[1].flags, 0);
  EXPECT_EQ(set[1].gain, 600);  // the answer holds what was stored
  EXPECT_EQ(set[2].gain, -12800);

  const ORVANE_MIXER_GAIN muted = readGain(second, pin(kLine, 3));
  EXPECT_EQ(muted.flags, ORVANE_MIXER_GAIN_MUTE);
  EXPECT_EQ(muted.gain, -1250);
  EXPECT_EQ(readGain(second, pin(kSpdif, 1)).gain, 600);
  EXPECT_EQ(readGain(second, pin(kLine, 2)).gain, 0);  // untouched

  // Another device's mixer is its own.
  SimFile mini;
  attach(mini, 1);
  std::vector<ORVANE_MIXER_GAIN> none;
  EXPECT_EQ(exchange(mini, ORVANE_IOCTL_GET_MIXER_GAINS, none), 0u);
}

TEST_F(Mixer, UnknownPinsAndBadSizesChangeNothing) {
  SimFile studio;
  attach(studio, 0);
  struct Case {
    ORVANE_MIXER_PIN pin;
    const char* why;
  };
  const Case unknown[] = {
      {pin(kLine, 16), "beyond the configured channels"},
      {pin(kPlaybackLine, 0), "an input pin is no output"},
      {pin(9, 0), "unknown port type"},
  };
  for (const Case& c : unknown) {
    // A valid entry first: nothing of the request may be applied.
    std::vector<ORVANE_MIXER_GAIN> entries{{pin(kLine, 0), 0, 0, -300}, {c.pin, 0, 0, -300}};
    EXPECT_EQ(exchange(studio, ORVANE_IOCTL_SET_MIXER_GAINS, entries), ORVANE_STATUS_OBJECT_NOT_FOUND) << c.why;
    EXPECT_EQ(exchange(studio, ORVANE_IOCTL_GET_MIXER_GAINS, entries), ORVANE_STATUS_OBJECT_NOT_FOUND) << c.why;
    std::vector<ORVANE_MIXER_LEVEL> levels{{c.pin, 0, {0, 0}}};
    EXPECT_EQ(exchange(studio, ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, levels), ORVANE_STATUS_OBJECT_NOT_FOUND)
        << c.why;
  }
  EXPECT_EQ(readGain(studio, pin(kLine, 0)).gain, 0);

  std::vector<ORVANE_MIXER_CROSSPOINT> swapped{{pin(kPlaybackLine, 0), pin(kLine, 0), 0, 1, 0}};
  EXPECT_EQ(exchange(studio, ORVANE_IOCTL_SET_MIXER_CROSSPOINTS, swapped), ORVANE_STATUS_OBJECT_NOT_FOUND);
  std::vector<ORVANE_MIXER_LEVEL> outputAsInput{{pin(kVirtual, 0), 0, {0, 0}}};
  EXPECT_EQ(exchange(studio, ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, outputAsInput), ORVANE_STATUS_OBJECT_NOT_FOUND);

  // Sizes that are no whole number of entries, or answers of another size.
  uint8_t buffer[64] = {};
  EXPECT_EQ(studio.control(ORVANE_IOCTL_SET_MIXER_GAINS, buffer, 12, buffer, 12), ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  EXPECT_EQ(studio.control(ORVANE_IOCTL_GET_MIXER_CROSSPOINTS, buffer, 24, buffer, 12),
            ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
  EXPECT_EQ(studio.control(ORVANE_IOCTL_GET_MIXER_PINS, buffer, 2, buffer, 64), ORVANE_STATUS_INVALID_INBUFFER_SIZE);

  // Without an attached device.
  SimFile loose;
  std::vector<ORVANE_MIXER_GAIN> entries{{pin(kLine, 0), 0, 0, 0}};
  EXPECT_EQ(exchange(loose, ORVANE_IOCTL_GET_MIXER_GAINS, entries), ORVANE_STATUS_NO_DEVICE);
}

TEST_F(Mixer, CrosspointsDefaultToPlaybackOnItsOwnOutput) {
  SimFile studio;
  attach(studio, 0);
  const ORVANE_MIXER_CROSSPOINT own = readCrosspoint(studio, pin(kLine, 5), pin(kPlaybackLine, 5));
  EXPECT_EQ(own.flags, ORVANE_MIXER_CROSSPOINT_ON);
  EXPECT_EQ(own.gain, 0);
  EXPECT_EQ(readCrosspoint(studio, pin(kSpdif, 1), pin(kPlaybackSpdif, 1)).flags, ORVANE_MIXER_CROSSPOINT_ON);
  EXPECT_EQ(readCrosspoint(studio, pin(kLine, 5), pin(kPlaybackLine, 6)).flags, 0);
  EXPECT_EQ(readCrosspoint(studio, pin(kLine, 5), pin(kLine, 5)).flags, 0);  // no monitoring by default

  std::vector<ORVANE_MIXER_CROSSPOINT> set{{pin(kVirtual, 1), pin(kPlaybackLine, 1), -450, 0x81, 0x55}};
  ASSERT_EQ(exchange(studio, ORVANE_IOCTL_SET_MIXER_CROSSPOINTS, set), 0u);
  EXPECT_EQ(set[0].flags, ORVANE_MIXER_CROSSPOINT_ON);
  EXPECT_EQ(set[0].reserved, 0);
  SimFile other;
  attach(other, 0);
  const ORVANE_MIXER_CROSSPOINT stored = readCrosspoint(other, pin(kVirtual, 1), pin(kPlaybackLine, 1));
  EXPECT_EQ(stored.flags, ORVANE_MIXER_CROSSPOINT_ON);
  EXPECT_EQ(stored.gain, -450);
}

TEST_F(Mixer, ChangesAreAnnouncedToTheOtherConnectionsOnly) {
  const ORVANE_DEVICE_ID studioId = deviceId(0);
  Client sender(ORVANE_CLIENT_TYPE_PANEL);
  Client other(ORVANE_CLIENT_TYPE_PANEL);
  ASSERT_EQ(sender.registerStatus, 0u);
  ASSERT_EQ(other.registerStatus, 0u);
  attach(sender, 0);
  attach(other, 0);
  drainWithPayload(sender);
  drainWithPayload(other);

  std::vector<ORVANE_MIXER_GAIN> gains{{pin(kLine, 0), 0, 0, -600}, {pin(kLine, 1), 0, 0, -600}};
  ASSERT_EQ(exchange(sender, ORVANE_IOCTL_SET_MIXER_GAINS, gains), 0u);
  ASSERT_TRUE(other.waitNotification());
  EXPECT_TRUE(hasDeviceNotification(drainWithPayload(other), ORVANE_MSG_CODE_MIXER_GAINS_CHANGED, studioId));
  EXPECT_TRUE(drainWithPayload(sender).empty());
  EXPECT_EQ(readGain(other, pin(kLine, 1)).gain, -600);  // read back on the other connection

  // The same values again change nothing and say nothing.
  ASSERT_EQ(exchange(sender, ORVANE_IOCTL_SET_MIXER_GAINS, gains), 0u);
  EXPECT_TRUE(drainWithPayload(other).empty());

  std::vector<ORVANE_MIXER_CROSSPOINT> crosspoints{{pin(kLine, 0), pin(kLine, 0), 0, ORVANE_MIXER_CROSSPOINT_ON, 0}};
  ASSERT_EQ(exchange(sender, ORVANE_IOCTL_SET_MIXER_CROSSPOINTS, crosspoints), 0u);
  EXPECT_TRUE(hasDeviceNotification(drainWithPayload(other), ORVANE_MSG_CODE_MIXER_CROSSPOINTS_CHANGED, studioId));
  EXPECT_TRUE(drainWithPayload(sender).empty());

  ASSERT_EQ(sender.send(ORVANE_IOCTL_SET_DEVICE_SETUP, ORVANE_DEVICE_SETUP{0, ORVANE_PORT_TYPE_VIRTUAL, {}}), 0u);
  EXPECT_TRUE(hasDeviceNotification(drainWithPayload(other), ORVANE_MSG_CODE_MIXER_LAYOUT_CHANGED, studioId));
  EXPECT_TRUE(drainWithPayload(sender).empty());
}

TEST_F(Mixer, DeviceSetupSwitchesTheLoopbackPins) {
  SimFile service;
  attach(service, 0);
  // What the service sends when it attaches: the loopback path on, then the
  // first two playback channels routed to the loopback outputs.
  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_DEVICE_SETUP,
                         ORVANE_DEVICE_SETUP{ORVANE_DEVICE_SETUP_FIRST_WORD, ORVANE_DEVICE_SETUP_SECOND_WORD, {}}),
            0u);
  std::vector<ORVANE_MIXER_CROSSPOINT> loopback{
      {pin(kVirtual, 0), pin(kPlaybackLine, 0), 0, ORVANE_MIXER_CROSSPOINT_ON, 0},
      {pin(kVirtual, 1), pin(kPlaybackLine, 1), 0, ORVANE_MIXER_CROSSPOINT_ON, 0}};
  ASSERT_EQ(exchange(service, ORVANE_IOCTL_SET_MIXER_CROSSPOINTS, loopback), 0u);
  EXPECT_EQ(pins(service, ORVANE_MIXER_PINS_OUTPUTS).size(), 20u);

  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_DEVICE_SETUP, ORVANE_DEVICE_SETUP{0, ORVANE_PORT_TYPE_VIRTUAL, {}}), 0u);
  EXPECT_EQ(pins(service, ORVANE_MIXER_PINS_OUTPUTS).size(), 18u);
  EXPECT_EQ(exchange(service, ORVANE_IOCTL_GET_MIXER_CROSSPOINTS, loopback), ORVANE_STATUS_OBJECT_NOT_FOUND);

  // Switched on again, the crosspoints are as they were.
  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_DEVICE_SETUP, ORVANE_DEVICE_SETUP{1, ORVANE_PORT_TYPE_VIRTUAL, {}}), 0u);
  ASSERT_EQ(exchange(service, ORVANE_IOCTL_GET_MIXER_CROSSPOINTS, loopback), 0u);
  EXPECT_EQ(loopback[1].flags, ORVANE_MIXER_CROSSPOINT_ON);

  for (const ORVANE_DEVICE_SETUP& bad : {ORVANE_DEVICE_SETUP{2, ORVANE_PORT_TYPE_VIRTUAL, {}},
                                         ORVANE_DEVICE_SETUP{1, ORVANE_PORT_TYPE_I2S, {}}}) {
    EXPECT_EQ(service.send(ORVANE_IOCTL_SET_DEVICE_SETUP, bad), ORVANE_STATUS_INVALID_PARAMETER);
  }
  EXPECT_EQ(service.control(ORVANE_IOCTL_SET_DEVICE_SETUP, &loopback[0], 8, nullptr, 0),
            ORVANE_STATUS_INVALID_INBUFFER_SIZE);
}

// A constant sample of half full scale peaks at 20·log10(0.5) = -6.02 dB.
constexpr int32_t kHalfScale = 1 << 30;
constexpr int16_t kHalfScaleLevel = -602;

TEST_F(Mixer, LevelsFollowTheSamplesAnAsioStreamLoops) {
  SimFile service;
  SimFile panel;
  attach(panel, 0);
  ORVANE_CHANNEL_LIST inputs{};
  ORVANE_CHANNEL_LIST outputs{};
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_INPUT_CHANNELS, &inputs), 0u);
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_OUTPUT_CHANNELS, &outputs), 0u);

  // Before anything streams, every level is silent.
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, pin(kPlaybackLine, 0)), kSilent);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, pin(kLine, 0)), kSilent);

  bringUp(service);
  AsioClient asio(64);
  ASSERT_EQ(asio.createBuffers(), 0u);
  int32_t* played = asio.addChannel(channelAt(outputs, 0));  // OUT 01
  asio.addChannel(channelAt(inputs, 0));                      // IN 01 loops OUT 01 back
  std::fill(played, played + 2 * asio.frames(), kHalfScale);
  ASSERT_EQ(asio.start(), 0u);

  ASSERT_TRUE(eventually([&] {
    return level(panel, ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, pin(kLine, 0)) > kSilent;
  }));
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, pin(kPlaybackLine, 0)), kHalfScaleLevel);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, pin(kLine, 0)), kHalfScaleLevel);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, pin(kLine, 0)), kHalfScaleLevel);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, pin(kLine, 1)), kSilent);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, pin(kLine, 1)), kSilent);

  // The output gain lowers the output level; monitoring the input as well
  // doubles the amplitude (+6.02 dB).
  std::vector<ORVANE_MIXER_GAIN> gain{{pin(kLine, 0), 0, 0, -600}};
  ASSERT_EQ(exchange(panel, ORVANE_IOCTL_SET_MIXER_GAINS, gain), 0u);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, pin(kLine, 0)), kHalfScaleLevel - 600);
  std::vector<ORVANE_MIXER_CROSSPOINT> monitor{{pin(kLine, 0), pin(kLine, 0), 0, ORVANE_MIXER_CROSSPOINT_ON, 0}};
  ASSERT_EQ(exchange(panel, ORVANE_IOCTL_SET_MIXER_CROSSPOINTS, monitor), 0u);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, pin(kLine, 0)), -600);
  gain[0].flags = ORVANE_MIXER_GAIN_MUTE;
  ASSERT_EQ(exchange(panel, ORVANE_IOCTL_SET_MIXER_GAINS, gain), 0u);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, pin(kLine, 0)), kSilent);

  // A stopped stream moves nothing, so its channels fall silent.
  ASSERT_EQ(asio.stop(), 0u);
  EXPECT_EQ(level(panel, ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, pin(kPlaybackLine, 0)), kSilent);
}

}  // namespace
