// The state dump of the control interface, as text or JSON.

#include <cstdio>
#include <string>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_status.h"
#include "platform/text.h"
#include "usb-audio-kernel-sim/driver.h"
#include "usb-audio-kernel-sim/state_report.h"

namespace usbaudio_sim {
namespace {

std::string hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The form every tool prints and reads.
std::string deviceIdText(ORVANE_DEVICE_ID id) {
  char text[24];
  std::snprintf(text, sizeof text, "%08X:%08X", id.first, id.second);
  return text;
}

template <size_t N>
const char* nameOf(const char* const (&names)[N], uint32_t value) {
  return value < N ? names[value] : "?";
}

const char* const kSpdifStates[] = {"not-streaming", "no-signal", "synchronizing", "locked"};
const char* const kSpdifFormats[] = {"unknown", "pcm", "non-pcm"};
const char* const kStreamingBufferClassNames[] = {"Minimum", "ExtraSmall", "Small", "Large", "ExtraLarge", "Safe"};
const char* const kAsioBufferClassNames[] = {"Minimum", "Small", "Large", "Maximum"};

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

std::string requestName(uint32_t code) {
  for (const OrvaneRequest& row : ORVANE_REQUESTS) {
    const std::string_view name = row.name;
    if (row.code == code) return std::string(name.substr(name.find("ORVANE_IOCTL_") == 0 ? 13 : 0));
  }
  return hex32(code);
}

// "ORVANE_STATUS_TIMEOUT (0xE0000005)", "none" for 0, else the value.
std::string statusText(uint32_t status) {
  if (status == 0) return "none";
  const std::string name = orvaneStatusName(status);
  return name == "???" ? hex32(status) : name + " (" + hex32(status) + ")";
}

std::string utf8(const char16_t* text, size_t capacity) {
  return platform::toUtf8(std::u16string_view(text, platform::wideLength(text, capacity)));
}

void describeDescription(StateReport& report, const DeviceDescription& device) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04X:%04X", device.vendorId, device.productId);
  report.add("name", platform::toUtf8(device.name));
  report.add("usb", ids);
  report.add("serial", platform::toUtf8(device.serial));
  report.add("port", device.highSpeed ? "high-speed" : "full-speed");
  report.add("inputs", "i2s " + std::to_string(device.i2sInputs) + " spdif " + std::to_string(device.spdifInputs) +
                           " dsd " + std::to_string(device.dsdInputs) + " virtual " +
                           std::to_string(device.virtualInputs));
  report.add("outputs", "i2s " + std::to_string(device.i2sOutputs) + " spdif " + std::to_string(device.spdifOutputs) +
                            " dsd " + std::to_string(device.dsdOutputs) + " virtual " +
                            std::to_string(device.virtualOutputs));
  std::string rates;
  for (uint32_t rate : device.sampleRates) rates += (rates.empty() ? "" : " ") + std::to_string(rate);
  report.add("rates", rates);
  report.addFlag("echoPlugin", device.echoPlugin);
}

void describeChannels(StateReport& report, const char* title, const std::vector<Channel>& channels) {
  report.openList(title);
  for (const Channel& channel : channels) {
    std::string text = platform::toUtf8(channel.displayName());
    if (channel.owner != 0) text += " (connection #" + std::to_string(channel.owner) + ")";
    report.add("", text);
  }
  report.close();
}

void describeSoundDevices(StateReport& report, const char* title, const std::vector<SoundDevice>& devices) {
  report.openList(title);
  for (const SoundDevice& device : devices) {
    report.add("", std::to_string(device.record.position) + " " +
                       utf8(device.record.name, ORVANE_SOUND_DEVICE_NAME_CHARS) + (device.open ? " (open)" : ""));
  }
  report.close();
}

}  // namespace

