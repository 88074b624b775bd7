// The asio-host program against the registered driver and the simulated
// kernel driver (in this process's device host), as a separate process.

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "tests/asio/asio_test_support.h"
#include "tests/support/program_runner.h"

using testing_support::runProgram;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> withProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

class AsioHostTool : public asio_testing::AsioDriverTest {
 protected:
  void SetUp() override {
    AsioDriverTest::SetUp();
    if (HasFatalFailure()) return;
    const auto registered = runProgram({REGSVR, "-s", WN_ASIO_MODULE});
    ASSERT_EQ(registered.exitCode, 0) << registered.errors;
  }
};

TEST_F(AsioHostTool, ListsAndDescribesTheRegisteredDriver) {
  const auto listed = runProgram({ASIO_HOST, "list"});
  EXPECT_EQ(listed.exitCode, 0) << listed.errors;
  EXPECT_EQ(listed.output, "SorvikUSB ASIO  {F8DA6A5E-E27D-473D-ABD5-4ABC76B21CEF}  SorvikUSB ASIO Driver\n");

  const auto info = runProgram({ASIO_HOST, "info", "--driver", "SorvikUSB ASIO"});
  EXPECT_EQ(info.exitCode, 0) << info.errors;
  EXPECT_TRUE(contains(info.output, "Driver: SorvikUSB ASIO Driver, version 291\n")) << info.output;
  EXPECT_TRUE(contains(info.output, "Channels: 20 inputs, 18 outputs\n")) << info.output;
  EXPECT_TRUE(contains(info.output, "  in    0  IN 01                            Int32LSB\n")) << info.output;
  EXPECT_TRUE(contains(info.output, "Sample rate: 48000 Hz; supported: 44100 48000 88200 96000 176400 192000 2822400 5644800\n"))
      << info.output;
  EXPECT_TRUE(contains(info.output, "Buffer size: minimum 64, maximum 256, preferred 128, granularity 0 samples\n"));
}

TEST_F(AsioHostTool, StreamsWithTheToneIntact) {
  const auto run = runProgram({ASIO_HOST, "stream", "--seconds", "1", "--json", "--max-missed", "1000"});
  EXPECT_EQ(run.exitCode, 0) << run.errors << run.output;
  EXPECT_TRUE(contains(run.output, "\"ok\":true")) << run.output;
  EXPECT_TRUE(contains(run.output, "\"toneIntact\":true")) << run.output;
  EXPECT_TRUE(contains(run.output, "\"kernelStatistics\":true")) << run.output;
  EXPECT_FALSE(contains(run.output, "\"returned\":false")) << run.output;  // every input is a loop-back
}

TEST_F(AsioHostTool, StreamsChosenChannelsAtAChosenBufferSize) {
  const auto run = runProgram({ASIO_HOST, "--inputs", "0-1,18", "--outputs", "0,1", "--buffer-size", "256",
                                          "--seconds", "0.5", "--max-missed", "1000", "stream"});
  EXPECT_EQ(run.exitCode, 0) << run.errors << run.output;
  EXPECT_TRUE(contains(run.output, "Streamed at 48000 Hz, 256 samples per buffer, 3 inputs, 2 outputs")) << run.output;
  EXPECT_TRUE(contains(run.output, "  in   0 <- out   0,")) << run.output;
  EXPECT_TRUE(contains(run.output, "  in  18 <- out   0,")) << run.output;  // the loopback input takes line output 1
  EXPECT_TRUE(contains(run.output, "Tone: intact, 3 of 3 inputs")) << run.output;
}

TEST_F(AsioHostTool, AStreamThatStopsIsAFailure) {
  testing_support::BackgroundProgram program({ASIO_HOST, "stream", "--seconds", "20", "--max-missed", "1000"});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  streamingCommand(ORVANE_STREAMING_COMMAND_STOP);
  const int exitCode = program.wait(std::chrono::milliseconds(10000));
  EXPECT_EQ(exitCode, 1) << program.output();
  EXPECT_TRUE(contains(program.output(), "buffer switches stopped")) << program.output();
}

