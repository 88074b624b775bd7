#pragma once
// Helpers of the simulated driver's tests: the two-device configuration they
// run on, registered connections with their events, message records. The
// fixture itself is tests/support/simulated_driver.h.

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
#include "tests/support/simulated_driver.h"
#include "usb-audio-kernel-sim/sim_control.h"

namespace sim_testing {

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

// The simulated driver's tests run on the two-device configuration above.
class SimDriverTest : public SimulatedDriverTest {
 protected:
  std::string configuration() const override { return kTwoDeviceConfiguration; }
};

}  // namespace sim_testing
