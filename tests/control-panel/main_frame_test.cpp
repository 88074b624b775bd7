// The main window against the simulated kernel driver: the navigation tree
// for the connected devices, the disconnected state, the status bar, the
// driver's notifications and the view connection.

#include "tests/control-panel/control_panel_fixture.h"

#include "device-access/orvane_message.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_status.h"

namespace cpl_testing {
namespace {

const std::vector<std::u16string> kTopLevel = {u"Sample Rate",      u"Buffer Settings", u"Devices",
                                               u"ASIO IN Channels", u"ASIO OUT Channels", u"Status Info",
                                               u"Driver Info"};

using MainFrameTest = ControlPanelTest;

TEST_F(MainFrameTest, OneDeviceGivesTheFixedItemsAndItsDeviceItem) {
  openConnectedFrame({device("QT0001")});
  EXPECT_EQ(childTexts(tree()), kTopLevel);
  const TreeItem devices = findItem(tree(), u"Devices");
  EXPECT_EQ(childTexts(tree(), devices), (std::vector<std::u16string>{u"Device0"}));
  EXPECT_TRUE(tree().isExpanded(devices));
  EXPECT_TRUE(isWindowEnabled(frame().treePage().handle()));
}

TEST_F(MainFrameTest, TwoDevicesTheSecondWithTheEchoPlugin) {
  openConnectedFrame({device("QT0001"), device("QT0002", true)});
  EXPECT_EQ(childTexts(tree()), kTopLevel);
  EXPECT_EQ(childTexts(tree(), findItem(tree(), u"Devices")),
            (std::vector<std::u16string>{u"Device0", u"Device1", u"Plugin1"}));
}

TEST_F(MainFrameTest, TwoDevicesBothWithTheEchoPluginEachDeviceBeforeItsPlugin) {
  openConnectedFrame({device("QT0001", true), device("QT0002", true)});
  EXPECT_EQ(childTexts(tree(), findItem(tree(), u"Devices")),
            (std::vector<std::u16string>{u"Device0", u"Plugin0", u"Device1", u"Plugin1"}));
}

TEST_F(MainFrameTest, EachItemCarriesItsPageAndIcon) {
  MainFrame& window = openConnectedFrame({device("QT0001", true)});
  const ImageList& images = window.images();
  ASSERT_EQ(images.count(), 4);  // settings, information, channel and device icons, in that order
  const struct {
    const char16_t* text;
    FormBase* page;
    int image;
  } expected[] = {
      {u"Sample Rate", &window.sampleRatePage(), 0},     {u"Buffer Settings", &window.bufferSettingsPage(), 0},
      {u"Devices", &window.devicesPage(), 3},            {u"ASIO IN Channels", &window.inChannelsPage(), 2},
      {u"ASIO OUT Channels", &window.outChannelsPage(), 2}, {u"Status Info", &window.statusInfoPage(), 1},
      {u"Driver Info", &window.drvInfoPage(), 1},
  };
  for (const auto& entry : expected) {
    const TreeItem item = findItem(tree(), entry.text);
    ASSERT_NE(item, 0u) << platform::toUtf8(entry.text);
    EXPECT_EQ(reinterpret_cast<FormBase*>(tree().itemData(item)), entry.page) << platform::toUtf8(entry.text);
    EXPECT_EQ(tree().itemImage(item), entry.image) << platform::toUtf8(entry.text);
  }
  EXPECT_EQ(tree().itemImage(findItem(tree(), u"Device0")), 3);
  EXPECT_EQ(tree().itemImage(findItem(tree(), u"Plugin0")), 3);
  const ORVANE_DEVICE_ID id = mainConnection().deviceAt(0)->deviceId();
  EXPECT_EQ(reinterpret_cast<FormBase*>(tree().itemData(findItem(tree(), u"Device0"))), window.devicePage(id));
}

TEST_F(MainFrameTest, SampleRateIsSelectedAndShownFirst) {
  MainFrame& window = openConnectedFrame({device("QT0001")});
  EXPECT_EQ(tree().itemText(tree().selectedItem()), u"Sample Rate");
  EXPECT_EQ(window.currentForm(), &window.sampleRatePage());
  EXPECT_EQ(window.splitter().pane(SplitterWindow::right), window.sampleRatePage().handle());
  EXPECT_TRUE(isWindowVisible(window.sampleRatePage().handle()));
  EXPECT_FALSE(isWindowVisible(window.staticTextPage().handle()));
}

TEST_F(MainFrameTest, ChoosingAnItemShowsItsPageAndHidesTheLastOne) {
  MainFrame& window = openConnectedFrame({device("QT0001")});
  tree().selectItem(findItem(tree(), u"Driver Info"));
  EXPECT_EQ(window.currentForm(), &window.drvInfoPage());
  EXPECT_TRUE(isWindowVisible(window.drvInfoPage().handle()));
  EXPECT_FALSE(isWindowVisible(window.sampleRatePage().handle()));
  EXPECT_EQ(window.splitter().pane(SplitterWindow::right), window.drvInfoPage().handle());
}

TEST_F(MainFrameTest, WithoutTheKernelDriverTheFrameOpensDisconnected) {
  MainFrame& window = openFrame();
  EXPECT_EQ(tree().count(), 0);
  EXPECT_FALSE(isWindowEnabled(window.treePage().handle()));
  EXPECT_EQ(window.currentForm(), &window.staticTextPage());
  EXPECT_EQ(window.staticTextPage().itemText(FormStaticText::kTextId), u"There is no Quintor device connected.");
  EXPECT_TRUE(isWindowVisible(window.staticTextPage().handle()));
  EXPECT_EQ(paneText(MainFrame::kStreamingPane), u"Driver not available.");
  EXPECT_EQ(paneText(MainFrame::kRatePane), u"");
  EXPECT_EQ(paneText(0), u"Ready");
}

TEST_F(MainFrameTest, TheLastDeviceRemovedEmptiesAndDisablesTheTree) {
  MainFrame& window = openConnectedFrame({device("QT0001")});
  tree().selectItem(findItem(tree(), u"Driver Info"));
  ASSERT_EQ(machine.control().unplug(mainConnection().deviceAt(0)->deviceId()), 0u);
  machine.announceDeviceList();
  ASSERT_TRUE(waitFor([&] { return !mainConnection().isOpen(); }));
  EXPECT_EQ(tree().count(), 0);
  EXPECT_FALSE(isWindowEnabled(window.treePage().handle()));
  EXPECT_EQ(window.currentForm(), &window.staticTextPage());
  EXPECT_TRUE(isWindowVisible(window.staticTextPage().handle()));
  EXPECT_FALSE(isWindowVisible(window.drvInfoPage().handle()));
  EXPECT_EQ(paneText(MainFrame::kStreamingPane), u"Driver not available.");
  EXPECT_EQ(paneText(MainFrame::kRatePane), u"");
  EXPECT_FALSE(window.viewConnection().isOpen());
}

TEST_F(MainFrameTest, TheKernelDriverComingBackReconnectsAndTheNextListFillsTheTree) {
  MainFrame& window = openConnectedFrame({device("QT0001")});
  ASSERT_EQ(machine.control().unplug(mainConnection().deviceAt(0)->deviceId()), 0u);
  machine.announceDeviceList();
  ASSERT_TRUE(waitFor([&] { return !mainConnection().isOpen(); }));

  // The driver's links go and come back (a device arrival of its class).
  machine.stopHost();
  ASSERT_TRUE(machine.startHost());
  ASSERT_TRUE(waitFor([&] { return mainConnection().isOpen(); })) << "no reconnection on the arrival";
  machine.announceDeviceList();
  ASSERT_TRUE(waitFor([&] { return tree().count() == 8; })) << treeDump();
  EXPECT_EQ(tree().itemText(tree().selectedItem()), u"Sample Rate");
  EXPECT_EQ(window.currentForm(), &window.sampleRatePage());
  EXPECT_TRUE(isWindowEnabled(window.treePage().handle()));
  EXPECT_EQ(paneText(MainFrame::kStreamingPane), u"Streaming state: Down");
}

TEST_F(MainFrameTest, AnArrivalWhileConnectedChangesNothing) {
  MainFrame& window = openConnectedFrame({device("QT0001")});
  const TreeItem before = tree().selectedItem();
  const platform::Handle notificationEvent = mainConnection().notificationEvent();
  const std::vector<uint8_t> record = platform::makeDeviceInterfaceRecord(platform::Guid{}, u"{BC1AFE28}");
  sendMessage(window.handle(), WM_DEVICECHANGE, platform::DBT_DEVICEARRIVAL, reinterpret_cast<LParam>(record.data()));
  EXPECT_EQ(mainConnection().notificationEvent(), notificationEvent);
  EXPECT_EQ(tree().selectedItem(), before);
  EXPECT_EQ(tree().count(), 8);
}

TEST_F(MainFrameTest, ABroadcastWithoutAnInterfaceNameDoesNotConnect) {
  EXPECT_TRUE(machine.start({device("QT0001")}));
  MainFrame& window = openFrame();
  mainConnection().closeDriver();  // as after the last device went away
  const std::vector<uint8_t> unnamed = platform::makeDeviceInterfaceRecord(platform::Guid{}, u"");
  sendMessage(window.handle(), WM_DEVICECHANGE, platform::DBT_DEVICEARRIVAL, reinterpret_cast<LParam>(unnamed.data()));
  sendMessage(window.handle(), WM_DEVICECHANGE, platform::DBT_DEVICEARRIVAL, 0);
  const std::vector<uint8_t> named = platform::makeDeviceInterfaceRecord(platform::Guid{}, u"{BC1AFE28}");
  sendMessage(window.handle(), WM_DEVICECHANGE, platform::DBT_DEVICEREMOVECOMPLETE,
              reinterpret_cast<LParam>(named.data()));
  EXPECT_FALSE(mainConnection().isOpen());
  sendMessage(window.handle(), WM_DEVICECHANGE, platform::DBT_DEVICEARRIVAL, reinterpret_cast<LParam>(named.data()));
  EXPECT_TRUE(mainConnection().isOpen());
}

// ---------------------------------------------------------------------------
// Status bar

class StatusBarTest : public ControlPanelTest {
 protected:
  void refresh() { frame().updateStatusBar(); }
};

TEST_F(StatusBarTest, StreamingStatesAndTheRate) {
  DeviceSpec plugged = device("QT0001");
  plugged.rates = "44100 48000";
  openConnectedFrame({plugged});
  changeRateOutsideTheService(44100);
  EXPECT_TRUE(waitFor([&] { return paneText(MainFrame::kRatePane) == u"Current sampling rate: 44.100 kHz"; }));
  EXPECT_EQ(paneText(MainFrame::kStreamingPane), u"Streaming state: Down");
  const struct {
    uint32_t command;
    const char16_t* text;
  } steps[] = {
      {ORVANE_STREAMING_COMMAND_INITIALIZE, u"Streaming state: Ready"},
      {ORVANE_STREAMING_COMMAND_PREPARE, u"Streaming state: Prepared"},
      {ORVANE_STREAMING_COMMAND_START, u"Streaming state: Running"},
      {ORVANE_STREAMING_COMMAND_STOP, u"Streaming state: Ready"},
      {ORVANE_STREAMING_COMMAND_SHUTDOWN, u"Streaming state: Down"},
  };
  for (const auto& step : steps) {
    streamingCommand(step.command);
    refresh();
    EXPECT_EQ(paneText(MainFrame::kStreamingPane), step.text);
  }
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_STREAMING_ERROR, nullptr, 0), 0u);
  refresh();
  EXPECT_EQ(paneText(MainFrame::kStreamingPane), u"Streaming state: Error");
}

