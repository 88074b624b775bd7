// The request wrappers against the simulated kernel driver, which checks every
// request's buffer sizes against the request table: each wrapper is sent once
// on the connection it belongs to, and the wrappers that prefill or clear
// fields are checked for it.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "device-access/orvane_api_context.h"
#include "device-access/orvane_driver.h"
#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "tests/support/simulated_driver.h"

namespace {

using sim_testing::DeviceSpec;
using sim_testing::kPanelLink;

class OrvaneWrappersTest : public sim_testing::SimulatedDriverTest {
 protected:
  std::vector<DeviceSpec> configuredDevices() const override {
    DeviceSpec plugged{"QTWRAP", "Quintor Wrappers"};
    plugged.moreLines =
        "spdif_inputs = 2\nspdif_outputs = 2\nspdif_input = locked pcm 48000\necho_plugin = yes\n"
        "mixer_outputs = 0:4 1:2\nmixer_monitor_inputs = 0:4\nmixer_playback_inputs = 2:4\n";
    return {plugged};
  }

  void SetUp() override {
    SimulatedDriverTest::SetUp();
    ASSERT_EQ(driver.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
    bool changed = false;
    ASSERT_EQ(driver.updateDeviceList(changed), 0u);
    ASSERT_EQ(driver.deviceCount(), 1u);
    device = driver.deviceAt(0);
  }

  OrvaneDriver driver;
  OrvaneDevice* device = nullptr;
};

template <typename Record>
Record filled(uint8_t byte = 0xA5) {
  Record record;
  std::memset(&record, byte, sizeof record);
  return record;
}

struct WrapperCase {
  const char* name;
  bool onDevice;
  std::function<uint32_t(OrvaneApiContext&)> call;
};

TEST_F(OrvaneWrappersTest, EveryWrapperPassesSizesTheKernelDriverAccepts) {
  ORVANE_MIXER_PIN outputPins[ORVANE_MIXER_MAX_OUTPUT_PINS];
  uint32_t outputPinCount = 0;
  ASSERT_EQ(device->ioctlGetMixerPins(ORVANE_MIXER_PINS_OUTPUTS, outputPins, ORVANE_MIXER_MAX_OUTPUT_PINS,
                                      outputPinCount),
            0u);
  ORVANE_MIXER_PIN inputPins[ORVANE_MIXER_MAX_INPUT_PINS];
  uint32_t inputPinCount = 0;
  ASSERT_EQ(device->ioctlGetMixerPins(ORVANE_MIXER_PINS_MONITOR_INPUTS, inputPins, ORVANE_MIXER_MAX_INPUT_PINS,
                                      inputPinCount),
            0u);
  ASSERT_GT(outputPinCount, 0u);
  ASSERT_GT(inputPinCount, 0u);

  ORVANE_CHANNEL_LIST inputs;
  ASSERT_EQ(driver.ioctlGetInputChannels(inputs), 0u);
  const uint64_t channel = inputs.channelIds[0];

  // clang-format off
  const WrapperCase cases[] = {
    {"get driver info", false, [](auto& c) { ORVANE_DRIVER_INFO r; return c.ioctlGetDriverInfo(r); }},
    {"get trace mask", false, [](auto& c) { uint32_t m; return c.ioctlGetTraceMask(m); }},
    {"set trace mask", false, [](auto& c) { return c.ioctlSetTraceMask(0x5); }},
    {"save trace mask", false, [](auto& c) { return c.ioctlSaveTraceMask(); }},
    {"read message", false, [](auto& c) { ORVANE_MESSAGE m; return c.ioctlReadMessage(m); }},
    {"read notification", false, [](auto& c) { ORVANE_MESSAGE m; return c.ioctlReadNotification(m); }},
    {"set events", false, [](auto& c) { return c.ioctlSetEvents(ORVANE_EVENT_HANDLES{}); }},
    {"get device list", false, [](auto& c) { ORVANE_DEVICE_LIST r; return c.ioctlGetDeviceList(r); }},
    {"get input channels", false, [](auto& c) { ORVANE_CHANNEL_LIST r; return c.ioctlGetInputChannels(r); }},
    {"get output channels", false, [](auto& c) { ORVANE_CHANNEL_LIST r; return c.ioctlGetOutputChannels(r); }},
    {"get channel info", false, [&](auto& c) { ORVANE_CHANNEL_INFO r; return c.ioctlGetChannelInfo(channel, r); }},
    {"get sample rates", false, [](auto& c) { ORVANE_SAMPLE_RATES r; return c.ioctlGetSampleRates(r); }},
    {"get buffer sizes", false, [](auto& c) { ORVANE_BUFFER_SIZES r; return c.ioctlGetBufferSizes(r); }},
    {"get streaming status", false, [](auto& c) { ORVANE_STREAMING_STATUS r; return c.ioctlGetStreamingStatus(r); }},
    {"get status counters", false, [](auto& c) { ORVANE_STATUS_COUNTERS r; return c.ioctlGetStatusCounters(r); }},
    {"streaming control", false, [](auto& c) { return c.ioctlStreamingControl(ORVANE_STREAMING_COMMAND_SHUTDOWN); }},
    {"set sample rate", false, [](auto& c) { return c.ioctlSetSampleRate(48000); }},
    {"set buffer sizes", false, [](auto& c) { return c.ioctlSetBufferSizes({2, 1, 0}); }},
    {"preset sample rate", false, [](auto& c) { return c.ioctlPresetSampleRate(48000); }},
    {"set streaming device", false, [](auto& c) {
       return c.ioctlSetStreamingDevice({{0, 0}, ORVANE_STREAMING_MODE_ALL_DEVICES}); }},
    {"get statistics", false, [](auto& c) {
       auto statistics = std::make_unique<ORVANE_STATISTICS>();
       return c.ioctlGetStatistics(false, *statistics); }},
    {"asio get settings", false, [](auto& c) { ORVANE_ASIO_SETTINGS r; return c.ioctlAsioGetSettings(r); }},
    {"asio get channels", false, [](auto& c) { ORVANE_CHANNEL_LIST_PAIR r; return c.ioctlAsioGetChannels(r); }},
    {"asio get channel info", false, [&](auto& c) {
       ORVANE_CHANNEL_INFO r; return c.ioctlAsioGetChannelInfo(channel, r); }},
    {"asio get latencies", false, [](auto& c) { ORVANE_ASIO_LATENCIES r; return c.ioctlAsioGetLatencies(r); }},
    {"asio acquire channel", false, [&](auto& c) { return c.ioctlAsioAcquireChannel(channel); }},
    {"asio release channel", false, [&](auto& c) { return c.ioctlAsioReleaseChannel(channel); }},
    {"asio create buffers", false, [](auto& c) { return c.ioctlAsioCreateBuffers(ORVANE_ASIO_CREATE_BUFFERS{}); }},
    {"asio set channel buffers", false, [](auto& c) {
       return c.ioctlAsioSetChannelBuffers(ORVANE_ASIO_CHANNEL_BUFFERS{}); }},
    {"asio start", false, [](auto& c) { return c.ioctlAsioStart(); }},
    {"asio stop", false, [](auto& c) { return c.ioctlAsioStop(); }},
    {"asio dispose buffers", false, [](auto& c) { return c.ioctlAsioDisposeBuffers(); }},
    {"attach device", true, [&](auto& c) { return c.ioctlAttachDevice(device->deviceId()); }},
    {"get port config", true, [](auto& c) {
       auto config = std::make_unique<ORVANE_PORT_CONFIG>(); return c.ioctlGetPortConfig(*config); }},
    {"set device setup", true, [](auto& c) {
       ORVANE_DEVICE_SETUP setup{ORVANE_DEVICE_SETUP_FIRST_WORD, ORVANE_DEVICE_SETUP_SECOND_WORD, {}};
       return c.ioctlSetDeviceSetup(setup); }},
    {"set channel names", true, [](auto& c) {
       auto names = std::make_unique<ORVANE_CHANNEL_NAME_TABLE>(); return c.ioctlSetChannelNames(*names); }},
    {"set sound device names", true, [](auto& c) {
       auto table = std::make_unique<ORVANE_SOUND_DEVICE_TABLE>(); return c.ioctlSetSoundDeviceNames(*table); }},
    {"get spdif input status", true, [](auto& c) {
       ORVANE_SPDIF_INPUT_STATUS r{}; return c.ioctlGetSpdifInputStatus(r); }},
    {"set spdif pass through", true, [](auto& c) { return c.ioctlSetSpdifPassThrough({0, 0, 1}); }},
    {"get spdif pass through", true, [](auto& c) { ORVANE_SPDIF_PASS_THROUGH r{}; return c.ioctlGetSpdifPassThrough(r); }},
    {"get mixer input levels", true, [&](auto& c) {
       std::vector<ORVANE_MIXER_LEVEL> levels(inputPinCount);
       for (uint32_t i = 0; i < inputPinCount; ++i) levels[i].pin = inputPins[i];
       return c.ioctlGetMixerInputLevels(levels.data(), inputPinCount); }},
    {"get mixer output levels", true, [&](auto& c) {
       std::vector<ORVANE_MIXER_LEVEL> levels(outputPinCount);
       for (uint32_t i = 0; i < outputPinCount; ++i) levels[i].pin = outputPins[i];
       return c.ioctlGetMixerOutputLevels(levels.data(), outputPinCount); }},
    {"get mixer pins", true, [](auto& c) {
       ORVANE_MIXER_PIN pins[ORVANE_MIXER_MAX_INPUT_PINS]; uint32_t n = 0;
       return c.ioctlGetMixerPins(ORVANE_MIXER_PINS_PLAYBACK_INPUTS, pins, ORVANE_MIXER_MAX_INPUT_PINS, n); }},
    {"get mixer gains", true, [&](auto& c) {
       ORVANE_MIXER_GAIN gains[2] = {{outputPins[0], 0, 0, 0}, {outputPins[1], 0, 0, 0}};
       return c.ioctlGetMixerGains(gains, 2); }},
    {"set mixer gains", true, [&](auto& c) {
       ORVANE_MIXER_GAIN gains[1] = {{outputPins[0], 0, 0, -600}};
       return c.ioctlSetMixerGains(gains, 1); }},
    {"get mixer crosspoints", true, [&](auto& c) {
       ORVANE_MIXER_CROSSPOINT points[1] = {{outputPins[0], inputPins[0], 0, 0, 0}};
       return c.ioctlGetMixerCrosspoints(points, 1); }},
    {"set mixer crosspoints", true, [&](auto& c) {
       ORVANE_MIXER_CROSSPOINT points[1] = {{outputPins[0], inputPins[0], -1200, ORVANE_MIXER_CROSSPOINT_ON, 0}};
       return c.ioctlSetMixerCrosspoints(points, 1); }},
    {"set bypass volume", true, [](auto& c) { return c.ioctlSetBypassVolume(true); }},
    {"get bypass volume", true, [](auto& c) { uint8_t on; return c.ioctlGetBypassVolume(on); }},
    {"set bypass mute", true, [](auto& c) { return c.ioctlSetBypassMute(true); }},
    {"get bypass mute", true, [](auto& c) { uint8_t on; return c.ioctlGetBypassMute(on); }},
    {"get mixer strip", true, [](auto& c) {
       ORVANE_SOUND_DEVICE_VOLUME v; return c.ioctlGetMixerStrip(ORVANE_SOUND_DEVICE_PLAYBACK, 0, v); }},
    {"set mixer strip", true, [](auto& c) {
       ORVANE_SOUND_DEVICE_VOLUME v{}; v.direction = ORVANE_SOUND_DEVICE_PLAYBACK; return c.ioctlSetMixerStrip(v); }},
    {"get plugin parameters", true, [](auto& c) {
       ORVANE_PLUGIN_PARAMETERS p{}; p.selector = ORVANE_PLUGIN_OUTPUT_CHANNEL_COUNT;
       return c.ioctlGetPluginParameters(&p, sizeof p); }},
    {"set plugin parameters", true, [](auto& c) {
       ORVANE_PLUGIN_PARAMETERS p{}; p.selector = ORVANE_PLUGIN_DELAY; p.answerOrPairCount = 1;
       p.pairs[0] = {0, 100};
       return c.ioctlSetPluginParameters(&p, sizeof p); }},
    {"set port parameter", true, [](auto& c) { return c.ioctlSetPortParameter({0, 8}); }},
    {"set port state", true, [](auto& c) { return c.ioctlSetPortState({0, 0}); }},
  };
  // clang-format on
  for (const WrapperCase& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t status = c.call(c.onDevice ? static_cast<OrvaneApiContext&>(*device) : driver);
    EXPECT_NE(status, ORVANE_STATUS_INVALID_INBUFFER_SIZE);
    EXPECT_NE(status, ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
    EXPECT_NE(status, ORVANE_STATUS_INVALID_IOCTL);
    EXPECT_NE(status, ORVANE_STATUS_NO_DEVICE);
    EXPECT_NE(status, ORVANE_STATUS_NOT_OPENED);
  }

  // The message wrapper sends the header and the payload only.
  ORVANE_MESSAGE request;
  initMessage(request, ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_DSD_MODE);
  ASSERT_EQ(setPayload(request, uint8_t{1}), 0u);
  EXPECT_EQ(driver.ioctlSendMessage(request), ORVANE_STATUS_NO_SERVER);
  EXPECT_EQ(driver.ioctlRegisterClient(ORVANE_CLIENT_TYPE_PANEL), ORVANE_STATUS_ALREADY_DONE);
}

TEST_F(OrvaneWrappersTest, SpdifInputStatusSendsTheSelectorWithClearedResultWords) {
  auto status = filled<ORVANE_SPDIF_INPUT_STATUS>();
  status.selector = 0;
  ASSERT_EQ(device->ioctlGetSpdifInputStatus(status), 0u);
  EXPECT_EQ(status.selector, 0u);
  EXPECT_EQ(status.inputState, ORVANE_SPDIF_INPUT_LOCKED);
  EXPECT_EQ(status.signalFormat, ORVANE_SPDIF_FORMAT_PCM);
  EXPECT_EQ(status.sampleRate, 48000u);

  status.selector = 7;
  EXPECT_EQ(device->ioctlGetSpdifInputStatus(status), ORVANE_STATUS_OBJECT_NOT_FOUND);
}

TEST_F(OrvaneWrappersTest, SpdifPassThroughAndBypassReadBackWhatWasSet) {
  for (const uint32_t value : {1u, 0u}) {
    ASSERT_EQ(device->ioctlSetSpdifPassThrough({0, 0, value}), 0u);
    auto passThrough = filled<ORVANE_SPDIF_PASS_THROUGH>();
    passThrough.firstSelector = 0;
    passThrough.secondSelector = 0;
    ASSERT_EQ(device->ioctlGetSpdifPassThrough(passThrough), 0u);
    EXPECT_EQ(passThrough.passThrough, value);
  }

  uint8_t on = 0xFF;
  ASSERT_EQ(device->ioctlGetBypassVolume(on), 0u);
  EXPECT_EQ(on, 0);
  ASSERT_EQ(device->ioctlSetBypassVolume(true), 0u);
  ASSERT_EQ(device->ioctlGetBypassVolume(on), 0u);
  EXPECT_EQ(on, 1);
  on = 0xFF;
  ASSERT_EQ(device->ioctlGetBypassMute(on), 0u);
  EXPECT_EQ(on, 0);
}

TEST_F(OrvaneWrappersTest, BypassReadsPresetTheirByte) {
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_BYPASS_MUTE, ORVANE_STATUS_INTERNAL_ERROR, 0, 1), 0u);
  uint8_t on = 0xFF;
  EXPECT_EQ(device->ioctlGetBypassMute(on), ORVANE_STATUS_INTERNAL_ERROR);
  EXPECT_EQ(on, 0);
}

TEST_F(OrvaneWrappersTest, MixerPinsReportTheReturnedCount) {
  ORVANE_MIXER_PIN pins[ORVANE_MIXER_MAX_OUTPUT_PINS];
  uint32_t count = 0;
  ASSERT_EQ(device->ioctlGetMixerPins(ORVANE_MIXER_PINS_OUTPUTS, pins, ORVANE_MIXER_MAX_OUTPUT_PINS, count), 0u);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(pins[4].portType, ORVANE_MIXER_PORT_SPDIF);
  ASSERT_EQ(device->ioctlGetMixerPins(ORVANE_MIXER_PINS_MONITOR_INPUTS, pins, ORVANE_MIXER_MAX_INPUT_PINS, count), 0u);
  EXPECT_EQ(count, 4u);
  count = 99;
  EXPECT_EQ(device->ioctlGetMixerPins(9, pins, ORVANE_MIXER_MAX_INPUT_PINS, count), ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(count, 0u);
}

TEST_F(OrvaneWrappersTest, MixerStripClearsTheRecordAndSetsDirectionAndIndex) {
  auto volume = filled<ORVANE_SOUND_DEVICE_VOLUME>();
  ASSERT_EQ(device->ioctlGetMixerStrip(ORVANE_SOUND_DEVICE_PLAYBACK, 0, volume), 0u);
  EXPECT_EQ(volume.direction, ORVANE_SOUND_DEVICE_PLAYBACK);
  EXPECT_EQ(volume.soundDeviceIndex, 0u);

  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_MIXER_STRIP, ORVANE_STATUS_INTERNAL_ERROR, 0, 1), 0u);
  volume = filled<ORVANE_SOUND_DEVICE_VOLUME>();
  EXPECT_EQ(device->ioctlGetMixerStrip(ORVANE_SOUND_DEVICE_PLAYBACK, 3, volume), ORVANE_STATUS_INTERNAL_ERROR);
  EXPECT_EQ(volume.direction, ORVANE_SOUND_DEVICE_PLAYBACK);
  EXPECT_EQ(volume.soundDeviceIndex, 3u);
  for (uint32_t mute : volume.mute) EXPECT_EQ(mute, 0u);
}

