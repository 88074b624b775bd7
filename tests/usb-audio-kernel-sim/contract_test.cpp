// The core request families over the real transport: driver information and
// trace mask, devices and channels, rates and buffer sizes, the streaming
// engine's command table.

#include <algorithm>
#include <filesystem>

#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_statistics.h"
#include "platform/guid.h"
#include "platform/text.h"
#include "tests/usb-audio-kernel-sim/sim_test_support.h"

using namespace sim_testing;

namespace {

constexpr uint32_t kDown = ORVANE_STREAMING_STATE_DOWN;
constexpr uint32_t kReady = ORVANE_STREAMING_STATE_READY;
constexpr uint32_t kPrepared = ORVANE_STREAMING_STATE_PREPARED;
constexpr uint32_t kRunning = ORVANE_STREAMING_STATE_RUNNING;
constexpr uint32_t kError = ORVANE_STREAMING_STATE_ERROR;
constexpr uint32_t kUnsupported = ORVANE_STREAMING_STATE_UNSUPPORTED;

std::u16string text(const char16_t* field, size_t capacity) {
  return std::u16string(field, std::find(field, field + capacity, u'\0'));
}

class Contract : public SimDriverTest {};

TEST_F(Contract, EveryLinkOpensSeveralTimesAndReportsInterfaceVersion2) {
  for (const char16_t* link : {kPanelLink, kSpyLink, kAsioLink}) {
    SimFile first(link);
    SimFile second(link);
    ASSERT_TRUE(first.isOpen());
    ASSERT_TRUE(second.isOpen());
    ORVANE_DRIVER_INFO info{};
    ASSERT_EQ(first.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u);
    EXPECT_EQ(info.interfaceVersionMajor, 2u);
    EXPECT_EQ(info.interfaceVersionMinor, 1u);
    EXPECT_EQ(info.driverVersionMajor, 1u);
    EXPECT_EQ(info.flags, 0);
  }
  // The three links, the control link and one interface per plugged device.
  const auto interfaces = host.interfaces();
  EXPECT_EQ(interfaces.size(), 6u);
  for (const auto& info : interfaces) {
    if (info.linkName == usbaudio_sim::kControlLinkName || info.linkName.starts_with(u"USB#")) continue;
    platform::Guid parsed;
    ASSERT_TRUE(platform::parseGuid(std::u16string_view(info.linkName), &parsed));
    EXPECT_EQ(info.interfaceClass, parsed);
  }
}

class ConfiguredVersion : public SimDriverTest {
  void configureRegistry(const platform::RegistryKey& key) override {
    ASSERT_EQ(key.setString(u"DriverVersion", u"3.14.159"), 0u);
    ASSERT_EQ(key.setDword(u"DebugBuild", 1), 0u);
    ASSERT_EQ(key.setDword(u"InterfaceVersionMinor", 7), 0u);
    ASSERT_EQ(key.setDword(u"TraceMask", 0x30), 0u);
  }
};

TEST_F(ConfiguredVersion, DriverInfoAndTraceMaskComeFromTheParameters) {
  SimFile file(kSpyLink);
  ORVANE_DRIVER_INFO info{};
  ASSERT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u);
  EXPECT_EQ(info.interfaceVersionMajor, 2u);
  EXPECT_EQ(info.interfaceVersionMinor, 7u);
  EXPECT_EQ(info.driverVersionMajor, 3u);
  EXPECT_EQ(info.driverVersionMinor, 14u);
  EXPECT_EQ(info.driverVersionBuild, 159u);
  EXPECT_EQ(info.flags, ORVANE_DRIVER_FLAG_DEBUG_BUILD);
  ORVANE_TRACE_MASK mask{};
  ASSERT_EQ(file.get(ORVANE_IOCTL_GET_TRACE_MASK, &mask), 0u);
  EXPECT_EQ(mask.mask, 0x30u);
}

