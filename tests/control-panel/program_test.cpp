// The program orvanecpl as users and other programs start it: "-exit", a
// second start, options, and a smoke run under a real X server (Xvfb) with
// and without a notification area (trayer).

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "control-panel/control_panel_resources.h"
#include "device-access/orvane_records.h"
#include "device-access/orvane_driver.h"
#include "platform/ui/window.h"
#include "platform/ui/window_directory.h"
#include "tests/support/eventually.h"
#include "tests/ui-support/desktop.h"
#include "tests/ui-support/emulated_machine.h"

namespace {

using namespace platform::ui;
using testing_support::eventually;
using testing_support::SpawnedProcess;
using ui_testing::Desktop;

const std::string kOffscreen = "QT_QPA_PLATFORM=offscreen";


WindowHandle runningFrame() { return findWindow(cpl::kFrameClassName); }

// Runs orvanecpl to its end; its exit code.
int runControlPanel(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {kOffscreen}) {
  std::vector<std::string> command{ORVANECPL};
  command.insert(command.end(), arguments.begin(), arguments.end());
  SpawnedProcess program(command, environment);
  const int exitCode = program.waitExit(60000);
  EXPECT_GE(exitCode, 0) << "orvanecpl did not end";
  return exitCode;
}

// The kernel driver's count of open control panel views.
uint32_t openViews() {
  OrvaneDriver connection;
  if (connection.openDriver(sim_testing::kPanelLink, false, false) != 0) return 99;
  ORVANE_STREAMING_STATUS status{};
  if (connection.ioctlGetStreamingStatus(status) != 0) return 99;
  return status.reserved2[1];
}

class ProgramTest : public ::testing::Test {
 protected:
  std::unique_ptr<SpawnedProcess> startControlPanel(const std::vector<std::string>& arguments,
                                                    const std::vector<std::string>& environment = {kOffscreen}) {
    std::vector<std::string> command{ORVANECPL};
    command.insert(command.end(), arguments.begin(), arguments.end());
    auto program = std::make_unique<SpawnedProcess>(command, environment);
    EXPECT_TRUE(eventually([] { return static_cast<bool>(runningFrame()); })) << "no window of orvanecpl";
    return program;
  }

  testing_support::TestSystemRoot root;
};

TEST_F(ProgramTest, ExitWithoutARunningInstanceEndsAtOnceWithZero) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runControlPanel({"-exit"}, {}), 0);  // needs no display
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(ProgramTest, ExitClosesTheRunningInstance) {
  auto first = startControlPanel({"-notray"});
  EXPECT_EQ(runControlPanel({"-EXIT"}, {}), 0);
  EXPECT_EQ(first->waitExit(10000), 1) << "the first instance ends as after a normal end";
  EXPECT_FALSE(runningFrame());
}