TEST_F(AsioHostTool, AHostKilledWhileStreamingLeavesTheKernelDriverReadyForTheNext) {
  {
    testing_support::BackgroundProgram first({ASIO_HOST, "stream", "--seconds", "30", "--max-missed", "100000"});
    for (int i = 0; i < 1000 && streamCounters().first < 50; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(streamCounters().first, 50u) << first.output();
    first.kill();
  }
  // At once: every channel is free again and the tone comes back on every input.
  const auto next = runProgram({ASIO_HOST, "stream", "--seconds", "0.5", "--json", "--max-missed", "1000"});
  EXPECT_EQ(next.exitCode, 0) << next.errors;
  EXPECT_TRUE(contains(next.output, "\"toneIntact\":true")) << next.output;
  EXPECT_FALSE(contains(next.output, "\"returned\":false")) << next.output;
}

TEST_F(AsioHostTool, TheDeviceUnpluggedWhileStreamingEndsTheStreamWithoutAHang) {
  testing_support::BackgroundProgram program({ASIO_HOST, "stream", "--seconds", "30", "--max-missed", "100000"});
  for (int i = 0; i < 1000 && streamCounters().first < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_UNPLUG, usbaudio_sim::SIM_DEVICE_SELECTOR{0, 0, {}}), 0u);
  const int exitCode = program.wait(std::chrono::milliseconds(15000));
  EXPECT_EQ(exitCode, 1) << program.output();  // a failure, not a signal and not a hang
  EXPECT_TRUE(contains(program.output(), "buffer switches stopped")) << program.output();
  EXPECT_TRUE(contains(program.output(), "Buffer switches: ")) << program.output();  // the report still comes
}

TEST_F(AsioHostTool, ARateChangeWhileStreamingMakesTheHostCreateItsBuffersAgain) {
  testing_support::BackgroundProgram program({ASIO_HOST, "stream", "--seconds", "3", "--max-missed", "100000", "--json"});
  for (int i = 0; i < 1000 && streamCounters().first < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // What the service does for a rate request: the engine down, the rate, the engine up, 3010 and 3011.
  changeRate(96000);
  ASSERT_EQ(postNotification(ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED), 0u);
  ASSERT_EQ(postNotification(ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED), 0u);
  EXPECT_EQ(program.wait(std::chrono::milliseconds(15000)), 0) << program.output();
  const std::string out = program.output();
  EXPECT_TRUE(contains(out, "\"text\":\"reset request\"")) << out;
  EXPECT_TRUE(contains(out, "buffer size change: buffers created again, 96000 Hz, 256 samples\"")) << out;
  EXPECT_TRUE(contains(out, "\"sampleRate\":96000,\"bufferSize\":256")) << out;
  EXPECT_TRUE(contains(out, "\"toneIntact\":true")) << out;
}

TEST_F(AsioHostTool, UsageAndFailures) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string expected;
  };
  const Case cases[] = {
      {{"-h"}, 0, "Usage: asio-host"},
      {{"--version"}, 0, "asio-host "},
      {{"play"}, 2, "unknown command 'play'\nRun 'asio-host -h' for the usage."},
      {{"--seconds", "0"}, 2, "--seconds must be a decimal number from 0.001 to 86400, not '0'"},
      {{"--seconds", "x"}, 2, "--seconds must be a decimal"},
      {{"--inputs", "3-1"}, 2, "--inputs must be all, none, or channel numbers"},
      {{"--buffer-size", "012", "--driver", "Other"}, 1, "no ASIO driver named"},  // 012 is twelve, not octal
      {{"--rate", "0x10"}, 2, "--rate must be a decimal number"},
      {{"--buffer-size"}, 2, "--buffer-size"},
      {{"info", "list"}, 2, "info: too many arguments (unexpected 'list')"},
      {{"info", "--driver", "Other"}, 1, "no ASIO driver named \"Other\" is registered"},
      {{"stream", "--outputs", "40"}, 1, "no such output channel"},
      {{"stream", "--rate", "96000"}, 1, "setSampleRate(96000) failed with ASE_HWMalfunction"},  // no service here
  };
  for (const Case& c : cases) {
    const auto run = runProgram(withProgram(ASIO_HOST, c.arguments));
    EXPECT_EQ(run.exitCode, c.exitCode) << c.expected;
    EXPECT_TRUE(contains(run.output + run.errors, c.expected)) << run.output << run.errors;
  }
}

TEST_F(AsioHostTool, WithoutStreamingInitFails) {
  streamingCommand(ORVANE_STREAMING_COMMAND_STOP);
  const auto run = runProgram({ASIO_HOST, "info", "--json"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "{\"ok\":false,\"error\":\"init failed\"}\n");
}

}  // namespace