TEST_F(Contract, TraceMaskIsSetForEveryConnectionAndSavedInTheRegistry) {
  SimFile spy(kSpyLink);
  SimFile other(kPanelLink);
  ASSERT_EQ(spy.send(ORVANE_IOCTL_SET_TRACE_MASK, ORVANE_TRACE_MASK{0x8001}), 0u);
  ORVANE_TRACE_MASK mask{};
  ASSERT_EQ(other.get(ORVANE_IOCTL_GET_TRACE_MASK, &mask), 0u);
  EXPECT_EQ(mask.mask, 0x8001u);

  platform::RegistryKey key;
  const std::u16string path = u"System\\CurrentControlSet\\Services\\usbaudio_sim\\Parameters";
  ASSERT_EQ(platform::RegistryKey::open(platform::RegistryHive::LocalMachine, path, platform::KEY_READ, key), 0u);
  uint32_t stored = 0;
  EXPECT_NE(key.getDword(u"TraceMask", stored), 0u);  // not saved yet
  ASSERT_EQ(spy.send(ORVANE_IOCTL_SAVE_TRACE_MASK), 0u);
  ASSERT_EQ(key.getDword(u"TraceMask", stored), 0u);
  EXPECT_EQ(stored, 0x8001u);
}

TEST_F(Contract, DeviceListHasThePluggedDevicesWithStableIdentifiers) {
  const ORVANE_DEVICE_LIST list = deviceList();
  ASSERT_EQ(list.count, 2u);
  const ORVANE_DEVICE_INFO& studio = list.devices[0];
  EXPECT_EQ(studio.vendorId, 0x2F1A);
  EXPECT_EQ(studio.productId, 0x0110);
  EXPECT_EQ(text(studio.serialNumber, ORVANE_SERIAL_NUMBER_CHARS), u"QT16A0042");
  EXPECT_EQ(text(studio.deviceName, ORVANE_DEVICE_NAME_CHARS), u"QUINTOR Studio 16");
  EXPECT_EQ(studio.highSpeedPort, ORVANE_DEVICE_HIGH_SPEED_PORT);
  EXPECT_EQ(studio.echoPlugin, ORVANE_DEVICE_ECHO_PLUGIN);
  EXPECT_EQ(studio.streamingSelected, ORVANE_DEVICE_STREAMING_SELECTED);  // the first device is selected
  const ORVANE_DEVICE_INFO& mini = list.devices[1];
  EXPECT_EQ(mini.highSpeedPort, 0);
  EXPECT_EQ(mini.echoPlugin, 0);
  EXPECT_EQ(mini.streamingSelected, 0);
  EXPECT_FALSE(studio.deviceId == mini.deviceId);

  // Unplugging the second device leaves the first one's identifier as it was.
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_UNPLUG,
                        usbaudio_sim::SIM_DEVICE_SELECTOR{usbaudio_sim::SIM_SELECT_BY_ID, 0, mini.deviceId}),
            0u);
  const ORVANE_DEVICE_LIST after = deviceList();
  ASSERT_EQ(after.count, 1u);
  EXPECT_EQ(after.devices[0].deviceId, studio.deviceId);
}

TEST_F(Contract, AttachChoosesTheDeviceOfDeviceLevelRequests) {
  const ORVANE_DEVICE_LIST list = deviceList();
  SimFile device;
  EXPECT_EQ(device.send(ORVANE_IOCTL_ATTACH_DEVICE, ORVANE_DEVICE_ID{0x7777, 1}), ORVANE_STATUS_OBJECT_NOT_FOUND);
  ASSERT_EQ(device.send(ORVANE_IOCTL_ATTACH_DEVICE, list.devices[1].deviceId), 0u);
  const std::string dump = state();
  EXPECT_NE(dump.find("attached 0000"), std::string::npos) << dump;
}

