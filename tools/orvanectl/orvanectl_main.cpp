// orvanectl: a user's command line to the running USB audio system, for
// headless machines and scripts. Reads what the control panel shows and sends
// the requests the control panel sends to the device control service.

#include <strings.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device-access/orvane_client.h"
#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "platform/format.h"
#include "platform/text.h"
#include "tools/common/json_writer.h"
#include "tools/common/tool.h"

namespace {

using tool::JsonWriter;
using tool::UsageError;

constexpr const char* kUsage = R"(Usage: orvanectl [OPTIONS] COMMAND [ARGUMENTS]

Reads the state of the USB audio system and sends the requests of the control panel.

Commands:
  info                        driver version, build type and interface version
  devices                     connected devices (position, USB ids, serial, identifier, name)
  status                      streaming state and mode, current sampling rate, usage counts
  rates                       current and supported sampling rates
  buffers                     buffer size classes and lengths
  channels [in|out]           ASIO channels with their device and name (both lists by default)
  counters                    status counters
  set-rate HZ                 ask the service to set the sampling rate
  set-buffers STREAMING ASIO  ask the service to set the buffer size classes, by name or number
                              (streaming: Minimum ExtraSmall Small Large ExtraLarge Safe;
                               ASIO: Minimum Small Large Maximum)
  select-device DEVICE|all    ask the service to stream from one device, given by its position
                              or identifier (see 'devices'), or from all devices
  dsd on|off                  ask the service to switch the DSD mode of all devices
  sound-devices DEVICE [PLAYBACK RECORDING]
                              a device's WDM sound device layout as the service holds it, or
                              ask the service to set it: playback 0 Stereo full, 1 Multichannel
                              5.1, 2 Multichannel 7.1, 3 and 4 the same + shadow, 5 Stereo
                              reduced; recording 0 Stereo full, 1 Stereo reduced, 2 Multichannel
  crosspoint DEVICE OUTPUT INPUT GAIN|off
                              set a mixer crosspoint of a device: the pins as PORTTYPE:CHANNEL
                              (output 0:1, input 2:1), the gain in hundredths of a dB (-1250)
                              switches it on, 'off' switches it off

Options (before or after the command):
  --json        machine-readable output (JSON on standard output)
  --link NAME   device link to open (default {BC1AFE28-22BD-4dfc-821B-51306F8D0D1D})
  --timeout MS  how long the service requests wait for the answer (default 30000)
  --version     the program's version
  -h, --help    this text

Numbers are decimal. The system is the one under $WN_SYSTEM_ROOT. Exit codes:
0 success, 1 a failed operation (its name and status are printed), 2 a usage error.
)";

constexpr tool::OptionSpec kOptions[] = {{"--json", false}, {"--link", true}, {"--timeout", true}};

constexpr char16_t kDefaultLink[] = u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}";

const char* const kStreamingBufferClasses[] = {"Minimum", "ExtraSmall", "Small", "Large", "ExtraLarge", "Safe"};
const char* const kAsioBufferClasses[] = {"Minimum", "Small", "Large", "Maximum"};
const char* const kCounterNames[] = {"Streaming Error Count", "FIFO Error Count", "ASIO Error Count",
                                     "WDM Audio Error Count", "WDM MIDI Error Count"};

struct Options {
  bool json = false;
  std::u16string link = kDefaultLink;
  uint32_t timeoutMs = ORVANE_SERVICE_TIMEOUT_MS;
  std::vector<std::string> arguments;  // after the command
};

// A failed operation: what was attempted and the status it returned, or the
// whole message when it is more than a status.
struct Failure {
  std::string operation;
  uint32_t status;
  std::string message;  // empty: "<operation> failed: <status text>"
};

// --- Text helpers ---------------------------------------------------------------

std::string utf8(const char16_t* text, size_t capacity) {
  return platform::toUtf8(std::u16string_view(text, platform::wideLength(text, capacity)));
}

template <size_t N>
std::string utf8(const char16_t (&text)[N]) {
  return utf8(text, N);
}

std::string rateText(uint32_t hz) { return platform::formatText("%u.%03u kHz", hz / 1000, hz % 1000); }

std::string millisecondsText(uint32_t microseconds) {
  return platform::formatText("%u.%1u millisecs", microseconds / 1000, (microseconds % 1000) / 100);
}

std::string hex16(uint16_t value) { return platform::formatText("0x%04X", value); }

using tool::deviceIdText;

