// asio-host: a test host for ASIO drivers, as audio applications use them.
// Lists the registered drivers, shows what a driver offers, and streams
// through it: a test tone to the outputs, the loop-back inputs checked
// bit-exact, the buffer switch intervals and missed switches reported.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/format.h"
#include "tools/asio-host/host_session.h"
#include "tools/common/json_writer.h"
#include "tools/common/tool.h"

namespace {


constexpr const char* kUsage = R"(Usage: asio-host [OPTIONS] [list|info|stream]

A test host for ASIO drivers: finds the drivers registered under
HKEY_LOCAL_MACHINE\SOFTWARE\ASIO, creates one by its class identifier and
uses it as an audio application does.

Commands:
  list      the registered drivers
  info      initialise the driver and show its channels, sample rates,
            buffer sizes and latencies (the default)
  stream    stream for --seconds: a test tone (a different note on each
            output, its frame number in the low bits) goes to the outputs,
            and the inputs are checked for an output's tone, bit-exact;
            then the buffer switch intervals (p50, p99, worst), the missed
            switches from the kernel driver's statistics and the tone check

Options:
  --driver NAME       the driver's name under SOFTWARE\ASIO (default: the first)
  --seconds N         how long to stream (default 5)
  --inputs LIST       input channels: all, none, or numbers and ranges (0,2,4-7)
  --outputs LIST      output channels, the same way (default for both: all)
  --buffer-size N     samples per buffer (default: the driver's preferred size)
  --rate HZ           set this sample rate before streaming
  --max-missed N      missed switches that still count as success (default 0)
  --json              machine-readable output on standard output
  -h, --help          this text
  --version           the program's version

The driver answers a reset request or a buffer size change as a host should:
the stream is stopped, the buffers are created again with the driver's new
settings and the stream goes on. The system is the one under $WN_SYSTEM_ROOT.
Exit codes: 0 success, 1 a failure (the reason is printed), 2 a usage error.
)";

constexpr tool::OptionSpec kOptions[] = {{"--driver", true},      {"--seconds", true}, {"--inputs", true},
                                         {"--outputs", true},     {"--buffer-size", true}, {"--rate", true},
                                         {"--max-missed", true},  {"--json", false}};

struct Options {
  std::string command = "info";
  std::string driver;
  StreamOptions stream;
  uint64_t maxMissed = 0;
  bool json = false;
};

// "all", "none", or a comma list of numbers and ranges "a-b".
bool parseChannels(std::string_view text, bool* all, std::vector<int32_t>* numbers) {
  numbers->clear();
  *all = text == "all";
  if (*all || text == "none") return true;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const size_t dash = item.find('-');
    const auto first = tool::parseDecimal(item.substr(0, dash), 0, 4095);
    const auto last = dash == std::string_view::npos ? first : tool::parseDecimal(item.substr(dash + 1), 0, 4095);
    if (!first || !last || *last < *first) return false;
    for (auto n = static_cast<int32_t>(*first); n <= static_cast<int32_t>(*last); ++n) numbers->push_back(n);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
    if (text.empty()) return false;
  }
  return true;
}

// The whole command line, checked before anything is opened.
Options parseOptions(const tool::CommandLine& line) {
  Options options;
  const std::vector<std::string>& words = line.words();
  if (!words.empty()) {
    if (words[0] != "list" && words[0] != "info" && words[0] != "stream") {
      throw tool::UsageError{"unknown command '" + words[0] + "'"};
    }
    options.command = words[0];
    tool::expectArguments(words, 0, 0);
  }
  options.json = line.has("--json");
  if (auto driver = line.value("--driver")) options.driver = *driver;
  if (auto seconds = line.value("--seconds")) {
    options.stream.seconds = tool::fractionArgument(*seconds, "--seconds", 0.001, 86400);
  }
  for (const char* name : {"--inputs", "--outputs"}) {
    const auto list = line.value(name);
    if (!list) continue;
    const bool inputs = std::string_view(name) == "--inputs";
    if (!parseChannels(*list, inputs ? &options.stream.allInputs : &options.stream.allOutputs,
                       inputs ? &options.stream.inputs : &options.stream.outputs)) {
      throw tool::UsageError{std::string(name) + " must be all, none, or channel numbers and ranges such as 0,2,4-7, not '" +
                             *list + "'"};
    }
  }
  if (auto size = line.value("--buffer-size")) {
    options.stream.bufferSize = static_cast<int32_t>(tool::decimalArgument(*size, "--buffer-size", 1, 1 << 20));
  }
  if (auto rate = line.value("--rate")) options.stream.rate = tool::decimalArgument(*rate, "--rate", 1);
  if (auto missed = line.value("--max-missed")) options.maxMissed = tool::decimalArgument(*missed, "--max-missed");
  return options;
}

