#pragma once
// Helpers of the simulated driver's tests: a device host in the test process
// with the driver module on a private system root and a configuration of the
// test's choosing, and connections that send requests the way the device
// access library does (overlapped request, wait, status as the error).

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "device-access/orvane_asio_records.h"
#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_records.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_status.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/kernel/device_host.h"
#include "platform/registry.h"
#include "platform/waits.h"
#include "tests/support/test_device_file.h"
#include "tests/support/test_system_root.h"
#include "usb-audio-kernel-sim/sim_control.h"

namespace sim_testing {

inline constexpr char16_t kPanelLink[] = u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}";
inline constexpr char16_t kSpyLink[] = u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}";
inline constexpr char16_t kAsioLink[] = u"{7045B601-879C-4d77-80C0-88D4F867070B}";

// One device like the shipped one, a second without DSD on a full-speed
// port, and a third that is not plugged at load.
inline constexpr const char* kTwoDeviceConfiguration = R"(
[device]
vendor = 0x2F1A
product = 0x0110
serial = QT16A0042
name = QUINTOR Studio 16
i2s_inputs = 16
i2s_outputs = 16
spdif_inputs = 2
spdif_outputs = 2
dsd_inputs = 8
dsd_outputs = 8
virtual_inputs = 2
rates = 44100 48000 88200 96000 176400 192000 2822400 5644800
echo_plugin = yes

[device]
vendor = 0x2F1A
product = 0x0104
serial = QT04B0007
name = QUINTOR Mini 4
high_speed = no
i2s_inputs = 4
i2s_outputs = 4
rates = 44100 48000 96000

[device]
vendor = 0x2F1A
product = 0x0102
serial = QT02C0001
name = QUINTOR Solo 2
i2s_inputs = 2
i2s_outputs = 2
rates = 44100 48000
plugged = no
)";

using testing_support::devicePath;

// One open connection to a link, with its request event.
class SimFile : public testing_support::TestDeviceFile {
 public:
  explicit SimFile(std::u16string_view link = kPanelLink) : TestDeviceFile(link) {}
};

inline uint64_t handleValue(platform::Handle handle) { return reinterpret_cast<uintptr_t>(handle); }

// A registered connection with an auto-reset message and notification event.
class Client : public SimFile {
 public:
  explicit Client(uint32_t type, std::u16string_view link = kPanelLink)
      : SimFile(link), messageEvent(platform::createEvent(false, false)),
        notificationEvent(platform::createEvent(false, false)) {
    setEventsStatus = send(ORVANE_IOCTL_SET_EVENTS,
                           ORVANE_EVENT_HANDLES{handleValue(messageEvent), handleValue(notificationEvent)});
    registerStatus = send(ORVANE_IOCTL_REGISTER_CLIENT, type);
  }
  ~Client() {
    close();
    platform::closeHandle(messageEvent);
    platform::closeHandle(notificationEvent);
  }

  uint32_t readMessage(ORVANE_MESSAGE* message) { return get(ORVANE_IOCTL_READ_MESSAGE, message); }
  uint32_t readNotification(ORVANE_MESSAGE* message) { return get(ORVANE_IOCTL_READ_NOTIFICATION, message); }
  // Every queued notification code, oldest first.
  std::vector<uint32_t> drainNotifications() {
    std::vector<uint32_t> codes;
    ORVANE_MESSAGE message{};
    while (readNotification(&message) == 0) codes.push_back(message.code);
    return codes;
  }
  // Waits until a notification with `code` has been read (records that came
  // with it are dropped); false after 5 s without it.
  bool awaitNotification(uint32_t code) {
    for (int round = 0; round < 50; ++round) {
      for (uint32_t queued : drainNotifications()) {
        if (queued == code) return true;
      }
      waitNotification(100);
    }
    return false;
  }
  bool waitMessage(uint32_t milliseconds = 5000) {
    return platform::waitForSingle(messageEvent, milliseconds) == platform::WAIT_OBJECT_0;
  }
  bool waitNotification(uint32_t milliseconds = 5000) {
    return platform::waitForSingle(notificationEvent, milliseconds) == platform::WAIT_OBJECT_0;
  }

  platform::Handle messageEvent;
  platform::Handle notificationEvent;
  uint32_t setEventsStatus = 0;
  uint32_t registerStatus = 0;
};

