// Renders the spy tool's pages and its about box into PNG files, on Qt's
// offscreen platform, against the kernel driver of the current system root,
// with a stream running so that the counters are real.
//
//   spy_screenshots OUTPUT_DIRECTORY
//
// One picture of each kind of page (the first node of each), the window with
// an input stream chosen (the README's picture) and the about box. Prints one
// line per file. Exit code 0, or 1 when the driver could not be reached or a
// file could not be written.

#include <QDialog>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include "device-access/orvane_status.h"
#include "platform/text.h"
#include "platform/ui/application.h"
#include "platform/ui/window.h"
#include "spy/c_about_dlg.h"
#include "spy/main_frame.h"
#include "spy/spy_resources.h"
#include "tests/ui-support/raw_asio_stream.h"
#include "tests/ui-support/screenshot_files.h"

using namespace platform::ui;

namespace {

// The ASIO driver's device link, where the stream's connection goes.
constexpr char16_t kAsioLink[] = u"{7045B601-879C-4d77-80C0-88D4F867070B}";

// Every item of the tree, depth first.
void collect(const TreeView& tree, TreeItem first, std::vector<TreeItem>& items) {
  for (TreeItem item = first; item != 0; item = tree.nextSibling(item)) {
    items.push_back(item);
    collect(tree, tree.childItem(item), items);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: spy_screenshots OUTPUT_DIRECTORY\n");
    return 2;
  }
  const std::filesystem::path output = argv[1];
  std::filesystem::create_directories(output);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setResources(&spy::resources());
  Application application(argc, argv);
  bool ok = true;
  {
    ui_testing::RawAsioStream stream;
    if (const uint32_t status = stream.start(kAsioLink); status != 0) {
      std::fprintf(stderr, "spy_screenshots: no stream for the counters (%s)\n", orvaneStatusName(status));
    }
    MainFrame frame;
    frame.createFrame(Rect{0, 0, 760, MainFrame::kMinimumHeight});
    showWindow(frame.handle(), SW_SHOWNORMAL);
    TreeView& tree = *frame.treePage().tree();
    if (!QTest::qWaitFor([&] { return tree.count() > 3; }, 10000)) {
      std::fprintf(stderr, "spy_screenshots: the spy tool did not find the driver and its devices\n");
      ui_testing::saveScreenshot(frame.widget(), output / "orvanespy-no-device.png");
      return 1;
    }
    QTest::qWait(1200);  // one refresh with the stream going
    std::vector<TreeItem> items;
    collect(tree, tree.rootItem(), items);
    std::set<std::string> kinds;
    for (const TreeItem item : items) {
      auto* page = reinterpret_cast<FormBase*>(tree.itemData(item));
      if (page == nullptr || !kinds.insert(typeid(*page).name() + std::to_string(tree.itemImage(item))).second)
        continue;
      tree.selectItem(item);
      QTest::qWait(150);
      ok = ui_testing::saveScreenshot(
               frame.widget(), output / ("orvanespy-" + ui_testing::screenshotName(tree.itemText(item)) + ".png")) &&
           ok;
    }
    // The window as the README shows it: the input stream's counters, moving,
    // with the tree scrolled back to its top.
    tree.selectItem(tree.rootItem());
    QTest::qWait(50);
    for (const TreeItem item : items) {
      if (tree.itemText(item) != u"IN Stream 0") continue;
      tree.selectItem(item);
      QTest::qWait(2200);
      ok = ui_testing::saveScreenshot(frame.widget(), output / "orvanespy-main.png") && ok;
      break;
    }
    stream.stop();
    CAboutDlg about;
    QTimer::singleShot(300, [&] {
      ok = ui_testing::saveScreenshot(about.widget(), output / "orvanespy-about.png") && ok;
      about.endDialog(IDOK);
    });
    about.doModal(frame.handle());
    destroyWindow(frame.handle());
  }
  return ok ? 0 : 1;
}
