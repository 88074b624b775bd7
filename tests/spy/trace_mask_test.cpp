// The trace mask page on its real list against the simulated kernel driver
// (a debug build) in this process: the rows, the round trip of check marks
// to the driver's mask, "Set as default", failures and the page without a
// connection.

#include <QTest>

#include <gtest/gtest.h>

#include <string>

#include "device-access/orvane_status.h"
#include "platform/ui/controls.h"
#include "platform/ui/window.h"
#include "spy/form_trace_mask.h"
#include "spy/orvane_spy_driver.h"
#include "tests/support/simulated_driver.h"

namespace {

using namespace platform::ui;

constexpr uint32_t kInitialMask = 0x00000001;

class TraceMaskPageTest : public sim_testing::SimulatedDriverTest {
 protected:
  void configureRegistry(const platform::RegistryKey& key) override {
    key.setDword(u"DebugBuild", 1);
    key.setDword(u"TraceMask", kInitialMask);
  }
  void SetUp() override {
    SimulatedDriverTest::SetUp();
    ASSERT_EQ(spy.openDriver(kSpyDeviceLinkName, false, false), 0u);
    ASSERT_EQ(own.openDriver(kSpyDeviceLinkName, false, false), 0u);
    setActiveConnection(&spy);
  }
  void TearDown() override {
    setActiveConnection(nullptr);
    if (page.exists()) destroyWindow(page.handle());
    spy.closeDriver();
    own.closeDriver();
    SimulatedDriverTest::TearDown();
  }

  void openPage() {
    ASSERT_TRUE(page.create(WindowHandle()));
    moveWindow(page.handle(), Rect{0, 0, 520, 420});
    page.showForm();
    QTest::qWait(1);
  }
  // The kernel driver's mask, read on a connection of the test's own.
  uint32_t driverMask() {
    uint32_t mask = 0;
    EXPECT_EQ(own.getTraceMask(mask), 0u);
    return mask;
  }
  // The check marks as a mask.
  uint32_t shownMask() const {
    uint32_t mask = 0;
    for (int row = 0; row < page.list()->itemCount(); ++row) {
      if (page.list()->isChecked(row)) mask |= 1u << row;
    }
    return mask;
  }
  void check(int row, bool checked) {
    // As the user's click on the box: the list reports the change.
    page.list()->setChecked(row, checked);
  }

  OrvaneSpyDriver spy;
  OrvaneSpyDriver own;
  FormTraceMask page;
};

TEST_F(TraceMaskPageTest, ThirtyTwoRowsWithBitNumbersNamesAndData) {
  openPage();
  ListView* list = page.list();
  ASSERT_EQ(list->itemCount(), 32);
  EXPECT_EQ(list->columnCount(), 2);
  for (int bit = 0; bit < 32; ++bit) {
    const std::u16string number = bit < 10 ? u" " + std::u16string(1, char16_t(u'0' + bit))
                                            : std::u16string{char16_t(u'0' + bit / 10), char16_t(u'0' + bit % 10)};
    EXPECT_EQ(list->itemText(bit, 0), number) << bit;
    EXPECT_EQ(list->itemData(bit), static_cast<LParam>(1u << bit)) << bit;
  }
  struct Name {
    int bit;
    std::u16string text;
  };
  const Name names[] = {
      {0, u"Fatal Errors, assertions"},
      {6, u"IOCTL request dispatching"},
      {9, u"Command/Response message communication"},
      {16, u"Streaming errors, SPDIF errors"},
      {21, u"MIDI IN and OUT"},
      {28, u"DSD data"},
      {31, u"Stream data dump"},
  };
  for (const Name& name : names) EXPECT_EQ(list->itemText(name.bit, 1), name.text) << name.bit;
  for (int bit : {7, 14, 15, 17, 19, 23, 26, 27, 29, 30}) EXPECT_EQ(list->itemText(bit, 1), u"") << bit;
}

TEST_F(TraceMaskPageTest, TheListShowsTheDriversMaskAndFillingKeepsIt) {
  ASSERT_EQ(own.setTraceMask(0x91200005), 0u);
  openPage();
  EXPECT_EQ(shownMask(), 0x91200005u);
  EXPECT_EQ(driverMask(), 0x91200005u);
  // Shown again: read again.
  ASSERT_EQ(own.setTraceMask(0x00000002), 0u);
  page.hideForm();
  page.showForm();
  EXPECT_EQ(shownMask(), 0x00000002u);
  EXPECT_EQ(driverMask(), 0x00000002u);
}

TEST_F(TraceMaskPageTest, CheckMarksChangeTheDriversMask) {
  openPage();
  ASSERT_EQ(shownMask(), kInitialMask);
  check(21, true);
  EXPECT_EQ(driverMask(), 0x00200001u);
  check(0, false);
  EXPECT_EQ(driverMask(), 0x00200000u);
  check(7, true);  // a bit without a name works all the same
  EXPECT_EQ(driverMask(), 0x00200080u);
}

TEST_F(TraceMaskPageTest, EachChangeWritesIntoTheDriversPresentMask) {
  openPage();
  // Someone else changes the mask after the page was filled.
  ASSERT_EQ(own.setTraceMask(0x00000010), 0u);
  check(3, true);
  EXPECT_EQ(driverMask(), 0x00000018u);
}

TEST_F(TraceMaskPageTest, SelectingARowRewritesTheSameMask) {
  openPage();
  ASSERT_EQ(own.setTraceMask(0x00000003), 0u);  // the list still shows bit 0 only
  page.list()->selectItem(1);
  // Row 1 is unchecked as shown: its bit is written as the row shows it.
  EXPECT_EQ(driverMask(), 0x00000001u);
  page.list()->selectItem(0);
  EXPECT_EQ(driverMask(), 0x00000001u);
}

TEST_F(TraceMaskPageTest, AFailedReadLeavesTheMaskUnchanged) {
  openPage();
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_TRACE_MASK, ORVANE_STATUS_NOT_POSSIBLE, 0, 1), 0u);
  check(5, true);
  EXPECT_TRUE(page.list()->isChecked(5));
  EXPECT_EQ(driverMask(), kInitialMask);
}

