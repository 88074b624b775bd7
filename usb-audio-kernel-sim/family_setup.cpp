// What the device control service configures per device: the port
// configuration it reads, the channel and sound device names, the sound
// devices' volumes (mixer strips), and the port state and parameter. The
// device setup record belongs to the mixer family, whose loopback path it
// switches.
//
// Port configuration: one block per port type and group of 16 channels, line
// (I2S) first, then S/PDIF, DSD (only on a device with DSD channels) and
// virtual; the first array of a block holds the inputs, the second the
// outputs, each entry the port type as its channel type (2 for DSD).
//
// Channel names: the table replaces every name of the device; channels it
// does not name show their default names again. Entries for channels the
// device does not have are skipped (the service sends one table for every
// model). Sound device names: the table replaces the device's sound devices,
// each with its volume at 0 dB, unless one of them is open.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_status.h"
#include "platform/text.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::STATUS_SUCCESS;

constexpr uint32_t kPortBlockChannels = ORVANE_PORT_BLOCK_CHANNELS;
// Volumes are kept within the line sound devices' floor and +6 dB.
constexpr int32_t kMaximumVolume = 6 * 65536;
// Port state words: port 0 is the device's streaming interface, idle (0) or
// running (1); its parameter is the number of isochronous packets per USB
// frame: 1, 2, 4 or 8.
constexpr uint32_t kStreamingPort = 0;
constexpr uint32_t kPortRunning = 1;

struct PortSettings : DeviceExtension {
  uint32_t state = 0;
  uint32_t packetsPerFrame = 8;

  void describe(StateReport& report) const override {
    report.openObject("port0");
    report.add("state", state);
    report.add("packetsPerFrame", packetsPerFrame);
    report.close();
  }
};

// A copy of a large input record, kept off the stack.
template <typename Record>
std::unique_ptr<Record> inputRecord(const RequestContext& context) {
  auto record = std::make_unique<Record>();
  std::memcpy(record.get(), context.request.input(), sizeof(Record));
  return record;
}

template <size_t N>
bool isTerminated(const char16_t (&text)[N]) {
  return std::find(text, text + N, u'\0') != text + N;
}

// ---------------------------------------------------------------------------
// Port configuration

void addPortBlocks(ORVANE_PORT_CONFIG& config, uint32_t portType, uint32_t inputs, uint32_t outputs) {
  const uint32_t channels = std::max(inputs, outputs);
  for (uint32_t first = 0; first < channels; first += kPortBlockChannels) {
    if (config.blockCount == ORVANE_MAX_PORT_BLOCKS) return;
    ORVANE_PORT_BLOCK& block = config.blocks[config.blockCount++];
    for (uint32_t k = 0; k < kPortBlockChannels; ++k) {
      if (first + k < inputs) block.channels[0][k].channelType = portType;
      if (first + k < outputs) block.channels[1][k].channelType = portType;
    }
  }
}

NtStatus getPortConfig(RequestContext& context) {
  const DeviceDescription& description = context.device->description();
  ORVANE_PORT_CONFIG config{};
  addPortBlocks(config, ORVANE_PORT_TYPE_I2S, description.i2sInputs, description.i2sOutputs);
  addPortBlocks(config, ORVANE_PORT_TYPE_SPDIF, description.spdifInputs, description.spdifOutputs);
  addPortBlocks(config, ORVANE_PORT_CHANNEL_TYPE_DSD, description.dsdInputs, description.dsdOutputs);
  addPortBlocks(config, ORVANE_PORT_TYPE_VIRTUAL, description.virtualInputs, description.virtualOutputs);
  return context.reply(config);
}

// ---------------------------------------------------------------------------
// Channel names

bool isPortType(uint32_t portType) {
  return portType == ORVANE_PORT_TYPE_I2S || portType == ORVANE_PORT_TYPE_DSD || portType == ORVANE_PORT_TYPE_SPDIF ||
         portType == ORVANE_PORT_TYPE_VIRTUAL;
}

NtStatus checkNames(uint32_t count, const ORVANE_CHANNEL_NAME* entries) {
  if (count > ORVANE_MAX_CHANNEL_NAMES) return ORVANE_STATUS_INVALID_PARAMETER;
  for (uint32_t n = 0; n < count; ++n) {
    const ORVANE_CHANNEL_NAME& entry = entries[n];
    const uint32_t maxSide = entry.portType == ORVANE_PORT_TYPE_DSD ? ORVANE_CHANNEL_SIDE_LEFT : ORVANE_CHANNEL_SIDE_RIGHT;
    if (!isPortType(entry.portType) || entry.index >= kMaxPortChannels || entry.side > maxSide ||
        !isTerminated(entry.name)) {
      return ORVANE_STATUS_INVALID_PARAMETER;
    }
  }
  return STATUS_SUCCESS;
}

