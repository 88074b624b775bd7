// The midiport tool against the driver running in the test's device host.

#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {
namespace {

using testing_support::ProgramResult;

// A driver of some other device: the host runs, but not the Ethernet MIDI driver.
uint32_t otherDriver(platform::kernel::DriverObject* driver, const char16_t*) {
  platform::kernel::DeviceCallbacks callbacks;
  callbacks.create = [](platform::kernel::FileObject&) -> uint32_t { return 0; };
  return driver->createInterface({u"wn-other-device", platform::Guid{}, u"Other"}, std::move(callbacks));
}

class MidiportTest : public MireloTest {
 protected:
  ProgramResult midiport(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), MIDIPORT);
    return testing_support::runProgram(arguments, {{"WN_SYSTEM_ROOT", root.path().string()}});
  }
};

struct UsageCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* message;
  friend void PrintTo(const UsageCase& c, std::ostream* out) { *out << c.name; }
};

class MidiportUsageTest : public MidiportTest, public ::testing::WithParamInterface<UsageCase> {};

// Found before anything is opened: no driver runs in these tests.
TEST_P(MidiportUsageTest, IsAUsageError) {
  const auto result = midiport(GetParam().arguments);
  EXPECT_EQ(result.exitCode, 2) << result.errors;
  EXPECT_NE(result.errors.find(GetParam().message), std::string::npos) << result.errors;
  EXPECT_NE(result.errors.find("Run 'midiport -h' for the usage."), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MidiportUsageTest,
    ::testing::Values(UsageCase{"NoCommand", {}, "a command is needed"},
                      UsageCase{"UnknownCommand", {"play"}, "unknown command play"},
                      UsageCase{"UnknownOption", {"list", "--fast"}, "unknown option --fast"},
                      UsageCase{"PortZero", {"receive", "0"}, "PORT must be a decimal number from 1 to 20, not '0'"},
                      UsageCase{"PortTooHigh", {"send", "21", "90"}, "PORT must be a decimal number from 1 to 20"},
                      UsageCase{"PortNotANumber", {"receive", "x"}, "PORT must be a decimal number"},
                      UsageCase{"NoBytes", {"send", "1"}, "at least one byte"},
                      UsageCase{"BadByte", {"send", "1", "9G"}, "hexadecimal pairs"},
                      UsageCase{"OddDigits", {"send", "1", "903"}, "hexadecimal pairs"},
                      UsageCase{"ExtraArgument", {"list", "1"}, "takes no arguments"},
                      UsageCase{"LoopbackWord", {"loopback", "maybe"}, "on or off"},
                      UsageCase{"CountWithoutReceive", {"status", "--count", "2"}, "--count goes with receive"},
                      UsageCase{"CountNotDecimal", {"receive", "1", "--count", "0x10"}, "--count must be a decimal number"},
                      UsageCase{"TimeoutWithoutReceive", {"list", "--timeout", "10"}, "--timeout goes with receive"},
                      UsageCase{"OptionTwice", {"receive", "1", "--count", "1", "--count", "2"}, "given twice"},
                      UsageCase{"MuteWithoutPorts", {"mute"}, "name the ports"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(MidiportTest, HelpAndVersionNeedNoDriver) {
  auto result = midiport({"-h"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.output.find("Usage: midiport"), std::string::npos);
  result = midiport({"status", "--version"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output.rfind("midiport ", 0), 0u) << result.output;
}

TEST_F(MidiportTest, WithoutADeviceHostSaysHowToStartOne) {
  host.stop();
  const auto result = midiport({"list"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.errors.find("no device host is running on " + root.path().string()), std::string::npos)
      << result.errors;
}

TEST_F(MidiportTest, WithoutTheDriverSaysHowToStartIt) {
  ASSERT_EQ(host.addDriver(&otherDriver, u"Other"), 0u);
  const auto result = midiport({"list"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.errors.find("no Ethernet MIDI driver is running on " + root.path().string()), std::string::npos)
      << result.errors;
  EXPECT_NE(result.errors.find("sc create Mirelo type= kernel"), std::string::npos);
}

TEST_F(MidiportTest, ListsThePortsAndTheControlFilter) {
  start(3);
  ASSERT_EQ(control.setMuteMask(0b110), 0u);
  const auto result = midiport({"list"});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_NE(result.output.find("Control filter  \\\\.\\root#media#0000#"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("Port 1   Midi01  open"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("Port 3   Midi03  muted"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("Loop-back on"), std::string::npos);
}

TEST_F(MidiportTest, MutesUnmutesAndSwitchesLoopBack) {
  start(4);
  auto result = midiport({"unmute", "all"});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  result = midiport({"mute", "2", "4"});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_NE(result.output.find("Mute mask:        0x0000A (muted: 2 4)"), std::string::npos) << result.output;
  EXPECT_EQ(muteMask(), 0xAu);
  result = midiport({"loopback", "off"});
  ASSERT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "Loop-back off\n");
  EXPECT_EQ(statusWord(), 0u);
  result = midiport({"mute", "7"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.errors.find("there is no port 7; the driver installed 4"), std::string::npos);
}

TEST_F(MidiportTest, SendsAndReceivesWithTimeStamps) {
  start(2);
  unmuteAll();
  testing_support::BackgroundProgram receiver({MIDIPORT, "receive", "2", "--count", "2"},
                                              {{"WN_SYSTEM_ROOT", root.path().string()}});
  ASSERT_TRUE(receiver.waitForOutput("receiving on port 2")) << receiver.output();
  ASSERT_TRUE(waitConnected(2, true));
  auto result = midiport({"send", "2", "90", "3C", "7F"});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  result = midiport({"send", "2", "0x80", "3c00"});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(receiver.stop(), 0);
  const std::string output = receiver.output();
  EXPECT_NE(output.find("  90 3C 7F\n"), std::string::npos) << output;
  EXPECT_NE(output.find("  80 3C 00\n"), std::string::npos) << output;
}

TEST_F(MidiportTest, SendingToAMutedPortWarns) {
  start(2);
  const auto result = midiport({"send", "1", "F8"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.errors.find("port 1 is muted: the bytes are discarded"), std::string::npos) << result.errors;
}

TEST_F(MidiportTest, ReceiveEndsAfterItsTimeout) {
  start(1);
  unmuteAll();
  const auto result = midiport({"receive", "1", "--timeout", "300"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.output, "");
}

TEST_F(MidiportTest, StatusWatchPrintsEveryControlChange) {
  start(2);
  testing_support::BackgroundProgram watcher({MIDIPORT, "status", "--watch", "--timeout", "5000"},
                                             {{"WN_SYSTEM_ROOT", root.path().string()}});
  ASSERT_TRUE(watcher.waitForOutput("Loop-back:"));
  ASSERT_EQ(control.setLoopback(false), 0u);
  EXPECT_TRUE(watcher.waitForOutput("-- control change")) << watcher.output();
  EXPECT_TRUE(watcher.waitForOutput("Loop-back:        off")) << watcher.output();
}

}  // namespace
}  // namespace mirelo_testing
