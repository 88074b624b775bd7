#pragma once
// The program MireloMon: single instance per desktop, the driver check, the
// hidden dialog in the tray, and the restart with administrator rights
// (two arguments: the dialog's last left and top position).

#include <string>
#include <vector>

class CternokMirMonApp {
 public:
  static constexpr char16_t kMutexPrefix[] = u"MireloMon-{4CD3C185-B73F-4f7c-A257-E918DD59F771}";

  // Runs the program with its arguments (without the program name) on the
  // running Application; the process's exit code.
  int Run(const std::vector<std::string>& arguments);

  // The single-instance mutex's name on this desktop.
  static std::u16string MutexName();
};
