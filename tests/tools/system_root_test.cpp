// The system root as the tools meet it: a very long root works everywhere, an
// empty WN_SYSTEM_ROOT and a registry that cannot be read are reported.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/kernel/device_host.h"
#include "platform/registry.h"
#include "platform/system_root.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/test_system_root.h"

namespace {

using sim_testing::ProgramResult;
using sim_testing::runProgram;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SystemRoot, AVeryLongRootWorksForTheRegistryTheHostAndTheTools) {
  testing_support::TestSystemRoot base;
  std::filesystem::path longRoot = base.path();
  while (longRoot.string().size() < 3800) longRoot /= std::string(200, 'r');
  std::filesystem::create_directories(longRoot);
  ::setenv(platform::kSystemRootVariable, longRoot.c_str(), 1);  // the base restores it

  sim_testing::configureSimulatedDriver({sim_testing::DeviceSpec{"QT0001", "Quintor One"}});
  {
    platform::kernel::DeviceHost host;
    ASSERT_EQ(host.start(), 0u);
    std::string error;
    ASSERT_EQ(sim_testing::loadSimulatedDriver(host, &error), 0u) << error;

    const ProgramResult added = runProgram({REG_TOOL, "add", "HKLM\\Software\\Long", "/v", "V", "/d", "x"});
    EXPECT_EQ(added.exitCode, 0) << added.errors;
    const ProgramResult query = runProgram({REG_TOOL, "query", "HKLM\\Software\\Long"});
    EXPECT_TRUE(contains(query.output, "V    REG_SZ    x")) << query.output << query.errors;
    const ProgramResult devices = runProgram({ORVANECTL, "devices"});
    EXPECT_EQ(devices.exitCode, 0) << devices.errors;
    EXPECT_TRUE(contains(devices.output, "QT0001")) << devices.output;
    const ProgramResult state = runProgram({USBAUDIO_SIM_TOOL, "state"});
    EXPECT_EQ(state.exitCode, 0) << state.errors;
    host.stop();
  }
  platform::closeRegistry();
}

TEST(SystemRoot, AnEmptyVariableIsReportedByEveryTool) {
  testing_support::TestSystemRoot root;
  ::setenv(platform::kSystemRootVariable, "", 1);
  const std::vector<std::vector<std::string>> commands = {
      {REG_TOOL, "query", "HKLM\\Software"}, {ORVANECTL, "info"}, {USBAUDIO_SIM_TOOL, "state"}};
  for (const auto& command : commands) {
    const ProgramResult result = runProgram(command);
    EXPECT_EQ(result.exitCode, 1) << command[0];
    EXPECT_TRUE(contains(result.errors, "WN_SYSTEM_ROOT is set but empty; unset it to use the default system root"))
        << command[0] << ": " << result.errors;
  }
}

TEST(SystemRoot, TheSimulatedDriverRefusesToStartOnARegistryItCannotRead) {
  testing_support::TestSystemRoot root;
  std::ofstream(root.path() / "registry.db") << std::string(8192, 'x');
  const ProgramResult result = runProgram({WN_DEVHOST, WN_USBAUDIO_SIM_MODULE});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(contains(result.errors, "usbaudio_sim: cannot read the parameters HKEY_LOCAL_MACHINE\\System\\"
                                   "CurrentControlSet\\Services\\usbaudio_sim\\Parameters: An I/O operation "
                                   "initiated by the registry failed unrecoverably."))
      << result.errors;
}

}  // namespace