TEST_F(StatusBarTest, ADeviceOnAFullSpeedPortCannotStream) {
  DeviceSpec plugged = device("QT0001");
  plugged.moreLines = "high_speed = no\n";
  openConnectedFrame({plugged});
  EXPECT_EQ(paneText(MainFrame::kStreamingPane), u"Streaming not supported on USB 1.1 port.");
}

TEST_F(StatusBarTest, AFailedReadSaysUnknown) {
  openConnectedFrame({device("QT0001")});
  ASSERT_EQ(machine.control().setFault(ORVANE_IOCTL_GET_STREAMING_STATUS, ORVANE_STATUS_DEVICE_REMOVED), 0u);
  refresh();
  EXPECT_EQ(paneText(MainFrame::kStreamingPane), u"Streaming state unknown");
  EXPECT_EQ(paneText(MainFrame::kRatePane), u"Current sampling rate: unknown");
}

TEST_F(StatusBarTest, TheRateFollowsTheDriverSettingsNotification) {
  DeviceSpec plugged = device("QT0001");
  plugged.rates = "44100 48000 96000";
  openConnectedFrame({plugged});
  changeRateOutsideTheService(96000);
  EXPECT_TRUE(waitFor([&] { return paneText(MainFrame::kRatePane) == u"Current sampling rate: 96.000 kHz"; }));
}

