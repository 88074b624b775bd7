// One refresh of the spy's main window (the statistics request, the copy,
// the rebuild check and the shown page's re-format) against the bare
// statistics request on a connection of its own, in the same run, while the
// simulated driver streams. Run twice: with a small device and with a large
// one whose tree has several times the pages, to show that the pages that
// are not shown cost nothing.
//
//   refresh_bench [ROUNDS]

#include <QTest>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/application.h"
#include "spy/main_frame.h"
#include "spy/spy_resources.h"
#include "tests/support/bench_figures.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/spawned_process.h"
#include "tests/support/test_system_root.h"
#include "tests/ui-support/raw_asio_stream.h"

namespace {

using testing_support::monotonicNs;
using testing_support::percentile;

using namespace platform::ui;

int countItems(const TreeView& tree, TreeItem first) {
  int count = 0;
  for (TreeItem item = first; item != 0; item = tree.nextSibling(item))
    count += 1 + countItems(tree, tree.childItem(item));
  return count;
}

bool measure(const char* label, const sim_testing::DeviceSpec& device, int rounds) {
  sim_testing::configureSimulatedDriver({device});
  testing_support::SpawnedProcess host({WN_DEVHOST, WN_USBAUDIO_SIM_MODULE});
  if (!sim_testing::waitForLink(sim_testing::kSpyLink)) {
    std::fprintf(stderr, "refresh_bench: the device host did not start\n");
    return false;
  }
  ui_testing::RawAsioStream stream;
  if (stream.start(sim_testing::kAsioLink) != 0) {
    std::fprintf(stderr, "refresh_bench: no stream\n");
    return false;
  }
  OrvaneSpyDriver bare;
  if (bare.openDriver(sim_testing::kSpyLink, false, false) != 0) return false;
  auto record = std::make_unique<ORVANE_STATISTICS>();

  std::vector<double> frameTimes;
  std::vector<double> bareTimes;
  int pages = 0;
  {
    MainFrame frame;
    frame.createFrame(Rect{0, 0, 700, MainFrame::kMinimumHeight});
    showWindow(frame.handle(), SW_SHOWNORMAL);
    TreeView& tree = *frame.treePage().tree();
    // The stream's own objects (streams, ASIO host) come with the next records.
    QTest::qWait(1500);
    TreeItem shown = 0;
    std::vector<TreeItem> pending{tree.rootItem()};
    while (!pending.empty() && shown == 0) {
      const TreeItem item = pending.back();
      pending.pop_back();
      if (item == 0) continue;
      if (tree.itemText(item) == u"IN Stream 0") shown = item;
      pending.push_back(tree.nextSibling(item));
      pending.push_back(tree.childItem(item));
    }
    if (shown == 0) {
      std::fprintf(stderr, "refresh_bench: no input stream in the tree\n");
      return false;
    }
    tree.selectItem(shown);
    pages = countItems(tree, tree.rootItem());
    for (int round = 0; round < rounds; ++round) {
      long long start = monotonicNs();
      bare.getStatistics(*record, false);
      bareTimes.push_back(static_cast<double>(monotonicNs() - start) / 1e3);
      start = monotonicNs();
      frame.refreshStatistics();
      frameTimes.push_back(static_cast<double>(monotonicNs() - start) / 1e3);
      QTest::qWait(2);  // lets Qt paint between rounds, as between two timer ticks
    }
    destroyWindow(frame.handle());
  }
  std::printf("%s: %d tree nodes, stream running, %d rounds\n", label, pages, rounds);
  std::printf("  raw: statistics request on a connection of its own   median %7.1f us   p90 %7.1f us\n",
              percentile(bareTimes, 0.5), percentile(bareTimes, 0.9));
  std::printf("  spy: one refresh, shown page re-formatted            median %7.1f us   p90 %7.1f us\n",
              percentile(frameTimes, 0.5), percentile(frameTimes, 0.9));
  std::printf("  ratio (median)                                        %.2f\n",
              percentile(frameTimes, 0.5) / percentile(bareTimes, 0.5));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 500;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing_support::TestSystemRoot root;
  Application application(argc, argv);
  setResources(&spy::resources());
  sim_testing::DeviceSpec small{"SP0001", "Orvane Small"};
  small.rates = "48000";
  sim_testing::DeviceSpec large = small;
  large.name = "Orvane Large";
  large.i2sInputs = 32;
  large.i2sOutputs = 32;
  large.moreLines = "spdif_inputs = 2\nspdif_outputs = 2\n";
  if (!measure("small device", small, rounds)) return 1;
  if (!measure("large device", large, rounds)) return 1;
  return 0;
}
