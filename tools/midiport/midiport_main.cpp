// midiport: the Ethernet MIDI ports of the running Mirelo driver from the
// command line: list them, send and receive MIDI bytes, and mute, unmute and
// switch loop-back through the driver's control filter.

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ethernet-midi-driver/mirelo_device.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/format.h"
#include "platform/kernel_streaming_client.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/waits.h"
#include "tools/common/tool.h"
#include "tools/midiport/mirelo_ports.h"

namespace {

using platform::formatText;
using platform::KsMidiPin;

constexpr const char* kUsage = R"(Usage: midiport [OPTIONS] COMMAND [ARGUMENTS]

The Ethernet MIDI ports of the Mirelo driver.

Commands:
  list                    the ports and the control filter, with mute and problem state
  send PORT BYTE...       sends MIDI bytes on a port; BYTEs are hexadecimal (90 3C 7F, or 903C7F)
  receive PORT            prints what arrives on a port, with the time in seconds since the start
  mute [PORT...|all]      mutes the ports named (all ports with "all")
  unmute [PORT...|all]    unmutes the ports named; a port starts without problem again
  loopback [on|off]       shows or switches whether this computer's own datagrams reach its ports
  status                  mute mask, status word, network problems and loop-back

Options:
  --count N       receive: end after N records
  --timeout MS    receive: end after MS milliseconds without data;
                  status --watch: end after MS milliseconds
  --watch         status: print the status again on every control change
  -h, --help      this text
  --version       the program's version

PORT is a port number, 1 to the number of ports the driver installed. The
system is the one under $WN_SYSTEM_ROOT. Exit codes: 0 success, 1 a failed
operation (with its reason), 2 a usage error.
)";

constexpr tool::OptionSpec kOptions[] = {{"--count", true}, {"--timeout", true}, {"--watch", false}};
constexpr uint32_t kNoLimit = 0xFFFFFFFF;
using tool::Failure;
using tool::UsageError;

struct Options {
  std::string command;
  std::vector<std::string> arguments;
  uint32_t count = kNoLimit;
  uint32_t timeoutMs = kNoLimit;
  bool watch = false;
};

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

// Hexadecimal bytes: "90", "0x90", or a run of pairs "903C7F".
bool parseBytes(const std::vector<std::string>& words, size_t first, std::vector<uint8_t>* bytes) {
  for (size_t i = first; i < words.size(); ++i) {
    std::string_view word = words[i];
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.remove_prefix(2);
    if (word.empty() || word.size() % 2 != 0) return false;
    for (size_t at = 0; at < word.size(); at += 2) {
      unsigned value = 0;
      for (size_t k = at; k < at + 2; ++k) {
        const char c = word[k];
        const int digit = c >= '0' && c <= '9' ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
      }
      bytes->push_back(static_cast<uint8_t>(value));
    }
  }
  return !bytes->empty();
}

// A failed operation, with the status in the tools' words.
[[noreturn]] void fail(const std::string& what, uint32_t error) {
  throw Failure{what + ": " + tool::statusText(error)};
}

// Without any device host the tools' common hint; with one, the driver is
// what is missing.
std::string noDriverHint() {
  if (!tool::deviceHostRunning()) {
    return tool::openFailureText("opening the control filter", u"topology", platform::ERROR_FILE_NOT_FOUND);
  }
  return "no Ethernet MIDI driver is running on " + platform::systemRoot().string() +
         "; register it (sc create Mirelo type= kernel binPath= .../mirelo.so) and restart the machine, or run "
         "`devhost --daemon --service Mirelo mirelo.so`";
}

Options parseOptions(const tool::CommandLine& line) {
  Options options;
  if (line.words().empty()) throw UsageError{"a command is needed"};
  options.command = line.words().front();
  options.arguments.assign(line.words().begin() + 1, line.words().end());
  if (auto count = line.value("--count")) options.count = tool::decimalArgument(*count, "--count", 1);
  if (auto timeout = line.value("--timeout")) options.timeoutMs = tool::decimalArgument(*timeout, "--timeout", 0, kNoLimit - 1);
  options.watch = line.has("--watch");
  return options;
}

uint32_t parsePort(const std::string& word) { return tool::decimalArgument(word, "PORT", 1, 20); }

// The ports a mute or unmute names, as a mask ("all": every port).
uint32_t parsePortMask(const std::vector<std::string>& words) {
  if (words.empty()) throw UsageError{"name the ports, or all"};
  if (words.size() == 1 && words[0] == "all") return mirelo::kPortBits;
  uint32_t mask = 0;
  for (const std::string& word : words) mask |= 1u << (parsePort(word) - 1);
  return mask;
}

