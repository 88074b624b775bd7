// The mixer windows against the simulated kernel driver: their layout from
// the driver's pins, the gain and meter laws, gains, mutes and crosspoints
// read and written through device requests, and the driver's notifications.

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include <optional>

#include "control-panel/form_mixer.h"
#include "control-panel/mixer_laws.h"
#include "platform/ui/image_list.h"
#include "tests/control-panel/control_panel_fixture.h"
#include "tests/support/program_runner.h"
#include "tests/ui-support/raw_asio_stream.h"

namespace cpl_testing {
namespace {

TEST(MixerLaws, GainSliderAndMeterAtTheirTablePoints) {
  const struct {
    int gain, position;
  } gains[] = {{-6500, 6600}, {-6001, 6600}, {-6000, 6600}, {0, 600}, {600, 0}, {700, 0}, {-400, 1000}};
  for (const auto& c : gains) EXPECT_EQ(gainToPosition(c.gain), c.position) << c.gain;
  const struct {
    int position, gain;
  } positions[] = {{-1, 600}, {0, 600}, {600, 0}, {1000, -400}, {6600, -6000}, {6601, -6000}};
  for (const auto& c : positions) EXPECT_EQ(positionToGain(c.position), c.gain) << c.position;
  const struct {
    int level, position;
  } levels[] = {{-7000, 0}, {-6000, 0}, {-3000, 3000}, {0, 6000}, {50, 6000}};
  for (const auto& c : levels) EXPECT_EQ(levelToMeterPosition(c.level), c.position) << c.level;
}

TEST(MixerTexts, PairNamesGainsAndCrosspoints) {
  const ORVANE_MIXER_PIN type2[2] = {{2, 0, {}}, {2, 1, {}}};
  EXPECT_EQ(FormMixer::inputPairName(type2[0], type2[1]), u"I2S 0/1");
  EXPECT_EQ(FormMixer::outputPairName(type2[0], type2[1]), u"unknown");
  EXPECT_EQ(FormMixer::inputPairName({3, 0, {}}, {3, 1, {}}), u"SPDIF 0/1");
  EXPECT_EQ(FormMixer::outputPairName({5, 2, {}}, {5, 3, {}}), u"Virtual 2/3");
  EXPECT_EQ(FormMixer::outputPairName({9, 0, {}}, {9, 1, {}}), u"unknown");
  EXPECT_EQ(FormStereoOutputCtrl::gainText({{}, 0, 0, -6550}), u"-65");
  EXPECT_EQ(FormStereoOutputCtrl::gainText({{}, 0, 0, 700}), u"7");
  EXPECT_EQ(FormStereoOutputCtrl::gainText({{}, 0, ORVANE_MIXER_GAIN_MUTE, 700}), u"M");
  EXPECT_EQ(FormWeightCtrl::gainText(-1250), u"-12.50");
  EXPECT_EQ(FormWeightCtrl::gainText(0), u"0.00");
  EXPECT_EQ(FormWeightCtrl::gainText(-5), u"-0.05");
  EXPECT_EQ(FormMixerConnection::crosspointText({{}, {}, -1250, ORVANE_MIXER_CROSSPOINT_ON, 0}), u"-12");
  EXPECT_EQ(FormMixerConnection::crosspointText({{}, {}, -1250, 0, 0}), u"x");
}

DeviceSpec mixerDevice(const std::string& serial = "QT0001") {
  DeviceSpec plugged = device(serial);
  plugged.i2sInputs = 8;
  plugged.i2sOutputs = 8;
  plugged.moreLines =
      "spdif_inputs = 2\nspdif_outputs = 2\nmixer_outputs = 0:4 1:2\nmixer_monitor_inputs = 0:5\n"
      "mixer_playback_inputs = 2:4 3:2\n";
  return plugged;
}

class MixerTest : public ControlPanelTest {
 protected:
  FormMixer& openMixer(bool monitor, const DeviceSpec& plugged = mixerDevice()) {
    openConnectedFrame({plugged});
    tree().selectItem(findItem(tree(), u"Device0"));
    auto* page = dynamic_cast<FormDevice*>(frame().currentForm());
    EXPECT_NE(page, nullptr);
    page->controlAs<Button>(monitor ? FormDevice::kMonitorMixerId : FormDevice::kPlaybackMixerId)->click();
    mixer_ = monitor ? frame().monitorMixer(page->deviceId()) : frame().playbackMixer(page->deviceId());
    own_.emplace();
    return *mixer_;
  }