const char* stateName(uint32_t state) {
  static const char* const names[] = {"Undefined", "Down", "Ready", "Prepared", "Running", "Error", "Unsupported"};
  return state < std::size(names) ? names[state] : "unknown";
}

const char* modeName(uint32_t mode) {
  if (mode == ORVANE_STREAMING_MODE_SINGLE_DEVICE) return "single";
  if (mode == ORVANE_STREAMING_MODE_ALL_DEVICES) return "all";
  return "unknown";
}

template <size_t N>
const char* className(const char* const (&names)[N], uint32_t value) {
  return value < N ? names[value] : "unknown";
}

// A buffer size class by name (any case) or by its decimal number.
template <size_t N>
std::optional<uint32_t> parseClass(const char* const (&names)[N], const std::string& text) {
  for (size_t i = 0; i < N; ++i) {
    if (strcasecmp(names[i], text.c_str()) == 0) return static_cast<uint32_t>(i);
  }
  const std::optional<uint64_t> number = tool::parseDecimal(text, 0, N - 1);
  if (number) return static_cast<uint32_t>(*number);
  return std::nullopt;
}

void check(uint32_t status, const char* operation) {
  if (status != 0) throw Failure{operation, status, {}};
}

// --- Connection -----------------------------------------------------------------

// Reads go through a plain driver connection, as the spy tool's do; the
// service requests through a connection registered as the control panel's.
class Connection {
 public:
  explicit Connection(const Options& options) : options_(options) {}

  OrvaneClient& reader() {
    if (!client_.isOpen()) opened(client_.openDriver(options_.link.c_str(), false, false), "Opening the driver");
    return client_;
  }

  OrvaneClient& panel() {
    opened(client_.openConnection(options_.link.c_str(), ORVANE_CLIENT_TYPE_PANEL, true),
           "Registering with the driver");
    return client_;
  }

 private:
  void opened(uint32_t status, const char* operation) {
    if (status != 0) throw Failure{operation, status, tool::openFailureText(operation, options_.link, status)};
  }

  const Options& options_;
  OrvaneClient client_;
};

std::vector<ORVANE_DEVICE_INFO> listDevices(OrvaneClient& client) {
  ORVANE_DEVICE_LIST list;
  check(client.ioctlGetDeviceList(list), "Reading the device list");
  return {list.devices, list.devices + list.count};
}

void output(const std::string& text) { std::fputs(text.c_str(), stdout); }

void printJson(const JsonWriter& json) { std::printf("%s\n", json.text().c_str()); }

// --- Read commands --------------------------------------------------------------

void commandInfo(Connection& connection, const Options& options) {
  ORVANE_DRIVER_INFO info;
  check(connection.reader().ioctlGetDriverInfo(info), "Reading the driver information");
  const bool debug = (info.flags & ORVANE_DRIVER_FLAG_DEBUG_BUILD) != 0;
  if (options.json) {
    JsonWriter json;
    json.beginObject();
    json.member("driverVersion", platform::formatText("%u.%u.%u", info.driverVersionMajor, info.driverVersionMinor,
                                                      info.driverVersionBuild));
    json.member("buildType", debug ? "debug" : "release");
    json.member("interfaceVersion",
                platform::formatText("%u.%u", info.interfaceVersionMajor, info.interfaceVersionMinor));
    json.endObject();
    printJson(json);
    return;
  }
  output(platform::formatText("Driver version:    %u.%u.%u\nBuild type:        %s\nInterface version: %u.%u\n",
                              info.driverVersionMajor, info.driverVersionMinor, info.driverVersionBuild,
                              debug ? "debug" : "release", info.interfaceVersionMajor, info.interfaceVersionMinor));
}

