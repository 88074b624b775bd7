// The control interface: plugging and unplugging, simulated conditions with
// the notifications they cause, injected faults, the state dump.

#include <chrono>

#include "device-access/orvane_panel_records.h"
#include "tests/usb-audio-kernel-sim/sim_test_support.h"

using namespace sim_testing;
using namespace usbaudio_sim;

namespace {

class Control : public SimDriverTest {
 protected:
  ORVANE_DEVICE_ID firstDevice() { return deviceList().devices[0].deviceId; }

  // The device identifier in a notification's payload.
  static ORVANE_DEVICE_ID payloadDevice(const ORVANE_MESSAGE& message) {
    ORVANE_DEVICE_ID id{};
    std::memcpy(&id, message.payload, sizeof id);
    return id;
  }
  ORVANE_MESSAGE nextNotification(Client& client) {
    ORVANE_MESSAGE message{};
    EXPECT_TRUE(client.waitNotification());
    EXPECT_EQ(client.readNotification(&message), 0u);
    return message;
  }
};

TEST_F(Control, PlugAndUnplugChangeTheListAndNotify) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  SimFile controlLink(kControlLinkName);
  ORVANE_DEVICE_ID plugged{};
  const uint32_t index = 2;
  ASSERT_EQ(controlLink.query(SIM_CONTROL_PLUG_CONFIGURED, index, &plugged), 0u);
  ASSERT_TRUE(server.waitNotification());
  EXPECT_EQ(server.drainNotifications(), std::vector<uint32_t>{ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED});
  ORVANE_DEVICE_LIST list = deviceList();
  ASSERT_EQ(list.count, 3u);
  EXPECT_EQ(list.devices[2].deviceId, plugged);
  EXPECT_EQ(list.devices[2].productId, 0x0102);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_PLUG_CONFIGURED, index), ORVANE_STATUS_ALREADY_DONE);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_PLUG_CONFIGURED, uint32_t{3}), ORVANE_STATUS_OBJECT_NOT_FOUND);

  ASSERT_EQ(controlLink.send(SIM_CONTROL_UNPLUG, SIM_DEVICE_SELECTOR{1, 0, {}}), 0u);
  ASSERT_TRUE(server.waitNotification());
  EXPECT_EQ(server.drainNotifications(), std::vector<uint32_t>{ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED});
  list = deviceList();
  ASSERT_EQ(list.count, 2u);
  EXPECT_EQ(list.devices[1].deviceId, plugged);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_UNPLUG, SIM_DEVICE_SELECTOR{5, 0, {}}), ORVANE_STATUS_OBJECT_NOT_FOUND);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_UNPLUG, SIM_DEVICE_SELECTOR{SIM_SELECT_BY_ID, 0, {0xABC, 0}}),
            ORVANE_STATUS_OBJECT_NOT_FOUND);
  ASSERT_EQ(controlLink.send(SIM_CONTROL_UNPLUG, SIM_DEVICE_SELECTOR{SIM_SELECT_BY_ID, 0, plugged}), 0u);

  // A replugged device is a new device.
  ORVANE_DEVICE_ID again{};
  ASSERT_EQ(controlLink.query(SIM_CONTROL_PLUG_CONFIGURED, index, &again), 0u);
  EXPECT_FALSE(again == plugged);
}

TEST_F(Control, DevicesFromADescriptionUpToEight) {
  SimFile controlLink(kControlLinkName);
  const std::string description = "name = Bench Unit\nserial = B1\ni2s_inputs = 2\ni2s_outputs = 2\nrates = 48000\n";
  for (uint32_t count = 2; count < ORVANE_MAX_DEVICES; ++count) {
    ASSERT_EQ(controlLink.control(SIM_CONTROL_PLUG_DESCRIPTION, description.data(),
                              static_cast<uint32_t>(description.size()), nullptr, 0),
              0u);
  }
  EXPECT_EQ(deviceList().count, 8u);
  EXPECT_EQ(controlLink.control(SIM_CONTROL_PLUG_DESCRIPTION, description.data(),
                            static_cast<uint32_t>(description.size()), nullptr, 0),
            ORVANE_STATUS_NO_RESOURCES);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_PLUG_CONFIGURED, uint32_t{2}), ORVANE_STATUS_NO_RESOURCES);
}