// ---------------------------------------------------------------------------
// Notifications

class NotificationTest : public ControlPanelTest {
 protected:
  void notify(uint32_t code, const std::vector<uint8_t>& payload) {
    ASSERT_EQ(machine.control().notify(code, payload.data(), static_cast<uint32_t>(payload.size())), 0u);
  }
};

TEST_F(NotificationTest, DeviceSettingsForADeviceWithoutAPageRefreshOnlyTheStatusBar) {
  openConnectedFrame({device("QT0001")});
  const TreeItem selected = tree().selectedItem();

  streamingCommand(ORVANE_STREAMING_COMMAND_INITIALIZE);
  notify(ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED, {0x99, 0, 0, 0, 0x77, 0, 0, 0});  // no such device
  EXPECT_TRUE(waitFor([&] { return paneText(MainFrame::kStreamingPane) == u"Streaming state: Ready"; }));

  streamingCommand(ORVANE_STREAMING_COMMAND_SHUTDOWN);
  notify(ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED, {1, 0, 0, 0});  // a 4-byte payload
  EXPECT_TRUE(waitFor([&] { return paneText(MainFrame::kStreamingPane) == u"Streaming state: Down"; }));

  EXPECT_EQ(tree().selectedItem(), selected);
  EXPECT_EQ(tree().count(), 8);
}

