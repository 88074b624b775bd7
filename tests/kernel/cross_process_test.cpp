// The device host and its callers in different processes: a host program
// (devhost), callers that die, and a host that was killed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_io.h"
#include "platform/events.h"
#include "platform/shared_memory.h"
#include "platform/unique_handle.h"
#include "platform/waits.h"
#include "tests/kernel/kernel_test_support.h"
#include "tests/support/child_process.h"

extern char** environ;

using namespace platform;
using kernel_testing::DeviceFile;

namespace {

const std::string kSocketName = "{6d1b6b0c-3c7e-4c57-9e34-7f2a1e5d9a01}";

bool eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

// A program started with its output on a pipe.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    output_.reset(fds[0]);
  }
  ~Program() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }

  // Reads output until it contains `text` (true) or the program ends or 10 s pass.
  bool readUntil(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text_.find(text) == std::string::npos) {
      pollfd p{output_.get(), POLLIN, 0};
      if (std::chrono::steady_clock::now() > deadline || ::poll(&p, 1, 100) < 0) return false;
      if (p.revents == 0) continue;
      char buffer[1024];
      const ssize_t n = ::read(output_.get(), buffer, sizeof buffer);
      if (n <= 0) return text_.find(text) != std::string::npos;
      text_.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }
  int wait() {
    if (status_ < 0) {
      readUntil("\x01");  // everything up to the end of the output
      int raw = 0;
      ::waitpid(pid_, &raw, 0);
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    return status_;
  }
  void signal(int number) { ::kill(pid_, number); }
  const std::string& output() const { return text_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  UniqueFd output_;
  std::string text_;
};

}  // namespace

TEST(DeviceHostAcrossProcesses, CallerDeathFreesItsFileObjects) {
  testing_support::TestSystemRoot root;
  testing_support::StepPipe go;
  testing_support::StepPipe ready;
  // Forked before this process starts any thread.
  testing_support::ChildProcess caller([&] {
    if (go.listen() != 'g') return 1;
    auto* first = new DeviceFile;
    auto* second = new DeviceFile;
    const UniqueHandle event(createEvent(true, false));
    if (!first->isOpen() || !second->isOpen() ||
        first->send(test_driver::kKeepEvent, uint64_t{reinterpret_cast<uintptr_t>(event.get())}) != 0) {
      return 2;
    }
    Overlapped overlapped;
    overlapped.event = createEvent(true, false);
    const test_driver::DelayedInput slow{60000, 0};
    deviceIoControl(second->handle(), test_driver::kDelayed, &slow, sizeof slow, nullptr, 0, nullptr, &overlapped);
    ready.say('r');
    ::pause();
    return 0;
  });
  platform::kernel::DeviceHost host;
  ASSERT_EQ(host.start(), 0u);
  ASSERT_EQ(host.loadDriver(WN_TEST_DRIVER, u"WnTestDriver"), 0u);
  go.say('g');
  ASSERT_EQ(ready.listen(std::chrono::seconds(10)), 'r');

  DeviceFile observer;
  EXPECT_EQ(observer.stats().openFiles, 3u);
  caller.kill();
  EXPECT_TRUE(eventually([&] { return observer.stats().cleanups == 2; }));
  EXPECT_EQ(observer.stats().openFiles, 1u);
}

TEST(DeviceHostAcrossProcesses, StaleSocketOfAKilledHostDoesNotBlockTheNextHost) {
  testing_support::TestSystemRoot root;
  testing_support::StepPipe ready;
  testing_support::ChildProcess killed([&] {
    platform::kernel::DeviceHost host;
    if (host.start() != 0 || host.loadDriver(WN_TEST_DRIVER, u"WnTestDriver") != 0) return 1;
    ready.say('r');
    ::pause();
    return 0;
  });
  ASSERT_EQ(ready.listen(std::chrono::seconds(10)), 'r');
  {
    DeviceFile whileAlive;
    EXPECT_TRUE(whileAlive.isOpen());
  }
  killed.kill();
  const auto socket = root.path() / "devices" / kSocketName;
  EXPECT_TRUE(std::filesystem::exists(socket));  // left behind by SIGKILL
  DeviceFile stale;
  EXPECT_FALSE(stale.isOpen());
  EXPECT_EQ(stale.openError(), ERROR_FILE_NOT_FOUND);

  platform::kernel::DeviceHost next;
  ASSERT_EQ(next.start(), 0u);
  ASSERT_EQ(next.loadDriver(WN_TEST_DRIVER, u"WnTestDriver"), 0u);
  DeviceFile file;
  ASSERT_TRUE(file.isOpen());
  EXPECT_EQ(file.control(test_driver::kEcho, "x", 1, nullptr, 0), 0u);
}

