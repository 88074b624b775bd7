// The device server end to end: quintorsvc running as a service of the
// emulated machine, the simulated USB audio kernel driver in the machine's
// device host, and a client in the test process registered as the control
// panel, each in its own process.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "device-access/orvane_device.h"
#include "device-access/orvane_panel_records.h"
#include "platform/registry.h"
#include "service/custom_device.h"
#include "tests/service/service_machine.h"

using namespace service_testing;

namespace {

constexpr uint32_t kRunning = ORVANE_STREAMING_STATE_RUNNING;
constexpr uint32_t k3010 = ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED;
constexpr uint32_t k3011 = ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED;
constexpr uint32_t k3030 = ORVANE_MSG_CODE_DEVICE_LIST_CHANGED;

class ServerTest : public ServiceMachineTest {
 protected:
  // Opens (or closes) the first playback sound device of the first device:
  // the first usage count.
  void switchSoundDevice(bool open) {
    const usbaudio_sim::SIM_SOUND_DEVICE_SWITCH sound{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 0, open ? 1u : 0u, 0};
    ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_SOUND_DEVICE, &sound, sizeof sound), 0u);
  }

  std::string settingsKey(const std::string& serial) { return "Software\\tarnvale\\QUINTOR\\Devices\\" + serial; }

  ORVANE_SOUND_DEVICE_CONFIGURATION layout(uint32_t* result = nullptr, ORVANE_MESSAGE* response = nullptr) {
    ORVANE_SOUND_DEVICE_CONFIGURATION query{firstDevice(), 0, 0};
    ORVANE_MESSAGE answer;
    const uint32_t status = request(ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION, &query, sizeof query, &answer);
    if (result != nullptr) *result = status;
    if (response != nullptr) *response = answer;
    ORVANE_SOUND_DEVICE_CONFIGURATION held{};
    std::memcpy(&held, answer.payload, sizeof held);
    return held;
  }
};

TEST_F(ServerTest, ASampleRateChangeIsAnsweredWith3010Then3011AndTheEngineRunsAgain) {
  openView();
  (void)notifications(100);
  EXPECT_EQ(setRate(96000), 0u);
  EXPECT_EQ(serviceNotifications(), (std::vector<uint32_t>{k3010, k3011}));
  const ORVANE_STREAMING_STATUS status = streamingStatus();
  EXPECT_EQ(status.state, kRunning);
  EXPECT_EQ(status.sampleRate, 96000u);
  EXPECT_TRUE(contains(state(), "port0: state 1")) << "the port runs with the engine";
}

TEST_F(ServerTest, TheCurrentRateIsAnsweredAtOnceEvenWhileInUse) {
  openView();
  switchSoundDevice(true);
  ASSERT_TRUE(eventually([&] { return streamingStatus().firstUsageCount != 0; }));
  (void)notifications(100);
  EXPECT_EQ(setRate(streamingStatus().sampleRate), 0u);
  EXPECT_TRUE(serviceNotifications().empty());
}

TEST_F(ServerTest, ChangesAreRefusedWhileASoundDeviceIsInUse) {
  openView();
  switchSoundDevice(true);
  ASSERT_TRUE(eventually([&] { return streamingStatus().firstUsageCount != 0; }));
  const ORVANE_STREAMING_STATUS before = streamingStatus();
  const uint32_t otherRate = before.sampleRate == 48000 ? 96000 : 48000;
  const ORVANE_BUFFER_SETTINGS buffers{ORVANE_STREAMING_BUFFER_LARGE, ORVANE_ASIO_BUFFER_LARGE, 0};
  const ORVANE_STREAMING_DEVICE_SELECTION selection{{0, 0}, ORVANE_STREAMING_MODE_ALL_DEVICES};
  EXPECT_EQ(setRate(otherRate), ORVANE_STATUS_SOUND_DEVICE_IN_USE);
  EXPECT_EQ(request(ORVANE_MSG_CODE_SET_BUFFER_SIZES, &buffers, sizeof buffers), ORVANE_STATUS_SOUND_DEVICE_IN_USE);
  EXPECT_EQ(request(ORVANE_MSG_CODE_SELECT_STREAMING_DEVICE, &selection, sizeof selection),
            ORVANE_STATUS_SOUND_DEVICE_IN_USE);
  const ORVANE_STREAMING_STATUS after = streamingStatus();
  EXPECT_EQ(after.state, before.state);
  EXPECT_EQ(after.sampleRate, before.sampleRate);
  EXPECT_EQ(after.mode, before.mode);
}

