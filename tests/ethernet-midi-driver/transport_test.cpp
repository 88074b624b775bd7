// A port's network side on its own, over the system's UDP transport: the
// address object, the wire format, batching in the send thread, reception
// with the this-computer flag, and a send the transport never finishes.

#include <arpa/inet.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "ethernet-midi-driver/udp_transport.h"
#include "platform/kernel/wdm/executive.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {
namespace {

using namespace platform::wdm;
using mirelo::UdpTransport;

struct Received {
  std::vector<uint8_t> bytes;
  bool fromThisComputer;
};

// What the receive and error routines were called with.
struct Recorder {
  std::mutex mutex;
  std::vector<Received> datagrams;
  int failures = 0;
  bool atDispatchLevel = true;

  static NtStatus receive(void* context, const uint8_t* bytes, uint32_t count, bool fromThisComputer) {
    auto* self = static_cast<Recorder*>(context);
    std::lock_guard lock(self->mutex);
    self->atDispatchLevel = self->atDispatchLevel && keGetCurrentIrql() == DISPATCH_LEVEL;
    self->datagrams.push_back({std::vector<uint8_t>(bytes, bytes + count), fromThisComputer});
    return STATUS_SUCCESS;
  }
  static void failure(void* context, uint32_t, uint32_t, uint32_t) {
    auto* self = static_cast<Recorder*>(context);
    std::lock_guard lock(self->mutex);
    self->atDispatchLevel = self->atDispatchLevel && keGetCurrentIrql() == DISPATCH_LEVEL;
    ++self->failures;
  }
  size_t count() {
    std::lock_guard lock(mutex);
    return datagrams.size();
  }
};

uint32_t groupAddress() {
  in_addr address{};
  ::inet_pton(AF_INET, kGroup, &address);
  return address.s_addr;
}

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::inPrivateNetwork());
    setMulticastInterface("127.0.0.1");
    ASSERT_EQ(startUdpTransport(), STATUS_SUCCESS);
  }
  void TearDown() override {
    transport.reset();
    stopUdpTransport();
    shutdownExecutive();
    EXPECT_EQ(kernelHandleCount(), 0u);
  }

  NtStatus open(uint32_t portIndex) {
    transport = std::make_unique<UdpTransport>();
    return transport->OpenAddress(groupAddress(), htons(static_cast<uint16_t>(kFirstPort + portIndex)),
                                  &Recorder::receive, &Recorder::failure, &recorder);
  }
  void close() {
    if (transport->HasSendThread()) transport->StopSendThread();
    if (transport->ReceiveEnabled()) transport->DisableReceive();
    if (transport->IsOpen()) transport->CloseAddress();
  }
  void enqueue(const std::vector<uint8_t>& bytes, uint32_t* taken = nullptr) {
    Irql old;
    keRaiseIrql(DISPATCH_LEVEL, &old);
    uint32_t ignored = 0;
    EXPECT_EQ(transport->EnqueueSend(bytes.data(), static_cast<uint32_t>(bytes.size()), taken ? taken : &ignored),
              STATUS_SUCCESS);
    keLowerIrql(old);
  }

  testing_support::TestSystemRoot root;
  Recorder recorder;
  std::unique_ptr<UdpTransport> transport;
};

TEST_F(TransportTest, PortIndexesSendToTheirUdpPortFromTheSameLocalPort) {
  for (uint32_t index : {0u, 19u}) {
    const uint16_t port = static_cast<uint16_t>(kFirstPort + index);
    RawSocket watcher(port, true);
    ASSERT_EQ(open(index), STATUS_SUCCESS);
    ASSERT_EQ(transport->StartSendThread(), STATUS_SUCCESS);
    enqueue({0xF8});
    ASSERT_TRUE(watcher.receive()) << "port index " << index;
    close();
  }
}

TEST_F(TransportTest, BytesQueuedBeforeTheThreadWakesLeaveAsOneDatagram) {
  RawSocket watcher(kFirstPort, true);
  ASSERT_EQ(open(0), STATUS_SUCCESS);
  enqueue({0x90, 0x3C, 0x7F});
  enqueue({0x80, 0x3C, 0x00});
  ASSERT_EQ(transport->StartSendThread(), STATUS_SUCCESS);
  auto datagram = watcher.receive();
  ASSERT_TRUE(datagram);
  EXPECT_EQ(*datagram, (std::vector<uint8_t>{0x90, 0x3C, 0x7F, 0x80, 0x3C, 0x00}));
  EXPECT_FALSE(watcher.receive(200ms));
  close();
}

TEST_F(TransportTest, TheRingTakesNoMoreThanItHasRoomFor) {
  ASSERT_EQ(open(0), STATUS_SUCCESS);
  uint32_t taken = 0;
  enqueue(std::vector<uint8_t>(2000, 1), &taken);
  EXPECT_EQ(taken, 1024u);
  enqueue({2}, &taken);
  EXPECT_EQ(taken, 0u);  // nothing sent yet: no unsent byte is overwritten
  close();
}

