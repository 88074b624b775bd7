// The program orvanespy as users start it: a second start activates the
// first and ends with 1; closing the window ends the program with 1; the
// program runs against the simulated driver with a stream going.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/ui/window.h"
#include "platform/ui/window_directory.h"
#include "spy/spy_resources.h"
#include "tests/support/eventually.h"
#include "tests/support/spawned_process.h"
#include "tests/support/test_system_root.h"
#include "tests/ui-support/emulated_machine.h"

namespace {

using namespace platform::ui;
using testing_support::eventually;
using testing_support::SpawnedProcess;

const std::vector<std::string> kOffscreen = {"QT_QPA_PLATFORM=offscreen"};

WindowHandle runningFrame() { return findWindow(spy::kFrameClassName); }

class SpyProgramTest : public ::testing::Test {
 protected:
  std::unique_ptr<SpawnedProcess> startSpy() {
    auto program = std::make_unique<SpawnedProcess>(std::vector<std::string>{ORVANESPY}, kOffscreen);
    EXPECT_TRUE(eventually([] { return static_cast<bool>(runningFrame()); })) << "no window of orvanespy";
    return program;
  }

  static int runSecondSpy() {
    SpawnedProcess second({ORVANESPY, "-ignored", "words"}, kOffscreen);
    const int exitCode = second.waitExit(60000);
    EXPECT_GE(exitCode, 0) << "orvanespy did not end";
    return exitCode;
  }

  ui_testing::EmulatedMachine machine;  // its system root holds the window directory
};

TEST_F(SpyProgramTest, ASecondStartRestoresTheFirstAndEndsWithOne) {
  for (const bool minimized : {false, true}) {
    auto first = startSpy();
    const WindowHandle frame = runningFrame();
    if (minimized) {
      showWindow(frame, SW_MINIMIZE);
      ASSERT_TRUE(eventually([&] { return isIconic(frame); }));
    } else {
      showWindow(frame, SW_HIDE);
      ASSERT_TRUE(eventually([&] { return !isWindowVisible(frame); }));
    }
    EXPECT_EQ(runSecondSpy(), 1) << minimized;
    EXPECT_FALSE(isIconic(frame)) << minimized;
    EXPECT_TRUE(isWindowVisible(frame)) << minimized;
    EXPECT_TRUE(first->running());
    LResult ignored = 0;
    sendMessageTimeout(frame, WM_CLOSE, 0, 0, 5000, &ignored);
    EXPECT_EQ(first->waitExit(10000), 1) << "a normal end";
  }
}

TEST_F(SpyProgramTest, RunsAgainstTheDriverAndEndsWithOneOnClose) {
  ASSERT_TRUE(machine.start({sim_testing::DeviceSpec{"SP0001", "Orvane SP0001"}}));
  auto spy = startSpy();
  const WindowHandle frame = runningFrame();
  EXPECT_TRUE(eventually([&] { return isWindowVisible(frame); }));
  LResult ignored = 0;
  EXPECT_TRUE(sendMessageTimeout(frame, WM_CLOSE, 0, 0, 5000, &ignored));
  EXPECT_EQ(spy->waitExit(10000), 1);
  EXPECT_FALSE(runningFrame());
}

}  // namespace
