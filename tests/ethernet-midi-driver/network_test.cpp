// The driver on the network: two emulated computers exchanging MIDI, datagrams
// sent by a program outside the driver, a send that finds no route, and a
// client that dies with its pins open.

#include "platform/kernel/wdm/executive.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {
namespace {

using namespace platform::wdm;

std::vector<uint8_t> noteOn(uint8_t note) { return {0x90, note, 0x7F}; }

// The second computer's side of a test: its control filter and pins, opened
// on its root.
struct RemoteSide {
  explicit RemoteSide(SecondComputer& computer) {
    computer.withRoot([&] {
      found = mirelo_tools::findMireloPorts();
      control.open(found.controlFilter);
    });
  }
  std::unique_ptr<KsMidiPin> open(SecondComputer& computer, uint32_t port, uint32_t pinId) {
    std::unique_ptr<KsMidiPin> pin;
    computer.withRoot([&] {
      uint32_t error = 0;
      pin = KsMidiPin::create(found.ports.at(port), pinId, &error);
    });
    if (pin) pin->setState(platform::KSSTATE_RUN);
    return pin;
  }
  mirelo_tools::MireloPorts found;
  mirelo_tools::ControlFilter control;
};

class NetworkTest : public MireloTest {};

TEST_F(NetworkTest, TwoComputersExchangeMidiThroughTheGroup) {
  start(2);
  SecondComputer second;
  ASSERT_TRUE(second.ready()) << second.output();
  // Everything of computer B is opened first: its root is the system root of
  // this process meanwhile, and computer A's work must not read it.
  RemoteSide remote(second);
  ASSERT_EQ(remote.found.ports.size(), 2u);
  auto remoteCapture = remote.open(second, 2, mirelo::kCapturePin);
  auto remoteRender = remote.open(second, 2, mirelo::kRenderPin);
  // Loop-back off on both: only the other computer's datagrams arrive.
  ASSERT_EQ(remote.control.setMuteMask(0), 0u);
  ASSERT_EQ(remote.control.setLoopback(false), 0u);
  unmuteAll();
  ASSERT_EQ(control.setLoopback(false), 0u);
  auto localCapture = openCapture(2);
  auto localRender = openRender(2);
  ASSERT_TRUE(localCapture && localRender && remoteCapture && remoteRender);
  ASSERT_TRUE(waitConnected(2, true));

  // Computer B joins the group in its own time: the first note is repeated
  // until B hears it.
  bool heard = false;
  for (int attempt = 0; attempt < 50 && !heard; ++attempt) {
    ASSERT_EQ(localRender->writeBytes(noteOn(59).data(), 3), 0u);
    heard = readBytes(*remoteCapture, 3, 100ms) == noteOn(59);
  }
  ASSERT_TRUE(heard) << second.output();
  for (uint8_t note = 60; note < 64; ++note) {
    ASSERT_EQ(localRender->writeBytes(noteOn(note).data(), 3), 0u);
    const auto arrived = readBytes(*remoteCapture, 3);
    ASSERT_EQ(arrived, noteOn(note)) << second.output();
  }
  ASSERT_EQ(remoteRender->writeBytes(noteOn(70).data(), 3), 0u);
  EXPECT_EQ(readBytes(*localCapture, 3), noteOn(70));
  EXPECT_TRUE(readBytes(*localCapture, 1, 200ms).empty());  // nothing of its own
  EXPECT_TRUE(readBytes(*remoteCapture, 1, 200ms).empty());
}

TEST_F(NetworkTest, DatagramsFromAProgramOutsideTheDriverReachTheirPort) {
  start(4);
  unmuteAll();
  auto port3 = openCapture(3);
  auto port2 = openCapture(2);
  ASSERT_TRUE(waitConnected(3, true));
  ASSERT_TRUE(waitConnected(2, true));
  const std::string script =
      "import socket\n"
      "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
      "s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton('127.0.0.2'))\n"
      "s.sendto(bytes([0xB0, 0x07, 0x64]), ('225.0.0.37', 21930))\n";
  const auto result = testing_support::runProgram({"python3", "-c", script});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(readBytes(*port3, 3), (std::vector<uint8_t>{0xB0, 0x07, 0x64}));
  EXPECT_TRUE(readBytes(*port2, 1, 200ms).empty());
}

TEST_F(NetworkTest, ASendWithoutARouteIsReportedOnceThroughTheControlFilter) {
  setMulticastInterface("");
  ASSERT_TRUE(testing_support::runIp({"route", "del", "224.0.0.0/4", "dev", "lo"}));
  start(2);
  platform::Handle changed = platform::createEvent(false, false);
  ASSERT_EQ(control.enableControlChange(changed), 0u);
  unmuteAll();
  ASSERT_EQ(platform::waitForSingle(changed, 2000), platform::WAIT_OBJECT_0);
  auto render = openRender(1);
  ASSERT_EQ(render->writeBytes(noteOn(1).data(), 3), 0u);
  ASSERT_EQ(platform::waitForSingle(changed, 5000), platform::WAIT_OBJECT_0);
  EXPECT_EQ(statusWord(), 0x80000001u);
  EXPECT_EQ(muteMask() & 1u, 1u);
  // The port is muted now: writes are dropped, nothing more is reported.
  ASSERT_EQ(render->writeBytes(noteOn(2).data(), 3), 0u);
  EXPECT_EQ(platform::waitForSingle(changed, 300), platform::WAIT_TIMEOUT);
  EXPECT_TRUE(eventually([&] { return !miniport(1)->Transport().IsOpen(); }));
  // Unmuting clears the problem and connects again.
  ASSERT_TRUE(testing_support::runIp({"route", "add", "224.0.0.0/4", "dev", "lo"}));
  unmuteAll();
  EXPECT_EQ(statusWord(), 0x80000000u);
  EXPECT_TRUE(waitConnected(1, false));
  platform::closeHandle(changed);
}

TEST_F(NetworkTest, AClientKilledWithOpenPinsLeavesTheDriverConsistent) {
  start(2);
  unmuteAll();
  testing_support::BackgroundProgram holder({PIN_HOLDER, "1", "3"}, {{"WN_SYSTEM_ROOT", root.path().string()}});
  ASSERT_TRUE(holder.waitForOutput("holding")) << holder.output();
  ASSERT_EQ(miniport(1)->StreamCount(true), 3u);
  ASSERT_EQ(miniport(1)->StreamCount(false), 3u);
  holder.kill();

  EXPECT_TRUE(eventually([&] { return miniport(1)->StreamCount(true) == 0 && miniport(1)->StreamCount(false) == 0; }));
  EXPECT_TRUE(eventually([&] { return !miniport(1)->Transport().IsOpen(); }));
  platform::Handle port = platform::openDevice(found.ports.at(1));
  platform::KSP_PIN request{};
  request.property = {platform::KSPROPSETID_Pin, platform::KSPROPERTY_PIN_CINSTANCES, platform::KSPROPERTY_TYPE_GET};
  platform::KSPIN_CINSTANCES instances{};
  ASSERT_EQ(platform::ksGetProperty(port, &request, sizeof request, &instances, sizeof instances), 0u);
  EXPECT_EQ(instances.currentCount, 0u);
  EXPECT_EQ(instances.possibleCount, 8u);
  platform::closeHandle(port);

  auto capture = openCapture(1);
  auto render = openRender(1);
  ASSERT_EQ(render->writeBytes(noteOn(9).data(), 3), 0u);
  EXPECT_EQ(readBytes(*capture, 3), noteOn(9));
  capture.reset();
  render.reset();
  host.stop();
  EXPECT_EQ(poolUsage(mirelo::kStreamTag).outstandingBlocks, 0u);
  EXPECT_EQ(poolUsage(mirelo::kObjectTag).outstandingBlocks, 0u);
  EXPECT_EQ(livePortClassObjects(), 0u);
}

}  // namespace
}  // namespace mirelo_testing
