#include "service/custom_device.h"

#include <algorithm>
#include <cstring>

#include "device-access/orvane_status.h"
#include "platform/format.h"
#include "platform/registry.h"
#include "service/orvane_server.h"

namespace {

constexpr uint32_t kKeyReadWrite = 0x2001F;
constexpr char16_t kPlaybackValue[] = u"WdmRenderSoundDeviceConfiguration";
constexpr char16_t kRecordingValue[] = u"WdmCaptureSoundDeviceConfiguration";
constexpr int32_t kTimerPeriodMs = 3000;
constexpr int16_t kGainLimit = 9000;     // ±90.00 dB
constexpr int16_t kSilentGain = -9000;
constexpr uint8_t kMixerPortLine = 0;
constexpr uint8_t kMixerPortOther = 1;
constexpr uint8_t kMixerPortPlayback = 2;
constexpr uint8_t kMixerPortLoopback = 5;
constexpr uint32_t kCategoryMidi = 2;
constexpr uint32_t kLineAttribute = 3;

// Appends a sound device to a list of at most 32; its position is its index.
class SoundDeviceList {
 public:
  SoundDeviceList(uint32_t& count, ORVANE_SOUND_DEVICE (&entries)[ORVANE_MAX_SOUND_DEVICES])
      : count_(count), entries_(entries) {}

  ORVANE_SOUND_DEVICE* append(uint32_t kind, const char16_t* name, uint32_t firstPair, uint32_t pairCount) {
    if (count_ >= ORVANE_MAX_SOUND_DEVICES) return nullptr;
    ORVANE_SOUND_DEVICE& entry = entries_[count_];
    entry.kind = kind;
    entry.pairCount = pairCount;
    for (uint32_t k = 0; k < pairCount; ++k) entry.pairs[k] = firstPair + k;
    platform::formatText(entry.name, ORVANE_SOUND_DEVICE_NAME_CHARS, u"%s", name);
    entry.position = count_++;
    return &entry;
  }

  // A line device: channel pairs of the line (I2S) port.
  void line(const char16_t* name, uint32_t firstPair, uint32_t pairCount) {
    if (ORVANE_SOUND_DEVICE* entry = append(ORVANE_SOUND_DEVICE_KIND_LINE, name, firstPair, pairCount)) {
      entry->lineAttribute = kLineAttribute;
      entry->volumeFloor = ORVANE_LINE_VOLUME_FLOOR;
    }
  }

  // Stereo devices "<format>" numbered from 1, on consecutive pairs.
  void numberedStereo(const char16_t* format, uint32_t count) {
    for (uint32_t n = 1; n <= count; ++n) {
      char16_t name[ORVANE_SOUND_DEVICE_NAME_CHARS];
      platform::formatText(name, ORVANE_SOUND_DEVICE_NAME_CHARS, format, n);
      line(name, n - 1, 1);
    }
  }

  // The stereo "shadow" devices of a multichannel layout, one per pair.
  void shadows(uint32_t count) {
    static constexpr const char16_t* kSides[] = {u"L/R", u"C/LFE", u"RL/RR", u"SL/SR"};
    for (uint32_t pair = 0; pair < count; ++pair) {
      char16_t name[ORVANE_SOUND_DEVICE_NAME_CHARS];
      platform::formatText(name, ORVANE_SOUND_DEVICE_NAME_CHARS, u"QUINTOR shadow %s", kSides[pair]);
      line(name, pair, 1);
    }
  }