TEST_F(ProgramTest, ExitGivesUpAfterFiftyCloseMessagesToAWindowThatStays) {
  SpawnedProcess stubborn({STUBBORN_FRAME, "{8FFAA533-F09A-4b88-90B2-A97A16AB39BE}"});
  ASSERT_TRUE(eventually([] { return static_cast<bool>(runningFrame()); }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runControlPanel({"-exit"}, {}), 1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(50 * 200 - 300));
  EXPECT_LT(elapsed, std::chrono::seconds(30));
  EXPECT_TRUE(stubborn.running());
}

TEST_F(ProgramTest, ASecondStartShowsTheHiddenFirstInstanceAndEndsWithOne) {
  auto first = startControlPanel({"-hide", "-notray"});
  const WindowHandle frame = runningFrame();
  EXPECT_FALSE(isWindowVisible(frame));
  EXPECT_EQ(runControlPanel({}), 1);
  EXPECT_TRUE(isWindowVisible(frame));
  EXPECT_TRUE(first->running());
}

TEST_F(ProgramTest, ASecondStartRestoresAMinimizedFirstInstance) {
  auto first = startControlPanel({"-notray"});
  const WindowHandle frame = runningFrame();
  showWindow(frame, SW_MINIMIZE);
  ASSERT_TRUE(eventually([&] { return isIconic(frame); }));
  EXPECT_EQ(runControlPanel({"-asio"}), 1);
  EXPECT_FALSE(isIconic(frame));
  EXPECT_TRUE(isWindowVisible(frame));
}

TEST_F(ProgramTest, AKilledInstanceIsNeverFoundAndANewOneStarts) {
  auto first = startControlPanel({"-notray"});
  first->kill();
  EXPECT_FALSE(runningFrame());
  auto second = startControlPanel({"-notray"});
  EXPECT_TRUE(second->running());
  EXPECT_EQ(runControlPanel({"-exit"}, {}), 0);
}

TEST_F(ProgramTest, WithoutADisplayItSaysSoAndEndsWithOne) {
  EXPECT_EQ(runControlPanel({}, {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="}), 1);
}

// ---------------------------------------------------------------------------
// Under a real X server.

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  }

  std::unique_ptr<SpawnedProcess> startControlPanel(const Desktop& desktop, const std::vector<std::string>& arguments) {
    std::vector<std::string> command{ORVANECPL};
    command.insert(command.end(), arguments.begin(), arguments.end());
    auto program = std::make_unique<SpawnedProcess>(command, desktop.environment());
    EXPECT_TRUE(eventually([] { return static_cast<bool>(runningFrame()); })) << "no window of orvanecpl";
    return program;
  }

  ui_testing::EmulatedMachine machine;
};

TEST_F(DesktopTest, TheControlPanelRunsOnAnXServer) {
  Desktop desktop(false);
  ASSERT_TRUE(desktop.ready());
  ASSERT_TRUE(machine.start({sim_testing::DeviceSpec{"QT0001", "Quintor One"}}));
  auto program = startControlPanel(desktop, {"-notray"});
  const WindowHandle frame = runningFrame();
  EXPECT_TRUE(eventually([&] { return isWindowVisible(frame); }));
  // Visible and connected: the kernel driver counts its view.
  EXPECT_TRUE(eventually([] { return openViews() == 1; }));
  // The window is on the X server, with its title.
  EXPECT_TRUE(desktop.xdotool("search --name '^QUINTOR Control Panel$'")) << "xdotool does not see the window";
  EXPECT_EQ(runControlPanel({"-exit"}, {}), 0);
  EXPECT_EQ(program->waitExit(10000), 1);
  EXPECT_TRUE(eventually([] { return openViews() == 0; }));
}

TEST_F(DesktopTest, WithANotificationAreaTheCloseBoxHidesToTheTray) {
  Desktop desktop(true);
  ASSERT_TRUE(desktop.ready());
  ASSERT_TRUE(machine.start({sim_testing::DeviceSpec{"QT0001", "Quintor One"}}));
  auto program = startControlPanel(desktop, {});
  const WindowHandle frame = runningFrame();
  ASSERT_TRUE(eventually([&] { return isWindowVisible(frame) && openViews() == 1; }));
  LResult ignored = 0;
  ASSERT_TRUE(sendMessageTimeout(frame, WM_SYSCOMMAND, SC_CLOSE, 0, 5000, &ignored));
  EXPECT_TRUE(eventually([&] { return !isWindowVisible(frame); }));
  EXPECT_TRUE(program->running()) << "the close box ended the program";
  EXPECT_TRUE(eventually([] { return openViews() == 0; })) << "hiding keeps the view connection";
  EXPECT_EQ(runControlPanel({}, desktop.environment()), 1);  // a second start shows it
  EXPECT_TRUE(eventually([&] { return isWindowVisible(frame) && openViews() == 1; }));
  ASSERT_TRUE(sendMessageTimeout(frame, WM_COMMAND, cpl::ID_APP_EXIT, 0, 5000, &ignored));
  EXPECT_EQ(program->waitExit(10000), 1);
}

TEST_F(DesktopTest, TheTrayIconsMouseButtonsShowTheWindowAndOpenItsMenu) {
  Desktop desktop(true);
  ASSERT_TRUE(desktop.ready());
  auto program = startControlPanel(desktop, {"-hide"});
  const WindowHandle frame = runningFrame();
  ASSERT_FALSE(isWindowVisible(frame));
  // The icon is embedded in the notification area (the hidden frame has no X window yet).
  ASSERT_TRUE(eventually([&] { return desktop.xdotool("search --classname '^orvanecpl$'"); }));
  // A single click of the left or the middle button does nothing.
  EXPECT_TRUE(desktop.clickTrayIcon("1"));
  EXPECT_TRUE(desktop.clickTrayIcon("2"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(isWindowVisible(frame));
  // A double click shows the window.
  EXPECT_TRUE(desktop.clickTrayIcon("--repeat 2 --delay 60 1"));
  EXPECT_TRUE(eventually([&] { return isWindowVisible(frame); }));
  // The callback message with another identifier is not the icon's.
  LResult ignored = 0;
  ASSERT_TRUE(sendMessageTimeout(frame, WM_SYSCOMMAND, SC_CLOSE, 0, 5000, &ignored));
  ASSERT_TRUE(eventually([&] { return !isWindowVisible(frame); }));
  ASSERT_TRUE(sendMessageTimeout(frame, cpl::WM_TRAY_CALLBACK, 7, WM_LBUTTONDBLCLK, 5000, &ignored));
  EXPECT_FALSE(isWindowVisible(frame));
  // The right button opens the icon's menu at the pointer: "&Restore" shows
  // the window, "E&xit" ends the program.
  EXPECT_TRUE(desktop.clickTrayIcon("3"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(desktop.typeKey("r"));
  EXPECT_TRUE(eventually([&] { return isWindowVisible(frame); }));
  EXPECT_TRUE(desktop.clickTrayIcon("3"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(desktop.typeKey("x"));
  EXPECT_EQ(program->waitExit(10000), 1);
}

TEST_F(DesktopTest, WithoutANotificationAreaTheCloseBoxEndsTheProgram) {
  Desktop desktop(false);
  ASSERT_TRUE(desktop.ready());
  auto program = startControlPanel(desktop, {});
  LResult ignored = 0;
  ASSERT_TRUE(sendMessageTimeout(runningFrame(), WM_SYSCOMMAND, SC_CLOSE, 0, 5000, &ignored));
  EXPECT_EQ(program->waitExit(10000), 1);
}

}  // namespace
