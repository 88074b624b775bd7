// The object tree: built from records made by hand (every kind of node, its
// text, image, page and folding, entries without a parent) and from the
// simulated kernel driver's records with one and two devices.

#include "device-access/orvane_driver.h"
#include "device-access/orvane_service_records.h"
#include "usb-audio-kernel-sim/sim_control.h"
#include "tests/spy/hand_built_record.h"
#include "tests/spy/spy_fixture.h"
#include "tests/support/program_runner.h"
#include "tests/ui-support/raw_asio_stream.h"

namespace spy_testing {
namespace {

using TreeTest = SpyTest;

constexpr char kSampleTree[] =
    "Orvane A\n"
    "  IN Stream 0\n"
    "  OUT Stream 0\n"
    "  IN I2S 0\n"
    "    IN PortChannel 0\n"
    "    IN PortChannel 1\n"
    "  IN SPDIF 0\n"
    "    SPDIF Deframer\n"
    "  OUT I2S 0\n"
    "    OUT PortChannel 0\n"
    "  ASIO IN Channels\n"
    "    IN 01\n"
    "    IN 02 (nc)\n"
    "  ASIO OUT Channels\n"
    "    OUT 01\n"
    "  Sound Devices IN\n"
    "    In 1/2 (nc)\n"
    "  Sound Devices OUT\n"
    "    Out 1/2\n"
    "  MIDI IN Port 0\n"
    "    MIDI IN client 0\n"
    "  MIDI OUT Port 0\n"
    "    MIDI OUT client 0\n"
    "Asio Host 0\n";

TEST_F(TreeTest, EveryKindOfEntryGetsItsNodeInTableOrder) {
  openFrame();
  HandBuiltRecord record = HandBuiltRecord::sample();
  frame().applyStatistics(*record);
  EXPECT_EQ(dump(), kSampleTree);
  EXPECT_EQ(frame().objectPageCount(), 16u);
  EXPECT_EQ(frame().asioHostPageCount(), 1u);
  EXPECT_EQ(frame().midiClientPageCount(), 2u);
}

TEST_F(TreeTest, ImagesPagesAndFolding) {
  MainFrame& window = openFrame();
  HandBuiltRecord record = HandBuiltRecord::sample();
  window.applyStatistics(*record);
  const struct {
    std::vector<std::u16string> path;
    MainFrame::Image image;
  } expected[] = {
      {{u"Orvane A"}, MainFrame::imageA},
      {{u"Orvane A", u"IN Stream 0"}, MainFrame::imageD},
      {{u"Orvane A", u"OUT Stream 0"}, MainFrame::imageE},
      {{u"Orvane A", u"IN I2S 0"}, MainFrame::imageF},
      {{u"Orvane A", u"IN I2S 0", u"IN PortChannel 1"}, MainFrame::imageA},
      {{u"Orvane A", u"IN SPDIF 0", u"SPDIF Deframer"}, MainFrame::imageA},
      {{u"Orvane A", u"ASIO IN Channels"}, MainFrame::imageF},
      {{u"Orvane A", u"ASIO IN Channels", u"IN 01"}, MainFrame::imageF},
      {{u"Orvane A", u"ASIO IN Channels", u"IN 02 (nc)"}, MainFrame::imageG},
      {{u"Orvane A", u"Sound Devices IN", u"In 1/2 (nc)"}, MainFrame::imageG},
      {{u"Orvane A", u"Sound Devices OUT", u"Out 1/2"}, MainFrame::imageF},
      {{u"Orvane A", u"MIDI IN Port 0"}, MainFrame::imageF},
      {{u"Orvane A", u"MIDI OUT Port 0", u"MIDI OUT client 0"}, MainFrame::imageF},
      {{u"Asio Host 0"}, MainFrame::imageC},
  };
  for (const auto& node : expected) {
    const TreeItem item = itemAt(tree(), node.path);
    ASSERT_NE(item, 0u) << platform::toUtf8(node.path.back());
    EXPECT_EQ(tree().itemImage(item), window.imageIndex(node.image)) << platform::toUtf8(node.path.back());
    auto* page = reinterpret_cast<FormBase*>(tree().itemData(item));
    ASSERT_NE(page, nullptr);
    EXPECT_NE(page->getFormWindow(), WindowHandle{});
  }
  EXPECT_TRUE(tree().isExpanded(itemAt(tree(), {u"Orvane A"})));
  EXPECT_TRUE(tree().isExpanded(itemAt(tree(), {u"Orvane A", u"IN I2S 0"})));
  // Deframers and channel lists start folded.
  for (const char16_t* folded :
       {u"IN SPDIF 0", u"ASIO IN Channels", u"ASIO OUT Channels", u"Sound Devices IN", u"Sound Devices OUT"}) {
    EXPECT_FALSE(tree().isExpanded(itemAt(tree(), {u"Orvane A", folded}))) << platform::toUtf8(folded);
  }
  // Each page points at its own entry of the frame's copy.
  const ORVANE_STATISTICS& copy = window.statistics();
  auto* port = dynamic_cast<FormStatistics*>(window.hwPortPage(uint64_t{1} << 32 | 0x11));
  ASSERT_NE(port, nullptr);
  auto* device = window.devicePage(uint64_t{0x2F1A0110} << 32 | 1);
  ASSERT_NE(device, nullptr);
  EXPECT_NE(window.groupPage(uint64_t{0x2F1A0110} << 32 | 1, MainFrame::soundOutGroup), nullptr);
  EXPECT_NE(window.midiPortPage(uint64_t{1} << 32 | 0x31), nullptr);
  (void)copy;
}

TEST_F(TreeTest, PortTypesAndTheirNumbers) {
  openFrame();
  HandBuiltRecord record;
  record.device(1, u"Orvane A");
  const struct {
    uint32_t type;
    uint32_t number;
    bool input;
  } ports[] = {{1, 3, true},  {2, 0, true},  {10, 1, true},  {40, 2, true},  {7, 3, true},
               {1, 0, false}, {2, 5, false}, {10, 1, false}, {40, 9, false}, {0, 4, false}};
  uint32_t id = 0x40;
  for (const auto& port : ports) record.port(port.input, 1, id++, port.type, port.number);
  frame().applyStatistics(*record);
  const std::vector<std::u16string> expected = {
      u"IN I2S 3",         u"IN DSD 0",          u"IN SPDIF 1",       u"IN Virtual 2",     u"IN UNKNOWN 3",
      u"OUT I2S 0",        u"OUT DSD 5",         u"OUT SPDIF 1",      u"OUT Virtual 9",    u"OUT UNKNOWN 4",
      u"ASIO IN Channels", u"ASIO OUT Channels", u"Sound Devices IN", u"Sound Devices OUT"};
  EXPECT_EQ(childTexts(tree(), itemAt(tree(), {u"Orvane A"})), expected);
}

TEST_F(TreeTest, EntriesWithoutTheirParentGetNoNodeAndKeepTheirNumbers) {
  openFrame();
  HandBuiltRecord record;
  record.device(1, u"Orvane A");
  record.port(true, 1, 0x10, 1, 0);
  record.portChannel(true, 1, 0x99);  // no such port
  record.portChannel(true, 1, 0x10);  // still "IN PortChannel 1"
  record.stream(true, 7);             // no such device
  record.stream(true, 1);             // "IN Stream 1"
  record.asioChannel(true, 7, u"lost", true);
  record.deframer(1, 0x98);
  record.midiPort(true, 7, 0x30, 0);
  record.midiClientIn(1, 0x30);  // its port has no node
  record.midiClientIn(1, 0x77);
  frame().applyStatistics(*record);
  EXPECT_EQ(dump(),
            "Orvane A\n"
            "  IN Stream 1\n"
            "  IN I2S 0\n"
            "    IN PortChannel 1\n"
            "  ASIO IN Channels\n"
            "  ASIO OUT Channels\n"
            "  Sound Devices IN\n"
            "  Sound Devices OUT\n");
  EXPECT_EQ(frame().midiClientPageCount(), 0u);
}

// ---------------------------------------------------------------------------
// The simulated kernel driver's records

TEST_F(TreeTest, OneDeviceWithTheFixedNodesFirst) {
  openConnectedFrame({device("SP0001", "spdif_inputs = 2\nspdif_input = locked pcm 48000\n")});
  EXPECT_TRUE(waitFor([&] { return childTexts(tree()).size() == 3; })) << dump();
  EXPECT_EQ(childTexts(tree()), (std::vector<std::u16string>{u"DriverInfo", u"Trace Mask", u"Orvane SP0001"}));
  EXPECT_EQ(childTexts(tree(), itemAt(tree(), {u"Orvane SP0001"})),
            (std::vector<std::u16string>{u"IN I2S 0", u"IN SPDIF 0", u"OUT I2S 0", u"ASIO IN Channels",
                                         u"ASIO OUT Channels", u"Sound Devices IN", u"Sound Devices OUT"}));
  EXPECT_EQ(childTexts(tree(), itemAt(tree(), {u"Orvane SP0001", u"IN SPDIF 0"})),
            (std::vector<std::u16string>{u"IN PortChannel 2", u"IN PortChannel 3", u"SPDIF Deframer"}))
      << dump();
  EXPECT_EQ(tree().itemImage(itemAt(tree(), {u"DriverInfo"})), frame().imageIndex(MainFrame::imageH));
  EXPECT_EQ(tree().itemImage(itemAt(tree(), {u"Trace Mask"})), frame().imageIndex(MainFrame::imageB));
  EXPECT_TRUE(isWindowEnabled(frame().treePage().handle()));
  // The first node is chosen at the start.
  EXPECT_EQ(selectedPath(), (std::vector<std::u16string>{u"DriverInfo"}));
  EXPECT_EQ(frame().currentForm(), static_cast<FormBase*>(&frame().driverInfoPage()));
}

TEST_F(TreeTest, TwoDevicesWithAStreamAndAnAsioHost) {
  openConnectedFrame({device("SP0001"), device("SP0002")});
  ui_testing::RawAsioStream stream;
  ASSERT_EQ(stream.start(sim_testing::kAsioLink), 0u);
  EXPECT_TRUE(waitFor([&] { return itemAt(tree(), {u"Asio Host 0"}) != 0; }, 4000)) << dump();
  EXPECT_EQ(childTexts(tree()), (std::vector<std::u16string>{u"DriverInfo", u"Trace Mask", u"Orvane SP0001",
                                                             u"Orvane SP0002", u"Asio Host 0"}));
  // The streaming device's input channels are held by the stream, so connected.
  EXPECT_NE(itemAt(tree(), {u"Orvane SP0001", u"ASIO IN Channels", u"IN 01"}), 0u) << dump();
  EXPECT_NE(itemAt(tree(), {u"Orvane SP0001", u"IN Stream 0"}), 0u) << dump();
  // Only the streaming device has channels and ports; both have sound devices.
  EXPECT_NE(itemAt(tree(), {u"Orvane SP0002", u"Sound Devices IN", u"In 1/2 (nc)"}), 0u) << dump();
  // The host goes with its connection.
  stream.stop();
  EXPECT_TRUE(waitFor([&] { return itemAt(tree(), {u"Asio Host 0"}) == 0; }, 4000)) << dump();
}

TEST_F(TreeTest, AnAsioHostProcessComesAndGoes) {
  MainFrame& window = openConnectedFrame({device("SP0001")});
  const auto registered = testing_support::runProgram({REGSVR, "-s", WN_ASIO_MODULE});
  ASSERT_EQ(registered.exitCode, 0) << registered.errors;
  OrvaneDriver engine;  // brought to Running as the device control service would
  ASSERT_EQ(engine.openDriver(sim_testing::kPanelLink, false, false), 0u);
  for (uint32_t command : {ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_COMMAND_PREPARE,
                           ORVANE_STREAMING_COMMAND_START}) {
    ASSERT_EQ(engine.ioctlStreamingControl(command), 0u);
  }
  {
    testing_support::BackgroundProgram host({ASIO_HOST_TOOL, "stream", "--seconds", "30", "--max-missed", "100000"});
    ASSERT_TRUE(waitFor([&] { return itemAt(tree(), {u"Asio Host 0"}) != 0; }, 10000)) << dump() << host.output();
    ASSERT_TRUE(tree().selectItem(itemAt(tree(), {u"Asio Host 0"})));
    const uint32_t first = window.statistics().asioHosts[0].bufferSwitchEvents;
    EXPECT_TRUE(waitFor([&] { return window.statistics().asioHosts[0].bufferSwitchEvents > first; }, 3000));
    host.kill();
  }
  EXPECT_TRUE(waitFor([&] { return itemAt(tree(), {u"Asio Host 0"}) == 0; }, 5000)) << dump();
  // The device's subtree stayed; the tree's own selection is shown.
  EXPECT_NE(itemAt(tree(), {u"Orvane SP0001"}), 0u);
  EXPECT_EQ(window.currentForm(), reinterpret_cast<FormBase*>(tree().itemData(tree().selectedItem())));
}

// A MIDI sound device on each side, as the device control service lays them
// out, opened by an application: a port with one client each. Opening and
// closing them changes only the client counts, so only the clients are
// rebuilt and the port pages stay.
TEST_F(TreeTest, OpenMidiSoundDevicesAreClientsOfTheirPorts) {
  MainFrame& window = openConnectedFrame({device("SP0001")});
  OrvaneDriver connection;
  ASSERT_EQ(connection.openDriver(sim_testing::kPanelLink, false, false), 0u);
  bool changed = false;
  ASSERT_EQ(connection.updateDeviceList(changed), 0u);
  ASSERT_EQ(connection.deviceCount(), 1u);
  auto table = std::make_unique<ORVANE_SOUND_DEVICE_TABLE>();
  const auto midi = [](int32_t direction, const char16_t* name) {
    ORVANE_SOUND_DEVICE entry{};
    entry.kind = ORVANE_SOUND_DEVICE_KIND_MIDI;
    entry.pairCount = 1;
    entry.category = 2;
    entry.midiDirection = direction;
    std::char_traits<char16_t>::copy(entry.name, name, std::char_traits<char16_t>::length(name));
    return entry;
  };
  table->recordingCount = 1;
  table->recording[0] = midi(-1, u"MIDI In");
  table->playbackCount = 1;
  table->playback[0] = midi(1, u"MIDI Out");
  ASSERT_EQ(connection.deviceAt(0)->ioctlSetSoundDeviceNames(*table), 0u);
  ASSERT_TRUE(waitFor([&] { return itemAt(tree(), {u"Orvane SP0001", u"MIDI OUT Port 0"}) != 0; }, 4000)) << dump();
  EXPECT_EQ(childTexts(tree(), itemAt(tree(), {u"Orvane SP0001", u"MIDI IN Port 0"})), std::vector<std::u16string>{});
  FormStatistics* inPort = window.midiPortPage(window.statistics().inputMidiPorts[0].midiPortIdLow |
                                               uint64_t{window.statistics().inputMidiPorts[0].midiPortIdHigh} << 32);
  ASSERT_NE(inPort, nullptr);

  const auto switchSoundDevice = [&](uint32_t direction, bool open) {
    const usbaudio_sim::SIM_SOUND_DEVICE_SWITCH request{
        {0, 0, {}}, direction, 0, open ? 1u : 0u, 0};
    return machine.control().control(usbaudio_sim::SIM_CONTROL_SOUND_DEVICE, &request, sizeof request);
  };
  ASSERT_EQ(switchSoundDevice(ORVANE_SOUND_DEVICE_RECORDING, true), 0u);
  ASSERT_EQ(switchSoundDevice(ORVANE_SOUND_DEVICE_PLAYBACK, true), 0u);
  EXPECT_TRUE(waitFor([&] {
    return childTexts(tree(), itemAt(tree(), {u"Orvane SP0001", u"MIDI OUT Port 0"})) ==
           std::vector<std::u16string>{u"MIDI OUT client 0"};
  }, 4000)) << dump();
  EXPECT_EQ(childTexts(tree(), itemAt(tree(), {u"Orvane SP0001", u"MIDI IN Port 0"})),
            std::vector<std::u16string>{u"MIDI IN client 0"});
  EXPECT_EQ(window.midiClientPageCount(), 2u);
  EXPECT_EQ(window.statistics().inputMidiPorts[0].usageCount, 1u);

  ASSERT_EQ(switchSoundDevice(ORVANE_SOUND_DEVICE_RECORDING, false), 0u);
  EXPECT_TRUE(waitFor([&] { return window.midiClientPageCount() == 1; }, 4000)) << dump();
  EXPECT_EQ(childTexts(tree(), itemAt(tree(), {u"Orvane SP0001", u"MIDI IN Port 0"})), std::vector<std::u16string>{});
  EXPECT_EQ(window.midiPortPage(window.statistics().inputMidiPorts[0].midiPortIdLow |
                                uint64_t{window.statistics().inputMidiPorts[0].midiPortIdHigh} << 32),
            inPort)
      << "the ports are not rebuilt for a client";
  ASSERT_EQ(switchSoundDevice(ORVANE_SOUND_DEVICE_PLAYBACK, false), 0u);
}

}  // namespace
}  // namespace spy_testing