TEST_F(ServerTest, PayloadSizesAndUnknownRequests) {
  openView();
  struct Case {
    const char* what;
    uint32_t code;
    uint32_t length;
    uint32_t result;
    uint32_t responseCode;
  } cases[] = {
      {"rate in 2 bytes", ORVANE_MSG_CODE_SET_SAMPLE_RATE, 2, ORVANE_STATUS_INVALID_MSG_SIZE, 2001},
      {"rate in 8 bytes", ORVANE_MSG_CODE_SET_SAMPLE_RATE, 8, ORVANE_STATUS_INVALID_LENGTH, 2001},
      {"buffers in 11 bytes", ORVANE_MSG_CODE_SET_BUFFER_SIZES, 11, ORVANE_STATUS_INVALID_MSG_SIZE, 2001},
      {"DSD mode in 2 bytes", ORVANE_MSG_CODE_SET_DSD_MODE, 2, ORVANE_STATUS_INVALID_LENGTH, 2001},
      {"DSD mode", ORVANE_MSG_CODE_SET_DSD_MODE, 1, 0, 2001},
      {"layout in 15 bytes", ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION, 15, ORVANE_STATUS_INVALID_MSG_SIZE, 2001},
      {"layout query in 17 bytes", ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION, 17, ORVANE_STATUS_INVALID_LENGTH,
       2001},
      {"layout of no device", ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION, 16, ORVANE_STATUS_OBJECT_NOT_FOUND, 2001},
      {"unknown code", 4711, 0, ORVANE_STATUS_INVALID_COMMAND, 2001},
  };
  const uint8_t payload[32] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (const Case& c : cases) {
    ORVANE_MESSAGE response;
    EXPECT_EQ(request(c.code, payload, c.length, &response), c.result) << c.what;
    EXPECT_EQ(response.code, c.responseCode) << c.what;
    EXPECT_EQ(response.kind, ORVANE_MSG_RESPONSE) << c.what;
  }
  const ORVANE_SOUND_DEVICE_CONFIGURATION tooLarge{firstDevice(), 6, 0};
  EXPECT_EQ(request(ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION, &tooLarge, sizeof tooLarge),
            ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(streamingStatus().state, kRunning) << "refused before the engine is touched";
}

TEST_F(ServerTest, TheLastDeviceGoneDisconnectsAndItsArrivalReconnects) {
  const ORVANE_DEVICE_ID device = firstDevice();
  (void)notifications(100);
  ASSERT_EQ(control.unplug(device), 0u);
  EXPECT_EQ(serviceNotifications(500), (std::vector<uint32_t>{k3010, k3030}));
  EXPECT_TRUE(eventually([&] { return !serverRegistered(); })) << state();
  EXPECT_EQ(setRate(48000), ORVANE_STATUS_NO_SERVER);

  const uint32_t configIndex = 0;
  ORVANE_DEVICE_ID plugged{};
  ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_PLUG_CONFIGURED, &configIndex, sizeof configIndex, &plugged,
                            sizeof plugged),
            0u);
  EXPECT_TRUE(waitForServer()) << state();
  EXPECT_TRUE(eventually([&] { return contains(state(), "playback sound devices (10): [0 QUINTOR Out1 L/R]"); }))
      << "the device is set up again";
  EXPECT_EQ(setRate(96000), 0u);
}

TEST_F(ServerTest, ADeviceListQueryIsAnsweredWith3030) {
  (void)notifications(100);
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_DEVICE_LIST_QUERY), 0u);
  EXPECT_EQ(serviceNotifications(), (std::vector<uint32_t>{k3030}));
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_DEVICE_LIST_QUERY, "x", 1), 0u);
  EXPECT_TRUE(serviceNotifications().empty()) << "a payload of the wrong size drops the notification";
}

