// The window placement kept in the registry, and the frame's ways to close
// and minimize that write it.

#include "tests/control-panel/control_panel_fixture.h"

#include "forms/wtl_registry_setting.h"
#include "platform/registry.h"
#include "platform/ui/screen.h"

namespace cpl_testing {
namespace {

using platform::RegistryHive;
using platform::RegistryKey;

TEST(ClampToScreen, KeepsAtLeastFiftyPixelsOnTheScreen) {
  const Size screen{1920, 1080};
  const struct {
    Rect in;
    Rect out;
  } cases[] = {
      {{-500, 10, -200, 210}, {0, 10, 50, 210}},           // the right edge raised to 50
      {{0, 0, 10, 10}, {935, 515, 985, 565}},              // too small: the centred square
      {{100, 100, 650, 520}, {100, 100, 650, 520}},        // on the screen: unchanged
      {{1900, 1070, 2500, 1500}, {1870, 1030, 1920, 1080}},  // off the bottom right
      {{-100, -100, 2000, 1200}, {0, 0, 1920, 1080}},      // larger than the screen
      {{300, 300, 349, 600}, {935, 515, 985, 565}},        // 49 wide
  };
  for (const auto& entry : cases) {
    EXPECT_EQ(clampToScreen(entry.in, screen), entry.out)
        << entry.in.left << "," << entry.in.top << "," << entry.in.right << "," << entry.in.bottom;
  }
}

class PlacementTest : public ControlPanelTest {
 protected:
  void SetUp() override {
    ControlPanelTest::SetUp();
    ASSERT_TRUE(screenSize(&screen_));
  }

  RegistryKey settings() {
    RegistryKey key;
    EXPECT_EQ(RegistryKey::create(RegistryHive::CurrentUser, cpl::kSettingsKey, platform::KEY_ALL_ACCESS, key), 0u);
    return key;
  }

  void store(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    RegistryKey key = settings();
    key.setDword(u"PosX", x);
    key.setDword(u"PosY", y);
    key.setDword(u"Width", width);
    key.setDword(u"Height", height);
  }

  bool stored(const char16_t* name, uint32_t* value) { return settings().getDword(name, *value) == 0; }

  Size screen_;
};

TEST_F(PlacementTest, TheStoredRectangleIsUsedAtStart) {
  store(20, 30, 600, 450);
  MainFrame& window = openFrame();
  EXPECT_EQ(getWindowRect(window.handle()), (Rect{20, 30, 620, 480}));
}

TEST_F(PlacementTest, AStoredRectangleOffTheScreenIsPulledBack) {
  store(static_cast<uint32_t>(-500), 10, 560, 430);
  MainFrame& window = openFrame();
  const Rect rect = getWindowRect(window.handle());
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 10);
}

TEST_F(PlacementTest, AStringValueKeepsTheDefault) {
  store(20, 30, 600, 450);
  settings().setString(u"Width", u"600");
  MainFrame& window = openFrame();
  EXPECT_EQ(getWindowRect(window.handle()), (Rect{40, 30, 40 + MainFrame::kMinimumWidth, 30 + MainFrame::kMinimumHeight}));
}

TEST_F(PlacementTest, AMissingValueKeepsTheDefault) {
  store(20, 30, 600, 450);
  settings().deleteValue(u"PosY");
  MainFrame& window = openFrame();
  EXPECT_EQ(getWindowRect(window.handle()).left, 40);
}

TEST_F(PlacementTest, ClosingStoresThePlacement) {
  MainFrame& window = openFrame();
  moveWindow(window.handle(), Rect{60, 70, 660, 520});
  sendMessage(window.handle(), WM_CLOSE);
  EXPECT_FALSE(window.exists());
  uint32_t x = 0, y = 0, width = 0, height = 0;
  ASSERT_TRUE(stored(u"PosX", &x) && stored(u"PosY", &y) && stored(u"Width", &width) && stored(u"Height", &height));
  EXPECT_EQ(x, 60u);
  EXPECT_EQ(y, 70u);
  EXPECT_EQ(width, 600u);
  EXPECT_EQ(height, 450u);
}

TEST_F(PlacementTest, MinimizingStoresThePlacementBeforehand) {
  MainFrame& window = openFrame();
  moveWindow(window.handle(), Rect{61, 71, 661, 521});
  sendMessage(window.handle(), WM_SYSCOMMAND, SC_MINIMIZE);
  EXPECT_TRUE(isIconic(window.handle()));
  uint32_t x = 0;
  ASSERT_TRUE(stored(u"PosX", &x));
  EXPECT_EQ(x, 61u);
}

TEST_F(PlacementTest, ExitWhileMinimizedDoesNotStoreIt) {
  MainFrame& window = openFrame();
  showWindow(window.handle(), SW_MINIMIZE);
  settings().deleteValue(u"PosX");
  sendMessage(window.handle(), WM_COMMAND, makeWParam(cpl::ID_APP_EXIT, 0), 0);
  EXPECT_TRUE(waitFor([&] { return !window.exists(); }));
  uint32_t x = 0;
  EXPECT_FALSE(stored(u"PosX", &x));
}

TEST_F(PlacementTest, TheMinimumTrackSizeIsTheFrameSize) {
  MainFrame& window = openFrame();
  moveWindow(window.handle(), Rect{0, 0, 300, 200});
  const Rect rect = getWindowRect(window.handle());
  EXPECT_EQ(rect.width(), MainFrame::kMinimumWidth);
  EXPECT_EQ(rect.height(), MainFrame::kMinimumHeight);
  MinMaxInfo info;
  sendMessage(window.handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LParam>(&info));
  EXPECT_EQ(info.minTrackSize, (Size{550, 420}));
  EXPECT_EQ(info.maxTrackSize, (Size{-1, -1}));
}

// Without a notification area icon the close box ends the program.
TEST_F(PlacementTest, WithoutTheIconTheCloseBoxClosesTheWindow) {
  MainFrame& window = openFrame();
  ASSERT_FALSE(window.isIconInstalled());
  sendMessage(window.handle(), WM_SYSCOMMAND, SC_CLOSE);
  EXPECT_FALSE(window.exists());
  uint32_t x = 0;
  EXPECT_TRUE(stored(u"PosX", &x));
}

}  // namespace
}  // namespace cpl_testing