// True when a name changed.
bool applyNames(VirtualDevice& device, uint32_t direction, uint32_t count, const ORVANE_CHANNEL_NAME* entries) {
  std::vector<std::u16string> names;
  for (const Channel& channel : device.channels(direction)) names.push_back(channel.name);
  for (Channel& channel : device.channels(direction)) channel.name.clear();
  for (uint32_t n = 0; n < count; ++n) {
    const ORVANE_CHANNEL_NAME& entry = entries[n];
    if (Channel* channel = device.findNamedChannel(direction, entry.portType, entry.index, entry.side)) {
      channel->name.assign(entry.name, platform::wideLength(entry.name, ORVANE_CHANNEL_NAME_CHARS));
    }
  }
  bool changed = false;
  for (size_t i = 0; i < names.size(); ++i) changed |= names[i] != device.channels(direction)[i].name;
  return changed;
}

NtStatus setChannelNames(RequestContext& context) {
  const auto table = inputRecord<ORVANE_CHANNEL_NAME_TABLE>(context);
  for (const NtStatus status : {checkNames(table->inputCount, table->inputs), checkNames(table->outputCount, table->outputs)}) {
    if (status != STATUS_SUCCESS) return status;
  }
  VirtualDevice& device = *context.device;
  const bool inputsChanged = applyNames(device, ORVANE_CHANNEL_DIRECTION_INPUT, table->inputCount, table->inputs);
  const bool outputsChanged = applyNames(device, ORVANE_CHANNEL_DIRECTION_OUTPUT, table->outputCount, table->outputs);
  // The statistics name channels; a reader rebuilds its view on a new generation.
  if (inputsChanged || outputsChanged) context.driver.objectsChanged();
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Sound devices and their volumes

bool isSoundDeviceKind(uint32_t kind) {
  return kind == ORVANE_SOUND_DEVICE_KIND_LINE || kind == ORVANE_SOUND_DEVICE_KIND_SPDIF ||
         kind == ORVANE_SOUND_DEVICE_KIND_MIDI || kind == ORVANE_SOUND_DEVICE_KIND_LOOPBACK;
}

NtStatus checkSoundDevices(uint32_t count, const ORVANE_SOUND_DEVICE* entries) {
  if (count > ORVANE_MAX_SOUND_DEVICES) return ORVANE_STATUS_INVALID_PARAMETER;
  for (uint32_t n = 0; n < count; ++n) {
    const ORVANE_SOUND_DEVICE& entry = entries[n];
    if (!isSoundDeviceKind(entry.kind) || entry.pairCount == 0 || entry.pairCount > ORVANE_SOUND_DEVICE_MAX_PAIRS ||
        entry.position != n || !isTerminated(entry.name)) {
      return ORVANE_STATUS_INVALID_PARAMETER;
    }
    for (uint32_t pair = 0; pair < entry.pairCount; ++pair) {
      if (entry.pairs[pair] >= kMaxPortChannels / 2) return ORVANE_STATUS_INVALID_PARAMETER;
    }
  }
  return STATUS_SUCCESS;
}

// True when the list changed.
bool replaceSoundDevices(VirtualDevice& device, uint32_t direction, uint32_t count, const ORVANE_SOUND_DEVICE* entries) {
  std::vector<SoundDevice>& list = device.soundDevices(direction);
  const bool same = list.size() == count && std::equal(list.begin(), list.end(), entries, [](const SoundDevice& a,
                                                                                             const ORVANE_SOUND_DEVICE& b) {
                      return std::memcmp(&a.record, &b, sizeof b) == 0;
                    });
  if (same) return false;
  list.clear();
  for (uint32_t n = 0; n < count; ++n) {
    SoundDevice soundDevice;
    soundDevice.record = entries[n];
    soundDevice.volume.direction = direction;
    soundDevice.volume.soundDeviceIndex = n;
    list.push_back(soundDevice);
  }
  return true;
}

NtStatus setSoundDeviceNames(RequestContext& context) {
  const auto table = inputRecord<ORVANE_SOUND_DEVICE_TABLE>(context);
  for (const NtStatus status : {checkSoundDevices(table->recordingCount, table->recording),
                                checkSoundDevices(table->playbackCount, table->playback)}) {
    if (status != STATUS_SUCCESS) return status;
  }
  VirtualDevice& device = *context.device;
  if (device.openSoundDevices() != 0) return ORVANE_STATUS_SOUND_DEVICE_IN_USE;
  const bool recordingChanged =
      replaceSoundDevices(device, ORVANE_SOUND_DEVICE_RECORDING, table->recordingCount, table->recording);
  const bool playbackChanged =
      replaceSoundDevices(device, ORVANE_SOUND_DEVICE_PLAYBACK, table->playbackCount, table->playback);
  if (recordingChanged || playbackChanged) context.driver.objectsChanged();
  return STATUS_SUCCESS;
}

// The sound device a volume record names, or the status that says why there is none.
NtStatus findSoundDevice(VirtualDevice& device, const ORVANE_SOUND_DEVICE_VOLUME& record, SoundDevice** found) {
  if (record.direction != ORVANE_SOUND_DEVICE_RECORDING && record.direction != ORVANE_SOUND_DEVICE_PLAYBACK) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  std::vector<SoundDevice>& list = device.soundDevices(record.direction);
  if (record.soundDeviceIndex >= list.size()) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  *found = &list[record.soundDeviceIndex];
  return STATUS_SUCCESS;
}

uint32_t channelCount(const ORVANE_SOUND_DEVICE& record) {
  if (record.kind == ORVANE_SOUND_DEVICE_KIND_MIDI) return 0;
  return std::min<uint32_t>(record.pairCount * 2, ORVANE_SOUND_DEVICE_MAX_CHANNELS);
}

NtStatus getMixerStrip(RequestContext& context) {
  const auto record = context.input<ORVANE_SOUND_DEVICE_VOLUME>();
  SoundDevice* soundDevice = nullptr;
  if (const NtStatus status = findSoundDevice(*context.device, record, &soundDevice); status != STATUS_SUCCESS) {
    return status;
  }
  ORVANE_SOUND_DEVICE_VOLUME volume = soundDevice->volume;
  volume.direction = record.direction;
  volume.soundDeviceIndex = record.soundDeviceIndex;
  return context.reply(volume);
}

NtStatus setMixerStrip(RequestContext& context) {
  const auto record = context.input<ORVANE_SOUND_DEVICE_VOLUME>();
  SoundDevice* soundDevice = nullptr;
  if (const NtStatus status = findSoundDevice(*context.device, record, &soundDevice); status != STATUS_SUCCESS) {
    return status;
  }
  ORVANE_SOUND_DEVICE_VOLUME volume{};
  volume.direction = record.direction;
  volume.soundDeviceIndex = record.soundDeviceIndex;
  const uint32_t channels = channelCount(soundDevice->record);
  for (uint32_t i = 0; i < channels; ++i) {
    volume.volume[i] = record.volume[i] == ORVANE_VOLUME_SILENCE
                           ? ORVANE_VOLUME_SILENCE
                           : std::clamp(record.volume[i], ORVANE_LINE_VOLUME_FLOOR, kMaximumVolume);
    volume.mute[i] = record.mute[i] & ORVANE_VOLUME_MUTE;
  }
  soundDevice->volume = volume;
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Port state and parameter

NtStatus setPortState(RequestContext& context) {
  const auto record = context.input<ORVANE_PORT_STATE>();
  if (record.port != kStreamingPort) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  if (record.state > kPortRunning) return ORVANE_STATUS_INVALID_PARAMETER;
  context.device->extension<PortSettings>().state = record.state;
  return STATUS_SUCCESS;
}

NtStatus setPortParameter(RequestContext& context) {
  const auto record = context.input<ORVANE_PORT_PARAMETER>();
  if (record.port != kStreamingPort) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  if (record.value != 1 && record.value != 2 && record.value != 4 && record.value != 8) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  context.device->extension<PortSettings>().packetsPerFrame = record.value;
  return STATUS_SUCCESS;
}

void registerSetupFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_PORT_CONFIG, getPortConfig);
  dispatcher.add(ORVANE_IOCTL_SET_CHANNEL_NAMES, setChannelNames);
  dispatcher.add(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES, setSoundDeviceNames);
  dispatcher.add(ORVANE_IOCTL_GET_MIXER_STRIP, getMixerStrip);
  dispatcher.add(ORVANE_IOCTL_SET_MIXER_STRIP, setMixerStrip);
  dispatcher.add(ORVANE_IOCTL_SET_PORT_STATE, setPortState);
  dispatcher.add(ORVANE_IOCTL_SET_PORT_PARAMETER, setPortParameter);
}

const HandlerFamily setupFamily("setup", registerSetupFamily);

}  // namespace
}  // namespace usbaudio_sim
