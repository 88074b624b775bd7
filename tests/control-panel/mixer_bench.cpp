// The mixer window of the sample device with all its strips (ten output pairs,
// nine input pairs): the cost of one meter refresh (both level requests, the
// meters set and the window repainted) against the bare level requests in the
// same run, and the GUI thread's share of one CPU while both mixers of the
// device are shown and the driver streams.
//
//   mixer_bench [ROUNDS] [SECONDS]

#include <QApplication>
#include <QCoreApplication>
#include <QTest>
#include <QWidget>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "control-panel/control_panel_resources.h"
#include "control-panel/main_frame.h"
#include "control-panel/orvane_cpl_client.h"
#include "platform/ui/application.h"
#include "tests/support/bench_figures.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/spawned_process.h"
#include "tests/support/test_system_root.h"
#include "tests/ui-support/raw_asio_stream.h"

namespace {

using testing_support::percentile;

using namespace platform::ui;

long long nowNs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;
  const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing_support::TestSystemRoot root;
  sim_testing::DeviceSpec device{"QT16A0042", "QUINTOR Studio 16"};
  device.i2sInputs = 16;
  device.i2sOutputs = 16;
  device.rates = "44100 48000 96000";
  device.moreLines =
      "spdif_inputs = 2\nspdif_outputs = 2\nvirtual_inputs = 2\nmixer_outputs = 0:16 1:2 5:2\n"
      "mixer_monitor_inputs = 0:16 1:2\nmixer_playback_inputs = 2:16 3:2\n";
  sim_testing::configureSimulatedDriver({device});
  testing_support::SpawnedProcess host({WN_DEVHOST, WN_USBAUDIO_SIM_MODULE});
  if (!sim_testing::waitForLink(sim_testing::kPanelLink) || !sim_testing::waitForLink(usbaudio_sim::kControlLinkName)) {
    std::fprintf(stderr, "mixer_bench: the device host did not start\n");
    return 1;
  }
  Application application(argc, argv);
  setResources(&cpl::resources());
  sim_testing::SimControl control;
  control.open();

  MainFrame frame(MainFrame::Options{false, true});
  frame.createFrame(Rect{0, 0, MainFrame::kMinimumWidth, MainFrame::kMinimumHeight});
  showWindow(frame.handle(), SW_SHOWNORMAL);
  control.notify(ORVANE_MSG_CODE_DEVICE_LIST_CHANGED);
  if (!QTest::qWaitFor([&] { return mainConnection().deviceCount() == 1; }, 5000)) {
    std::fprintf(stderr, "mixer_bench: the control panel did not see the device\n");
    return 1;
  }
  OrvaneDevice& connection = *mainConnection().deviceAt(0);
  FormMixer& monitor = *frame.monitorMixer(connection.deviceId());
  FormMixer& playback = *frame.playbackMixer(connection.deviceId());
  ui_testing::RawAsioStream stream;
  if (stream.start(sim_testing::kPanelLink) != 0) {
    std::fprintf(stderr, "mixer_bench: the stream did not start\n");
    return 1;
  }
  monitor.showMixer();
  QTest::qWait(300);

  // The same entries the window sends, on the same connection.
  std::vector<ORVANE_MIXER_LEVEL> outputs(20);
  std::vector<ORVANE_MIXER_LEVEL> inputs(18);
  for (uint8_t i = 0; i < 16; ++i) outputs[i].pin = inputs[i].pin = {0, i, {}};
  for (uint8_t i = 0; i < 2; ++i) {
    outputs[16 + i].pin = inputs[16 + i].pin = {1, i, {}};
    outputs[18 + i].pin = {5, i, {}};
  }
  std::vector<double> bare;
  std::vector<double> refresh;
  for (int round = 0; round < rounds; ++round) {
    long long start = nowNs(CLOCK_MONOTONIC);
    connection.ioctlGetMixerOutputLevels(outputs.data(), 20);
    connection.ioctlGetMixerInputLevels(inputs.data(), 18);
    bare.push_back(static_cast<double>(nowNs(CLOCK_MONOTONIC) - start) / 1e3);
    // Every meter emptied and painted first (not timed), so that the refresh
    // repaints all 38 of them: the worst case of a refresh.
    for (const auto& strip : monitor.outputStrips()) strip->showLevels(false);
    for (const auto& strip : monitor.inputStrips()) strip->showLevels(false);
    QCoreApplication::processEvents();
    start = nowNs(CLOCK_MONOTONIC);
    monitor.refreshLevels();
    QCoreApplication::processEvents();  // the pending repaint of the changed meters
    refresh.push_back(static_cast<double>(nowNs(CLOCK_MONOTONIC) - start) / 1e3);
  }

  playback.showMixer();
  QTest::qWait(300);
  const long long wallStart = nowNs(CLOCK_MONOTONIC);
  const long long cpuStart = nowNs(CLOCK_THREAD_CPUTIME_ID);
  QTest::qWait(seconds * 1000);
  const double share = static_cast<double>(nowNs(CLOCK_THREAD_CPUTIME_ID) - cpuStart) /
                       static_cast<double>(nowNs(CLOCK_MONOTONIC) - wallStart);
  stream.stop();
  destroyWindow(frame.handle());

  std::printf("mixer of the sample device (10 output pairs, 9 input pairs), %d rounds\n", rounds);
  std::printf("  raw: the two level requests (20 + 18 entries)           median %7.0f us   p90 %7.0f us\n",
              percentile(bare, 0.5), percentile(bare, 0.9));
  std::printf("  mixer: one meter refresh (requests, all meters repainted) median %7.0f us   p90 %7.0f us\n",
              percentile(refresh, 0.5), percentile(refresh, 0.9));
  std::printf("  ratio (median)                                          %.2f\n",
              percentile(refresh, 0.5) / percentile(bare, 0.5));
  std::printf("  GUI thread with both mixers shown and streaming, %d s: %.1f %% of one CPU\n", seconds, share * 100.0);
  return 0;
}