void commandDevices(Connection& connection, const Options& options) {
  const std::vector<ORVANE_DEVICE_INFO> devices = listDevices(connection.reader());
  if (options.json) {
    JsonWriter json;
    json.beginArray();
    for (size_t i = 0; i < devices.size(); ++i) {
      const ORVANE_DEVICE_INFO& device = devices[i];
      json.beginObject();
      json.member("position", static_cast<uint32_t>(i));
      json.member("id", deviceIdText(device.deviceId));
      json.member("vendorId", hex16(device.vendorId));
      json.member("productId", hex16(device.productId));
      json.member("serial", utf8(device.serialNumber));
      json.member("name", utf8(device.deviceName));
      json.member("highSpeed", (device.highSpeedPort & ORVANE_DEVICE_HIGH_SPEED_PORT) != 0);
      json.member("echoPlugin", (device.echoPlugin & ORVANE_DEVICE_ECHO_PLUGIN) != 0);
      json.member("streaming", (device.streamingSelected & ORVANE_DEVICE_STREAMING_SELECTED) != 0);
      json.endObject();
    }
    json.endArray();
    printJson(json);
    return;
  }
  if (devices.empty()) {
    output("There is no Quintor device connected.\n");
    return;
  }
  output(platform::formatText("%-4s%-18s%-21s%-19s%-10s%s\n", "#", "Vendor / Product", "Serial", "Id", "Streaming",
                              "Name"));
  for (size_t i = 0; i < devices.size(); ++i) {
    const ORVANE_DEVICE_INFO& device = devices[i];
    const bool highSpeed = (device.highSpeedPort & ORVANE_DEVICE_HIGH_SPEED_PORT) != 0;
    const bool streaming = (device.streamingSelected & ORVANE_DEVICE_STREAMING_SELECTED) != 0;
    output(platform::formatText("%-4u%-18s%-21s%-19s%-10s%s%s\n", static_cast<uint32_t>(i),
                                (hex16(device.vendorId) + " / " + hex16(device.productId)).c_str(),
                                utf8(device.serialNumber).c_str(), deviceIdText(device.deviceId).c_str(),
                                streaming ? "X" : "", utf8(device.deviceName).c_str(),
                                highSpeed ? "" : " (USB 1.1 port, cannot stream)"));
  }
}

void commandStatus(Connection& connection, const Options& options) {
  ORVANE_STREAMING_STATUS status;
  check(connection.reader().ioctlGetStreamingStatus(status), "Reading the streaming status");
  if (options.json) {
    JsonWriter json;
    json.beginObject();
    json.member("state", stateName(status.state));
    json.member("stateValue", status.state);
    json.member("mode", modeName(status.mode));
    json.member("sampleRate", status.sampleRate);
    json.key("usageCounts");
    json.beginArray();
    json.value(status.firstUsageCount);
    json.value(status.secondUsageCount);
    json.endArray();
    json.member("inUse", status.firstUsageCount != 0 || status.secondUsageCount != 0);
    json.endObject();
    printJson(json);
    return;
  }
  const std::string state = status.state == ORVANE_STREAMING_STATE_UNSUPPORTED
                                ? std::string("Streaming not supported on USB 1.1 port.")
                                : std::string("Streaming state: ") + stateName(status.state);
  output(platform::formatText("%s\nStreaming mode: %s\nCurrent sampling rate: %s\nUsage counts: %u, %u\n",
                              state.c_str(),
                              status.mode == ORVANE_STREAMING_MODE_ALL_DEVICES ? "all devices" : "one device",
                              rateText(status.sampleRate).c_str(), status.firstUsageCount,
                              status.secondUsageCount));
}

void commandRates(Connection& connection, const Options& options) {
  ORVANE_SAMPLE_RATES rates;
  check(connection.reader().ioctlGetSampleRates(rates), "Reading the sample rates");
  if (options.json) {
    JsonWriter json;
    json.beginObject();
    json.member("current", rates.currentRate);
    json.key("supported");
    json.beginArray();
    for (uint32_t i = 0; i < rates.rateCount; ++i) json.value(rates.rates[i]);
    json.endArray();
    json.endObject();
    printJson(json);
    return;
  }
  output("Current sampling rate: " + rateText(rates.currentRate) + "\nSupported sampling rates:\n");
  for (uint32_t i = 0; i < rates.rateCount; ++i) {
    const uint32_t rate = rates.rates[i];
    const bool dsd = rate == ORVANE_SAMPLE_RATE_DSD64 || rate == ORVANE_SAMPLE_RATE_DSD128;
    output(platform::formatText("  %c %s%s\n", rate == rates.currentRate ? '*' : ' ', rateText(rate).c_str(),
                                dsd ? " (DSD, set by an ASIO host only)" : ""));
  }
}