TEST_F(Contract, ChannelListsHoldTheSelectedDevicesPcmChannelsWithDefaultNames) {
  SimFile file;
  ORVANE_CHANNEL_LIST inputs{};
  ORVANE_CHANNEL_LIST outputs{};
  ASSERT_EQ(file.get(ORVANE_IOCTL_GET_INPUT_CHANNELS, &inputs), 0u);
  ASSERT_EQ(file.get(ORVANE_IOCTL_GET_OUTPUT_CHANNELS, &outputs), 0u);
  EXPECT_EQ(inputs.count, 20u);   // 16 line, 2 S/PDIF, 2 virtual
  EXPECT_EQ(outputs.count, 18u);  // 16 line, 2 S/PDIF

  const ORVANE_DEVICE_ID studio = deviceList().devices[0].deviceId;
  ORVANE_CHANNEL_INFO info{};
  ASSERT_EQ(file.query(ORVANE_IOCTL_GET_CHANNEL_INFO, channelAt(inputs, 0), &info), 0u);
  EXPECT_EQ(info.channelId, channelAt(inputs, 0));
  EXPECT_EQ(info.deviceId, studio);
  EXPECT_EQ(info.direction, ORVANE_CHANNEL_DIRECTION_INPUT);
  EXPECT_NE(info.sampleFormat, ORVANE_SAMPLE_FORMAT_DSD);
  EXPECT_EQ(text(info.name, ORVANE_CHANNEL_NAME_CHARS), u"IN 01");
  ASSERT_EQ(file.query(ORVANE_IOCTL_GET_CHANNEL_INFO, channelAt(outputs, 17), &info), 0u);
  EXPECT_EQ(info.direction, ORVANE_CHANNEL_DIRECTION_OUTPUT);
  EXPECT_EQ(text(info.name, ORVANE_CHANNEL_NAME_CHARS), u"SPDIF OUT 1R");

  // The ASIO link reads the same lists as one pair.
  SimFile asio(kAsioLink);
  ORVANE_CHANNEL_LIST_PAIR pair{};
  ASSERT_EQ(asio.get(ORVANE_IOCTL_ASIO_GET_CHANNELS, &pair), 0u);
  EXPECT_EQ(std::memcmp(&pair.inputs, &inputs, sizeof inputs), 0);
  EXPECT_EQ(std::memcmp(&pair.outputs, &outputs, sizeof outputs), 0);
  ASSERT_EQ(asio.query(ORVANE_IOCTL_ASIO_GET_CHANNEL_INFO, channelAt(pair.inputs, 18), &info), 0u);
  EXPECT_EQ(text(info.name, ORVANE_CHANNEL_NAME_CHARS), u"Loopback 01");
}

TEST_F(Contract, DsdRatesListTheDsdChannels) {
  SimFile service;
  ORVANE_SAMPLE_RATES rates{};
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_SAMPLE_RATES, &rates), 0u);
  EXPECT_EQ(rates.currentRate, 48000u);
  ASSERT_EQ(rates.rateCount, 8u);
  EXPECT_EQ(rates.rates[0], 44100u);
  EXPECT_EQ(rates.rates[6], ORVANE_SAMPLE_RATE_DSD64);
  EXPECT_EQ(rates.rates[7], ORVANE_SAMPLE_RATE_DSD128);

  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_SAMPLE_RATE, ORVANE_SAMPLE_RATE_DSD64), 0u);
  ORVANE_CHANNEL_LIST outputs{};
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_OUTPUT_CHANNELS, &outputs), 0u);
  ASSERT_EQ(outputs.count, 8u);
  ORVANE_CHANNEL_INFO info{};
  ASSERT_EQ(service.query(ORVANE_IOCTL_GET_CHANNEL_INFO, channelAt(outputs, 0), &info), 0u);
  EXPECT_EQ(info.sampleFormat, ORVANE_SAMPLE_FORMAT_DSD);
  EXPECT_EQ(text(info.name, ORVANE_CHANNEL_NAME_CHARS), u"DSD OUT 01");
}

struct BufferCase {
  uint32_t rate;
  uint32_t streamingClass;
  uint32_t asioClass;
  uint32_t streamingMicroseconds;
  uint32_t asioSamples;
  uint32_t asioMicroseconds;
};