TEST_F(Control, BadDescriptionsAreRefused) {
  SimFile controlLink(kControlLinkName);
  const std::string bad[] = {
      "",                                                                  // no name, no rates
      "name = X\ni2s_inputs = 2\n",                                        // no rates
      "name = X\nrates = 48000\n",                                         // no channels
      "name = X\ni2s_inputs = 2\nrates = 48000 44100\n",                   // not ascending
      "name = X\ni2s_inputs = 33\nrates = 48000\n",                        // too many channels
      "name = X\ni2s_inputs = 2\nrates = 1 2 3 4 5 6 7 8 9 10 11\n",        // too many rates
      "name = 0123456789012345678901234567890123456789XY\ni2s_inputs = 2\nrates = 48000\n",  // 42 characters
      "name = X\nserial = 01234567890123456789\ni2s_inputs = 2\nrates = 48000\n",          // 20 characters
      "name = X\ni2s_inputs = 2\nrates = 48000\ncolour = red\n",           // unknown key
      "name = X\ni2s_inputs = 2\nrates = 48000\nmixer_outputs = 0:27\n",   // more pins than fit
      std::string("name = X\0Y\ni2s_inputs = 2\nrates = 48000\n", 40),     // a zero inside the name
  };
  for (const std::string& text : bad) {
    EXPECT_EQ(controlLink.control(SIM_CONTROL_PLUG_DESCRIPTION, text.data(), static_cast<uint32_t>(text.size()), nullptr, 0),
              ORVANE_STATUS_INVALID_PARAMETER)
        << text;
  }
  EXPECT_EQ(deviceList().count, 2u);
}

TEST_F(Control, SoundDevicesOpenAndCloseWithTheirNotifications) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  SimFile controlLink(kControlLinkName);
  const ORVANE_DEVICE_ID device = firstDevice();
  const SIM_SOUND_DEVICE_SWITCH open{{SIM_SELECT_BY_ID, 0, device}, ORVANE_SOUND_DEVICE_PLAYBACK, 3, 1, 0};
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SOUND_DEVICE, open), 0u);
  ORVANE_MESSAGE message = nextNotification(server);
  EXPECT_EQ(message.code, ORVANE_MSG_CODE_DEVICE_STREAMING_WANTED);
  EXPECT_EQ(message.payloadLength, 8u);
  EXPECT_EQ(payloadDevice(message), device);
  EXPECT_EQ(streamingStatus().firstUsageCount, 1u);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_SOUND_DEVICE, open), ORVANE_STATUS_ALREADY_DONE);

  SIM_SOUND_DEVICE_SWITCH close = open;
  close.open = 0;
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SOUND_DEVICE, close), 0u);
  message = nextNotification(server);
  EXPECT_EQ(message.code, ORVANE_MSG_CODE_DEVICE_STREAMING_NOT_WANTED);
  EXPECT_EQ(payloadDevice(message), device);
  EXPECT_EQ(streamingStatus().firstUsageCount, 0u);

  SIM_SOUND_DEVICE_SWITCH missing = open;
  missing.index = 9;  // 8 line pairs and S/PDIF: 0 to 8
  EXPECT_EQ(controlLink.send(SIM_CONTROL_SOUND_DEVICE, missing), ORVANE_STATUS_OBJECT_NOT_FOUND);
  missing.index = 0;
  missing.direction = 3;
  EXPECT_EQ(controlLink.send(SIM_CONTROL_SOUND_DEVICE, missing), ORVANE_STATUS_INVALID_PARAMETER);

  // Unplugging a device closes its open sound devices.
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SOUND_DEVICE, open), 0u);
  server.drainNotifications();
  ASSERT_EQ(controlLink.send(SIM_CONTROL_UNPLUG, SIM_DEVICE_SELECTOR{SIM_SELECT_BY_ID, 0, device}), 0u);
  ASSERT_TRUE(server.waitNotification());
  EXPECT_EQ(server.drainNotifications(), (std::vector<uint32_t>{ORVANE_MSG_CODE_DEVICE_STREAMING_NOT_WANTED,
                                                                ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED}));
  EXPECT_EQ(streamingStatus().firstUsageCount, 0u);
}

