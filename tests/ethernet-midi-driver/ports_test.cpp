// The MIDI ports as applications use them: pins on the ports' filters,
// mute and loop-back, stream limits, and the miniport's streams on their own.

#include <algorithm>
#include <numeric>
#include <thread>

#include "platform/kernel/wdm/executive.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {
namespace {

using namespace platform::wdm;

std::vector<uint8_t> noteOn(uint8_t note) { return {0x90, note, 0x7F}; }

class PortsTest : public MireloTest {
 protected:
  void SetUp() override {
    MireloTest::SetUp();
    start(4);
  }

  bool send(KsMidiPin& pin, const std::vector<uint8_t>& bytes) {
    return pin.writeBytes(bytes.data(), bytes.size()) == 0;
  }
};

TEST_F(PortsTest, WrittenBytesComeBackToThePortWithLoopBackOn) {
  unmuteAll();
  auto capture = openCapture(1);
  auto render = openRender(1);
  ASSERT_TRUE(waitConnected(1, true));
  ASSERT_TRUE(send(*render, noteOn(60)));
  EXPECT_EQ(readBytes(*capture, 3), noteOn(60));
}

TEST_F(PortsTest, WithLoopBackOffThisComputersDatagramsStayAway) {
  unmuteAll();
  ASSERT_EQ(control.setLoopback(false), 0u);
  auto capture = openCapture(3);
  auto render = openRender(3);
  ASSERT_TRUE(waitConnected(3, true));
  ASSERT_TRUE(send(*render, noteOn(61)));
  EXPECT_TRUE(readBytes(*capture, 3, 300ms).empty());
  // A datagram from another computer still arrives.
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  ASSERT_TRUE(other.sendTo(kFirstPort + 2, noteOn(62)));
  EXPECT_EQ(readBytes(*capture, 3), noteOn(62));
}

TEST_F(PortsTest, EveryCaptureStreamGetsEveryByteThatArrivesAfterItWasOpened) {
  unmuteAll();
  auto first = openCapture(2);
  ASSERT_TRUE(waitConnected(2, true));
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  ASSERT_TRUE(other.sendTo(kFirstPort + 1, noteOn(40)));
  ASSERT_EQ(readBytes(*first, 3), noteOn(40));
  auto second = openCapture(2);  // opened after the first datagram
  ASSERT_TRUE(other.sendTo(kFirstPort + 1, noteOn(41)));
  EXPECT_EQ(readBytes(*first, 3), noteOn(41));
  EXPECT_EQ(readBytes(*second, 3), noteOn(41));
  EXPECT_TRUE(readBytes(*second, 1, 200ms).empty());
}

TEST_F(PortsTest, AMutedPortTakesWritesAndSendsNothing) {
  RawSocket watcher(kFirstPort, true);
  auto render = openRender(1);
  ASSERT_TRUE(send(*render, noteOn(50)));
  EXPECT_FALSE(watcher.receive(300ms));
  EXPECT_FALSE(miniport(1)->Transport().IsOpen());
}

TEST_F(PortsTest, MutingClosesTheAddressAndUnmutingReconnects) {
  unmuteAll();
  auto capture = openCapture(4);
  auto render = openRender(4);
  ASSERT_TRUE(waitConnected(4, true));
  ASSERT_EQ(control.setMuteMask(1u << 3), 0u);
  ASSERT_TRUE(eventually([&] { return !miniport(4)->Transport().IsOpen(); }));
  EXPECT_FALSE(miniport(4)->Transport().HasSendThread());
  unmuteAll();
  ASSERT_TRUE(waitConnected(4, true));
  ASSERT_TRUE(send(*render, noteOn(70)));
  EXPECT_EQ(readBytes(*capture, 3), noteOn(70));
}

TEST_F(PortsTest, ClosingTheLastStreamOfADirectionClosesItsSide) {
  unmuteAll();
  auto capture = openCapture(1);
  auto render = openRender(1);
  ASSERT_TRUE(waitConnected(1, true));
  ASSERT_TRUE(miniport(1)->Transport().HasSendThread());
  render.reset();
  ASSERT_TRUE(eventually([&] { return !miniport(1)->Transport().HasSendThread(); }));
  EXPECT_TRUE(miniport(1)->Transport().ReceiveEnabled());
  render = openRender(1);
  capture.reset();
  ASSERT_TRUE(eventually([&] { return !miniport(1)->Transport().ReceiveEnabled(); }));
  EXPECT_TRUE(miniport(1)->Transport().IsOpen());
  render.reset();
  EXPECT_TRUE(eventually([&] { return !miniport(1)->Transport().IsOpen(); }));
}

TEST_F(PortsTest, TheNinthStreamOfADirectionIsRefused) {
  std::vector<std::unique_ptr<KsMidiPin>> pins;
  for (int i = 0; i < 8; ++i) pins.push_back(openCapture(1));
  uint32_t error = 0;
  EXPECT_EQ(KsMidiPin::create(found.ports.at(1), mirelo::kCapturePin, &error), nullptr);
  EXPECT_EQ(error, platform::ERROR_NO_SYSTEM_RESOURCES);
  for (int i = 0; i < 8; ++i) pins.push_back(openRender(1));  // render counts on its own
  EXPECT_EQ(KsMidiPin::create(found.ports.at(1), mirelo::kRenderPin, &error), nullptr);
  EXPECT_EQ(error, platform::ERROR_NO_SYSTEM_RESOURCES);
  pins.pop_back();
  EXPECT_NE(KsMidiPin::create(found.ports.at(1), mirelo::kRenderPin, &error), nullptr);
}

TEST_F(PortsTest, ReadOnARenderPinAndWriteOnACapturePinAreRefused) {
  auto render = openRender(1);
  auto capture = openCapture(1);
  std::vector<MidiRecord> records;
  EXPECT_EQ(render->read(&records, 100), platform::ERROR_INVALID_FUNCTION);
  const auto bytes = noteOn(1);
  EXPECT_EQ(capture->writeBytes(bytes.data(), bytes.size()), platform::ERROR_INVALID_FUNCTION);
}

TEST_F(PortsTest, WritesNeedARunningPinAndWholeRecords) {
  uint32_t error = 0;
  auto render = KsMidiPin::create(found.ports.at(1), mirelo::kRenderPin, &error);
  ASSERT_TRUE(render);
  const auto bytes = noteOn(2);
  EXPECT_EQ(render->writeBytes(bytes.data(), bytes.size()), 0xC0000184u);  // not running
  ASSERT_EQ(render->setState(platform::KSSTATE_RUN), 0u);
  std::vector<uint8_t> broken;
  platform::appendMidiRecord(broken, 0, bytes.data(), bytes.size());
  broken.resize(broken.size() - 8);  // the record claims more bytes than follow
  EXPECT_EQ(render->write(broken), platform::ERROR_INVALID_PARAMETER);
}

TEST_F(PortsTest, PinStatesPassThroughEveryStepAndStopEndsAWaitingRead) {
  unmuteAll();
  auto capture = openCapture(2);
  platform::KSSTATE state;
  ASSERT_EQ(capture->getState(&state), 0u);
  EXPECT_EQ(state, platform::KSSTATE_RUN);
  std::vector<MidiRecord> records;
  EXPECT_EQ(capture->read(&records, 50), platform::ERROR_TIMEOUT);  // a read waits now
  ASSERT_EQ(capture->setState(platform::KSSTATE_STOP), 0u);
  EXPECT_EQ(capture->read(&records, 2000), platform::ERROR_OPERATION_ABORTED);
}

TEST_F(PortsTest, ARecordDueLaterIsSentAtItsTime) {
  unmuteAll();
  auto capture = openCapture(1);
  auto render = openRender(1);
  ASSERT_TRUE(waitConnected(1, true));
  std::vector<uint8_t> records;
  const auto first = noteOn(10);
  const auto second = noteOn(11);
  const int64_t now = platform::monotonicTime100ns();
  platform::appendMidiRecord(records, 0, first.data(), first.size());
  platform::appendMidiRecord(records, now + 1'000'000, second.data(), second.size());  // in 100 ms
  ASSERT_EQ(render->write(records), 0u);
  EXPECT_GE(platform::monotonicTime100ns(), now + 1'000'000);
  std::vector<MidiRecord> received;
  while (received.size() < 2) {
    ASSERT_EQ(capture->read(&received, 2000), 0u);
  }
  EXPECT_EQ(received[0].bytes, first);
  EXPECT_EQ(received[1].bytes, second);
  EXPECT_GE(received[1].time, now + 1'000'000);
}

TEST_F(PortsTest, AWriteRightAfterOpeningWaitsForTheConnection) {
  unmuteAll();
  auto capture = openCapture(2);
  ASSERT_TRUE(waitConnected(2, true));
  for (uint8_t note = 0; note < 5; ++note) {
    auto render = openRender(2);  // written at once, before its connect work ran
    ASSERT_TRUE(send(*render, noteOn(note)));
    EXPECT_EQ(readBytes(*capture, 3), noteOn(note));
  }
  EXPECT_EQ(statusWord(), 0x80000000u);
}

TEST_F(PortsTest, AWriterThatClosesRightAfterWritingLosesNothing) {
  unmuteAll();
  auto capture = openCapture(4);
  ASSERT_TRUE(waitConnected(4, true));
  std::vector<uint8_t> sent;
  for (uint8_t note = 0; note < 10; ++note) {
    auto render = openRender(4);
    ASSERT_TRUE(send(*render, noteOn(note)));
    sent.insert(sent.end(), {0x90, note, 0x7F});
  }  // each pin closes at once: its stream goes, the send thread stops
  EXPECT_EQ(readBytes(*capture, sent.size()), sent);
}

TEST_F(PortsTest, ConnectsAndDisconnectsOfAPortInQuickSuccessionSettleOnTheLastChange) {
  // Streams come and go and the port is muted and unmuted at the same time,
  // so connect and disconnect runs of the port are queued while others run.
  const uint64_t violations = violationCount();
  unmuteAll();
  std::atomic<bool> failed{false};
  const auto churn = [&](uint32_t pinId) {
    for (int i = 0; i < 40 && !failed; ++i) {
      uint32_t error = 0;
      auto pin = KsMidiPin::create(found.ports.at(2), pinId, &error);
      if (!pin || pin->setState(platform::KSSTATE_RUN) != 0) failed = true;
    }
  };
  std::thread renders(churn, mirelo::kRenderPin);
  std::thread captures(churn, mirelo::kCapturePin);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(control.setMuteMask(i % 2 == 0 ? 2u : 0u), 0u);
  renders.join();
  captures.join();
  ASSERT_FALSE(failed.load());
  ASSERT_TRUE(eventually([&] { return !miniport(2)->Transport().IsOpen() && !miniport(2)->ConnectPending(); }));

  unmuteAll();
  auto capture = openCapture(2);
  auto render = openRender(2);
  ASSERT_TRUE(waitConnected(2, true));
  ASSERT_TRUE(send(*render, noteOn(20)));
  EXPECT_EQ(readBytes(*capture, 3), noteOn(20));
  EXPECT_EQ(statusWord(), 0x80000000u);
  EXPECT_EQ(violationCount(), violations);
}

TEST_F(PortsTest, AWriteAfterAFailedConnectFlagsTheProblemAndFails) {
  setMulticastInterface("not an address");  // the next address object cannot be opened
  unmuteAll();
  platform::Handle changed = platform::createEvent(false, false);
  ASSERT_EQ(control.enableControlChange(changed), 0u);
  auto render = openRender(3);
  // The write waits while the connect is under way; the failed connect then
  // makes it fail.
  const auto bytes = noteOn(3);
  EXPECT_EQ(render->writeBytes(bytes.data(), bytes.size()), platform::ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(statusWord(), 0x80000004u);
  EXPECT_EQ(muteMask() & 4u, 4u);
  EXPECT_EQ(platform::waitForSingle(changed, 2000), platform::WAIT_OBJECT_0);
  platform::closeHandle(changed);
}

TEST_F(PortsTest, ALongWriteGoesOutWholeInDatagramsOfAtMostARing) {
  unmuteAll();
  RawSocket watcher(kFirstPort, true);
  auto render = openRender(1);
  std::vector<uint8_t> bytes(2000);
  std::iota(bytes.begin(), bytes.end(), 0);
  ASSERT_TRUE(send(*render, bytes));
  std::vector<uint8_t> received;
  while (received.size() < bytes.size()) {
    auto datagram = watcher.receive();
    ASSERT_TRUE(datagram);
    EXPECT_LE(datagram->size(), 1024u);
    received.insert(received.end(), datagram->begin(), datagram->end());
  }
  EXPECT_EQ(received, bytes);
}

TEST_F(PortsTest, OnlyTheFirstKilobyteOfALongDatagramReachesThePort) {
  unmuteAll();
  auto capture = openCapture(1);
  ASSERT_TRUE(waitConnected(1, true));
  std::vector<uint8_t> datagram(1500);
  std::iota(datagram.begin(), datagram.end(), 0);
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  ASSERT_TRUE(other.sendTo(kFirstPort, datagram));
  const auto received = readBytes(*capture, 1500, 500ms);
  EXPECT_EQ(received, std::vector<uint8_t>(datagram.begin(), datagram.begin() + 1024));
}

TEST_F(PortsTest, AFullKilobyteDatagramArrivesWhole) {
  unmuteAll();
  auto capture = openCapture(1);
  ASSERT_TRUE(waitConnected(1, true));
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  std::vector<uint8_t> datagram(1024, 0xF8);
  ASSERT_TRUE(other.sendTo(kFirstPort, {0x90}));
  ASSERT_EQ(readBytes(*capture, 1).size(), 1u);
  ASSERT_TRUE(other.sendTo(kFirstPort, datagram));
  EXPECT_EQ(readBytes(*capture, 1024).size(), 1024u);
}

TEST_F(PortsTest, AReaderThatFallsBehindIsToldHowManyBytesItLost) {
  unmuteAll();
  auto capture = openCapture(1);
  ASSERT_TRUE(waitConnected(1, true));
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  const std::vector<uint8_t> datagram(1000, 0xFE);
  for (int i = 0; i < 70; ++i) ASSERT_TRUE(other.sendTo(kFirstPort, datagram));  // 70 000 bytes, unread
  ASSERT_TRUE(eventually([&] { return miniport(1)->CapturePosition() == 70000; }));
  const auto queued = readBytes(*capture, 65536, 500ms);
  EXPECT_EQ(queued.size(), 65000u);  // what the port keeps for a reader
  ASSERT_TRUE(other.sendTo(kFirstPort, {0x90, 1, 2}));
  std::vector<MidiRecord> records;
  ASSERT_EQ(capture->read(&records, 2000), 0u);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].lostBytes, 5000u);
  EXPECT_EQ(records[0].flags, platform::MIDI_RECORD_DISCONTINUITY);
  EXPECT_EQ(records[0].bytes, (std::vector<uint8_t>{0x90, 1, 2}));
}

