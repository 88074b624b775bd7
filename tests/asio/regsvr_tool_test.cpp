// The regsvr program registering and unregistering the driver module.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/event_log.h"
#include "platform/registry.h"
#include "tests/support/program_runner.h"
#include "tests/support/test_system_root.h"

using testing_support::runProgram;

namespace {

constexpr char16_t kAsioEntry[] = u"SOFTWARE\\ASIO\\SorvikUSB ASIO";

bool asioEntryExists() {
  platform::RegistryKey key;
  const bool exists =
      platform::RegistryKey::open(platform::RegistryHive::LocalMachine, kAsioEntry, platform::KEY_READ, key) == 0;
  platform::closeRegistry();
  return exists;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> withProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

class RegsvrTool : public ::testing::Test {
 protected:
  testing_support::TestSystemRoot root;
};

TEST_F(RegsvrTool, RegistersAndUnregistersTheDriver) {
  // A relative path is registered as the full one.
  const std::string relative = std::filesystem::relative(WN_ASIO_MODULE).string();
  const auto registered = runProgram({REGSVR, relative});
  EXPECT_EQ(registered.exitCode, 0) << registered.errors;
  EXPECT_EQ(registered.output, std::string("DllRegisterServer in \"") + WN_ASIO_MODULE + "\" succeeded.\n");
  EXPECT_TRUE(asioEntryExists());

  const auto unregistered = runProgram({REGSVR, WN_ASIO_MODULE, "-u", "-s"});
  EXPECT_EQ(unregistered.exitCode, 0) << unregistered.errors;
  EXPECT_EQ(unregistered.output, "");
  EXPECT_FALSE(asioEntryExists());
}

TEST_F(RegsvrTool, UsageErrorsAndHelp) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string expected;  // in the output or error
  };
  const Case cases[] = {
      {{}, 2, "no library given"},
      {{"-x", WN_ASIO_MODULE}, 2, "unknown option -x"},
      {{WN_ASIO_MODULE, WN_ASIO_MODULE}, 2, "more than one library"},
      {{"-h"}, 0, "Usage: regsvr [-u] [-s] LIBRARY"},
      {{"--version"}, 0, "regsvr "},
  };
  for (const Case& c : cases) {
    const auto run = runProgram(withProgram(REGSVR, c.arguments));
    EXPECT_EQ(run.exitCode, c.exitCode) << c.expected;
    EXPECT_TRUE(contains(run.output + run.errors, c.expected)) << run.output << run.errors;
  }
}

TEST_F(RegsvrTool, LibrariesThatCannotRegisterFail) {
  const auto missing = runProgram({REGSVR, (root.path() / "missing.so").string()});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(contains(missing.errors, "failed to load")) << missing.errors;

  const auto notAServer = runProgram({REGSVR, WN_USBAUDIO_SIM_MODULE});
  EXPECT_EQ(notAServer.exitCode, 1);
  EXPECT_TRUE(contains(notAServer.errors, "the entry point DllRegisterServer was not found")) << notAServer.errors;
}

TEST_F(RegsvrTool, ARegistryThatCannotBeWrittenShowsTheDriversMessage) {
  // A system root below a plain file can never be created.
  const std::filesystem::path file = root.path() / "file";
  { std::ofstream(file) << "x"; }
  const auto run = runProgram({REGSVR, WN_ASIO_MODULE}, {{"WN_SYSTEM_ROOT", (file / "root").string()}});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.errors, "SorvikUSB ASIO Driver: Register server failed ! (3)\n")) << run.errors;
  EXPECT_TRUE(contains(run.errors, "failed with 0xFFFFFFFF")) << run.errors;
}

TEST_F(RegsvrTool, TheFailureMessageAlsoGoesToTheEventLog) {
  // The registry database cannot be opened; the rest of the machine works.
  std::filesystem::create_directory(root.path() / "registry.db");
  const auto run = runProgram({REGSVR, WN_ASIO_MODULE});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.errors, "SorvikUSB ASIO Driver: Register server failed ! (1016)\n")) << run.errors;
  uint64_t offset = 0;
  std::vector<platform::EventLogRecord> records;
  ASSERT_EQ(platform::readEventLog(u"Application", offset, records), 0u);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].source, u"SorvikUSB ASIO Driver");
  EXPECT_EQ(records[0].type, platform::EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(records[0].strings, std::vector<std::u16string>{u"Register server failed ! (1016)"});
}

}  // namespace
