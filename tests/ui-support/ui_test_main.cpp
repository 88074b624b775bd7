// The main function of the graphical tests: GoogleTest cases that drive real
// widgets with Qt Test, on Qt's offscreen platform unless the environment
// chooses another (the tests run under Xvfb set QT_QPA_PLATFORM=xcb).

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/ui/application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  platform::ui::Application application(argc, argv);
  return RUN_ALL_TESTS();
}
