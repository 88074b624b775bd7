#include "tools/asio-host/host_session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>

#include "device-access/orvane_api_context.h"
#include "platform/com/in_process_server.h"
#include "platform/format.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr char16_t kAsioKey[] = u"SOFTWARE\\ASIO";
// The device link that carries the kernel driver's statistics without registering.
constexpr char16_t kStatisticsLink[] = u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}";
constexpr uint32_t kCommonRates[] = {8000,   11025,  16000,  22050,  32000,   44100,   48000,
                                     88200,  96000,  176400, 192000, 352800,  384000,  2822400, 5644800};
// Without a buffer switch for this long (or 20 buffers) the stream counts as stopped.
constexpr auto kSwitchTimeout = std::chrono::seconds(2);

int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

std::string asioError(ASIOError error) {
  switch (error) {
    case ASE_OK: return "ASE_OK";
    case ASE_SUCCESS: return "ASE_SUCCESS";
    case ASE_NotPresent: return "ASE_NotPresent";
    case ASE_HWMalfunction: return "ASE_HWMalfunction";
    case ASE_InvalidParameter: return "ASE_InvalidParameter";
    case ASE_InvalidMode: return "ASE_InvalidMode";
    case ASE_SPNotAdvancing: return "ASE_SPNotAdvancing";
    case ASE_NoClock: return "ASE_NoClock";
    case ASE_NoMemory: return "ASE_NoMemory";
    default: return std::to_string(error);
  }
}

// What the buffer switch callbacks share with the host's main thread.
struct StreamState {
  struct Channel {
    int32_t number;
    bool pcm;  // Int32LSB: the test signal goes out and is checked coming in
    void* buffers[2];
  };
  std::vector<Channel> inputs;
  std::vector<Channel> outputs;
  int32_t bufferSize = 0;
  double rate = 48000;
  uint64_t frame = 0;  // host frames since the stream started
  std::optional<LoopbackCheck> check;
  std::vector<int64_t> intervals;  // reserved up front; the callback never grows it
  int64_t lastSwitch = 0;
  std::atomic<uint64_t> switches{0};
  std::atomic<int64_t> lastSwitchSeen{0};
  std::atomic<bool> resetRequested{false};
  std::atomic<bool> bufferSizeChanged{false};
  std::atomic<bool> latenciesChanged{false};
  std::atomic<int> resyncRequests{0};
  std::atomic<double> newRate{0};
};

std::atomic<StreamState*> g_stream{nullptr};
std::atomic<bool> g_interrupted{false};

void onBufferSwitch(int32_t index, ASIOBool /*directProcess*/) {
  StreamState* state = g_stream.load(std::memory_order_acquire);
  if (state == nullptr || index < 0 || index > 1) return;
  const int64_t now = monotonicNanoseconds();
  if (state->lastSwitch != 0 && state->intervals.size() < state->intervals.capacity()) {
    state->intervals.push_back(now - state->lastSwitch);
  }
  state->lastSwitch = now;
  const auto size = static_cast<uint32_t>(state->bufferSize);
  for (const StreamState::Channel& output : state->outputs) {
    auto* samples = static_cast<int32_t*>(output.buffers[index]);
    if (!output.pcm) continue;
    for (uint32_t i = 0; i < size; ++i) {
      samples[i] = loopbackSample(static_cast<uint32_t>(output.number), state->frame + i, state->rate);
    }
  }
  for (size_t k = 0; k < state->inputs.size(); ++k) {
    const StreamState::Channel& input = state->inputs[k];
    if (input.pcm) state->check->check(k, static_cast<const int32_t*>(input.buffers[index]), size, state->frame);
  }
  state->frame += size;
  state->switches.fetch_add(1, std::memory_order_relaxed);
  state->lastSwitchSeen.store(now, std::memory_order_release);
}

ASIOTime* onBufferSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool directProcess) {
  onBufferSwitch(index, directProcess);
  return time;
}

void onSampleRateDidChange(ASIOSampleRate rate) {
  if (StreamState* state = g_stream.load()) state->newRate = rate;
}

