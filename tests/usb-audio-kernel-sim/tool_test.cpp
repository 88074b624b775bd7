// The usbaudio-sim tool against a driver in this process's device host.

#include <sys/wait.h>

#include <cstdio>

#include "tests/usb-audio-kernel-sim/sim_test_support.h"

using namespace sim_testing;

namespace {

struct ToolResult {
  int exitCode;
  std::string output;  // standard output and error
};

ToolResult runTool(const std::string& arguments) {
  const std::string command = std::string(USBAUDIO_SIM_TOOL) + " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string output;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class Tool : public SimDriverTest {};

TEST_F(Tool, CommandsReachTheDriver) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  ToolResult result = runTool("plug 2");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("plugged 0x3:0x2F1A0102"), std::string::npos) << result.output;
  EXPECT_EQ(deviceList().count, 3u);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED));

  EXPECT_EQ(runTool("unplug 0x3:0x2F1A0102").exitCode, 0);
  EXPECT_EQ(runTool("sound-device 0 open playback 1").exitCode, 0);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_DEVICE_STREAMING_WANTED));
  EXPECT_EQ(runTool("volume 0 playback 1 0 -6.5 mute").exitCode, 0);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_VOLUME_CHANGED));
  EXPECT_EQ(runTool("spdif 0 locked pcm 44100").exitCode, 0);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED));
  EXPECT_EQ(runTool("settings --rate 96000 --asio 2").exitCode, 0);
  EXPECT_EQ(streamingStatus().sampleRate, 96000u);
  EXPECT_EQ(runTool("notify 3021 0a0b").exitCode, 0);
  EXPECT_TRUE(server.awaitNotification(ORVANE_MSG_CODE_IGNORED));

  EXPECT_EQ(runTool("fail GET_DRIVER_INFO ORVANE_STATUS_NO_FIRMWARE 1").exitCode, 0);
  SimFile file;
  ORVANE_DRIVER_INFO info{};
  EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), ORVANE_STATUS_NO_FIRMWARE);
  EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u);
  EXPECT_EQ(runTool("delay 0x808820D0 30").exitCode, 0);
  EXPECT_EQ(runTool("fail ASIO_START 0xE0000073").exitCode, 0);
  result = runTool("state");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.output.find("0x808820D0 status 0x00000000 ORVANE_STATUS_SUCCESS delay 30 ms, always"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("ORVANE_STATUS_START_CHANNEL_FAILED"), std::string::npos);
  EXPECT_NE(result.output.find("[1 Out 3/4 open]"), std::string::npos);
  EXPECT_EQ(runTool("clear-fault ASIO_START").exitCode, 0);
  EXPECT_EQ(runTool("clear-faults").exitCode, 0);
  EXPECT_NE(runTool("state").output.find("faults: 0"), std::string::npos);
  EXPECT_EQ(runTool("streaming-error").exitCode, 0);
  EXPECT_EQ(streamingStatus().state, ORVANE_STREAMING_STATE_ERROR);
}

TEST_F(Tool, PlugFileTakesADescription) {
  const std::string path = (root.path() / "unit.txt").string();
  std::ofstream(path) << "name = Tool Unit\nserial = T1\ni2s_inputs = 2\ni2s_outputs = 2\nrates = 48000\n";
  const ToolResult result = runTool("plug-file " + path);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(deviceList().count, 3u);
  std::ofstream(path) << "name = Broken\n";
  EXPECT_EQ(runTool("plug-file " + path).exitCode, 1);
  EXPECT_EQ(runTool("plug-file /nonexistent/file").exitCode, 1);
}

TEST_F(Tool, ErrorsExitWithOneAndSayWhy) {
  struct Case {
    const char* arguments;
    const char* message;
  };
  const Case cases[] = {
      {"", "usage:"},
      {"bogus", "unknown command 'bogus'"},
      {"plug", "wrong number of arguments"},
      {"plug x", "bad configuration index"},
      {"plug 7", "ORVANE_STATUS_OBJECT_NOT_FOUND"},
      {"plug 0", "ORVANE_STATUS_ALREADY_DONE"},
      {"unplug 6", "ORVANE_STATUS_OBJECT_NOT_FOUND"},
      {"unplug 9", "bad device position"},
      {"spdif 0 loud", "unknown S/PDIF state"},
      {"spdif 1 locked pcm 48000", "ORVANE_STATUS_NOT_SUPPORTED"},
      {"sound-device 0 open sideways 0", "direction must be playback or recording"},
      {"sound-device 0 close playback 0", "ORVANE_STATUS_ALREADY_DONE"},
      {"volume 0 playback 0 16 0", "bad channel"},
      {"volume 0 playback 0 0 loud", "bad volume"},
      {"settings", "settings needs"},
      {"settings --rate 12345", "ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE"},
      {"fail NO_SUCH_REQUEST 1", "unknown request code"},
      {"fail GET_DRIVER_INFO NOT_A_STATUS", "unknown status"},
      {"fail GET_DRIVER_INFO 0", "non-zero status"},
      {"notify 3021 abc", "bad payload"},
  };
  for (const Case& c : cases) {
    const ToolResult result = runTool(c.arguments);
    EXPECT_EQ(result.exitCode, 1) << c.arguments;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << c.arguments << ": " << result.output;
  }
  const ToolResult help = runTool("-h");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("usage: usbaudio-sim COMMAND"), std::string::npos);
}

TEST(ToolWithoutDriver, SaysTheDriverIsNotRunning) {
  testing_support::TestSystemRoot root;
  const ToolResult result = runTool("state");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("not running"), std::string::npos) << result.output;
}

}  // namespace