void commandBuffers(Connection& connection, const Options& options) {
  ORVANE_BUFFER_SIZES sizes;
  check(connection.reader().ioctlGetBufferSizes(sizes), "Get the buffer sizes");
  const char* streaming = className(kStreamingBufferClasses, sizes.streamingBufferSizeClass);
  const char* asio = className(kAsioBufferClasses, sizes.asioBufferSizeClass);
  if (options.json) {
    JsonWriter json;
    json.beginObject();
    json.member("streamingClass", streaming);
    json.member("streamingClassValue", sizes.streamingBufferSizeClass);
    json.member("streamingMicroseconds", sizes.streamingBufferMicroseconds);
    json.member("asioClass", asio);
    json.member("asioClassValue", sizes.asioBufferSizeClass);
    json.member("asioMicroseconds", sizes.asioBufferMicroseconds);
    json.member("asioSamples", sizes.asioBufferSamples);
    json.member("thirdSetting", sizes.thirdSetting);
    json.endObject();
    printJson(json);
    return;
  }
  output(platform::formatText("Streaming buffer: %s, %s\nASIO buffer:      %s, %s, %u samples\n", streaming,
                              millisecondsText(sizes.streamingBufferMicroseconds).c_str(), asio,
                              millisecondsText(sizes.asioBufferMicroseconds).c_str(), sizes.asioBufferSamples));
}

struct ChannelRow {
  uint64_t id;
  std::string device;
  std::string name;
  bool dsd;
};

std::vector<ChannelRow> readChannels(OrvaneClient& client, bool inputs,
                                     const std::vector<ORVANE_DEVICE_INFO>& devices) {
  ORVANE_CHANNEL_LIST list;
  check(inputs ? client.ioctlGetInputChannels(list) : client.ioctlGetOutputChannels(list),
        inputs ? "Reading the input channels" : "Reading the output channels");
  std::vector<ChannelRow> rows;
  const uint32_t count = list.count;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t id = list.channelIds[i];
    ORVANE_CHANNEL_INFO info;
    if (client.ioctlGetChannelInfo(id, info) != 0) continue;  // left out, as the control panel does
    const ORVANE_DEVICE_ID owner = info.deviceId;
    std::string device;
    for (const ORVANE_DEVICE_INFO& candidate : devices) {
      if (candidate.deviceId == owner) device = utf8(candidate.deviceName);
    }
    rows.push_back({id, device, utf8(info.name), info.sampleFormat == ORVANE_SAMPLE_FORMAT_DSD});
  }
  return rows;
}

void commandChannels(Connection& connection, const Options& options, bool wantInputs, bool wantOutputs) {
  OrvaneClient& client = connection.reader();
  const std::vector<ORVANE_DEVICE_INFO> devices = listDevices(client);
  std::vector<ChannelRow> inputs;
  std::vector<ChannelRow> outputs;
  if (wantInputs) inputs = readChannels(client, true, devices);
  if (wantOutputs) outputs = readChannels(client, false, devices);

  if (options.json) {
    JsonWriter json;
    json.beginObject();
    auto list = [&](const char* name, bool wanted, const std::vector<ChannelRow>& rows) {
      if (!wanted) return;
      json.key(name);
      json.beginArray();
      for (const ChannelRow& row : rows) {
        json.beginObject();
        json.member("id", platform::formatText("%016llX", static_cast<unsigned long long>(row.id)));
        json.member("device", row.device);
        json.member("name", row.name);
        json.member("dsd", row.dsd);
        json.endObject();
      }
      json.endArray();
    };
    list("inputs", wantInputs, inputs);
    list("outputs", wantOutputs, outputs);
    json.endObject();
    printJson(json);
    return;
  }
  auto table = [](const char* title, const std::vector<ChannelRow>& rows) {
    output(platform::formatText("%s (%u):\n", title, static_cast<uint32_t>(rows.size())));
    for (const ChannelRow& row : rows) {
      output(platform::formatText("  %-42s%s\n", row.device.c_str(), row.name.c_str()));
    }
  };
  if (wantInputs) table("ASIO IN Channels", inputs);
  if (wantOutputs) table("ASIO OUT Channels", outputs);
}

void commandCounters(Connection& connection, const Options& options) {
  ORVANE_STATUS_COUNTERS counters;
  check(connection.reader().ioctlGetStatusCounters(counters), "Reading the status counters");
  const uint32_t values[] = {counters.streamingErrors, counters.fifoErrors, counters.asioErrors,
                             counters.wdmAudioErrors, counters.wdmMidiErrors};
  if (options.json) {
    const char* const keys[] = {"streamingErrors", "fifoErrors", "asioErrors", "wdmAudioErrors", "wdmMidiErrors"};
    JsonWriter json;
    json.beginObject();
    for (size_t i = 0; i < std::size(values); ++i) json.member(keys[i], values[i]);
    json.endObject();
    printJson(json);
    return;
  }
  for (size_t i = 0; i < std::size(values); ++i) {
    output(platform::formatText("%-24s%u\n", kCounterNames[i], values[i]));
  }
}