// Checks the arguments of a command before anything is opened.
void checkArguments(const Options& options) {
  const std::string& command = options.command;
  const size_t count = options.arguments.size();
  if (command == "list" || command == "status") {
    if (count != 0) throw UsageError{command + " takes no arguments"};
  } else if (command == "send") {
    std::vector<uint8_t> bytes;
    if (count < 2) throw UsageError{"send needs a port and at least one byte"};
    parsePort(options.arguments[0]);
    if (!parseBytes(options.arguments, 1, &bytes)) throw UsageError{"BYTEs are hexadecimal pairs, such as 90 3C 7F"};
  } else if (command == "receive") {
    if (count != 1) throw UsageError{"receive needs one port"};
    parsePort(options.arguments[0]);
  } else if (command == "mute" || command == "unmute") {
    parsePortMask(options.arguments);
  } else if (command == "loopback") {
    if (count > 1 || (count == 1 && options.arguments[0] != "on" && options.arguments[0] != "off")) {
      throw UsageError{"loopback takes on or off"};
    }
  } else {
    throw UsageError{"unknown command " + command};
  }
  if (options.watch && command != "status") throw UsageError{"--watch goes with status"};
  if (options.count != kNoLimit && command != "receive") throw UsageError{"--count goes with receive"};
  if (options.timeoutMs != kNoLimit && command != "receive" && !(command == "status" && options.watch)) {
    throw UsageError{"--timeout goes with receive and status --watch"};
  }
}

std::string portList(uint32_t mask, uint32_t installed) {
  std::string text;
  for (uint32_t i = 0; i < installed && i < 20; ++i) {
    if ((mask & (1u << i)) != 0) text += (text.empty() ? "" : " ") + std::to_string(i + 1);
  }
  return text.empty() ? "none" : text;
}

class Session {
 public:
  int run(const Options& options) {
    ports_ = mirelo_tools::findMireloPorts();
    if (ports_.controlFilter.empty()) throw Failure{noDriverHint()};
    if (const uint32_t error = control_.open(ports_.controlFilter)) fail("cannot open the control filter", error);
    const std::string& command = options.command;
    if (command == "list") return list();
    if (command == "status") return options.watch ? watch(options.timeoutMs) : status();
    if (command == "send") return send(options);
    if (command == "receive") return receive(options);
    if (command == "mute" || command == "unmute") return mute(command == "mute", parsePortMask(options.arguments));
    return loopback(options.arguments);
  }

 private:
  uint32_t installed() const { return static_cast<uint32_t>(ports_.ports.size()); }

  void readState(uint32_t* mask, uint32_t* status) {
    uint32_t error = control_.getMuteMask(mask);
    if (error == 0) error = control_.getStatusWord(status);
    if (error != 0) fail("cannot read the control filter", error);
  }

  int list() {
    uint32_t mask = 0;
    uint32_t status = 0;
    readState(&mask, &status);
    std::printf("Control filter  %s\n", platform::toUtf8(ports_.controlFilter).c_str());
    for (const auto& [number, path] : ports_.ports) {
      const uint32_t bit = 1u << (number - 1);
      std::string state = (mask & bit) != 0 ? "muted" : "open";
      if ((status & bit) != 0) state += ", network problem";
      std::printf("Port %-2u  Midi%02u  %-26s %s\n", number, number, state.c_str(), platform::toUtf8(path).c_str());
    }
    std::printf("Loop-back %s\n", (status & mirelo::kLoopbackBit) != 0 ? "on" : "off");
    return 0;
  }

  int status() {
    uint32_t mask = 0;
    uint32_t status = 0;
    readState(&mask, &status);
    std::printf("Ports installed:  %u\n", installed());
    std::printf("Mute mask:        0x%05X (muted: %s)\n", mask & mirelo::kPortBits,
                portList(mask, installed()).c_str());
    std::printf("Status word:      0x%08X\n", status);
    std::printf("Network problems: %s\n", portList(status, installed()).c_str());
    std::printf("Loop-back:        %s\n", (status & mirelo::kLoopbackBit) != 0 ? "on" : "off");
    std::fflush(stdout);
    return 0;
  }

  int watch(uint32_t timeoutMs) {
    platform::Handle event = platform::createEvent(false, false);
    if (const uint32_t error = control_.enableControlChange(event)) {
      platform::closeHandle(event);
      fail("cannot subscribe to control changes", error);
    }
    int result = status();
    const uint64_t start = platform::tickCount();
    while (result == 0 && interrupted == 0) {
      const uint64_t elapsed = platform::tickCount() - start;
      if (timeoutMs != kNoLimit && elapsed >= timeoutMs) break;
      const uint32_t slice = timeoutMs == kNoLimit ? 200 : static_cast<uint32_t>(std::min<uint64_t>(200, timeoutMs - elapsed));
      if (platform::waitForSingle(event, slice) != platform::WAIT_OBJECT_0) continue;
      std::printf("-- control change\n");
      result = status();
    }
    platform::closeHandle(event);
    return result;
  }

