#pragma once
// Processes: creating one from a command line or an argument list, its handle
// (waitable, signalled when the process has ended) and exit code, and the
// paths of the running program and of the module that contains a function.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/handles.h"

namespace platform {

// Creation flags of createProcess.
inline constexpr uint32_t DETACHED_PROCESS = 0x00000008;
inline constexpr uint32_t CREATE_NEW_PROCESS_GROUP = 0x00000200;
inline constexpr uint32_t CREATE_NO_WINDOW = 0x08000000;

inline constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;

struct ProcessInformation {
  Handle process = nullptr;  // signalled when the process has ended; close it with closeHandle
  uint32_t processId = 0;
};

// How a process is started besides its arguments.
struct ProcessOptions {
  // A session of its own with no terminal, standard streams on /dev/null
  // unless given below: it outlives its creator and ignores the creator's
  // terminal (Ctrl+C there does not reach it).
  bool detached = false;
  // Empty: the creator's working directory.
  std::string workingDirectory;
  // Variables added to (or replacing those of) the creator's environment.
  std::vector<std::pair<std::string, std::string>> environment;
  // Descriptors handed on: (the creator's descriptor, its number in the new
  // process). Every other descriptor of the creator stays behind.
  std::vector<std::pair<int, int>> descriptors;
  // -1: the creator's stream (or /dev/null when detached).
  int standardInput = -1;
  int standardOutput = -1;
  int standardError = -1;
};

// Starts arguments[0] (a path, or a name looked up in PATH when it has no
// slash) with these arguments. 0 or the system error: 2 when the program is
// missing, 5 when it may not be run, 193 when it is no program, 87 without
// arguments. The new process starts with default signal handling and no
// blocked signals, whatever the creator's threads have set.
uint32_t startProcess(const std::vector<std::string>& arguments, const ProcessOptions& options,
                      ProcessInformation& info);

// Starts a process from a command line as the original system does: the
// program is `applicationName`, or else the command line's first argument
// (an unquoted path with spaces is taken up to the first part that names an
// existing file); the arguments are the command line split by
// splitCommandLine. DETACHED_PROCESS runs it detached (see ProcessOptions).
// False with the last error set on failure.
bool createProcess(const char16_t* applicationName, const char16_t* commandLine, uint32_t creationFlags,
                   const char16_t* currentDirectory, ProcessInformation* info);

// Splits a command line as the original system's runtime does: arguments are
// separated by blanks, double quotes group, 2n backslashes before a quote
// give n backslashes and a grouping quote, 2n + 1 give n backslashes and a
// literal quote, and two quotes inside a group give one literal quote.
std::vector<std::u16string> splitCommandLine(std::u16string_view commandLine);

// The program and arguments createProcess runs for a command line without
// application name.
std::vector<std::u16string> commandLineToArguments(std::u16string_view commandLine);

// Quotes an argument so that splitCommandLine gives it back unchanged.
std::u16string quoteCommandLineArgument(std::u16string_view argument);

// A handle to a running process of this machine (by its id), to wait for it.
// Null with last error 87 when there is no such process. Its exit code is
// known only for this process's own children.
Handle openProcess(uint32_t processId);

// STILL_ACTIVE (259) while the process runs. Afterwards its exit status
// (0 to 255), the code given to terminateProcess, or 128 + the signal that
// ended it. False with last error 6 for a handle that is no process, 50 once
// a process that is not a child of this one has ended (its code is unknown).
bool getExitCodeProcess(Handle process, uint32_t* exitCode);

// Ends the process at once (SIGKILL); its exit code becomes `exitCode`.
bool terminateProcess(Handle process, uint32_t exitCode);

uint32_t processIdOf(Handle process);
uint32_t currentProcessId();

// The full path of the running program. 0 or the system error.
uint32_t programPath(std::u16string& path);

// The full path of the module (program or shared library) that contains
// `address`, such as a function of that module. 0, or 87 for an address that
// lies in no module.
uint32_t modulePathOf(const void* address, std::u16string& path);

}  // namespace platform