const char* typeName(ASIOSampleType type) {
  switch (type) {
    case ASIOSTInt16LSB: return "Int16LSB";
    case ASIOSTInt24LSB: return "Int24LSB";
    case ASIOSTInt32LSB: return "Int32LSB";
    case ASIOSTFloat32LSB: return "Float32LSB";
    case ASIOSTFloat64LSB: return "Float64LSB";
    case ASIOSTInt16MSB: return "Int16MSB";
    case ASIOSTInt24MSB: return "Int24MSB";
    case ASIOSTInt32MSB: return "Int32MSB";
    case ASIOSTFloat32MSB: return "Float32MSB";
    case ASIOSTFloat64MSB: return "Float64MSB";
    case ASIOSTDSDInt8LSB1: return "DSDInt8LSB1";
    case ASIOSTDSDInt8MSB1: return "DSDInt8MSB1";
    case ASIOSTDSDInt8NER8: return "DSDInt8NER8";
    default: return "unknown";
  }
}

std::string microseconds(int64_t nanoseconds) {
  return platform::formatText("%.1f us", static_cast<double>(nanoseconds) / 1000.0);
}

[[noreturn]] void fail(const Options& options, const std::string& message) {
  if (options.json) {
    tool::JsonWriter json;
    json.beginObject();
    json.member("ok", false);
    json.member("error", message);
    json.endObject();
    std::printf("%s\n", json.text().c_str());
  }
  throw tool::Failure{message};
}

int list(const Options& options) {
  std::vector<RegisteredDriver> drivers;
  const uint32_t status = listRegisteredDrivers(drivers);
  if (status != 0 && status != 2) fail(options, "the registry cannot be read: " + tool::statusText(status));
  if (options.json) {
    tool::JsonWriter json;
    json.beginObject();
    json.member("ok", true);
    json.key("drivers");
    json.beginArray();
    for (const RegisteredDriver& driver : drivers) {
      json.beginObject();
      json.member("name", driver.name);
      json.member("clsid", driver.clsid);
      json.member("description", driver.description);
      json.endObject();
    }
    json.endArray();
    json.endObject();
    std::printf("%s\n", json.text().c_str());
  } else if (drivers.empty()) {
    std::printf("No ASIO driver is registered.\n");
  } else {
    for (const RegisteredDriver& driver : drivers) {
      std::printf("%s  %s  %s\n", driver.name.c_str(), driver.clsid.c_str(), driver.description.c_str());
    }
  }
  return 0;
}

void printDescription(const DriverDescription& d) {
  std::printf("Driver: %s, version %d\n", d.name.c_str(), d.version);
  std::printf("Channels: %zu inputs, %zu outputs\n", d.inputs.size(), d.outputs.size());
  for (const auto* list : {&d.inputs, &d.outputs}) {
    for (const ChannelDescription& c : *list) {
      std::printf("  %-3s %3d  %-32s %s\n", c.input ? "in" : "out", c.number, c.name.c_str(), typeName(c.type));
    }
  }
  std::printf("Sample rate: %.0f Hz; supported:", d.sampleRate);
  for (uint32_t rate : d.supportedRates) std::printf(" %u", rate);
  std::printf("\nBuffer size: minimum %d, maximum %d, preferred %d, granularity %d samples\n", d.minimumSize,
              d.maximumSize, d.preferredSize, d.granularity);
  std::printf("Latencies: input %d, output %d samples\n", d.inputLatency, d.outputLatency);
}