 private:
  uint32_t& count_;
  ORVANE_SOUND_DEVICE (&entries_)[ORVANE_MAX_SOUND_DEVICES];
};

void addPlaybackLinePart(SoundDeviceList& list, uint32_t configuration) {
  switch (configuration) {
    case 0:
      list.numberedStereo(u"QUINTOR Out%u L/R", 8);
      break;
    case 1:
      list.line(u"QUINTOR Out 5.1", 0, 3);
      break;
    case 2:
      list.line(u"QUINTOR Out 7.1", 0, 4);
      break;
    case 3:
      list.line(u"QUINTOR Out 5.1", 0, 3);
      list.shadows(3);
      break;
    case 4:
      list.line(u"QUINTOR Out 7.1", 0, 4);
      list.shadows(4);
      break;
    case 5:
      list.numberedStereo(u"QUINTOR Out%u L/R", 2);
      break;
    default:
      break;
  }
}

void addRecordingLinePart(SoundDeviceList& list, uint32_t configuration) {
  switch (configuration) {
    case 0:
      list.numberedStereo(u"QUINTOR In%u L/R", 8);
      break;
    case 1:
      list.numberedStereo(u"QUINTOR In%u L/R", 2);
      break;
    case 2: {
      char16_t name[ORVANE_SOUND_DEVICE_NAME_CHARS];
      platform::formatText(name, ORVANE_SOUND_DEVICE_NAME_CHARS, u"QUINTOR In %uch", 8u);
      list.line(name, 0, 4);
      break;
    }
    default:
      break;
  }
}

// Appends a channel name to a list of at most 32.
void appendChannelName(uint32_t& count, ORVANE_CHANNEL_NAME (&entries)[ORVANE_MAX_CHANNEL_NAMES], uint32_t portType,
                       uint32_t index, uint32_t side, const char16_t* name) {
  if (count >= ORVANE_MAX_CHANNEL_NAMES) return;
  ORVANE_CHANNEL_NAME& entry = entries[count++];
  entry.portType = portType;
  entry.index = index;
  entry.side = side;
  platform::formatText(entry.name, ORVANE_CHANNEL_NAME_CHARS, u"%s", name);
}

// The DSD channels (when there are any), the 16 line channels and the S/PDIF pair of one direction.
void appendHardwareChannelNames(uint32_t& count, ORVANE_CHANNEL_NAME (&entries)[ORVANE_MAX_CHANNEL_NAMES], bool dsd,
                                const char16_t* direction) {
  char16_t name[ORVANE_CHANNEL_NAME_CHARS];
  if (dsd) {
    for (uint32_t n = 0; n < 8; ++n) {
      platform::formatText(name, ORVANE_CHANNEL_NAME_CHARS, u"QUINTOR DSD %s %02u", direction, n + 1);
      appendChannelName(count, entries, ORVANE_PORT_TYPE_DSD, n, ORVANE_CHANNEL_SIDE_LEFT, name);
    }
  }
  for (uint32_t n = 0; n < 16; ++n) {
    platform::formatText(name, ORVANE_CHANNEL_NAME_CHARS, u"QUINTOR %s %02u", direction, n + 1);
    appendChannelName(count, entries, ORVANE_PORT_TYPE_I2S, n / 2, n % 2, name);
  }
  for (uint32_t side = 0; side < 2; ++side) {
    platform::formatText(name, ORVANE_CHANNEL_NAME_CHARS, u"QUINTOR SPDIF %s %s", direction, side == 0 ? u"L" : u"R");
    appendChannelName(count, entries, ORVANE_PORT_TYPE_SPDIF, 0, side, name);
  }
}

void readConfiguration(const platform::RegistryKey& key, const char16_t* name, uint32_t& configuration) {
  uint32_t type = 0;
  uint32_t value = 0;
  uint32_t size = sizeof value;
  if (key.queryValue(name, &type, &value, &size) == 0 && type == platform::REG_DWORD && size == sizeof value) {
    configuration = value;
  }
}

}  // namespace

CustomDevice::CustomDevice(OrvaneServer& server) : server_(server), timerForwarder_(this, &CustomDevice::onTimer) {}

CustomDevice::~CustomDevice() {
  if (timer_.handle() != nullptr) {
    (void)timer_.cancel();
    timer_.closeHandle();
  }
  close();
}

