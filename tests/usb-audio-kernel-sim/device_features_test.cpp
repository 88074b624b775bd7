// The device page's requests over the real transport: S/PDIF input status
// and pass-through, the mixer bypasses, and the echo plug-in's parameters.

#include <memory>

#include "tests/usb-audio-kernel-sim/feature_test_support.h"

using namespace feature_testing;

namespace {

class DeviceFeatures : public FeatureTest {};

TEST_F(DeviceFeatures, SpdifInputStatusFollowsTheDevicesInput) {
  SimFile studio;
  attach(studio, 0);
  ORVANE_SPDIF_INPUT_STATUS status{};
  ASSERT_EQ(studio.query(ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, ORVANE_SPDIF_INPUT_STATUS{0, 0, 0, 0}, &status), 0u);
  EXPECT_EQ(status.inputState, ORVANE_SPDIF_INPUT_LOCKED);
  EXPECT_EQ(status.signalFormat, ORVANE_SPDIF_FORMAT_PCM);
  EXPECT_EQ(status.sampleRate, 48000u);

  struct Case {
    usbaudio_sim::SIM_SPDIF_INPUT input;
    ORVANE_SPDIF_INPUT_STATUS expected;
  };
  const usbaudio_sim::SIM_DEVICE_SELECTOR first{0, 0, {}};
  const Case cases[] = {
      {{first, ORVANE_SPDIF_INPUT_NO_SIGNAL, 0, 0, 0}, {0, ORVANE_SPDIF_INPUT_NO_SIGNAL, 0, 0}},
      {{first, ORVANE_SPDIF_INPUT_LOCKED, ORVANE_SPDIF_FORMAT_NON_PCM, 0, 0},
       {0, ORVANE_SPDIF_INPUT_LOCKED, ORVANE_SPDIF_FORMAT_NON_PCM, 0}},
      {{first, ORVANE_SPDIF_INPUT_LOCKED, ORVANE_SPDIF_FORMAT_PCM, 96000, 0},
       {0, ORVANE_SPDIF_INPUT_LOCKED, ORVANE_SPDIF_FORMAT_PCM, 96000}},
      // A format or rate without a lock is not reported.
      {{first, ORVANE_SPDIF_INPUT_SYNCHRONIZING, ORVANE_SPDIF_FORMAT_PCM, 44100, 0},
       {0, ORVANE_SPDIF_INPUT_SYNCHRONIZING, 0, 0}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_SET_SPDIF_INPUT, c.input), 0u);
    ASSERT_EQ(studio.query(ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, ORVANE_SPDIF_INPUT_STATUS{0, 0, 0, 0}, &status), 0u);
    EXPECT_EQ(status.inputState, c.expected.inputState);
    EXPECT_EQ(status.signalFormat, c.expected.signalFormat);
    EXPECT_EQ(status.sampleRate, c.expected.sampleRate);
  }