// --- Service requests -------------------------------------------------------------

void reportDone(const Options& options, const std::string& what) {
  if (options.json) {
    JsonWriter json;
    json.beginObject();
    json.member("result", "ORVANE_STATUS_SUCCESS");
    json.endObject();
    printJson(json);
  } else {
    output(what + "\n");
  }
}

void commandSetRate(Connection& connection, const Options& options, uint32_t rate) {
  check(connection.panel().setSampleRate(rate, options.timeoutMs), "Changing the sample rate");
  reportDone(options, "Sampling rate set to " + rateText(rate) + ".");
}

void commandSetBuffers(Connection& connection, const Options& options, uint32_t streaming, uint32_t asio) {
  OrvaneClient& client = connection.panel();
  ORVANE_BUFFER_SIZES current;
  check(client.ioctlGetBufferSizes(current), "Get the buffer sizes");
  const ORVANE_BUFFER_SETTINGS settings{streaming, asio, current.thirdSetting};
  check(client.setBufferSizes(settings, options.timeoutMs), "Changing the buffer sizes");
  reportDone(options, platform::formatText("Buffer sizes set to %s (streaming) and %s (ASIO).",
                                           kStreamingBufferClasses[streaming], kAsioBufferClasses[asio]));
}

// The device of select-device: all devices, a position in the device list or
// an identifier.
struct DeviceChoice {
  bool all = false;
  std::optional<uint64_t> position;
  std::optional<ORVANE_DEVICE_ID> id;
};

// The position in the device list of the device a choice names.
size_t resolveDevice(const std::vector<ORVANE_DEVICE_INFO>& devices, const DeviceChoice& choice,
                     const char* operation) {
  if (choice.id) {
    for (size_t i = 0; i < devices.size(); ++i) {
      if (devices[i].deviceId == *choice.id) return i;
    }
    throw Failure{operation, ORVANE_STATUS_NO_DEVICE,
                  "there is no device " + deviceIdText(*choice.id) + " (see 'orvanectl devices')"};
  }
  if (*choice.position >= devices.size()) {
    throw Failure{operation, ORVANE_STATUS_NO_DEVICE, tool::devicePositionError(*choice.position, devices.size())};
  }
  return static_cast<size_t>(*choice.position);
}

void commandSelectDevice(Connection& connection, const Options& options, const DeviceChoice& choice) {
  constexpr const char* kOperation = "Selecting the streaming device";
  OrvaneClient& client = connection.panel();
  if (choice.all) {
    check(client.selectStreamingDevice(0, 0, ORVANE_STREAMING_MODE_ALL_DEVICES, options.timeoutMs), kOperation);
    reportDone(options, "All devices stream.");
    return;
  }
  const std::vector<ORVANE_DEVICE_INFO> devices = listDevices(client);
  const size_t position = resolveDevice(devices, choice, kOperation);
  const ORVANE_DEVICE_ID id = devices[position].deviceId;
  check(client.selectStreamingDevice(id.first, id.second, ORVANE_STREAMING_MODE_SINGLE_DEVICE, options.timeoutMs),
        kOperation);
  reportDone(options, "Device " + std::to_string(position) + " (" + utf8(devices[position].deviceName) +
                          ") is selected for streaming.");
}

// --- Sound device layouts (requests 11001 and 11002) ---------------------------

const char* const kPlaybackLayouts[] = {"Stereo full",      "Multichannel 5.1",          "Multichannel 7.1",
                                        "Multichannel 5.1 + shadow", "Multichannel 7.1 + shadow", "Stereo reduced"};
const char* const kRecordingLayouts[] = {"Stereo full", "Stereo reduced", "Multichannel"};

struct LayoutChoice {
  DeviceChoice device;
  std::optional<uint32_t> playback;  // set: ask for this layout
  uint32_t recording = 0;
};

// One request of the sound device layout to the service; the layout it holds.
ORVANE_SOUND_DEVICE_CONFIGURATION layoutRequest(OrvaneClient& client, uint32_t code,
                                                const ORVANE_SOUND_DEVICE_CONFIGURATION& payload, uint32_t timeoutMs,
                                                const char* operation) {
  ORVANE_MESSAGE request;
  initMessage(request, ORVANE_MSG_REQUEST, code);
  check(setPayload(request, payload), operation);
  ORVANE_MESSAGE response;
  check(client.transact(request, response, timeoutMs), operation);
  check(response.result, operation);
  ORVANE_SOUND_DEVICE_CONFIGURATION held = payload;
  if (code == ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION &&
      (response.code != ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION || getPayload(response, held) != 0)) {
    throw Failure{operation, ORVANE_STATUS_UNEXPECTED_MSG_CODE, {}};
  }
  return held;
}

