// The status, driver information and text pages, the about box and the page
// error box, in the running control panel against the simulated driver.

#include "tests/control-panel/control_panel_fixture.h"

#include <QTimer>

#include "control-panel/c_about_dlg.h"
#include "device-access/orvane_status.h"

namespace cpl_testing {
namespace {

// ---------------------------------------------------------------------------
// Status Info

class StatusInfoTest : public ControlPanelTest {
 protected:
  void SetUp() override {
    ControlPanelTest::SetUp();
    MainFrame& window = openConnectedFrame({device("QT0001")});
    page_ = &window.statusInfoPage();
    list_ = page_->controlAs<ListView>(FormStatusInfo::kListId);
  }

  void showStatusInfo() { tree().selectItem(findItem(tree(), u"Status Info")); }
  void streamingError() {
    ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_STREAMING_ERROR, nullptr, 0), 0u);
  }
  std::u16string description() { return page_->itemText(FormStatusInfo::kDescriptionId); }

  FormStatusInfo* page_ = nullptr;
  ListView* list_ = nullptr;
};

TEST_F(StatusInfoTest, ListsTheFiveCountersWithTheirValues) {
  showStatusInfo();
  const std::vector<std::u16string> names = {u"Streaming Error Count", u"FIFO Error Count", u"ASIO Error Count",
                                             u"WDM Audio Error Count", u"WDM MIDI Error Count"};
  ASSERT_EQ(list_->itemCount(), 5);
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(list_->itemText(row, 0), names[static_cast<size_t>(row)]);
    EXPECT_EQ(list_->itemText(row, 1), u"0");
  }
  EXPECT_EQ(list_->columnCount(), 2);
  EXPECT_EQ(list_->columnWidth(0), 150);
  EXPECT_EQ(list_->columnWidth(1), 100);
  EXPECT_EQ(list_->extendedStyle() & (listStyle::gridLines | listStyle::fullRowSelect),
            listStyle::gridLines | listStyle::fullRowSelect);
}

TEST_F(StatusInfoTest, CountersAreReadEverySecondWhileThePageIsShown) {
  showStatusInfo();
  EXPECT_EQ(page_->timerId(), FormStatusInfo::kTimerId);
  streamingError();
  streamingError();
  streamingError();
  EXPECT_TRUE(waitFor([&] { return list_->itemText(0, 1) == u"3"; }, 2500));
}

TEST_F(StatusInfoTest, LeavingThePageStopsTheTimerAndComingBackRefreshesAtOnce) {
  showStatusInfo();
  tree().selectItem(findItem(tree(), u"Driver Info"));
  EXPECT_EQ(page_->timerId(), 0u);
  streamingError();
  QTest::qWait(1500);
  EXPECT_EQ(list_->itemText(0, 1), u"0") << "refreshed while hidden";
  showStatusInfo();
  EXPECT_EQ(list_->itemText(0, 1), u"1");
  EXPECT_EQ(page_->timerId(), FormStatusInfo::kTimerId);
}

TEST_F(StatusInfoTest, RaisedCountersAreRedAndZeroIsBlack) {
  showStatusInfo();
  EXPECT_EQ(list_->cellTextColour(0, 1), rgb(0, 0, 0));
  streamingError();
  streamingError();
  streamingError();
  page_->updateForm();
  EXPECT_EQ(list_->itemText(0, 1), u"3");
  EXPECT_EQ(list_->cellTextColour(0, 1), rgb(255, 0, 0));
  EXPECT_EQ(list_->cellTextColour(0, 0), rgb(0, 0, 0)) << "the name stays black";
  EXPECT_EQ(list_->cellTextColour(1, 1), rgb(0, 0, 0)) << "a zero counter stays black";
}

TEST_F(StatusInfoTest, TheDescriptionFollowsTheSelectedCounter) {
  showStatusInfo();
  EXPECT_EQ(description(), u"Select a counter to see its description.");
  list_->selectItem(1);
  EXPECT_EQ(description(),
            u"This counter is incremented if an interruption in the isochronous USB stream is detected by the "
            u"hardware. This could be caused by CRC errors on the USB. Try to use another cable, or a shorter cable, "
            u"or try to use a different USB port on your PC.");
  page_->updateForm();  // a refresh keeps the selection
  EXPECT_EQ(list_->selectedItem(), 1);
  EXPECT_NE(description(), u"Select a counter to see its description.");
  list_->selectItem(-1);
  EXPECT_EQ(description(), u"Select a counter to see its description.");
}

TEST_F(StatusInfoTest, AFailedReadKeepsTheLastValues) {
  showStatusInfo();
  streamingError();
  page_->updateForm();
  ASSERT_EQ(list_->itemText(0, 1), u"1");
  ASSERT_EQ(machine.control().setFault(ORVANE_IOCTL_GET_STATUS_COUNTERS, ORVANE_STATUS_DEVICE_REMOVED), 0u);
  streamingError();
  page_->updateForm();
  EXPECT_EQ(list_->itemText(0, 1), u"1");
}

// ---------------------------------------------------------------------------
// Driver Info

class DriverInfoTest : public ControlPanelTest {
 protected:
  std::u16string driverText(const ui_testing::DriverParameters& parameters) {
    EXPECT_TRUE(machine.start({device("QT0001")}, parameters));
    MainFrame& window = openFrame();
    machine.announceDeviceList();
    EXPECT_TRUE(waitFor([&] { return tree().count() == 8; }));
    tree().selectItem(findItem(tree(), u"Driver Info"));
    return window.drvInfoPage().itemText(FormDrvInfo::kTextId);
  }
};