TEST_F(NotificationTest, AnUnchangedDeviceListRefreshesTheSelectedPageWithoutRebuilding) {
  MainFrame& window = openConnectedFrame({device("QT0001")});
  tree().selectItem(findItem(tree(), u"Status Info"));
  ListView* counters = window.statusInfoPage().controlAs<ListView>(FormStatusInfo::kListId);
  ASSERT_EQ(counters->itemText(0, 1), u"0");
  killTimer(window.statusInfoPage().handle(), FormStatusInfo::kTimerId);  // only the notification refreshes
  const TreeItem statusItem = tree().selectedItem();
  const TreeItem deviceItem = findItem(tree(), u"Device0");
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_STREAMING_ERROR, nullptr, 0), 0u);
  machine.announceDeviceList();
  EXPECT_TRUE(waitFor([&] { return counters->itemText(0, 1) == u"1"; }));
  EXPECT_EQ(tree().selectedItem(), statusItem);
  EXPECT_EQ(findItem(tree(), u"Device0"), deviceItem) << "the tree was rebuilt";
}

TEST_F(NotificationTest, ANewDeviceAddsItsItems) {
  openConnectedFrame({device("QT0001")});
  machine.control().plug(device("QT0002", true));
  machine.announceDeviceList();
  EXPECT_TRUE(waitFor([&] { return tree().count() == 10; })) << treeDump();
  EXPECT_EQ(childTexts(tree(), findItem(tree(), u"Devices")),
            (std::vector<std::u16string>{u"Device0", u"Device1", u"Plugin1"}));
  EXPECT_EQ(tree().itemText(tree().selectedItem()), u"Sample Rate");
}

// ---------------------------------------------------------------------------
// The view connection follows the window's visibility.

TEST_F(ControlPanelTest, HidingClosesTheViewConnectionAndShowingReopensIt) {
  MainFrame& window = openConnectedFrame({device("QT0001")});
  const auto openViews = [&] {
    ORVANE_STREAMING_STATUS status{};
    EXPECT_EQ(mainConnection().ioctlGetStreamingStatus(status), 0u);
    return status.reserved2[1];  // the kernel driver's count of open views
  };
  EXPECT_TRUE(window.viewConnection().isOpen());
  EXPECT_EQ(openViews(), 1u);
  showWindow(window.handle(), SW_HIDE);
  EXPECT_FALSE(window.viewConnection().isOpen());
  EXPECT_EQ(openViews(), 0u);
  showWindow(window.handle(), SW_SHOW);
  EXPECT_TRUE(window.viewConnection().isOpen());
  EXPECT_EQ(openViews(), 1u);
}

}  // namespace
}  // namespace cpl_testing
