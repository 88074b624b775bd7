// The echo plug-in page against the simulated kernel driver: the pairs it
// offers, the values it reads and the records it writes while a slider moves.

#include <optional>

#include "control-panel/form_plugin.h"
#include "device-access/orvane_status.h"
#include "tests/control-panel/control_panel_fixture.h"

namespace cpl_testing {
namespace {

class PluginPageTest : public ControlPanelTest {
 protected:
  static DeviceSpec echoDevice(uint32_t lineOutputs = 4) {
    DeviceSpec plugged = device("QT0001", true);
    plugged.i2sOutputs = lineOutputs;
    return plugged;
  }

  FormPlugin& openPage(const DeviceSpec& plugged = echoDevice()) {
    openConnectedFrame({plugged});
    return showPage();
  }

  FormPlugin& showPage() {
    tree().selectItem(findItem(tree(), u"Plugin0"));
    page_ = dynamic_cast<FormPlugin*>(frame().currentForm());
    EXPECT_NE(page_, nullptr);
    pairs_ = page_->controlAs<ComboBox>(FormPlugin::kPairsId);
    delay_ = page_->controlAs<TrackBar>(FormPlugin::kDelayId);
    amplification_ = page_->controlAs<TrackBar>(FormPlugin::kAmplificationId);
    own_.emplace();
    return *page_;
  }

  // A value in the driver, read on a connection of the test's own.
  uint32_t driverValue(uint32_t selector, uint32_t channel) {
    ORVANE_PLUGIN_PARAMETERS parameters{};
    parameters.selector = selector;
    parameters.answerOrPairCount = 1;
    parameters.pairs[0].channel = channel;
    EXPECT_EQ(own_->device().ioctlGetPluginParameters(&parameters, sizeof parameters), 0u);
    return parameters.pairs[0].value;
  }

  void setDriverValue(uint32_t selector, uint32_t channel, uint32_t value) {
    ORVANE_PLUGIN_PARAMETERS parameters{};
    parameters.selector = selector;
    parameters.answerOrPairCount = 1;
    parameters.pairs[0] = {channel, value};
    ASSERT_EQ(own_->device().ioctlSetPluginParameters(&parameters, sizeof parameters), 0u);
  }

  void choosePair(int position) {
    ASSERT_TRUE(pairs_->setCurrentSelection(position));
    sendMessage(page_->handle(), WM_COMMAND, makeWParam(FormPlugin::kPairsId, CBN_SELCHANGE),
                static_cast<LParam>(pairs_->handle().value));
  }


