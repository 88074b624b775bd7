// Buffer switch wake latency and interval jitter at 64 frames and 48 kHz.
//
//   buffer_switch_bench [SECONDS]      (30 by default, per measurement)
//
// Three measurements, one after the other, each as two processes:
//  - floor: a process signals an eventfd on a timer's absolute deadlines every
//    64 / 48000 s; another waits for it at the time-critical priority.
//    Latency = the waiter's wake - the moment before the signal.
//  - ASIO: devhost runs the simulated kernel driver, whose pacing thread
//    signals the buffer event; this process loads sorvikusbasio_x64 through
//    the class registry, as a host does, and streams 2 inputs and 2 outputs.
//    Latency = bufferSwitch entry - the pacing thread's signal (the simulated
//    driver records when it signals).
//  - JACK (when built with libjack and jackd is installed): jackd -d dummy
//    -p 64 -r 48000 and a minimal client; its process callback's entries.
//    JACK's own cycle times are estimates of its delay-locked loop, not the
//    moment its server woke, so for JACK only the wakes are known.
// For each: signal to wake p50, p99, worst (where the signal's time is known);
// how late each wake is on the period grid (the same estimate for all three);
// switch interval p50, p99, worst; the jitter (p99 of |interval - period|);
// missed switches (JACK: xruns).

#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cmath>
#include <deque>
#include <dlfcn.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "asio/asio_driver.h"
#include "device-access/orvane_statistics.h"
#include "platform/asio/asio_interface.h"
#include "platform/com/in_process_server.h"
#include "platform/threads.h"
#include "tests/support/child_process.h"
#include "tests/support/program_runner.h"
#include "tests/support/test_device_file.h"
#include "tests/support/test_system_root.h"
#include "usb-audio-kernel-sim/sim_control.h"

#ifdef WN_HAVE_JACK
#include <jack/jack.h>
#endif

namespace {

constexpr int kFrames = 64;
constexpr int kRate = 48000;
constexpr int64_t kPeriodNs = int64_t{1'000'000'000} * kFrames / kRate;  // 1333333 ns

int64_t now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

struct Figures {
  std::string name;
  bool measured = false;
  std::string note;
  std::vector<int64_t> latencies;  // signal to wake, ns; empty where the signal's time is not known
  std::vector<int64_t> wakes;      // ns
  std::vector<int64_t> intervals;  // ns
  uint64_t missed = 0;
};

// How late each wake is against the period grid: the wakes' period index,
// a straight line fitted through them (the grid, with the real period), and
// each wake's distance from the line minus the smallest such distance within
// half a second around it (the grid's phase, which a restarted clock moves).
// The same for every path, so it compares paths whose signal time is unknown.
std::vector<int64_t> gridLateness(const std::vector<int64_t>& wakes) {
  if (wakes.size() < 2) return {};
  std::vector<double> index(wakes.size());
  double sumI = 0, sumW = 0;
  for (size_t j = 0; j < wakes.size(); ++j) {
    index[j] = std::round(static_cast<double>(wakes[j] - wakes[0]) / kPeriodNs);
    sumI += index[j];
    sumW += static_cast<double>(wakes[j] - wakes[0]);
  }
  const double n = static_cast<double>(wakes.size());
  double covariance = 0, variance = 0;
  for (size_t j = 0; j < wakes.size(); ++j) {
    covariance += (index[j] - sumI / n) * (static_cast<double>(wakes[j] - wakes[0]) - sumW / n);
    variance += (index[j] - sumI / n) * (index[j] - sumI / n);
  }
  const double period = variance > 0 ? covariance / variance : kPeriodNs;
  std::vector<double> residual(wakes.size());
  for (size_t j = 0; j < wakes.size(); ++j) residual[j] = static_cast<double>(wakes[j] - wakes[0]) - period * index[j];
  const double window = 0.5e9 / kPeriodNs;
  std::vector<int64_t> lateness;
  std::deque<size_t> minima;  // indices of increasing residuals within the window
  size_t next = 0;
  for (size_t j = 0; j < wakes.size(); ++j) {
    while (next < wakes.size() && index[next] <= index[j] + window) {
      while (!minima.empty() && residual[minima.back()] >= residual[next]) minima.pop_back();
      minima.push_back(next++);
    }
    while (index[minima.front()] < index[j] - window) minima.pop_front();
    lateness.push_back(static_cast<int64_t>(residual[j] - residual[minima.front()]));
  }
  return lateness;
}

int64_t percentile(std::vector<int64_t> values, int percent) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, values.size() * static_cast<size_t>(percent) / 100)];
}

