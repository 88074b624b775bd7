// The control panel's command line.

#include <gtest/gtest.h>

#include "control-panel/control_panel_program.h"

namespace {

TEST(ControlPanelCommandLine, OptionsAreWholeTokensInAnyCase) {
  const struct {
    const char16_t* line;
    bool exit;
    bool hide;
    bool noTray;
  } cases[] = {
      {u"", false, false, false},
      {u"-exit", true, false, false},
      {u"-HIDE", false, true, false},
      {u"-Hide -NoTray", false, true, true},
      {u"  -hide\t-notray  ", false, true, true},
      {u"x-hide -hidex --hide hide", false, false, false},
      {u"-asio", false, false, false},
      {u"-asio -exit", true, false, false},
      {u"/hide", false, false, false},
  };
  for (const auto& entry : cases) {
    const ControlPanelOptions options = parseControlPanelCommandLine(entry.line);
    EXPECT_EQ(options.exit, entry.exit) << static_cast<int>(entry.line[0]);
    EXPECT_EQ(options.hide, entry.hide);
    EXPECT_EQ(options.noTray, entry.noTray);
  }
}

TEST(ControlPanelCommandLine, TheArgumentsAreJoinedWithSpaces) {
  char program[] = "orvanecpl";
  char first[] = "-hide";
  char second[] = "-notray";
  char* argv[] = {program, first, second, nullptr};
  EXPECT_EQ(joinArguments(3, argv), u"-hide -notray");
  EXPECT_EQ(joinArguments(1, argv), u"");
}

}  // namespace