TEST_F(ServerTest, ALayoutIsStoredUnderTheSerialNumberAndTheSoundDevicesRebuilt) {
  openView();
  const ORVANE_SOUND_DEVICE_CONFIGURATION wanted{firstDevice(), 4, 2};
  EXPECT_EQ(request(ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION, &wanted, sizeof wanted), 0u);
  const std::string dump = state();
  EXPECT_TRUE(contains(dump, "playback sound devices (7): [0 QUINTOR Out 7.1] [1 QUINTOR shadow L/R] [2 QUINTOR shadow "
                             "C/LFE] [3 QUINTOR shadow RL/RR] [4 QUINTOR shadow SL/SR] [5 QUINTOR SPDIF Out L/R] [6 "
                             "QUINTOR MIDI Out]\n"))
      << dump;
  EXPECT_TRUE(contains(dump, "recording sound devices (4): [0 QUINTOR In 8ch] [1 QUINTOR SPDIF In L/R] [2 QUINTOR "
                             "Loopback 1 L/R] [3 QUINTOR MIDI In]\n"))
      << dump;
  EXPECT_EQ(streamingStatus().state, kRunning);

  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::open(platform::RegistryHive::LocalMachine,
                                        platform::toWide(settingsKey("QT16A0042")), platform::KEY_READ, key),
            0u);
  uint32_t value = 0;
  EXPECT_EQ(key.getDword(u"WdmRenderSoundDeviceConfiguration", value), 0u);
  EXPECT_EQ(value, 4u);
  EXPECT_EQ(key.getDword(u"WdmCaptureSoundDeviceConfiguration", value), 0u);
  EXPECT_EQ(value, 2u);

  uint32_t result = 1;
  ORVANE_MESSAGE response;
  const ORVANE_SOUND_DEVICE_CONFIGURATION held = layout(&result, &response);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(response.code, ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION);
  EXPECT_EQ(response.payloadLength, 16u);
  EXPECT_EQ(held.playbackConfiguration, 4u);
  EXPECT_EQ(held.recordingConfiguration, 2u);

  // The stored layout is what the device gets when the service starts again.
  ASSERT_EQ(quintorsvc({"-stop"}).exitCode, 0);
  ASSERT_EQ(machine("start").exitCode, 0);
  ASSERT_TRUE(waitForServer());
  EXPECT_TRUE(eventually([&] { return contains(state(), "playback sound devices (7): [0 QUINTOR Out 7.1]"); }));
}

TEST_F(ServerTest, ALayoutChangeWaitsForNoSoundDeviceInUse) {
  openView();
  switchSoundDevice(true);
  ASSERT_TRUE(eventually([&] { return streamingStatus().firstUsageCount != 0; }));
  const ORVANE_SOUND_DEVICE_CONFIGURATION wanted{firstDevice(), 1, 1};
  EXPECT_EQ(request(ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION, &wanted, sizeof wanted),
            ORVANE_STATUS_SOUND_DEVICE_IN_USE);
  EXPECT_EQ(layout().playbackConfiguration, 0u);
}

class TwoDeviceServerTest : public ServerTest {
 protected:
  std::vector<DeviceSpec> devices() const override { return {studioDevice(), miniDevice()}; }
};

TEST_F(TwoDeviceServerTest, EveryDeviceGetsItsChannelNamesWithDsdWhereItHasDsd) {
  ASSERT_TRUE(eventually([&] { return contains(state(), "[QUINTOR IN 04] [QUINTOR Loopback 01]"); })) << state();
  const std::string dump = state();
  const size_t mini = dump.find("name QUINTOR Mini 4", dump.find("\ndevices ("));
  ASSERT_NE(mini, std::string::npos) << dump;
  EXPECT_TRUE(contains(dump.substr(0, mini), "[QUINTOR DSD IN 08]")) << "the studio device has DSD channels";
  EXPECT_FALSE(contains(dump.substr(mini), "DSD")) << dump.substr(mini);
  EXPECT_TRUE(contains(dump.substr(mini), "output channels (4): [QUINTOR OUT 01] [QUINTOR OUT 02] [QUINTOR OUT 03] [QUINTOR OUT 04]"));
}

class StoredTextLayoutTest : public ServerTest {
 protected:
  void prepareRegistry() override {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine,
                                            platform::toWide(settingsKey("QT16A0042")), platform::KEY_ALL_ACCESS, key),
              0u);
    ASSERT_EQ(key.setString(u"WdmRenderSoundDeviceConfiguration", u"4"), 0u);
    ASSERT_EQ(key.setDword(u"WdmCaptureSoundDeviceConfiguration", 1), 0u);
  }
};

TEST_F(StoredTextLayoutTest, AStoredTextValueIsIgnored) {
  const ORVANE_SOUND_DEVICE_CONFIGURATION held = layout();
  EXPECT_EQ(held.playbackConfiguration, 0u) << "REG_SZ is no layout";
  EXPECT_EQ(held.recordingConfiguration, 1u);
  EXPECT_TRUE(contains(state(), "playback sound devices (10): [0 QUINTOR Out1 L/R]"));
}

