#pragma once
// A plugged virtual device: its description, its channels with their names
// and level meters, its WDM sound devices, the S/PDIF input, and the state
// that request families attach to it (extensions).
//
// Every member is guarded by the driver lock, except the level meters, which
// the pacing threads write.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "device-access/orvane_records.h"
#include "device-access/orvane_service_records.h"
#include "usb-audio-kernel-sim/configuration.h"
#include "usb-audio-kernel-sim/state_report.h"

namespace usbaudio_sim {

// The peak level of a channel in hundredths of a dB (full scale = 0), written
// once per buffer period while the channel streams.
inline constexpr int32_t kSilentLevel = -14400;

struct LevelMeter {
  std::atomic<int32_t> peak{kSilentLevel};
};

struct Channel {
  uint64_t id = 0;
  uint32_t direction = ORVANE_CHANNEL_DIRECTION_INPUT;
  uint32_t portType = ORVANE_PORT_TYPE_I2S;  // ORVANE_PORT_TYPE_...
  uint32_t index = 0;                        // channel number within its port, 0-based
  std::u16string defaultName;
  std::u16string name;                       // set through the channel names; empty: the default
  std::shared_ptr<LevelMeter> meter = std::make_shared<LevelMeter>();
  uint32_t owner = 0;                        // the connection that acquired it for ASIO, 0 when free

  bool isDsd() const { return portType == ORVANE_PORT_TYPE_DSD; }
  const std::u16string& displayName() const { return name.empty() ? defaultName : name; }
  ORVANE_CHANNEL_INFO info(ORVANE_DEVICE_ID device) const;
};

// 64-bit channel identifier: device identifier's first word, direction, port
// type, channel number.
uint64_t makeChannelId(ORVANE_DEVICE_ID device, uint32_t direction, uint32_t portType, uint32_t index);

struct SoundDevice {
  ORVANE_SOUND_DEVICE record{};       // as the service named it (or the default)
  ORVANE_SOUND_DEVICE_VOLUME volume{};  // the Windows volume of its channels
  bool open = false;                  // a simulated application has it open
};

// State a request family keeps per device. Derive from it and reach it with
// VirtualDevice::extension<T>(); `describe` adds its values to the state dump.
class DeviceExtension {
 public:
  virtual ~DeviceExtension() = default;
  virtual void describe(StateReport& /*report*/) const {}
};

class VirtualDevice {
 public:
  VirtualDevice(const DeviceDescription& description, ORVANE_DEVICE_ID id, int configIndex);

  const DeviceDescription& description() const { return description_; }
  ORVANE_DEVICE_ID id() const { return id_; }
  // Index in the configuration file, -1 for a device plugged from a description.
  int configIndex() const { return configIndex_; }
  ORVANE_DEVICE_INFO info(bool streamingSelected) const;
  bool supportsRate(uint32_t rate) const;
  bool hasDsd() const { return description_.dsdInputs + description_.dsdOutputs > 0; }

  std::vector<Channel>& inputs() { return inputs_; }
  std::vector<Channel>& outputs() { return outputs_; }
  std::vector<Channel>& channels(uint32_t direction) {
    return direction == ORVANE_CHANNEL_DIRECTION_INPUT ? inputs_ : outputs_;
  }
  Channel* findChannel(uint64_t id);
  // The channel an ORVANE_CHANNEL_NAME entry names: pair and side for I2S,
  // S/PDIF and virtual ports, the channel number for DSD.
  Channel* findNamedChannel(uint32_t direction, uint32_t portType, uint32_t index, uint32_t side);

  // By direction: ORVANE_SOUND_DEVICE_RECORDING or _PLAYBACK. Until the
  // service names them, one stereo device per line pair and one for S/PDIF.
  std::vector<SoundDevice>& soundDevices(uint32_t direction) {
    return direction == ORVANE_SOUND_DEVICE_RECORDING ? recordingSoundDevices_ : playbackSoundDevices_;
  }
  uint32_t openSoundDevices() const;

  SpdifInputState spdifInput;

  template <typename T>
  T& extension() {
    auto& slot = extensions_[std::type_index(typeid(T))];
    if (!slot) slot = std::make_unique<T>();
    return static_cast<T&>(*slot);
  }
  void describeExtensions(StateReport& report) const;

 private:
  void addChannels(uint32_t direction, uint32_t portType, uint32_t count);
  void addDefaultSoundDevices();

  DeviceDescription description_;
  ORVANE_DEVICE_ID id_;
  int configIndex_;
  std::vector<Channel> inputs_;
  std::vector<Channel> outputs_;
  std::vector<SoundDevice> recordingSoundDevices_;
  std::vector<SoundDevice> playbackSoundDevices_;
  std::map<std::type_index, std::unique_ptr<DeviceExtension>> extensions_;
};

// Copies text into a fixed record field, cut to fit with its terminator.
template <size_t N>
void copyToField(char16_t (&field)[N], std::u16string_view text) {
  const size_t count = text.size() < N - 1 ? text.size() : N - 1;
  for (size_t i = 0; i < count; ++i) field[i] = text[i];
  for (size_t i = count; i < N; ++i) field[i] = 0;
}

}  // namespace usbaudio_sim