void commandSoundDevices(Connection& connection, const Options& options, const LayoutChoice& choice) {
  const char* operation = choice.playback ? "Setting the sound device configuration" : "Reading the sound device configuration";
  OrvaneClient& client = connection.panel();
  const std::vector<ORVANE_DEVICE_INFO> devices = listDevices(client);
  const size_t position = resolveDevice(devices, choice.device, operation);
  ORVANE_SOUND_DEVICE_CONFIGURATION configuration{devices[position].deviceId, 0, 0};
  if (choice.playback) {
    configuration.playbackConfiguration = *choice.playback;
    configuration.recordingConfiguration = choice.recording;
    (void)layoutRequest(client, ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION, configuration, options.timeoutMs,
                        operation);
  }
  configuration = layoutRequest(client, ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION,
                                ORVANE_SOUND_DEVICE_CONFIGURATION{devices[position].deviceId, 0, 0}, options.timeoutMs,
                                operation);
  const uint32_t playback = configuration.playbackConfiguration;
  const uint32_t recording = configuration.recordingConfiguration;
  if (options.json) {
    JsonWriter json;
    json.beginObject();
    json.member("device", deviceIdText(devices[position].deviceId));
    json.member("playback", playback);
    json.member("playbackName", className(kPlaybackLayouts, playback));
    json.member("recording", recording);
    json.member("recordingName", className(kRecordingLayouts, recording));
    json.endObject();
    printJson(json);
    return;
  }
  output(platform::formatText("Device %u (%s): playback %u (%s), recording %u (%s).\n", static_cast<uint32_t>(position),
                              utf8(devices[position].deviceName).c_str(), playback, className(kPlaybackLayouts, playback),
                              recording, className(kRecordingLayouts, recording)));
}

// --- Mixer crosspoints (a device request on the device's connection) -----------

struct CrosspointChoice {
  DeviceChoice device;
  ORVANE_MIXER_CROSSPOINT entry{};
};

std::string pinText(const ORVANE_MIXER_PIN& pin) {
  return std::to_string(pin.portType) + ":" + std::to_string(pin.channel);
}

void commandCrosspoint(Connection& connection, const Options& options, const CrosspointChoice& choice) {
  constexpr const char* kOperation = "Setting the mixer crosspoint";
  OrvaneClient& client = connection.reader();
  bool changed = false;
  check(client.updateDeviceList(changed), "Reading the device list");
  const std::vector<ORVANE_DEVICE_INFO> devices = listDevices(client);
  const size_t position = resolveDevice(devices, choice.device, kOperation);
  OrvaneDevice* device = client.findDevice(devices[position].deviceId.first, devices[position].deviceId.second);
  if (device == nullptr) throw Failure{kOperation, ORVANE_STATUS_NO_DEVICE, {}};
  ORVANE_MIXER_CROSSPOINT entry = choice.entry;
  check(device->ioctlSetMixerCrosspoints(&entry, 1), kOperation);
  const bool on = (entry.flags & ORVANE_MIXER_CROSSPOINT_ON) != 0;
  reportDone(options, "Crosspoint " + pinText(entry.inputPin) + " to " + pinText(entry.outputPin) + " of device " +
                          std::to_string(position) +
                          (on ? platform::formatText(" is on at %i hundredths of a dB.", entry.gain) : " is off."));
}

void commandDsd(Connection& connection, const Options& options, bool on) {
  check(connection.panel().setDsdMode(on, options.timeoutMs), "Switching the DSD mode");
  reportDone(options, on ? "DSD mode on." : "DSD mode off.");
}

// --- Command line -------------------------------------------------------------------

// A command checks its arguments first and returns what it does once the
// connection is made, so that a usage error never opens anything.
using Action = std::function<void(Connection&)>;
using Parser = Action (*)(const Options&);

template <void (*Command)(Connection&, const Options&)>
Action withoutArguments(const Options& options) {
  if (!options.arguments.empty()) throw UsageError{"unexpected argument '" + options.arguments[0] + "'"};
  return [&options](Connection& connection) { Command(connection, options); };
}

