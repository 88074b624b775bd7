// Device files against a device host running the test driver in this process.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/shared_memory.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "platform/waits.h"
#include "tests/kernel/kernel_test_support.h"

using namespace platform;
using kernel_testing::DeviceFile;
using kernel_testing::HostedDriverTest;

namespace {

std::vector<uint8_t> delayedInput(uint32_t milliseconds, uint32_t status, const std::string& payload) {
  test_driver::DelayedInput header{milliseconds, status};
  std::vector<uint8_t> input(sizeof header + payload.size());
  std::memcpy(input.data(), &header, sizeof header);
  std::memcpy(input.data() + sizeof header, payload.data(), payload.size());
  return input;
}

}  // namespace

TEST(DeviceOpen, MissingInterfaceGivesFileNotFound) {
  testing_support::TestSystemRoot root;
  for (const char16_t* path : {u"\\\\.\\{6D1B6B0C-3C7E-4C57-9E34-7F2A1E5D9A01}", u"\\\\.\\bad/name", u"\\\\.\\",
                               u"C:\\file.txt", u"{6D1B6B0C-3C7E-4C57-9E34-7F2A1E5D9A01}"}) {
    setLastError(0);
    EXPECT_EQ(openDevice(path), kInvalidHandle) << toUtf8(path);
    EXPECT_EQ(lastError(), ERROR_FILE_NOT_FOUND) << toUtf8(path);
  }
}

TEST_F(HostedDriverTest, OpenIgnoresCaseOfTheLinkName) {
  DeviceFile lower(u"{6d1b6b0c-3c7e-4c57-9e34-7f2a1e5d9a01}");
  EXPECT_TRUE(lower.isOpen());
}

TEST_F(HostedDriverTest, EchoReturnsTheInputAndItsByteCount) {
  DeviceFile file;
  ASSERT_TRUE(file.isOpen()) << file.openError();
  const char text[] = "hello, device";
  char out[64] = {};
  uint32_t bytes = 0;
  EXPECT_EQ(file.control(test_driver::kEcho, text, sizeof text, out, sizeof out, &bytes), 0u);
  EXPECT_EQ(bytes, sizeof text);
  EXPECT_STREQ(out, text);
}

TEST_F(HostedDriverTest, ByteCountIsLimitedToTheOutputCapacity) {
  DeviceFile file;
  const char text[] = "0123456789";
  char out[4] = {};
  uint32_t bytes = 0;
  EXPECT_EQ(file.control(test_driver::kEcho, text, 10, out, sizeof out, &bytes), 0u);
  EXPECT_EQ(bytes, 4u);
  EXPECT_EQ(std::memcmp(out, "0123", 4), 0);
}

TEST_F(HostedDriverTest, FailureStatusesReachTheCallerWithTheirByteCount) {
  struct Case {
    uint32_t status;
    uint32_t error;
  };
  const Case cases[] = {
      {0xE0000025, 0xE0000025},  // a driver's own status passes unchanged
      {0xE0000100, 0xE0000100},
      {0xC000000D, ERROR_INVALID_PARAMETER},
      {0xC0000023, ERROR_INSUFFICIENT_BUFFER},
      {0xC0000010, ERROR_INVALID_FUNCTION},
      {0x80000005, ERROR_MORE_DATA},
      {0xC0000001, ERROR_GEN_FAILURE},
  };
  DeviceFile file;
  for (const Case& c : cases) {
    uint8_t out[8] = {};
    uint32_t bytes = 99;
    const test_driver::FailInput input{c.status, 3};
    EXPECT_EQ(file.control(test_driver::kFail, &input, sizeof input, out, sizeof out, &bytes), c.error) << std::hex
                                                                                                         << c.status;
    EXPECT_EQ(bytes, 3u);
    EXPECT_EQ(out[2], 0xAB);
  }
}

TEST_F(HostedDriverTest, UnknownRequestCodeFailsWithInvalidFunction) {
  DeviceFile file;
  EXPECT_EQ(file.control(0x00229990, nullptr, 0, nullptr, 0), ERROR_INVALID_FUNCTION);
}