StateReport Driver::describeState() {
  const ORVANE_STREAMING_STATUS status = streamingStatus();
  StateReport report;
  report.openObject("driver");
  report.add("interface", "2." + std::to_string(parameters_.interfaceVersionMinor));
  report.add("version", std::to_string(parameters_.driverVersionMajor) + "." +
                            std::to_string(parameters_.driverVersionMinor) + "." +
                            std::to_string(parameters_.driverVersionBuild));
  report.add("build", parameters_.debugBuild ? "debug" : "release");
  report.add("traceMask", hex32(traceMask_));
  report.add("statisticsGeneration", generation_);
  report.close();

  report.openObject("configuration");
  report.add("file", parameters_.configFile);
  report.openList("devices");
  for (const DeviceDescription& device : configuration_.devices) {
    report.openObject("");
    describeDescription(report, device);
    report.close();
  }
  report.close();
  report.close();

  report.openObject("streaming");
  report.add("state", streamingStateName(status.state));
  report.add("mode", engine_.mode == ORVANE_STREAMING_MODE_ALL_DEVICES ? "all devices" : "single device");
  report.add("rate", status.sampleRate);
  if (engine_.presetRate != 0) report.add("preset", engine_.presetRate);
  report.add("streamingBuffer", nameOf(kStreamingBufferClassNames, engine_.buffers.streamingBufferSizeClass));
  report.add("asioBuffer", nameOf(kAsioBufferClassNames, engine_.buffers.asioBufferSizeClass));
  report.add("third", engine_.buffers.thirdSetting);
  report.close();

  report.openObject("usage");
  report.add("asioBuffers", status.reserved1);
  report.add("soundDevicesOpen", status.firstUsageCount);
  report.add("asioRunning", status.secondUsageCount);
  report.add("mixerViews", status.reserved2[0]);
  report.add("views", status.reserved2[1]);
  report.close();

  report.openObject("counters");
  report.add("streamingErrors", counters_.streamingErrors.load());
  report.add("asioErrors", counters_.asioErrors.load());
  report.close();

  report.openList("devices");
  for (size_t position = 0; position < devices_.size(); ++position) {
    VirtualDevice& device = *devices_[position];
    report.openObject("");
    report.add("position", static_cast<uint64_t>(position));
    report.add("id", deviceIdText(device.id()));
    report.addFlag("streaming", isStreamingDevice(device));
    describeDescription(report, device.description());
    report.openObject("spdifInput");
    report.add("state", nameOf(kSpdifStates, device.spdifInput.inputState));
    report.add("format", nameOf(kSpdifFormats, device.spdifInput.signalFormat));
    report.add("rate", device.spdifInput.sampleRate);
    report.close();
    describeChannels(report, "inputChannels", device.inputs());
    describeChannels(report, "outputChannels", device.outputs());
    describeSoundDevices(report, "recordingSoundDevices", device.soundDevices(ORVANE_SOUND_DEVICE_RECORDING));
    describeSoundDevices(report, "playbackSoundDevices", device.soundDevices(ORVANE_SOUND_DEVICE_PLAYBACK));
    device.describeExtensions(report);
    report.close();
  }
  report.close();

  report.openList("connections");
  for (auto& [id, connection] : connections_) {
    report.openObject("");
    report.add("connection", "#" + std::to_string(id));
    report.add("pid", static_cast<uint64_t>(connection->processId));
    report.add("link", platform::toUtf8(connection->linkName));
    if (connection->clientType) report.add("client", clientTypeName(*connection->clientType));
    if (connection->attachedDevice) report.add("attached", deviceIdText(*connection->attachedDevice));
    report.addFlag("messageEvent", connection->messageEvent != nullptr);
    report.addFlag("notificationEvent", connection->notificationEvent != nullptr);
    report.add("queuedMessages", static_cast<uint64_t>(connection->messages.size()));
    report.add("queuedNotifications", static_cast<uint64_t>(connection->notifications.size()));
    report.add("requests", connection->requests.load());
    if (!connection->acquiredChannels.empty()) {
      report.add("channels", static_cast<uint64_t>(connection->acquiredChannels.size()));
    }
    if (connection->asio) {
      const AsioStreamCounters counters = connection->asio->counters();
      report.openObject("asio");
      report.add("frames", static_cast<uint64_t>(connection->asio->frames()));
      report.addFlag("running", counters.running);
      report.add("switches", static_cast<uint64_t>(counters.bufferSwitchEvents));
      report.add("missed", static_cast<uint64_t>(counters.eventsMissed));
      report.close();
    }
    report.close();
  }
  report.close();

  report.openList("replyPatches");
  for (const auto& [code, patches] : replyPatches_) {
    for (const ReplyPatch& patch : patches) {
      report.openObject("");
      report.add("request", requestName(code));
      report.add("code", hex32(code));
      report.add("offset", patch.offset);
      report.add("length", static_cast<uint32_t>(patch.bytes.size()));
      report.add("remaining", patch.remaining);
      report.close();
    }
  }
  report.close();

  report.openList("faults");
  for (const auto& [code, fault] : faults_) {
    report.openObject("");
    report.add("request", requestName(code));
    report.add("code", hex32(code));
    report.add("status", statusText(fault.status));
    report.add("delayMilliseconds", fault.delayMilliseconds);
    report.add("remaining", fault.remaining == 0 ? std::string("always") : std::to_string(fault.remaining));
    report.add("letThrough", fault.letThrough);
    report.close();
  }
  report.close();
  return report;
}

}  // namespace usbaudio_sim
