// The ASIO driver end to end on an emulated machine: the simulated kernel
// driver and quintorsvc started by `machine start`, asio-host and orvanectl
// as separate processes.

#include <chrono>
#include <string>

#include "tests/service/service_machine.h"
#include "tests/support/program_runner.h"

namespace {

using service_testing::contains;
using testing_support::runProgram;

class AsioServiceRound : public service_testing::ServiceMachineTest {
 protected:
  void SetUp() override {
    ServiceMachineTest::SetUp();
    if (HasFatalFailure()) return;
    // The engine runs while something wants streaming; an open control panel
    // view does, as on a machine where the panel is up.
    openView();
    if (HasFatalFailure()) return;
    const auto registered = runProgram({REGSVR, "-s", WN_ASIO_MODULE});
    ASSERT_EQ(registered.exitCode, 0) << registered.errors;
  }
};

TEST_F(AsioServiceRound, TheToneComesBackIntact) {
  const auto run = runProgram({ASIO_HOST, "stream", "--seconds", "1", "--json", "--max-missed", "1000"});
  EXPECT_EQ(run.exitCode, 0) << run.errors << run.output;
  EXPECT_TRUE(contains(run.output, "\"toneIntact\":true")) << run.output;
  EXPECT_TRUE(contains(run.output, "\"kernelStatistics\":true")) << run.output;
  EXPECT_FALSE(contains(run.output, "\"returned\":false")) << run.output;
}

TEST_F(AsioServiceRound, TheHostSetsTheRateThroughTheService) {
  const auto run = runProgram({ASIO_HOST, "stream", "--rate", "96000", "--seconds", "0.5", "--json", "--max-missed",
                               "1000"});
  EXPECT_EQ(run.exitCode, 0) << run.errors << run.output;
  EXPECT_TRUE(contains(run.output, "\"sampleRate\":96000")) << run.output;
  EXPECT_TRUE(contains(run.output, "\"toneIntact\":true")) << run.output;
}

// The service refuses a rate change while an ASIO host streams (the engine is
// in use); the host's stream goes on undisturbed at its rate.
TEST_F(AsioServiceRound, ARateChangeFromOrvanectlWhileStreamingIsRefusedAndTheStreamGoesOn) {
  testing_support::BackgroundProgram host({ASIO_HOST, "stream", "--seconds", "3", "--max-missed", "100000", "--json"});
  ASSERT_TRUE(service_testing::eventually([&] { return streamingStatus().secondUsageCount > 0; })) << state();
  const auto changed = runProgram({ORVANECTL, "set-rate", "96000"});
  EXPECT_EQ(changed.exitCode, 1) << changed.errors << changed.output;
  EXPECT_TRUE(contains(changed.errors, "ORVANE_STATUS_SOUND_DEVICE_IN_USE")) << changed.errors;
  EXPECT_EQ(host.wait(std::chrono::milliseconds(20000)), 0) << host.output();
  const std::string out = host.output();
  EXPECT_TRUE(contains(out, "\"events\":[]")) << out;
  EXPECT_TRUE(contains(out, "\"stream\":{\"sampleRate\":48000")) << out;
  EXPECT_TRUE(contains(out, "\"toneIntact\":true")) << out;
  // Once the host has gone, the same request goes through.
  EXPECT_EQ(runProgram({ORVANECTL, "set-rate", "96000"}).exitCode, 0);
}

}  // namespace
