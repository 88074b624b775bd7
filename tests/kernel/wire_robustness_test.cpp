// Malformed traffic on a device connection fails the message it came with and
// never stops the host from serving that or any other connection.

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_wire.h"
#include "platform/system_root.h"
#include "tests/kernel/kernel_test_support.h"
#include "tests/kernel/raw_connection.h"

using namespace platform;
namespace wire = platform::wire;
using kernel_testing::DeviceFile;
using kernel_testing::HostedDriverTest;

namespace {

constexpr uint32_t kStatusInvalidParameter = 0xC000000D;
constexpr uint32_t kStatusInvalidHandle = 0xC0000008;

using kernel_testing::RawConnection;

// A well-formed echo still works on this connection.
void expectEchoWorks(RawConnection& raw) {
  const uint32_t value = 0xC0FFEE;
  ASSERT_TRUE(raw.request(4242, test_driver::kEcho, &value, sizeof value, 4));
  wire::MessageHeader reply;
  std::vector<uint8_t> payload;
  ASSERT_TRUE(raw.receive(&reply, &payload));
  EXPECT_EQ(reply.type, wire::kReply);
  EXPECT_EQ(reply.id, 4242u);
  EXPECT_EQ(reply.status, 0u);
  ASSERT_EQ(payload.size(), 4u);
  uint32_t echoed;
  std::memcpy(&echoed, payload.data(), 4);
  EXPECT_EQ(echoed, value);
}

std::vector<uint8_t> headerBytes(uint32_t size, uint16_t type, uint32_t id, uint32_t status, uint32_t count,
                                 size_t totalBytes) {
  wire::MessageHeader header;
  header.size = size;
  header.type = type;
  header.id = id;
  header.status = status;
  header.count = count;
  std::vector<uint8_t> bytes(std::max(totalBytes, wire::kHeaderSize));
  std::memcpy(bytes.data(), &header, wire::kHeaderSize);
  bytes.resize(totalBytes);
  return bytes;
}

UniqueFd sealedMemoryFile(size_t size, bool seal) {
  return kernel_testing::memoryFile(size, seal ? F_SEAL_SHRINK | F_SEAL_GROW : 0);
}

}  // namespace

TEST_F(HostedDriverTest, MalformedMessagesFailAndTheConnectionGoesOn) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t expectedId;
  };
  const Case cases[] = {
      {"shorter than an id", std::vector<uint8_t>(10, 0xFF), 0},
      {"shorter than a header", headerBytes(20, wire::kRequest, 31, test_driver::kEcho, 0, 20), 31},
      {"size larger than sent", headerBytes(1000, wire::kRequest, 32, test_driver::kEcho, 4, 48), 32},
      {"size smaller than sent", headerBytes(40, wire::kRequest, 33, test_driver::kEcho, 4, 48), 33},
      {"unknown type", headerBytes(40, 99, 34, 0, 0, 40), 34},
      {"reply sent to the host", headerBytes(40, wire::kReply, 35, 0, 0, 40), 35},
      {"output capacity beyond the limit", headerBytes(40, wire::kRequest, 36, test_driver::kEcho, 0xFFFFFFFF, 40), 36},
      {"larger than any message", headerBytes(300 * 1024, wire::kRequest, 37, test_driver::kEcho, 4, 300 * 1024), 37},
  };
  RawConnection raw;
  ASSERT_TRUE(raw.connected());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(raw.sendBytes(c.bytes.data(), c.bytes.size()));
    wire::MessageHeader reply;
    ASSERT_TRUE(raw.receive(&reply));
    EXPECT_EQ(reply.type, wire::kReply);
    EXPECT_EQ(reply.id, c.expectedId);
    EXPECT_EQ(reply.status, kStatusInvalidParameter);
    EXPECT_EQ(reply.count, 0u);
    expectEchoWorks(raw);
  }
}

TEST_F(HostedDriverTest, StrayAnswersAreDropped) {
  RawConnection raw;
  ASSERT_TRUE(raw.connected());
  UniqueFd memory = sealedMemoryFile(4096, true);
  ASSERT_TRUE(raw.answer(5, 1, 0, 0, 4096, memory.get()));
  ASSERT_TRUE(raw.answer(6, 1, 0, 0, 0, -1));
  expectEchoWorks(raw);
}

