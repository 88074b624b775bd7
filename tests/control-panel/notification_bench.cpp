// From a notification raised in the simulated kernel driver to the control
// panel's status bar repainted with the news, against the raw mechanism: a
// registered connection of its own whose thread wakes on its notification
// event. One change of the sample rate is seen by both in each round.
//
//   notification_bench [ROUNDS]

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "control-panel/control_panel_resources.h"
#include "control-panel/main_frame.h"
#include "control-panel/orvane_cpl_client.h"
#include "platform/events.h"
#include "platform/ui/application.h"
#include "platform/waits.h"
#include "tests/support/bench_figures.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/spawned_process.h"
#include "tests/support/test_system_root.h"

namespace {

using testing_support::monotonicNs;
using testing_support::percentile;

using namespace platform::ui;

// Notes when the rate pane is painted showing `expected`.
class PaintWatch final : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* label = qobject_cast<QLabel*>(watched);
    if (event->type() == QEvent::Paint && label != nullptr && label->text() == expected && paintedAt == 0) {
      paintedAt = monotonicNs();
      if (loop != nullptr) loop->quit();
    }
    return false;
  }
  QString expected;
  long long paintedAt = 0;
  QEventLoop* loop = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 200;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing_support::TestSystemRoot root;
  sim_testing::DeviceSpec device{"QT0001", "Quintor One"};
  device.rates = "44100 48000";
  sim_testing::configureSimulatedDriver({device});
  testing_support::SpawnedProcess host({WN_DEVHOST, WN_USBAUDIO_SIM_MODULE});
  if (!sim_testing::waitForLink(sim_testing::kPanelLink) || !sim_testing::waitForLink(usbaudio_sim::kControlLinkName)) {
    std::fprintf(stderr, "notification_bench: the device host did not start\n");
    return 1;
  }
  Application application(argc, argv);
  setResources(&cpl::resources());
  sim_testing::SimControl control;
  control.open();

  // The raw mechanism: a registered connection's thread woken by its event.
  OrvaneDriver raw;
  raw.openConnection(sim_testing::kPanelLink, ORVANE_CLIENT_TYPE_ASIO, true);
  std::atomic<long long> rawWokeAt{0};
  std::atomic<bool> stop{false};
  const platform::Handle stopEvent = platform::createEvent(false, false);
  std::thread rawWaiter([&] {
    const platform::Handle handles[] = {stopEvent, raw.notificationEvent()};
    while (platform::waitForMultiple(2, handles, platform::INFINITE) == platform::WAIT_OBJECT_0 + 1) {
      rawWokeAt = monotonicNs();
      raw.drainNotifications();
    }
  });

  std::vector<double> panel;
  std::vector<double> bare;
  {
    MainFrame frame(MainFrame::Options{false, true});
    frame.createFrame(Rect{0, 0, MainFrame::kMinimumWidth, MainFrame::kMinimumHeight});
    showWindow(frame.handle(), SW_SHOWNORMAL);
    PaintWatch watch;
    for (QLabel* label : frame.widget()->findChild<QStatusBar*>()->findChildren<QLabel*>()) {
      label->installEventFilter(&watch);
    }
    QTest::qWait(200);
    for (int round = 0; round < rounds; ++round) {
      const uint32_t rate = round % 2 == 0 ? 44100 : 48000;
      watch.expected = QString::fromStdString(rate == 44100 ? "Current sampling rate: 44.100 kHz"
                                                            : "Current sampling rate: 48.000 kHz");
      watch.paintedAt = 0;
      rawWokeAt = 0;
      const usbaudio_sim::SIM_SETTINGS settings{rate, usbaudio_sim::SIM_KEEP, usbaudio_sim::SIM_KEEP, 0};
      const long long start = monotonicNs();
      control.control(usbaudio_sim::SIM_CONTROL_CHANGE_SETTINGS, &settings, sizeof settings);
      // A real event loop (Qt Test's waits poll every 10 ms, too coarse here).
      QEventLoop loop;
      watch.loop = &loop;
      QTimer::singleShot(5000, &loop, &QEventLoop::quit);
      loop.exec();
      watch.loop = nullptr;
      while (watch.paintedAt != 0 && rawWokeAt == 0 && monotonicNs() - start < 5000000000LL) std::this_thread::yield();
      if (watch.paintedAt == 0 || rawWokeAt == 0) {
        std::fprintf(stderr, "notification_bench: round %d saw no repaint\n", round);
        return 1;
      }
      panel.push_back(static_cast<double>(watch.paintedAt - start) / 1e3);
      bare.push_back(static_cast<double>(rawWokeAt - start) / 1e3);
    }
    destroyWindow(frame.handle());
  }
  platform::setEvent(stopEvent);
  rawWaiter.join();
  platform::closeHandle(stopEvent);
  std::printf("notification raised in the simulated driver, %d rounds\n", rounds);
  std::printf("  raw: event of a registered connection wakes its thread   median %7.0f us   p90 %7.0f us\n",
              percentile(bare, 0.5), percentile(bare, 0.9));
  std::printf("  control panel: status bar repainted with the new rate    median %7.0f us   p90 %7.0f us\n",
              percentile(panel, 0.5), percentile(panel, 0.9));
  std::printf("  ratio (median)                                            %.2f\n",
              percentile(panel, 0.5) / percentile(bare, 0.5));
  return 0;
}