// ---------------------------------------------------------------- the miniport's streams on their own

class MiniportStreamTest : public PortsTest {
 protected:
  IMiniportMidiStream* newStream(bool capture, NtStatus* status) {
    IMiniportMidiStream* stream = nullptr;
    IServiceGroup* group = nullptr;
    *status = miniport(1)->NewStream(&stream, nullptr, NonPagedPool, capture ? 0 : 2, capture, nullptr, &group);
    EXPECT_EQ(group != nullptr, capture && *status == STATUS_SUCCESS);
    if (group != nullptr) group->Release();
    return stream;
  }
};

TEST_F(MiniportStreamTest, TheNinthStreamOfADirectionFails) {
  std::vector<IMiniportMidiStream*> streams;
  NtStatus status;
  for (int i = 0; i < 8; ++i) streams.push_back(newStream(true, &status));
  EXPECT_EQ(newStream(true, &status), nullptr);
  EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
  streams.push_back(newStream(false, &status));
  EXPECT_EQ(status, STATUS_SUCCESS);
  for (IMiniportMidiStream* stream : streams) stream->Release();
  EXPECT_TRUE(eventually([&] { return miniport(1)->StreamCount(true) == 0 && miniport(1)->StreamCount(false) == 0; }));
}

TEST_F(MiniportStreamTest, StreamsReadOnlyTheirDirectionAndStoreAcquireAsStop) {
  NtStatus status;
  IMiniportMidiStream* render = newStream(false, &status);
  uint8_t buffer[8];
  uint32_t count = 99;
  EXPECT_EQ(render->Read(buffer, sizeof buffer, &count), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(render->SetState(platform::KSSTATE_ACQUIRE), STATUS_SUCCESS);
  EXPECT_EQ(static_cast<mirelo::EthernetMidiStream*>(render)->State(), platform::KSSTATE_STOP);
  // Muted: all bytes count as written and are dropped.
  EXPECT_EQ(render->Write(buffer, sizeof buffer, &count), STATUS_SUCCESS);
  EXPECT_EQ(count, sizeof buffer);
  render->Release();
}

TEST_F(MiniportStreamTest, AWriteTakesAtMostWhatTheRingHolds) {
  unmuteAll();
  NtStatus status;
  IMiniportMidiStream* render = newStream(false, &status);
  ASSERT_TRUE(eventually([&] { return miniport(1)->Connected() && miniport(1)->Transport().HasSendThread(); }));
  std::vector<uint8_t> bytes(2000, 0xF8);
  uint32_t written = 0;
  Irql old;
  keRaiseIrql(DISPATCH_LEVEL, &old);
  EXPECT_EQ(render->Write(bytes.data(), 2000, &written), STATUS_SUCCESS);
  keLowerIrql(old);
  EXPECT_LE(written, 1024u);
  EXPECT_GT(written, 0u);
  render->Release();
}

TEST_F(MiniportStreamTest, AStreamMoreThanARingBehindSkipsToTheOldestByteKept) {
  unmuteAll();
  NtStatus status;
  IMiniportMidiStream* capture = newStream(true, &status);
  std::vector<uint8_t> datagram(1024);
  Irql old;
  keRaiseIrql(DISPATCH_LEVEL, &old);
  for (uint8_t round = 0; round < 3; ++round) {
    std::fill(datagram.begin(), datagram.end(), round);
    mirelo::EthernetMidiMiniport::ReceiveBytes(miniport(1), datagram.data(), 1024, false);
  }
  // The port read the stream on each notification; a stream of its own has not.
  std::vector<uint8_t> buffer(4096);
  uint32_t count = 0;
  EXPECT_EQ(capture->Read(buffer.data(), 4096, &count), STATUS_SUCCESS);
  keLowerIrql(old);
  EXPECT_EQ(count, 1024u);
  EXPECT_EQ(buffer[0], 2);
  EXPECT_EQ(miniport(1)->LostCaptureBytes(), 2048u);
  capture->Release();
}

}  // namespace
}  // namespace mirelo_testing
