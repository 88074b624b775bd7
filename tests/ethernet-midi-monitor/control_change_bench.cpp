// How fast a mute set by another program shows in MireloMon's dialog: from
// the set request to the port's check box changed, against the raw mechanism,
// a thread woken by the driver's control-change event after the same request.
// Runs in a private network namespace on an X server with a notification
// area (the dialog needs its tray icon), the driver in a device host inside
// the process. Prints median and p90 of each and their ratio.
//
//   control_change_bench [ROUNDS]

#include <QCoreApplication>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ethernet-midi-monitor/cternok_mir_mon_dlg.h"
#include "ethernet-midi-monitor/mirelo_mon_resources.h"
#include "platform/ui/application.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"
#include "tests/support/private_network.h"
#include "tests/ui-support/desktop.h"

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Figures {
  double median;
  double p90;
};

Figures figuresOf(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 9 / 10]};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
  std::string error;
  if (!testing_support::enterPrivateNetwork(&error)) {
    std::fprintf(stderr, "control_change_bench: no private network: %s\n", error.c_str());
    return 1;
  }
  ui_testing::Desktop desktop(true);
  if (!desktop.ready()) {
    std::fprintf(stderr, "control_change_bench: Xvfb could not start\n");
    return 1;
  }
  setenv("DISPLAY", desktop.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  platform::ui::Application application(argc, argv);
  testing_support::TestSystemRoot root;
  mirelo_testing::install(root.path());
  mirelo_testing::setMulticastInterface("127.0.0.1");
  mirelo_testing::setPorts(0x404);
  platform::kernel::DeviceHost host;
  if (host.start() != 0 || host.addDriver(&mirelo_testing::inMirelo, u"Mirelo") != 0) {
    std::fprintf(stderr, "control_change_bench: the driver did not start\n");
    return 1;
  }
  mirelo_tools::ControlFilter control;
  control.open(mirelo_tools::findMireloPorts().controlFilter);

  // Raw: a thread of this process woken by the control-change event.
  const platform::Handle event = platform::createEvent(false, false);
  control.enableControlChange(event);
  std::vector<double> raw;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    control.setMuteMask(i & 1);
    platform::waitForSingle(event, 2000);
    raw.push_back(micros(Clock::now() - start));
  }

  platform::ui::setResources(&mirelo_mon::resources());
  std::vector<double> dialogPath;
  {
    CternokMirMonDlg dialog;
    if (!dialog.create({}, u"Dialog") || !dialog.Initialised()) {
      std::fprintf(stderr, "control_change_bench: the dialog did not start\n");
      return 1;
    }
    QTest::qWait(300);
    for (int i = 0; i < rounds; ++i) {
      const bool muted = (i & 1) == 0;
      const auto start = Clock::now();
      control.setMuteMask(muted ? 1 : 0);
      while (dialog.isButtonChecked(CternokMirMonDlg::IDC_PORT_FIRST) != muted) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      }
      dialogPath.push_back(micros(Clock::now() - start));
    }
  }
  platform::ui::setResources(nullptr);
  platform::closeHandle(event);

  const Figures a = figuresOf(dialogPath);
  const Figures b = figuresOf(raw);
  std::printf("%d rounds\n", rounds);
  std::printf("mute set by another program to the dialog's check box: median %.0f us, p90 %.0f us\n", a.median,
              a.p90);
  std::printf("the same request to a thread woken by the driver's event: median %.0f us, p90 %.0f us\n", b.median,
              b.p90);
  std::printf("ratio (median): %.2f\n", a.median / b.median);
  return 0;
}