void writeDescription(tool::JsonWriter& json, const DriverDescription& d) {
  json.member("driver", d.name);
  json.member("version", static_cast<uint64_t>(d.version));
  for (const auto* list : {&d.inputs, &d.outputs}) {
    json.key(list == &d.inputs ? "inputs" : "outputs");
    json.beginArray();
    for (const ChannelDescription& c : *list) {
      json.beginObject();
      json.member("number", static_cast<uint64_t>(c.number));
      json.member("name", c.name);
      json.member("type", typeName(c.type));
      json.endObject();
    }
    json.endArray();
  }
  json.member("sampleRate", static_cast<uint64_t>(d.sampleRate));
  json.key("supportedRates");
  json.beginArray();
  for (uint32_t rate : d.supportedRates) json.value(rate);
  json.endArray();
  json.member("minimumBufferSize", static_cast<uint64_t>(d.minimumSize));
  json.member("maximumBufferSize", static_cast<uint64_t>(d.maximumSize));
  json.member("preferredBufferSize", static_cast<uint64_t>(d.preferredSize));
  json.member("granularity", static_cast<uint64_t>(d.granularity));
  json.member("inputLatency", static_cast<uint64_t>(d.inputLatency));
  json.member("outputLatency", static_cast<uint64_t>(d.outputLatency));
}

// Every failure of a stream, joined; empty when it succeeded.
std::string streamFailures(const StreamReport& report, uint64_t maxMissed) {
  std::string failures = report.failure;
  const auto add = [&](const std::string& text) { failures += (failures.empty() ? "" : "; ") + text; };
  if (report.failure.empty() && report.switches == 0) add("no buffer switch");
  if (report.missedSwitches > maxMissed) add(std::to_string(report.missedSwitches) + " missed buffer switches");
  if (report.inputs > 0 && report.outputs > 0 && !report.toneIntact) add("the tone did not come back intact");
  return failures;
}

void printStream(const StreamReport& r) {
  std::printf("Streamed at %.0f Hz, %d samples per buffer, %zu inputs, %zu outputs; latencies input %d, output %d\n",
              r.sampleRate, r.bufferSize, r.inputs, r.outputs, r.inputLatency, r.outputLatency);
  for (const StreamEvent& event : r.events) std::printf("  at %.3f s: %s\n", event.atSeconds, event.text.c_str());
  std::printf("Buffer switches: %llu; interval p50 %s, p99 %s, worst %s\n",
              static_cast<unsigned long long>(r.switches), microseconds(r.intervalP50).c_str(),
              microseconds(r.intervalP99).c_str(), microseconds(r.intervalWorst).c_str());
  if (r.kernelStatisticsRead) {
    std::printf("Missed switches (kernel driver statistics): %llu of %llu\n",
                static_cast<unsigned long long>(r.missedSwitches), static_cast<unsigned long long>(r.kernelSwitches));
  } else {
    std::printf("Missed switches: the kernel driver's statistics could not be read\n");
  }
  size_t locked = 0;
  for (size_t k = 0; k < r.loopback.size(); ++k) {
    const LoopbackCheck::InputResult& in = r.loopback[k];
    if (in.checkedSamples == 0) continue;
    ++locked;
    std::printf("  in %3d <- out %3u, %lld frames later, %llu samples, %llu wrong in %llu buffers\n",
                r.inputNumbers[k], in.output, static_cast<long long>(in.delayFrames),
                static_cast<unsigned long long>(in.checkedSamples), static_cast<unsigned long long>(in.wrongSamples),
                static_cast<unsigned long long>(in.wrongBuffers));
  }
  std::printf("Tone: %s, %zu of %zu inputs returned an output's tone%s\n", r.toneIntact ? "intact" : "NOT intact",
              locked, r.inputs, r.missedSwitches > 0 ? " (outside the buffers of missed switches)" : "");
}