TEST_F(Control, VolumeSpdifAndOutsideSettingsChangesNotify) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  server.drainNotifications();
  SimFile controlLink(kControlLinkName);
  const ORVANE_DEVICE_ID device = firstDevice();

  ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_VOLUME, SIM_VOLUME{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 1, 0, -655360, 0, 0}),
            0u);
  ORVANE_MESSAGE message = nextNotification(server);
  EXPECT_EQ(message.code, ORVANE_MSG_CODE_VOLUME_CHANGED);
  ASSERT_EQ(message.payloadLength, sizeof(ORVANE_VOLUME_CHANGE));
  ORVANE_VOLUME_CHANGE change{};
  std::memcpy(&change, message.payload, sizeof change);
  EXPECT_EQ(change.deviceId, device);
  EXPECT_EQ(change.direction, ORVANE_SOUND_DEVICE_PLAYBACK);
  EXPECT_EQ(change.soundDeviceIndex, 1u);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_SET_VOLUME, SIM_VOLUME{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 1, 16, 0, 0, 0}),
            ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_SET_VOLUME, SIM_VOLUME{{0, 0, {}}, ORVANE_SOUND_DEVICE_RECORDING, 40, 0, 0, 0, 0}),
            ORVANE_STATUS_OBJECT_NOT_FOUND);

  panel.drainNotifications();
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_SPDIF_INPUT,
                         SIM_SPDIF_INPUT{{0, 0, {}}, ORVANE_SPDIF_INPUT_LOCKED, ORVANE_SPDIF_FORMAT_PCM, 44100, 0}),
            0u);
  message = nextNotification(panel);
  EXPECT_EQ(message.code, ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED);
  EXPECT_EQ(payloadDevice(message), device);
  EXPECT_NE(state().find("spdif input: state locked, format pcm, rate 44100"), std::string::npos);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_SET_SPDIF_INPUT, SIM_SPDIF_INPUT{{1, 0, {}}, 1, 0, 0, 0}),
            ORVANE_STATUS_NOT_SUPPORTED);  // the second device has no S/PDIF input
  EXPECT_EQ(controlLink.send(SIM_CONTROL_SET_SPDIF_INPUT, SIM_SPDIF_INPUT{{0, 0, {}}, 4, 0, 0, 0}),
            ORVANE_STATUS_INVALID_PARAMETER);

  panel.drainNotifications();
  server.drainNotifications();
  ASSERT_EQ(controlLink.send(SIM_CONTROL_CHANGE_SETTINGS, SIM_SETTINGS{96000, SIM_KEEP, ORVANE_ASIO_BUFFER_LARGE, 0}), 0u);
  EXPECT_EQ(nextNotification(panel).code, ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED);
  EXPECT_EQ(streamingStatus().sampleRate, 96000u);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_CHANGE_SETTINGS, SIM_SETTINGS{12345, SIM_KEEP, SIM_KEEP, 0}),
            ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE);

  // The same requests from the service itself announce nothing; from anyone else they do.
  ASSERT_EQ(server.send(ORVANE_IOCTL_SET_SAMPLE_RATE, 48000u), 0u);
  EXPECT_TRUE(panel.drainNotifications().empty());
  SimFile outsider;
  ASSERT_EQ(outsider.send(ORVANE_IOCTL_SET_BUFFER_SIZES, ORVANE_BUFFER_SETTINGS{1, 1, 0}), 0u);
  EXPECT_EQ(nextNotification(panel).code, ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED);
}

TEST_F(Control, InjectedFailuresReachTheCallerUnchanged) {
  SimFile controlLink(kControlLinkName);
  SimFile file;
  ORVANE_DRIVER_INFO info{};
  const uint32_t statuses[] = {ORVANE_STATUS_DEVICE_REMOVED, ORVANE_STATUS_NO_FIRMWARE, ORVANE_STATUS_PENDING,
                               ORVANE_STATUS_SOUND_DEVICE_IN_USE};
  for (uint32_t status : statuses) {
    ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_FAULT, SIM_FAULT{ORVANE_IOCTL_GET_DRIVER_INFO, status, 0, 1}), 0u);
    EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), status);
    EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u);  // the count was one
  }
  // Without a count every request fails until the fault is removed; codes
  // without a handler can fail too.
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_FAULT, SIM_FAULT{ORVANE_IOCTL_GET_STATISTICS, ORVANE_STATUS_TIMEOUT, 0, 0}),
            0u);
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_FAULT, SIM_FAULT{ORVANE_IOCTL_READ_MESSAGE, ORVANE_STATUS_NO_SERVER, 0, 0}),
            0u);
  ORVANE_MESSAGE message{};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(file.control(ORVANE_IOCTL_GET_STATISTICS, nullptr, 0, nullptr, 0), ORVANE_STATUS_TIMEOUT);
    EXPECT_EQ(file.get(ORVANE_IOCTL_READ_MESSAGE, &message), ORVANE_STATUS_NO_SERVER);
  }
  EXPECT_NE(state().find("status ORVANE_STATUS_TIMEOUT (0xE0000005)"), std::string::npos);
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_FAULT, SIM_FAULT{ORVANE_IOCTL_READ_MESSAGE, 0, 0, 0}), 0u);
  EXPECT_EQ(file.get(ORVANE_IOCTL_READ_MESSAGE, &message), ORVANE_STATUS_NO_MORE_ITEMS);
  ASSERT_EQ(controlLink.send(SIM_CONTROL_CLEAR_FAULTS), 0u);
  EXPECT_EQ(file.control(ORVANE_IOCTL_GET_STATISTICS, nullptr, 0, nullptr, 0), ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  EXPECT_EQ(controlLink.send(SIM_CONTROL_SET_FAULT, SIM_FAULT{0, 1, 0, 0}), ORVANE_STATUS_INVALID_PARAMETER);
}