TEST(Devhost, ServesItsDriverToOtherProcessesAndStopsOnSigterm) {
  testing_support::TestSystemRoot root;
  Program devhost({WN_DEVHOST, WN_TEST_DRIVER});
  ASSERT_TRUE(devhost.readUntil("running")) << devhost.output();
  EXPECT_NE(devhost.output().find("interface {6D1B6B0C-3C7E-4C57-9E34-7F2A1E5D9A01}"), std::string::npos);
  EXPECT_NE(devhost.output().find((root.path() / "devices" / kSocketName).string()), std::string::npos);

  DeviceFile file;
  ASSERT_TRUE(file.isOpen()) << file.openError();
  char16_t path[128] = {};
  uint32_t bytes = 0;
  ASSERT_EQ(file.control(test_driver::kRegistryPath, nullptr, 0, path, sizeof path, &bytes), 0u);
  EXPECT_EQ(std::u16string(path, bytes / 2),
            u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\kernel_test_driver");

  // The host process signals our event directly.
  const UniqueHandle event(createEvent(false, false));
  ASSERT_EQ(file.send(test_driver::kKeepEvent, uint64_t{reinterpret_cast<uintptr_t>(event.get())}), 0u);
  ASSERT_EQ(file.send(test_driver::kSignalLater, uint32_t{10}), 0u);
  EXPECT_EQ(waitForSingle(event.get(), 5000), WAIT_OBJECT_0);

  // It writes into our shareable memory.
  auto* block = static_cast<uint8_t*>(allocateShareable(4096));
  const test_driver::WriteInput write{reinterpret_cast<uintptr_t>(block + 8), 8, 0x77, 0};
  ASSERT_EQ(file.send(test_driver::kWriteBuffer, write), 0u);
  EXPECT_EQ(block[8], 0x77);
  EXPECT_EQ(block[15], 0x77);
  EXPECT_EQ(block[16], 0);
  freeShareable(block);

  // A pending request completes later.
  std::vector<uint8_t> input(sizeof(test_driver::DelayedInput) + 3);
  const test_driver::DelayedInput delayed{30, 0xE0000025};
  std::memcpy(input.data(), &delayed, sizeof delayed);
  std::memcpy(input.data() + sizeof delayed, "abc", 3);
  char out[8] = {};
  EXPECT_EQ(file.control(test_driver::kDelayed, input.data(), static_cast<uint32_t>(input.size()), out, sizeof out,
                         &bytes),
            0xE0000025u);
  EXPECT_EQ(bytes, 3u);

  devhost.signal(SIGTERM);
  EXPECT_EQ(devhost.wait(), 0);
  EXPECT_NE(devhost.output().find("stopped"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(root.path() / "devices" / kSocketName));
  EXPECT_EQ(file.control(test_driver::kEcho, "x", 1, nullptr, 0), ERROR_DEVICE_NOT_CONNECTED);
}

TEST(Devhost, DaemonRunsInTheBackgroundUntilSigterm) {
  testing_support::TestSystemRoot root;
  Program start({WN_DEVHOST, "--daemon", "--service", "WnDaemonTest", WN_TEST_DRIVER});
  ASSERT_EQ(start.wait(), 0) << start.output();
  const auto at = start.output().find("daemon running, pid ");
  ASSERT_NE(at, std::string::npos) << start.output();
  const pid_t daemon = static_cast<pid_t>(std::stoi(start.output().substr(at + 20)));

  DeviceFile file;
  ASSERT_TRUE(file.isOpen()) << file.openError();
  char16_t path[128] = {};
  uint32_t bytes = 0;
  ASSERT_EQ(file.control(test_driver::kRegistryPath, nullptr, 0, path, sizeof path, &bytes), 0u);
  EXPECT_EQ(std::u16string(path, bytes / 2), u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\WnDaemonTest");

  ASSERT_EQ(::kill(daemon, SIGTERM), 0);
  EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(root.path() / "devices" / kSocketName); }));
  EXPECT_TRUE(eventually([&] { return ::kill(daemon, 0) != 0; }));
}

