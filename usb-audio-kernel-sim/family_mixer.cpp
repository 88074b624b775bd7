// The driver-integrated mixer: pins per selector, output gains and mutes,
// crosspoints, input and output levels, and the device setup, which switches
// the mixer's loopback path.
//
// Pins come from the device's configuration. Output gains belong to the
// output pins (selector 0); a crosspoint joins an output pin to an input pin
// (selector 1 or 2). Both are kept per device; a value never set reads as the
// default: gain 0 dB unmuted, and a crosspoint that is on at 0 dB where a
// playback pin (mixer port type 2 or 3) meets the output of its own channel
// number (type 0 or 1), off everywhere else.
//
// Levels come from the samples the pacing threads move: an input-side pin
// shows the peak of its channel (types 0, 1, 5: the hardware input; types 2,
// 3: the line or S/PDIF output the host plays), an output pin the sum of the
// switched-on crosspoints' inputs, each raised by its crosspoint gain, then
// raised by the output gain (silent when muted). A channel that no running
// ASIO stream carries is silent.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::STATUS_SUCCESS;

// Mixer port types of the playback channels (the host's line and S/PDIF outputs).
constexpr uint8_t kPlaybackLinePins = 2;
constexpr uint8_t kPlaybackSpdifPins = 3;

// Gains are kept within -128 dB (the line sound devices' volume floor) and
// +6 dB (the top of the panel's sliders).
constexpr int16_t kMinimumGain = -12800;
constexpr int16_t kMaximumGain = 600;

constexpr uint32_t kOutputSelector = ORVANE_MIXER_PINS_OUTPUTS;

struct Setting {
  uint8_t flags = 0;  // ORVANE_MIXER_GAIN_MUTE or ORVANE_MIXER_CROSSPOINT_ON
  int16_t gain = 0;

  bool operator==(const Setting&) const = default;
};

uint16_t pinKey(ORVANE_MIXER_PIN pin) { return static_cast<uint16_t>(pin.portType << 8 | pin.channel); }

uint32_t crosspointKey(ORVANE_MIXER_PIN output, ORVANE_MIXER_PIN input) {
  return uint32_t{pinKey(output)} << 16 | pinKey(input);
}

bool samePin(ORVANE_MIXER_PIN a, ORVANE_MIXER_PIN b) { return a.portType == b.portType && a.channel == b.channel; }

Setting defaultCrosspoint(ORVANE_MIXER_PIN output, ORVANE_MIXER_PIN input) {
  const bool playsToItsOutput =
      input.channel == output.channel &&
      ((input.portType == kPlaybackLinePins && output.portType == ORVANE_MIXER_PORT_I2S) ||
       (input.portType == kPlaybackSpdifPins && output.portType == ORVANE_MIXER_PORT_SPDIF));
  return Setting{playsToItsOutput ? ORVANE_MIXER_CROSSPOINT_ON : uint8_t{0}, 0};
}

struct MixerState : DeviceExtension {
  bool loopbackPath = true;  // pins of mixer port type 5 exist only while it is on
  std::map<uint16_t, Setting> gains;
  std::map<uint32_t, Setting> crosspoints;

  Setting gain(ORVANE_MIXER_PIN output) const {
    const auto found = gains.find(pinKey(output));
    return found == gains.end() ? Setting{} : found->second;
  }
  Setting crosspoint(ORVANE_MIXER_PIN output, ORVANE_MIXER_PIN input) const {
    const auto found = crosspoints.find(crosspointKey(output, input));
    return found == crosspoints.end() ? defaultCrosspoint(output, input) : found->second;
  }

  void describe(StateReport& report) const override {
    report.openObject("mixer");
    report.addFlag("loopbackPath", loopbackPath);
    char text[64];
    report.openList("gains");
    for (const auto& [key, setting] : gains) {
      std::snprintf(text, sizeof text, "%u:%u %d%s", key >> 8, key & 0xFF, setting.gain,
                    setting.flags & ORVANE_MIXER_GAIN_MUTE ? " muted" : "");
      report.add("", text);
    }
    report.close();
    report.openList("crosspoints");
    for (const auto& [key, setting] : crosspoints) {
      std::snprintf(text, sizeof text, "%u:%u<-%u:%u %d %s", key >> 24, (key >> 16) & 0xFF, (key >> 8) & 0xFF,
                    key & 0xFF, setting.gain, setting.flags & ORVANE_MIXER_CROSSPOINT_ON ? "on" : "off");
      report.add("", text);
    }
    report.close();
    report.close();
  }
};

