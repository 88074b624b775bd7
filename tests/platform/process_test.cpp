#include "platform/process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gnu/libc-version.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/waits.h"

namespace {

using platform::ProcessInformation;
using platform::ProcessOptions;

// A scratch directory removed afterwards.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& name) {
    path_ = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void writeScript(const std::filesystem::path& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// Runs `arguments` to its end; its exit code.
uint32_t runToEnd(const std::vector<std::string>& arguments, const ProcessOptions& options = {}) {
  ProcessInformation info;
  EXPECT_EQ(platform::startProcess(arguments, options, info), 0u);
  if (info.process == nullptr) return 0xFFFFFFFF;
  EXPECT_EQ(platform::waitForSingle(info.process, 10000), platform::WAIT_OBJECT_0);
  uint32_t code = 0;
  EXPECT_TRUE(platform::getExitCodeProcess(info.process, &code));
  platform::closeHandle(info.process);
  return code;
}

bool processExists(uint32_t pid) { return std::filesystem::exists("/proc/" + std::to_string(pid)); }

TEST(ProcessTest, ExitCodeAndStillActive) {
  ProcessInformation info;
  ASSERT_EQ(platform::startProcess({"/bin/sh", "-c", "sleep 2; exit 7"}, {}, info), 0u);
  uint32_t code = 0;
  EXPECT_TRUE(platform::getExitCodeProcess(info.process, &code));
  EXPECT_EQ(code, platform::STILL_ACTIVE);
  EXPECT_EQ(platform::waitForSingle(info.process, 0), platform::WAIT_TIMEOUT);
  EXPECT_EQ(platform::processIdOf(info.process), info.processId);
  platform::closeHandle(info.process);

  EXPECT_EQ(runToEnd({"/bin/sh", "-c", "exit 7"}), 7u);
  EXPECT_EQ(runToEnd({"sh", "-c", "exit 0"}), 0u) << "a name without slash is looked up in PATH";
  EXPECT_EQ(runToEnd({"/bin/sh", "-c", "kill -TERM $$"}), 128u + 15u);
}

TEST(ProcessTest, ArgumentsEnvironmentAndWorkingDirectory) {
  ScratchDirectory scratch("wn-process-args");
  const std::string out = (scratch.path() / "out").string();
  ProcessOptions options;
  options.environment = {{"WN_PROCESS_TEST", "set here"}, {"HOME", "/replaced"}};
  options.workingDirectory = scratch.path().string();
  EXPECT_EQ(runToEnd({"/bin/sh", "-c", "printf '%s|' \"$@\" \"$WN_PROCESS_TEST\" \"$HOME\" \"$(pwd)\" > out", "sh",
                      "two words", "", "quote\"d"},
                     options),
            0u);
  EXPECT_EQ(readFile(out), "two words||quote\"d|set here|/replaced|" + scratch.path().string() + "|");
}

TEST(ProcessTest, OnlyTheGivenDescriptorsAreHandedOn) {
  ScratchDirectory scratch("wn-process-fds");
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);  // not close-on-exec: must stay behind all the same
  const int stray = ::open("/dev/null", O_RDONLY);
  ProcessOptions options;
  options.descriptors = {{pipeFds[1], 5}, {stray, 3}};
  const std::string out = (scratch.path() / "fds").string();
  EXPECT_EQ(runToEnd({"/bin/sh", "-c", "echo handed >&5; ls /proc/$$/fd > " + out}, options), 0u);
  ::close(pipeFds[1]);
  char buffer[16] = {};
  EXPECT_EQ(::read(pipeFds[0], buffer, sizeof buffer - 1), 7);
  EXPECT_STREQ(buffer, "handed\n");
  ::close(pipeFds[0]);
  ::close(stray);
  std::istringstream listed(readFile(out));
  std::vector<int> fds;
  for (int fd; listed >> fd;) fds.push_back(fd);
  // 0, 1, 2, 3, 5 and the one ls itself opened to read the directory.
  EXPECT_EQ(std::count_if(fds.begin(), fds.end(), [](int fd) { return fd > 2 && fd != 3 && fd != 5; }), 1)
      << readFile(out);
}

TEST(ProcessTest, StandardStreamsCanBeRedirected) {
  ScratchDirectory scratch("wn-process-stdio");
  const int out = ::open((scratch.path() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ProcessOptions options;
  options.standardOutput = out;
  options.standardError = out;
  EXPECT_EQ(runToEnd({"/bin/sh", "-c", "echo to-out; echo to-err >&2"}, options), 0u);
  ::close(out);
  EXPECT_EQ(readFile(scratch.path() / "out"), "to-out\nto-err\n");
}

TEST(ProcessTest, DetachedProcessHasItsOwnSessionAndNoTerminalStreams) {
  ScratchDirectory scratch("wn-process-detached");
  ProcessOptions options;
  options.detached = true;
  const std::string out = (scratch.path() / "out").string();
  // The shell's own streams, read by its children before the shell goes on.
  EXPECT_EQ(runToEnd({"/bin/sh", "-c",
                      "echo $(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) $(ps -o sid= -p $$) > " + out},
                     options),
            0u);
  std::istringstream lines(readFile(out));
  std::string in, outLink, sid;
  lines >> in >> outLink >> sid;
  EXPECT_NE(std::stoi(sid), static_cast<int>(::getsid(0)));
  EXPECT_EQ(in, "/dev/null");
  EXPECT_EQ(outLink, "/dev/null");
}

TEST(ProcessTest, FailuresToStart) {
  ScratchDirectory scratch("wn-process-fail");
  const auto notExecutable = scratch.path() / "plain";
  std::ofstream(notExecutable) << "data";
  struct Case {
    std::vector<std::string> arguments;
    uint32_t error;
  } cases[] = {
      {{}, platform::ERROR_INVALID_PARAMETER},
      {{"/nonexistent/program"}, platform::ERROR_FILE_NOT_FOUND},
      {{"no-such-program-anywhere"}, platform::ERROR_FILE_NOT_FOUND},
      {{notExecutable.string()}, platform::ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    ProcessInformation info;
    EXPECT_EQ(platform::startProcess(c.arguments, {}, info), c.error) << (c.arguments.empty() ? "" : c.arguments[0]);
    EXPECT_EQ(info.process, nullptr);
  }
}

TEST(ProcessTest, TerminateGivesTheChosenExitCode) {
  ProcessInformation info;
  ASSERT_EQ(platform::startProcess({"/bin/sleep", "30"}, {}, info), 0u);
  EXPECT_TRUE(platform::terminateProcess(info.process, 1234));
  EXPECT_EQ(platform::waitForSingle(info.process, 5000), platform::WAIT_OBJECT_0);
  uint32_t code = 0;
  EXPECT_TRUE(platform::getExitCodeProcess(info.process, &code));
  EXPECT_EQ(code, 1234u);
  EXPECT_FALSE(platform::terminateProcess(info.process, 1));
  platform::closeHandle(info.process);
}

TEST(ProcessTest, ClosingTheHandleOfARunningChildLeavesNoZombie) {
  ProcessInformation info;
  ASSERT_EQ(platform::startProcess({"/bin/sleep", "0.2"}, {}, info), 0u);
  platform::closeHandle(info.process);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (processExists(info.processId) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(processExists(info.processId)) << "the ended child was not collected";
}

TEST(ProcessTest, OpenProcessWaitsForAnyProcess) {
  ProcessInformation child;
  ASSERT_EQ(platform::startProcess({"/bin/sleep", "30"}, {}, child), 0u);
  const platform::Handle other = platform::openProcess(child.processId);
  ASSERT_NE(other, nullptr);
  uint32_t code = 0;
  EXPECT_TRUE(platform::getExitCodeProcess(other, &code));
  EXPECT_EQ(code, platform::STILL_ACTIVE);
  EXPECT_TRUE(platform::terminateProcess(child.process, 3));
  EXPECT_EQ(platform::waitForSingle(other, 5000), platform::WAIT_OBJECT_0);
  EXPECT_EQ(platform::waitForSingle(child.process, 5000), platform::WAIT_OBJECT_0);
  EXPECT_TRUE(platform::getExitCodeProcess(child.process, &code));
  EXPECT_EQ(code, 3u);
  platform::closeHandle(child.process);
  EXPECT_FALSE(platform::getExitCodeProcess(other, &code)) << "only a parent learns the exit code";
  EXPECT_EQ(platform::lastError(), platform::ERROR_NOT_SUPPORTED);
  platform::closeHandle(other);

  EXPECT_EQ(platform::openProcess(0), nullptr);
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_PARAMETER);
  uint32_t bogus = 0;
  EXPECT_FALSE(platform::getExitCodeProcess(platform::kInvalidHandle, &bogus));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_HANDLE);
}

TEST(ProcessTest, SplitCommandLine) {
  struct Case {
    std::u16string line;
    std::vector<std::u16string> arguments;
  } cases[] = {
      {u"", {}},
      {u"  a  b\tc ", {u"a", u"b", u"c"}},
      {u"\"two words\" x", {u"two words", u"x"}},
      {u"a\"b c\"d", {u"ab cd"}},
      {u"\\\\\\\"x", {u"\\\"x"}},      // 3 backslashes and a quote: one backslash, literal quote
      {u"\\\\\"x y\"", {u"\\x y"}},    // 2 backslashes and a quote: one backslash, grouping
      {u"a\\\\b", {u"a\\\\b"}},        // backslashes not before a quote stay
      {u"\"a\"\"b\"", {u"a\"b"}},      // two quotes in a group: a literal quote
      {u"\"\" x", {u"", u"x"}},        // an empty quoted argument counts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::splitCommandLine(c.line), c.arguments) << platform::toUtf8(c.line);
  }
  for (const std::u16string argument : {u"plain", u"two words", u"", u"q\"uote", u"tail\\", u"\\\"", u"a\\ b\\"}) {
    const std::vector<std::u16string> back = platform::splitCommandLine(platform::quoteCommandLineArgument(argument));
    ASSERT_EQ(back.size(), 1u) << platform::toUtf8(argument);
    EXPECT_EQ(back[0], argument);
  }
}

TEST(ProcessTest, CreateProcessFromACommandLine) {
  ScratchDirectory scratch("wn-process cmdline");  // a blank in the path
  const auto script = scratch.path() / "tool with blank";
  writeScript(script, "printf '%s|' \"$@\" > \"$(dirname \"$0\")/out\"");
  const std::u16string path = platform::toWide(script.string());
  struct Case {
    std::u16string commandLine;
    std::string expected;
  } cases[] = {
      {u"\"" + path + u"\" -service \"x y\"", "-service|x y|"},
      {path + u" -service", "-service|"},  // unquoted: the parts are tried until a file is found
  };
  for (const Case& c : cases) {
    std::filesystem::remove(scratch.path() / "out");
    ProcessInformation info;
    ASSERT_TRUE(platform::createProcess(nullptr, c.commandLine.c_str(), 0, nullptr, &info))
        << platform::lastError();
    EXPECT_EQ(platform::waitForSingle(info.process, 10000), platform::WAIT_OBJECT_0);
    platform::closeHandle(info.process);
    EXPECT_EQ(readFile(scratch.path() / "out"), c.expected);
  }
  ProcessInformation info;
  EXPECT_FALSE(platform::createProcess(nullptr, u"/nonexistent/x -a", 0, nullptr, &info));
  EXPECT_EQ(platform::lastError(), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(platform::createProcess(nullptr, nullptr, 0, nullptr, &info));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_PARAMETER);
}

int functionOfThisProgram() { return 1; }

TEST(ProcessTest, ProgramAndModulePaths) {
  std::u16string program;
  ASSERT_EQ(platform::programPath(program), 0u);
  EXPECT_EQ(platform::toUtf8(program), std::filesystem::read_symlink("/proc/self/exe").string());
  std::u16string module;
  EXPECT_EQ(platform::modulePathOf(reinterpret_cast<const void*>(&functionOfThisProgram), module), 0u);
  EXPECT_EQ(module, program);
  // A function of libc that no sanitizer replaces with its own.
  EXPECT_EQ(platform::modulePathOf(reinterpret_cast<const void*>(&::gnu_get_libc_version), module), 0u);
  EXPECT_NE(platform::toUtf8(module).find("libc.so"), std::string::npos) << platform::toUtf8(module);
  EXPECT_EQ(platform::toUtf8(module)[0], '/');
  EXPECT_EQ(platform::modulePathOf(nullptr, module), platform::ERROR_INVALID_PARAMETER);
}

}  // namespace