TEST_F(Control, AFaultMayLetRequestsThroughFirst) {
  SimFile controlLink(kControlLinkName);
  SimFile file;
  ORVANE_DRIVER_INFO info{};
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_FAULT,
                             SIM_FAULT{ORVANE_IOCTL_GET_DRIVER_INFO, ORVANE_STATUS_DEVICE_REMOVED, 0, 2, 3}),
            0u);
  EXPECT_NE(state().find("remaining 2, let through 3"), std::string::npos) << state();
  const uint32_t expected[] = {0, 0, 0, ORVANE_STATUS_DEVICE_REMOVED, ORVANE_STATUS_DEVICE_REMOVED, 0};
  for (const uint32_t status : expected) EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), status);
}

TEST_F(Control, PatchedRepliesCarryTheBytesForAsManyRepliesAsAsked) {
  SimFile file;
  ORVANE_DRIVER_INFO info{};
  auto driverInfo = [&] {
    info = ORVANE_DRIVER_INFO{};
    return file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info);
  };
  // Two patches of one code add up, the later one written last; count 0 means once.
  ASSERT_EQ(control.patchReplyU32(ORVANE_IOCTL_GET_DRIVER_INFO, 0, 0x11111111, 2), 0u);
  ASSERT_EQ(control.patchReply(ORVANE_IOCTL_GET_DRIVER_INFO, 2, std::vector<uint8_t>{0xAA, 0xBB}, 0), 0u);
  EXPECT_NE(state().find("reply patches (2):"), std::string::npos) << state();
  ASSERT_EQ(driverInfo(), 0u);
  EXPECT_EQ(info.interfaceVersionMajor, 0xBBAA1111u);
  EXPECT_EQ(info.interfaceVersionMinor, 1u);  // the rest as the driver wrote it
  ASSERT_EQ(driverInfo(), 0u);
  EXPECT_EQ(info.interfaceVersionMajor, 0x11111111u);
  ASSERT_EQ(driverInfo(), 0u);
  EXPECT_EQ(info.interfaceVersionMajor, 2u);
  EXPECT_NE(state().find("reply patches (0):"), std::string::npos);

  // What lies past the end of the output is dropped: the reply keeps its size.
  ASSERT_EQ(control.patchReply(ORVANE_IOCTL_GET_DRIVER_INFO, sizeof info - 2, std::vector<uint8_t>(64, 0xEE)), 0u);
  ASSERT_EQ(control.patchReplyU32(ORVANE_IOCTL_GET_DRIVER_INFO, 1u << 31, 7), 0u);
  uint8_t reply[sizeof info + 8] = {};
  uint32_t bytes = 0;
  ASSERT_EQ(file.control(ORVANE_IOCTL_GET_DRIVER_INFO, nullptr, 0, reply, sizeof info, &bytes), 0u);
  EXPECT_EQ(bytes, sizeof info);
  EXPECT_EQ(reply[sizeof info - 3], 0);
  EXPECT_EQ(reply[sizeof info - 2], 0xEE);
  EXPECT_EQ(reply[sizeof info - 1], 0xEE);
  EXPECT_EQ(reply[sizeof info], 0);

  // A failed request is no reply to patch: the patch waits for a successful one.
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_DRIVER_INFO, ORVANE_STATUS_NO_FIRMWARE, 0, 1), 0u);
  ASSERT_EQ(control.patchReplyU32(ORVANE_IOCTL_GET_DRIVER_INFO, 4, 99), 0u);
  EXPECT_EQ(driverInfo(), ORVANE_STATUS_NO_FIRMWARE);
  EXPECT_EQ(file.control(ORVANE_IOCTL_GET_DRIVER_INFO, nullptr, 0, reply, 4, &bytes),
            ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
  ASSERT_EQ(driverInfo(), 0u);
  EXPECT_EQ(info.interfaceVersionMinor, 99u);

  // A delayed answer is patched too.
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_DRIVER_INFO, 0, 20, 1), 0u);
  ASSERT_EQ(control.patchReplyU32(ORVANE_IOCTL_GET_DRIVER_INFO, 4, 98), 0u);
  ASSERT_EQ(driverInfo(), 0u);
  EXPECT_EQ(info.interfaceVersionMinor, 98u);

  // Clearing the faults removes the patches.
  ASSERT_EQ(control.patchReplyU32(ORVANE_IOCTL_GET_DRIVER_INFO, 4, 97, 5), 0u);
  ASSERT_EQ(control.clearFaults(), 0u);
  ASSERT_EQ(driverInfo(), 0u);
  EXPECT_EQ(info.interfaceVersionMinor, 1u);
}