TEST_F(Contract, BufferLengthsFollowFromClassAndRate) {
  const BufferCase cases[] = {
      {48000, ORVANE_STREAMING_BUFFER_SMALL, ORVANE_ASIO_BUFFER_MINIMUM, 1333, 64, 1333},
      {48000, ORVANE_STREAMING_BUFFER_LARGE, ORVANE_ASIO_BUFFER_LARGE, 2666, 256, 5333},
      {44100, ORVANE_STREAMING_BUFFER_MINIMUM, ORVANE_ASIO_BUFFER_SMALL, 725, 128, 2902},
      {96000, ORVANE_STREAMING_BUFFER_SAFE, ORVANE_ASIO_BUFFER_MAXIMUM, 10666, 1024, 10666},
      {192000, ORVANE_STREAMING_BUFFER_EXTRA_SMALL, ORVANE_ASIO_BUFFER_MINIMUM, 1000, 256, 1333},
      {ORVANE_SAMPLE_RATE_DSD64, ORVANE_STREAMING_BUFFER_SMALL, ORVANE_ASIO_BUFFER_MINIMUM, 1451, 4096, 1451},
  };
  SimFile service;
  for (const BufferCase& c : cases) {
    ASSERT_EQ(service.send(ORVANE_IOCTL_SET_SAMPLE_RATE, c.rate), 0u);
    ASSERT_EQ(service.send(ORVANE_IOCTL_SET_BUFFER_SIZES, ORVANE_BUFFER_SETTINGS{c.streamingClass, c.asioClass, 9}),
              0u);
    ORVANE_BUFFER_SIZES sizes{};
    ASSERT_EQ(service.get(ORVANE_IOCTL_GET_BUFFER_SIZES, &sizes), 0u);
    EXPECT_EQ(sizes.streamingBufferSizeClass, c.streamingClass);
    EXPECT_EQ(sizes.asioBufferSizeClass, c.asioClass);
    EXPECT_EQ(sizes.thirdSetting, 9u);
    EXPECT_EQ(sizes.streamingBufferMicroseconds, c.streamingMicroseconds) << c.rate;
    EXPECT_EQ(sizes.asioBufferSamples, c.asioSamples) << c.rate;
    EXPECT_EQ(sizes.asioBufferMicroseconds, c.asioMicroseconds) << c.rate;

    ORVANE_ASIO_SETTINGS settings{};
    ASSERT_EQ(service.get(ORVANE_IOCTL_ASIO_GET_SETTINGS, &settings), 0u);
    EXPECT_EQ(settings.sampleRates.currentRate, c.rate);
    // Frames: a DSD frame carries 64 samples.
    EXPECT_EQ(settings.deviceBufferFrames, c.asioSamples / (c.rate == ORVANE_SAMPLE_RATE_DSD64 ? 64 : 1)) << c.rate;
    ORVANE_ASIO_LATENCIES latencies{};
    ASSERT_EQ(service.get(ORVANE_IOCTL_ASIO_GET_LATENCIES, &latencies), 0u);
    EXPECT_GT(latencies.outputLatencyFrames, latencies.inputLatencyFrames);
  }
  EXPECT_EQ(service.send(ORVANE_IOCTL_SET_BUFFER_SIZES, ORVANE_BUFFER_SETTINGS{6, 0, 0}),
            ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(service.send(ORVANE_IOCTL_SET_BUFFER_SIZES, ORVANE_BUFFER_SETTINGS{0, 4, 0}),
            ORVANE_STATUS_INVALID_PARAMETER);
}

TEST_F(Contract, UnofferedRatesAreRefused) {
  SimFile service;
  for (uint32_t rate : {0u, 32000u, 48001u, 384000u}) {
    EXPECT_EQ(service.send(ORVANE_IOCTL_SET_SAMPLE_RATE, rate), ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE) << rate;
    EXPECT_EQ(service.send(ORVANE_IOCTL_PRESET_SAMPLE_RATE, rate), ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE) << rate;
  }
  EXPECT_EQ(service.send(ORVANE_IOCTL_PRESET_SAMPLE_RATE, 96000u), 0u);
  EXPECT_EQ(streamingStatus().sampleRate, 48000u);  // a preset changes nothing yet
  EXPECT_NE(state().find("preset 96000"), std::string::npos);
  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_SAMPLE_RATE, 96000u), 0u);
  EXPECT_EQ(streamingStatus().sampleRate, 96000u);
}

struct CommandCase {
  uint32_t from;
  uint32_t command;
  uint32_t expectedStatus;
  uint32_t to;
};

// Drives the engine into `state` from Down with the commands themselves.
void driveTo(SimFile& service, uint32_t state) {
  const std::vector<uint32_t> path = [&]() -> std::vector<uint32_t> {
    switch (state) {
      case kReady: return {ORVANE_STREAMING_COMMAND_INITIALIZE};
      case kPrepared: return {ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_COMMAND_PREPARE};
      case kRunning:
        return {ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_COMMAND_PREPARE, ORVANE_STREAMING_COMMAND_START};
      default: return {};
    }
  }();
  for (uint32_t command : path) ASSERT_EQ(service.send(ORVANE_IOCTL_STREAMING_CONTROL, command), 0u);
}

