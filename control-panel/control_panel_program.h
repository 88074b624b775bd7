#pragma once
// The control panel program: its command line, the "-exit" and
// single-instance handling, and the run of its main window.

#include <string>
#include <string_view>

struct ControlPanelOptions {
  bool exit = false;    // "-exit": close a running instance and end
  bool hide = false;    // "-hide": start with the window hidden
  bool noTray = false;  // "-notray": no notification area icon
};

// Splits the command line at white space; an option counts when a whole
// token equals it without regard to case. Other tokens ("-asio") are ignored.
ControlPanelOptions parseControlPanelCommandLine(std::u16string_view commandLine);

// The command line as one text, the program's arguments joined by spaces.
std::u16string joinArguments(int argc, char** argv);

// "-exit": closes a running instance. 0 once none is found (at once when none
// runs), 1 after the 50th close message found it still there.
int exitRunningInstance();

// A second instance: restores and shows the running instance's window (its
// last active popup) in front. Always 1, the second instance's exit code.
int activateRunningInstance();

// The whole program; its exit code.
int runControlPanel(int argc, char** argv);
