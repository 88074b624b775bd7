// The sample rate and buffer settings pages against the simulated kernel
// driver and the device control service, each a process of its own.

#include <signal.h>

#include "control-panel/form_buffer_settings.h"
#include "control-panel/form_sample_rate.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_status.h"
#include "platform/format.h"
#include "tests/control-panel/service_panel_fixture.h"

namespace cpl_testing {
namespace {

std::vector<std::u16string> comboTexts(const ComboBox& combo) {
  std::vector<std::u16string> texts;
  for (int i = 0; i < combo.count(); ++i) texts.push_back(combo.itemText(i));
  return texts;
}

// ---------------------------------------------------------------------------
// Sample Rate

class SampleRatePageTest : public ServicePanelTest {
 protected:
  void open(const std::string& rates = "44100 48000 96000", const std::string& moreLines = "") {
    DeviceSpec plugged = serviceDevice("QT0001", rates);
    plugged.moreLines += moreLines;
    MainFrame& window = openServiceFrame({plugged});
    page_ = &window.sampleRatePage();
    rates_ = page_->controlAs<ComboBox>(FormSampleRate::kRateId);
    tree().selectItem(findItem(tree(), u"Sample Rate"));
  }

  uint32_t driverRate() {
    ORVANE_SAMPLE_RATES rates{};
    EXPECT_EQ(ownConnection().ioctlGetSampleRates(rates), 0u);
    return rates.currentRate;
  }

  void choose(std::u16string_view text) { ASSERT_TRUE(rates_->setCurrentSelection(rates_->findStringExact(text))); }
  void apply() { page_->controlAs<Button>(FormSampleRate::kApplyId)->click(); }
  std::u16string selectedText() { return rates_->itemText(rates_->currentSelection()); }
  bool dsdTextShown() { return isWindowVisible(page_->item(FormSampleRate::kDsdTextId)); }

  FormSampleRate* page_ = nullptr;
  ComboBox* rates_ = nullptr;
};

TEST_F(SampleRatePageTest, OffersExactlyTheDriversRatesWithTheCurrentOneSelected) {
  open();
  EXPECT_EQ(comboTexts(*rates_), (std::vector<std::u16string>{u"44.100 kHz", u"48.000 kHz", u"96.000 kHz"}));
  EXPECT_EQ(rates_->itemData(2), 96000);
  EXPECT_EQ(rates_->itemData(rates_->currentSelection()), static_cast<LParam>(driverRate()));
  EXPECT_FALSE(dsdTextShown());
  EXPECT_TRUE(isWindowEnabled(rates_->handle()));
}

TEST_F(SampleRatePageTest, ApplyChangesTheRateInTheDriverAndTheStatusBar) {
  open();
  const std::u16string target = driverRate() == 96000 ? u"48.000 kHz" : u"96.000 kHz";
  const uint32_t targetRate = driverRate() == 96000 ? 48000 : 96000;
  choose(target);
  apply();
  EXPECT_TRUE(messageBoxes.empty()) << platform::toUtf8(messageBoxes.front().text);
  EXPECT_EQ(driverRate(), targetRate);
  EXPECT_EQ(selectedText(), target);
  EXPECT_TRUE(waitFor([&] { return paneText(MainFrame::kRatePane) == u"Current sampling rate: " + target; }))
      << platform::toUtf8(paneText(MainFrame::kRatePane));
}

TEST_F(SampleRatePageTest, ARefusalWhileASoundDeviceIsInUseShowsTheErrorBoxAndTheRateInForce) {
  open();
  const uint32_t before = driverRate();
  switchSoundDevice(true);
  choose(before == 96000 ? u"48.000 kHz" : u"96.000 kHz");
  apply();
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].text, pageErrorText(u"Changing the sample rate failed.", ORVANE_STATUS_SOUND_DEVICE_IN_USE));
  EXPECT_EQ(messageBoxes[0].type, MB_OK | MB_ICONERROR);
  EXPECT_EQ(messageBoxes[0].owner, page_->handle());
  EXPECT_EQ(driverRate(), before);
  EXPECT_EQ(rates_->itemData(rates_->currentSelection()), static_cast<LParam>(before)) << "back to the rate in force";
}

