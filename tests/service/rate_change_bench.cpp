// A sample rate change end to end: a client asks the service (quintorsvc,
// running on an emulated machine with the simulated USB audio kernel driver,
// each in its own process) for a new rate and waits for the response and
// notification 3011. The driver answers every request at once. The figure is
// the ratio against the same number of bare device request round trips,
// measured in the same run and interleaved with the rate changes, so that
// machine load weighs on both alike. Also the service's start-to-connected
// time: from the start request until the kernel driver has the service
// registered as its server, against starting and ending a bare process.
//
//   rate_change_bench [CHANGES]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "device-access/orvane_client.h"
#include "device-access/orvane_message.h"
#include "platform/process.h"
#include "platform/services.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/waits.h"
#include "tests/service/service_machine.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/program_runner.h"
#include "tests/support/root_processes.h"
#include "tests/support/test_system_root.h"

namespace {

using service_testing::eventually;
using service_testing::serverRegistered;
using service_testing::servicePid;
using service_testing::simState;
using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
  return values[index];
}

// Device requests the kernel driver received from these processes.
uint64_t requestsOf(const std::vector<uint32_t>& pids) {
  std::istringstream lines(simState());
  uint64_t total = 0;
  for (std::string line; std::getline(lines, line);) {
    for (const uint32_t pid : pids) {
      if (line.find(" pid " + std::to_string(pid) + ",") == std::string::npos) continue;
      const size_t at = line.find(", requests ");
      if (at != std::string::npos) total += std::stoull(line.substr(at + 11));
    }
  }
  return total;
}

// The machine on the benchmark's root: stopped, and every process of the
// root ended, however the run ends.
class MachineGuard {
 public:
  explicit MachineGuard(const std::filesystem::path& root) : root_(root) {}
  ~MachineGuard() {
    testing_support::runProgram({MACHINE_TOOL, "stop"});
    testing_support::endProcessesOfRoot(root_);
  }
  MachineGuard(const MachineGuard&) = delete;
  MachineGuard& operator=(const MachineGuard&) = delete;

 private:
  std::filesystem::path root_;
};

// Stops and starts the service; the time from the start request until it is
// registered as server, or a negative value when it did not stop or connect
// within 10 s.
double startToConnected() {
  const platform::ServiceHandle manager = platform::openServiceManager(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS);
  const platform::ServiceHandle service = platform::openService(manager, u"quintorsvc", platform::SERVICE_ALL_ACCESS);
  platform::ServiceStatus status;
  (void)platform::controlService(service, platform::SERVICE_CONTROL_STOP, &status);
  double taken = -1;
  const bool stopped = eventually([&] {
    return !serverRegistered() && platform::queryServiceStatus(service, &status) &&
           status.currentState == platform::SERVICE_STOPPED;
  });
  const Clock::time_point begin = Clock::now();
  if (!stopped) {
    std::fprintf(stderr, "the service did not stop\n");
  } else if (!platform::startService(service, 0, nullptr)) {
    std::fprintf(stderr, "start failed: %u\n", platform::lastError());
  } else if (eventually([] { return serverRegistered(); })) {
    taken = microseconds(Clock::now() - begin);
  } else {
    std::fprintf(stderr, "the service did not connect within 10 s\n");
  }
  platform::closeServiceHandle(service);
  platform::closeServiceHandle(manager);
  return taken;
}

double bareProcess() {
  const Clock::time_point begin = Clock::now();
  platform::ProcessInformation info;
  if (platform::startProcess({"/bin/true"}, {}, info) == 0) {
    (void)platform::waitForSingle(info.process, platform::INFINITE);
    platform::closeHandle(info.process);
  }
  return microseconds(Clock::now() - begin);
}

bool waitForRateChanged(OrvaneClient& client) {
  for (;;) {
    ORVANE_MESSAGE message;
    while (client.readNextNotification(message) == 0) {
      if (message.code == ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED) return true;
    }
    if (platform::waitForSingle(client.notificationEvent(), 5000) != platform::WAIT_OBJECT_0) return false;
  }
}

