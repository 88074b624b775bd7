#pragma once
// Helpers of the device-feature tests: a configuration with a full-featured
// device (mixer, S/PDIF, DSD, echo plug-in) and a bare one, connections
// attached to a device, notifications with their payload, and an ASIO stream
// built from shareable memory as the ASIO driver builds it.

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "device-access/orvane_asio_records.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_statistics.h"
#include "platform/shared_memory.h"
#include "tests/usb-audio-kernel-sim/sim_test_support.h"

namespace feature_testing {

using namespace sim_testing;

// Device 0: the shipped device. Device 1: four line channels each way and
// nothing else. Device 2: like device 1, not plugged at load.
inline constexpr const char* kFeatureConfiguration = R"(
[device]
vendor = 0x2F1A
product = 0x0110
serial = QT16A0042
name = QUINTOR Studio 16 with a long name
i2s_inputs = 16
i2s_outputs = 16
spdif_inputs = 2
spdif_outputs = 2
dsd_inputs = 8
dsd_outputs = 8
virtual_inputs = 2
rates = 44100 48000 88200 96000 176400 192000 2822400 5644800
spdif_input = locked pcm 48000
echo_plugin = yes
mixer_outputs = 0:16 1:2 5:2
mixer_monitor_inputs = 0:16 1:2
mixer_playback_inputs = 2:16 3:2
revision = 0x0103
board_id = 0x16
firmware = 2.4.17

[device]
vendor = 0x2F1A
product = 0x0104
serial = QT04B0007
name = QUINTOR Mini 4
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

// The level the driver reports for silence, in hundredths of a dB.
constexpr int16_t kSilent = -14400;

constexpr ORVANE_MIXER_PIN pin(uint8_t portType, uint8_t channel) { return ORVANE_MIXER_PIN{portType, channel, {0, 0}}; }

struct Notification {
  uint32_t code;
  std::vector<uint8_t> payload;
};

// Every queued notification with its payload, oldest first.
inline std::vector<Notification> drainWithPayload(Client& client) {
  std::vector<Notification> result;
  ORVANE_MESSAGE message{};
  while (client.readNotification(&message) == 0) {
    result.push_back({message.code, std::vector<uint8_t>(message.payload, message.payload + message.payloadLength)});
  }
  return result;
}

// Whether `code` is among the notifications, with the device identifier as payload.
inline bool hasDeviceNotification(const std::vector<Notification>& notifications, uint32_t code,
                                  ORVANE_DEVICE_ID device) {
  for (const Notification& notification : notifications) {
    if (notification.code != code || notification.payload.size() != sizeof device) continue;
    ORVANE_DEVICE_ID id{};
    std::memcpy(&id, notification.payload.data(), sizeof id);
    if (id == device) return true;
  }
  return false;
}

inline bool hasCode(const std::vector<Notification>& notifications, uint32_t code) {
  for (const Notification& notification : notifications) {
    if (notification.code == code) return true;
  }
  return false;
}

// Entry requests: n entries in, n entries out through the same buffer size.
template <typename Entry>
uint32_t exchange(SimFile& file, uint32_t code, std::vector<Entry>& entries) {
  const auto size = static_cast<uint32_t>(entries.size() * sizeof(Entry));
  std::vector<Entry> answer(entries.size());
  uint32_t bytes = 0;
  const uint32_t status = file.control(code, entries.data(), size, answer.data(), size, &bytes);
  if (status == 0) {
    EXPECT_EQ(bytes, size);
    entries = answer;
  }
  return status;
}

// Repeats `probe` until it holds or two seconds have passed.
template <typename Probe>
bool eventually(Probe probe) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!probe()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Shareable memory of one allocation, freed with the object.
class SharedBuffer {
 public:
  explicit SharedBuffer(size_t size) : data_(static_cast<uint8_t*>(platform::allocateShareable(size))) {}
  ~SharedBuffer() {
    if (data_ != nullptr) platform::freeShareable(data_);
  }
  SharedBuffer(const SharedBuffer&) = delete;
  SharedBuffer& operator=(const SharedBuffer&) = delete;

  uint8_t* data() const { return data_; }
  uint64_t address() const { return reinterpret_cast<uintptr_t>(data_); }

 private:
  uint8_t* data_;
};

// An ASIO client's stream on its own connection: buffers of `frames` frames
// for the channels it adds. The engine must be Running for it to move samples.
class AsioClient {
 public:
  explicit AsioClient(uint32_t frames) : file(kAsioLink), frames_(frames), block_(4096) {
    event_ = platform::createEvent(false, false);
  }
  ~AsioClient() {
    file.close();
    channels_.clear();
    platform::closeHandle(event_);
  }

  uint32_t createBuffers() {
    return file.send(ORVANE_IOCTL_ASIO_CREATE_BUFFERS,
                     ORVANE_ASIO_CREATE_BUFFERS{block_.address(), handleValue(event_), frames_});
  }
  // Acquires a PCM channel and hands it buffers; the buffer of both halves.
  int32_t* addChannel(uint64_t channelId) {
    EXPECT_EQ(file.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, channelId), 0u);
    auto& buffer = channels_.emplace_back(std::make_unique<SharedBuffer>(frames_ * 4 * 2));
    const ORVANE_ASIO_CHANNEL_BUFFERS record{channelId, frames_ * 4, ORVANE_ASIO_CHANNEL_BUFFER_WORD,
                                             buffer->address()};
    EXPECT_EQ(file.send(ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS, record), 0u);
    return reinterpret_cast<int32_t*>(buffer->data());
  }
  uint32_t start() { return file.send(ORVANE_IOCTL_ASIO_START); }
  uint32_t stop() { return file.send(ORVANE_IOCTL_ASIO_STOP); }
  uint32_t frames() const { return frames_; }

  SimFile file;

 private:
  uint32_t frames_;
  SharedBuffer block_;
  platform::Handle event_ = nullptr;
  std::vector<std::unique_ptr<SharedBuffer>> channels_;
};

class FeatureTest : public SimDriverTest {
 protected:
  std::string configuration() const override { return kFeatureConfiguration; }

  ORVANE_DEVICE_ID deviceId(uint32_t position) { return deviceList().devices[position].deviceId; }

  // A connection attached to the device at `position` of the device list.
  void attach(SimFile& file, uint32_t position) {
    ASSERT_EQ(file.send(ORVANE_IOCTL_ATTACH_DEVICE, deviceId(position)), 0u);
  }

  ORVANE_STATISTICS statistics(uint32_t flag = ORVANE_STATISTICS_READ) {
    SimFile spy(kSpyLink);
    auto record = std::make_unique<ORVANE_STATISTICS>();
    EXPECT_EQ(spy.query(ORVANE_IOCTL_GET_STATISTICS, flag, record.get()), 0u);
    return *record;
  }
};

}  // namespace feature_testing