int32_t onAsioMessage(int32_t selector, int32_t value, void* /*message*/, double* /*opt*/) {
  StreamState* state = g_stream.load();
  switch (selector) {
    case kAsioSelectorSupported:
      return value == kAsioResetRequest || value == kAsioBufferSizeChange || value == kAsioResyncRequest ||
                     value == kAsioLatenciesChanged || value == kAsioEngineVersion || value == kAsioSupportsTimeInfo
                 ? 1
                 : 0;
    case kAsioEngineVersion: return 2;
    case kAsioSupportsTimeInfo: return 1;
    case kAsioResetRequest:
      // Handled on the main thread: a host never stops the driver from its callback.
      if (state != nullptr) state->resetRequested = true;
      return 1;
    case kAsioBufferSizeChange:
      if (state != nullptr) state->bufferSizeChanged = true;
      return 1;
    case kAsioResyncRequest:
      if (state != nullptr) ++state->resyncRequests;
      return 1;
    case kAsioLatenciesChanged:
      if (state != nullptr) state->latenciesChanged = true;
      return 1;
    default: return 0;
  }
}

ASIOCallbacks g_callbacks{&onBufferSwitch, &onSampleRateDidChange, &onAsioMessage, &onBufferSwitchTimeInfo};

int64_t percentile(const std::vector<int64_t>& sorted, int percent) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, sorted.size() * static_cast<size_t>(percent) / 100)];
}

// Switches and missed switches of this host's stream in the kernel driver's
// statistics: the only ASIO host there, or the one with these channel counts
// (dummy channels are not the kernel driver's). False when they cannot be
// read or found.
bool kernelStreamCounters(size_t inputs, size_t outputs, uint64_t* switches, uint64_t* missed) {
  OrvaneApiContext connection;
  if (connection.open(kStatisticsLink) != 0) return false;
  auto statistics = std::make_unique<ORVANE_STATISTICS>();
  if (connection.ioctlGetStatistics(false, *statistics) != 0) return false;
  for (uint32_t i = 0; i < statistics->asioHostCount; ++i) {
    const ORVANE_STAT_ASIO_HOST& host = statistics->asioHosts[i];
    if (statistics->asioHostCount == 1 ||
        (host.inputChannelsAcquired == inputs && host.outputChannelsAcquired == outputs)) {
      *switches += host.bufferSwitchEvents;
      *missed += host.eventsMissed;
      return true;
    }
  }
  return false;
}

}  // namespace

void interruptStream() { g_interrupted = true; }

uint32_t listRegisteredDrivers(std::vector<RegisteredDriver>& drivers) {
  platform::RegistryKey asio;
  const uint32_t opened = platform::RegistryKey::open(platform::RegistryHive::LocalMachine, kAsioKey,
                                                      platform::KEY_READ, asio);
  if (opened != 0) return opened;
  std::u16string name;
  for (uint32_t i = 0; asio.enumSubKey(i, name) == 0; ++i) {
    platform::RegistryKey entry;
    if (asio.openSubKey(name, platform::KEY_READ, entry) != 0) continue;
    std::u16string clsid, description;
    entry.getString(u"CLSID", clsid);
    entry.getString(u"Description", description);
    drivers.push_back({platform::toUtf8(name), platform::toUtf8(clsid), platform::toUtf8(description)});
  }
  return 0;
}

HostSession::HostSession() = default;

HostSession::~HostSession() {
  if (driver_ != nullptr) driver_->Release();
  platform::freeUnusedLibraries();
}

bool HostSession::load(const RegisteredDriver& driver, std::string* error) {
  platform::CLSID clsid;
  if (!platform::parseGuid(driver.clsid, &clsid)) {
    *error = "the driver \"" + driver.name + "\" has no valid CLSID (\"" + driver.clsid + "\")";
    return false;
  }
  // ASIO drivers hand out their interface under their class identifier.
  const platform::HRESULT result = platform::createInstance(clsid, nullptr, platform::CLSCTX_INPROC_SERVER, clsid,
                                                            reinterpret_cast<void**>(&driver_));
  if (platform::failed(result)) {
    *error = platform::formatText("the driver \"%s\" could not be created (0x%08X)", driver.name.c_str(),
                                  static_cast<uint32_t>(result));
    return false;
  }
  return true;
}