int64_t worst(const std::vector<int64_t>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

std::vector<int64_t> deviations(const std::vector<int64_t>& intervals) {
  std::vector<int64_t> result;
  for (int64_t interval : intervals) result.push_back(std::llabs(interval - kPeriodNs));
  return result;
}

std::vector<int64_t> intervalsOf(const std::vector<int64_t>& entries) {
  std::vector<int64_t> result;
  for (size_t k = 1; k < entries.size(); ++k) result.push_back(entries[k] - entries[k - 1]);
  return result;
}

// Latency of each wake: its time minus the latest signal not after it.
std::vector<int64_t> pairWithSignals(const std::vector<int64_t>& wakes, const std::vector<int64_t>& signals) {
  std::vector<int64_t> latencies;
  size_t s = 0;
  for (int64_t wake : wakes) {
    while (s + 1 < signals.size() && signals[s + 1] <= wake) ++s;
    if (s < signals.size() && signals[s] <= wake) latencies.push_back(wake - signals[s]);
  }
  return latencies;
}

double us(int64_t ns) { return static_cast<double>(ns) / 1000.0; }

void raise(int policyPriority) {
  sched_param parameter{};
  parameter.sched_priority = policyPriority;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
}

// --- Floor: eventfd between two processes -------------------------------------------

Figures measureFloor(double seconds) {
  Figures figures;
  figures.name = "eventfd between processes (floor)";
  const auto periods = static_cast<size_t>(seconds * 1e9 / kPeriodNs);
  // The signaller's times, shared with this process.
  const size_t bytes = sizeof(std::atomic<int64_t>) * (periods + 1);
  auto* shared = static_cast<std::atomic<int64_t>*>(
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  const int event = eventfd(0, EFD_CLOEXEC);
  std::vector<int64_t> wakes;
  wakes.reserve(periods + 16);
  {
    testing_support::ChildProcess signaller([&] {
      raise(sched_get_priority_min(SCHED_FIFO) + 10);  // as the simulated driver's pacing thread
      const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
      const int64_t epoch = now() + 100'000'000;
      for (size_t k = 1; k <= periods; ++k) {
        const int64_t deadline = epoch + static_cast<int64_t>(k) * kPeriodNs;
        itimerspec due{};
        due.it_value.tv_sec = deadline / 1'000'000'000;
        due.it_value.tv_nsec = deadline % 1'000'000'000;
        timerfd_settime(timer, TFD_TIMER_ABSTIME, &due, nullptr);
        uint64_t expirations = 0;
        if (read(timer, &expirations, sizeof expirations) < 0) return 1;
        shared[k].store(now(), std::memory_order_release);
        shared[0].store(static_cast<int64_t>(k), std::memory_order_release);
        const uint64_t one = 1;
        if (write(event, &one, sizeof one) < 0) return 1;
      }
      return 0;
    });
    platform::setCurrentThreadPriority(platform::THREAD_PRIORITY_TIME_CRITICAL);
    pollfd wait{event, POLLIN, 0};
    while (shared[0].load() < static_cast<int64_t>(periods)) {
      if (poll(&wait, 1, 1000) <= 0) break;
      wakes.push_back(now());
      uint64_t count = 0;
      if (read(event, &count, sizeof count) < 0) break;
    }
    signaller.wait();
    platform::setCurrentThreadPriority(platform::THREAD_PRIORITY_NORMAL);
  }
  std::vector<int64_t> signals;
  const auto sent = static_cast<size_t>(shared[0].load());
  for (size_t k = 1; k <= sent; ++k) signals.push_back(shared[k].load());
  munmap(shared, bytes);
  close(event);
  figures.latencies = pairWithSignals(wakes, signals);
  figures.wakes = wakes;
  figures.intervals = intervalsOf(wakes);
  figures.missed = sent > wakes.size() ? sent - wakes.size() : 0;
  figures.measured = true;
  return figures;
}

// --- ASIO: the driver through COM, the simulated driver in devhost ---------------------

struct AsioRecorder {
  std::vector<int64_t> entries;
  int32_t* outputs[2][2] = {};
};
AsioRecorder* g_recorder = nullptr;

void onBufferSwitch(int32_t index, ASIOBool) {
  const int64_t entry = now();
  if (g_recorder->entries.size() < g_recorder->entries.capacity()) g_recorder->entries.push_back(entry);
  for (auto& output : g_recorder->outputs) std::memset(output[index], 0, kFrames * sizeof(int32_t));
}
ASIOTime* onBufferSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool direct) {
  onBufferSwitch(index, direct);
  return time;
}
void onRateChange(ASIOSampleRate) {}
int32_t onMessage(int32_t selector, int32_t value, void*, double*) {
  if (selector == kAsioSelectorSupported) return value == kAsioEngineVersion ? 1 : 0;
  return selector == kAsioEngineVersion ? 2 : 0;
}

bool registerDriver() {
  void* module = dlopen(WN_ASIO_MODULE, RTLD_NOW);
  if (module == nullptr) return false;
  auto registerServer = reinterpret_cast<platform::DllRegisterServerFunction>(dlsym(module, "DllRegisterServer"));
  const bool registered = registerServer != nullptr && registerServer() == platform::S_OK;
  dlclose(module);
  return registered;
}

std::optional<uint64_t> kernelMissedEvents() {
  testing_support::TestDeviceFile spy(u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}");
  auto statistics = std::make_unique<ORVANE_STATISTICS>();
  const uint32_t clear = 0;
  if (spy.query(ORVANE_IOCTL_GET_STATISTICS, clear, statistics.get()) != 0 || statistics->asioHostCount == 0) {
    return std::nullopt;
  }
  return statistics->asioHosts[0].eventsMissed;
}

Figures measureAsio(double seconds) {
  Figures figures;
  figures.name = "ASIO buffer switch (sorvikusbasio_x64, simulated driver in devhost)";
  testing_support::BackgroundProgram devhost({WN_DEVHOST, WN_USBAUDIO_SIM_MODULE});
  auto control = std::make_unique<testing_support::TestDeviceFile>(usbaudio_sim::kControlLinkName);
  for (int attempt = 0; attempt < 500 && !control->isOpen() && devhost.running(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    control = std::make_unique<testing_support::TestDeviceFile>(usbaudio_sim::kControlLinkName);
  }
  if (!control->isOpen()) {
    figures.note = "devhost did not start: " + devhost.output();
    return figures;
  }
  // 64 frames at 48 kHz (the ASIO class Minimum), then streaming as the service would bring it up.
  control->send(usbaudio_sim::SIM_CONTROL_CHANGE_SETTINGS,
               usbaudio_sim::SIM_SETTINGS{kRate, usbaudio_sim::SIM_KEEP, ORVANE_ASIO_BUFFER_MINIMUM, 0});
  testing_support::TestDeviceFile panel(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}");
  for (uint32_t command : {ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_COMMAND_PREPARE,
                           ORVANE_STREAMING_COMMAND_START}) {
    panel.send(ORVANE_IOCTL_STREAMING_CONTROL, command);
  }
  if (!registerDriver()) {
    figures.note = "the driver could not be registered";
    return figures;
  }
  IASIO* driver = nullptr;
  if (platform::createInstance(CLSID_SorvikUsbAsio, nullptr, platform::CLSCTX_INPROC_SERVER, CLSID_SorvikUsbAsio,
                               reinterpret_cast<void**>(&driver)) != platform::S_OK ||
      driver->init(nullptr) == ASIOFalse) {
    figures.note = "the driver could not be created or initialised";
    if (driver != nullptr) driver->Release();
    return figures;
  }
  AsioRecorder recorder;
  recorder.entries.reserve(static_cast<size_t>(seconds * 1e9 / kPeriodNs * 1.5) + 64);
  g_recorder = &recorder;
  ASIOBufferInfo infos[] = {{ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
  ASIOCallbacks callbacks{&onBufferSwitch, &onRateChange, &onMessage, &onBufferSwitchTimeInfo};
  if (driver->createBuffers(infos, 4, kFrames, &callbacks) != ASE_OK) {
    figures.note = "createBuffers failed";
  } else {
    for (int c = 0; c < 2; ++c) {
      for (int half = 0; half < 2; ++half) recorder.outputs[c][half] = static_cast<int32_t*>(infos[2 + c].buffers[half]);
    }
    if (driver->start() == ASE_OK) {
      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      driver->stop();
      figures.measured = true;
    } else {
      figures.note = "start failed";
    }
  }
  if (figures.measured) {
    auto times = std::make_unique<usbaudio_sim::SIM_SIGNAL_TIMES>();
    control->control(usbaudio_sim::SIM_CONTROL_GET_SIGNAL_TIMES, nullptr, 0, times.get(), sizeof *times);
    const std::vector<int64_t> signals(times->nanoseconds, times->nanoseconds + times->count);
    // The two pre-roll switches come before the kernel driver's first signal.
    std::vector<int64_t> wakes(recorder.entries.begin() + std::min<size_t>(2, recorder.entries.size()),
                               recorder.entries.end());
    if (times->count == usbaudio_sim::SIM_MAX_SIGNAL_TIMES) {
      figures.note = "only the latest signals are known";
      std::erase_if(wakes, [&](int64_t wake) { return wake < signals.front(); });
    }
    figures.latencies = pairWithSignals(wakes, signals);
    figures.wakes = wakes;
    figures.intervals = intervalsOf(wakes);
    figures.missed = kernelMissedEvents().value_or(0);
  }
  driver->disposeBuffers();
  driver->Release();
  g_recorder = nullptr;
  platform::freeUnusedLibraries();
  devhost.stop();
  return figures;
}

// --- JACK: jackd with the dummy driver and a minimal client ---------------------------

#ifdef WN_HAVE_JACK
struct JackRecorder {
  std::vector<int64_t> entries;
  std::atomic<uint64_t> xruns{0};
};
JackRecorder* g_jack = nullptr;

// JACK's cycle times are estimates of its delay-locked loop, not the moment the
// server woke, so only the wake itself is recorded.
int onJackProcess(jack_nframes_t, void*) {
  const int64_t entry = now();
  if (g_jack->entries.size() < g_jack->entries.capacity()) g_jack->entries.push_back(entry);
  return 0;
}

int onJackXrun(void*) {
  ++g_jack->xruns;
  return 0;
}
#endif

Figures measureJack(double seconds) {
  Figures figures;
  figures.name = "JACK client (jackd -d dummy -p 64 -r 48000)";
#ifndef WN_HAVE_JACK
  figures.note = "not built: the JACK headers (libjack-jackd2-dev) were missing";
  return figures;
#else
  if (!std::filesystem::exists(WN_JACKD)) {
    figures.note = std::string("not measured: ") + WN_JACKD + " is not installed (Debian package jackd2)";
    return figures;
  }
  const std::string server = "wnbench" + std::to_string(getpid());
  testing_support::BackgroundProgram jackd(
      {WN_JACKD, "-n", server, "-d", "dummy", "-p", std::to_string(kFrames), "-r", std::to_string(kRate)});
  JackRecorder recorder;
  recorder.entries.reserve(static_cast<size_t>(seconds * 1e9 / kPeriodNs * 1.5) + 64);
  g_jack = &recorder;
  jack_client_t* client = nullptr;
  for (int attempt = 0; attempt < 100 && client == nullptr && jackd.running(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    jack_status_t status{};
    client = jack_client_open("wn-bench", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                              server.c_str());
  }
  if (client == nullptr) {
    figures.note = "jackd did not start: " + jackd.output();
    return figures;
  }
  jack_set_process_callback(client, onJackProcess, nullptr);
  jack_set_xrun_callback(client, onJackXrun, nullptr);
  if (jack_activate(client) == 0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    jack_deactivate(client);
    figures.measured = true;
  }
  jack_client_close(client);
  g_jack = nullptr;
  jackd.stop();
  figures.wakes = recorder.entries;
  figures.intervals = intervalsOf(recorder.entries);
  figures.missed = recorder.xruns.load();
  return figures;
#endif
}

void print(const Figures& f) {
  std::printf("\n%s\n", f.name.c_str());
  if (!f.measured) {
    std::printf("  %s\n", f.note.c_str());
    return;
  }
  if (!f.note.empty()) std::printf("  note: %s\n", f.note.c_str());
  if (!f.latencies.empty()) {
    std::printf("  signal to wake:   p50 %8.1f us  p99 %8.1f us  worst %8.1f us  (%zu wakes)\n",
                us(percentile(f.latencies, 50)), us(percentile(f.latencies, 99)), us(worst(f.latencies)),
                f.latencies.size());
  }
  const std::vector<int64_t> late = gridLateness(f.wakes);
  std::printf("  late on the grid: p50 %8.1f us  p99 %8.1f us  worst %8.1f us\n", us(percentile(late, 50)),
              us(percentile(late, 99)), us(worst(late)));
  std::printf("  interval:         p50 %8.1f us  p99 %8.1f us  worst %8.1f us; jitter p99 %.1f us; missed %llu\n",
              us(percentile(f.intervals, 50)), us(percentile(f.intervals, 99)), us(worst(f.intervals)),
              us(percentile(deviations(f.intervals), 99)), static_cast<unsigned long long>(f.missed));
}

double quotient(int64_t a, int64_t b) { return static_cast<double>(a) / static_cast<double>(std::max<int64_t>(1, b)); }

void ratio(const char* what, const Figures& a, const Figures& b) {
  if (!a.measured || !b.measured) return;
  std::printf("  %-22s", what);
  if (!a.latencies.empty() && !b.latencies.empty()) {
    std::printf(" signal to wake p50 %.2fx, p99 %.2fx;", quotient(percentile(a.latencies, 50), percentile(b.latencies, 50)),
                quotient(percentile(a.latencies, 99), percentile(b.latencies, 99)));
  }
  const std::vector<int64_t> lateA = gridLateness(a.wakes), lateB = gridLateness(b.wakes);
  std::printf(" late on the grid p99 %.2fx; jitter p99 %.2fx\n", quotient(percentile(lateA, 99), percentile(lateB, 99)),
              quotient(percentile(deviations(a.intervals), 99), percentile(deviations(b.intervals), 99)));
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: buffer_switch_bench [SECONDS]\n");
    return 2;
  }
  std::printf("Buffer switch wake latency and interval jitter: %d frames at %d Hz (period %.1f us), %.0f s each\n",
              kFrames, kRate, us(kPeriodNs), seconds);
  std::fflush(stdout);
  testing_support::TestSystemRoot root;
  const Figures floor = measureFloor(seconds);
  print(floor);
  std::fflush(stdout);
  const Figures asio = measureAsio(seconds);
  print(asio);
  std::fflush(stdout);
  const Figures jack = measureJack(seconds);
  print(jack);
  std::printf("\nRatios of the ASIO driver's figures\n");
  ratio("to the eventfd floor:", asio, floor);
  ratio("to the JACK client:", asio, jack);
  return asio.measured ? 0 : 1;
}