  const std::u16string& portPath(uint32_t number) {
    auto it = ports_.ports.find(number);
    if (it == ports_.ports.end()) throw Failure{formatText("there is no port %u; the driver installed %u", number, installed())};
    return it->second;
  }

  // Says so when the port is muted, as nothing then goes out or comes in.
  void warnIfMuted(uint32_t number, const char* consequence) {
    uint32_t mask = 0;
    if (control_.getMuteMask(&mask) == 0 && (mask & (1u << (number - 1))) != 0) {
      std::fprintf(stderr, "midiport: port %u is muted: %s (midiport unmute %u)\n", number, consequence, number);
    }
  }

  int send(const Options& options) {
    const uint32_t number = parsePort(options.arguments[0]);
    std::vector<uint8_t> bytes;
    parseBytes(options.arguments, 1, &bytes);
    const std::u16string& path = portPath(number);
    warnIfMuted(number, "the bytes are discarded");
    uint32_t error = 0;
    auto pin = KsMidiPin::create(path, mirelo::kRenderPin, &error);
    if (!pin) fail(formatText("cannot open port %u for sending", number), error);
    if ((error = pin->setState(platform::KSSTATE_RUN)) != 0) fail("cannot start the port", error);
    if ((error = pin->writeBytes(bytes.data(), bytes.size())) != 0) fail("cannot send", error);
    return 0;
  }

  int receive(const Options& options) {
    const uint32_t number = parsePort(options.arguments[0]);
    const std::u16string& path = portPath(number);
    warnIfMuted(number, "nothing arrives");
    uint32_t error = 0;
    auto pin = KsMidiPin::create(path, mirelo::kCapturePin, &error);
    if (!pin) fail(formatText("cannot open port %u for receiving", number), error);
    if ((error = pin->setState(platform::KSSTATE_RUN)) != 0) fail("cannot start the port", error);
    std::fprintf(stderr, "midiport: receiving on port %u\n", number);
    const int64_t start = platform::monotonicTime100ns();
    uint32_t received = 0;
    uint64_t idleSince = platform::tickCount();
    while (received < options.count && interrupted == 0) {
      std::vector<platform::MidiRecord> records;
      error = pin->read(&records, 200);
      if (error == platform::ERROR_TIMEOUT) {
        if (options.timeoutMs != kNoLimit && platform::tickCount() - idleSince >= options.timeoutMs) break;
        continue;
      }
      if (error != 0) fail("cannot receive", error);
      idleSince = platform::tickCount();
      for (const platform::MidiRecord& record : records) {
        std::string line = formatText("%12.6f ", static_cast<double>(record.time - start) / 1e7);
        for (uint8_t byte : record.bytes) line += formatText(" %02X", byte);
        if (record.lostBytes != 0) line += formatText("  (%u bytes lost before)", record.lostBytes);
        std::printf("%s\n", line.c_str());
        if (++received >= options.count) break;
      }
      std::fflush(stdout);
    }
    return 0;
  }

  int mute(bool muting, uint32_t ports) {
    uint32_t mask = 0;
    if (const uint32_t error = control_.getMuteMask(&mask)) fail("cannot read the mute mask", error);
    for (uint32_t bit = 0; bit < 20; ++bit) {
      if ((ports & (1u << bit)) != 0 && bit >= installed() && ports != mirelo::kPortBits) {
        throw Failure{formatText("there is no port %u; the driver installed %u", bit + 1, installed())};
      }
    }
    mask = muting ? (mask | ports) : (mask & ~ports);
    if (const uint32_t error = control_.setMuteMask(mask)) fail("cannot set the mute mask", error);
    return status();
  }

  int loopback(const std::vector<std::string>& arguments) {
    if (!arguments.empty()) {
      if (const uint32_t error = control_.setLoopback(arguments[0] == "on")) fail("cannot set loop-back", error);
    }
    uint32_t status = 0;
    if (const uint32_t error = control_.getStatusWord(&status)) fail("cannot read the status word", error);
    std::printf("Loop-back %s\n", (status & mirelo::kLoopbackBit) != 0 ? "on" : "off");
    return 0;
  }

  mirelo_tools::MireloPorts ports_;
  mirelo_tools::ControlFilter control_;
};

}  // namespace

int main(int argc, char** argv) {
  return tool::run({"midiport", kUsage, kOptions}, argc, argv, [](const tool::CommandLine& line) {
    const Options options = parseOptions(line);
    checkArguments(options);
    tool::checkSystemRoot();
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return Session().run(options);
  });
}