  // One S/PDIF port; a device without S/PDIF has none (the page shows "SPDIF not available").
  EXPECT_EQ(studio.query(ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, ORVANE_SPDIF_INPUT_STATUS{1, 0, 0, 0}, &status),
            ORVANE_STATUS_OBJECT_NOT_FOUND);
  SimFile mini;
  attach(mini, 1);
  EXPECT_EQ(mini.query(ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, ORVANE_SPDIF_INPUT_STATUS{0, 0, 0, 0}, &status),
            ORVANE_STATUS_OBJECT_NOT_FOUND);
  // In and out are one buffer of the same size.
  uint8_t big[32] = {};
  EXPECT_EQ(studio.control(ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, big, 16, big, 32), ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
}

TEST_F(DeviceFeatures, PassThroughAndBypassesAreKeptAndAnnounced) {
  const ORVANE_DEVICE_ID studioId = deviceId(0);
  Client page(ORVANE_CLIENT_TYPE_PANEL);
  Client otherPanel(ORVANE_CLIENT_TYPE_PANEL);
  attach(page, 0);
  drainWithPayload(otherPanel);

  ORVANE_SPDIF_PASS_THROUGH passThrough{};
  ASSERT_EQ(page.query(ORVANE_IOCTL_GET_SPDIF_PASS_THROUGH, ORVANE_SPDIF_PASS_THROUGH{0, 0, 0}, &passThrough), 0u);
  EXPECT_EQ(passThrough.passThrough, 0u);
  ASSERT_EQ(page.send(ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH, ORVANE_SPDIF_PASS_THROUGH{0, 0, 1}), 0u);
  ASSERT_EQ(page.query(ORVANE_IOCTL_GET_SPDIF_PASS_THROUGH, ORVANE_SPDIF_PASS_THROUGH{0, 0, 0}, &passThrough), 0u);
  EXPECT_EQ(passThrough.passThrough, 1u);
  EXPECT_TRUE(hasDeviceNotification(drainWithPayload(otherPanel), ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED, studioId));

  const uint32_t switches[][2] = {{ORVANE_IOCTL_SET_BYPASS_VOLUME, ORVANE_IOCTL_GET_BYPASS_VOLUME},
                                  {ORVANE_IOCTL_SET_BYPASS_MUTE, ORVANE_IOCTL_GET_BYPASS_MUTE}};
  for (const auto& [set, get] : switches) {
    ORVANE_BYPASS_SWITCH value{7};
    ASSERT_EQ(page.get(get, &value), 0u);
    EXPECT_EQ(value.on, 0);
    ASSERT_EQ(page.send(set, ORVANE_BYPASS_SWITCH{1}), 0u);
    ASSERT_EQ(page.get(get, &value), 0u);
    EXPECT_EQ(value.on, 1);
    EXPECT_TRUE(hasDeviceNotification(drainWithPayload(otherPanel), ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED, studioId));
    ASSERT_EQ(page.send(set, ORVANE_BYPASS_SWITCH{1}), 0u);  // no change, no notification
    EXPECT_TRUE(drainWithPayload(otherPanel).empty());
    EXPECT_EQ(page.send(set, ORVANE_BYPASS_SWITCH{2}), ORVANE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(page.control(set, nullptr, 0, nullptr, 0), ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  }
  EXPECT_TRUE(drainWithPayload(page).empty());  // the sender hears nothing of its own changes

  // Mute bypass is independent of volume bypass and of the other device.
  SimFile mini;
  attach(mini, 1);
  ORVANE_BYPASS_SWITCH value{7};
  ASSERT_EQ(mini.get(ORVANE_IOCTL_GET_BYPASS_MUTE, &value), 0u);
  EXPECT_EQ(value.on, 0);
}

TEST_F(DeviceFeatures, PassThroughNeedsBothPortsAndAFlag) {
  SimFile studio;
  attach(studio, 0);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH, ORVANE_SPDIF_PASS_THROUGH{0, 0, 2}),
            ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH, ORVANE_SPDIF_PASS_THROUGH{1, 0, 1}),
            ORVANE_STATUS_OBJECT_NOT_FOUND);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH, ORVANE_SPDIF_PASS_THROUGH{0, 1, 1}),
            ORVANE_STATUS_OBJECT_NOT_FOUND);
  SimFile mini;
  attach(mini, 1);
  ORVANE_SPDIF_PASS_THROUGH answer{};
  EXPECT_EQ(mini.query(ORVANE_IOCTL_GET_SPDIF_PASS_THROUGH, ORVANE_SPDIF_PASS_THROUGH{0, 0, 0}, &answer),
            ORVANE_STATUS_OBJECT_NOT_FOUND);
}

ORVANE_PLUGIN_PARAMETERS pluginRecord(uint32_t selector, uint32_t countOrAnswer,
                                      std::initializer_list<ORVANE_PLUGIN_CHANNEL_VALUE> pairs = {}) {
  ORVANE_PLUGIN_PARAMETERS record{};
  record.selector = selector;
  record.answerOrPairCount = countOrAnswer;
  size_t n = 0;
  for (const ORVANE_PLUGIN_CHANNEL_VALUE& pair : pairs) record.pairs[n++] = pair;
  return record;
}

class Plugin : public FeatureTest {
 protected:
  void SetUp() override {
    FeatureTest::SetUp();
    studioFile = std::make_unique<SimFile>();  // the link exists once the driver runs
    attach(*studioFile, 0);
  }
  void TearDown() override {
    studioFile.reset();
    FeatureTest::TearDown();
  }
  uint32_t read(const ORVANE_PLUGIN_PARAMETERS& request, ORVANE_PLUGIN_PARAMETERS* answer) {
    return studioFile->query(ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, request, answer);
  }
  uint32_t write(const ORVANE_PLUGIN_PARAMETERS& request) {
    return studioFile->send(ORVANE_IOCTL_SET_PLUGIN_PARAMETERS, request);
  }
  std::unique_ptr<SimFile> studioFile;
};

TEST_F(Plugin, ChannelCountAndMaximumDelay) {
  ORVANE_PLUGIN_PARAMETERS answer{};
  ASSERT_EQ(read(pluginRecord(ORVANE_PLUGIN_OUTPUT_CHANNEL_COUNT, 0), &answer), 0u);
  EXPECT_EQ(answer.answerOrPairCount, 18u);  // 16 line and 2 S/PDIF outputs
  ASSERT_EQ(read(pluginRecord(ORVANE_PLUGIN_MAXIMUM_DELAY, 0), &answer), 0u);
  EXPECT_EQ(answer.answerOrPairCount, 500u);
}