  ORVANE_MIXER_GAIN driverGain(uint8_t type, uint8_t channel) {
    ORVANE_MIXER_GAIN entry{{type, channel, {}}, 0, 0, 0};
    EXPECT_EQ(own_->device().ioctlGetMixerGains(&entry, 1), 0u);
    return entry;
  }
  void setDriverGain(uint8_t type, uint8_t channel, int16_t gain, uint8_t flags = 0) {
    ORVANE_MIXER_GAIN entry{{type, channel, {}}, 0, flags, gain};
    ASSERT_EQ(own_->device().ioctlSetMixerGains(&entry, 1), 0u);
  }
  ORVANE_MIXER_CROSSPOINT driverCrosspoint(ORVANE_MIXER_PIN output, ORVANE_MIXER_PIN input) {
    ORVANE_MIXER_CROSSPOINT entry{output, input, 0, 0, 0};
    EXPECT_EQ(own_->device().ioctlGetMixerCrosspoints(&entry, 1), 0u);
    return entry;
  }

  FormStereoOutputCtrl& strip(size_t j) { return *mixer_->outputStrips()[j]; }
  TrackBar& slider(size_t j, bool left) {
    return *strip(j).controlAs<TrackBar>(left ? FormStereoOutputCtrl::kLeftGainId : FormStereoOutputCtrl::kRightGainId);
  }
  std::u16string stripText(size_t j, bool left) {
    return strip(j).itemText(left ? FormStereoOutputCtrl::kLeftTextId : FormStereoOutputCtrl::kRightTextId);
  }

