// DriverControlClient, the "Ports" routines, the MIDI port census and the
// global port limit, against the driver in a device host of the test.

#include <atomic>
#include <mutex>

#include "ethernet-midi-driver/mirelo_device.h"
#include "ethernet-midi-monitor/driver_control_client.h"
#include "ethernet-midi-monitor/midi_device_census.h"
#include "ethernet-midi-monitor/mirelo_registry.h"
#include "platform/midi_devices.h"
#include "tests/ethernet-midi-monitor/monitor_test_support.h"

namespace {

using namespace monitor_testing;
using mirelo_testing::eventually;
using mirelo_testing::setPorts;

class Owner : public CTernokApiInterface {
 public:
  explicit Owner(std::u16string description = mirelo::kDeviceDescription) : description_(std::move(description)) {}
  void OnControlChange() override {
    const uint32_t mask = client->GetMuteMask();
    const uint32_t status = client->GetStatusWord();
    std::lock_guard lock(mutex_);
    seen_.emplace_back(mask, status);
  }
  std::u16string GetDeviceDescription() override { return description_; }
  std::vector<std::pair<uint32_t, uint32_t>> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

  DriverControlClient* client = nullptr;

 private:
  std::u16string description_;
  std::mutex mutex_;
  std::vector<std::pair<uint32_t, uint32_t>> seen_;
};

using DriverControlClientTest = MonitorTest;

TEST_F(DriverControlClientTest, WithoutTheDriverNothingIsOpenAndNothingIsSaid) {
  Owner owner;
  DriverControlClient client(owner);
  EXPECT_FALSE(client.IsOpen());
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DriverControlClientTest, ADeviceWithAnotherDescriptionIsNotTaken) {
  ASSERT_EQ(load(4), 0u);
  Owner owner(u"Ternok Mirelo - Ethernet Midi Ports");
  DriverControlClient client(owner);
  EXPECT_FALSE(client.IsOpen());
}

TEST_F(DriverControlClientTest, OpensTheControlFilterNotAPortAndMirrorsEveryChange) {
  ASSERT_EQ(load(4), 0u);
  Owner owner;
  DriverControlClient client(owner);
  owner.client = &client;
  ASSERT_TRUE(client.IsOpen());
  EXPECT_EQ(client.GetMuteMask(), 0xFFFFFu);  // the driver starts with every port muted
  EXPECT_EQ(client.GetStatusWord(), 0x80000000u);

  client.SetMuteMask(0b0101);
  ASSERT_TRUE(eventually([&] { return !owner.seen().empty() && owner.seen().back().first == 0b0101; }));
  client.SetLoopback(false);
  ASSERT_TRUE(eventually([&] { return owner.seen().back().second == 0u; }));
  client.SetLoopback(true);
  ASSERT_TRUE(eventually([&] { return owner.seen().back().second == 0x80000000u; }));

  // A change another program makes arrives too.
  found = mirelo_tools::findMireloPorts();
  ASSERT_EQ(control.open(found.controlFilter), 0u);
  ASSERT_EQ(control.setMuteMask(0b1000), 0u);
  EXPECT_TRUE(eventually([&] { return owner.seen().back().first == 0b1000; }));
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DriverControlClientTest, AFailingRequestSaysTheDeviceIsNotProperlyInstalled) {
  ASSERT_EQ(load(2), 0u);
  Owner owner;
  DriverControlClient client(owner);
  ASSERT_TRUE(client.IsOpen());
  host.stop();  // the driver's connection is gone
  EXPECT_EQ(client.GetMuteMask(), 0u);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text.rfind(u"Device is not properly installed.\nError Message:\n", 0), 0u);
  EXPECT_GT(boxes.shown[0].text.size(), 50u);  // the system's text follows
  EXPECT_EQ(boxes.shown[0].type & 0xF0, platform::ui::MB_ICONERROR);
}

TEST_F(DriverControlClientTest, DestructionEndsTheNotificationThreadAtOnce) {
  ASSERT_EQ(load(2), 0u);
  for (int round = 0; round < 20; ++round) {
    Owner owner;
    DriverControlClient client(owner);
    owner.client = &client;
    client.SetMuteMask(static_cast<uint32_t>(round & 3));
  }
  EXPECT_TRUE(boxes.shown.empty());
}

// ------------------------------------------------------------ "Ports"

using PortsValueTest = MonitorTest;

TEST_F(PortsValueTest, ReadingAMissingValueIsARegistryError) {
  EXPECT_FALSE(ReadPortsValue().has_value());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, u"Registry Error:\nPlease Reinstall Mirelo\n");
  EXPECT_EQ(boxes.shown[0].caption, u"Error");
}

TEST_F(PortsValueTest, WritingNeedsAdministratorRightsAndSaysNothingWithout) {
  setPorts(0x202);
  {
    StandardUser user;
    EXPECT_FALSE(WritePortsValue(8, 2));
    EXPECT_EQ(ReadPortsValue(), 0x202u);
  }
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(WritePortsValue(8, 2));
  EXPECT_EQ(ReadPortsValue(), 0x208u);
}