TEST_F(Control, APatchWithBadInputIsRefused) {
  struct Case {
    const char* why;
    SIM_REPLY_PATCH header;
    size_t bytesSent;
    uint32_t status;
  };
  const uint32_t info = ORVANE_IOCTL_GET_DRIVER_INFO;
  const Case cases[] = {
      {"too long", {info, 0, SIM_MAX_PATCH_BYTES + 1, 1}, SIM_MAX_PATCH_BYTES + 1, ORVANE_STATUS_INVALID_PARAMETER},
      {"fewer bytes than its length", {info, 0, 8, 1}, 7, ORVANE_STATUS_INVALID_PARAMETER},
      {"more bytes than its length", {info, 0, 8, 1}, 9, ORVANE_STATUS_INVALID_PARAMETER},
      {"a code without a handler", {0x80890FFCu, 0, 4, 1}, 4, ORVANE_STATUS_INVALID_PARAMETER},
      {"code 0", {0, 0, 4, 1}, 4, ORVANE_STATUS_INVALID_PARAMETER},
  };
  SimFile controlLink(kControlLinkName);
  for (const Case& c : cases) {
    std::vector<uint8_t> input(sizeof c.header + c.bytesSent, 0x5A);
    std::memcpy(input.data(), &c.header, sizeof c.header);
    EXPECT_EQ(controlLink.control(SIM_CONTROL_PATCH_REPLY, input.data(), static_cast<uint32_t>(input.size()), nullptr,
                                  0),
              c.status)
        << c.why;
  }
  const uint8_t shortHeader[sizeof(SIM_REPLY_PATCH) - 1] = {};
  EXPECT_EQ(controlLink.control(SIM_CONTROL_PATCH_REPLY, shortHeader, sizeof shortHeader, nullptr, 0),
            ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  EXPECT_NE(state().find("reply patches (0):"), std::string::npos);
  // The largest patch is taken.
  EXPECT_EQ(control.patchReply(info, 0, std::vector<uint8_t>(SIM_MAX_PATCH_BYTES, 1)), 0u);
}

TEST_F(Control, ADelayedAnswerIsPendingAndCompletesWithTheRealResult) {
  SimFile controlLink(kControlLinkName);
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_FAULT, SIM_FAULT{ORVANE_IOCTL_GET_STREAMING_STATUS, 0, 200, 1}), 0u);
  SimFile file;
  platform::Handle event = platform::createEvent(true, false);
  platform::Overlapped overlapped;
  overlapped.event = event;
  ORVANE_STREAMING_STATUS status{};
  uint32_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_FALSE(platform::deviceIoControl(file.handle(), ORVANE_IOCTL_GET_STREAMING_STATUS, nullptr, 0, &status,
                                         sizeof status, &bytes, &overlapped));
  ASSERT_EQ(platform::lastError(), platform::ERROR_IO_PENDING);
  // Other connections are answered meanwhile.
  EXPECT_EQ(streamingStatus().state, ORVANE_STREAMING_STATE_DOWN);
  ASSERT_TRUE(platform::getOverlappedResult(file.handle(), &overlapped, &bytes, true));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  EXPECT_EQ(bytes, sizeof status);
  EXPECT_EQ(status.state, ORVANE_STREAMING_STATE_DOWN);
  EXPECT_EQ(status.sampleRate, 48000u);

  // A delayed failure keeps its status.
  ASSERT_EQ(controlLink.send(SIM_CONTROL_SET_FAULT, SIM_FAULT{ORVANE_IOCTL_SET_SAMPLE_RATE, 0, 50, 1}), 0u);
  EXPECT_EQ(file.send(ORVANE_IOCTL_SET_SAMPLE_RATE, 1234u), ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE);
  platform::closeHandle(event);
}