  FormMixer* mixer_ = nullptr;
  std::optional<OwnConnection> own_;
};

TEST_F(MixerTest, TheMonitorMixerShowsWholeInputPairsAgainstTheOutputPairs) {
  FormMixer& mixer = openMixer(true);
  EXPECT_TRUE(isWindowVisible(mixer.handle()));
  EXPECT_EQ(getWindowText(mixer.handle()), u"Monitor Mixer (hardware inputs)");
  ASSERT_EQ(mixer.inputStrips().size(), 2u) << "the fifth pin has no partner";
  ASSERT_EQ(mixer.outputStrips().size(), 3u);
  EXPECT_EQ(mixer.cells().size(), 6u);
  EXPECT_EQ(mixer.inputStrips()[1]->itemText(FormStereoInputCtrl::kNameId), u"I2S 2/3");
  EXPECT_EQ(strip(0).itemText(FormStereoOutputCtrl::kNameId), u"I2S 0/1");
  EXPECT_EQ(strip(2).itemText(FormStereoOutputCtrl::kNameId), u"SPDIF 0/1");
  EXPECT_EQ(mixer.rowHeader(), u"Hardware Inputs");
  EXPECT_EQ(mixer.timerId(), FormMixer::kTimerId);
  EXPECT_TRUE(mixer.viewsOpen());

  // Placement: cells right of the input strips, the output strips below the rows.
  const Rect input = getWindowRect(mixer.inputStrips()[0]->handle());
  const Rect cell = getWindowRect(mixer.cells()[1]->handle());  // column 0, row 1
  const Rect output = getWindowRect(strip(1).handle());
  EXPECT_EQ(input.left, 0);
  EXPECT_EQ(input.top, FormMixer::kHeaderHeight);
  EXPECT_EQ(cell.left, input.width() + FormMixer::kSeparatorWidth);
  EXPECT_EQ(cell.top, FormMixer::kHeaderHeight + input.height());
  EXPECT_EQ(output.top, FormMixer::kHeaderHeight + 2 * input.height());
  EXPECT_EQ(output.left, input.width() + output.width() + 2 * FormMixer::kSeparatorWidth);
  const Rect client = getClientRect(mixer.handle());
  EXPECT_EQ(client.height(), output.bottom + FormMixer::kHeaderHeight);
}

TEST_F(MixerTest, ThePlaybackMixerShowsThePlaybackChannels) {
  FormMixer& mixer = openMixer(false);
  EXPECT_EQ(getWindowText(mixer.handle()), u"Playback Mixer (ASIO/WDM playback)");
  ASSERT_EQ(mixer.inputStrips().size(), 3u);
  EXPECT_EQ(mixer.inputStrips()[0]->itemText(FormStereoInputCtrl::kNameId), u"I2S 0/1");
  EXPECT_EQ(mixer.inputStrips()[2]->itemText(FormStereoInputCtrl::kNameId), u"SPDIF 0/1");
  EXPECT_EQ(mixer.cells().size(), 9u);
  EXPECT_EQ(mixer.rowHeader(), u"Playback");
  // The driver's defaults: a playback pair meets its own outputs at 0 dB.
  FormMixerConnection& own = *mixer.cells()[0];
  EXPECT_EQ(own.itemText(1069), u"0");
  EXPECT_EQ(own.itemText(1070), u"x");
  EXPECT_EQ(own.itemText(1072), u"0");
  EXPECT_EQ(own.background(0), rgb(0, 255, 0));
  EXPECT_EQ(own.background(1), rgb(255, 255, 255));
  EXPECT_EQ(own.controlAs<StaticText>(1069)->backgroundColour(), rgb(0, 255, 0));
}

TEST_F(MixerTest, BothMixersCarryTheProgramsIconFromTheirCreation) {
  openConnectedFrame({mixerDevice()});
  tree().selectItem(findItem(tree(), u"Device0"));
  auto* page = dynamic_cast<FormDevice*>(frame().currentForm());
  ASSERT_NE(page, nullptr);
  const QImage programIcon = loadIcon(cpl::IDR_MAINFRAME).qIcon().pixmap(32, 32).toImage();
  ASSERT_FALSE(programIcon.isNull());
  EXPECT_EQ(windowIcon(frame().handle()).qIcon().pixmap(32, 32).toImage(), programIcon);
  for (FormMixer* mixer : {frame().monitorMixer(page->deviceId()), frame().playbackMixer(page->deviceId())}) {
    ASSERT_NE(mixer, nullptr);
    EXPECT_FALSE(isWindowVisible(mixer->handle()));
    EXPECT_EQ(windowIcon(mixer->handle()).qIcon().pixmap(32, 32).toImage(), programIcon);
  }
}

TEST_F(MixerTest, ADeviceWithoutPinsShowsTheNoPinsPage) {
  FormMixer& mixer = openMixer(true, device("QT0003"));
  ASSERT_NE(mixer.noPinsPage(), nullptr);
  EXPECT_EQ(mixer.noPinsPage()->text(), u"No mixer pins.");
  EXPECT_TRUE(mixer.outputStrips().empty());
  EXPECT_FALSE(mixer.viewsOpen());
  EXPECT_EQ(mixer.timerId(), 0u);
}

TEST_F(MixerTest, GainsFromTheDriverAtTheEndsOfTheLaw) {
  openMixer(true);
  setDriverGain(0, 0, -6500);
  setDriverGain(0, 1, 600);
  // The driver tells the others with 3051.
  EXPECT_TRUE(waitFor([&] { return stripText(0, true) == u"-65"; }));
  EXPECT_EQ(slider(0, true).position(), 6600);
  EXPECT_EQ(stripText(0, false), u"6");
  EXPECT_EQ(slider(0, false).position(), 0);
}

TEST_F(MixerTest, ALinkedSliderMovesBothSidesAndSendsBoth) {
  openMixer(true);
  slider(1, true).moveTo(1000, SB_THUMBTRACK);
  EXPECT_EQ(slider(1, false).position(), 1000);
  EXPECT_EQ(driverGain(0, 2).gain, -400);
  EXPECT_EQ(driverGain(0, 3).gain, -400);
  EXPECT_EQ(stripText(1, true), u"-4");
  EXPECT_EQ(stripText(1, false), u"-4");
}

TEST_F(MixerTest, LinkingAgainAveragesTruncatedTowardZero) {
  openMixer(true);
  strip(0).controlAs<Button>(FormStereoOutputCtrl::kLinkId)->click();
  EXPECT_FALSE(strip(0).linked());
  slider(0, true).moveTo(0, SB_THUMBTRACK);     // +6.00 dB
  slider(0, false).moveTo(1201, SB_THUMBTRACK);  // -6.01 dB
  EXPECT_EQ(driverGain(0, 0).gain, 600);
  EXPECT_EQ(driverGain(0, 1).gain, -601);
  strip(0).controlAs<Button>(FormStereoOutputCtrl::kLinkId)->click();
  EXPECT_TRUE(strip(0).linked());
  EXPECT_EQ(driverGain(0, 0).gain, 0);
  EXPECT_EQ(driverGain(0, 1).gain, 0);
  EXPECT_EQ(slider(0, true).position(), 600);
}

TEST_F(MixerTest, MuteAndZeroDb) {
  openMixer(true);
  slider(2, true).moveTo(2000, SB_THUMBTRACK);
  strip(2).controlAs<Button>(FormStereoOutputCtrl::kMuteId)->click();
  EXPECT_EQ(driverGain(1, 0).flags & ORVANE_MIXER_GAIN_MUTE, ORVANE_MIXER_GAIN_MUTE);
  EXPECT_EQ(driverGain(1, 1).flags & ORVANE_MIXER_GAIN_MUTE, ORVANE_MIXER_GAIN_MUTE);
  EXPECT_EQ(stripText(2, true), u"M");
  EXPECT_FALSE(isWindowEnabled(slider(2, true).handle()));
  strip(2).controlAs<Button>(FormStereoOutputCtrl::kZeroDbId)->click();
  EXPECT_EQ(driverGain(1, 0).gain, 0);
  EXPECT_EQ(driverGain(1, 0).flags & ORVANE_MIXER_GAIN_MUTE, ORVANE_MIXER_GAIN_MUTE) << "the mute stays";
  strip(2).controlAs<Button>(FormStereoOutputCtrl::kMuteId)->click();
  EXPECT_EQ(driverGain(1, 1).flags & ORVANE_MIXER_GAIN_MUTE, 0);
  EXPECT_EQ(stripText(2, false), u"0");
  EXPECT_TRUE(isWindowEnabled(slider(2, true).handle()));
}

TEST_F(MixerTest, ACrosspointChangedWithOrvanectlAppearsInTheOpenMixer) {
  FormMixer& mixer = openMixer(true);
  // Output I2S 1 (right of column 0), input I2S 0 (left of row 0): text 1070 of cell 0.
  const testing_support::ProgramResult result =
      testing_support::runProgram({ORVANECTL, "crosspoint", "0", "0:1", "0:0", "-1250"});
  ASSERT_EQ(result.exitCode, 0) << result.output << result.errors;
  FormMixerConnection& cell = *mixer.cells()[0];
  EXPECT_TRUE(waitFor([&] { return cell.itemText(1070) == u"-12"; })) << platform::toUtf8(cell.itemText(1070));
  EXPECT_EQ(cell.background(1), rgb(0, 255, 0));
  ASSERT_EQ(testing_support::runProgram({ORVANECTL, "crosspoint", "0", "0:1", "0:0", "off"}).exitCode, 0);
  EXPECT_TRUE(waitFor([&] { return cell.itemText(1070) == u"x"; }));
}

TEST_F(MixerTest, TheCrosspointEditorSwitchesOnAtZeroDbAndSendsTheSlider) {
  FormMixer& mixer = openMixer(true);
  FormMixerConnection& cell = *mixer.cells()[0];
  std::u16string shownWhenOn;
  QTimer::singleShot(0, [&] {
    FormWeightCtrl* editor = cell.editor();
    ASSERT_NE(editor, nullptr);
    editor->controlAs<Button>(FormWeightCtrl::kOnId)->click();
    shownWhenOn = editor->itemText(FormWeightCtrl::kGainTextId);
    editor->controlAs<TrackBar>(FormWeightCtrl::kGainId)->moveTo(1850, SB_THUMBTRACK);  // -12.50 dB
    editor->controlAs<Button>(IDOK)->click();
  });
  cell.editCrosspoint(1);
  EXPECT_EQ(shownWhenOn, u"0.00");
  const ORVANE_MIXER_CROSSPOINT entry = driverCrosspoint({0, 1, {}}, {0, 0, {}});
  EXPECT_EQ(entry.flags & ORVANE_MIXER_CROSSPOINT_ON, ORVANE_MIXER_CROSSPOINT_ON);
  EXPECT_EQ(entry.gain, -1250);
  EXPECT_EQ(cell.itemText(1070), u"-12");
}

TEST_F(MixerTest, FailedReadsShowNotAvailableAndClosingReleasesEverything) {
  FormMixer& mixer = openMixer(true);
  const usbaudio_sim::SIM_FAULT gains{ORVANE_IOCTL_GET_MIXER_GAINS, ORVANE_STATUS_DEVICE_REMOVED, 0, 1};
  const usbaudio_sim::SIM_FAULT crosspoints{ORVANE_IOCTL_GET_MIXER_CROSSPOINTS, ORVANE_STATUS_DEVICE_REMOVED, 0, 1};
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &gains, sizeof gains), 0u);
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &crosspoints, sizeof crosspoints), 0u);
  mixer.refreshGains();
  mixer.refreshCrosspoints();
  EXPECT_EQ(stripText(0, true), u"n/a");
  EXPECT_EQ(slider(0, true).position(), 0);
  EXPECT_EQ(mixer.cells()[3]->itemText(1072), u"n/a");
  EXPECT_TRUE(messageBoxes.empty());

  sendMessage(mixer.handle(), WM_CLOSE);
  EXPECT_FALSE(isWindowVisible(mixer.handle()));
  EXPECT_TRUE(mixer.outputStrips().empty());
  EXPECT_FALSE(mixer.viewsOpen());
  EXPECT_EQ(mixer.timerId(), 0u);
}

