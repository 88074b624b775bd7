// How long the control panel takes from the start of its process to its first
// painted frame, against a bare Qt program that opens an empty main window
// (same platform, same run, interleaved so machine load weighs on both alike).
// Both run on Qt's offscreen platform, orvanecpl against the simulated kernel
// driver in a device host, so the figure includes connecting to the driver.
//
//   startup_bench [ROUNDS]

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/bench_figures.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/spawned_process.h"
#include "tests/support/test_system_root.h"

namespace {

using testing_support::monotonicNs;
using testing_support::percentile;

using testing_support::SpawnedProcess;

// Starts the program and returns the milliseconds to its first paint, or -1.
double timeToFirstPaint(const std::vector<std::string>& command, const std::string& reportFile) {
  std::remove(reportFile.c_str());
  const long long start = monotonicNs();
  SpawnedProcess program(command, {"QT_QPA_PLATFORM=offscreen", "WN_FIRST_PAINT_FILE=" + reportFile});
  long long painted = 0;
  for (int wait = 0; wait < 3000 && painted == 0; ++wait) {
    std::ifstream file(reportFile);
    if (!(file >> painted)) {
      painted = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return painted == 0 ? -1.0 : static_cast<double>(painted - start) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
  testing_support::TestSystemRoot root;
  sim_testing::configureSimulatedDriver({sim_testing::DeviceSpec{"QT0001", "Quintor One"}});
  SpawnedProcess host({WN_DEVHOST, WN_USBAUDIO_SIM_MODULE});
  if (!sim_testing::waitForLink(sim_testing::kPanelLink)) {
    std::fprintf(stderr, "startup_bench: the device host did not start\n");
    return 1;
  }
  const std::string reportFile = (root.path() / "first-paint").string();
  std::vector<double> panel;
  std::vector<double> bare;
  for (int round = 0; round < rounds; ++round) {
    const double bareMs = timeToFirstPaint({BARE_QT_WINDOW}, reportFile);
    const double panelMs = timeToFirstPaint({ORVANECPL, "-notray"}, reportFile);
    if (bareMs < 0 || panelMs < 0) {
      std::fprintf(stderr, "startup_bench: a program did not paint\n");
      return 1;
    }
    bare.push_back(bareMs);
    panel.push_back(panelMs);
  }
  std::printf("start to first painted frame, %d rounds each, offscreen platform\n", rounds);
  std::printf("  bare Qt main window   median %7.1f ms   p90 %7.1f ms\n", percentile(bare, 0.5), percentile(bare, 0.9));
  std::printf("  orvanecpl             median %7.1f ms   p90 %7.1f ms\n", percentile(panel, 0.5),
              percentile(panel, 0.9));
  std::printf("  ratio (median)        %.2f\n", percentile(panel, 0.5) / percentile(bare, 0.5));
  return 0;
}