TEST_F(Contract, StreamingCommandsFollowTheCommandTable) {
  const CommandCase cases[] = {
      {kDown, ORVANE_STREAMING_COMMAND_INITIALIZE, 0, kReady},
      {kReady, ORVANE_STREAMING_COMMAND_SHUTDOWN, 0, kDown},
      {kReady, ORVANE_STREAMING_COMMAND_PREPARE, 0, kPrepared},
      {kPrepared, ORVANE_STREAMING_COMMAND_START, 0, kRunning},
      {kPrepared, ORVANE_STREAMING_COMMAND_STOP, 0, kReady},
      {kRunning, ORVANE_STREAMING_COMMAND_STOP, 0, kReady},
      {kDown, ORVANE_STREAMING_COMMAND_RECOVER, ORVANE_STATUS_INVALID_STATE, kDown},
      {kDown, ORVANE_STREAMING_COMMAND_SHUTDOWN, ORVANE_STATUS_INVALID_STATE, kDown},
      {kDown, ORVANE_STREAMING_COMMAND_START, ORVANE_STATUS_INVALID_STATE, kDown},
      {kReady, ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STATUS_INVALID_STATE, kReady},
      {kReady, ORVANE_STREAMING_COMMAND_START, ORVANE_STATUS_INVALID_STATE, kReady},
      {kReady, ORVANE_STREAMING_COMMAND_STOP, ORVANE_STATUS_INVALID_STATE, kReady},
      {kPrepared, ORVANE_STREAMING_COMMAND_PREPARE, ORVANE_STATUS_INVALID_STATE, kPrepared},
      {kPrepared, ORVANE_STREAMING_COMMAND_SHUTDOWN, ORVANE_STATUS_INVALID_STATE, kPrepared},
      {kRunning, ORVANE_STREAMING_COMMAND_START, ORVANE_STATUS_INVALID_STATE, kRunning},
      {kRunning, ORVANE_STREAMING_COMMAND_SHUTDOWN, ORVANE_STATUS_INVALID_STATE, kRunning},
      {kDown, 0, ORVANE_STATUS_INVALID_COMMAND, kDown},
      {kRunning, 7, ORVANE_STATUS_INVALID_COMMAND, kRunning},
  };
  for (const CommandCase& c : cases) {
    SimFile service;
    // Back to Down from wherever the previous case left the engine.
    service.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_STOP);
    service.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_SHUTDOWN);
    ASSERT_EQ(streamingStatus().state, kDown);
    driveTo(service, c.from);
    ASSERT_EQ(streamingStatus().state, c.from);
    EXPECT_EQ(service.send(ORVANE_IOCTL_STREAMING_CONTROL, c.command), c.expectedStatus)
        << "state " << c.from << " command " << c.command;
    EXPECT_EQ(streamingStatus().state, c.to) << "state " << c.from << " command " << c.command;
  }
}

TEST_F(Contract, ErrorIsLeftWithRecoverOnly) {
  SimFile service;
  driveTo(service, kRunning);
  ASSERT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_STREAMING_ERROR), 0u);
  EXPECT_EQ(streamingStatus().state, kError);
  for (uint32_t command : {2u, 3u, 4u, 5u, 6u}) {
    EXPECT_EQ(service.send(ORVANE_IOCTL_STREAMING_CONTROL, command), ORVANE_STATUS_INVALID_STATE) << command;
  }
  ASSERT_EQ(service.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_RECOVER), 0u);
  EXPECT_EQ(streamingStatus().state, kDown);
}

TEST_F(Contract, ADeviceOffTheHighSpeedPortIsUnsupportedAndTheBringUpLoopEnds) {
  SimFile service;
  const ORVANE_DEVICE_LIST list = deviceList();
  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_STREAMING_DEVICE,
                         ORVANE_STREAMING_DEVICE_SELECTION{list.devices[1].deviceId,
                                                           ORVANE_STREAMING_MODE_SINGLE_DEVICE}),
            0u);
  EXPECT_EQ(streamingStatus().state, kUnsupported);
  EXPECT_EQ(deviceList().devices[1].streamingSelected, ORVANE_DEVICE_STREAMING_SELECTED);

  // The service's bring-up: Unsupported -> recover -> Down -> initialise fails.
  ASSERT_EQ(service.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_RECOVER), 0u);
  EXPECT_EQ(streamingStatus().state, kDown);
  EXPECT_EQ(service.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_INITIALIZE),
            ORVANE_STATUS_NOT_IN_HIGH_SPEED_MODE);
  EXPECT_EQ(streamingStatus().state, kUnsupported);

  // Back to the first device: Down again, and its rates are offered.
  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_STREAMING_DEVICE,
                         ORVANE_STREAMING_DEVICE_SELECTION{list.devices[0].deviceId,
                                                           ORVANE_STREAMING_MODE_SINGLE_DEVICE}),
            0u);
  EXPECT_EQ(streamingStatus().state, kDown);
}

