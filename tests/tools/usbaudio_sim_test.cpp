// The usbaudio-sim tool against the simulated driver in this process's device
// host.

#include <cstdio>
#include <fstream>

#include "tests/usb-audio-kernel-sim/sim_test_support.h"

using namespace sim_testing;

namespace {

ProgramResult runTool(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), USBAUDIO_SIM_TOOL);
  return runProgram(arguments);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class UsbaudioSimTool : public SimDriverTest {};

TEST_F(UsbaudioSimTool, CommandsReachTheDriver) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  ProgramResult result = runTool({"plug", "2"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.output, "plugged 00000003:2F1A0102\n");
  EXPECT_EQ(deviceList().count, 3u);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED));

  // The identifier plug printed is the one unplug takes.
  result = runTool({"unplug", "00000003:2F1A0102"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(deviceList().count, 2u);
  EXPECT_EQ(runTool({"sound-device", "0", "open", "playback", "1"}).exitCode, 0);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_DEVICE_STREAMING_WANTED));
  EXPECT_EQ(runTool({"volume", "0", "playback", "1", "0", "-6.5", "mute"}).exitCode, 0);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_VOLUME_CHANGED));
  EXPECT_EQ(runTool({"spdif", "0", "locked", "pcm", "44100"}).exitCode, 0);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED));
  // Options after the command, classes by name or number.
  result = runTool({"settings", "--rate", "96000", "--asio", "Large", "--streaming=1"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(streamingStatus().sampleRate, 96000u);
  EXPECT_EQ(runTool({"notify", "3021", "0a0b"}).exitCode, 0);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_IGNORED));

  EXPECT_EQ(runTool({"fail", "GET_DRIVER_INFO", "ORVANE_STATUS_NO_FIRMWARE", "1"}).exitCode, 0);
  SimFile file;
  ORVANE_DRIVER_INFO info{};
  EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), ORVANE_STATUS_NO_FIRMWARE);
  EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u);
  EXPECT_EQ(runTool({"--after", "1", "fail", "GET_DRIVER_INFO", "ORVANE_STATUS_NO_FIRMWARE", "1"}).exitCode, 0);
  EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u) << "let through";
  EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), ORVANE_STATUS_NO_FIRMWARE);
  EXPECT_EQ(runTool({"delay", "0x808820D0", "030"}).exitCode, 0);
  EXPECT_EQ(runTool({"fail", "ASIO_START", "0xE0000073"}).exitCode, 0);
  result = runTool({"state"});
  EXPECT_EQ(result.exitCode, 0);
  for (const char* expected :
       {"request GET_STREAMING_STATUS, code 0x808820D0, status none, delay milliseconds 30, remaining always",
        "request ASIO_START, code 0x80883CC0, status ORVANE_STATUS_START_CHANNEL_FAILED (0xE0000073)",
        "[1 Out 3/4 (open)]", "streaming: state Down, mode single device, rate 96000, streaming buffer ExtraSmall, "
                              "asio buffer Large"}) {
    EXPECT_TRUE(contains(result.output, expected)) << expected << "\n" << result.output;
  }
  EXPECT_EQ(runTool({"clear-fault", "ASIO_START"}).exitCode, 0);
  EXPECT_EQ(runTool({"clear-faults"}).exitCode, 0);
  EXPECT_TRUE(contains(runTool({"state"}).output, "faults (0):"));
  EXPECT_EQ(runTool({"streaming-error"}).exitCode, 0);
  EXPECT_EQ(streamingStatus().state, ORVANE_STREAMING_STATE_ERROR);
}