TEST_F(DriverInfoTest, ReleaseBuild) {
  EXPECT_EQ(driverText({u"2.10.7", false, 1}),
            u"\nDriver version: \t  2.10.7\nBuild type: \t  release \n\nInterface version: 2.1\n");
}

TEST_F(DriverInfoTest, DebugBuild) {
  EXPECT_EQ(driverText({u"1.35.2", true, 0}),
            u"\nDriver version: \t  1.35.2\nBuild type: \t  debug \n\nInterface version: 2.0\n");
}

TEST_F(DriverInfoTest, AFailedReadKeepsTheText) {
  const std::u16string shown = driverText({u"2.10.7", false, 1});
  ASSERT_EQ(machine.control().setFault(ORVANE_IOCTL_GET_DRIVER_INFO, ORVANE_STATUS_FAILED), 0u);
  frame().drvInfoPage().updateForm();
  EXPECT_EQ(frame().drvInfoPage().itemText(FormDrvInfo::kTextId), shown);
}

// ---------------------------------------------------------------------------
// The "no device" page

TEST_F(ControlPanelTest, TheStaticTextPageShowsItsSentenceCentred) {
  FormStaticText page(u"A sentence.");
  MainFrame& window = openFrame();
  ASSERT_TRUE(page.create(window.splitter().handle()));
  EXPECT_EQ(page.itemText(FormStaticText::kTextId), u"A sentence.");
  page.setText(u"Another sentence.");
  EXPECT_EQ(page.itemText(FormStaticText::kTextId), u"Another sentence.");
  EXPECT_TRUE((page.control(FormStaticText::kTextId)->style() & style::centre) != 0);
  EXPECT_TRUE((page.control(FormStaticText::kTextId)->style() & style::centreVertically) != 0);
}

// ---------------------------------------------------------------------------
// About box

TEST_F(ControlPanelTest, TheAboutCommandShowsTheAboutBoxUntilOk) {
  MainFrame& window = openFrame();
  std::u16string title;
  std::u16string text;
  bool modal = false;
  QTimer::singleShot(100, [&] {
    const WindowHandle about = getActiveWindow() != window.handle() ? getLastActivePopup(window.handle())
                                                                    : WindowHandle();
    ASSERT_TRUE(about);
    auto* dialog = dynamic_cast<Dialog*>(windowFromHandle(about));
    ASSERT_NE(dialog, nullptr);
    modal = dialog->isModal();
    title = getWindowText(about);
    text = dialog->itemText(CAboutDlg::kVersionTextId);
    dialog->controlAs<Button>(IDOK)->click();
  });
  sendMessage(window.handle(), WM_COMMAND, makeWParam(cpl::ID_APP_ABOUT, 0), 0);
  EXPECT_TRUE(modal);
  EXPECT_EQ(title, u"About Quintor Control Panel");
  EXPECT_EQ(text, u"QUINTOR Control Panel\nVersion 1.35.2\nMade by tarnvale");
  EXPECT_EQ(getLastActivePopup(window.handle()), window.handle()) << "the about box is gone";
}

TEST_F(ControlPanelTest, EscapeEndsTheAboutBox) {
  MainFrame& window = openFrame();
  CAboutDlg about;
  QTimer::singleShot(100, [&] { QTest::keyClick(about.widget(), Qt::Key_Escape); });
  EXPECT_EQ(about.doModal(window.handle()), IDCANCEL);
  EXPECT_FALSE(about.exists());
}

// ---------------------------------------------------------------------------
// The page error box

TEST(PageErrorText, TheOperationTheStatusNameAndTheExplanation) {
  const struct {
    uint32_t status;
    const char16_t* text;
  } cases[] = {
      {ORVANE_STATUS_NOT_IN_HIGH_SPEED_MODE,
       u"Changing the buffer sizes failed. (Status=ORVANE_STATUS_NOT_IN_HIGH_SPEED_MODE).\nThe device is not "
       u"connected to a USB high-speed port."},
      {ORVANE_STATUS_NO_DEVICES,
       u"Changing the buffer sizes failed. (Status=ORVANE_STATUS_NO_DEVICES).\nThere are no devices connected."},
      {ORVANE_STATUS_NO_STREAMING_DEVICE,
       u"Changing the buffer sizes failed. (Status=ORVANE_STATUS_NO_STREAMING_DEVICE).\nThere is no device "
       u"selected for streaming."},
      {ORVANE_STATUS_TIMEOUT, u"Changing the buffer sizes failed. (Status=ORVANE_STATUS_TIMEOUT)."},
      {1460, u"Changing the buffer sizes failed. (Status=\?\?\?)."},
  };
  for (const auto& entry : cases) {
    EXPECT_EQ(pageErrorText(u"Changing the buffer sizes failed.", entry.status), entry.text);
  }
}

TEST_F(ControlPanelTest, ThePageErrorBoxIsAnErrorBoxOwnedByThePageWithTheFrameTitle) {
  MainFrame& window = openFrame();
  showPageErrorBox(window.drvInfoPage().handle(), u"Selecting the streaming device failed.", ORVANE_STATUS_NO_DEVICES);
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].owner, window.drvInfoPage().handle());
  EXPECT_EQ(messageBoxes[0].caption, u"QUINTOR Control Panel");
  EXPECT_EQ(messageBoxes[0].type, MB_OK | MB_ICONERROR);
  EXPECT_EQ(messageBoxes[0].text,
            u"Selecting the streaming device failed. (Status=ORVANE_STATUS_NO_DEVICES).\nThere are no devices "
            u"connected.");
}

}  // namespace
}  // namespace cpl_testing