bool HostSession::init(std::string* error) {
  if (driver_->init(nullptr) != ASIOFalse) return true;
  char text[kAsioErrorMessageChars] = {};
  driver_->getErrorMessage(text);
  *error = std::string("init failed") + (text[0] != 0 ? ": " + std::string(text) : std::string());
  return false;
}

DriverDescription HostSession::describe() {
  DriverDescription description;
  char name[kAsioDriverNameChars] = {};
  driver_->getDriverName(name);
  description.name = name;
  description.version = driver_->getDriverVersion();
  int32_t inputs = 0, outputs = 0;
  driver_->getChannels(&inputs, &outputs);
  for (int input = 0; input < 2; ++input) {
    for (int32_t number = 0; number < (input != 0 ? inputs : outputs); ++number) {
      ASIOChannelInfo info{};
      info.channel = number;
      info.isInput = input;
      if (driver_->getChannelInfo(&info) != ASE_OK) continue;
      info.name[sizeof info.name - 1] = 0;
      (input != 0 ? description.inputs : description.outputs).push_back({number, input != 0, info.name, info.type});
    }
  }
  driver_->getSampleRate(&description.sampleRate);
  for (uint32_t rate : kCommonRates) {
    if (driver_->canSampleRate(rate) == ASE_OK) description.supportedRates.push_back(rate);
  }
  driver_->getBufferSize(&description.minimumSize, &description.maximumSize, &description.preferredSize,
                         &description.granularity);
  driver_->getLatencies(&description.inputLatency, &description.outputLatency);
  return description;
}

