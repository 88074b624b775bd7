// Renders the control panel's pages and its about box into PNG files, on Qt's
// offscreen platform, against the kernel driver of the current system root.
//
//   cpl_screenshots OUTPUT_DIRECTORY
//
// Prints one line per file. Exit code 0, or 1 when the driver could not be
// reached or a file could not be written.

#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "control-panel/c_about_dlg.h"
#include "control-panel/control_panel_resources.h"
#include "control-panel/main_frame.h"
#include "device-access/orvane_status.h"
#include "platform/text.h"
#include "platform/ui/application.h"
#include "platform/ui/window.h"
#include "tests/ui-support/raw_asio_stream.h"
#include "tests/ui-support/screenshot_files.h"

using namespace platform::ui;

namespace {

// Every item of the tree, depth first.
std::vector<TreeItem> allItems(const TreeView& tree) {
  std::vector<TreeItem> items;
  std::vector<TreeItem> pending;
  for (TreeItem item = tree.rootItem(); item != 0; item = tree.nextSibling(item)) pending.push_back(item);
  for (size_t i = 0; i < pending.size(); ++i) {
    items.push_back(pending[i]);
    std::vector<TreeItem> children;
    for (TreeItem child = tree.childItem(pending[i]); child != 0; child = tree.nextSibling(child)) {
      children.push_back(child);
    }
    pending.insert(pending.begin() + static_cast<ptrdiff_t>(i) + 1, children.begin(), children.end());
  }
  return items;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cpl_screenshots OUTPUT_DIRECTORY\n");
    return 2;
  }
  const std::filesystem::path output = argv[1];
  std::filesystem::create_directories(output);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setResources(&cpl::resources());
  Application application(argc, argv);
  bool ok = true;
  {
    MainFrame frame(MainFrame::Options{false, true});
    frame.createFrame(Rect{0, 0, MainFrame::kMinimumWidth, MainFrame::kMinimumHeight});
    showWindow(frame.handle(), SW_SHOWNORMAL);
    TreeView& tree = *frame.treePage().tree();
    // The tree fills with the device list; the service announces it (3030).
    if (!QTest::qWaitFor([&] { return tree.count() > 7; }, 10000)) {
      std::fprintf(stderr, "cpl_screenshots: the control panel did not find the driver and its devices\n");
      ui_testing::saveScreenshot(frame.widget(), output / "orvanecpl-no-device.png");
      return 1;
    }
    QTest::qWait(300);
    for (const TreeItem item : allItems(tree)) {
      tree.selectItem(item);
      QTest::qWait(item == tree.rootItem() ? 300 : 150);
      if (tree.itemText(item) == u"Status Info") {
        // A counter chosen, so that its explanation shows; one refresh of the values.
        frame.statusInfoPage().controlAs<ListView>(FormStatusInfo::kListId)->selectItem(1);
        QTest::qWait(1200);
      }
      ok = ui_testing::saveScreenshot(
               frame.widget(), output / ("orvanecpl-" + ui_testing::screenshotName(tree.itemText(item)) + ".png")) &&
           ok;
    }
    // Both mixers of the first device, their meters moving with a stream of
    // the driver's test signal on every input.
    ui_testing::RawAsioStream stream;
    if (const uint32_t status = stream.start(cpl::kDeviceLinkName); status != 0) {
      std::fprintf(stderr, "cpl_screenshots: no stream for the meters (%s)\n", orvaneStatusName(status));
    }
    if (const OrvaneDevice* device = mainConnection().deviceAt(0)) {
      for (FormMixer* mixer : {frame.monitorMixer(device->deviceId()), frame.playbackMixer(device->deviceId())}) {
        mixer->showMixer();
        QTest::qWait(600);
        ok = ui_testing::saveScreenshot(
                 mixer->widget(),
                 output / (mixer->isMonitor() ? "orvanecpl-monitor-mixer.png" : "orvanecpl-playback-mixer.png")) &&
             ok;
        sendMessage(mixer->handle(), WM_CLOSE);
      }
    }
    stream.stop();
    CAboutDlg about;
    QTimer::singleShot(300, [&] {
      ok = ui_testing::saveScreenshot(about.widget(), output / "orvanecpl-about.png") && ok;
      about.endDialog(IDOK);
    });
    about.doModal(frame.handle());
    destroyWindow(frame.handle());
  }
  return ok ? 0 : 1;
}