TEST(Devhost, CommandLineErrorsAndHelp) {
  testing_support::TestSystemRoot root;
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* text;
  };
  const Case cases[] = {
      {{WN_DEVHOST, "-h"}, 0, "usage: devhost"},
      {{WN_DEVHOST, "--version"}, 0, "devhost "},
      {{WN_DEVHOST, "--bogus", WN_TEST_DRIVER}, 2, "unknown option --bogus"},
      {{WN_DEVHOST, "--service"}, 2, "--service needs a value"},
      {{WN_DEVHOST, WN_TEST_DRIVER, "--service", "Late"}, 2, "--service Late names no driver"},
      {{WN_DEVHOST, "--stop", WN_TEST_DRIVER}, 2, "--stop takes no driver"},
      {{WN_DEVHOST, "--connections-per-process", "0", WN_TEST_DRIVER}, 2, "--connections-per-process must be"},
      {{WN_DEVHOST, "--connections-per-process=many", WN_TEST_DRIVER}, 2, "--connections-per-process must be"},
      {{WN_DEVHOST, "/nonexistent/driver.so"}, 1, "cannot start driver /nonexistent/driver.so"},
      {{WN_DEVHOST, "--daemon", "/nonexistent/driver.so"}, 1, "cannot start driver"},
      {{WN_DEVHOST, "/proc/self/exe"}, 1, "cannot start driver"},
      {{WN_DEVHOST, "--stop"}, 1, "no device host daemon is running on"},
  };
  for (const Case& c : cases) {
    Program program(c.args);
    EXPECT_EQ(program.wait(), c.exitCode) << c.args.back() << "\n" << program.output();
    EXPECT_NE(program.output().find(c.text), std::string::npos) << program.output();
  }
  EXPECT_FALSE(std::filesystem::exists(root.path() / "devhost.pid"));
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(Devhost, TheDaemonOfARootHasAPidFileAndALogAndStopEndsIt) {
  testing_support::TestSystemRoot root;
  Program start({WN_DEVHOST, "--daemon", WN_TEST_DRIVER});
  ASSERT_EQ(start.wait(), 0) << start.output();
  const std::string log = (root.path() / "devhost.log").string();
  EXPECT_NE(start.output().find("log " + log), std::string::npos) << start.output();
  const auto at = start.output().find("daemon running, pid ");
  ASSERT_NE(at, std::string::npos);
  const std::string pid = std::to_string(std::stoi(start.output().substr(at + 20)));
  EXPECT_EQ(fileText(root.path() / "devhost.pid"), pid + "\n");

  Program second({WN_DEVHOST, "--daemon", "--service", "Other", WN_TEST_DRIVER});
  EXPECT_EQ(second.wait(), 1);
  EXPECT_NE(second.output().find("a device host daemon already runs on " + root.path().string() + " (pid " + pid + ")"),
            std::string::npos)
      << second.output();

  Program stop({WN_DEVHOST, "--stop"});
  EXPECT_EQ(stop.wait(), 0) << stop.output();
  EXPECT_NE(stop.output().find("stopped the device host of " + root.path().string() + " (pid " + pid + ")"),
            std::string::npos)
      << stop.output();
  // Ended, not only asked to: its interface and pid file are gone.
  EXPECT_FALSE(std::filesystem::exists(root.path() / "devices" / kSocketName));
  EXPECT_FALSE(std::filesystem::exists(root.path() / "devhost.pid"));
  const std::string logged = fileText(log);
  EXPECT_NE(logged.find("daemon running"), std::string::npos) << logged;
  EXPECT_NE(logged.find("daemon stopped"), std::string::npos) << logged;
}

