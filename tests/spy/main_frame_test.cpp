// The spy's main window: the partial rebuilds and the user's selection, the
// driver coming and going, the status bar, "Clear Statistics", the "no
// device" texts, the two "Trace Mask" pages, the refresh timer and the
// counters of a running stream.

#include <QTimer>

#include "device-access/orvane_ioctl.h"
#include "platform/registry.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window_directory.h"
#include "tests/spy/hand_built_record.h"
#include "tests/spy/spy_fixture.h"
#include "tests/ui-support/raw_asio_stream.h"

namespace spy_testing {
namespace {

using MainFrameTest = SpyTest;

constexpr char16_t kNoDevice[] = u"\n\n\n\tThere is no ORVANE device connected.";

FormStatistics* currentStatisticsPage(MainFrame& frame) { return dynamic_cast<FormStatistics*>(frame.currentForm()); }

// ---------------------------------------------------------------------------
// Rebuilds, on records made by hand

TEST_F(MainFrameTest, OnlyTheAsioHostsAreRebuiltWhenOnlyTheirCountChanges) {
  MainFrame& window = openFrame();
  HandBuiltRecord record = HandBuiltRecord::sample();
  window.applyStatistics(*record);
  ASSERT_TRUE(tree().selectItem(itemAt(tree(), {u"Orvane A", u"IN I2S 0"})));
  FormBase* portPage = window.currentForm();
  FormStatisticsDevice* devicePage = window.devicePage(uint64_t{0x2F1A0110} << 32 | 1);

  record.asioHost();
  window.applyStatistics(*record);
  EXPECT_EQ(childTexts(tree()), (std::vector<std::u16string>{u"Orvane A", u"Asio Host 0", u"Asio Host 1"}));
  EXPECT_EQ(window.devicePage(uint64_t{0x2F1A0110} << 32 | 1), devicePage);
  EXPECT_EQ(window.currentForm(), portPage);
  EXPECT_EQ(selectedPath(), (std::vector<std::u16string>{u"Orvane A", u"IN I2S 0"}));
}

TEST_F(MainFrameTest, ASelectedAsioHostStaysSelectedWhileItExists) {
  MainFrame& window = openFrame();
  HandBuiltRecord record = HandBuiltRecord::sample();
  record.asioHost();
  window.applyStatistics(*record);
  ASSERT_TRUE(tree().selectItem(itemAt(tree(), {u"Asio Host 0"})));
  FormBase* before = window.currentForm();

  record->asioHostCount = 1;
  window.applyStatistics(*record);
  EXPECT_EQ(selectedPath(), (std::vector<std::u16string>{u"Asio Host 0"}));
  // A new page for the new node, and it is the one shown.
  EXPECT_NE(window.currentForm(), before);
  EXPECT_EQ(window.currentForm(), reinterpret_cast<FormBase*>(tree().itemData(tree().selectedItem())));
}

TEST_F(MainFrameTest, MidiClientCountsRebuildOnlyTheClients) {
  MainFrame& window = openFrame();
  HandBuiltRecord record = HandBuiltRecord::sample();
  window.applyStatistics(*record);
  FormStatistics* port = window.midiPortPage(uint64_t{1} << 32 | 0x30);
  const struct {
    const char* change;
    std::function<void()> apply;
    std::vector<std::u16string> inClients;
  } cases[] = {
      {"input client added", [&] { record.midiClientIn(1, 0x30); }, {u"MIDI IN client 0", u"MIDI IN client 1"}},
      {"output client removed", [&] { record->outputMidiClientCount = 0; }, {u"MIDI IN client 0", u"MIDI IN client 1"}},
      {"both gone", [&] { record->inputMidiClientCount = 0; }, {}},
  };
  for (const auto& step : cases) {
    step.apply();
    window.applyStatistics(*record);
    EXPECT_EQ(childTexts(tree(), itemAt(tree(), {u"Orvane A", u"MIDI IN Port 0"})), step.inClients) << step.change;
    EXPECT_EQ(window.midiPortPage(uint64_t{1} << 32 | 0x30), port) << step.change;
  }
  EXPECT_EQ(window.midiClientPageCount(), 0u);
}

TEST_F(MainFrameTest, ANewGenerationRecreatesThePagesAndKeepsTheSelection) {
  MainFrame& window = openFrame();
  HandBuiltRecord record = HandBuiltRecord::sample();
  window.applyStatistics(*record);
  const std::vector<std::u16string> chosen = {u"Orvane A", u"ASIO IN Channels", u"IN 02 (nc)"};
  ASSERT_TRUE(tree().selectItem(itemAt(tree(), chosen)));
  FormBase* before = window.currentForm();

  record->generation = 2;
  record.device(2, u"Orvane B");
  window.applyStatistics(*record);
  EXPECT_EQ(selectedPath(), chosen);
  EXPECT_NE(window.currentForm(), before);
  EXPECT_EQ(window.currentForm(), reinterpret_cast<FormBase*>(tree().itemData(tree().selectedItem())));
  EXPECT_NE(itemAt(tree(), {u"Orvane B", u"Sound Devices OUT"}), 0u);

  // The chosen object goes: the tree's own new selection is shown.
  record->generation = 3;
  record->inputAsioChannelCount = 1;
  window.applyStatistics(*record);
  EXPECT_NE(selectedPath(), chosen);
  EXPECT_EQ(window.currentForm(), reinterpret_cast<FormBase*>(tree().itemData(tree().selectedItem())));
}

TEST_F(MainFrameTest, TheShownPageIsReformattedFromTheCopyOnEveryRecord) {
  MainFrame& window = openFrame();
  HandBuiltRecord record = HandBuiltRecord::sample();
  record->devices[0].midiInputBytesDiscarded = 5;
  window.applyStatistics(*record);
  ASSERT_TRUE(tree().selectItem(itemAt(tree(), {u"Orvane A"})));
  FormStatistics* page = currentStatisticsPage(window);
  ASSERT_NE(page, nullptr);
  ListView& list = *page->list();
  const int last = list.itemCount() - 1;
  window.applyStatistics(*record);
  EXPECT_EQ(list.itemText(last, 1), u"5");
  record->devices[0].midiInputBytesDiscarded = 6;
  window.applyStatistics(*record);
  EXPECT_EQ(list.itemText(last, 1), u"6");
}

// ---------------------------------------------------------------------------
// The driver

TEST_F(MainFrameTest, WithoutTheDriverTheTreeIsEmptyAndDisabled) {
  MainFrame& window = openFrame();
  EXPECT_EQ(tree().count(), 0);
  EXPECT_FALSE(isWindowEnabled(window.treePage().handle()));
  EXPECT_EQ(window.currentForm(), static_cast<FormBase*>(&window.noDevicePage()));
  EXPECT_EQ(window.noDevicePage().itemText(FormStaticText::kTextId), kNoDevice);
  EXPECT_EQ(window.paneText(MainFrame::kStreamingPane), u"Driver not available.");
  EXPECT_EQ(window.paneText(MainFrame::kRatePane), u"");
  EXPECT_EQ(activeConnection(), nullptr);
  // Left-aligned from the top: the text is shown as written, tabs and all.
  EXPECT_EQ(window.noDevicePage().control(FormStaticText::kTextId)->style() & (style::centre | style::centreVertically),
            0u);
}

TEST_F(MainFrameTest, AnotherInterfaceVersionAddsTheVersionSentences) {
  ASSERT_TRUE(machine.start({device("SP0001")}, debugDriver()));
  ASSERT_EQ(machine.control().patchReplyU32(ORVANE_IOCTL_GET_DRIVER_INFO, 0, 3), 0u);
  MainFrame& window = openFrame();
  EXPECT_EQ(window.noDevicePage().itemText(FormStaticText::kTextId),
            std::u16string(kNoDevice) +
                u"\n\tThe current driver version is not supported by this application.\n\tExpected driver version "
                u"is 1.35.2.");
  EXPECT_EQ(tree().count(), 0);
}

TEST_F(MainFrameTest, TraceMaskShowsTheListForADebugBuildAndTheTextForARelease) {
  for (const bool debug : {true, false}) {
    ui_testing::DriverParameters parameters;
    parameters.debugBuild = debug;
    ui_testing::EmulatedMachine own;
    ASSERT_TRUE(own.start({device("SP0001")}, parameters));
    MainFrame& window = openFrame();
    const TreeItem item = itemAt(tree(), {u"Trace Mask"});
    ASSERT_NE(item, 0u);
    FormBase* expected =
        debug ? static_cast<FormBase*>(&window.traceMaskPage()) : static_cast<FormBase*>(&window.releaseBuildPage());
    EXPECT_EQ(reinterpret_cast<FormBase*>(tree().itemData(item)), expected) << debug;
    if (!debug) {
      EXPECT_EQ(window.releaseBuildPage().itemText(FormStaticText::kTextId), kReleaseBuildText);
    }
    closeFrame();
  }
}

TEST_F(MainFrameTest, TheDriverComingAndGoingOpensAndClosesTheConnection) {
  MainFrame& window = openFrame();
  ASSERT_EQ(tree().count(), 0);
  ASSERT_TRUE(machine.start({device("SP0001")}, debugDriver()));
  EXPECT_TRUE(waitFor([&] { return itemAt(tree(), {u"Orvane SP0001"}) != 0; })) << dump();
  EXPECT_EQ(activeConnection(), &window.spyConnection());
  EXPECT_TRUE(isWindowEnabled(window.treePage().handle()));
  EXPECT_EQ(selectedPath(), (std::vector<std::u16string>{u"DriverInfo"}));
  EXPECT_EQ(window.paneText(MainFrame::kStreamingPane), u"Streaming state: Down");

  machine.stopHost();
  EXPECT_TRUE(waitFor([&] { return tree().count() == 0; })) << dump();
  EXPECT_EQ(activeConnection(), nullptr);
  EXPECT_FALSE(isWindowEnabled(window.treePage().handle()));
  EXPECT_EQ(window.currentForm(), static_cast<FormBase*>(&window.noDevicePage()));
  EXPECT_EQ(window.noDevicePage().itemText(FormStaticText::kTextId), kNoDevice);
  EXPECT_EQ(window.paneText(MainFrame::kStreamingPane), u"Driver not available.");
}

TEST_F(MainFrameTest, PluggingAndUnpluggingKeepsTheSelectionWhereTheObjectStays) {
  MainFrame& window = openConnectedFrame({device("SP0001")});
  const std::vector<std::u16string> chosen = {u"Orvane SP0001", u"Sound Devices IN", u"In 1/2 (nc)"};
  ASSERT_TRUE(tree().selectItem(itemAt(tree(), chosen))) << dump();

  DeviceSpec second = device("SP0002");
  const ORVANE_DEVICE_ID plugged = machine.control().plug(second);
  EXPECT_TRUE(waitFor([&] { return itemAt(tree(), {u"Orvane SP0002"}) != 0; })) << dump();
  EXPECT_EQ(selectedPath(), chosen);
  EXPECT_EQ(window.currentForm(), reinterpret_cast<FormBase*>(tree().itemData(tree().selectedItem())));

  ASSERT_EQ(machine.control().unplug(plugged), 0u);
  EXPECT_TRUE(waitFor([&] { return itemAt(tree(), {u"Orvane SP0002"}) == 0; })) << dump();
  EXPECT_EQ(selectedPath(), chosen);
}

TEST_F(MainFrameTest, TheStatusBarFollowsTheStreamingEngine) {
  MainFrame& window = openConnectedFrame({device("SP0001")});
  EXPECT_EQ(window.paneText(0), u"Ready");
  EXPECT_EQ(window.paneText(MainFrame::kStreamingPane), u"Streaming state: Down");
  EXPECT_EQ(window.paneText(MainFrame::kRatePane), u"Current sampling rate: 48.000 kHz");
  ui_testing::RawAsioStream stream;
  ASSERT_EQ(stream.start(sim_testing::kAsioLink), 0u);
  EXPECT_TRUE(waitFor([&] { return window.paneText(MainFrame::kStreamingPane) == u"Streaming state: Running"; }));
  ASSERT_EQ(machine.control().patchReplyU32(ORVANE_IOCTL_GET_STREAMING_STATUS, 0, 9), 0u);
  window.updateStatusBar();
  EXPECT_EQ(window.paneText(MainFrame::kStreamingPane), u"Streaming state: Running");  // state 9 has no text
}

TEST_F(MainFrameTest, CountersOfARunningStreamMoveEverySecond) {
  MainFrame& window = openConnectedFrame({device("SP0001")});
  EXPECT_TRUE(window.timerRunning());
  ui_testing::RawAsioStream stream;
  ASSERT_EQ(stream.start(sim_testing::kAsioLink), 0u);
  ASSERT_TRUE(waitFor([&] { return itemAt(tree(), {u"Asio Host 0"}) != 0; })) << dump();
  ASSERT_TRUE(tree().selectItem(itemAt(tree(), {u"Asio Host 0"})));
  FormStatistics* page = currentStatisticsPage(window);
  ASSERT_NE(page, nullptr);
  const uint32_t first = window.statistics().asioHosts[0].bufferSwitchEvents;
  // The timer alone moves them: no call from the test.
  EXPECT_TRUE(waitFor([&] { return window.statistics().asioHosts[0].bufferSwitchEvents > first; }, 3000));
  const uint32_t second = window.statistics().asioHosts[0].bufferSwitchEvents;
  EXPECT_TRUE(waitFor([&] { return window.statistics().asioHosts[0].bufferSwitchEvents > second; }, 3000));
  EXPECT_EQ(currentStatisticsPage(window), page);  // counters alone rebuild nothing
}

TEST_F(MainFrameTest, ClearStatisticsResetsTheCountersAtOnce) {
  MainFrame& window = openConnectedFrame({device("SP0001")});
  ui_testing::RawAsioStream stream;
  ASSERT_EQ(stream.start(sim_testing::kAsioLink), 0u);
  ASSERT_TRUE(waitFor([&] {
    window.refreshStatistics();
    return window.statistics().asioHostCount == 1 && window.statistics().asioHosts[0].bufferSwitchEvents > 100;
  }));
  sendMessage(window.handle(), WM_COMMAND, spy::ID_CLEAR_STATISTICS, 0);
  EXPECT_LT(window.statistics().asioHosts[0].bufferSwitchEvents, 100u);
}

TEST_F(MainFrameTest, ClearStatisticsWithoutTheDriverChangesNothing) {
  MainFrame& window = openFrame();
  sendMessage(window.handle(), WM_COMMAND, spy::ID_CLEAR_STATISTICS, 0);
  EXPECT_EQ(tree().count(), 0);
  EXPECT_EQ(window.paneText(MainFrame::kStreamingPane), u"Driver not available.");
}

// ---------------------------------------------------------------------------
// The window

TEST_F(MainFrameTest, IdentityMenuAndSize) {
  MainFrame& window = openFrame();
  EXPECT_EQ(window.text(), u"ORVANE Spy Tool");
  EXPECT_EQ(findWindow(spy::kFrameClassName), window.handle());
  EXPECT_EQ(window.minimumTrackSize(), (Size{550, 550}));
  EXPECT_EQ(window.settingsKey(), u"Software\\Morvant\\ORVANE\\spy");
  sendMessage(window.handle(), WM_COMMAND, spy::ID_APP_EXIT, 0);
  EXPECT_TRUE(waitFor([&] { return !window.exists(); }));
}

TEST_F(MainFrameTest, TheAboutCommandShowsTheAboutBoxOwnedByTheFrame) {
  MainFrame& window = openFrame();
  std::u16string title;
  bool modal = false;
  QTimer::singleShot(100, [&] {
    const WindowHandle about = getLastActivePopup(window.handle());
    auto* dialog = dynamic_cast<Dialog*>(windowFromHandle(about));
    ASSERT_NE(dialog, nullptr);
    modal = dialog->isModal();
    title = getWindowText(about);
    dialog->controlAs<Button>(IDOK)->click();
  });
  sendMessage(window.handle(), WM_COMMAND, makeWParam(spy::ID_APP_ABOUT, 0), 0);
  EXPECT_TRUE(modal);
  EXPECT_EQ(title, u"About ORVANE Spy Tool");
  EXPECT_EQ(getLastActivePopup(window.handle()), window.handle()) << "the about box is gone";
}

TEST_F(MainFrameTest, ThePlacementIsStoredUnderTheSpysKeyOnClose) {
  MainFrame& window = openFrame();
  moveWindow(window.handle(), Rect{60, 70, 60 + 640, 70 + 600});
  sendMessage(window.handle(), WM_CLOSE, 0, 0);
  platform::RegistryKey key;
  ASSERT_EQ(
      platform::RegistryKey::open(platform::RegistryHive::CurrentUser, spy::kSettingsKey, platform::KEY_READ, key), 0u);
  uint32_t width = 0;
  ASSERT_EQ(key.getDword(u"Width", width), 0u);
  EXPECT_EQ(width, 640u);
  // The next frame opens there.
  MainFrame& next = openFrame();
  EXPECT_EQ(getWindowRect(next.handle()).width(), 640);
}

}  // namespace
}  // namespace spy_testing