StreamReport HostSession::stream(const StreamOptions& options) {
  StreamReport report;
  const DriverDescription description = describe();
  StreamState state;
  // The chosen channels; every one must exist.
  const auto choose = [&](bool input, bool all, const std::vector<int32_t>& numbers) -> bool {
    const auto& available = input ? description.inputs : description.outputs;
    auto& chosen = input ? state.inputs : state.outputs;
    for (const ChannelDescription& channel : available) {
      if (all || std::find(numbers.begin(), numbers.end(), channel.number) != numbers.end()) {
        chosen.push_back({channel.number, channel.type == ASIOSTInt32LSB, {}});
      }
    }
    if (!all && chosen.size() != numbers.size()) {
      report.failure = std::string("no such ") + (input ? "input" : "output") + " channel";
      return false;
    }
    return true;
  };
  if (!choose(true, options.allInputs, options.inputs) || !choose(false, options.allOutputs, options.outputs)) {
    return report;
  }
  if (options.rate != 0) {
    const ASIOError result = driver_->setSampleRate(options.rate);
    if (result != ASE_OK) {
      report.failure = "setSampleRate(" + std::to_string(options.rate) + ") failed with " + asioError(result);
      return report;
    }
  }
  report.inputs = state.inputs.size();
  report.outputs = state.outputs.size();
  for (const auto& input : state.inputs) report.inputNumbers.push_back(input.number);

  int32_t size = options.bufferSize != 0 ? options.bufferSize : description.preferredSize;
  driver_->getSampleRate(&state.rate);
  state.check.emplace(state.inputs.size(), static_cast<uint32_t>(description.outputs.size()), state.rate);
  const double expectedSwitches = options.seconds * state.rate / std::max(1, size) + 64;
  state.intervals.reserve(static_cast<size_t>(expectedSwitches * 2));
  g_stream.store(&state, std::memory_order_release);

  const int64_t begin = monotonicNanoseconds();
  const int64_t end = begin + static_cast<int64_t>(options.seconds * 1e9);
  const auto elapsed = [&] { return static_cast<double>(monotonicNanoseconds() - begin) / 1e9; };
  bool again = true;
  while (again && report.failure.empty()) {
    again = false;
    std::vector<ASIOBufferInfo> infos;
    for (const auto& input : state.inputs) infos.push_back({ASIOTrue, input.number, {}});
    for (const auto& output : state.outputs) infos.push_back({ASIOFalse, output.number, {}});
    state.bufferSize = size;
    const ASIOError created =
        driver_->createBuffers(infos.data(), static_cast<int32_t>(infos.size()), size, &g_callbacks);
    if (created != ASE_OK) {
      char text[kAsioErrorMessageChars] = {};
      driver_->getErrorMessage(text);
      report.failure = "createBuffers failed with " + asioError(created) + (text[0] ? ": " + std::string(text) : "");
      break;
    }
    for (size_t k = 0; k < state.inputs.size(); ++k) std::memcpy(state.inputs[k].buffers, infos[k].buffers, sizeof infos[k].buffers);
    for (size_t k = 0; k < state.outputs.size(); ++k) {
      std::memcpy(state.outputs[k].buffers, infos[state.inputs.size() + k].buffers, sizeof infos[k].buffers);
    }
    driver_->getLatencies(&report.inputLatency, &report.outputLatency);
    report.sampleRate = state.rate;
    report.bufferSize = size;
    state.frame = 0;
    state.lastSwitch = 0;
    state.check->restart(state.rate);
    state.lastSwitchSeen = monotonicNanoseconds();
    const ASIOError started = driver_->start();
    if (started != ASE_OK) {
      report.failure = "start failed with " + asioError(started);
      driver_->disposeBuffers();
      break;
    }
    while (monotonicNanoseconds() < end && !g_interrupted.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (state.resetRequested.exchange(false)) {
        report.events.push_back({elapsed(), "reset request"});
        again = true;
      }
      if (state.bufferSizeChanged.exchange(false)) {
        report.events.push_back({elapsed(), "buffer size change"});
        again = true;
      }
      if (state.latenciesChanged.exchange(false)) report.events.push_back({elapsed(), "latencies changed"});
      if (const double rate = state.newRate.exchange(0); rate != 0) {
        report.events.push_back({elapsed(), platform::formatText("sample rate changed to %.0f Hz", rate)});
      }
      const auto quiet = std::chrono::nanoseconds(monotonicNanoseconds() - state.lastSwitchSeen.load());
      if (quiet > kSwitchTimeout) {
        report.failure = platform::formatText("buffer switches stopped at %.3f s", elapsed());
      }
      if (again || !report.failure.empty()) break;
    }
    driver_->stop();
    uint64_t kernelSwitches = 0, missed = 0;
    if (kernelStreamCounters(state.inputs.size(), state.outputs.size(), &kernelSwitches, &missed)) {
      report.kernelStatisticsRead = true;
      report.kernelSwitches += kernelSwitches;
      report.missedSwitches += missed;
    }
    driver_->disposeBuffers();
    if (again) {
      // A host answers by taking the driver's settings afresh.
      int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
      driver_->getBufferSize(&minimum, &maximum, &preferred, &granularity);
      size = options.bufferSize != 0 && options.bufferSize >= minimum && options.bufferSize <= maximum
                 ? options.bufferSize
                 : preferred;
      driver_->getSampleRate(&state.rate);
      report.events.back().text += platform::formatText(": buffers created again, %.0f Hz, %d samples", state.rate, size);
      again = monotonicNanoseconds() < end && !g_interrupted.load();
    }
  }
  g_stream.store(nullptr, std::memory_order_release);

  report.switches = state.switches.load();
  std::vector<int64_t> sorted = state.intervals;
  std::sort(sorted.begin(), sorted.end());
  report.intervalP50 = percentile(sorted, 50);
  report.intervalP99 = percentile(sorted, 99);
  report.intervalWorst = sorted.empty() ? 0 : sorted.back();
  report.loopback = state.check->results();
  report.toneIntact = state.check->intact(report.missedSwitches);
  return report;
}