uint32_t CustomDevice::onOpened() {
  (void)loadSettings();
  if (const uint32_t status = sendDeviceSetup(); status != 0) return status;
  if (const uint32_t status = sendChannelNames(); status != 0) return status;
  if (const uint32_t status = sendSoundDevices(); status != 0) return status;
  uint32_t status = ioctlSetPortState(ORVANE_PORT_STATE{0, 0});
  if (status == 0) status = ioctlSetPortParameter(ORVANE_PORT_PARAMETER{0, 8});
  if (status != 0) return status;
  if (timer_.create(false, nullptr, nullptr) != 0 || timer_.set(kTimerPeriodMs, &timerForwarder_, false) != 0) {
    return ORVANE_STATUS_FAILED;
  }
  return 0;
}

uint32_t CustomDevice::openSettingsKey(platform::RegistryKey& key) {
  platform::RegistryKey root;
  if (const uint32_t error =
          platform::RegistryKey::create(platform::RegistryHive::LocalMachine, server_.getRegistryRoot(), kKeyReadWrite, root);
      error != 0) {
    return error;
  }
  platform::RegistryKey devices;
  if (const uint32_t error = root.createSubKey(u"Devices", kKeyReadWrite, devices); error != 0) return error;
  const std::u16string serial = getSettingsKeyName();
  if (serial.empty()) {
    key = std::move(devices);
    return 0;
  }
  return devices.createSubKey(serial, kKeyReadWrite, key);
}

uint32_t CustomDevice::loadSettings() {
  platform::RegistryKey key;
  if (const uint32_t error = openSettingsKey(key); error != 0) return error;
  readConfiguration(key, kPlaybackValue, playbackConfiguration_);
  readConfiguration(key, kRecordingValue, recordingConfiguration_);
  return 0;
}

uint32_t CustomDevice::saveSettings() {
  platform::RegistryKey key;
  if (const uint32_t error = openSettingsKey(key); error != 0) return error;
  (void)key.setDword(kPlaybackValue, playbackConfiguration_);
  (void)key.setDword(kRecordingValue, recordingConfiguration_);
  return 0;
}

uint32_t CustomDevice::sendDeviceSetup() {
  ORVANE_DEVICE_SETUP setup{};
  setup.firstWord = ORVANE_DEVICE_SETUP_FIRST_WORD;
  setup.secondWord = ORVANE_DEVICE_SETUP_SECOND_WORD;
  if (const uint32_t status = ioctlSetDeviceSetup(setup); status != 0) return status;
  ORVANE_MIXER_CROSSPOINT crosspoints[2] = {};
  for (uint8_t k = 0; k < 2; ++k) {
    crosspoints[k].outputPin = {kMixerPortLoopback, k, {0, 0}};
    crosspoints[k].inputPin = {kMixerPortPlayback, k, {0, 0}};
    crosspoints[k].gain = 0;
    crosspoints[k].flags = ORVANE_MIXER_CROSSPOINT_ON;
  }
  return ioctlSetMixerCrosspoints(crosspoints, 2);
}

bool CustomDevice::supportsDsd() {
  ORVANE_PORT_CONFIG config{};
  if (ioctlGetPortConfig(config) != 0) return false;
  const uint32_t blocks = std::min<uint32_t>(config.blockCount, ORVANE_MAX_PORT_BLOCKS);
  for (uint32_t b = 0; b < blocks; ++b) {
    for (const auto& array : config.blocks[b].channels) {
      for (const ORVANE_PORT_CHANNEL& channel : array) {
        if (channel.channelType == ORVANE_PORT_CHANNEL_TYPE_DSD) return true;
      }
    }
  }
  return false;
}