TEST_F(Plugin, DelayAndAmplificationPerChannel) {
  // What the page writes for pair 3/4: both channels the same value.
  ASSERT_EQ(write(pluginRecord(ORVANE_PLUGIN_DELAY, 2, {{2, 470}, {3, 470}})), 0u);
  ASSERT_EQ(write(pluginRecord(ORVANE_PLUGIN_AMPLIFICATION, 2, {{2, 750}, {3, 1000}})), 0u);
  ORVANE_PLUGIN_PARAMETERS answer{};
  ASSERT_EQ(read(pluginRecord(ORVANE_PLUGIN_DELAY, 1, {{3, 0}}), &answer), 0u);
  EXPECT_EQ(answer.pairs[0].channel, 3u);
  EXPECT_EQ(answer.pairs[0].value, 470u);
  ASSERT_EQ(read(pluginRecord(ORVANE_PLUGIN_AMPLIFICATION, 2, {{2, 0}, {3, 0}}), &answer), 0u);
  EXPECT_EQ(answer.pairs[0].value, 750u);
  EXPECT_EQ(answer.pairs[1].value, 1000u);
  ASSERT_EQ(read(pluginRecord(ORVANE_PLUGIN_DELAY, 1, {{0, 0}}), &answer), 0u);
  EXPECT_EQ(answer.pairs[0].value, 0u);  // untouched channels keep 0
}

TEST_F(Plugin, BadRecordsAreRefusedAndChangeNothing) {
  struct Case {
    ORVANE_PLUGIN_PARAMETERS record;
    uint32_t status;
    const char* why;
  };
  const Case writes[] = {
      {pluginRecord(ORVANE_PLUGIN_DELAY, 2, {{0, 100}, {1, 501}}), ORVANE_STATUS_INVALID_PARAMETER, "delay too long"},
      {pluginRecord(ORVANE_PLUGIN_AMPLIFICATION, 1, {{0, 1001}}), ORVANE_STATUS_INVALID_PARAMETER, "amplification"},
      {pluginRecord(ORVANE_PLUGIN_DELAY, 2, {{0, 100}, {18, 100}}), ORVANE_STATUS_OBJECT_NOT_FOUND, "channel 18"},
      {pluginRecord(ORVANE_PLUGIN_DELAY, 3, {{0, 100}, {1, 100}}), ORVANE_STATUS_INVALID_PARAMETER, "three pairs"},
      {pluginRecord(ORVANE_PLUGIN_DELAY, 0), ORVANE_STATUS_INVALID_PARAMETER, "no pair"},
      {pluginRecord(ORVANE_PLUGIN_MAXIMUM_DELAY, 1000), ORVANE_STATUS_NOT_ALLOWED, "maximum delay"},
      {pluginRecord(ORVANE_PLUGIN_OUTPUT_CHANNEL_COUNT, 4), ORVANE_STATUS_NOT_ALLOWED, "channel count"},
      {pluginRecord(4, 1, {{0, 1}}), ORVANE_STATUS_INVALID_PARAMETER, "selector 4"},
  };
  for (const Case& c : writes) EXPECT_EQ(write(c.record), c.status) << c.why;
  ORVANE_PLUGIN_PARAMETERS answer{};
  ASSERT_EQ(read(pluginRecord(ORVANE_PLUGIN_DELAY, 1, {{0, 0}}), &answer), 0u);
  EXPECT_EQ(answer.pairs[0].value, 0u);  // the valid first pairs were not applied
  EXPECT_EQ(read(pluginRecord(ORVANE_PLUGIN_DELAY, 1, {{0x7FFFFFFF, 0}}), &answer), ORVANE_STATUS_OBJECT_NOT_FOUND);
  EXPECT_EQ(read(pluginRecord(9, 0), &answer), ORVANE_STATUS_INVALID_PARAMETER);

  // The requests carry the whole record.
  const ORVANE_PLUGIN_PARAMETERS record = pluginRecord(ORVANE_PLUGIN_MAXIMUM_DELAY, 0);
  EXPECT_EQ(studioFile->control(ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, &record, 24, &answer, 24),
            ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  EXPECT_EQ(studioFile->control(ORVANE_IOCTL_SET_PLUGIN_PARAMETERS, &record, 0, nullptr, 0),
            ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  EXPECT_EQ(studioFile->control(ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, &record, sizeof record, &answer, 24),
            ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);

  // A device without the plug-in.
  SimFile mini;
  attach(mini, 1);
  EXPECT_EQ(mini.query(ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, record, &answer), ORVANE_STATUS_NOT_SUPPORTED);
}

}  // namespace
