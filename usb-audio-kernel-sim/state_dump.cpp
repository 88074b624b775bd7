// The readable state dump of the control interface.

#include <cstdio>
#include <string>

#include "device-access/orvane_status.h"
#include "platform/text.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

std::string hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string deviceIdText(ORVANE_DEVICE_ID id) { return hex32(id.first) + ":" + hex32(id.second); }

const char* clientTypeName(uint32_t type) {
  switch (type) {
    case ORVANE_CLIENT_TYPE_SERVER: return "server";
    case ORVANE_CLIENT_TYPE_ASIO: return "asio";
    case ORVANE_CLIENT_TYPE_PANEL: return "panel";
    case ORVANE_CLIENT_TYPE_VIEW: return "view";
    case ORVANE_CLIENT_TYPE_MIXER_VIEW: return "mixer-view";
    default: return "?";
  }
}

const char* spdifStateName(uint32_t state) {
  switch (state) {
    case ORVANE_SPDIF_INPUT_NOT_STREAMING: return "not-streaming";
    case ORVANE_SPDIF_INPUT_NO_SIGNAL: return "no-signal";
    case ORVANE_SPDIF_INPUT_SYNCHRONIZING: return "synchronizing";
    case ORVANE_SPDIF_INPUT_LOCKED: return "locked";
    default: return "?";
  }
}

void describeChannels(std::string& out, const char* title, const std::vector<Channel>& channels) {
  out += std::string("    ") + title + ":";
  for (const Channel& channel : channels) {
    out += " [" + platform::toUtf8(channel.displayName());
    if (channel.owner != 0) out += " @" + std::to_string(channel.owner);
    out += "]";
  }
  out += "\n";
}

void describeSoundDevices(std::string& out, const char* title, const std::vector<SoundDevice>& devices) {
  out += std::string("    ") + title + ":";
  for (const SoundDevice& device : devices) {
    out += " [" + std::to_string(device.record.position) + " " +
           platform::toUtf8(std::u16string(device.record.name, platform::wideLength(device.record.name,
                                                                                    ORVANE_SOUND_DEVICE_NAME_CHARS)));
    if (device.open) out += " open";
    out += "]";
  }
  out += "\n";
}

}  // namespace

std::string Driver::describeState() {
  const ORVANE_STREAMING_STATUS status = streamingStatus();
  std::string out;
  out += "driver: interface 2." + std::to_string(parameters_.interfaceVersionMinor) + ", version " +
         std::to_string(parameters_.driverVersionMajor) + "." + std::to_string(parameters_.driverVersionMinor) + "." +
         std::to_string(parameters_.driverVersionBuild) + (parameters_.debugBuild ? " (debug)" : "") +
         ", trace mask " + hex32(traceMask_) + ", statistics generation " + std::to_string(generation_) + "\n";
  out += "configuration: " + parameters_.configFile + " (" + std::to_string(configuration_.devices.size()) +
         " devices)\n";
  for (size_t index = 0; index < configuration_.devices.size(); ++index) {
    out += "  [" + std::to_string(index) + "] " + describeDevice(configuration_.devices[index]) + "\n";
  }
  out += "streaming: state " + std::to_string(status.state) + " " + streamingStateName(status.state) + ", mode " +
         (engine_.mode == ORVANE_STREAMING_MODE_ALL_DEVICES ? "all devices" : "single device") + ", rate " +
         std::to_string(status.sampleRate);
  if (engine_.presetRate != 0) out += " (preset " + std::to_string(engine_.presetRate) + ")";
  out += ", buffers streaming " + std::to_string(engine_.buffers.streamingBufferSizeClass) + " asio " +
         std::to_string(engine_.buffers.asioBufferSizeClass) + " third " +
         std::to_string(engine_.buffers.thirdSetting) + "\n";
  out += "usage: asio buffers " + std::to_string(status.reserved1) + ", sound devices open " +
         std::to_string(status.firstUsageCount) + ", asio running " + std::to_string(status.secondUsageCount) +
         ", mixer views " + std::to_string(status.reserved2[0]) + ", views " + std::to_string(status.reserved2[1]) +
         "\n";
  out += "counters: streaming errors " + std::to_string(counters_.streamingErrors.load()) + ", asio errors " +
         std::to_string(counters_.asioErrors.load()) + "\n";

  out += "devices: " + std::to_string(devices_.size()) + "\n";
  for (size_t position = 0; position < devices_.size(); ++position) {
    VirtualDevice& device = *devices_[position];
    out += "  " + std::to_string(position) + ": " + deviceIdText(device.id()) +
           (isStreamingDevice(device) ? " streaming " : " ") + describeDevice(device.description()) + "\n";
    out += "    spdif input: " + std::string(spdifStateName(device.spdifInput.inputState)) + " format " +
           std::to_string(device.spdifInput.signalFormat) + " rate " + std::to_string(device.spdifInput.sampleRate) +
           "\n";
    describeChannels(out, "inputs", device.inputs());
    describeChannels(out, "outputs", device.outputs());
    describeSoundDevices(out, "recording sound devices", device.soundDevices(ORVANE_SOUND_DEVICE_RECORDING));
    describeSoundDevices(out, "playback sound devices", device.soundDevices(ORVANE_SOUND_DEVICE_PLAYBACK));
    device.describeExtensions(out);
  }

  out += "connections: " + std::to_string(connections_.size()) + "\n";
  for (auto& [id, connection] : connections_) {
    out += "  #" + std::to_string(id) + " pid " + std::to_string(connection->processId) + " " +
           platform::toUtf8(connection->linkName);
    if (connection->clientType) out += " " + std::string(clientTypeName(*connection->clientType));
    if (connection->attachedDevice) out += " attached " + deviceIdText(*connection->attachedDevice);
    out += " events " + std::string(connection->messageEvent ? "m" : "-") +
           (connection->notificationEvent ? "n" : "-");
    out += " queued " + std::to_string(connection->messages.size()) + "/" +
           std::to_string(connection->notifications.size()) + " requests " + std::to_string(connection->requests.load());
    if (!connection->acquiredChannels.empty()) out += " channels " + std::to_string(connection->acquiredChannels.size());
    if (connection->asio) {
      const AsioStreamCounters counters = connection->asio->counters();
      out += " asio " + std::to_string(connection->asio->frames()) + " frames" + (counters.running ? " running" : "") +
             " switches " + std::to_string(counters.bufferSwitchEvents) + " missed " +
             std::to_string(counters.eventsMissed);
    }
    out += "\n";
  }
  out += "faults: " + std::to_string(faults_.size()) + "\n";
  for (const auto& [code, fault] : faults_) {
    out += "  " + hex32(code) + " status " + hex32(fault.status) + " " + orvaneStatusName(fault.status) + " delay " +
           std::to_string(fault.delayMilliseconds) + " ms, " +
           (fault.remaining == 0 ? std::string("always") : std::to_string(fault.remaining) + " more") + "\n";
  }
  return out;
}

}  // namespace usbaudio_sim