Action parseChannels(const Options& options) {
  if (options.arguments.size() > 1) throw UsageError{"channels takes 'in' or 'out'"};
  bool inputs = true;
  bool outputs = true;
  if (!options.arguments.empty()) {
    const std::string& which = options.arguments[0];
    if (which == "in") {
      outputs = false;
    } else if (which == "out") {
      inputs = false;
    } else {
      throw UsageError{"channels takes 'in' or 'out'"};
    }
  }
  return [&options, inputs, outputs](Connection& connection) { commandChannels(connection, options, inputs, outputs); };
}

Action parseSetRate(const Options& options) {
  if (options.arguments.size() != 1) throw UsageError{"set-rate takes the rate in Hz"};
  const std::optional<uint64_t> rate = tool::parseDecimal(options.arguments[0], 1, UINT32_MAX);
  if (!rate) throw UsageError{"not a sample rate: " + options.arguments[0] + " (a decimal number of Hz)"};
  return [&options, hz = static_cast<uint32_t>(*rate)](Connection& connection) {
    commandSetRate(connection, options, hz);
  };
}

Action parseSetBuffers(const Options& options) {
  if (options.arguments.size() != 2) throw UsageError{"set-buffers takes the streaming and the ASIO class"};
  const std::optional<uint32_t> streaming = parseClass(kStreamingBufferClasses, options.arguments[0]);
  if (!streaming) throw UsageError{"not a streaming buffer size class: " + options.arguments[0]};
  const std::optional<uint32_t> asio = parseClass(kAsioBufferClasses, options.arguments[1]);
  if (!asio) throw UsageError{"not an ASIO buffer size class: " + options.arguments[1]};
  return [&options, s = *streaming, a = *asio](Connection& connection) {
    commandSetBuffers(connection, options, s, a);
  };
}

std::optional<DeviceChoice> parseDeviceChoice(const std::string& text) {
  DeviceChoice choice;
  if (const std::optional<ORVANE_DEVICE_ID> id = tool::parseDeviceId(text)) {
    choice.id = *id;
  } else if (const std::optional<uint64_t> position = tool::parseDecimal(text, 0, UINT32_MAX)) {
    choice.position = *position;
  } else {
    return std::nullopt;
  }
  return choice;
}

Action parseSelectDevice(const Options& options) {
  if (options.arguments.size() != 1) throw UsageError{"select-device takes a device position, identifier or 'all'"};
  const std::string& text = options.arguments[0];
  DeviceChoice choice;
  if (text == "all") {
    choice.all = true;
  } else if (const std::optional<DeviceChoice> device = parseDeviceChoice(text)) {
    choice = *device;
  } else {
    throw UsageError{"not a device position or identifier: " + text};
  }
  return [&options, choice](Connection& connection) { commandSelectDevice(connection, options, choice); };
}

Action parseSoundDevices(const Options& options) {
  const size_t count = options.arguments.size();
  if (count != 1 && count != 3) throw UsageError{"sound-devices takes a device, and to set them the two layouts"};
  LayoutChoice choice;
  const std::optional<DeviceChoice> device = parseDeviceChoice(options.arguments[0]);
  if (!device) throw UsageError{"not a device position or identifier: " + options.arguments[0]};
  choice.device = *device;
  if (count == 3) {
    choice.playback = tool::decimalArgument(options.arguments[1], "the playback layout", 0,
                                            ORVANE_MAX_PLAYBACK_CONFIGURATION);
    choice.recording = tool::decimalArgument(options.arguments[2], "the recording layout", 0,
                                             ORVANE_MAX_RECORDING_CONFIGURATION);
  }
  return [&options, choice](Connection& connection) { commandSoundDevices(connection, options, choice); };
}

std::optional<ORVANE_MIXER_PIN> parsePin(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::optional<uint64_t> type = tool::parseDecimal(text.substr(0, colon), 0, 255);
  const std::optional<uint64_t> channel = tool::parseDecimal(text.substr(colon + 1), 0, 255);
  if (!type || !channel) return std::nullopt;
  return ORVANE_MIXER_PIN{static_cast<uint8_t>(*type), static_cast<uint8_t>(*channel), {0, 0}};
}

