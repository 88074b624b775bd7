#pragma once
// The control panel's tests: a main window of the real program in this
// process, on Qt's offscreen platform, against the simulated kernel driver in
// a device host process of its own. Message boxes are answered by the test.

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control-panel/control_panel_resources.h"
#include "control-panel/main_frame.h"
#include "control-panel/orvane_cpl_client.h"
#include "platform/ui/controls.h"
#include "platform/ui/message_box.h"
#include "platform/ui/resources.h"
#include "tests/ui-support/emulated_machine.h"
#include "tests/ui-support/tree_items.h"

namespace cpl_testing {

using namespace platform::ui;
using ui_testing::DeviceSpec;

inline DeviceSpec device(const std::string& serial, bool echoPlugin = false) {
  DeviceSpec plugged{serial, "Quintor " + serial};
  if (echoPlugin) plugged.moreLines = "echo_plugin = yes\n";
  return plugged;
}

using ui_testing::childTexts;
using ui_testing::findItem;

// A driver connection of the test's own with the device list read, to check
// what the pages did in the kernel driver.
class OwnConnection {
 public:
  OwnConnection() {
    EXPECT_EQ(driver_.openDriver(sim_testing::kPanelLink, false, false), 0u);
    bool changed = false;
    EXPECT_EQ(driver_.updateDeviceList(changed), 0u);
  }
  OrvaneDriver& driver() { return driver_; }
  // The connection of the device at a position of the list.
  OrvaneDevice& device(size_t position = 0) { return *driver_.deviceAt(position); }

 private:
  OrvaneDriver driver_;
};

class ControlPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setResources(&cpl::resources());
    setMessageBoxResponder([this](const MessageBoxRequest& request) {
      messageBoxes.push_back(request);
      return IDOK;
    });
  }

  void TearDown() override {
    frame_.reset();
    // The program's connection outlives its frame; forget this test's devices.
    bool changed = false;
    mainConnection().closeDriver();
    mainConnection().updateDeviceList(changed);
    setMessageBoxResponder({});
  }

  // Opens the main window, shown, without a notification area icon unless asked.
  MainFrame& openFrame(MainFrame::Options options = {false, true}) {
    frame_ = std::make_unique<MainFrame>(options);
    EXPECT_TRUE(frame_->createFrame(Rect{40, 30, 40 + MainFrame::kMinimumWidth, 30 + MainFrame::kMinimumHeight}));
    if (!options.hide) showWindow(frame_->handle(), SW_SHOWNORMAL);
    return *frame_;
  }

  // Starts the machine and opens the window, whose tree fills when the
  // device list is announced.
  MainFrame& openConnectedFrame(const std::vector<DeviceSpec>& devices) {
    EXPECT_TRUE(machine.start(devices));
    MainFrame& frame = openFrame();
    machine.announceDeviceList();
    EXPECT_TRUE(waitFor([&] { return tree().count() == expectedItems(devices); })) << treeDump();
    return frame;
  }

  static int expectedItems(const std::vector<DeviceSpec>& devices) {
    int items = 7;
    for (const DeviceSpec& plugged : devices) items += plugged.moreLines.find("echo_plugin = yes") != std::string::npos ? 2 : 1;
    return items;
  }

  static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    return QTest::qWaitFor(condition, timeoutMs);
  }

  // Moves the streaming engine through a connection of the test's own; the
  // kernel driver tells nobody.
  void streamingCommand(uint32_t command) {
    OrvaneDriver connection;
    ASSERT_EQ(connection.openDriver(sim_testing::kPanelLink, false, false), 0u);
    ASSERT_EQ(connection.ioctlStreamingControl(command), 0u);
  }

  // Changes the sample rate outside the service; the driver posts 3001.
  void changeRateOutsideTheService(uint32_t rate) {
    const usbaudio_sim::SIM_SETTINGS settings{rate, usbaudio_sim::SIM_KEEP, usbaudio_sim::SIM_KEEP, 0};
    ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_CHANGE_SETTINGS, &settings, sizeof settings), 0u);
  }

  MainFrame& frame() { return *frame_; }
  TreeView& tree() { return *frame_->treePage().tree(); }

  std::u16string paneText(int pane) { return frame_->paneText(pane); }

  std::string treeDump() {
    std::string dump;
    if (frame_ == nullptr) return dump;
    for (const std::u16string& text : childTexts(tree())) dump += platform::toUtf8(text) + "; ";
    return dump;
  }

  ui_testing::EmulatedMachine machine;
  std::vector<MessageBoxRequest> messageBoxes;

 private:
  std::unique_ptr<MainFrame> frame_;
};

}  // namespace cpl_testing