TEST_F(UsbaudioSimTool, PatchReplyCorruptsTheNextReplies) {
  ProgramResult result = runTool({"patch-reply", "GET_DEVICE_LIST", "0", "ffffff7f", "--times", "2"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_TRUE(contains(runTool({"state"}).output, "request GET_DEVICE_LIST, code 0x")) << runTool({"state"}).output;
  EXPECT_EQ(deviceList().count, 0x7FFFFFFFu);
  EXPECT_EQ(deviceList().count, 0x7FFFFFFFu);
  EXPECT_EQ(deviceList().count, 2u);

  // By code, with the option first; a name's bytes land where they are asked.
  result = runTool({"--times=1", "patch-reply", "0x80882004", "4", "0A0b"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  SimFile file;
  ORVANE_DRIVER_INFO info{};
  ASSERT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u);
  EXPECT_EQ(info.interfaceVersionMinor, 0x0B0Au);

  // The driver's refusal is a failed operation.
  result = runTool({"patch-reply", "0x80882FFC", "0", "00"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(contains(result.errors, "patching the replies failed: ORVANE_STATUS_INVALID_PARAMETER")) << result.errors;
  EXPECT_EQ(runTool({"clear-faults"}).exitCode, 0);
}

TEST_F(UsbaudioSimTool, StateAsJson) {
  const ProgramResult result = runTool({"state", "--json"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.output.front(), '{');
  EXPECT_EQ(result.output.back(), '\n');
  for (const char* expected : {"\"streaming\":{\"state\":\"Down\",\"mode\":\"single device\",\"rate\":48000,",
                               "\"devices\":[{\"position\":0,\"id\":\"00000001:2F1A0110\",\"streaming\":true,"
                               "\"name\":\"QUINTOR Studio 16\"",
                               "\"spdifInput\":{\"state\":\"no-signal\",\"format\":\"unknown\",\"rate\":0}"}) {
    EXPECT_TRUE(contains(result.output, expected)) << expected << "\n" << result.output;
  }
  EXPECT_EQ(runTool({"--json", "state"}).output, result.output);
}

TEST_F(UsbaudioSimTool, PlugFileTakesADescriptionAndRefusesWhatIsNone) {
  const std::string path = (root.path() / "unit.txt").string();
  std::ofstream(path) << "name = Tool Unit\nserial = T1\ni2s_inputs = 2\ni2s_outputs = 2\nrates = 48000\n";
  const ProgramResult result = runTool({"plug-file", path});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(deviceList().count, 3u);

  std::ofstream(path) << "name = Broken\n";
  const std::string empty = (root.path() / "empty.txt").string();
  std::ofstream{empty};
  struct Case {
    std::string file;
    const char* message;
  };
  const Case cases[] = {
      {path, "is the description valid?"},
      {"/nonexistent/file", "cannot read /nonexistent/file: No such file or directory"},
      {"/dev/zero", "/dev/zero is longer than 64 KiB"},
      {root.path().string(), "it is a directory, not a device description"},
      {empty, "is empty"},
  };
  for (const Case& c : cases) {
    const ProgramResult refused = runTool({"plug-file", c.file});
    EXPECT_EQ(refused.exitCode, 1) << c.file;
    EXPECT_TRUE(contains(refused.errors, c.message)) << c.file << ": " << refused.errors;
  }
  EXPECT_EQ(deviceList().count, 3u);
}

TEST_F(UsbaudioSimTool, FailedOperationsExitWithOneAndSayWhy) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"plug", "7"}, "plugging device 7 failed: ORVANE_STATUS_OBJECT_NOT_FOUND (0xE0000040)"},
      {{"plug", "0"}, "ORVANE_STATUS_ALREADY_DONE"},
      {{"unplug", "6"}, "unplugging 6 failed: there is no device at position 6: 2 devices are connected "
                        "(positions 0 to 1)"},
      {{"unplug", "00000009:2F1A0110"}, "there is no device 00000009:2F1A0110"},
      {{"spdif", "1", "locked", "pcm", "48000"}, "ORVANE_STATUS_NOT_SUPPORTED"},
      {{"sound-device", "0", "close", "playback", "0"}, "ORVANE_STATUS_ALREADY_DONE"},
      {{"settings", "--rate", "12345"}, "ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE"},
  };
  const std::string before = state();
  for (const Case& c : cases) {
    const ProgramResult result = runTool(c.arguments);
    EXPECT_EQ(result.exitCode, 1) << c.arguments[0];
    EXPECT_TRUE(contains(result.errors, c.message)) << c.arguments[0] << ": " << result.errors;
  }
}

TEST_F(UsbaudioSimTool, UsageErrorsExitWithTwoAndChangeNothing) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"bogus"}, "unknown command 'bogus'"},
      {{"plug"}, "plug: missing arguments"},
      {{"state", "extra"}, "state: too many arguments (unexpected 'extra')"},
      {{"plug", "x"}, "the configuration index must be a decimal number"},
      {{"plug", "0x1"}, "the configuration index must be a decimal number"},
      {{"unplug", "9x"}, "not a device position or identifier: '9x'"},
      {{"unplug", "0x3:0x2F1A0102"}, "not a device position or identifier"},
      {{"spdif", "0", "loud"}, "unknown S/PDIF state"},
      {{"sound-device", "0", "open", "sideways", "0"}, "direction must be playback or recording"},
      {{"volume", "0", "playback", "0", "16", "0"}, "the channel must be a decimal number from 0 to 15"},
      {{"volume", "0", "playback", "0", "0", "loud"}, "the volume in dB must be a decimal number"},
      {{"volume", "0", "playback", "0", "0", "nan"}, "not 'nan'"},
      {{"volume", "0", "playback", "0", "0", "inf"}, "not 'inf'"},
      {{"volume", "0", "playback", "0", "0", "1e3"}, "not '1e3'"},
      {{"settings"}, "settings needs --rate, --streaming or --asio"},
      {{"settings", "--asio", "Huge"}, "not an ASIO buffer size class: 'Huge'"},
      {{"plug", "0", "--rate", "48000"}, "belong to the settings command"},
      {{"fail", "NO_SUCH_REQUEST", "1"}, "unknown request code"},
      {{"fail", "GET_DRIVER_INFO", "ORVANE_STATUS_NO_FIRMWARE", "--after", "-1"}, "must be a decimal number"},
      {{"unplug", "0", "--after", "1"}, "--after belongs to the fail and delay commands"},
      {{"fail", "GET_DRIVER_INFO", "NOT_A_STATUS"}, "unknown status"},
      {{"fail", "GET_DRIVER_INFO", "0"}, "non-zero status"},
      {{"delay", "GET_DRIVER_INFO", "-5"}, "the delay in milliseconds must be a decimal number"},
      {{"notify", "3021", "abc"}, "bad payload"},
      {{"patch-reply", "GET_DEVICE_LIST", "0"}, "patch-reply: missing arguments"},
      {{"patch-reply", "GET_DEVICE_LIST", "x", "00"}, "the offset must be a decimal number"},
      {{"patch-reply", "GET_DEVICE_LIST", "0", "0g"}, "bad patch: '0g' is not hex digits"},
      {{"patch-reply", "GET_DEVICE_LIST", "0", std::string(8194, '0')}, "at most 4096 bytes"},
      {{"patch-reply", "GET_DEVICE_LIST", "0", ""}, "a patch needs at least one byte"},
      {{"patch-reply", "GET_DEVICE_LIST", "0", "00", "--times", "0"}, "the replies to patch must be"},
      {{"patch-reply", "NO_SUCH_REQUEST", "0", "00"}, "unknown request code"},
      {{"state", "--times", "2"}, "--times belongs to the patch-reply command"},
      {{"--bogus", "state"}, "unknown option --bogus"},
  };
  const std::string before = state();
  for (const Case& c : cases) {
    const ProgramResult result = runTool(c.arguments);
    const std::string label = c.arguments.empty() ? "(none)" : c.arguments[0];
    EXPECT_EQ(result.exitCode, 2) << label << ": " << result.errors;
    EXPECT_TRUE(contains(result.errors, c.message)) << label << ": " << result.errors;
    EXPECT_TRUE(contains(result.errors, "Run 'usbaudio-sim -h' for the usage.")) << result.errors;
  }
  EXPECT_EQ(state(), before);

  const ProgramResult help = runTool({"-h"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(contains(help.output, "Usage: usbaudio-sim [OPTIONS] COMMAND"));
  const ProgramResult version = runTool({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(contains(version.output, "usbaudio-sim ")) << version.output;
}

TEST(UsbaudioSimToolWithoutHost, SaysWhichCommandStartsIt) {
  testing_support::TestSystemRoot root;
  const ProgramResult result = runTool({"state"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.errors, "usbaudio-sim: no device host is running on " + root.path().string() +
                            "; start it with `machine start` or `devhost --daemon`\n");
  // A usage error is found without a host.
  EXPECT_EQ(runTool({"volume", "0", "playback", "0", "0", "nan"}).exitCode, 2);
}

}  // namespace