TEST_F(OrvaneWrappersTest, SampleRatesAndBufferSizesAreZeroedBeforeTheRead) {
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_SAMPLE_RATES, ORVANE_STATUS_INTERNAL_ERROR, 0, 1), 0u);
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_BUFFER_SIZES, ORVANE_STATUS_INTERNAL_ERROR, 0, 1), 0u);
  auto rates = filled<ORVANE_SAMPLE_RATES>();
  EXPECT_EQ(driver.ioctlGetSampleRates(rates), ORVANE_STATUS_INTERNAL_ERROR);
  EXPECT_EQ(rates.rateCount, 0u);
  EXPECT_EQ(rates.currentRate, 0u);
  auto sizes = filled<ORVANE_BUFFER_SIZES>();
  EXPECT_EQ(driver.ioctlGetBufferSizes(sizes), ORVANE_STATUS_INTERNAL_ERROR);
  EXPECT_EQ(sizes.thirdSetting, 0u);
  EXPECT_EQ(sizes.asioBufferSamples, 0u);
}

TEST_F(OrvaneWrappersTest, AReplugKeepsTheConnectionWorkingOnTheDevice) {
  const ORVANE_DEVICE_ID first = device->deviceId();
  ASSERT_EQ(control.unplug(first), 0u);
  DeviceSpec again = configuredDevices()[0];
  const ORVANE_DEVICE_ID second = control.plug(again);
  bool changed = true;
  ASSERT_EQ(driver.updateDeviceList(changed), 0u);
  EXPECT_FALSE(changed);
  ASSERT_EQ(driver.deviceAt(0), device);
  EXPECT_EQ(device->deviceId(), second);
  // Its requests reach the device under its new identifier.
  ASSERT_EQ(device->ioctlSetBypassVolume(true), 0u);
  uint8_t on = 0;
  ASSERT_EQ(device->ioctlGetBypassVolume(on), 0u);
  EXPECT_EQ(on, 1);
}

}  // namespace