TEST_F(HostedDriverTest, BadAnswersToQueriesFailTheRequest) {
  struct Case {
    const char* what;
    uint32_t code;
    uint32_t status;
    uint64_t offset;
    int fdKind;  // 0 none, 1 regular file, 2 unsealed memory, 3 sealed memory, 4 pipe, 5 sealed huge pages
    uint32_t expected;
  };
  const Case cases[] = {
      {"event without descriptor", test_driver::kKeepEvent, 0, 0, 0, kStatusInvalidHandle},
      {"event refused by the caller", test_driver::kKeepEvent, 6, 0, 0, kStatusInvalidHandle},
      {"event that is a memory file", test_driver::kKeepEvent, 0, 0, 3, kStatusInvalidHandle},
      {"event that is a pipe", test_driver::kKeepEvent, 0, 0, 4, kStatusInvalidHandle},
      {"memory without descriptor", test_driver::kWriteBuffer, 0, 0, 0, kStatusInvalidParameter},
      {"memory that can shrink", test_driver::kWriteBuffer, 0, 0, 2, kStatusInvalidParameter},
      {"memory offset past its end", test_driver::kWriteBuffer, 0, 8192, 3, kStatusInvalidParameter},
      {"range running past the block", test_driver::kWriteBuffer, 0, 4000, 3, kStatusInvalidParameter},
      {"memory that is a pipe", test_driver::kWriteBuffer, 0, 0, 4, kStatusInvalidParameter},
      {"memory of huge pages", test_driver::kWriteBuffer, 0, 0, 5, kStatusInvalidParameter},
  };
  RawConnection raw;
  ASSERT_TRUE(raw.connected());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.code == test_driver::kKeepEvent) {
      const uint64_t handle = 0x40;
      ASSERT_TRUE(raw.request(70, c.code, &handle, sizeof handle, 0));
    } else {
      const test_driver::WriteInput input{0x10000, 200, 7, 0};
      ASSERT_TRUE(raw.request(70, c.code, &input, sizeof input, 0));
    }
    wire::MessageHeader query;
    ASSERT_TRUE(raw.receive(&query));
    ASSERT_EQ(query.type, wire::kQuery);
    EXPECT_EQ(query.id, 70u);

    UniqueFd fd;
    int pipeFds[2] = {-1, -1};
    if (c.fdKind == 1) fd.reset(::open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (c.fdKind == 2) fd = sealedMemoryFile(4096, false);
    if (c.fdKind == 3) fd = sealedMemoryFile(4096, true);
    if (c.fdKind == 5) fd = kernel_testing::memoryFile(2 << 20, F_SEAL_SHRINK | F_SEAL_GROW, MFD_HUGETLB);
    if (c.fdKind == 4) {
      ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
      fd.reset(pipeFds[0]);
      ::close(pipeFds[1]);
    }
    ASSERT_TRUE(raw.answer(70, query.serial, c.status, c.offset, 4096, fd.get()));
    wire::MessageHeader reply;
    ASSERT_TRUE(raw.receive(&reply));
    EXPECT_EQ(reply.type, wire::kReply);
    EXPECT_EQ(reply.id, 70u);
    EXPECT_EQ(reply.status, c.expected);
    expectEchoWorks(raw);
  }
}

TEST_F(HostedDriverTest, RequestsSentDuringAQueryAreServedAfterIt) {
  RawConnection raw;
  ASSERT_TRUE(raw.connected());
  wire::MessageHeader query;
  ASSERT_TRUE(raw.requestEventQuery(1, &query));
  const uint32_t value = 5;
  ASSERT_TRUE(raw.request(2, test_driver::kEcho, &value, sizeof value, 4));
  ASSERT_TRUE(raw.answer(1, query.serial, 6, 0, 0, -1));
  wire::MessageHeader first;
  wire::MessageHeader second;
  ASSERT_TRUE(raw.receive(&first));
  ASSERT_TRUE(raw.receive(&second));
  EXPECT_EQ(first.id, 1u);
  EXPECT_EQ(first.status, kStatusInvalidHandle);
  EXPECT_EQ(second.id, 2u);
  EXPECT_EQ(second.status, 0u);
}