TEST_F(HostedDriverTest, RequestWithoutOverlappedRecordWaitsForAPendingRequest) {
  DeviceFile file;
  const auto input = delayedInput(30, 0, "later");
  char out[16] = {};
  uint32_t bytes = 0;
  ASSERT_TRUE(deviceIoControl(file.handle(), test_driver::kDelayed, input.data(), static_cast<uint32_t>(input.size()),
                              out, sizeof out, &bytes, nullptr));
  EXPECT_EQ(bytes, 5u);
  EXPECT_EQ(std::string(out, 5), "later");
}

TEST_F(HostedDriverTest, PendingRequestCompletesThroughTheOverlappedEvent) {
  DeviceFile file;
  const UniqueHandle event(createEvent(true, true));  // a stale signal is cleared by the request
  Overlapped overlapped;
  overlapped.event = event.get();
  const auto input = delayedInput(80, 0, "done!");
  char out[16] = {};
  uint32_t bytes = 77;
  ASSERT_FALSE(deviceIoControl(file.handle(), test_driver::kDelayed, input.data(),
                               static_cast<uint32_t>(input.size()), out, sizeof out, &bytes, &overlapped));
  EXPECT_EQ(lastError(), ERROR_IO_PENDING);
  EXPECT_EQ(waitForSingle(event.get(), 0), WAIT_TIMEOUT);
  EXPECT_FALSE(getOverlappedResult(file.handle(), &overlapped, &bytes, false));
  EXPECT_EQ(lastError(), ERROR_IO_INCOMPLETE);

  EXPECT_EQ(waitForSingle(event.get(), 5000), WAIT_OBJECT_0);
  ASSERT_TRUE(getOverlappedResult(file.handle(), &overlapped, &bytes, true));
  EXPECT_EQ(bytes, 5u);
  EXPECT_EQ(std::string(out, 5), "done!");
}

TEST_F(HostedDriverTest, PendingRequestFailureKeepsItsStatusAndByteCount) {
  DeviceFile file;
  const auto input = delayedInput(10, 0xE0000005, "abc");
  char out[8] = {};
  uint32_t bytes = 0;
  EXPECT_EQ(file.control(test_driver::kDelayed, input.data(), static_cast<uint32_t>(input.size()), out, sizeof out,
                         &bytes),
            0xE0000005u);
  EXPECT_EQ(bytes, 3u);
}

TEST_F(HostedDriverTest, RequestCompletedInsideItsDispatchStillCompletes) {
  DeviceFile file;
  const char text[] = "inline";
  char out[16] = {};
  uint32_t bytes = 0;
  EXPECT_EQ(file.control(test_driver::kCompleteInline, text, sizeof text, out, sizeof out, &bytes), 0u);
  EXPECT_EQ(bytes, sizeof text);
  EXPECT_STREQ(out, text);
}

TEST_F(HostedDriverTest, SynchronousRequestsGoOnWhileAnotherIsPending) {
  DeviceFile file;
  const UniqueHandle event(createEvent(true, false));
  Overlapped overlapped;
  overlapped.event = event.get();
  const auto input = delayedInput(150, 0, "slow");
  char slow[8] = {};
  ASSERT_FALSE(deviceIoControl(file.handle(), test_driver::kDelayed, input.data(),
                               static_cast<uint32_t>(input.size()), slow, sizeof slow, nullptr, &overlapped));
  ASSERT_EQ(lastError(), ERROR_IO_PENDING);
  for (int i = 0; i < 20; ++i) {
    uint32_t value = static_cast<uint32_t>(i) * 7;
    uint32_t echoed = 0;
    EXPECT_EQ(file.control(test_driver::kEcho, &value, 4, &echoed, 4), 0u);
    EXPECT_EQ(echoed, value);
  }
  EXPECT_EQ(waitForSingle(event.get(), 5000), WAIT_OBJECT_0);
  uint32_t bytes = 0;
  EXPECT_TRUE(getOverlappedResult(file.handle(), &overlapped, &bytes, true));
  EXPECT_EQ(std::string(slow, bytes), "slow");
}

