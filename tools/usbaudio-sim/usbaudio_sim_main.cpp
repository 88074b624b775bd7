// usbaudio-sim: controls the simulated USB audio kernel driver through its
// control interface: plug and unplug devices, simulated conditions, faults,
// and the state dump.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_status.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/handles.h"
#include "platform/unique_fd.h"
#include "tools/common/tool.h"
#include "usb-audio-kernel-sim/sim_control.h"

using namespace usbaudio_sim;
using tool::UsageError;

namespace {

constexpr const char* kUsage =
    "Usage: usbaudio-sim [OPTIONS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Controls the simulated USB audio kernel driver running in a device host on the\n"
    "system root ($WN_SYSTEM_ROOT, else ~/.local/share/wn-system).\n"
    "\n"
    "Commands:\n"
    "  state [--json]                          print the driver's state (as JSON with --json)\n"
    "  plug INDEX                              plug device INDEX of the configuration file\n"
    "  plug-file FILE                          plug the device described in FILE (key = value lines)\n"
    "  unplug DEVICE                           unplug a device\n"
    "  spdif DEVICE STATE [FORMAT [RATE]]      set the S/PDIF input: STATE not-streaming, no-signal,\n"
    "                                          synchronizing or locked; FORMAT pcm or non-pcm\n"
    "  sound-device DEVICE open|close playback|recording INDEX\n"
    "                                          open or close a simulated WDM sound device\n"
    "  volume DEVICE playback|recording INDEX CHANNEL DB [mute]\n"
    "                                          change a Windows volume (DB in dB, or \"silence\")\n"
    "  settings [--rate HZ] [--streaming CLASS] [--asio CLASS]\n"
    "                                          change settings outside the service; CLASS by name\n"
    "                                          (streaming: Minimum ExtraSmall Small Large ExtraLarge\n"
    "                                          Safe; ASIO: Minimum Small Large Maximum) or number\n"
    "  streaming-error                         make the streaming engine fail (state Error)\n"
    "  fail CODE STATUS [COUNT] [--after N]    make requests with CODE fail with STATUS\n"
    "                                          (COUNT times; without COUNT until cleared),\n"
    "                                          after letting N of them through\n"
    "  delay CODE MILLISECONDS [COUNT] [--after N]\n"
    "                                          answer requests with CODE that much later\n"
    "  clear-fault CODE                        remove the fault of CODE\n"
    "  clear-faults                            remove every fault\n"
    "  notify CODE [HEXBYTES]                  post a notification with an optional payload\n"
    "  patch-reply CODE OFFSET HEXBYTES [--times N]\n"
    "                                          write HEXBYTES over the next successful reply\n"
    "                                          to CODE at byte OFFSET (the next N replies);\n"
    "                                          clear-faults removes the patches\n"
    "\n"
    "Options may stand before or after the command; --version prints the version,\n"
    "-h or --help this text.\n"
    "\n"
    "DEVICE is a position in the device list (0, 1, ...) or an identifier as 'state' and\n"
    "'plug' print it (00000002:2F1A0104). Numbers are decimal; CODE is a request code\n"
    "(0x80882004) or name (GET_DRIVER_INFO), STATUS a value (0xE0000060) or name\n"
    "(ORVANE_STATUS_DEVICE_REMOVED).\n"
    "\n"
    "Exit codes: 0 success, 1 a failed operation, 2 a usage error.\n";

constexpr tool::OptionSpec kOptions[] = {
    {"--json", false}, {"--rate", true}, {"--streaming", true}, {"--asio", true}, {"--after", true}, {"--times", true}};

// A device description is a few lines; anything this long is not one.
constexpr size_t kMaxDescriptionBytes = 64 * 1024;

const char* const kStreamingBufferClasses[] = {"Minimum", "ExtraSmall", "Small", "Large", "ExtraLarge", "Safe"};
const char* const kAsioBufferClasses[] = {"Minimum", "Small", "Large", "Maximum"};

// --- Arguments ------------------------------------------------------------------

SIM_DEVICE_SELECTOR deviceArgument(const std::string& text) {
  SIM_DEVICE_SELECTOR selector{};
  if (const std::optional<ORVANE_DEVICE_ID> id = tool::parseDeviceId(text)) {
    selector.position = SIM_SELECT_BY_ID;
    selector.deviceId = *id;
  } else if (const std::optional<uint64_t> position = tool::parseDecimal(text, 0, SIM_SELECT_BY_ID - 1)) {
    selector.position = static_cast<uint32_t>(*position);
  } else {
    throw UsageError{"not a device position or identifier: '" + text + "' (a position such as 0, or an identifier "
                     "such as 00000002:2F1A0104)"};
  }
  return selector;
}

uint32_t requestCode(const std::string& text) {
  if (const std::optional<uint64_t> code = tool::parseNumber(text, 0, UINT32_MAX)) return static_cast<uint32_t>(*code);
  for (const OrvaneRequest& row : ORVANE_REQUESTS) {
    const std::string name = row.name;
    if (text == name || "ORVANE_IOCTL_" + text == name) return row.code;
  }
  throw UsageError{"unknown request code '" + text + "'"};
}

uint32_t statusValue(const std::string& text) {
  if (const std::optional<uint64_t> status = tool::parseNumber(text, 0, UINT32_MAX)) {
    return static_cast<uint32_t>(*status);
  }
  for (uint32_t value = 0xE0000001; value <= 0xE0000100; ++value) {
    const std::string name = orvaneStatusName(value);
    if (text == name || "ORVANE_STATUS_" + text == name) return value;
  }
  throw UsageError{"unknown status '" + text + "'"};
}

uint32_t direction(const std::string& text) {
  if (text == "playback") return ORVANE_SOUND_DEVICE_PLAYBACK;
  if (text == "recording") return ORVANE_SOUND_DEVICE_RECORDING;
  throw UsageError{"direction must be playback or recording, not '" + text + "'"};
}

template <size_t N>
uint32_t bufferClass(const char* const (&names)[N], const std::string& text, const char* what) {
  for (size_t i = 0; i < N; ++i) {
    if (text == names[i]) return static_cast<uint32_t>(i);
  }
  if (const std::optional<uint64_t> number = tool::parseDecimal(text, 0, N - 1)) return static_cast<uint32_t>(*number);
  throw UsageError{std::string("not ") + what + " buffer size class: '" + text + "'"};
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bytes written as hex digits, two a byte: `what` names them in the messages.
std::vector<uint8_t> hexBytesArgument(const std::string& hex, size_t maxBytes, const char* what) {
  if (hex.size() % 2 != 0 || hex.size() / 2 > maxBytes) {
    throw UsageError{std::string("bad ") + what + ": an even number of hex digits, at most " +
                     std::to_string(maxBytes) + " bytes"};
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexDigit(hex[i]);
    const int low = hexDigit(hex[i + 1]);
    if (high < 0 || low < 0) throw UsageError{std::string("bad ") + what + ": '" + hex + "' is not hex digits"};
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

// The content of a device description file, read before anything is opened.
std::string readDescription(const std::string& path) {
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) throw tool::Failure{"cannot read " + path + ": " + std::strerror(errno)};
  struct stat info {};
  if (::fstat(fd.get(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw tool::Failure{"cannot read " + path + ": it is a directory, not a device description"};
  }
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw tool::Failure{"cannot read " + path + ": " + std::strerror(errno)};
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxDescriptionBytes) {
      throw tool::Failure{path + " is longer than " + std::to_string(kMaxDescriptionBytes / 1024) +
                          " KiB; a device description is a few key = value lines"};
    }
  }
  if (text.empty()) throw tool::Failure{path + " is empty; a device description is a few key = value lines"};
  return text;
}

// --- The control link ---------------------------------------------------------------

class ControlLink {
 public:
  ControlLink() : handle_(platform::openDevice(u"\\\\.\\" + std::u16string(kControlLinkName))) {
    if (handle_ == platform::kInvalidHandle) {
      throw tool::Failure{tool::openFailureText("opening the simulated driver's control interface", kControlLinkName,
                                                platform::lastError())};
    }
  }
  ~ControlLink() { platform::closeHandle(handle_); }
  ControlLink(const ControlLink&) = delete;
  ControlLink& operator=(const ControlLink&) = delete;

  // 0 or the failure (the driver's status or a system error).
  uint32_t request(uint32_t code, const void* input, size_t inputSize, void* output = nullptr,
                   uint32_t outputSize = 0, uint32_t* bytes = nullptr) {
    uint32_t count = 0;
    const bool ok = platform::deviceIoControl(handle_, code, input, static_cast<uint32_t>(inputSize), output,
                                              outputSize, &count, nullptr);
    if (bytes != nullptr) *bytes = count;
    return ok ? 0 : platform::lastError();
  }

 private:
  platform::Handle handle_;
};

// How many devices are plugged, for the message about a wrong position; 0
// when the list cannot be read.
size_t pluggedDeviceCount() {
  const platform::Handle handle = platform::openDevice(u"\\\\.\\{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}");
  if (handle == platform::kInvalidHandle) return 0;
  ORVANE_DEVICE_LIST list{};
  uint32_t bytes = 0;
  const bool ok = platform::deviceIoControl(handle, ORVANE_IOCTL_GET_DEVICE_LIST, nullptr, 0, &list, sizeof list,
                                            &bytes, nullptr);
  platform::closeHandle(handle);
  return ok ? std::min<size_t>(list.count, ORVANE_MAX_DEVICES) : 0;
}

// --- Commands -----------------------------------------------------------------------

// One control request, fully checked before the link is opened.
struct ControlRequest {
  uint32_t code = 0;
  std::vector<uint8_t> input;
  std::string operation;  // "unplugging 3", for the failure message
  std::optional<SIM_DEVICE_SELECTOR> device;
  bool printsDeviceId = false;  // the reply is the identifier of a plugged device
};

template <typename Record>
ControlRequest makeRequest(uint32_t code, const Record& record, std::string operation) {
  ControlRequest request{code, std::vector<uint8_t>(sizeof record), std::move(operation), std::nullopt, false};
  std::memcpy(request.input.data(), &record, sizeof record);
  return request;
}

int send(const ControlRequest& request) {
  ControlLink link;
  ORVANE_DEVICE_ID id{};
  const uint32_t result = link.request(request.code, request.input.data(), request.input.size(),
                                       request.printsDeviceId ? &id : nullptr, request.printsDeviceId ? sizeof id : 0);
  if (result == ORVANE_STATUS_OBJECT_NOT_FOUND && request.device && request.device->position != SIM_SELECT_BY_ID) {
    throw tool::Failure{request.operation + " failed: " +
                        tool::devicePositionError(request.device->position, pluggedDeviceCount())};
  }
  if (result == ORVANE_STATUS_OBJECT_NOT_FOUND && request.device) {
    throw tool::Failure{request.operation + " failed: there is no device " +
                        tool::deviceIdText(request.device->deviceId) + " (see 'usbaudio-sim state')"};
  }
  if (result != 0) throw tool::Failure{request.operation + " failed: " + tool::statusText(result)};
  if (request.printsDeviceId) std::printf("plugged %s\n", tool::deviceIdText(id).c_str());
  return tool::kExitSuccess;
}

int showState(bool json) {
  ControlLink link;
  const uint32_t format = json ? SIM_STATE_JSON : SIM_STATE_TEXT;
  std::string text(SIM_MAX_STATE_TEXT, '\0');
  uint32_t bytes = 0;
  const uint32_t result = link.request(SIM_CONTROL_GET_STATE, &format, sizeof format, text.data(),
                                       static_cast<uint32_t>(text.size()), &bytes);
  if (result != 0 && result != platform::ERROR_MORE_DATA) {
    throw tool::Failure{"reading the state failed: " + tool::statusText(result)};
  }
  std::fwrite(text.data(), 1, bytes, stdout);
  return tool::kExitSuccess;
}

using Action = std::function<int()>;

// Turns the words of the command line into what is to be done.
Action parseCommand(const tool::CommandLine& line) {
  const std::vector<std::string>& args = line.words();
  if (args.empty()) throw UsageError{"no command given"};
  const std::string& command = args[0];
  const bool settings = command == "settings";
  if (!settings && (line.has("--rate") || line.has("--streaming") || line.has("--asio"))) {
    throw UsageError{"--rate, --streaming and --asio belong to the settings command"};
  }
  if (command != "state" && line.has("--json")) throw UsageError{"--json belongs to the state command"};
  if (command != "fail" && command != "delay" && line.has("--after")) {
    throw UsageError{"--after belongs to the fail and delay commands"};
  }
  if (command != "patch-reply" && line.has("--times")) throw UsageError{"--times belongs to the patch-reply command"};

  if (command == "state") {
    tool::expectArguments(args, 0, 0);
    return [json = line.has("--json")] { return showState(json); };
  }
  if (command == "plug") {
    tool::expectArguments(args, 1, 1);
    const uint32_t index = tool::decimalArgument(args[1], "the configuration index");
    ControlRequest request = makeRequest(SIM_CONTROL_PLUG_CONFIGURED, index, "plugging device " + args[1]);
    request.printsDeviceId = true;
    return [request] { return send(request); };
  }
  if (command == "plug-file") {
    tool::expectArguments(args, 1, 1);
    const std::string text = readDescription(args[1]);
    ControlRequest request{SIM_CONTROL_PLUG_DESCRIPTION, std::vector<uint8_t>(text.begin(), text.end()),
                           "plugging the device of " + args[1] + " (is the description valid?)", std::nullopt, true};
    return [request] { return send(request); };
  }
  if (command == "unplug") {
    tool::expectArguments(args, 1, 1);
    ControlRequest request = makeRequest(SIM_CONTROL_UNPLUG, deviceArgument(args[1]), "unplugging " + args[1]);
    request.device = deviceArgument(args[1]);
    return [request] { return send(request); };
  }
  if (command == "spdif") {
    tool::expectArguments(args, 2, 4);
    SIM_SPDIF_INPUT input{deviceArgument(args[1]), 0, ORVANE_SPDIF_FORMAT_UNKNOWN, 0, 0};
    const std::map<std::string, uint32_t> states = {{"not-streaming", ORVANE_SPDIF_INPUT_NOT_STREAMING},
                                                    {"no-signal", ORVANE_SPDIF_INPUT_NO_SIGNAL},
                                                    {"synchronizing", ORVANE_SPDIF_INPUT_SYNCHRONIZING},
                                                    {"locked", ORVANE_SPDIF_INPUT_LOCKED}};
    const auto state = states.find(args[2]);
    if (state == states.end()) throw UsageError{"unknown S/PDIF state '" + args[2] + "'"};
    input.inputState = state->second;
    if (args.size() > 3) {
      if (args[3] == "pcm") {
        input.signalFormat = ORVANE_SPDIF_FORMAT_PCM;
      } else if (args[3] == "non-pcm") {
        input.signalFormat = ORVANE_SPDIF_FORMAT_NON_PCM;
      } else {
        throw UsageError{"format must be pcm or non-pcm, not '" + args[3] + "'"};
      }
    }
    if (args.size() > 4) input.sampleRate = tool::decimalArgument(args[4], "the rate");
    ControlRequest request = makeRequest(SIM_CONTROL_SET_SPDIF_INPUT, input, "changing the S/PDIF input");
    request.device = input.device;
    return [request] { return send(request); };
  }
  if (command == "sound-device") {
    tool::expectArguments(args, 4, 4);
    if (args[2] != "open" && args[2] != "close") throw UsageError{"expected open or close, not '" + args[2] + "'"};
    const SIM_SOUND_DEVICE_SWITCH input{deviceArgument(args[1]), direction(args[3]),
                                        tool::decimalArgument(args[4], "the sound device index"),
                                        args[2] == "open" ? 1u : 0u, 0};
    ControlRequest request = makeRequest(SIM_CONTROL_SOUND_DEVICE, input, args[2] + " of the sound device");
    request.device = input.device;
    return [request] { return send(request); };
  }
  if (command == "volume") {
    tool::expectArguments(args, 5, 6);
    SIM_VOLUME input{deviceArgument(args[1]),
                     direction(args[2]),
                     tool::decimalArgument(args[3], "the sound device index"),
                     tool::decimalArgument(args[4], "the channel", 0, ORVANE_SOUND_DEVICE_MAX_CHANNELS - 1),
                     0,
                     0,
                     0};
    if (args[5] == "silence") {
      input.volume = ORVANE_VOLUME_SILENCE;
    } else {
      const double decibels = tool::fractionArgument(args[5], "the volume in dB", -32000, 32000);
      input.volume = static_cast<int32_t>(std::lround(decibels * 65536));
    }
    if (args.size() == 7) {
      if (args[6] != "mute") throw UsageError{"expected mute, not '" + args[6] + "'"};
      input.mute = ORVANE_VOLUME_MUTE;
    }
    ControlRequest request = makeRequest(SIM_CONTROL_SET_VOLUME, input, "changing the volume");
    request.device = input.device;
    return [request] { return send(request); };
  }
  if (settings) {
    tool::expectArguments(args, 0, 0);
    SIM_SETTINGS input{SIM_KEEP, SIM_KEEP, SIM_KEEP, 0};
    if (const auto rate = line.value("--rate")) input.sampleRate = tool::decimalArgument(*rate, "the rate", 1);
    if (const auto streaming = line.value("--streaming")) {
      input.streamingBufferSizeClass = bufferClass(kStreamingBufferClasses, *streaming, "a streaming");
    }
    if (const auto asio = line.value("--asio")) input.asioBufferSizeClass = bufferClass(kAsioBufferClasses, *asio, "an ASIO");
    if (input.sampleRate == SIM_KEEP && input.streamingBufferSizeClass == SIM_KEEP &&
        input.asioBufferSizeClass == SIM_KEEP) {
      throw UsageError{"settings needs --rate, --streaming or --asio"};
    }
    const ControlRequest request = makeRequest(SIM_CONTROL_CHANGE_SETTINGS, input, "changing the settings");
    return [request] { return send(request); };
  }
  if (command == "streaming-error") {
    tool::expectArguments(args, 0, 0);
    const ControlRequest request{SIM_CONTROL_STREAMING_ERROR, {}, "the streaming error", std::nullopt, false};
    return [request] { return send(request); };
  }
  if (command == "fail" || command == "delay") {
    tool::expectArguments(args, 2, 3);
    SIM_FAULT fault{requestCode(args[1]), 0, 0, args.size() == 4 ? tool::decimalArgument(args[3], "the count") : 0};
    if (const auto after = line.value("--after")) fault.after = tool::decimalArgument(*after, "the requests let through");
    if (command == "fail") {
      fault.status = statusValue(args[2]);
      if (fault.status == 0) throw UsageError{"a failure needs a non-zero status"};
    } else {
      fault.delayMilliseconds = tool::decimalArgument(args[2], "the delay in milliseconds");
    }
    const ControlRequest request = makeRequest(SIM_CONTROL_SET_FAULT, fault, "setting the fault");
    return [request] { return send(request); };
  }
  if (command == "clear-fault") {
    tool::expectArguments(args, 1, 1);
    const ControlRequest request =
        makeRequest(SIM_CONTROL_SET_FAULT, SIM_FAULT{requestCode(args[1]), 0, 0, 0}, "clearing the fault");
    return [request] { return send(request); };
  }
  if (command == "clear-faults") {
    tool::expectArguments(args, 0, 0);
    const ControlRequest request{SIM_CONTROL_CLEAR_FAULTS, {}, "clearing the faults", std::nullopt, false};
    return [request] { return send(request); };
  }
  if (command == "notify") {
    tool::expectArguments(args, 1, 2);
    const uint32_t code = tool::decimalArgument(args[1], "the notification code");
    ControlRequest request = makeRequest(SIM_CONTROL_NOTIFY, code, "posting the notification");
    if (args.size() == 3) {
      const std::vector<uint8_t> payload = hexBytesArgument(args[2], ORVANE_MESSAGE_MAX_PAYLOAD, "payload");
      request.input.insert(request.input.end(), payload.begin(), payload.end());
    }
    return [request] { return send(request); };
  }
  if (command == "patch-reply") {
    tool::expectArguments(args, 3, 3);
    const std::vector<uint8_t> bytes = hexBytesArgument(args[3], SIM_MAX_PATCH_BYTES, "patch");
    if (bytes.empty()) throw UsageError{"a patch needs at least one byte"};
    SIM_REPLY_PATCH patch{requestCode(args[1]), tool::decimalArgument(args[2], "the offset"),
                          static_cast<uint32_t>(bytes.size()), 1};
    if (const auto times = line.value("--times")) patch.count = tool::decimalArgument(*times, "the replies to patch", 1);
    ControlRequest request = makeRequest(SIM_CONTROL_PATCH_REPLY, patch, "patching the replies");
    request.input.insert(request.input.end(), bytes.begin(), bytes.end());
    return [request] { return send(request); };
  }
  throw UsageError{"unknown command '" + command + "'"};
}

int runCommand(const tool::CommandLine& line) {
  const Action action = parseCommand(line);
  tool::checkSystemRoot();
  return action();
}

}  // namespace

int main(int argc, char** argv) { return tool::run({"usbaudio-sim", kUsage, kOptions}, argc, argv, runCommand); }