TEST_F(TraceMaskPageTest, AFailedReadWhileFillingShowsNothingCheckedAndChangesNothing) {
  ASSERT_EQ(own.setTraceMask(0x00000F00), 0u);
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_TRACE_MASK, ORVANE_STATUS_NOT_POSSIBLE), 0u);
  openPage();
  EXPECT_EQ(shownMask(), 0u);
  ASSERT_EQ(control.clearFaults(), 0u);
  EXPECT_EQ(driverMask(), 0x00000F00u);
}

TEST_F(TraceMaskPageTest, FillingNeverWritesTheMaskSoAFailedWriteLosesNoBit) {
  // Only the first write succeeds. A fill that wrote each row's bit (cleared
  // for the new unchecked row, set again for its check mark) would leave
  // bit 0 cleared.
  ASSERT_EQ(own.setTraceMask(0x00000003), 0u);
  const usbaudio_sim::SIM_FAULT fault{ORVANE_IOCTL_SET_TRACE_MASK, ORVANE_STATUS_NOT_POSSIBLE, 0, 0, 1};
  ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault), 0u);
  openPage();
  EXPECT_EQ(shownMask(), 0x00000003u);
  EXPECT_EQ(driverMask(), 0x00000003u);
}

TEST_F(TraceMaskPageTest, SetAsDefaultSavesTheMaskForTheNextLoad) {
  openPage();
  check(12, true);
  page.controlAs<Button>(FormTraceMask::kSetDefaultId)->click();
  EXPECT_EQ(sim_testing::savedTraceMask(), 0x00001001u);
}

TEST_F(TraceMaskPageTest, WithoutAConnectionThePageShowsZeroAndSendsNothing) {
  setActiveConnection(nullptr);
  ASSERT_EQ(own.setTraceMask(0x00000006), 0u);
  openPage();
  EXPECT_EQ(shownMask(), 0u);
  check(4, true);
  page.controlAs<Button>(FormTraceMask::kSetDefaultId)->click();
  EXPECT_EQ(driverMask(), 0x00000006u);
  // updateForm does nothing while disconnected: the marks stay.
  page.updateForm();
  EXPECT_TRUE(page.list()->isChecked(4));
}

TEST_F(TraceMaskPageTest, TheBitColumnIsFortyPixelsAndTheNameColumnTheRest) {
  openPage();
  page.onFormSize();
  EXPECT_EQ(page.list()->columnWidth(0), FormTraceMask::kBitColumnWidth);
  EXPECT_EQ(page.list()->columnWidth(1), page.list()->clientWidth() - FormTraceMask::kBitColumnWidth);
  const uint32_t extended = page.list()->extendedStyle();
  EXPECT_EQ(extended & (listStyle::gridLines | listStyle::checkBoxes | listStyle::fullRowSelect),
            listStyle::gridLines | listStyle::checkBoxes | listStyle::fullRowSelect);
  EXPECT_EQ(page.itemText(FormTraceMask::kGroupId), u"Trace Mask");
  EXPECT_EQ(page.itemText(FormTraceMask::kSetDefaultId), u"Set as default");
}

TEST(ReleaseBuildTextTest, ExplainsThatTracingNeedsADebugBuild) {
  EXPECT_EQ(std::u16string(kReleaseBuildText),
            u"\n\n\n\tThe release build of the ORVANE driver does not support tracing.\n\tTo get trace messages, use "
            u"a debug build.");
}

}  // namespace