TEST_F(HostedDriverTest, ConcurrentRequestsOnOneHandleEachGetTheirOwnAnswer) {
  DeviceFile file;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        const uint64_t value = static_cast<uint64_t>(t) << 32 | static_cast<uint64_t>(i);
        uint64_t echoed = 0;
        uint32_t bytes = 0;
        if (!deviceIoControl(file.handle(), test_driver::kEcho, &value, 8, &echoed, 8, &bytes, nullptr) ||
            echoed != value || bytes != 8) {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(HostedDriverTest, DriverSignalsTheCallersEventLater) {
  DeviceFile file;
  const UniqueHandle event(createEvent(false, false));
  const uint64_t value = reinterpret_cast<uintptr_t>(event.get());
  ASSERT_EQ(file.send(test_driver::kKeepEvent, value), 0u);
  ASSERT_EQ(file.send(test_driver::kSignalLater, uint32_t{20}), 0u);
  EXPECT_EQ(waitForSingle(event.get(), 5000), WAIT_OBJECT_0);
  // Kept after the request: signalled again on demand.
  ASSERT_EQ(file.send(test_driver::kSignalLater, uint32_t{0}), 0u);
  EXPECT_EQ(waitForSingle(event.get(), 5000), WAIT_OBJECT_0);
}

TEST_F(HostedDriverTest, HandleValuesThatAreNoEventFailTheRequest) {
  DeviceFile file;
  Handle notAnEvent = file.handle();
  for (uint64_t value : {uint64_t{0}, uint64_t{0x12345678}, uint64_t{reinterpret_cast<uintptr_t>(notAnEvent)}}) {
    EXPECT_EQ(file.send(test_driver::kKeepEvent, value), ERROR_INVALID_HANDLE) << value;
  }
  EXPECT_EQ(file.send(test_driver::kSignalLater, uint32_t{0}), ERROR_INVALID_FUNCTION);  // nothing kept
}

TEST_F(HostedDriverTest, DriverWritesIntoShareableMemoryOnly) {
  DeviceFile file;
  auto* block = static_cast<uint8_t*>(allocateShareable(3 * 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[100], 0);
  const test_driver::WriteInput inside{reinterpret_cast<uintptr_t>(block + 100), 50, 0x5A, 0};
  ASSERT_EQ(file.send(test_driver::kWriteBuffer, inside), 0u);
  EXPECT_EQ(block[99], 0);
  EXPECT_EQ(block[100], 0x5A);
  EXPECT_EQ(block[149], 0x5A);
  EXPECT_EQ(block[150], 0);

  std::vector<uint8_t> ordinary(256);
  const test_driver::WriteInput rejected[] = {
      {reinterpret_cast<uintptr_t>(ordinary.data()), 16, 1, 0},          // not shareable
      {reinterpret_cast<uintptr_t>(block + 3 * 4096 - 8), 16, 1, 0},     // runs past the block
      {reinterpret_cast<uintptr_t>(block), 0, 1, 0},                      // empty range
      {0, 16, 1, 0},
  };
  for (const auto& input : rejected) EXPECT_EQ(file.send(test_driver::kWriteBuffer, input), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ordinary[0], 0);

  ASSERT_TRUE(freeShareable(block));
  EXPECT_EQ(file.send(test_driver::kWriteBuffer, inside), ERROR_INVALID_PARAMETER);
}

TEST_F(HostedDriverTest, EachConnectionHasItsOwnFileObject) {
  DeviceFile first;
  DeviceFile second;
  const UniqueHandle event(createEvent(true, false));
  ASSERT_EQ(first.send(test_driver::kKeepEvent, uint64_t{reinterpret_cast<uintptr_t>(event.get())}), 0u);
  EXPECT_EQ(second.send(test_driver::kSignalLater, uint32_t{0}), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(first.send(test_driver::kSignalLater, uint32_t{0}), 0u);
  EXPECT_EQ(waitForSingle(event.get(), 5000), WAIT_OBJECT_0);
}

TEST_F(HostedDriverTest, ClosingTheHandleRunsTheDriversCleanup) {
  DeviceFile observer;
  DeviceFile first;
  DeviceFile second;
  EXPECT_EQ(observer.stats().openFiles, 3u);
  first.close();
  // Closing is synchronous: the driver's cleanup has run when it returns.
  EXPECT_EQ(observer.stats().cleanups, 1u);
  EXPECT_EQ(observer.stats().openFiles, 2u);
  EXPECT_EQ(second.control(test_driver::kEcho, "x", 1, nullptr, 0), 0u);
}

TEST_F(HostedDriverTest, ClosingTheHandleCancelsItsPendingRequest) {
  auto file = std::make_unique<DeviceFile>();
  const UniqueHandle event(createEvent(true, false));
  Overlapped overlapped;
  overlapped.event = event.get();
  const auto input = delayedInput(10000, 0, "never");
  char out[8];
  ASSERT_FALSE(deviceIoControl(file->handle(), test_driver::kDelayed, input.data(),
                               static_cast<uint32_t>(input.size()), out, sizeof out, nullptr, &overlapped));
  file->close();
  EXPECT_EQ(waitForSingle(event.get(), 5000), WAIT_OBJECT_0);
  EXPECT_EQ(overlapped.internal, 0xC0000120u);
  EXPECT_EQ(errorFromStatus(static_cast<uint32_t>(overlapped.internal)), ERROR_OPERATION_ABORTED);
}

TEST_F(HostedDriverTest, RequestsOnAClosedOrForeignHandleFail) {
  const UniqueHandle event(createEvent(true, false));
  EXPECT_FALSE(deviceIoControl(event.get(), test_driver::kEcho, nullptr, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
  DeviceFile file;
  const Handle stale = file.handle();
  file.close();
  EXPECT_FALSE(deviceIoControl(stale, test_driver::kEcho, nullptr, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HostedDriverTest, OversizedBuffersAreRefusedBeforeSending) {
  DeviceFile file;
  std::vector<uint8_t> big(512 * 1024);
  EXPECT_EQ(file.control(test_driver::kEcho, big.data(), static_cast<uint32_t>(big.size()), nullptr, 0),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(file.control(test_driver::kEcho, nullptr, 4, nullptr, 0), ERROR_INVALID_PARAMETER);
  // The largest allowed request goes through.
  std::vector<uint8_t> largest(256 * 1024, 0x11);
  std::vector<uint8_t> out(largest.size());
  uint32_t bytes = 0;
  EXPECT_EQ(file.control(test_driver::kEcho, largest.data(), static_cast<uint32_t>(largest.size()), out.data(),
                         static_cast<uint32_t>(out.size()), &bytes),
            0u);
  EXPECT_EQ(bytes, largest.size());
  EXPECT_EQ(out, largest);
}

TEST_F(HostedDriverTest, DriverReceivesItsServiceKeyPath) {
  DeviceFile file;
  char16_t path[128] = {};
  uint32_t bytes = 0;
  ASSERT_EQ(file.control(test_driver::kRegistryPath, nullptr, 0, path, sizeof path, &bytes), 0u);
  EXPECT_EQ(std::u16string(path, bytes / 2), u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\WnTestDriver");
}

TEST_F(HostedDriverTest, WithdrawnInterfaceDisconnectsItsFiles) {
  DeviceFile control;
  test_driver::InterfaceInput extra{{0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}}, u"WnExtraDevice"};
  ASSERT_EQ(control.send(test_driver::kAddInterface, extra), 0u);
  EXPECT_EQ(control.send(test_driver::kAddInterface, extra), 0xC0000035u);  // name collision
  DeviceFile file(u"WnExtraDevice");
  ASSERT_TRUE(file.isOpen());
  EXPECT_EQ(file.control(test_driver::kEcho, "x", 1, nullptr, 0), 0u);

  const std::u16string link = u"WnExtraDevice";
  ASSERT_EQ(control.control(test_driver::kRemoveInterface, link.data(), static_cast<uint32_t>(link.size() * 2),
                            nullptr, 0),
            0u);
  EXPECT_EQ(file.control(test_driver::kEcho, "x", 1, nullptr, 0), ERROR_DEVICE_NOT_CONNECTED);
  DeviceFile again(u"WnExtraDevice");
  EXPECT_FALSE(again.isOpen());
  EXPECT_EQ(again.openError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(control.stats().cleanups, 1u);
}

TEST_F(HostedDriverTest, StoppingTheHostCleansUpAndDisconnects) {
  DeviceFile file;
  host.stop();
  EXPECT_EQ(file.control(test_driver::kEcho, "x", 1, nullptr, 0), ERROR_DEVICE_NOT_CONNECTED);
  DeviceFile again;
  EXPECT_EQ(again.openError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(host.devicesDirectory() / "{6d1b6b0c-3c7e-4c57-9e34-7f2a1e5d9a01}"));
}
