#pragma once
// Runs a program to its end and collects its exit code and both outputs.

#include <string>
#include <vector>

namespace testing_support {

struct ProgramResult {
  int exitCode = -1;  // 128 + signal when a signal ended it; -1 when it could not run
  std::string out;
  std::string err;
};

// Waits until the program has ended and closed its outputs (at most 60 s of silence).
ProgramResult runProgram(const std::vector<std::string>& arguments);

}  // namespace testing_support
