// The control panel on an emulated machine with the device control service:
// the simulated kernel driver and quintorsvc run as separate processes
// (`machine start`), and the device list, its changes and the sound device
// configuration come from the service itself.

#include <memory>

#include "control-panel/orvane_cpl_client.h"
#include "device-access/orvane_status.h"
#include "tests/control-panel/control_panel_fixture.h"
#include "tests/service/service_machine.h"

namespace {

using namespace cpl_testing;
using service_testing::usbaudioSim;

class ControlPanelWithService : public service_testing::ServiceMachineTest {
 protected:
  void SetUp() override {
    ServiceMachineTest::SetUp();
    if (HasFatalFailure()) return;
    setResources(&cpl::resources());
    setMessageBoxResponder([this](const MessageBoxRequest& request) {
      messageBoxes.push_back(request);
      return IDOK;
    });
  }

  void TearDown() override {
    frame.reset();
    bool changed = false;
    mainConnection().closeDriver();
    mainConnection().updateDeviceList(changed);
    setMessageBoxResponder({});
    ServiceMachineTest::TearDown();
  }

  MainFrame& openFrame() {
    frame = std::make_unique<MainFrame>(MainFrame::Options{false, true});
    EXPECT_TRUE(frame->createFrame(Rect{40, 30, 40 + MainFrame::kMinimumWidth, 30 + MainFrame::kMinimumHeight}));
    showWindow(frame->handle(), SW_SHOWNORMAL);
    return *frame;
  }

  TreeView& tree() { return *frame->treePage().tree(); }

  static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    return QTest::qWaitFor(condition, timeoutMs);
  }

  std::unique_ptr<MainFrame> frame;
  std::vector<MessageBoxRequest> messageBoxes;
};

TEST_F(ControlPanelWithService, TheTreeFollowsTheDeviceListTheServiceAnnounces) {
  MainFrame& window = openFrame();
  ASSERT_TRUE(waitFor([&] { return findItem(tree(), u"Device0") != 0; })) << state();
  EXPECT_NE(findItem(tree(), u"Sample Rate"), 0u);
  EXPECT_TRUE(waitFor([&] { return window.paneText(MainFrame::kRatePane) == u"Current sampling rate: 48.000 kHz"; }))
      << platform::toUtf8(window.paneText(MainFrame::kRatePane));

  ASSERT_EQ(usbaudioSim({"unplug", "0"}).exitCode, 0);
  ASSERT_TRUE(waitFor([&] { return tree().count() == 0; })) << state();
  EXPECT_EQ(window.staticTextPage().itemText(FormStaticText::kTextId), u"There is no Quintor device connected.");
  EXPECT_EQ(window.paneText(MainFrame::kStreamingPane), u"Driver not available.");

  ASSERT_EQ(usbaudioSim({"plug", "0"}).exitCode, 0);
  ASSERT_TRUE(waitFor([&] { return findItem(tree(), u"Device0") != 0; })) << state();
  EXPECT_EQ(tree().itemText(tree().selectedItem()), u"Sample Rate");
  EXPECT_TRUE(messageBoxes.empty());
}

TEST_F(ControlPanelWithService, TheSoundDeviceConfigurationTravelsThroughTheService) {
  OrvaneCplClient panel;
  ASSERT_EQ(panel.openConnection(sim_testing::kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  const ORVANE_DEVICE_ID device = firstDevice();
  uint32_t playback = 99;
  uint32_t recording = 99;
  ASSERT_EQ(panel.getSoundDeviceConfiguration(device, playback, recording), 0u);
  EXPECT_EQ(playback, 0u);
  EXPECT_EQ(recording, 0u);

  EXPECT_EQ(panel.setSoundDeviceConfiguration(device, 4, 2), 0u);
  ASSERT_EQ(panel.getSoundDeviceConfiguration(device, playback, recording), 0u);
  EXPECT_EQ(playback, 4u);
  EXPECT_EQ(recording, 2u);

  // Refusals of the service reach the caller unchanged and change nothing.
  EXPECT_EQ(panel.setSoundDeviceConfiguration(device, 6, 0), ORVANE_STATUS_INVALID_PARAMETER);
  const ORVANE_DEVICE_ID unknown{device.first + 7, device.second};
  EXPECT_EQ(panel.setSoundDeviceConfiguration(unknown, 0, 0), ORVANE_STATUS_OBJECT_NOT_FOUND);
  ASSERT_EQ(panel.getSoundDeviceConfiguration(device, playback, recording), 0u);
  EXPECT_EQ(playback, 4u);
  EXPECT_EQ(recording, 2u);
}

}  // namespace
