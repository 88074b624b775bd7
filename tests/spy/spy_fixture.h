#pragma once
// The spy tool's tests: a main window of the real program in this process,
// on Qt's offscreen platform, against the simulated kernel driver in a device
// host process of its own (or against no driver at all, for records built by
// hand). Message boxes are answered by the test.

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/message_box.h"
#include "platform/ui/resources.h"
#include "spy/main_frame.h"
#include "spy/spy_resources.h"
#include "tests/ui-support/emulated_machine.h"
#include "tests/ui-support/tree_items.h"

namespace spy_testing {

using namespace platform::ui;
using ui_testing::childTexts;
using ui_testing::DeviceSpec;
using ui_testing::findItem;

inline DeviceSpec device(const std::string& serial, const std::string& moreLines = "") {
  DeviceSpec plugged{serial, "Orvane " + serial};
  plugged.moreLines = moreLines;
  return plugged;
}

// The whole tree as indented lines, for failure messages.
inline std::string treeDump(const TreeView& tree, TreeItem parent = 0, int depth = 0) {
  std::string dump;
  for (TreeItem item = parent == 0 ? tree.rootItem() : tree.childItem(parent); item != 0;
       item = tree.nextSibling(item)) {
    dump += std::string(static_cast<size_t>(depth) * 2, ' ') + platform::toUtf8(tree.itemText(item)) + "\n";
    dump += treeDump(tree, item, depth + 1);
  }
  return dump;
}

// The item below `parent` reached through the texts in order; 0 when one is missing.
inline TreeItem itemAt(const TreeView& tree, const std::vector<std::u16string>& path) {
  TreeItem found = 0;
  for (const std::u16string& text : path) {
    TreeItem item = found == 0 ? tree.rootItem() : tree.childItem(found);
    while (item != 0 && tree.itemText(item) != text) item = tree.nextSibling(item);
    if (item == 0) return 0;
    found = item;
  }
  return found;
}

class SpyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setResources(&spy::resources());
    setMessageBoxResponder([this](const MessageBoxRequest& request) {
      messageBoxes.push_back(request);
      return IDOK;
    });
  }

  void TearDown() override {
    frame_.reset();
    setMessageBoxResponder({});
  }

  MainFrame& openFrame() {
    frame_ = std::make_unique<MainFrame>();
    EXPECT_TRUE(frame_->createFrame(Rect{40, 30, 40 + 700, 30 + MainFrame::kMinimumHeight}));
    showWindow(frame_->handle(), SW_SHOWNORMAL);
    return *frame_;
  }

  // Starts the machine with `devices` and opens the window on it.
  MainFrame& openConnectedFrame(const std::vector<DeviceSpec>& devices,
                                const ui_testing::DriverParameters& parameters = debugDriver()) {
    EXPECT_TRUE(machine.start(devices, parameters));
    return openFrame();
  }

  static ui_testing::DriverParameters debugDriver() {
    ui_testing::DriverParameters parameters;
    parameters.debugBuild = true;
    return parameters;
  }

  void closeFrame() { frame_.reset(); }

  static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    return QTest::qWaitFor(condition, timeoutMs);
  }

  MainFrame& frame() { return *frame_; }
  TreeView& tree() { return *frame_->treePage().tree(); }
  std::string dump() { return frame_ ? treeDump(tree()) : std::string(); }
  std::vector<std::u16string> selectedPath() {
    std::vector<std::u16string> path;
    const TreeItem selected = tree().selectedItem();
    std::function<bool(TreeItem)> walk = [&](TreeItem first) {
      for (TreeItem item = first; item != 0; item = tree().nextSibling(item)) {
        path.push_back(tree().itemText(item));
        if (item == selected || walk(tree().childItem(item))) return true;
        path.pop_back();
      }
      return false;
    };
    if (selected != 0) walk(tree().rootItem());
    return path;
  }

  ui_testing::EmulatedMachine machine;
  std::vector<MessageBoxRequest> messageBoxes;

 private:
  std::unique_ptr<MainFrame> frame_;
};

}  // namespace spy_testing