void writeStream(tool::JsonWriter& json, const StreamReport& r) {
  json.member("sampleRate", static_cast<uint64_t>(r.sampleRate));
  json.member("bufferSize", static_cast<uint64_t>(r.bufferSize));
  json.member("switches", r.switches);
  json.member("intervalP50Ns", static_cast<uint64_t>(r.intervalP50));
  json.member("intervalP99Ns", static_cast<uint64_t>(r.intervalP99));
  json.member("intervalWorstNs", static_cast<uint64_t>(r.intervalWorst));
  json.member("kernelStatistics", r.kernelStatisticsRead);
  json.member("kernelSwitches", r.kernelSwitches);
  json.member("missedSwitches", r.missedSwitches);
  json.member("toneIntact", r.toneIntact);
  json.key("events");
  json.beginArray();
  for (const StreamEvent& event : r.events) {
    json.beginObject();
    json.member("atMs", static_cast<uint64_t>(event.atSeconds * 1000));
    json.member("text", event.text);
    json.endObject();
  }
  json.endArray();
  json.key("loopback");
  json.beginArray();
  for (size_t k = 0; k < r.loopback.size(); ++k) {
    const LoopbackCheck::InputResult& in = r.loopback[k];
    json.beginObject();
    json.member("input", static_cast<uint64_t>(r.inputNumbers[k]));
    json.member("returned", in.checkedSamples > 0);
    if (in.checkedSamples > 0) {
      json.member("output", in.output);
      json.member("delayFrames", static_cast<uint64_t>(in.delayFrames));
    }
    json.member("checkedSamples", in.checkedSamples);
    json.member("wrongSamples", in.wrongSamples);
    json.member("wrongBuffers", in.wrongBuffers);
    json.endObject();
  }
  json.endArray();
}

int run(const tool::CommandLine& line) {
  const Options options = parseOptions(line);
  tool::checkSystemRoot();
  if (options.command == "list") return list(options);
  std::vector<RegisteredDriver> drivers;
  listRegisteredDrivers(drivers);
  const RegisteredDriver* chosen = nullptr;
  for (const RegisteredDriver& driver : drivers) {
    if (options.driver.empty() || driver.name == options.driver) {
      chosen = &driver;
      break;
    }
  }
  if (chosen == nullptr) {
    fail(options, options.driver.empty() ? "no ASIO driver is registered"
                                         : "no ASIO driver named \"" + options.driver + "\" is registered");
  }
  HostSession session;
  std::string error;
  if (!session.load(*chosen, &error) || !session.init(&error)) fail(options, error);
  const DriverDescription description = session.describe();
  if (options.command == "info") {
    if (options.json) {
      tool::JsonWriter json;
      json.beginObject();
      json.member("ok", true);
      writeDescription(json, description);
      json.endObject();
      std::printf("%s\n", json.text().c_str());
    } else {
      printDescription(description);
    }
    return 0;
  }
  const StreamReport report = session.stream(options.stream);
  const std::string failures = streamFailures(report, options.maxMissed);
  if (options.json) {
    tool::JsonWriter json;
    json.beginObject();
    json.member("ok", failures.empty());
    if (!failures.empty()) json.member("error", failures);
    writeDescription(json, description);
    json.key("stream");
    json.beginObject();
    writeStream(json, report);
    json.endObject();
    json.endObject();
    std::printf("%s\n", json.text().c_str());
  } else {
    std::printf("Driver: %s\n", description.name.c_str());
    printStream(report);
  }
  if (!failures.empty()) throw tool::Failure{failures};
  return tool::kExitSuccess;
}

void onInterrupt(int) { interruptStream(); }

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  return tool::run({"asio-host", kUsage, kOptions}, argc, argv, run);
}