Action parseCrosspoint(const Options& options) {
  if (options.arguments.size() != 4) throw UsageError{"crosspoint takes a device, the output and input pins and a gain or 'off'"};
  CrosspointChoice choice;
  const std::optional<DeviceChoice> device = parseDeviceChoice(options.arguments[0]);
  if (!device) throw UsageError{"not a device position or identifier: " + options.arguments[0]};
  choice.device = *device;
  const std::optional<ORVANE_MIXER_PIN> output = parsePin(options.arguments[1]);
  const std::optional<ORVANE_MIXER_PIN> input = parsePin(options.arguments[2]);
  if (!output) throw UsageError{"not a pin (PORTTYPE:CHANNEL): " + options.arguments[1]};
  if (!input) throw UsageError{"not a pin (PORTTYPE:CHANNEL): " + options.arguments[2]};
  choice.entry.outputPin = *output;
  choice.entry.inputPin = *input;
  const std::string& gain = options.arguments[3];
  if (gain != "off") {
    const bool negative = !gain.empty() && gain[0] == '-';
    const std::optional<uint64_t> magnitude = tool::parseDecimal(negative ? gain.substr(1) : gain, 0, 32768);
    if (!magnitude || (!negative && *magnitude > 32767)) {
      throw UsageError{"not a gain in hundredths of a dB: " + gain};
    }
    choice.entry.gain = static_cast<int16_t>(negative ? -static_cast<int32_t>(*magnitude) : static_cast<int32_t>(*magnitude));
    choice.entry.flags = ORVANE_MIXER_CROSSPOINT_ON;
  }
  return [&options, choice](Connection& connection) { commandCrosspoint(connection, options, choice); };
}

Action parseDsd(const Options& options) {
  if (options.arguments.size() != 1 || (options.arguments[0] != "on" && options.arguments[0] != "off")) {
    throw UsageError{"dsd takes 'on' or 'off'"};
  }
  return [&options, on = options.arguments[0] == "on"](Connection& connection) {
    commandDsd(connection, options, on);
  };
}

const std::map<std::string_view, Parser> kCommands = {
    {"info", withoutArguments<commandInfo>},
    {"devices", withoutArguments<commandDevices>},
    {"status", withoutArguments<commandStatus>},
    {"rates", withoutArguments<commandRates>},
    {"buffers", withoutArguments<commandBuffers>},
    {"channels", parseChannels},
    {"counters", withoutArguments<commandCounters>},
    {"set-rate", parseSetRate},
    {"set-buffers", parseSetBuffers},
    {"select-device", parseSelectDevice},
    {"dsd", parseDsd},
    {"sound-devices", parseSoundDevices},
    {"crosspoint", parseCrosspoint},
};

Options parseOptions(const tool::CommandLine& line) {
  Options options;
  options.json = line.has("--json");
  if (const std::optional<std::string> link = line.value("--link")) {
    if (link->empty()) throw UsageError{"--link needs a name"};
    options.link = platform::toWide(*link);
  }
  if (const std::optional<std::string> timeout = line.value("--timeout")) {
    const std::optional<uint64_t> ms = tool::parseDecimal(*timeout, 0, UINT32_MAX - 1);
    if (!ms) throw UsageError{"not a time-out in milliseconds: " + *timeout};
    options.timeoutMs = static_cast<uint32_t>(*ms);
  }
  if (line.words().empty()) throw UsageError{"no command given"};
  options.arguments.assign(line.words().begin() + 1, line.words().end());
  return options;
}

std::string failureMessage(const Failure& failure) {
  return failure.message.empty() ? failure.operation + " failed: " + tool::statusText(failure.status)
                                 : failure.message;
}

void reportFailure(const Failure& failure, bool json) {
  const std::string message = failureMessage(failure);
  std::fprintf(stderr, "orvanectl: %s\n", message.c_str());
  if (json) {
    JsonWriter writer;
    writer.beginObject();
    writer.key("error");
    writer.beginObject();
    writer.member("operation", failure.operation);
    writer.member("status", failure.status);
    writer.member("text", tool::statusText(failure.status));
    writer.member("message", message);
    writer.endObject();
    writer.endObject();
    printJson(writer);
  }
}

int runCommand(const tool::CommandLine& line) {
  const Options options = parseOptions(line);
  const std::string& name = line.words()[0];
  const auto command = kCommands.find(name);
  if (command == kCommands.end()) throw UsageError{"unknown command " + name};
  const Action action = command->second(options);
  tool::checkSystemRoot();
  try {
    Connection connection(options);
    action(connection);
  } catch (const Failure& failure) {
    reportFailure(failure, options.json);
    return tool::kExitFailure;
  }
  return tool::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) { return tool::run({"orvanectl", kUsage, kOptions}, argc, argv, runCommand); }