// A driver's own message says why its entry failed, in the error and in the log.
TEST(Devhost, ADriversOwnMessagesReachTheErrorAndTheDaemonsLog) {
  testing_support::TestSystemRoot root;
  ::setenv(test_driver::kRefuseVariable, "bad line 7 of the configuration", 1);
  Program start({WN_DEVHOST, "--daemon", WN_TEST_DRIVER});
  ::unsetenv(test_driver::kRefuseVariable);
  EXPECT_EQ(start.wait(), 1);
  EXPECT_NE(start.output().find("cannot start driver " WN_TEST_DRIVER ": the driver's entry failed with status "
                                "0xC0000001: refusing to start: bad line 7 of the configuration"),
            std::string::npos)
      << start.output();
  const std::string logged = fileText(root.path() / "devhost.log");
  EXPECT_NE(logged.find("driver kernel_test_driver: refusing to start: bad line 7 of the configuration"),
            std::string::npos)
      << logged;
}

TEST(Devhost, FilesystemErrorsNameThePathAndTheReason) {
  testing_support::TestSystemRoot root;
  const std::filesystem::path file = root.path() / "a-file";
  std::ofstream(file) << "x";
  struct Case {
    const char* what;
    std::string root;
    std::function<void()> prepare;
    std::string text;
  };
  const std::string lock = "{6d1b6b0c-3c7e-4c57-9e34-7f2a1e5d9a01}.lock";
  const Case cases[] = {
      {"a root below a file", (file / "root").string(), [] {},
       "cannot create " + (file / "root" / "devices").string() + ": Not a directory"},
      {"a lock file that is a directory", root.path().string(),
       [&] { std::filesystem::create_directories(root.path() / "devices" / lock); },
       "cannot create " + (root.path() / "devices" / lock).string() + ": Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    ::setenv("WN_SYSTEM_ROOT", c.root.c_str(), 1);
    Program program({WN_DEVHOST, WN_TEST_DRIVER});
    ::setenv("WN_SYSTEM_ROOT", root.path().c_str(), 1);
    EXPECT_EQ(program.wait(), 1);
    EXPECT_NE(program.output().find(c.text), std::string::npos) << program.output();
  }
}

TEST(Devhost, ConnectionsPerProcessAreConfigurable) {
  testing_support::TestSystemRoot root;
  Program devhost({WN_DEVHOST, "--connections-per-process", "2", WN_TEST_DRIVER});
  ASSERT_TRUE(devhost.readUntil("running")) << devhost.output();
  DeviceFile first;
  DeviceFile second;
  DeviceFile third;
  EXPECT_TRUE(first.isOpen());
  EXPECT_TRUE(second.isOpen());
  EXPECT_FALSE(third.isOpen());
  EXPECT_EQ(third.openError(), ERROR_NOT_ENOUGH_QUOTA);
  devhost.signal(SIGTERM);
  EXPECT_EQ(devhost.wait(), 0);
  EXPECT_NE(devhost.output().find("the most one process may have"), std::string::npos) << devhost.output();
}

TEST(Devhost, ASecondHostOfTheSameInterfaceIsRefused) {
  testing_support::TestSystemRoot root;
  Program first({WN_DEVHOST, WN_TEST_DRIVER});
  ASSERT_TRUE(first.readUntil("running")) << first.output();
  Program second({WN_DEVHOST, WN_TEST_DRIVER});
  EXPECT_EQ(second.wait(), 1);
  EXPECT_NE(second.output().find("0xC0000035"), std::string::npos) << second.output();
  DeviceFile file;
  EXPECT_TRUE(file.isOpen());  // the first host still serves it
  first.signal(SIGTERM);
  EXPECT_EQ(first.wait(), 0);
}
