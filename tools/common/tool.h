#pragma once
// What every command-line tool shares: exit codes, the command line (options
// before or after the command, -h, --version), decimal numbers with range
// checks, one text for every status, one device identifier format, and the
// messages for a device host that is not running or a device position that
// does not exist. docs/architecture.md ("Command-line tools") describes the
// convention.
//
// A tool's main is usually
//
//   int main(int argc, char** argv) {
//     return tool::run({"mytool", kUsage, kOptions}, argc, argv, [](const tool::CommandLine& line) { ... });
//   }
//
// where the body throws tool::UsageError for a wrong command line (exit 2,
// before any connection is made) and tool::Failure for a failed operation
// (exit 1).

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device-access/orvane_records.h"

namespace tool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The command line is wrong: the tool prints the message with a pointer to -h
// and exits with 2.
struct UsageError {
  std::string message;
};

// An operation failed: the tool prints the message and exits with 1.
struct Failure {
  std::string message;
};

// ---------------------------------------------------------------------------
// Command line

// An option a tool takes, written "--name" (or "-x"); one that takes a value
// is given as "--name VALUE" or "--name=VALUE".
struct OptionSpec {
  std::string_view name;
  bool takesValue = false;
};

// The words of a command line split into options and the rest (the command
// and its arguments), in any order: "tool --json info" and "tool info --json"
// are the same. "--" ends the options. A word that starts with '-' and a digit
// or '.' is a number ("-6.5"), not an option. -h, --help and -? ask for the
// usage text, --version for the version; both are known to every tool.
class CommandLine {
 public:
  // Throws UsageError for an unknown option, a missing value or an option
  // given twice.
  CommandLine(int argc, const char* const* argv, std::span<const OptionSpec> options);

  bool helpRequested() const { return help_; }
  bool versionRequested() const { return version_; }
  bool has(std::string_view option) const;
  // The option's value, when it was given.
  std::optional<std::string> value(std::string_view option) const;
  // The command and its arguments.
  const std::vector<std::string>& words() const { return words_; }

 private:
  std::vector<std::pair<std::string, std::string>> options_;
  std::vector<std::string> words_;
  bool help_ = false;
  bool version_ = false;
};

struct ToolInfo {
  std::string_view name;   // "orvanectl"
  std::string_view usage;  // the -h text
  std::span<const OptionSpec> options;
};

// Parses the command line and runs `body` with it. Prints the usage for -h
// and the version for --version (exit 0). A UsageError prints
// "<name>: <message>" and "Run '<name> -h' for the usage." (exit 2), a Failure
// "<name>: <message>" (exit 1), both on standard error. `body` returns the
// exit code.
int run(const ToolInfo& info, int argc, const char* const* argv,
        const std::function<int(const CommandLine&)>& body);

// Runs `body` and turns what it throws into the exit code and message as run
// does; for a tool with a command syntax of its own.
int runGuarded(std::string_view name, const std::function<int()>& body);

// "<name> <version>", what --version prints.
std::string versionText(std::string_view name);

// Throws UsageError unless `words` holds between `minimum` and `maximum`
// arguments after the command (words[0]).
void expectArguments(const std::vector<std::string>& words, size_t minimum, size_t maximum);

// ---------------------------------------------------------------------------
// Numbers

// A decimal number from `minimum` to `maximum`: digits only, so "010" is ten
// (never octal), and a sign, blanks, a fraction or trailing text are refused.
std::optional<uint64_t> parseDecimal(std::string_view text, uint64_t minimum, uint64_t maximum);
// A decimal number, or a hexadecimal one written with "0x" (request codes,
// status values).
std::optional<uint64_t> parseNumber(std::string_view text, uint64_t minimum, uint64_t maximum);
// A finite decimal fraction such as "-6.5" within the range; nan, inf,
// hexadecimal and exponent forms and trailing text are refused.
std::optional<double> parseFraction(std::string_view text, double minimum, double maximum);

// The same, throwing UsageError "<what> must be a decimal number from MIN to
// MAX, not 'TEXT'" (or "... a number ...", "... a decimal fraction ...").
uint32_t decimalArgument(std::string_view text, std::string_view what, uint32_t minimum = 0,
                         uint32_t maximum = UINT32_MAX);
uint32_t numberArgument(std::string_view text, std::string_view what, uint32_t minimum = 0,
                        uint32_t maximum = UINT32_MAX);
double fractionArgument(std::string_view text, std::string_view what, double minimum, double maximum);

// ---------------------------------------------------------------------------
// Status texts

// One text for every status a tool reports:
//   a system error code: its message and number,
//     "The system cannot find the file specified. (system error 2)";
//   an ORVANE_STATUS_ value: its name and value, "ORVANE_STATUS_NO_SERVER (0xE0000025)";
//   a kernel status that a driver passed on unchanged: "STATUS_OBJECT_NAME_NOT_FOUND (0xC0000034)";
//   0: "ORVANE_STATUS_SUCCESS"; anything else: "unknown status 0xE000000A".
std::string statusText(uint32_t status);
// A kernel status (a driver entry's result): "STATUS_OBJECT_NAME_NOT_FOUND (0xC0000034)".
std::string kernelStatusText(uint32_t status);

// ---------------------------------------------------------------------------
// Devices

// A device identifier as every tool prints it: both words as eight
// upper-case hexadecimal digits, "00000002:2F1A0104".
std::string deviceIdText(const ORVANE_DEVICE_ID& id);
// Reads that form back (one to eight hexadecimal digits each side, any case).
std::optional<ORVANE_DEVICE_ID> parseDeviceId(std::string_view text);

// "there is no device at position 5: 2 devices are connected (positions 0 to 1)".
std::string devicePositionError(uint64_t position, size_t deviceCount);

// Whether a device host serves any device interface on the system root.
bool deviceHostRunning();
// The message for a device link that could not be opened with `error`:
// without a device host, "no device host is running on <root>; start it with
// `machine start` or `devhost --daemon`"; otherwise "<operation> failed:
// <status text>", and for error 2 the note that the host has no <link>.
std::string openFailureText(std::string_view operation, std::u16string_view link, uint32_t error);

// Throws Failure when the system root setting is unusable (an empty
// WN_SYSTEM_ROOT); tools call it before they touch the root.
void checkSystemRoot();

}  // namespace tool
