#include "usb-audio-kernel-sim/virtual_device.h"

#include <algorithm>
#include <cstdio>

#include "platform/text.h"

namespace usbaudio_sim {
namespace {

std::u16string defaultChannelName(uint32_t direction, uint32_t portType, uint32_t index) {
  const bool input = direction == ORVANE_CHANNEL_DIRECTION_INPUT;
  char text[48];
  switch (portType) {
    case ORVANE_PORT_TYPE_SPDIF:
      std::snprintf(text, sizeof text, "SPDIF %s %u%s", input ? "IN" : "OUT", index / 2 + 1, index % 2 ? "R" : "L");
      break;
    case ORVANE_PORT_TYPE_DSD:
      std::snprintf(text, sizeof text, "DSD %s %02u", input ? "IN" : "OUT", index + 1);
      break;
    case ORVANE_PORT_TYPE_VIRTUAL:
      std::snprintf(text, sizeof text, "%s %02u", input ? "Loopback" : "Virtual OUT", index + 1);
      break;
    default:
      std::snprintf(text, sizeof text, "%s %02u", input ? "IN" : "OUT", index + 1);
      break;
  }
  return platform::toWide(text);
}

SoundDevice stereoSoundDevice(uint32_t kind, uint32_t pair, uint32_t position, const std::string& name) {
  SoundDevice device;
  device.record.kind = kind;
  device.record.pairCount = 1;
  device.record.pairs[0] = pair;
  device.record.lineAttribute = kind == ORVANE_SOUND_DEVICE_KIND_LINE ? 3 : 0;
  device.record.volumeFloor = kind == ORVANE_SOUND_DEVICE_KIND_LINE ? ORVANE_LINE_VOLUME_FLOOR : 0;
  device.record.position = position;
  copyToField(device.record.name, platform::toWide(name));
  device.volume.soundDeviceIndex = position;
  return device;
}

}  // namespace

uint64_t makeChannelId(ORVANE_DEVICE_ID device, uint32_t direction, uint32_t portType, uint32_t index) {
  return (uint64_t{device.first} << 32) | (uint64_t{direction & 0xFF} << 24) | (uint64_t{portType & 0xFF} << 16) |
         (index & 0xFFFF);
}

ORVANE_CHANNEL_INFO Channel::info(ORVANE_DEVICE_ID device) const {
  ORVANE_CHANNEL_INFO record{};
  record.channelId = id;
  record.deviceId = device;
  record.direction = direction;
  record.sampleFormat = isDsd() ? ORVANE_SAMPLE_FORMAT_DSD : 0;
  copyToField(record.name, displayName());
  return record;
}

VirtualDevice::VirtualDevice(const DeviceDescription& description, ORVANE_DEVICE_ID id, int configIndex)
    : spdifInput(description.spdifInput), description_(description), id_(id), configIndex_(configIndex) {
  const auto in = ORVANE_CHANNEL_DIRECTION_INPUT;
  const auto out = ORVANE_CHANNEL_DIRECTION_OUTPUT;
  addChannels(in, ORVANE_PORT_TYPE_I2S, description.i2sInputs);
  addChannels(in, ORVANE_PORT_TYPE_SPDIF, description.spdifInputs);
  addChannels(in, ORVANE_PORT_TYPE_VIRTUAL, description.virtualInputs);
  addChannels(in, ORVANE_PORT_TYPE_DSD, description.dsdInputs);
  addChannels(out, ORVANE_PORT_TYPE_I2S, description.i2sOutputs);
  addChannels(out, ORVANE_PORT_TYPE_SPDIF, description.spdifOutputs);
  addChannels(out, ORVANE_PORT_TYPE_VIRTUAL, description.virtualOutputs);
  addChannels(out, ORVANE_PORT_TYPE_DSD, description.dsdOutputs);
  addDefaultSoundDevices();
}

void VirtualDevice::addChannels(uint32_t direction, uint32_t portType, uint32_t count) {
  for (uint32_t index = 0; index < count; ++index) {
    Channel channel;
    channel.id = makeChannelId(id_, direction, portType, index);
    channel.direction = direction;
    channel.portType = portType;
    channel.index = index;
    channel.defaultName = defaultChannelName(direction, portType, index);
    channels(direction).push_back(std::move(channel));
  }
}

void VirtualDevice::addDefaultSoundDevices() {
  auto add = [](std::vector<SoundDevice>& list, uint32_t lineChannels, uint32_t spdifChannels, const char* word) {
    for (uint32_t pair = 0; pair < lineChannels / 2 && list.size() < ORVANE_MAX_SOUND_DEVICES; ++pair) {
      const std::string name = std::string(word) + " " + std::to_string(pair * 2 + 1) + "/" + std::to_string(pair * 2 + 2);
      list.push_back(stereoSoundDevice(ORVANE_SOUND_DEVICE_KIND_LINE, pair, static_cast<uint32_t>(list.size()), name));
    }
    if (spdifChannels >= 2 && list.size() < ORVANE_MAX_SOUND_DEVICES) {
      list.push_back(stereoSoundDevice(ORVANE_SOUND_DEVICE_KIND_SPDIF, 0, static_cast<uint32_t>(list.size()),
                                       std::string("SPDIF ") + word));
    }
  };
  add(recordingSoundDevices_, description_.i2sInputs, description_.spdifInputs, "In");
  add(playbackSoundDevices_, description_.i2sOutputs, description_.spdifOutputs, "Out");
  for (SoundDevice& device : recordingSoundDevices_) device.volume.direction = ORVANE_SOUND_DEVICE_RECORDING;
  for (SoundDevice& device : playbackSoundDevices_) device.volume.direction = ORVANE_SOUND_DEVICE_PLAYBACK;
}

ORVANE_DEVICE_INFO VirtualDevice::info(bool streamingSelected) const {
  ORVANE_DEVICE_INFO record{};
  record.deviceId = id_;
  record.vendorId = description_.vendorId;
  record.productId = description_.productId;
  copyToField(record.serialNumber, description_.serial);
  copyToField(record.deviceName, description_.name);
  record.highSpeedPort = description_.highSpeed ? ORVANE_DEVICE_HIGH_SPEED_PORT : 0;
  record.echoPlugin = description_.echoPlugin ? ORVANE_DEVICE_ECHO_PLUGIN : 0;
  record.streamingSelected = streamingSelected ? ORVANE_DEVICE_STREAMING_SELECTED : 0;
  return record;
}

bool VirtualDevice::supportsRate(uint32_t rate) const {
  return std::find(description_.sampleRates.begin(), description_.sampleRates.end(), rate) !=
         description_.sampleRates.end();
}

Channel* VirtualDevice::findChannel(uint64_t id) {
  for (auto* list : {&inputs_, &outputs_}) {
    for (Channel& channel : *list) {
      if (channel.id == id) return &channel;
    }
  }
  return nullptr;
}

Channel* VirtualDevice::findNamedChannel(uint32_t direction, uint32_t portType, uint32_t index, uint32_t side) {
  const uint32_t number = portType == ORVANE_PORT_TYPE_DSD ? index : index * 2 + side;
  if (portType != ORVANE_PORT_TYPE_DSD && side > 1) return nullptr;
  for (Channel& channel : channels(direction)) {
    if (channel.portType == portType && channel.index == number) return &channel;
  }
  return nullptr;
}

uint32_t VirtualDevice::openSoundDevices() const {
  uint32_t count = 0;
  for (const auto* list : {&recordingSoundDevices_, &playbackSoundDevices_}) {
    for (const SoundDevice& device : *list) count += device.open ? 1 : 0;
  }
  return count;
}

void VirtualDevice::describeExtensions(StateReport& report) const {
  for (const auto& [type, extension] : extensions_) extension->describe(report);
}

}  // namespace usbaudio_sim