TEST_F(ServerTest, MixerGainsAndPlaybackVolumesAreKeptInStep) {
  ORVANE_DEVICE_LIST list{};
  ASSERT_EQ(client.ioctlGetDeviceList(list), 0u);
  OrvaneDevice device;
  ASSERT_EQ(device.openDevice(sim_testing::kPanelLink, list.devices[0]), 0u);

  // Mixer output gains (3051) → the playback sound device's volumes.
  ORVANE_MIXER_GAIN gains[2] = {{{0, 0, {0, 0}}, 0, 0, -600}, {{0, 1, {0, 0}}, 0, ORVANE_MIXER_GAIN_MUTE, 250}};
  ASSERT_EQ(device.ioctlSetMixerGains(gains, 2), 0u);
  ORVANE_SOUND_DEVICE_VOLUME strip{};
  EXPECT_TRUE(eventually([&] {
    return device.ioctlGetMixerStrip(ORVANE_SOUND_DEVICE_PLAYBACK, 0, strip) == 0 && strip.volume[0] == -393216;
  })) << strip.volume[0];
  EXPECT_EQ(strip.volume[0], CustomDevice::toVolume(-600));
  EXPECT_EQ(strip.mute[0], 0u);
  EXPECT_EQ(strip.volume[1], CustomDevice::toVolume(250));
  EXPECT_EQ(strip.mute[1], 1u);

  // A Windows volume (3060) → the mixer output gains.
  waitUntilTheServiceIsQuiet();
  const ProgramResult volume = usbaudioSim({"volume", "0", "playback", "1", "0", "-12.5"});
  ASSERT_EQ(volume.exitCode, 0) << volume.errors;
  ORVANE_MIXER_GAIN read[1] = {{{0, 2, {0, 0}}, 0, 0, 0}};
  EXPECT_TRUE(eventually([&] { return device.ioctlGetMixerGains(read, 1) == 0 && read[0].gain == -1250; }))
      << read[0].gain;
  waitUntilTheServiceIsQuiet();
  const ProgramResult silent = usbaudioSim({"volume", "0", "playback", "1", "1", "silence", "mute"});
  ASSERT_EQ(silent.exitCode, 0) << silent.errors;
  ORVANE_MIXER_GAIN right[1] = {{{0, 3, {0, 0}}, 0, 0, 0}};
  EXPECT_TRUE(eventually([&] { return device.ioctlGetMixerGains(right, 1) == 0 && right[0].gain == -9000; }))
      << "silence is -90 dB, the lowest gain the service sets";
  EXPECT_EQ(right[0].flags & ORVANE_MIXER_GAIN_MUTE, ORVANE_MIXER_GAIN_MUTE);

  // The MIDI playback device (position 9 of layout 0) has no channels: its
  // volume leaves the S/PDIF output, which its pair fields would name, alone.
  ORVANE_MIXER_GAIN spdif[1] = {{{1, 0, {0, 0}}, 0, 0, 0}};
  ASSERT_EQ(device.ioctlGetMixerGains(spdif, 1), 0u);
  const int16_t spdifGain = spdif[0].gain;
  waitUntilTheServiceIsQuiet();
  const ProgramResult midi = usbaudioSim({"volume", "0", "playback", "9", "0", "-30"});
  ASSERT_EQ(midi.exitCode, 0) << midi.errors;
  // A later volume change taking effect shows that the MIDI one was handled.
  ASSERT_EQ(usbaudioSim({"volume", "0", "playback", "1", "0", "-3"}).exitCode, 0);
  EXPECT_TRUE(eventually([&] { return device.ioctlGetMixerGains(read, 1) == 0 && read[0].gain == -300; }));
  ASSERT_EQ(device.ioctlGetMixerGains(spdif, 1), 0u);
  EXPECT_EQ(spdif[0].gain, spdifGain);
}