TEST_F(SampleRatePageTest, ADsdRateIsShownAndCannotBeChosenHere) {
  open("44100 48000 2822400 5644800", "dsd_inputs = 2\ndsd_outputs = 2\n");
  const uint32_t before = driverRate();
  choose(u"2822.400 kHz");
  apply();
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].text,
            u"Changing to this the sample rate prohibited.\nIt sample rate can be installed only from ASIO host for DSD "
            u"mode.");
  EXPECT_EQ(messageBoxes[0].type, MB_OK | MB_ICONWARNING);
  EXPECT_EQ(messageBoxes[0].caption, loadString(cpl::IDR_MAINFRAME));
  EXPECT_EQ(driverRate(), before) << "nothing was sent";

  // A DSD rate, as an ASIO host asks the service for it, shows the DSD text.
  OrvaneClient host;
  ASSERT_EQ(host.openConnection(sim_testing::kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  ASSERT_EQ(host.setSampleRate(5644800, 10000), 0u);
  EXPECT_TRUE(waitFor([&] { return dsdTextShown(); }));
  EXPECT_EQ(selectedText(), u"5644.800 kHz");
}

TEST_F(SampleRatePageTest, AFailedReadEmptiesAndDisablesTheControls) {
  open();
  const usbaudio_sim::SIM_FAULT fault{ORVANE_IOCTL_GET_SAMPLE_RATES, ORVANE_STATUS_DEVICE_REMOVED, 0, 1};
  ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault), 0u);
  page_->updateForm();
  EXPECT_EQ(rates_->count(), 0);
  EXPECT_FALSE(isWindowEnabled(rates_->handle()));
  EXPECT_FALSE(isWindowEnabled(page_->item(FormSampleRate::kApplyId)));
  EXPECT_TRUE(messageBoxes.empty());
  page_->updateForm();
  EXPECT_EQ(rates_->count(), 3);
  EXPECT_TRUE(isWindowEnabled(page_->item(FormSampleRate::kApplyId)));
}

TEST_F(SampleRatePageTest, AServiceThatDoesNotAnswerGivesTheTimeOutBox) {
  open();
  ASSERT_TRUE(freezeService());
  const uint32_t before = driverRate();
  choose(before == 96000 ? u"48.000 kHz" : u"96.000 kHz");
  apply();  // blocks the window for the 30 s of the wait
  thawService();
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].text, pageErrorText(u"Changing the sample rate failed.", ORVANE_STATUS_TIMEOUT));
  EXPECT_EQ(rates_->itemData(rates_->currentSelection()), static_cast<LParam>(before));
}

// ---------------------------------------------------------------------------
// Buffer Settings

TEST(BufferSettingsTexts, LengthsAreTruncatedToTenthsOfAMillisecond) {
  struct Case {
    uint32_t microseconds;
    std::u16string text;
  } cases[] = {{2666, u"2.6 millisecs"}, {1333, u"1.3 millisecs"}, {5333, u"5.3 millisecs"},
               {999, u"0.9 millisecs"},  {10000, u"10.0 millisecs"}, {0, u"0.0 millisecs"}};
  for (const Case& c : cases) EXPECT_EQ(FormBufferSettings::millisecondsText(c.microseconds), c.text) << c.microseconds;
  EXPECT_EQ(FormBufferSettings::streamingClassName(5), u"Safe");
  EXPECT_EQ(FormBufferSettings::streamingClassName(7), u"unknown");
  EXPECT_EQ(FormBufferSettings::asioClassName(3), u"Maximum");
  EXPECT_EQ(FormBufferSettings::asioClassName(4), u"unknown");
}

class BufferSettingsPageTest : public ServicePanelTest {
 protected:
  void SetUp() override {
    ServicePanelTest::SetUp();
    MainFrame& window = openServiceFrame({serviceDevice("QT0001")});
    page_ = &window.bufferSettingsPage();
    streaming_ = page_->controlAs<ComboBox>(FormBufferSettings::kStreamingSizeId);
    asio_ = page_->controlAs<ComboBox>(FormBufferSettings::kAsioSizeId);
    tree().selectItem(findItem(tree(), u"Buffer Settings"));
  }

  ORVANE_BUFFER_SIZES driverSizes() {
    ORVANE_BUFFER_SIZES sizes{};
    EXPECT_EQ(ownConnection().ioctlGetBufferSizes(sizes), 0u);
    return sizes;
  }

  void expectShows(const ORVANE_BUFFER_SIZES& sizes) {
    EXPECT_EQ(streaming_->itemData(streaming_->currentSelection()), sizes.streamingBufferSizeClass);
    EXPECT_EQ(asio_->itemData(asio_->currentSelection()), sizes.asioBufferSizeClass);
    EXPECT_EQ(page_->itemText(FormBufferSettings::kStreamingLengthId),
              FormBufferSettings::millisecondsText(sizes.streamingBufferMicroseconds) + u"\n");
    EXPECT_EQ(page_->itemText(FormBufferSettings::kAsioLengthId),
              FormBufferSettings::millisecondsText(sizes.asioBufferMicroseconds) +
                  platform::formatText(u"\n%u samples", sizes.asioBufferSamples));
  }

