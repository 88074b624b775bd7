// orvanectl run as a program against a devhost daemon with the simulated USB
// audio kernel driver, on the test's private system root.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "tests/support/simulated_driver.h"

namespace {

using sim_testing::DeviceSpec;
using sim_testing::ProgramResult;
using sim_testing::runProgram;
using sim_testing::TestServer;

ProgramResult orvanectl(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{ORVANECTL};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return runProgram(command);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Whether a process runs; a zombie whose parent is gone counts as ended.
bool isRunning(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t state = line.rfind(')');
  return state == std::string::npos || line.size() < state + 3 || line[state + 2] != 'Z';
}

class OrvanectlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceSpec second{"QT0002", "Quintor Two"};
    second.i2sInputs = 1;
    sim_testing::configureSimulatedDriver({DeviceSpec{"QT0001", "Quintor One"}, second});
    const ProgramResult started = runProgram({WN_DEVHOST, "--daemon", WN_USBAUDIO_SIM_MODULE});
    ASSERT_EQ(started.exitCode, 0) << started.output << started.errors;
    const size_t at = started.output.find("daemon running, pid ");
    ASSERT_NE(at, std::string::npos) << started.output;
    daemon = static_cast<pid_t>(std::stoi(started.output.substr(at + 20)));
  }

  void TearDown() override {
    server.stop();
    if (daemon <= 0) return;
    ::kill(daemon, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (isRunning(daemon) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // The last request the server read, with its payload as bytes.
  ORVANE_MESSAGE lastRequest() const {
    const std::vector<ORVANE_MESSAGE> requests = server.requests();
    EXPECT_FALSE(requests.empty());
    return requests.empty() ? ORVANE_MESSAGE{} : requests.back();
  }

  testing_support::TestSystemRoot root;
  pid_t daemon = -1;
  TestServer server;
};

struct TextCase {
  std::vector<std::string> arguments;
  std::vector<std::string> expected;
};

TEST_F(OrvanectlTest, ShowsTheSystemAsText) {
  const TextCase cases[] = {
      {{"info"}, {"Driver version:    1.0.0", "Build type:        release", "Interface version: 2.1"}},
      {{"devices"}, {"0x2F1A / 0x0110", "QT0001", "Quintor One", "QT0002", "Quintor Two"}},
      {{"status"}, {"Streaming state: Down", "Streaming mode: one device", "Current sampling rate: ", " kHz"}},
      {{"rates"}, {"44.100 kHz", "48.000 kHz", "96.000 kHz", "Current sampling rate: "}},
      {{"buffers"}, {"Streaming buffer: ", "millisecs", "ASIO buffer:", "samples"}},
      {{"channels"}, {"ASIO IN Channels (2):", "ASIO OUT Channels (2):", "Quintor One"}},
      {{"channels", "in"}, {"ASIO IN Channels (2):"}},
      {{"counters"}, {"Streaming Error Count", "FIFO Error Count", "WDM MIDI Error Count"}},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    const ProgramResult result = orvanectl(c.arguments);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    for (const std::string& part : c.expected) EXPECT_TRUE(contains(result.output, part)) << result.output;
  }
  EXPECT_FALSE(contains(orvanectl({"channels", "in"}).output, "OUT"));
}

TEST_F(OrvanectlTest, ShowsTheSystemAsJson) {
  const TextCase cases[] = {
      {{"--json", "info"}, {"{\"driverVersion\":\"1.0.0\",\"buildType\":\"release\",\"interfaceVersion\":\"2.1\"}"}},
      {{"--json", "devices"},
       {"[{\"position\":0,", "\"vendorId\":\"0x2F1A\"", "\"serial\":\"QT0001\"", "\"name\":\"Quintor Two\"",
        "\"highSpeed\":true"}},
      {{"--json", "status"}, {"{\"state\":\"Down\",\"stateValue\":1,", "\"usageCounts\":[0,0]"}},
      {{"--json", "rates"}, {"\"supported\":[44100,48000,96000]"}},
      {{"--json", "buffers"}, {"\"streamingClass\":", "\"asioSamples\":"}},
      {{"--json", "channels", "out"}, {"{\"outputs\":[{\"id\":", "\"device\":\"Quintor One\""}},
      {{"--json", "counters"}, {"{\"streamingErrors\":0,\"fifoErrors\":0,"}},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.arguments[1]);
    const ProgramResult result = orvanectl(c.arguments);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    for (const std::string& part : c.expected) EXPECT_TRUE(contains(result.output, part)) << result.output;
    EXPECT_EQ(result.output.back(), '\n');
  }
}

TEST_F(OrvanectlTest, SendsTheServiceRequests) {
  ASSERT_EQ(server.start(), 0u);
  struct Case {
    std::vector<std::string> arguments;
    uint32_t code;
    std::vector<uint32_t> words;  // the payload as u32 words (the DSD byte as one word)
    const char* text;
  };
  const Case cases[] = {
      {{"set-rate", "48000"}, ORVANE_MSG_CODE_SET_SAMPLE_RATE, {48000}, "Sampling rate set to 48.000 kHz."},
      {{"set-buffers", "small", "3"}, ORVANE_MSG_CODE_SET_BUFFER_SIZES, {2, 3}, "Buffer sizes set to Small"},
      {{"select-device", "all"}, ORVANE_MSG_CODE_SELECT_STREAMING_DEVICE, {0, 0, 1}, "All devices stream."},
      {{"dsd", "on"}, ORVANE_MSG_CODE_SET_DSD_MODE, {1}, "DSD mode on."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    const ProgramResult result = orvanectl(c.arguments);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(contains(result.output, c.text)) << result.output;
    const ORVANE_MESSAGE request = lastRequest();
    EXPECT_EQ(request.code, c.code);
    for (size_t i = 0; i < c.words.size(); ++i) {
      uint32_t word = 0;
      std::memcpy(&word, request.payload + 4 * i, request.code == ORVANE_MSG_CODE_SET_DSD_MODE ? 1 : 4);
      EXPECT_EQ(word, c.words[i]) << "word " << i;
    }
  }

  // A device chosen by its position in the device list.
  const ProgramResult selected = orvanectl({"--json", "select-device", "1"});
  EXPECT_EQ(selected.exitCode, 0) << selected.errors;
  EXPECT_TRUE(contains(selected.output, "{\"result\":\"ORVANE_STATUS_SUCCESS\"}")) << selected.output;
  ORVANE_STREAMING_DEVICE_SELECTION selection{};
  EXPECT_EQ(getPayload(lastRequest(), selection), 0u);
  EXPECT_EQ(selection.deviceId.first, 2u) << "the second device plugged";
  EXPECT_EQ(selection.mode, ORVANE_STREAMING_MODE_SINGLE_DEVICE);
}

TEST_F(OrvanectlTest, ADeviceIsChosenByTheIdentifierThatDevicesPrints) {
  ASSERT_EQ(server.start(), 0u);
  const ProgramResult devices = orvanectl({"devices"});
  const size_t at = devices.output.find("00000002:");
  ASSERT_NE(at, std::string::npos) << devices.output;
  const ProgramResult selected = orvanectl({"select-device", devices.output.substr(at, 17)});
  EXPECT_EQ(selected.exitCode, 0) << selected.errors;
  EXPECT_TRUE(contains(selected.output, "Device 1 (Quintor Two) is selected for streaming.")) << selected.output;
}

TEST_F(OrvanectlTest, EveryServiceRequestTakesTheTimeOut) {
  // A service that reads the requests and never answers.
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE&, ORVANE_MESSAGE&) { return false; }), 0u);
  const std::vector<std::vector<std::string>> commands = {
      {"set-rate", "48000"}, {"set-buffers", "Small", "Small"}, {"select-device", "all"}, {"dsd", "on"}};
  for (std::vector<std::string> arguments : commands) {
    SCOPED_TRACE(arguments[0]);
    arguments.insert(arguments.end(), {"--timeout", "200"});
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult result = orvanectl(arguments);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.errors, "failed: ORVANE_STATUS_TIMEOUT (0xE0000005)")) << result.errors;
  }
}