TEST_F(MixerTest, ALayoutNotificationRebuildsTheShownMixer) {
  FormMixer& mixer = openMixer(true);
  const WindowHandle before = strip(0).handle();
  ORVANE_DEVICE_ID id = mixer.deviceId();
  ASSERT_EQ(machine.control().notify(ORVANE_MSG_CODE_MIXER_LAYOUT_CHANGED, &id, sizeof id), 0u);
  EXPECT_TRUE(waitFor([&] { return !mixer.outputStrips().empty() && strip(0).handle() != before; }));
  EXPECT_TRUE(isWindowVisible(mixer.handle()));
  EXPECT_EQ(mixer.outputStrips().size(), 3u);
}

}  // namespace
}  // namespace cpl_testing

namespace cpl_testing {
namespace {

TEST_F(MixerTest, TheMetersShowTheLevelsOfTheSamplesTheDriverMoves) {
  FormMixer& mixer = openMixer(true);
  const auto meter = [&](size_t row) {
    return mixer.inputStrips()[row]->controlAs<ProgressBar>(FormStereoInputCtrl::kLeftMeterId)->position();
  };
  EXPECT_EQ(meter(0), 0) << "silence while nothing streams";
  ui_testing::RawAsioStream stream;
  ASSERT_EQ(stream.start(sim_testing::kPanelLink), 0u);
  // The driver's test tone at -20 dBFS on every input: -2000, meter position 4000.
  EXPECT_TRUE(waitFor([&] { return meter(0) > 3500 && meter(1) > 3500; })) << meter(0);
  EXPECT_LE(meter(0), 4100);
  stream.stop();
  EXPECT_TRUE(waitFor([&] { return meter(0) == 0; }));
}

}  // namespace
}  // namespace cpl_testing

namespace cpl_testing {
namespace {

TEST_F(MixerTest, ALayoutChangeWhileTheEditorIsOpenClosesItAndRebuilds) {
  FormMixer& mixer = openMixer(true);
  FormMixerConnection* cell = mixer.cells()[0].get();
  const WindowHandle before = cell->handle();
  bool editorOpened = false;
  ORVANE_DEVICE_ID id = mixer.deviceId();
  QTimer::singleShot(0, [&] {
    editorOpened = cell->editor() != nullptr;
    ASSERT_EQ(machine.control().notify(ORVANE_MSG_CODE_MIXER_LAYOUT_CHANGED, &id, sizeof id), 0u);
  });
  cell->editCrosspoint(0);  // returns when the rebuild has ended the editor
  EXPECT_TRUE(editorOpened);
  EXPECT_TRUE(waitFor([&] { return mixer.cells().size() == 6 && mixer.cells()[0]->handle() != before; }));
  EXPECT_FALSE(isWindow(before));
  EXPECT_TRUE(isWindowVisible(mixer.handle()));
}

}  // namespace
}  // namespace cpl_testing