TEST_F(HostedDriverTest, ACallerThatNeverAnswersBlocksOnlyItsOwnConnection) {
  RawConnection silent;
  ASSERT_TRUE(silent.connected());
  wire::MessageHeader query;
  ASSERT_TRUE(silent.requestEventQuery(1, &query));

  DeviceFile other;
  ASSERT_TRUE(other.isOpen());
  EXPECT_EQ(other.control(test_driver::kEcho, "x", 1, nullptr, 0), 0u);

  // Leaving in the middle of a query ends that file object cleanly.
  silent.close();
  for (int i = 0; i < 400 && other.stats().cleanups == 0; ++i) ::usleep(5000);
  EXPECT_EQ(other.stats().cleanups, 1u);
}

TEST(DeviceHostQueries, AnUnansweredQueryTimesOutAndALateAnswerIsDropped) {
  testing_support::TestSystemRoot root;
  kernel::DeviceHost host;
  kernel::HostLimits limits;
  limits.answerTimeout = std::chrono::milliseconds(200);
  host.setLimits(limits);
  ASSERT_EQ(host.start(), 0u);
  ASSERT_EQ(host.loadDriver(WN_TEST_DRIVER, u"WnTestDriver"), 0u);

  RawConnection raw;
  ASSERT_TRUE(raw.connected());
  wire::MessageHeader query;
  ASSERT_TRUE(raw.requestEventQuery(1, &query));
  wire::MessageHeader reply;
  ASSERT_TRUE(raw.receive(&reply, nullptr, 3000));
  EXPECT_EQ(reply.id, 1u);
  EXPECT_EQ(reply.status, kernel::STATUS_IO_TIMEOUT);

  // The answer comes too late: the driver never gets that event.
  UniqueFd event(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  ASSERT_TRUE(raw.answer(1, query.serial, 0, 0, 0, event.get()));
  const uint32_t milliseconds = 0;
  ASSERT_TRUE(raw.request(2, test_driver::kSignalLater, &milliseconds, sizeof milliseconds, 0));
  ASSERT_TRUE(raw.receive(&reply));
  EXPECT_EQ(reply.id, 2u);
  EXPECT_EQ(reply.status, kernel::STATUS_INVALID_DEVICE_REQUEST);
  expectEchoWorks(raw);
}

// What no caller is told goes to the host's log.
TEST(DeviceHostLog, FailuresNoCallerHearsOfAreLogged) {
  testing_support::TestSystemRoot root;
  kernel::DeviceHost host;
  std::mutex mutex;
  std::vector<std::string> lines;
  host.setLogSink([&](std::string_view line) {
    std::lock_guard lock(mutex);
    lines.emplace_back(line);
  });
  auto logged = [&](const std::string& text) {
    std::lock_guard lock(mutex);
    for (const auto& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_EQ(host.start(), 0u);
  ::setenv(test_driver::kRefuseVariable, "no configuration", 1);
  std::string error;
  EXPECT_EQ(host.loadDriver(WN_TEST_DRIVER, u"WnTestDriver", &error), kernel::STATUS_UNSUCCESSFUL);
  ::unsetenv(test_driver::kRefuseVariable);
  EXPECT_EQ(error, "the driver's entry failed with status 0xC0000001: refusing to start: no configuration");
  EXPECT_TRUE(logged("driver WnTestDriver: refusing to start: no configuration"));

  ASSERT_EQ(host.loadDriver(WN_TEST_DRIVER, u"WnTestDriver"), 0u);
  DeviceFile file;
  EXPECT_EQ(file.control(test_driver::kThrow, nullptr, 0, nullptr, 0), ERROR_GEN_FAILURE);
  EXPECT_TRUE(logged("failed on request 0x00222034: the test driver throws; the request fails"));
}