TEST_F(TransportTest, ReceivedDatagramsAreIndicatedAtDispatchLevelWithTheirSource) {
  ASSERT_EQ(open(2), STATUS_SUCCESS);
  ASSERT_EQ(transport->EnableReceive(), STATUS_SUCCESS);
  RawSocket own(0, false, "127.0.0.1");
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  ASSERT_TRUE(own.sendTo(kFirstPort + 2, {1, 2, 3}));
  ASSERT_TRUE(eventually([&] { return recorder.count() == 1; }));
  ASSERT_TRUE(other.sendTo(kFirstPort + 2, {4}));
  ASSERT_TRUE(eventually([&] { return recorder.count() == 2; }));
  EXPECT_EQ(recorder.datagrams[0].bytes, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(recorder.datagrams[0].fromThisComputer);
  EXPECT_FALSE(recorder.datagrams[1].fromThisComputer);
  EXPECT_TRUE(recorder.atDispatchLevel);
  close();
}

TEST_F(TransportTest, DisabledReceptionIndicatesNothing) {
  ASSERT_EQ(open(1), STATUS_SUCCESS);
  ASSERT_EQ(transport->EnableReceive(), STATUS_SUCCESS);
  transport->DisableReceive();
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  ASSERT_TRUE(other.sendTo(kFirstPort + 1, {9}));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recorder.count(), 0u);
  ASSERT_EQ(transport->EnableReceive(), STATUS_SUCCESS);  // joining again is fine
  ASSERT_TRUE(other.sendTo(kFirstPort + 1, {9}));
  EXPECT_TRUE(eventually([&] { return recorder.count() == 1; }));
  close();
}

TEST_F(TransportTest, EveryAddressOfThisComputerCountsAsItsOwn) {
  // Without a configured interface every address of the machine is this
  // computer's, also a seventh one.
  setMulticastInterface("");
  for (int last = 3; last <= 7; ++last) {
    testing_support::runIp({"addr", "add", "127.0.0." + std::to_string(last) + "/8", "dev", "lo"});
  }
  ASSERT_EQ(open(0), STATUS_SUCCESS);
  EXPECT_GE(transport->LocalAddressCount(), 7u);
  ASSERT_EQ(transport->EnableReceive(), STATUS_SUCCESS);
  RawSocket seventh(0, false, "127.0.0.7");
  ASSERT_TRUE(seventh.sendTo(kFirstPort, {5}));
  ASSERT_TRUE(eventually([&] { return recorder.count() == 1; }));
  EXPECT_TRUE(recorder.datagrams[0].fromThisComputer);
  close();
  for (int last = 3; last <= 7; ++last) {
    testing_support::runIp({"addr", "del", "127.0.0." + std::to_string(last) + "/8", "dev", "lo"});
  }
}

TEST_F(TransportTest, AConfiguredInterfaceIsThisComputersOnlyAddress) {
  ASSERT_EQ(open(0), STATUS_SUCCESS);
  ASSERT_EQ(transport->LocalAddressCount(), 1u);
  in_addr expected{};
  ::inet_pton(AF_INET, "127.0.0.1", &expected);
  EXPECT_EQ(transport->LocalAddresses()[0], expected.s_addr);
  close();
}

TEST_F(TransportTest, AnAddressThatIsNoAddressCannotBeOpened) {
  setMulticastInterface("300.1.2.3");
  EXPECT_EQ(open(0), STATUS_INVALID_ADDRESS);
  EXPECT_FALSE(transport->IsOpen());
}

TEST_F(TransportTest, SendingWithoutARouteFailsOnceAtDispatchLevel) {
  setMulticastInterface("");
  ASSERT_TRUE(testing_support::runIp({"route", "del", "224.0.0.0/4", "dev", "lo"}));
  ASSERT_EQ(open(0), STATUS_SUCCESS);
  ASSERT_EQ(transport->StartSendThread(), STATUS_SUCCESS);
  enqueue({0x90, 1, 1});
  ASSERT_TRUE(eventually([&] { return transport->SendThreadEnded(); }));
  enqueue({0x90, 1, 1});
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(recorder.failures, 1);
  EXPECT_TRUE(recorder.atDispatchLevel);
  close();
  ASSERT_TRUE(testing_support::runIp({"route", "add", "224.0.0.0/4", "dev", "lo"}));
}

// A receive routine that stays inside its indication until released.
struct HeldIndication {
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};

  static NtStatus receive(void* context, const uint8_t*, uint32_t, bool) {
    auto* self = static_cast<HeldIndication*>(context);
    self->entered = true;
    while (!self->release) std::this_thread::sleep_for(1ms);
    return STATUS_SUCCESS;
  }
};