void CustomDevice::buildChannelNames(bool outputsDsd, bool inputsDsd, ORVANE_CHANNEL_NAME_TABLE& table) {
  table = ORVANE_CHANNEL_NAME_TABLE{};
  appendHardwareChannelNames(table.outputCount, table.outputs, outputsDsd, u"OUT");
  appendHardwareChannelNames(table.inputCount, table.inputs, inputsDsd, u"IN");
  char16_t name[ORVANE_CHANNEL_NAME_CHARS];
  for (uint32_t side = 0; side < 2; ++side) {
    platform::formatText(name, ORVANE_CHANNEL_NAME_CHARS, u"QUINTOR Loopback %02u", side + 1);
    appendChannelName(table.inputCount, table.inputs, ORVANE_PORT_TYPE_VIRTUAL, 0, side, name);
  }
}

uint32_t CustomDevice::sendChannelNames() {
  const bool outputsDsd = supportsDsd();
  const bool inputsDsd = supportsDsd();
  ORVANE_CHANNEL_NAME_TABLE table;
  buildChannelNames(outputsDsd, inputsDsd, table);
  return ioctlSetChannelNames(table);
}

void CustomDevice::buildSoundDevices(uint32_t playbackConfiguration, uint32_t recordingConfiguration,
                                     ORVANE_SOUND_DEVICE_TABLE& table) {
  table = ORVANE_SOUND_DEVICE_TABLE{};
  SoundDeviceList playback(table.playbackCount, table.playback);
  SoundDeviceList recording(table.recordingCount, table.recording);
  addPlaybackLinePart(playback, playbackConfiguration);
  if (ORVANE_SOUND_DEVICE* entry = playback.append(ORVANE_SOUND_DEVICE_KIND_SPDIF, u"QUINTOR SPDIF Out L/R", 0, 1)) {
    entry->category = 1;
  }
  addRecordingLinePart(recording, recordingConfiguration);
  recording.append(ORVANE_SOUND_DEVICE_KIND_SPDIF, u"QUINTOR SPDIF In L/R", 0, 1);
  char16_t loopback[ORVANE_SOUND_DEVICE_NAME_CHARS];
  platform::formatText(loopback, ORVANE_SOUND_DEVICE_NAME_CHARS, u"QUINTOR Loopback %u L/R", 1u);
  recording.append(ORVANE_SOUND_DEVICE_KIND_LOOPBACK, loopback, 0, 1);
  if (ORVANE_SOUND_DEVICE* entry = playback.append(ORVANE_SOUND_DEVICE_KIND_MIDI, u"QUINTOR MIDI Out", 0, 1)) {
    entry->category = kCategoryMidi;
    entry->midiDirection = 1;
  }
  if (ORVANE_SOUND_DEVICE* entry = recording.append(ORVANE_SOUND_DEVICE_KIND_MIDI, u"QUINTOR MIDI In", 0, 1)) {
    entry->category = kCategoryMidi;
    entry->midiDirection = -1;
  }
}

uint32_t CustomDevice::sendSoundDevices() {
  buildSoundDevices(playbackConfiguration_, recordingConfiguration_, soundDevices_);
  return ioctlSetSoundDeviceNames(soundDevices_);
}

uint32_t CustomDevice::applyConfiguration(uint32_t playback, uint32_t recording) {
  if (playback > ORVANE_MAX_PLAYBACK_CONFIGURATION || recording > ORVANE_MAX_RECORDING_CONFIGURATION) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  playbackConfiguration_ = playback;
  recordingConfiguration_ = recording;
  (void)saveSettings();
  return sendSoundDevices();
}

uint32_t CustomDevice::beforeTransition(uint32_t from, uint32_t to, uint32_t) {
  if (to == ORVANE_STREAMING_STATE_READY &&
      (from == ORVANE_STREAMING_STATE_PREPARED || from == ORVANE_STREAMING_STATE_RUNNING)) {
    return ioctlSetPortState(ORVANE_PORT_STATE{0, 0});
  }
  if (to == ORVANE_STREAMING_STATE_RUNNING) return ioctlSetPortState(ORVANE_PORT_STATE{0, 1});
  return 0;
}