inline ORVANE_MESSAGE makeMessage(uint32_t kind, uint32_t code, const void* payload = nullptr, uint32_t length = 0) {
  ORVANE_MESSAGE message{};
  message.headerSize = ORVANE_MESSAGE_HEADER_SIZE;
  message.kind = kind;
  message.code = code;
  message.payloadLength = length;
  if (length > 0) std::memcpy(message.payload, payload, length);
  return message;
}

inline uint32_t sendMessage(SimFile& file, const ORVANE_MESSAGE& message) {
  return file.control(ORVANE_IOCTL_SEND_MESSAGE, &message, ORVANE_MESSAGE_HEADER_SIZE + message.payloadLength,
                      nullptr, 0);
}

// The unaligned identifier n of a channel list.
inline uint64_t channelAt(const ORVANE_CHANNEL_LIST& list, uint32_t n) {
  uint64_t id = 0;
  std::memcpy(&id, reinterpret_cast<const uint8_t*>(&list) + 4 + n * 8, 8);
  return id;
}

// A device host with the simulated driver on a private system root.
class SimDriverTest : public ::testing::Test {
 protected:
  virtual std::string configuration() const { return kTwoDeviceConfiguration; }

  void SetUp() override {
    const std::string path = (root.path() / "devices.conf").string();
    std::ofstream(path) << configuration();
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine,
                                            u"System\\CurrentControlSet\\Services\\usbaudio_sim\\Parameters",
                                            platform::KEY_ALL_ACCESS, key),
              0u);
    ASSERT_EQ(key.setString(u"ConfigFile", std::u16string(path.begin(), path.end())), 0u);
    configureRegistry(key);
    key.close();
    ASSERT_EQ(host.start(), 0u);
    std::string error;
    ASSERT_EQ(host.loadDriver(WN_USBAUDIO_SIM_MODULE, u"usbaudio_sim", &error), 0u) << error;
  }

  void TearDown() override {
    host.stop();
    platform::closeRegistry();
  }

  // More Parameters values before the driver loads.
  virtual void configureRegistry(const platform::RegistryKey& /*key*/) {}

  uint32_t controlRequest(uint32_t code, const void* input = nullptr, uint32_t inputSize = 0, void* output = nullptr,
                          uint32_t outputSize = 0) {
    SimFile control(usbaudio_sim::kControlLinkName);
    return control.control(code, input, inputSize, output, outputSize);
  }
  template <typename In>
  uint32_t controlSend(uint32_t code, const In& input) {
    return controlRequest(code, &input, sizeof input);
  }
  std::string state() {
    std::string text(usbaudio_sim::SIM_MAX_STATE_TEXT, '\0');
    SimFile control(usbaudio_sim::kControlLinkName);
    uint32_t bytes = 0;
    EXPECT_EQ(control.control(usbaudio_sim::SIM_CONTROL_GET_STATE, nullptr, 0, text.data(),
                              static_cast<uint32_t>(text.size()), &bytes),
              0u);
    text.resize(bytes);
    return text;
  }
  // Closing a handle ends its connection asynchronously: waits until the
  // state dump no longer mentions `text` (false after 5 s).
  bool waitUntilGone(const std::string& text) {
    for (int round = 0; round < 500; ++round) {
      if (state().find(text) == std::string::npos) return true;
      platform::sleepMs(10);
    }
    return false;
  }
  ORVANE_DEVICE_LIST deviceList() {
    SimFile file;
    ORVANE_DEVICE_LIST list{};
    EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DEVICE_LIST, &list), 0u);
    return list;
  }
  ORVANE_STREAMING_STATUS streamingStatus() {
    SimFile file;
    ORVANE_STREAMING_STATUS status{};
    EXPECT_EQ(file.get(ORVANE_IOCTL_GET_STREAMING_STATUS, &status), 0u);
    return status;
  }
  // Drives the engine to Running as the service's bring-up does.
  void bringUp(SimFile& file) {
    for (uint32_t command : {ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_COMMAND_PREPARE,
                             ORVANE_STREAMING_COMMAND_START}) {
      ASSERT_EQ(file.send(ORVANE_IOCTL_STREAMING_CONTROL, command), 0u) << command;
    }
  }

  testing_support::TestSystemRoot root;
  platform::kernel::DeviceHost host;
};

}  // namespace sim_testing