TEST_F(TransportTest, CloseWaitsForAnIndicationStillRunningAndThenClosesTheHandle) {
  HeldIndication held;
  transport = std::make_unique<UdpTransport>();
  ASSERT_EQ(transport->OpenAddress(groupAddress(), htons(kFirstPort + 4), &HeldIndication::receive,
                                   &Recorder::failure, &held),
            STATUS_SUCCESS);
  ASSERT_EQ(transport->EnableReceive(), STATUS_SUCCESS);
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  ASSERT_TRUE(other.sendTo(kFirstPort + 4, {0xF8}));
  ASSERT_TRUE(eventually([&] { return held.entered.load(); }));

  std::mutex outputMutex;
  std::string output;
  setDebugOutput([&](std::string_view text) {
    std::lock_guard lock(outputMutex);
    output.append(text);
  });
  transport->DisableReceive();
  std::atomic<bool> closed{false};
  std::thread closer([&] {
    transport->CloseAddress();
    closed = true;
  });
  std::this_thread::sleep_for(300ms);  // several of the close's 50 ms rounds
  EXPECT_FALSE(closed.load());
  EXPECT_GE(kernelHandleCount(), 1u);  // the address handle is still there
  held.release = true;
  closer.join();
  setDebugOutput(nullptr);
  EXPECT_FALSE(transport->IsOpen());
  EXPECT_EQ(kernelHandleCount(), 0u);  // closed, not lost
  size_t said = 0;
  for (size_t at = output.find("waiting for a receive indication"); at != std::string::npos;
       at = output.find("waiting for a receive indication", at + 1)) {
    ++said;
  }
  EXPECT_EQ(said, 1u) << output;
}

// ---------------------------------------------------------------- a transport that never finishes a send

struct StuckTransport {
  DriverObject* driver = nullptr;
  DeviceObject* device = nullptr;
  std::atomic<int> cancelled{0};
  std::atomic<int> completed{0};
};
StuckTransport* stuck = nullptr;

NtStatus stuckComplete(Irp* irp, NtStatus status) {
  irp->ioStatus.status = status;
  ioCompleteRequest(irp);
  return status;
}

void stuckCancel(DeviceObject*, Irp* irp) {
  ++stuck->cancelled;
  stuckComplete(irp, STATUS_CANCELLED);
}

NtStatus stuckDispatch(DeviceObject*, Irp* irp) {
  IoStackLocation* stack = ioGetCurrentIrpStackLocation(irp);
  if (stack->majorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL && stack->minorFunction == TDI_SEND_DATAGRAM) {
    ioMarkIrpPending(irp);
    ioSetCancelRoutine(irp, stuckCancel);  // the send waits for ever, unless cancelled
    return STATUS_PENDING;
  }
  ++stuck->completed;
  return stuckComplete(irp, STATUS_SUCCESS);
}

TEST(StuckTransportTest, ASendStillPendingAfterFiveSecondsIsCancelledAndReportedOnce) {
  StuckTransport device;
  stuck = &device;
  device.driver = new DriverObject();
  for (uint8_t major : {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_INTERNAL_DEVICE_CONTROL,
                        IRP_MJ_DEVICE_CONTROL}) {
    device.driver->majorFunction[major] = stuckDispatch;
  }
  UnicodeString name;
  rtlInitUnicodeString(&name, u"\\Device\\Udp");
  ASSERT_EQ(ioCreateDevice(device.driver, 0, &name, FILE_DEVICE_NETWORK, 0, false, &device.device), STATUS_SUCCESS);
  {
    Recorder recorder;
    UdpTransport transport;
    testing_support::TestSystemRoot root;
    ASSERT_EQ(transport.OpenAddress(groupAddress(), htons(kFirstPort), &Recorder::receive, &Recorder::failure,
                                    &recorder),
              STATUS_SUCCESS);
    ASSERT_EQ(transport.StartSendThread(), STATUS_SUCCESS);
    Irql old;
    keRaiseIrql(DISPATCH_LEVEL, &old);
    const uint8_t bytes[] = {0xF8};
    uint32_t taken = 0;
    transport.EnqueueSend(bytes, 1, &taken);
    keLowerIrql(old);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(eventually([&] { return transport.SendThreadEnded(); }, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4900ms);
    EXPECT_EQ(device.cancelled.load(), 1);
    EXPECT_EQ(recorder.failures, 1);
    transport.StopSendThread();
    transport.CloseAddress();
  }
  EXPECT_EQ(poolUsage(kIrpTag).outstandingBlocks, 0u);
  EXPECT_EQ(poolUsage(kMdlTag).outstandingBlocks, 0u);
  ioDeleteDevice(device.device);
  obDereferenceObject(device.driver);
  shutdownExecutive();
  stuck = nullptr;
}

}  // namespace
}  // namespace mirelo_testing