// The pins of one selector as the layout shows them now.
std::vector<ORVANE_MIXER_PIN> pinsOf(VirtualDevice& device, uint32_t selector) {
  std::vector<ORVANE_MIXER_PIN> pins = device.description().mixerPins[selector];
  if (!device.extension<MixerState>().loopbackPath) {
    std::erase_if(pins, [](ORVANE_MIXER_PIN pin) { return pin.portType == ORVANE_MIXER_PORT_VIRTUAL; });
  }
  return pins;
}

// Monitor and playback inputs (selectors 1 and 2), each pin once.
std::vector<ORVANE_MIXER_PIN> inputPinsOf(VirtualDevice& device) {
  std::vector<ORVANE_MIXER_PIN> pins = pinsOf(device, ORVANE_MIXER_PINS_MONITOR_INPUTS);
  for (ORVANE_MIXER_PIN pin : pinsOf(device, ORVANE_MIXER_PINS_PLAYBACK_INPUTS)) {
    if (std::none_of(pins.begin(), pins.end(), [&](ORVANE_MIXER_PIN p) { return samePin(p, pin); })) {
      pins.push_back(pin);
    }
  }
  return pins;
}

bool contains(const std::vector<ORVANE_MIXER_PIN>& pins, ORVANE_MIXER_PIN pin) {
  return std::any_of(pins.begin(), pins.end(), [&](ORVANE_MIXER_PIN p) { return samePin(p, pin); });
}

// ---------------------------------------------------------------------------
// Levels

Channel* findPortChannel(VirtualDevice& device, uint32_t direction, uint32_t portType, uint32_t index) {
  for (Channel& channel : device.channels(direction)) {
    if (channel.portType == portType && channel.index == index) return &channel;
  }
  return nullptr;
}

// The channel whose samples an input-side pin carries; null when the device has none.
Channel* inputSideChannel(VirtualDevice& device, ORVANE_MIXER_PIN pin) {
  const auto in = ORVANE_CHANNEL_DIRECTION_INPUT;
  const auto out = ORVANE_CHANNEL_DIRECTION_OUTPUT;
  switch (pin.portType) {
    case ORVANE_MIXER_PORT_I2S: return findPortChannel(device, in, ORVANE_PORT_TYPE_I2S, pin.channel);
    case ORVANE_MIXER_PORT_SPDIF: return findPortChannel(device, in, ORVANE_PORT_TYPE_SPDIF, pin.channel);
    case ORVANE_MIXER_PORT_VIRTUAL: return findPortChannel(device, in, ORVANE_PORT_TYPE_VIRTUAL, pin.channel);
    case kPlaybackLinePins: return findPortChannel(device, out, ORVANE_PORT_TYPE_I2S, pin.channel);
    case kPlaybackSpdifPins: return findPortChannel(device, out, ORVANE_PORT_TYPE_SPDIF, pin.channel);
    default: return nullptr;
  }
}

// The channel's peak while a running ASIO stream moves its samples.
int32_t liveLevel(Driver& driver, const Channel* channel) {
  if (channel == nullptr || driver.engine().state.load() != ORVANE_STREAMING_STATE_RUNNING) return kSilentLevel;
  for (Connection* connection : driver.connections()) {
    if (connection->asio && connection->asio->running() && connection->asio->hasChannel(channel->id)) {
      return channel->meter->peak.load();
    }
  }
  return kSilentLevel;
}

int16_t toLevelField(double level) {
  return static_cast<int16_t>(std::clamp<double>(std::round(level), kSilentLevel, INT16_MAX));
}

int16_t outputLevel(Driver& driver, VirtualDevice& device, ORVANE_MIXER_PIN output) {
  const MixerState& mixer = device.extension<MixerState>();
  const Setting gain = mixer.gain(output);
  if (gain.flags & ORVANE_MIXER_GAIN_MUTE) return kSilentLevel;
  double amplitude = 0;
  for (ORVANE_MIXER_PIN input : inputPinsOf(device)) {
    const Setting crosspoint = mixer.crosspoint(output, input);
    if (!(crosspoint.flags & ORVANE_MIXER_CROSSPOINT_ON)) continue;
    const int32_t level = liveLevel(driver, inputSideChannel(device, input));
    if (level <= kSilentLevel) continue;
    amplitude += std::pow(10.0, (level + crosspoint.gain) / 2000.0);
  }
  if (amplitude <= 0) return kSilentLevel;
  return toLevelField(2000.0 * std::log10(amplitude) + gain.gain);
}

