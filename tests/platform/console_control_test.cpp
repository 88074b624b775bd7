#include "platform/console_control.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/errors.h"
#include "platform/threads.h"
#include "tests/support/child_process.h"

namespace {

using testing_support::ChildProcess;

// What the handlers saw, in the child process that installed them.
std::atomic<int> g_calls{0};
std::atomic<uint32_t> g_lastType{99};
std::atomic<uint32_t> g_handlerThread{0};
std::atomic<int> g_olderCalls{0};

bool recordAndHandle(uint32_t type) {
  g_lastType = type;
  g_handlerThread = platform::currentThreadId();
  ++g_calls;
  return type == platform::CTRL_C_EVENT || type == platform::CTRL_BREAK_EVENT;
}

bool olderHandler(uint32_t) {
  ++g_olderCalls;
  return true;
}

bool blockingHandler(uint32_t type) {
  if (type == platform::CTRL_BREAK_EVENT) {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));  // never returns
  }
  ++g_calls;
  return true;
}

bool waitFor(const std::atomic<int>& counter, int value) {
  for (int i = 0; i < 500 && counter.load() < value; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return counter.load() >= value;
}

TEST(ConsoleControlTest, CtrlCAndCtrlBreakReachTheHandlerOnAThreadOfTheirOwn) {
  ChildProcess child([] {
    if (!platform::setConsoleCtrlHandler(recordAndHandle, true)) return 1;
    const uint32_t mainThread = platform::currentThreadId();
    if (!platform::generateConsoleCtrlEvent(platform::CTRL_C_EVENT) || !waitFor(g_calls, 1)) return 2;
    if (g_lastType != platform::CTRL_C_EVENT || g_handlerThread == mainThread) return 3;
    ::kill(::getpid(), SIGQUIT);  // Ctrl+Break as a terminal sends it
    if (!waitFor(g_calls, 2) || g_lastType != platform::CTRL_BREAK_EVENT) return 4;
    return 0;  // both handled: the process goes on
  });
  EXPECT_EQ(child.wait(), 0);
}

TEST(ConsoleControlTest, NewestHandlerFirstAndTrueEndsTheHandling) {
  ChildProcess child([] {
    platform::setConsoleCtrlHandler(olderHandler, true);
    platform::setConsoleCtrlHandler(recordAndHandle, true);
    platform::generateConsoleCtrlEvent(platform::CTRL_C_EVENT);
    if (!waitFor(g_calls, 1)) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (g_olderCalls != 0) return 2;  // the newer one handled it
    platform::setConsoleCtrlHandler(recordAndHandle, false);
    platform::generateConsoleCtrlEvent(platform::CTRL_C_EVENT);
    if (!waitFor(g_olderCalls, 1) || g_calls != 1) return 3;
    return 0;
  });
  EXPECT_EQ(child.wait(), 0);
}

TEST(ConsoleControlTest, UnhandledEventsEndTheProcessByTheirSignal) {
  struct Case {
    int signal;
    uint32_t type;
  } cases[] = {{SIGHUP, platform::CTRL_CLOSE_EVENT}, {SIGTERM, platform::CTRL_SHUTDOWN_EVENT}};
  for (const Case& c : cases) {
    ChildProcess child([&c] {
      platform::setConsoleCtrlHandler(recordAndHandle, true);  // returns false for these
      ::kill(::getpid(), c.signal);
      std::this_thread::sleep_for(std::chrono::seconds(10));
      return g_lastType == c.type ? 0 : 1;
    });
    EXPECT_EQ(child.wait(), 128 + c.signal);
  }
  ChildProcess noHandler([] {
    platform::setConsoleCtrlHandler(recordAndHandle, true);
    platform::setConsoleCtrlHandler(recordAndHandle, false);
    platform::generateConsoleCtrlEvent(platform::CTRL_C_EVENT);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    return 0;
  });
  EXPECT_EQ(noHandler.wait(), 128 + SIGINT);
}

TEST(ConsoleControlTest, IgnoringCtrlCAndABlockedHandler) {
  ChildProcess child([] {
    platform::setConsoleCtrlHandler(nullptr, true);  // Ctrl+C ignored: no handler call, no end
    platform::generateConsoleCtrlEvent(platform::CTRL_C_EVENT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform::setConsoleCtrlHandler(nullptr, false);
    platform::setConsoleCtrlHandler(blockingHandler, true);
    platform::generateConsoleCtrlEvent(platform::CTRL_BREAK_EVENT);  // its handler never returns
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    platform::generateConsoleCtrlEvent(platform::CTRL_C_EVENT);
    return waitFor(g_calls, 1) ? 0 : 1;
  });
  EXPECT_EQ(child.wait(), 0);
}

TEST(ConsoleControlTest, BadArguments) {
  ChildProcess child([] {
    if (platform::setConsoleCtrlHandler(olderHandler, false)) return 1;
    if (platform::lastError() != platform::ERROR_INVALID_PARAMETER) return 2;
    if (platform::generateConsoleCtrlEvent(platform::CTRL_CLOSE_EVENT)) return 3;
    return 0;
  });
  EXPECT_EQ(child.wait(), 0);
}

}  // namespace