  void apply() { page_->controlAs<Button>(FormBufferSettings::kApplyId)->click(); }

  FormBufferSettings* page_ = nullptr;
  ComboBox* streaming_ = nullptr;
  ComboBox* asio_ = nullptr;
};

TEST_F(BufferSettingsPageTest, ShowsTheClassesAndLengthsInForce) {
  EXPECT_EQ(comboTexts(*streaming_), (std::vector<std::u16string>{u"Minimum", u"ExtraSmall", u"Small", u"Large",
                                                                  u"ExtraLarge", u"Safe"}));
  EXPECT_EQ(comboTexts(*asio_), (std::vector<std::u16string>{u"Minimum", u"Small", u"Large", u"Maximum"}));
  expectShows(driverSizes());
}

TEST_F(BufferSettingsPageTest, ApplyChangesBothClassesInTheDriver) {
  const ORVANE_BUFFER_SIZES before = driverSizes();
  const uint32_t streamingClass = before.streamingBufferSizeClass == 4 ? 3 : 4;
  const uint32_t asioClass = before.asioBufferSizeClass == 3 ? 2 : 3;
  streaming_->setCurrentSelection(static_cast<int>(streamingClass));
  asio_->setCurrentSelection(static_cast<int>(asioClass));
  apply();
  EXPECT_TRUE(messageBoxes.empty()) << platform::toUtf8(messageBoxes.front().text);
  const ORVANE_BUFFER_SIZES after = driverSizes();
  EXPECT_EQ(after.streamingBufferSizeClass, streamingClass);
  EXPECT_EQ(after.asioBufferSizeClass, asioClass);
  EXPECT_EQ(after.thirdSetting, before.thirdSetting);
  expectShows(after);
}

TEST_F(BufferSettingsPageTest, ARefusalWhileASoundDeviceIsInUseShowsTheErrorBoxAndTheClassesInForce) {
  const ORVANE_BUFFER_SIZES before = driverSizes();
  switchSoundDevice(true);
  streaming_->setCurrentSelection(before.streamingBufferSizeClass == 5 ? 0 : 5);
  apply();
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].text,
            pageErrorText(u"Changing the buffer sizes failed.", ORVANE_STATUS_SOUND_DEVICE_IN_USE));
  expectShows(before);
}

TEST_F(BufferSettingsPageTest, AServiceThatDoesNotAnswerGivesTheTimeOutBox) {
  const ORVANE_BUFFER_SIZES before = driverSizes();
  ASSERT_TRUE(freezeService());
  streaming_->setCurrentSelection(before.streamingBufferSizeClass == 5 ? 0 : 5);
  apply();  // blocks the window for the 30 s of the wait
  thawService();
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].text, pageErrorText(u"Changing the buffer sizes failed.", ORVANE_STATUS_TIMEOUT));
  expectShows(before);
}

TEST_F(BufferSettingsPageTest, AFailedReadBeforeTheChangeIsReportedAndNothingIsSent) {
  const ORVANE_BUFFER_SIZES before = driverSizes();
  const usbaudio_sim::SIM_FAULT fault{ORVANE_IOCTL_GET_BUFFER_SIZES, ORVANE_STATUS_DEVICE_REMOVED, 0, 1};
  ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault), 0u);
  streaming_->setCurrentSelection(before.streamingBufferSizeClass == 5 ? 0 : 5);
  apply();
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].text, pageErrorText(u"Get the buffer sizes failed.", ORVANE_STATUS_DEVICE_REMOVED));
  EXPECT_EQ(driverSizes().streamingBufferSizeClass, before.streamingBufferSizeClass);
  expectShows(before);
}

TEST_F(BufferSettingsPageTest, AFailedRefreshDisablesTheControlsAndKeepsTheirContents) {
  const std::u16string length = page_->itemText(FormBufferSettings::kStreamingLengthId);
  const usbaudio_sim::SIM_FAULT fault{ORVANE_IOCTL_GET_BUFFER_SIZES, ORVANE_STATUS_DEVICE_REMOVED, 0, 1};
  ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault), 0u);
  page_->updateForm();
  for (int id : {FormBufferSettings::kStreamingSizeId, FormBufferSettings::kAsioSizeId, FormBufferSettings::kApplyId,
                 FormBufferSettings::kStreamingLengthId, FormBufferSettings::kAsioLengthId}) {
    EXPECT_FALSE(isWindowEnabled(page_->item(id))) << id;
  }
  EXPECT_EQ(page_->itemText(FormBufferSettings::kStreamingLengthId), length);
  EXPECT_GE(streaming_->currentSelection(), 0);
  EXPECT_TRUE(messageBoxes.empty());
}

}  // namespace
}  // namespace cpl_testing