// ---------------------------------------------------------------------------
// Requests

template <typename Entry>
std::vector<Entry> inputEntries(const RequestContext& context) {
  std::vector<Entry> entries(context.request.inputSize() / sizeof(Entry));
  if (!entries.empty()) std::memcpy(entries.data(), context.request.input(), entries.size() * sizeof(Entry));
  return entries;
}

template <typename Entry>
NtStatus replyEntries(RequestContext& context, const std::vector<Entry>& entries) {
  return context.replyBytes(entries.data(), entries.size() * sizeof(Entry));
}

void announce(RequestContext& context, uint32_t code) {
  const ORVANE_DEVICE_ID id = context.device->id();
  context.driver.postNotification(code, &id, sizeof id, &context.connection);
}

Setting storedGain(uint8_t flags, int16_t gain) {
  return Setting{static_cast<uint8_t>(flags & ORVANE_MIXER_GAIN_MUTE), std::clamp(gain, kMinimumGain, kMaximumGain)};
}

NtStatus getMixerPins(RequestContext& context) {
  const auto selector = context.input<uint32_t>();
  if (selector > ORVANE_MIXER_PINS_PLAYBACK_INPUTS) return ORVANE_STATUS_INVALID_PARAMETER;
  const std::vector<ORVANE_MIXER_PIN> pins = pinsOf(*context.device, selector);
  return replyEntries(context, pins);
}

NtStatus getMixerGains(RequestContext& context) {
  std::vector<ORVANE_MIXER_GAIN> entries = inputEntries<ORVANE_MIXER_GAIN>(context);
  const std::vector<ORVANE_MIXER_PIN> outputs = pinsOf(*context.device, kOutputSelector);
  const MixerState& mixer = context.device->extension<MixerState>();
  for (ORVANE_MIXER_GAIN& entry : entries) {
    if (!contains(outputs, entry.pin)) return ORVANE_STATUS_OBJECT_NOT_FOUND;
    const Setting gain = mixer.gain(entry.pin);
    entry.zero = 0;
    entry.flags = gain.flags;
    entry.gain = gain.gain;
  }
  return replyEntries(context, entries);
}

NtStatus setMixerGains(RequestContext& context) {
  std::vector<ORVANE_MIXER_GAIN> entries = inputEntries<ORVANE_MIXER_GAIN>(context);
  const std::vector<ORVANE_MIXER_PIN> outputs = pinsOf(*context.device, kOutputSelector);
  for (const ORVANE_MIXER_GAIN& entry : entries) {
    if (!contains(outputs, entry.pin)) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  }
  MixerState& mixer = context.device->extension<MixerState>();
  bool changed = false;
  for (ORVANE_MIXER_GAIN& entry : entries) {
    const Setting gain = storedGain(entry.flags, entry.gain);
    changed |= !(mixer.gain(entry.pin) == gain);
    mixer.gains[pinKey(entry.pin)] = gain;
    entry.zero = 0;
    entry.flags = gain.flags;
    entry.gain = gain.gain;
  }
  if (changed) announce(context, ORVANE_MSG_CODE_MIXER_GAINS_CHANGED);
  return replyEntries(context, entries);
}

bool isCrosspoint(const std::vector<ORVANE_MIXER_PIN>& outputs, const std::vector<ORVANE_MIXER_PIN>& inputs,
                  const ORVANE_MIXER_CROSSPOINT& entry) {
  return contains(outputs, entry.outputPin) && contains(inputs, entry.inputPin);
}

NtStatus getMixerCrosspoints(RequestContext& context) {
  std::vector<ORVANE_MIXER_CROSSPOINT> entries = inputEntries<ORVANE_MIXER_CROSSPOINT>(context);
  const std::vector<ORVANE_MIXER_PIN> outputs = pinsOf(*context.device, kOutputSelector);
  const std::vector<ORVANE_MIXER_PIN> inputs = inputPinsOf(*context.device);
  const MixerState& mixer = context.device->extension<MixerState>();
  for (ORVANE_MIXER_CROSSPOINT& entry : entries) {
    if (!isCrosspoint(outputs, inputs, entry)) return ORVANE_STATUS_OBJECT_NOT_FOUND;
    const Setting crosspoint = mixer.crosspoint(entry.outputPin, entry.inputPin);
    entry.gain = crosspoint.gain;
    entry.flags = crosspoint.flags;
    entry.reserved = 0;
  }
  return replyEntries(context, entries);
}

