// The piece every tool shares: command line, numbers, status texts, device
// identifiers and the device host hint.

#include <fcntl.h>
#include <sys/file.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "device-access/orvane_status.h"
#include "platform/system_root.h"
#include "tests/support/test_system_root.h"
#include "tools/common/tool.h"

namespace {

constexpr tool::OptionSpec kOptions[] = {{"--json", false}, {"--timeout", true}};

tool::CommandLine parse(std::vector<const char*> words) {
  words.insert(words.begin(), "tool");
  return tool::CommandLine(static_cast<int>(words.size()), words.data(), kOptions);
}

TEST(ToolCommandLine, OptionsMayComeBeforeOrAfterTheCommand) {
  const std::vector<std::vector<const char*>> lines = {
      {"--json", "--timeout", "50", "set", "1"},
      {"set", "1", "--json", "--timeout=50"},
      {"set", "--timeout", "50", "1", "--json"},
  };
  for (const auto& words : lines) {
    const tool::CommandLine line = parse(words);
    EXPECT_TRUE(line.has("--json"));
    EXPECT_EQ(line.value("--timeout"), "50");
    EXPECT_EQ(line.words(), (std::vector<std::string>{"set", "1"}));
  }
}

TEST(ToolCommandLine, NegativeNumbersAndWordsAfterDoubleDashAreArguments) {
  const tool::CommandLine line = parse({"volume", "-6.5", "-.5", "--", "--json"});
  EXPECT_FALSE(line.has("--json"));
  EXPECT_EQ(line.words(), (std::vector<std::string>{"volume", "-6.5", "-.5", "--json"}));
}

TEST(ToolCommandLine, HelpAndVersionAreKnownToEveryTool) {
  EXPECT_TRUE(parse({"info", "-h"}).helpRequested());
  EXPECT_TRUE(parse({"--help"}).helpRequested());
  EXPECT_TRUE(parse({"-?"}).helpRequested());
  EXPECT_TRUE(parse({"--version"}).versionRequested());
  EXPECT_NE(tool::versionText("tool").find("tool "), std::string::npos);
}

TEST(ToolCommandLine, WrongOptionsAreUsageErrors) {
  const std::vector<std::vector<const char*>> lines = {
      {"--bogus", "info"}, {"info", "--timeout"}, {"--json", "--json"}, {"--json=1"}, {"-x"},
  };
  for (const auto& words : lines) {
    EXPECT_THROW(parse(words), tool::UsageError) << words[0];
  }
}

TEST(ToolCommandLine, ArgumentCountsAreChecked) {
  EXPECT_NO_THROW(tool::expectArguments({"plug", "1"}, 1, 1));
  EXPECT_THROW(tool::expectArguments({"plug"}, 1, 1), tool::UsageError);
  try {
    tool::expectArguments({"info", "extra"}, 0, 0);
    FAIL();
  } catch (const tool::UsageError& error) {
    EXPECT_EQ(error.message, "info: too many arguments (unexpected 'extra')");
  }
}

TEST(ToolNumbers, DecimalNumbersWithRangeChecks) {
  struct Case {
    const char* text;
    std::optional<uint64_t> value;
  };
  const Case cases[] = {
      {"0", 0},          {"010", 10},          {"4294967295", 4294967295u}, {"4294967296", std::nullopt},
      {"", std::nullopt}, {"-1", std::nullopt}, {"+1", std::nullopt},        {" 1", std::nullopt},
      {"1 ", std::nullopt}, {"1x", std::nullopt}, {"0x10", std::nullopt},    {"1.0", std::nullopt},
      {"99999999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(tool::parseDecimal(c.text, 0, UINT32_MAX), c.value) << c.text;
  EXPECT_EQ(tool::parseDecimal("5", 6, 10), std::nullopt);
  EXPECT_EQ(tool::parseNumber("0x80882004", 0, UINT32_MAX), 0x80882004u);
  EXPECT_EQ(tool::parseNumber("0X1f", 0, UINT32_MAX), 0x1Fu);
  EXPECT_EQ(tool::parseNumber("017", 0, UINT32_MAX), 17u);
  EXPECT_EQ(tool::parseNumber("0x", 0, UINT32_MAX), std::nullopt);
  EXPECT_EQ(tool::parseNumber("0x1g", 0, UINT32_MAX), std::nullopt);
}

TEST(ToolNumbers, FractionsAreFiniteAndPlain) {
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  const Case cases[] = {
      {"-6.5", -6.5},       {"12", 12.0},          {".5", 0.5},           {"+3.", 3.0},
      {"nan", std::nullopt}, {"inf", std::nullopt}, {"-inf", std::nullopt}, {"1e3", std::nullopt},
      {"0x1p3", std::nullopt}, {"1.5dB", std::nullopt}, {"", std::nullopt}, {".", std::nullopt},
      {"1.2.3", std::nullopt}, {"40000", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(tool::parseFraction(c.text, -32000, 32000), c.value) << c.text;
}

TEST(ToolNumbers, ArgumentErrorsNameWhatAndTheRange) {
  try {
    tool::decimalArgument("08x", "the channel", 0, 15);
    FAIL();
  } catch (const tool::UsageError& error) {
    EXPECT_EQ(error.message, "the channel must be a decimal number from 0 to 15, not '08x'");
  }
  EXPECT_EQ(tool::decimalArgument("08", "the channel", 0, 15), 8u);
  EXPECT_THROW(tool::fractionArgument("nan", "the volume", -100, 100), tool::UsageError);
}

TEST(ToolStatusText, OneTextForEveryKindOfStatus) {
  struct Case {
    uint32_t status;
    const char* text;
  };
  const Case cases[] = {
      {0, "ORVANE_STATUS_SUCCESS"},
      {2, "The system cannot find the file specified. (system error 2)"},
      {1460, "This operation returned because the timeout period expired. (system error 1460)"},
      {ORVANE_STATUS_NO_SERVER, "ORVANE_STATUS_NO_SERVER (0xE0000025)"},
      {0xE000000A, "unknown status 0xE000000A"},
      {0xC0000034, "STATUS_OBJECT_NAME_NOT_FOUND (0xC0000034)"},
      {0xC0001234, "unknown status 0xC0001234"},
      {777777, "System error 777777. (system error 777777)"},
  };
  for (const Case& c : cases) EXPECT_EQ(tool::statusText(c.status), c.text);
  EXPECT_EQ(tool::kernelStatusText(0xC0000034), "STATUS_OBJECT_NAME_NOT_FOUND (0xC0000034)");
  EXPECT_EQ(tool::kernelStatusText(0xC0001234), "kernel status 0xC0001234");
}

TEST(ToolDeviceIds, PrintedAndParsedTheSameWay) {
  const ORVANE_DEVICE_ID id{2, 0x2F1A0104};
  EXPECT_EQ(tool::deviceIdText(id), "00000002:2F1A0104");
  EXPECT_EQ(tool::parseDeviceId(tool::deviceIdText(id)), id);
  EXPECT_EQ(tool::parseDeviceId("2:2f1a0104"), id);
  for (const char* bad : {"", "2", ":1", "1:", "0x2:0x2F1A0104", "1:2:3", "123456789:1", "g:1", "-1:2"}) {
    EXPECT_EQ(tool::parseDeviceId(bad), std::nullopt) << bad;
  }
}

TEST(ToolDevices, APositionErrorSaysHowManyDevicesThereAre) {
  EXPECT_EQ(tool::devicePositionError(5, 2),
            "there is no device at position 5: 2 devices are connected (positions 0 to 1)");
  EXPECT_EQ(tool::devicePositionError(1, 1), "there is no device at position 1: 1 device is connected (position 0)");
  EXPECT_EQ(tool::devicePositionError(0, 0), "there is no device at position 0: no device is connected");
}

TEST(ToolDeviceHost, TheHintTellsAMissingHostFromAMissingInterface) {
  testing_support::TestSystemRoot root;
  EXPECT_FALSE(tool::deviceHostRunning());
  const std::string noHost = tool::openFailureText("Opening the driver", u"{X}", 2);
  EXPECT_EQ(noHost, "no device host is running on " + root.path().string() +
                        "; start it with `machine start` or `devhost --daemon`");

  // A stale lock file of a host that has gone does not count.
  std::filesystem::create_directories(root.path() / "devices");
  std::ofstream(root.path() / "devices" / "stale.lock") << "";
  EXPECT_FALSE(tool::deviceHostRunning());

  // A live host holds the lock of each interface it serves.
  const int lock = ::open((root.path() / "devices" / "stale.lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  EXPECT_TRUE(tool::deviceHostRunning());
  const std::string noInterface = tool::openFailureText("Opening the driver", u"{X}", 2);
  EXPECT_NE(noInterface.find("Opening the driver failed: The system cannot find the file specified. (system error 2)"),
            std::string::npos)
      << noInterface;
  EXPECT_NE(noInterface.find("serves no interface {X}"), std::string::npos) << noInterface;
  ::close(lock);
  EXPECT_EQ(tool::openFailureText("Opening the driver", u"{X}", 5),
            "Opening the driver failed: Access is denied. (system error 5)");
}

TEST(ToolSystemRoot, AnEmptyVariableIsRefused) {
  testing_support::TestSystemRoot root;
  EXPECT_NO_THROW(tool::checkSystemRoot());
  ::setenv(platform::kSystemRootVariable, "", 1);
  EXPECT_THROW(tool::checkSystemRoot(), tool::Failure);
  EXPECT_NE(platform::systemRootProblem().find("WN_SYSTEM_ROOT is set but empty"), std::string::npos);
  ::setenv(platform::kSystemRootVariable, "/dev/null", 1);
  EXPECT_EQ(platform::systemRootProblem(), "the system root /dev/null is not a directory");
}

}  // namespace