// A rate change from Running reads the state and sends, in order: command 6
// (with the port state hook before it), command 3, the rate, command 2,
// command 4 and, after the port state hook, command 5. Each of these failing
// is answered with its status; the engine stays where the failing step left
// it, and the next change brings it back to Running.
TEST_F(ServerTest, AFailingKernelDriverStepIsAnsweredAndTheNextRequestRecovers) {
  openView();
  struct Case {
    const char* what;
    const char* code;
    const char* letThrough;
    uint32_t stateAfter;
    std::vector<uint32_t> notified;
  } cases[] = {
      {"the first state read", "GET_STREAMING_STATUS", "0", kRunning, {}},
      {"bringDown's state read", "GET_STREAMING_STATUS", "1", kRunning, {k3010}},
      {"command 6, Running to Ready", "STREAMING_CONTROL", "0", kRunning, {k3010}},
      {"command 3, Ready to Down", "STREAMING_CONTROL", "1", ORVANE_STREAMING_STATE_READY, {k3010}},
      {"the rate", "SET_SAMPLE_RATE", "0", kRunning, {k3010, k3011}},
      {"bringUp's state read", "GET_STREAMING_STATUS", "4", ORVANE_STREAMING_STATE_DOWN, {k3010, k3011}},
      {"command 2, Down to Ready", "STREAMING_CONTROL", "2", ORVANE_STREAMING_STATE_DOWN, {k3010, k3011}},
      {"command 4, Ready to Prepared", "STREAMING_CONTROL", "3", ORVANE_STREAMING_STATE_READY, {k3010, k3011}},
      {"the port state before Running", "SET_PORT_STATE", "1", ORVANE_STREAMING_STATE_PREPARED, {k3010, k3011}},
      {"command 5, Prepared to Running", "STREAMING_CONTROL", "4", ORVANE_STREAMING_STATE_PREPARED, {k3010, k3011}},
  };
  const auto otherRate = [](uint32_t rate) { return rate == 48000u ? 96000u : 48000u; };
  for (const Case& c : cases) {
    (void)notifications(50);
    const uint32_t rate = otherRate(streamingStatus().sampleRate);  // read before the fault counts requests
    const ProgramResult fault =
        usbaudioSim({"fail", c.code, "ORVANE_STATUS_DEVICE_REMOVED", "1", "--after", c.letThrough});
    ASSERT_EQ(fault.exitCode, 0) << fault.errors;
    EXPECT_EQ(setRate(rate), ORVANE_STATUS_DEVICE_REMOVED) << c.what;
    EXPECT_EQ(serviceNotifications(), c.notified) << c.what;
    EXPECT_EQ(streamingStatus().state, c.stateAfter) << c.what << "\n" << state();
    ASSERT_EQ(usbaudioSim({"clear-faults"}).exitCode, 0);
    EXPECT_EQ(setRate(otherRate(streamingStatus().sampleRate)), 0u) << c.what;
    EXPECT_EQ(streamingStatus().state, kRunning) << c.what;
  }
}

TEST_F(ServerTest, AServiceKilledMidRequestLeavesTheClientAClearStatusAndComesBack) {
  ASSERT_EQ(usbaudioSim({"delay", "SET_SAMPLE_RATE", "5000", "1"}).exitCode, 0);
  auto answer = std::async(std::launch::async, [&] {
    const auto begin = std::chrono::steady_clock::now();
    const uint32_t result = setRate(96000);
    return std::make_pair(result, std::chrono::steady_clock::now() - begin);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the service is in the delayed request
  const uint32_t pid = servicePid();
  ASSERT_NE(pid, 0u);
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  const auto [result, took] = answer.get();
  EXPECT_EQ(result, ORVANE_STATUS_NO_SERVER);
  EXPECT_LT(took, std::chrono::seconds(5)) << "no wait for the 30 s time-out";

  const ProgramResult status = machine("status");
  EXPECT_TRUE(contains(status.output, "quintorsvc")) << status.output;
  EXPECT_TRUE(contains(status.output, "ended unexpectedly (exit code 137)")) << status.output;
  const ProgramResult started = machine("start");
  EXPECT_EQ(started.exitCode, 0) << started.output;
  EXPECT_TRUE(contains(started.output, "Starting quintorsvc (Quintor Control) ... running")) << started.output;
  ASSERT_TRUE(waitForServer());
  EXPECT_EQ(setRate(96000), 0u);
}

TEST_F(ServerTest, BringUpRecoversAnEngineInErrorAndStopsAtReadyWhenNothingWantsStreaming) {
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_STREAMING_WANTED), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(streamingStatus().state, ORVANE_STREAMING_STATE_READY) << "nothing wants streaming";
  openView();
  ASSERT_EQ(usbaudioSim({"streaming-error"}).exitCode, 0);
  ASSERT_EQ(streamingStatus().state, ORVANE_STREAMING_STATE_ERROR);
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_STREAMING_WANTED), 0u);
  EXPECT_TRUE(reachesState(kRunning)) << state();
  view.closeDriver();  // the view's usage ends: 3004
  EXPECT_TRUE(reachesState(ORVANE_STREAMING_STATE_READY)) << "stopped when unused";
}

TEST_F(ServerTest, TheTimerWakesTheWorkerWithoutEndingItsLoop) {
  std::this_thread::sleep_for(std::chrono::milliseconds(3300));  // at least one 3 s period
  EXPECT_EQ(setRate(96000), 0u);
  EXPECT_TRUE(serverRegistered());
}

}  // namespace