TEST_F(PortsValueTest, TheDriverTakesTheWrittenCountAtItsNextStart) {
  ASSERT_EQ(load(2), 0u);
  EXPECT_EQ(ReadPortsValue(), 0x202u);
  EXPECT_TRUE(WritePortsValue(6, 2));
  host.stop();
  ASSERT_EQ(host.start(), 0u);
  ASSERT_EQ(load(), 0u);
  EXPECT_EQ(ReadPortsValue(), 0x606u);
  EXPECT_EQ(mirelo_tools::findMireloPorts().ports.size(), 6u);
}

TEST_F(PortsValueTest, TernokPortsAreTheLowByteOrMinusOne) {
  EXPECT_EQ(ReadTernokPorts(), -1);
  setTernokPorts(0x0302);
  EXPECT_EQ(ReadTernokPorts(), 2);
}

// ------------------------------------------------------------ census

TEST(MidiDeviceCensusNames, EthernetAndTernokPortsAreFoundAfterTheFirstCharacter) {
  struct Case {
    const char16_t* name;
    bool ethernet;
    bool ternok;
  };
  const Case cases[] = {
      {u"Ethernet MIDI", false, false},
      {u"2- Ethernet MIDI", true, false},
      {u"Mirelo Ethernet MIDI", true, false},
      {u"Ternok30 1. Internal MIDI", false, true},
      {u". Internal MIDI", false, false},
      {u"x. Internal MIDI Ethernet MIDI", true, false},
      {u"Contoso USB MIDI", false, false},
  };
  for (const Case& c : cases) {
    const MidiDeviceCensus::Entry entry = MidiDeviceCensus::classify(c.name);
    EXPECT_EQ(entry.ethernet, c.ethernet) << platform::toUtf8(c.name);
    EXPECT_EQ(entry.ternok, c.ternok) << platform::toUtf8(c.name);
  }
}

using MidiDeviceCensusTest = MonitorTest;

TEST_F(MidiDeviceCensusTest, CountsTheMachinesPortsAndNoticesChanges) {
  addRegularPorts(3);
  ASSERT_EQ(load(4), 0u);
  const std::vector<std::u16string> outputs = platform::midiDeviceNames(platform::MidiDirection::output);
  ASSERT_EQ(outputs.size(), 7u);
  EXPECT_EQ(outputs[0], u"Mirelo Ethernet MIDI");
  EXPECT_EQ(outputs[3], u"4- Mirelo Ethernet MIDI");
  EXPECT_EQ(outputs[4], u"Contoso USB MIDI");
  EXPECT_EQ(outputs[6], u"3- Contoso USB MIDI");
  EXPECT_EQ(platform::midiDeviceNames(platform::MidiDirection::input).size(), 7u);

  MidiDeviceCensus census;
  census.Refresh();
  EXPECT_EQ(census.RegularPortCount(), 3);
  EXPECT_EQ(census.Limit(), 32);
  EXPECT_FALSE(census.Changed());
  setVersion(5, 0);
  EXPECT_FALSE(census.Changed());  // the limit is no entry
  EXPECT_EQ(census.Limit(), 10);
  host.stop();
  EXPECT_TRUE(census.Changed());
  EXPECT_EQ(census.RegularPortCount(), 0);
}

TEST_F(MidiDeviceCensusTest, AnOldSystemClampsTheEthernetPortsToTheGlobalLimit) {
  setVersion(5, 0);
  addRegularPorts(4);
  setTernokPorts(2);
  MidiDeviceCensus census;
  census.Refresh();
  EXPECT_EQ(CheckGlobalPortLimit(census, 6, true), 4);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, u"Global port limit exceed");
  EXPECT_EQ(boxes.shown[0].text,
            u"The maximum global number of ports is: 10.\nAfter reboot you will have 4 regular ports\n2 Ternok "
            u"Ports\n4 Ethernet Ports");
  EXPECT_EQ(boxes.shown[0].type & 0xF0, platform::ui::MB_ICONWARNING);

  // Without the sibling driver the limit leaves six; within it nothing is said.
  EXPECT_EQ(CheckGlobalPortLimit(census, 6, false), 6);
  EXPECT_EQ(CheckGlobalPortLimit(census, 7, false), 6);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text,
            u"The maximum global number of ports is: 10.\nAfter reboot you will have 4 regular ports\n6 Ethernet Ports");
}

TEST_F(MidiDeviceCensusTest, MoreRegularPortsThanTheLimitAllowNoEthernetPort) {
  setVersion(5, 0);
  addRegularPorts(12);
  MidiDeviceCensus census;
  census.Refresh();
  EXPECT_EQ(CheckGlobalPortLimit(census, 2, false), 0);
}

}  // namespace