int run(int changes) {
  testing_support::TestSystemRoot root;
  sim_testing::DeviceSpec device{"QT16A0042", "QUINTOR Studio 16"};
  device.rates = "44100 48000 96000";
  device.moreLines = "virtual_inputs = 2\nmixer_outputs = 0:2 5:2\nmixer_monitor_inputs = 0:2\nmixer_playback_inputs = 2:2\n";
  sim_testing::configureSimulatedDriver({device});
  platform::registerKernelDriver(sim_testing::kServiceName, platform::toWide(WN_USBAUDIO_SIM_MODULE));
  const MachineGuard machine(root.path());
  if (testing_support::runProgram({QUINTORSVC, "-install"}).exitCode != 0 ||
      testing_support::runProgram({MACHINE_TOOL, "start"}).exitCode != 0 ||
      !eventually([] { return serverRegistered(); })) {
    std::fprintf(stderr, "the machine did not start\n");
    return 1;
  }

  std::vector<double> starts;
  std::vector<double> spawns;
  for (int i = 0; i < 10; ++i) {
    const double taken = startToConnected();
    if (taken < 0) return 1;
    starts.push_back(taken);
    spawns.push_back(bareProcess());
  }

  // The service's worker runs at time-critical priority; so does this thread,
  // so that the path and the bare round trips are measured alike.
  platform::setCurrentThreadPriority(platform::THREAD_PRIORITY_TIME_CRITICAL);
  std::printf("real-time priority %s\n", platform::currentThreadIsRealTime() ? "granted" : "refused (normal priority)");
  OrvaneClient client;
  if (client.openConnection(sim_testing::kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true) != 0) {
    std::fprintf(stderr, "the client could not connect\n");
    return 1;
  }
  const std::vector<uint32_t> pids = {servicePid(), platform::currentProcessId()};
  // One change first, to count its device requests (the state reads in between count none: another connection).
  const uint64_t before = requestsOf(pids);
  if (client.setSampleRate(44100, 10000) != 0 || !waitForRateChanged(client)) {
    std::fprintf(stderr, "the first rate change failed\n");
    return 1;
  }
  const uint64_t perChange = requestsOf(pids) - before;

  std::vector<double> paths;
  std::vector<double> bare;
  for (int i = 0; i < changes; ++i) {
    const uint32_t rate = i % 2 == 0 ? 48000 : 44100;
    Clock::time_point begin = Clock::now();
    const uint32_t status = client.setSampleRate(rate, 10000);
    if (status != 0 || !waitForRateChanged(client)) {
      std::fprintf(stderr, "rate change %d failed: 0x%08X\n", i, status);
      break;
    }
    paths.push_back(microseconds(Clock::now() - begin));
    begin = Clock::now();
    ORVANE_STREAMING_STATUS streaming;
    for (uint64_t r = 0; r < perChange; ++r) (void)client.ioctlGetStreamingStatus(streaming);
    bare.push_back(microseconds(Clock::now() - begin));
  }
  client.closeDriver();
  if (paths.empty()) return 1;

  std::printf("Sample rate change, client request -> response and 3011 at the client (%zu changes)\n", paths.size());
  std::printf("  device requests on the path: %llu (service and client)\n", static_cast<unsigned long long>(perChange));
  std::printf("  path:                          p50 %8.1f us   p99 %8.1f us\n", percentile(paths, 0.5),
              percentile(paths, 0.99));
  std::printf("  %llu bare request round trips: p50 %8.1f us   p99 %8.1f us\n",
              static_cast<unsigned long long>(perChange), percentile(bare, 0.5), percentile(bare, 0.99));
  std::printf("  ratio path / bare:             p50 %8.2f      p99 %8.2f\n",
              percentile(paths, 0.5) / percentile(bare, 0.5), percentile(paths, 0.99) / percentile(bare, 0.99));
  std::printf("Service start to connected (start request -> registered as server), %zu starts\n", starts.size());
  std::printf("  start to connected:            p50 %8.1f us   max %8.1f us\n", percentile(starts, 0.5),
              percentile(starts, 1.0));
  std::printf("  bare process start and end:    p50 %8.1f us   ratio %.1f\n", percentile(spawns, 0.5),
              percentile(starts, 0.5) / percentile(spawns, 0.5));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int changes = 300;
  if (argc > 1) {
    char* end = nullptr;
    const long value = std::strtol(argv[1], &end, 10);
    if (argc > 2 || *end != '\0' || value < 1 || value > 1000000) {
      std::fprintf(stderr, "usage: rate_change_bench [CHANGES]  (CHANGES from 1 to 1000000, default 300)\n");
      return 2;
    }
    changes = static_cast<int>(value);
  }
  return run(changes);
}
