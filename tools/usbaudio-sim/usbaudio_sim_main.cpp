// usbaudio-sim: controls the simulated USB audio kernel driver through its
// control interface: plug and unplug devices, simulated conditions, faults,
// and the state dump.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_status.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/handles.h"
#include "usb-audio-kernel-sim/sim_control.h"

using namespace usbaudio_sim;

namespace {

constexpr const char* kUsage =
    "usage: usbaudio-sim COMMAND [ARGUMENTS]\n"
    "\n"
    "Controls the simulated USB audio kernel driver running in a device host on the\n"
    "system root ($WN_SYSTEM_ROOT, else ~/.local/share/wn-system).\n"
    "\n"
    "Commands:\n"
    "  state                                   print the driver's state\n"
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
    "                                          change settings outside the service\n"
    "  streaming-error                         make the streaming engine fail (state Error)\n"
    "  fail CODE STATUS [COUNT]                make requests with CODE fail with STATUS\n"
    "                                          (COUNT times; without COUNT until cleared)\n"
    "  delay CODE MILLISECONDS [COUNT]         answer requests with CODE that much later\n"
    "  clear-fault CODE                        remove the fault of CODE\n"
    "  clear-faults                            remove every fault\n"
    "  notify CODE [HEXBYTES]                  post a notification with an optional payload\n"
    "  -h, --help                              this text\n"
    "\n"
    "DEVICE is a position in the device list (0, 1, ...) or an identifier FIRST:SECOND.\n"
    "CODE is a request code (0x80882004) or name (GET_DRIVER_INFO); STATUS a value\n"
    "(0xE0000060) or name (ORVANE_STATUS_DEVICE_REMOVED).\n"
    "\n"
    "Exit codes: 0 on success, 1 on any error.\n";

class UsageError {
 public:
  explicit UsageError(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

bool parseUnsigned(const std::string& text, uint64_t limit, uint32_t* value) {
  if (text.empty() || text[0] == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || parsed > limit) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

uint32_t number(const std::string& text, const char* what, uint64_t limit = 0xFFFFFFFF) {
  uint32_t value = 0;
  if (!parseUnsigned(text, limit, &value)) throw UsageError(std::string("bad ") + what + " '" + text + "'");
  return value;
}

SIM_DEVICE_SELECTOR device(const std::string& text) {
  SIM_DEVICE_SELECTOR selector{};
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    selector.position = number(text, "device position", ORVANE_MAX_DEVICES);
  } else {
    selector.position = SIM_SELECT_BY_ID;
    selector.deviceId.first = number(text.substr(0, colon), "device identifier");
    selector.deviceId.second = number(text.substr(colon + 1), "device identifier");
  }
  return selector;
}

uint32_t requestCode(const std::string& text) {
  uint32_t code = 0;
  if (parseUnsigned(text, 0xFFFFFFFF, &code)) return code;
  for (const OrvaneRequest& row : ORVANE_REQUESTS) {
    const std::string name = row.name;
    if (text == name || "ORVANE_IOCTL_" + text == name) return row.code;
  }
  throw UsageError("unknown request code '" + text + "'");
}

uint32_t statusValue(const std::string& text) {
  uint32_t status = 0;
  if (parseUnsigned(text, 0xFFFFFFFF, &status)) return status;
  for (uint32_t value = 0xE0000001; value <= 0xE0000100; ++value) {
    const std::string name = orvaneStatusName(value);
    if (text == name || "ORVANE_STATUS_" + text == name) return value;
  }
  throw UsageError("unknown status '" + text + "'");
}

uint32_t direction(const std::string& text) {
  if (text == "playback") return ORVANE_SOUND_DEVICE_PLAYBACK;
  if (text == "recording") return ORVANE_SOUND_DEVICE_RECORDING;
  throw UsageError("direction must be playback or recording, not '" + text + "'");
}

void expectArguments(const std::vector<std::string>& args, size_t minimum, size_t maximum) {
  if (args.size() < minimum || args.size() > maximum) throw UsageError("wrong number of arguments for " + args[0]);
}

std::string describeStatus(uint32_t status) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%08X", status);
  const std::string name = orvaneStatusName(status);
  return name == "???" ? text : std::string(text) + " " + name;
}

// One open connection to the control interface.
class ControlLink {
 public:
  ControlLink() : handle_(platform::openDevice(u"\\\\.\\" + std::u16string(kControlLinkName))) {
    openError_ = platform::lastError();
  }
  ~ControlLink() {
    if (isOpen()) platform::closeHandle(handle_);
  }
  bool isOpen() const { return handle_ != platform::kInvalidHandle; }
  uint32_t openError() const { return openError_; }