NtStatus setMixerCrosspoints(RequestContext& context) {
  std::vector<ORVANE_MIXER_CROSSPOINT> entries = inputEntries<ORVANE_MIXER_CROSSPOINT>(context);
  const std::vector<ORVANE_MIXER_PIN> outputs = pinsOf(*context.device, kOutputSelector);
  const std::vector<ORVANE_MIXER_PIN> inputs = inputPinsOf(*context.device);
  for (const ORVANE_MIXER_CROSSPOINT& entry : entries) {
    if (!isCrosspoint(outputs, inputs, entry)) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  }
  MixerState& mixer = context.device->extension<MixerState>();
  bool changed = false;
  for (ORVANE_MIXER_CROSSPOINT& entry : entries) {
    const Setting crosspoint{static_cast<uint8_t>(entry.flags & ORVANE_MIXER_CROSSPOINT_ON),
                             std::clamp(entry.gain, kMinimumGain, kMaximumGain)};
    changed |= !(mixer.crosspoint(entry.outputPin, entry.inputPin) == crosspoint);
    mixer.crosspoints[crosspointKey(entry.outputPin, entry.inputPin)] = crosspoint;
    entry.gain = crosspoint.gain;
    entry.flags = crosspoint.flags;
    entry.reserved = 0;
  }
  if (changed) announce(context, ORVANE_MSG_CODE_MIXER_CROSSPOINTS_CHANGED);
  return replyEntries(context, entries);
}

NtStatus getMixerInputLevels(RequestContext& context) {
  std::vector<ORVANE_MIXER_LEVEL> entries = inputEntries<ORVANE_MIXER_LEVEL>(context);
  VirtualDevice& device = *context.device;
  const std::vector<ORVANE_MIXER_PIN> inputs = inputPinsOf(device);
  for (ORVANE_MIXER_LEVEL& entry : entries) {
    if (!contains(inputs, entry.pin)) return ORVANE_STATUS_OBJECT_NOT_FOUND;
    entry.level = toLevelField(liveLevel(context.driver, inputSideChannel(device, entry.pin)));
    entry.unused[0] = entry.unused[1] = 0;
  }
  return replyEntries(context, entries);
}

NtStatus getMixerOutputLevels(RequestContext& context) {
  std::vector<ORVANE_MIXER_LEVEL> entries = inputEntries<ORVANE_MIXER_LEVEL>(context);
  VirtualDevice& device = *context.device;
  const std::vector<ORVANE_MIXER_PIN> outputs = pinsOf(device, kOutputSelector);
  for (ORVANE_MIXER_LEVEL& entry : entries) {
    if (!contains(outputs, entry.pin)) return ORVANE_STATUS_OBJECT_NOT_FOUND;
    entry.level = outputLevel(context.driver, device, entry.pin);
    entry.unused[0] = entry.unused[1] = 0;
  }
  return replyEntries(context, entries);
}

// The device setup: the first word switches the loopback path (1 on, 0 off),
// the second names the port type that carries it, which is always the
// virtual one. Switching the path adds or removes the mixer's loopback pins.
NtStatus setDeviceSetup(RequestContext& context) {
  const auto setup = context.input<ORVANE_DEVICE_SETUP>();
  if (setup.firstWord > 1 || setup.secondWord != ORVANE_PORT_TYPE_VIRTUAL) return ORVANE_STATUS_INVALID_PARAMETER;
  MixerState& mixer = context.device->extension<MixerState>();
  const bool on = setup.firstWord == 1;
  if (mixer.loopbackPath == on) return STATUS_SUCCESS;
  mixer.loopbackPath = on;
  announce(context, ORVANE_MSG_CODE_MIXER_LAYOUT_CHANGED);
  return STATUS_SUCCESS;
}

void registerMixerFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_MIXER_PINS, getMixerPins);
  dispatcher.add(ORVANE_IOCTL_GET_MIXER_GAINS, getMixerGains);
  dispatcher.add(ORVANE_IOCTL_SET_MIXER_GAINS, setMixerGains);
  dispatcher.add(ORVANE_IOCTL_GET_MIXER_CROSSPOINTS, getMixerCrosspoints);
  dispatcher.add(ORVANE_IOCTL_SET_MIXER_CROSSPOINTS, setMixerCrosspoints);
  dispatcher.add(ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, getMixerInputLevels);
  dispatcher.add(ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, getMixerOutputLevels);
  dispatcher.add(ORVANE_IOCTL_SET_DEVICE_SETUP, setDeviceSetup);
}

const HandlerFamily mixerFamily("mixer", registerMixerFamily);

}  // namespace
}  // namespace usbaudio_sim