uint32_t CustomDevice::gainEntries(const ORVANE_SOUND_DEVICE& soundDevice, ORVANE_MIXER_GAIN (&entries)[16]) {
  const uint8_t portType = soundDevice.kind == ORVANE_SOUND_DEVICE_KIND_LINE ? kMixerPortLine : kMixerPortOther;
  const uint32_t pairs = std::min<uint32_t>(soundDevice.pairCount, ORVANE_SOUND_DEVICE_MAX_PAIRS);
  for (uint32_t k = 0; k < pairs; ++k) {
    const uint32_t pair = soundDevice.pairs[k];
    entries[2 * k] = ORVANE_MIXER_GAIN{{portType, static_cast<uint8_t>(2 * pair), {0, 0}}, 0, 0, 0};
    entries[2 * k + 1] = ORVANE_MIXER_GAIN{{portType, static_cast<uint8_t>(2 * pair + 1), {0, 0}}, 0, 0, 0};
  }
  return 2 * pairs;
}

void CustomDevice::onMixerOutputsChanged() {
  const uint32_t count = std::min<uint32_t>(soundDevices_.playbackCount, ORVANE_MAX_SOUND_DEVICES);
  for (uint32_t i = 0; i < count; ++i) {
    const ORVANE_SOUND_DEVICE& soundDevice = soundDevices_.playback[i];
    if (soundDevice.category == kCategoryMidi) continue;
    ORVANE_MIXER_GAIN entries[16] = {};
    const uint32_t channels = gainEntries(soundDevice, entries);
    if (ioctlGetMixerGains(entries, channels) != 0) return;
    ORVANE_SOUND_DEVICE_VOLUME volume{};
    volume.direction = ORVANE_SOUND_DEVICE_PLAYBACK;
    volume.soundDeviceIndex = soundDevice.position;
    for (uint32_t c = 0; c < channels; ++c) {
      volume.volume[c] = toVolume(entries[c].gain);
      volume.mute[c] = entries[c].flags & ORVANE_MIXER_GAIN_MUTE;
    }
    if (ioctlSetMixerStrip(volume) != 0) return;
  }
}

void CustomDevice::onRenderVolumeChanged(uint32_t soundDeviceIndex) {
  if (soundDeviceIndex >= std::min<uint32_t>(soundDevices_.playbackCount, ORVANE_MAX_SOUND_DEVICES)) return;
  const ORVANE_SOUND_DEVICE& soundDevice = soundDevices_.playback[soundDeviceIndex];
  // A MIDI device has no channels of its own: its pair fields would name the
  // S/PDIF output's gains.
  if (soundDevice.category == kCategoryMidi) return;
  ORVANE_SOUND_DEVICE_VOLUME volume{};
  if (ioctlGetMixerStrip(ORVANE_SOUND_DEVICE_PLAYBACK, soundDeviceIndex, volume) != 0) return;
  ORVANE_MIXER_GAIN entries[16] = {};
  const uint32_t channels = gainEntries(soundDevice, entries);
  for (uint32_t c = 0; c < channels; ++c) {
    entries[c].gain = toGain(volume.volume[c]);
    entries[c].flags = static_cast<uint8_t>(volume.mute[c] & ORVANE_MIXER_GAIN_MUTE);
  }
  (void)ioctlSetMixerGains(entries, channels);
}

int32_t CustomDevice::toVolume(int16_t gain) { return static_cast<int32_t>(gain) * 65536 / 100; }

int16_t CustomDevice::toGain(int32_t volume) {
  if (volume == ORVANE_VOLUME_SILENCE) return kSilentGain;
  const auto gain = static_cast<int16_t>(static_cast<int64_t>(volume) * 100 / 65536);
  return std::clamp<int16_t>(gain, -kGainLimit, kGainLimit);
}

void CustomDevice::onTimer(uint32_t, uint32_t) {}
