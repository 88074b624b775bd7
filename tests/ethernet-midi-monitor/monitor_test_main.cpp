// The main function of the monitor's tests. The process first moves into a
// private network (the driver sends UDP multicast), then starts an X server
// of its own with a notification area, since the monitor's dialog needs its
// tray icon, and creates the Application on it. Without Xvfb the tests run
// on the offscreen platform, where the tray tests fail for want of a tray.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "platform/ui/application.h"
#include "tests/support/private_network.h"
#include "tests/ui-support/desktop.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const bool listing = GTEST_FLAG_GET(list_tests);
  std::string error;
  if (!listing && !testing_support::enterPrivateNetwork(&error)) {
    std::cerr << "no private network: " << error << "\n";
    return 1;
  }
  std::unique_ptr<ui_testing::Desktop> desktop;
  if (!listing && std::getenv("WN_MONITOR_TESTS_OFFSCREEN") == nullptr && ::access("/usr/bin/Xvfb", X_OK) == 0) {
    desktop = std::make_unique<ui_testing::Desktop>(true);
  }
  if (desktop && desktop->ready()) {
    setenv("DISPLAY", desktop->display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  } else {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  int result = 0;
  {
    platform::ui::Application application(argc, argv);
    result = RUN_ALL_TESTS();
  }
  return result;
}
