// The driver information page against the simulated kernel driver in this
// process, and the spy's about box.

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>

#include "device-access/orvane_status.h"
#include "platform/ui/controls.h"
#include "platform/ui/window.h"
#include "spy/c_about_dlg.h"
#include "spy/form_driver_info.h"
#include "spy/orvane_spy_driver.h"
#include "tests/support/simulated_driver.h"

namespace {

using namespace platform::ui;

class DriverInfoPageTest : public sim_testing::SimulatedDriverTest {
 protected:
  void configureRegistry(const platform::RegistryKey& key) override {
    key.setString(u"DriverVersion", u"1.35.2");
    key.setDword(u"DebugBuild", 1);
    key.setDword(u"InterfaceVersionMinor", 0);
  }
  void SetUp() override {
    SimulatedDriverTest::SetUp();
    ASSERT_EQ(spy.openDriver(kSpyDeviceLinkName, false, false), 0u);
    ASSERT_TRUE(page.create(WindowHandle()));
  }
  void TearDown() override {
    setActiveConnection(nullptr);
    if (page.exists()) destroyWindow(page.handle());
    spy.closeDriver();
    SimulatedDriverTest::TearDown();
  }
  std::u16string text() const { return page.itemText(FormDriverInfo::kTextId); }

  OrvaneSpyDriver spy;
  FormDriverInfo page;
};

TEST_F(DriverInfoPageTest, ShowsVersionBuildTypeAndInterfaceWhenShown) {
  EXPECT_EQ(text(), u"");
  page.showForm();
  EXPECT_EQ(text(), u"") << "nothing while disconnected";
  setActiveConnection(&spy);
  page.showForm();
  EXPECT_EQ(text(), u"\nDriver version: \t  1.35.2\nBuild type: \t  debug build\n\nInterface version: 2.0\n");
  EXPECT_EQ(page.itemText(FormDriverInfo::kGroupId), u"Driver Information");
}

TEST_F(DriverInfoPageTest, AFailedReadEmptiesTheText) {
  setActiveConnection(&spy);
  page.updateForm();
  ASSERT_NE(text(), u"");
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_DRIVER_INFO, ORVANE_STATUS_NOT_POSSIBLE), 0u);
  page.updateForm();
  EXPECT_EQ(text(), u"");
}

TEST(DriverInfoTextTest, ReleaseBuildsAndOtherVersions) {
  ORVANE_DRIVER_INFO info{};
  info.interfaceVersionMajor = 2;
  info.interfaceVersionMinor = 11;
  info.driverVersionMajor = 10;
  info.driverVersionMinor = 0;
  info.driverVersionBuild = 300;
  info.flags = 0xFE;  // every flag but the debug build's
  EXPECT_EQ(FormDriverInfo::infoText(info),
            u"\nDriver version: \t  10.0.300\nBuild type: \t  release build\n\nInterface version: 2.11\n");
}

// ---------------------------------------------------------------------------
// About box

TEST(SpyAboutBoxTest, ShowsNameVersionMakerAndLinkUntilOk) {
  CAboutDlg about;
  std::u16string title;
  std::u16string text;
  std::u16string url;
  QTimer::singleShot(50, [&] {
    title = getWindowText(about.handle());
    text = about.itemText(CAboutDlg::kVersionTextId);
    if (auto* link = about.controlAs<HyperLink>(CAboutDlg::kLinkId)) url = link->url();
    about.controlAs<Button>(IDOK)->click();
  });
  EXPECT_EQ(about.doModal(WindowHandle()), IDOK);
  EXPECT_EQ(title, u"About ORVANE Spy Tool");
  EXPECT_EQ(text, u"ORVANE Device Driver\nVersion 1.35.2\nMade by Morvant");
  EXPECT_EQ(url, CAboutDlg::kMakerUrl);
  EXPECT_EQ(CAboutDlg::kTemplate.id, 100);
  EXPECT_FALSE(about.exists());
}

TEST(SpyAboutBoxTest, EscapeEndsIt) {
  CAboutDlg about;
  QTimer::singleShot(50, [&] { QTest::keyClick(about.widget(), Qt::Key_Escape); });
  EXPECT_EQ(about.doModal(WindowHandle()), IDCANCEL);
}

}  // namespace