// A stopped device host (SIGSTOP) takes no connection: the tools give up with
// a time-out instead of waiting for ever.
TEST_F(OrvanectlTest, AStoppedDeviceHostGivesATimeOutNotAHang) {
  ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
  const std::vector<std::vector<std::string>> commands = {{ORVANECTL, "--timeout", "1000", "info"},
                                                          {USBAUDIO_SIM_TOOL, "state"}};
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command[0]);
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult result = runProgram(command);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.errors, "(system error 1460)")) << result.errors;
  }
  ASSERT_EQ(::kill(daemon, SIGCONT), 0);
  EXPECT_EQ(orvanectl({"info"}).exitCode, 0);
}

TEST_F(OrvanectlTest, AFailedServiceRequestNamesTheOperationAndStatus) {
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE&, ORVANE_MESSAGE& response) {
              response.result = ORVANE_STATUS_SOUND_DEVICE_IN_USE;
              return true;
            }),
            0u);
  const ProgramResult result = orvanectl({"set-rate", "48000"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(contains(result.errors,
                       "orvanectl: Changing the sample rate failed: ORVANE_STATUS_SOUND_DEVICE_IN_USE (0xE0000090)"))
      << result.errors;

  const ProgramResult json = orvanectl({"dsd", "off", "--json"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_TRUE(contains(json.output, "{\"error\":{\"operation\":\"Switching the DSD mode\",\"status\":3758096528,"
                                 "\"text\":\"ORVANE_STATUS_SOUND_DEVICE_IN_USE (0xE0000090)\","))
      << json.output;

  const ProgramResult missing = orvanectl({"select-device", "5"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(contains(missing.errors, "there is no device at position 5: 2 devices are connected (positions 0 to 1)"))
      << missing.errors;
  const ProgramResult unknown = orvanectl({"select-device", "00000009:2F1A0110"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_TRUE(contains(unknown.errors, "there is no device 00000009:2F1A0110")) << unknown.errors;
}

TEST_F(OrvanectlTest, WithoutAServiceRequestsFailWithNoServer) {
  const ProgramResult result = orvanectl({"set-buffers", "Minimum", "Minimum"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(contains(result.errors, "Changing the buffer sizes failed: ORVANE_STATUS_NO_SERVER")) << result.errors;
}

TEST_F(OrvanectlTest, SetsAMixerCrosspointOfADevice) {
  DeviceSpec mixer{"QT0003", "Quintor Mixer"};
  mixer.moreLines = "mixer_outputs = 0:2\nmixer_monitor_inputs = 0:2\n";
  ASSERT_EQ(runProgram({USBAUDIO_SIM_TOOL, "unplug", "1"}).exitCode, 0);
  ASSERT_EQ(runProgram({USBAUDIO_SIM_TOOL, "unplug", "0"}).exitCode, 0);
  const std::string file = (root.path() / "mixer.conf").string();
  std::ofstream(file) << sim_testing::describe(mixer);
  ASSERT_EQ(runProgram({USBAUDIO_SIM_TOOL, "plug-file", file}).exitCode, 0);

  ProgramResult result = orvanectl({"crosspoint", "0", "0:1", "0:0", "-1250"});
  ASSERT_EQ(result.exitCode, 0) << result.output << result.errors;
  EXPECT_TRUE(contains(result.output, "Crosspoint 0:0 to 0:1 of device 0 is on at -1250 hundredths of a dB."))
      << result.output;
  result = orvanectl({"crosspoint", "0", "0:1", "0:0", "off"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(contains(result.output, "is off.")) << result.output;
  result = orvanectl({"crosspoint", "0", "0:7", "0:0", "0"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(contains(result.errors, "Setting the mixer crosspoint failed")) << result.errors;
  EXPECT_TRUE(contains(result.errors, "ORVANE_STATUS_OBJECT_NOT_FOUND")) << result.errors;
}

TEST(Orvanectl, WithoutADriverItFailsWithTheOpenError) {
  testing_support::TestSystemRoot root;
  const ProgramResult text = orvanectl({"info"});
  EXPECT_EQ(text.exitCode, 1);
  const std::string hint = "orvanectl: no device host is running on " + root.path().string() +
                           "; start it with `machine start` or `devhost --daemon`\n";
  EXPECT_EQ(text.errors, hint);
  EXPECT_TRUE(text.output.empty());

  const ProgramResult json = orvanectl({"--json", "status"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_TRUE(contains(json.output, "{\"error\":{\"operation\":\"Opening the driver\",\"status\":2,\"text\":\"The "
                                 "system cannot find the file specified. (system error 2)\",\"message\":\"no device "
                                 "host is running on "))
      << json.output;

  const ProgramResult request = orvanectl({"set-rate", "44100"});
  EXPECT_EQ(request.exitCode, 1);
  EXPECT_EQ(request.errors, hint);
}

TEST(Orvanectl, UsageErrorsAndHelp) {
  testing_support::TestSystemRoot root;
  const ProgramResult help = orvanectl({"-h"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(contains(help.output, "Usage: orvanectl")) << help.output;

  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"bogus"}, "unknown command bogus"},
      {{"--bogus", "info"}, "unknown option --bogus"},
      {{"--timeout"}, "--timeout needs a value"},
      {{"set-rate"}, "set-rate takes the rate in Hz"},
      {{"set-rate", "fast"}, "not a sample rate: fast"},
      {{"set-buffers", "Huge", "Small"}, "not a streaming buffer size class: Huge"},
      {{"set-buffers", "Small", "ExtraSmall"}, "not an ASIO buffer size class: ExtraSmall"},
      {{"select-device", "-1"}, "not a device position or identifier: -1"},
      {{"info", "extra"}, "unexpected argument 'extra'"},
      {{"set-rate", "48000", "--timeout", "1e3"}, "not a time-out in milliseconds: 1e3"},
      {{"set-rate", "0"}, "not a sample rate: 0"},
      {{"dsd", "maybe"}, "dsd takes 'on' or 'off'"},
      {{"channels", "both"}, "channels takes 'in' or 'out'"},
      {{"crosspoint", "0", "0:1", "0:0"}, "crosspoint takes a device"},
      {{"crosspoint", "0", "0-1", "0:0", "off"}, "not a pin (PORTTYPE:CHANNEL): 0-1"},
      {{"crosspoint", "0", "0:1", "0:256", "off"}, "not a pin (PORTTYPE:CHANNEL): 0:256"},
      {{"crosspoint", "0", "0:1", "0:0", "-12.5"}, "not a gain in hundredths of a dB: -12.5"},
      {{"crosspoint", "0", "0:1", "0:0", "32768"}, "not a gain in hundredths of a dB: 32768"},
  };
  for (const Case& c : cases) {
    const ProgramResult result = orvanectl(c.arguments);
    EXPECT_EQ(result.exitCode, 2) << c.message;
    EXPECT_TRUE(contains(result.errors, c.message)) << result.errors;
  }
}

}  // namespace