TEST_F(Contract, StreamingDeviceSelection) {
  SimFile service;
  const ORVANE_DEVICE_LIST list = deviceList();
  EXPECT_EQ(service.send(ORVANE_IOCTL_SET_STREAMING_DEVICE,
                         ORVANE_STREAMING_DEVICE_SELECTION{{0x4242, 0x4242}, ORVANE_STREAMING_MODE_SINGLE_DEVICE}),
            ORVANE_STATUS_OBJECT_NOT_FOUND);
  EXPECT_EQ(service.send(ORVANE_IOCTL_SET_STREAMING_DEVICE, ORVANE_STREAMING_DEVICE_SELECTION{{0, 0}, 2}),
            ORVANE_STATUS_INVALID_PARAMETER);

  // All devices: the rates both offer, the channels of both, the mode reported.
  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_STREAMING_DEVICE,
                         ORVANE_STREAMING_DEVICE_SELECTION{{0, 0}, ORVANE_STREAMING_MODE_ALL_DEVICES}),
            0u);
  const ORVANE_STREAMING_STATUS status = streamingStatus();
  EXPECT_EQ(status.mode, ORVANE_STREAMING_MODE_ALL_DEVICES);
  EXPECT_EQ(status.state, kUnsupported);  // one of them is on a full-speed port
  ORVANE_SAMPLE_RATES rates{};
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_SAMPLE_RATES, &rates), 0u);
  ASSERT_EQ(rates.rateCount, 3u);
  EXPECT_EQ(rates.rates[2], 96000u);
  ORVANE_CHANNEL_LIST inputs{};
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_INPUT_CHANNELS, &inputs), 0u);
  EXPECT_EQ(inputs.count, 24u);
  const ORVANE_DEVICE_LIST after = deviceList();
  EXPECT_EQ(after.devices[0].streamingSelected, ORVANE_DEVICE_STREAMING_SELECTED);
  EXPECT_EQ(after.devices[1].streamingSelected, ORVANE_DEVICE_STREAMING_SELECTED);

  // Back to one device with identifier 0, 0: the device selected before streams alone.
  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_STREAMING_DEVICE,
                         ORVANE_STREAMING_DEVICE_SELECTION{{0, 0}, ORVANE_STREAMING_MODE_SINGLE_DEVICE}),
            0u);
  EXPECT_EQ(streamingStatus().mode, ORVANE_STREAMING_MODE_SINGLE_DEVICE);
  const ORVANE_DEVICE_LIST single = deviceList();
  EXPECT_EQ(single.devices[0].streamingSelected, ORVANE_DEVICE_STREAMING_SELECTED);
  EXPECT_EQ(single.devices[1].streamingSelected, 0);
  (void)list;
}

TEST_F(Contract, ConfigurationChangesWaitForTheEngineToLeavePreparedAndRunning) {
  SimFile service;
  driveTo(service, kPrepared);
  EXPECT_EQ(service.send(ORVANE_IOCTL_SET_SAMPLE_RATE, 96000u), ORVANE_STATUS_INVALID_STATE);
  EXPECT_EQ(service.send(ORVANE_IOCTL_SET_BUFFER_SIZES, ORVANE_BUFFER_SETTINGS{1, 1, 0}),
            ORVANE_STATUS_INVALID_STATE);
  EXPECT_EQ(service.send(ORVANE_IOCTL_SET_STREAMING_DEVICE,
                         ORVANE_STREAMING_DEVICE_SELECTION{{0, 0}, ORVANE_STREAMING_MODE_ALL_DEVICES}),
            ORVANE_STATUS_INVALID_STATE);
  EXPECT_EQ(streamingStatus().sampleRate, 48000u);
}

TEST_F(Contract, UsageWordsAreWhatIsStreamingWantedReads) {
  // Nothing uses the streams.
  ORVANE_STREAMING_STATUS status = streamingStatus();
  EXPECT_EQ(status.reserved1 | status.firstUsageCount | status.secondUsageCount | status.reserved2[0] |
                status.reserved2[1],
            0u);
  {
    Client view(ORVANE_CLIENT_TYPE_VIEW);
    Client mixerView(ORVANE_CLIENT_TYPE_MIXER_VIEW);
    status = streamingStatus();
    EXPECT_EQ(status.reserved2[1], 1u);  // offset 28
    EXPECT_EQ(status.reserved2[0], 1u);  // offset 24
  }
  status = streamingStatus();
  EXPECT_EQ(status.reserved2[0] | status.reserved2[1], 0u);

  const usbaudio_sim::SIM_SOUND_DEVICE_SWITCH open{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 0, 1, 0};
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_SOUND_DEVICE, open), 0u);
  EXPECT_EQ(streamingStatus().firstUsageCount, 1u);  // offset 16
}

}  // namespace
