// Windows across processes and device interface broadcasts to windows.

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/errors.h"
#include "platform/guid.h"
#include "platform/text.h"
#include "platform/ui/window_directory.h"
#include "tests/support/child_process.h"
#include "tests/support/eventually.h"
#include "tests/support/spawned_process.h"
#include "tests/support/test_system_root.h"
#include "tests/ui/ui_test_support.h"

namespace ui_testing {
namespace {

using testing_support::eventually;
using testing_support::SpawnedProcess;

constexpr char16_t kClass[] = u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
constexpr DialogTemplate kEmpty{1, u"", 40, 40, {}};


class WindowDirectoryTest : public ::testing::Test {
 protected:
  testing_support::TestSystemRoot root;
};

TEST_F(WindowDirectoryTest, AWindowOfAnotherProcessIsFoundByItsClassInAnyCase) {
  EXPECT_FALSE(findWindow(kClass));
  SpawnedProcess other({STUBBORN_FRAME, platform::toUtf8(kClass)});
  ASSERT_TRUE(eventually([] { return static_cast<bool>(findWindow(kClass)); }));
  const WindowHandle found = findWindow(u"{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}");
  EXPECT_EQ(found.process(), static_cast<uint32_t>(other.pid()));
  EXPECT_EQ(getClassName(found), kClass);
  EXPECT_TRUE(isWindow(found));
  EXPECT_TRUE(isWindowVisible(found));
  EXPECT_FALSE(findWindow(u"{00000000-0000-0000-0000-000000000000}"));
}

TEST_F(WindowDirectoryTest, AnotherProcessesWindowShowsHidesAndAnswers) {
  SpawnedProcess other({STUBBORN_FRAME, platform::toUtf8(kClass)});
  ASSERT_TRUE(eventually([] { return static_cast<bool>(findWindow(kClass)); }));
  const WindowHandle window = findWindow(kClass);
  EXPECT_TRUE(showWindow(window, SW_HIDE));
  EXPECT_FALSE(isWindowVisible(window));
  EXPECT_FALSE(showWindow(window, SW_SHOW));
  EXPECT_TRUE(isWindowVisible(window));
  showWindow(window, SW_MINIMIZE);
  EXPECT_TRUE(eventually([&] { return isIconic(window); }));
  showWindow(window, SW_RESTORE);
  EXPECT_FALSE(isIconic(window));
  EXPECT_TRUE(setForegroundWindow(window));
  EXPECT_EQ(getLastActivePopup(window), window);

  // A registered message answered with its own number.
  const uint32_t areYouMe = registerWindowMessage(u"UWM_ARE_YOU_ME-{4CD3C185-B73F-4f7c-A257-E918DD59F771}");
  LResult answer = 0;
  EXPECT_TRUE(sendMessageTimeout(window, areYouMe, 0, 0, 200, &answer));
  EXPECT_EQ(answer, static_cast<LResult>(areYouMe));
  // A close message it ignores still gets its answer.
  EXPECT_TRUE(sendMessageTimeout(window, WM_CLOSE, 0, 0, 1000, &answer));
  EXPECT_TRUE(isWindow(window));
  // Messages that carry pointers cannot cross.
  EXPECT_FALSE(sendMessageTimeout(window, WM_NOTIFY, 0, 1234, 1000, &answer));
  EXPECT_EQ(platform::lastError(), platform::ERROR_ACCESS_DENIED);
}

TEST_F(WindowDirectoryTest, TheWindowOfAKilledProcessIsNeverFound) {
  SpawnedProcess other({STUBBORN_FRAME, platform::toUtf8(kClass)});
  ASSERT_TRUE(eventually([] { return static_cast<bool>(findWindow(kClass)); }));
  const WindowHandle window = findWindow(kClass);
  other.kill();
  EXPECT_FALSE(findWindow(kClass));
  EXPECT_FALSE(isWindow(window));
  LResult answer = 0;
  EXPECT_FALSE(sendMessageTimeout(window, WM_CLOSE, 0, 0, 1000, &answer));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_TRUE(enumTopLevelWindows().empty());
}

TEST_F(WindowDirectoryTest, OwnWindowsAreFoundAndGoneWhenDestroyed) {
  RecordingDialog dialog(kEmpty);
  ASSERT_TRUE(dialog.create({}, kClass));
  EXPECT_EQ(findWindow(kClass), dialog.handle());
  EXPECT_EQ(enumTopLevelWindows(), (std::vector<WindowHandle>{dialog.handle()}));
  LResult answer = 0;
  EXPECT_TRUE(sendMessageTimeout(dialog.handle(), WM_USER + 1, 5, 0, 1000, &answer));
  EXPECT_EQ(dialog.only(WM_USER + 1).size(), 1u);
  destroyWindow(dialog.handle());
  EXPECT_FALSE(findWindow(kClass));
}

TEST_F(WindowDirectoryTest, RegisteredMessagesAreTheSameInEveryProcess) {
  const uint32_t first = registerWindowMessage(u"TaskbarCreated");
  const uint32_t second = registerWindowMessage(u"Another");
  EXPECT_GE(first, kFirstRegisteredMessage);
  EXPECT_LE(first, kLastRegisteredMessage);
  EXPECT_NE(first, second);
  EXPECT_EQ(registerWindowMessage(u"taskbarcreated"), first);
  EXPECT_EQ(registerWindowMessage(u""), 0u);
  testing_support::ChildProcess child([&] {
    return registerWindowMessage(u"Another") == second && registerWindowMessage(u"TASKBARCREATED") == first ? 0 : 1;
  });
  EXPECT_EQ(child.wait(), 0);
}

// ---------------------------------------------------------------------------

class DeviceChangeTest : public ::testing::Test {
 protected:
  testing_support::TestSystemRoot root;
};

TEST_F(DeviceChangeTest, ArrivalAndRemovalOfAnInterfaceReachARegisteredWindow) {
  RecordingDialog window(kEmpty);
  ASSERT_TRUE(window.create({}));
  std::vector<std::pair<WParam, std::u16string>> changes;
  window.handler = [&](uint32_t message, WParam wParam, LParam lParam, LResult&) {
    if (message != WM_DEVICECHANGE) return false;
    const auto* name = reinterpret_cast<const char16_t*>(reinterpret_cast<const uint8_t*>(lParam) +
                                                         platform::kDeviceInterfaceRecordNameOffset);
    changes.push_back({wParam, name});
    return true;
  };
  platform::Guid panelClass;
  ASSERT_TRUE(platform::parseGuid(std::string_view("{BC1AFE28-22BD-4DFC-821B-51306F8D0D1D}"), &panelClass));
  const std::vector<uint8_t> filter = platform::makeDeviceInterfaceRecord(panelClass, u"");
  const platform::DeviceNotifyHandle registration = platform::registerDeviceNotification(
      window.deviceNotificationRecipient(), filter.data(), platform::DEVICE_NOTIFY_WINDOW_HANDLE);
  ASSERT_NE(registration, nullptr);
  // The driver's own interface of the class, and the plugged device's.
  const std::vector<std::u16string> interfaces = {u"USB#VID_2F1A_PID_0110#00000001#{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}",
                                                  u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"};  // in sorted order
  auto namesOf = [&](WParam kind) {
    std::vector<std::u16string> names;
    for (const auto& [event, name] : changes) {
      if (event == kind) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  {
    SpawnedProcess host({WN_DEVHOST, WN_USBAUDIO_SIM_MODULE});
    ASSERT_TRUE(waitFor([&] { return changes.size() == 2; }, 10000));
    EXPECT_EQ(namesOf(platform::DBT_DEVICEARRIVAL), interfaces);
  }
  ASSERT_TRUE(waitFor([&] { return changes.size() == 4; }, 10000));
  EXPECT_EQ(namesOf(platform::DBT_DEVICEREMOVECOMPLETE), interfaces);
  QTest::qWait(200);  // anything else would have come by now
  EXPECT_EQ(changes.size(), 4u) << "only the class the window registered for";
  EXPECT_TRUE(platform::unregisterDeviceNotification(registration));
  destroyWindow(window.handle());
}

}  // namespace
}  // namespace ui_testing