TEST_F(Control, NotifyPostsAnyCodeWithItsPayload) {
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  SimFile controlLink(kControlLinkName);
  const uint8_t input[4 + 3] = {0xD4, 0x0B, 0, 0, 1, 2, 3};  // 3028 and three bytes
  ASSERT_EQ(controlLink.control(SIM_CONTROL_NOTIFY, input, sizeof input, nullptr, 0), 0u);
  const ORVANE_MESSAGE message = [&] {
    ORVANE_MESSAGE m{};
    EXPECT_TRUE(panel.waitNotification());
    EXPECT_EQ(panel.readNotification(&m), 0u);
    return m;
  }();
  EXPECT_EQ(message.kind, ORVANE_MSG_NOTIFICATION);
  EXPECT_EQ(message.code, 3028u);
  EXPECT_EQ(message.sequence, 0u);
  ASSERT_EQ(message.payloadLength, 3u);
  EXPECT_EQ(message.payload[2], 3);
  EXPECT_EQ(controlLink.control(SIM_CONTROL_NOTIFY, input, 3, nullptr, 0), ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  EXPECT_EQ(controlLink.send(0x80890FFCu), ORVANE_STATUS_INVALID_IOCTL);
}

TEST_F(Control, TheStateDumpDescribesEverything) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  const std::string dump = state();
  for (const char* expected : {"driver: interface 2.1, version 1.0.0, build release",
                               "configuration: file ", "  devices (3):\n", "    name QUINTOR Solo 2, usb 2F1A:0102",
                               "streaming: state Down, mode single device, rate 48000, streaming buffer ",
                               "\ndevices (2):\n",
                               "name QUINTOR Studio 16, usb 2F1A:0110, serial QT16A0042, port high-speed",
                               "port full-speed", "[IN 01]", "[SPDIF OUT 1R]", "[Loopback 02]", "[DSD IN 08]",
                               "playback sound devices (9): [0 Out 1/2]",
                               "client server, message event yes, notification event yes",
                               "faults (0):"}) {
    EXPECT_NE(dump.find(expected), std::string::npos) << expected << "\n" << dump;
  }
  // No raw numbers where a name exists.
  EXPECT_EQ(dump.find("state 1"), std::string::npos) << dump;

  // The same as JSON.
  SimFile jsonControl(kControlLinkName);
  std::string json(SIM_MAX_STATE_TEXT, '\0');
  uint32_t jsonBytes = 0;
  ASSERT_EQ(jsonControl.control(SIM_CONTROL_GET_STATE, &SIM_STATE_JSON, sizeof SIM_STATE_JSON, json.data(),
                                static_cast<uint32_t>(json.size()), &jsonBytes),
            0u);
  json.resize(jsonBytes);
  for (const char* expected : {"{\"driver\":{\"interface\":\"2.1\",\"version\":\"1.0.0\",", "\"state\":\"Down\"",
                               "\"devices\":[{\"position\":0,\"id\":\"", "\"streaming\":true",
                               "\"inputChannels\":[\"IN 01\",", "\"client\":\"server\"", "\"faults\":[]}\n"}) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
  const uint32_t badFormat = 7;
  EXPECT_EQ(jsonControl.control(SIM_CONTROL_GET_STATE, &badFormat, sizeof badFormat, json.data(), 64, &jsonBytes),
            ORVANE_STATUS_INVALID_PARAMETER);
  // A reply too small for the dump gets what fits and says so.
  SimFile controlLink(kControlLinkName);
  char small[64];
  uint32_t bytes = 0;
  EXPECT_EQ(controlLink.control(SIM_CONTROL_GET_STATE, nullptr, 0, small, sizeof small, &bytes), 234u);  // more data
  EXPECT_EQ(bytes, sizeof small);
}

}  // namespace