  // 0 or the failure (the driver's status or a system error).
  uint32_t request(uint32_t code, const void* input, size_t inputSize, void* output = nullptr,
                   uint32_t outputSize = 0, uint32_t* bytes = nullptr) {
    uint32_t count = 0;
    const bool ok = platform::deviceIoControl(handle_, code, input, static_cast<uint32_t>(inputSize), output,
                                              outputSize, &count, nullptr);
    if (bytes != nullptr) *bytes = count;
    return ok ? 0 : platform::lastError();
  }
  template <typename Record>
  uint32_t send(uint32_t code, const Record& record) {
    return request(code, &record, sizeof record);
  }

 private:
  platform::Handle handle_;
  uint32_t openError_ = 0;
};

int fail(const std::string& message) {
  std::fprintf(stderr, "usbaudio-sim: %s\n", message.c_str());
  return 1;
}

int report(uint32_t result, const std::string& what) {
  if (result == 0) return 0;
  return fail(what + " failed: " + describeStatus(result));
}

std::string deviceIdText(const ORVANE_DEVICE_ID& id) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%X:0x%X", id.first, id.second);
  return text;
}

int run(ControlLink& link, const std::vector<std::string>& args) {
  const std::string& command = args[0];
  if (command == "state") {
    expectArguments(args, 1, 1);
    std::string text(SIM_MAX_STATE_TEXT, '\0');
    uint32_t bytes = 0;
    const uint32_t result =
        link.request(SIM_CONTROL_GET_STATE, nullptr, 0, text.data(), static_cast<uint32_t>(text.size()), &bytes);
    if (result != 0 && result != 234) return report(result, "reading the state");
    std::fwrite(text.data(), 1, bytes, stdout);
    return 0;
  }
  if (command == "plug") {
    expectArguments(args, 2, 2);
    const uint32_t index = number(args[1], "configuration index");
    ORVANE_DEVICE_ID id{};
    const uint32_t result = link.request(SIM_CONTROL_PLUG_CONFIGURED, &index, sizeof index, &id, sizeof id);
    if (result != 0) return report(result, "plugging device " + args[1]);
    std::printf("plugged %s\n", deviceIdText(id).c_str());
    return 0;
  }
  if (command == "plug-file") {
    expectArguments(args, 2, 2);
    std::ifstream file(args[1], std::ios::binary);
    if (!file) return fail("cannot read " + args[1]);
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    ORVANE_DEVICE_ID id{};
    const uint32_t result = link.request(SIM_CONTROL_PLUG_DESCRIPTION, text.data(), text.size(), &id, sizeof id);
    if (result != 0) return report(result, "plugging the device of " + args[1] + " (is the description valid?)");
    std::printf("plugged %s\n", deviceIdText(id).c_str());
    return 0;
  }
  if (command == "unplug") {
    expectArguments(args, 2, 2);
    return report(link.send(SIM_CONTROL_UNPLUG, device(args[1])), "unplugging " + args[1]);
  }
  if (command == "spdif") {
    expectArguments(args, 3, 5);
    SIM_SPDIF_INPUT input{device(args[1]), 0, ORVANE_SPDIF_FORMAT_UNKNOWN, 0, 0};
    const std::string& state = args[2];
    if (state == "not-streaming") {
      input.inputState = ORVANE_SPDIF_INPUT_NOT_STREAMING;
    } else if (state == "no-signal") {
      input.inputState = ORVANE_SPDIF_INPUT_NO_SIGNAL;
    } else if (state == "synchronizing") {
      input.inputState = ORVANE_SPDIF_INPUT_SYNCHRONIZING;
    } else if (state == "locked") {
      input.inputState = ORVANE_SPDIF_INPUT_LOCKED;
    } else {
      throw UsageError("unknown S/PDIF state '" + state + "'");
    }
    if (args.size() > 3) {
      if (args[3] == "pcm") {
        input.signalFormat = ORVANE_SPDIF_FORMAT_PCM;
      } else if (args[3] == "non-pcm") {
        input.signalFormat = ORVANE_SPDIF_FORMAT_NON_PCM;
      } else {
        throw UsageError("format must be pcm or non-pcm, not '" + args[3] + "'");
      }
    }
    if (args.size() > 4) input.sampleRate = number(args[4], "rate");
    return report(link.send(SIM_CONTROL_SET_SPDIF_INPUT, input), "changing the S/PDIF input");
  }
  if (command == "sound-device") {
    expectArguments(args, 5, 5);
    if (args[2] != "open" && args[2] != "close") throw UsageError("expected open or close, not '" + args[2] + "'");
    const SIM_SOUND_DEVICE_SWITCH input{device(args[1]), direction(args[3]), number(args[4], "sound device index"),
                                        args[2] == "open" ? 1u : 0u, 0};
    return report(link.send(SIM_CONTROL_SOUND_DEVICE, input), args[2] + " of the sound device");
  }
  if (command == "volume") {
    expectArguments(args, 6, 7);
    SIM_VOLUME input{device(args[1]), direction(args[2]), number(args[3], "sound device index"),
                     number(args[4], "channel", ORVANE_SOUND_DEVICE_MAX_CHANNELS - 1), 0, 0, 0};
    if (args[5] == "silence") {
      input.volume = ORVANE_VOLUME_SILENCE;
    } else {
      char* end = nullptr;
      const double decibels = std::strtod(args[5].c_str(), &end);
      if (end == args[5].c_str() || *end != '\0' || decibels < -32000 || decibels > 32000) {
        throw UsageError("bad volume '" + args[5] + "'");
      }
      input.volume = static_cast<int32_t>(std::lround(decibels * 65536));
    }
    if (args.size() == 7) {
      if (args[6] != "mute") throw UsageError("expected mute, not '" + args[6] + "'");
      input.mute = ORVANE_VOLUME_MUTE;
    }
    return report(link.send(SIM_CONTROL_SET_VOLUME, input), "changing the volume");
  }
  if (command == "settings") {
    SIM_SETTINGS input{SIM_KEEP, SIM_KEEP, SIM_KEEP, 0};
    if (args.size() == 1 || args.size() % 2 == 0) throw UsageError("settings needs --rate, --streaming or --asio");
    for (size_t i = 1; i + 1 < args.size(); i += 2) {
      if (args[i] == "--rate") {
        input.sampleRate = number(args[i + 1], "rate");
      } else if (args[i] == "--streaming") {
        input.streamingBufferSizeClass = number(args[i + 1], "streaming buffer class");
      } else if (args[i] == "--asio") {
        input.asioBufferSizeClass = number(args[i + 1], "ASIO buffer class");
      } else {
        throw UsageError("unknown option " + args[i]);
      }
    }
    return report(link.send(SIM_CONTROL_CHANGE_SETTINGS, input), "changing the settings");
  }
  if (command == "streaming-error") {
    expectArguments(args, 1, 1);
    return report(link.request(SIM_CONTROL_STREAMING_ERROR, nullptr, 0), "the streaming error");
  }
  if (command == "fail" || command == "delay") {
    expectArguments(args, 3, 4);
    SIM_FAULT fault{requestCode(args[1]), 0, 0, args.size() == 4 ? number(args[3], "count") : 0};
    if (command == "fail") {
      fault.status = statusValue(args[2]);
      if (fault.status == 0) throw UsageError("a failure needs a non-zero status");
    } else {
      fault.delayMilliseconds = number(args[2], "delay");
    }
    return report(link.send(SIM_CONTROL_SET_FAULT, fault), "setting the fault");
  }
  if (command == "clear-fault") {
    expectArguments(args, 2, 2);
    return report(link.send(SIM_CONTROL_SET_FAULT, SIM_FAULT{requestCode(args[1]), 0, 0, 0}), "clearing the fault");
  }
  if (command == "clear-faults") {
    expectArguments(args, 1, 1);
    return report(link.request(SIM_CONTROL_CLEAR_FAULTS, nullptr, 0), "clearing the faults");
  }
  if (command == "notify") {
    expectArguments(args, 2, 3);
    std::vector<uint8_t> input(4);
    const uint32_t code = number(args[1], "notification code");
    std::memcpy(input.data(), &code, 4);
    if (args.size() == 3) {
      const std::string& hex = args[2];
      if (hex.size() % 2 != 0 || hex.size() / 2 > ORVANE_MESSAGE_MAX_PAYLOAD) throw UsageError("bad payload");
      for (size_t i = 0; i < hex.size(); i += 2) input.push_back(static_cast<uint8_t>(number("0x" + hex.substr(i, 2), "payload byte")));
    }
    return report(link.request(SIM_CONTROL_NOTIFY, input.data(), input.size()), "posting the notification");
  }
  throw UsageError("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  if (args[0] == "-h" || args[0] == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  ControlLink link;
  if (!link.isOpen()) {
    if (link.openError() == 2) {
      return fail("the simulated driver is not running on this system root (start it with devhost)");
    }
    return fail("cannot open the control interface: error " + std::to_string(link.openError()));
  }
  try {
    return run(link, args);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "usbaudio-sim: %s (see usbaudio-sim -h)\n", error.message().c_str());
    return 1;
  }
}