  FormPlugin* page_ = nullptr;
  ComboBox* pairs_ = nullptr;
  TrackBar* delay_ = nullptr;
  TrackBar* amplification_ = nullptr;
  std::optional<OwnConnection> own_;
};

TEST_F(PluginPageTest, OffersOneItemPerWholePairAndTheDriversDelayRange) {
  // Three line and two S/PDIF outputs: five channels, two whole pairs.
  DeviceSpec plugged = echoDevice(3);
  plugged.moreLines += "spdif_outputs = 2\n";
  openPage(plugged);
  ASSERT_EQ(pairs_->count(), 2);
  EXPECT_EQ(pairs_->itemText(0), u"Channel 01/02");
  EXPECT_EQ(pairs_->itemData(0), 0);
  EXPECT_EQ(pairs_->itemText(1), u"Channel 03/04");
  EXPECT_EQ(pairs_->itemData(1), 2);
  EXPECT_EQ(pairs_->currentSelection(), 0);
  EXPECT_EQ(page_->maximumDelay(), 500u);
  EXPECT_EQ(delay_->minimum(), 0);
  EXPECT_EQ(delay_->maximum(), 500);
  EXPECT_EQ(amplification_->maximum(), 1000);
  // Nothing set yet: delay 0 and amplification 0, both sliders at the bottom.
  EXPECT_EQ(page_->itemText(FormPlugin::kDelayTextId), u"0 ms");
  EXPECT_EQ(delay_->position(), 500);
  EXPECT_EQ(page_->itemText(FormPlugin::kAmplificationTextId), u"0.00");
  EXPECT_EQ(amplification_->position(), 1000);
}

TEST_F(PluginPageTest, MovingTheDelaySliderWritesBothChannelsOfThePair) {
  openPage();
  choosePair(1);
  delay_->moveTo(30, SB_THUMBTRACK);
  EXPECT_EQ(driverValue(ORVANE_PLUGIN_DELAY, 2), 470u);
  EXPECT_EQ(driverValue(ORVANE_PLUGIN_DELAY, 3), 470u);
  EXPECT_EQ(driverValue(ORVANE_PLUGIN_DELAY, 0), 0u) << "the other pair is untouched";
  EXPECT_EQ(page_->itemText(FormPlugin::kDelayTextId), u"470 ms");
  EXPECT_EQ(delay_->position(), 30);
}

TEST_F(PluginPageTest, AmplificationIsWrittenInThousandthsAndShownInHundredths) {
  openPage();
  amplification_->moveTo(250, SB_LINEDOWN);
  EXPECT_EQ(driverValue(ORVANE_PLUGIN_AMPLIFICATION, 0), 750u);
  EXPECT_EQ(driverValue(ORVANE_PLUGIN_AMPLIFICATION, 1), 750u);
  EXPECT_EQ(page_->itemText(FormPlugin::kAmplificationTextId), u"0.75");
  amplification_->moveTo(0, SB_THUMBPOSITION);
  EXPECT_EQ(page_->itemText(FormPlugin::kAmplificationTextId), u"1.00");
  EXPECT_EQ(amplification_->position(), 0) << "the top is the largest value";
  // The end of a drag writes nothing.
  amplification_->moveTo(900, SB_ENDSCROLL);
  EXPECT_EQ(driverValue(ORVANE_PLUGIN_AMPLIFICATION, 0), 1000u);
}

TEST_F(PluginPageTest, ChoosingAPairReadsItsValues) {
  openPage();
  setDriverValue(ORVANE_PLUGIN_DELAY, 2, 120);
  setDriverValue(ORVANE_PLUGIN_AMPLIFICATION, 2, 505);
  choosePair(1);
  EXPECT_EQ(page_->itemText(FormPlugin::kDelayTextId), u"120 ms");
  EXPECT_EQ(delay_->position(), 380);
  EXPECT_EQ(page_->itemText(FormPlugin::kAmplificationTextId), u"0.50");
  choosePair(0);
  EXPECT_EQ(page_->itemText(FormPlugin::kDelayTextId), u"0 ms");
}

TEST_F(PluginPageTest, ARefusedWriteShowsTheDriversValueAndAFailedReadKeepsTheShownOne) {
  openPage();
  delay_->moveTo(400, SB_THUMBTRACK);  // 100 ms
  const usbaudio_sim::SIM_FAULT refuse{ORVANE_IOCTL_SET_PLUGIN_PARAMETERS, ORVANE_STATUS_DEVICE_REMOVED, 0, 1};
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &refuse, sizeof refuse), 0u);
  delay_->moveTo(100, SB_THUMBTRACK);
  EXPECT_EQ(driverValue(ORVANE_PLUGIN_DELAY, 0), 100u);
  EXPECT_EQ(page_->itemText(FormPlugin::kDelayTextId), u"100 ms");
  EXPECT_EQ(delay_->position(), 400) << "back to the driver's value";

  const usbaudio_sim::SIM_FAULT unreadable{ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, ORVANE_STATUS_DEVICE_REMOVED, 0, 2};
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &unreadable, sizeof unreadable), 0u);
  choosePair(0);
  EXPECT_EQ(page_->itemText(FormPlugin::kDelayTextId), u"100 ms");
  EXPECT_EQ(delay_->position(), 400);
  EXPECT_TRUE(messageBoxes.empty()) << "failures are not reported";
}

TEST_F(PluginPageTest, AnUnreadableMaximumDelayGivesTheDefaultRange) {
  ASSERT_TRUE(machine.start({echoDevice()}));
  const usbaudio_sim::SIM_FAULT fault{ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, ORVANE_STATUS_DEVICE_REMOVED, 0, 1};
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault), 0u);
  openFrame();
  machine.announceDeviceList();
  ASSERT_TRUE(waitFor([&] { return tree().count() == 9; })) << treeDump();
  showPage();
  EXPECT_EQ(page_->maximumDelay(), 100u);
  EXPECT_EQ(delay_->maximum(), 100);
}

TEST_F(PluginPageTest, ADeviceWithoutTheEchoPlugInHasNoPage) {
  openConnectedFrame({device("QT0001"), device("QT0002", true)});
  EXPECT_EQ(findItem(tree(), u"Plugin0"), 0u);
  EXPECT_NE(findItem(tree(), u"Plugin1"), 0u);
}

}  // namespace
}  // namespace cpl_testing
