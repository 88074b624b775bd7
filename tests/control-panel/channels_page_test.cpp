// The channel pages against the simulated kernel driver: the rows follow the
// driver's channel lists, with each channel's device name and own name.

#include "control-panel/form_channels.h"
#include "device-access/orvane_status.h"
#include "platform/text.h"
#include "tests/control-panel/control_panel_fixture.h"

namespace cpl_testing {
namespace {

struct Row {
  std::u16string device;
  std::u16string channel;
  bool operator==(const Row&) const = default;
};

class ChannelsPageTest : public ControlPanelTest {
 protected:
  // The rows the driver's lists give, read on a connection of the test's own.
  std::vector<Row> driverRows(bool inputs) {
    OrvaneDriver own;
    EXPECT_EQ(own.openDriver(sim_testing::kPanelLink, false, false), 0u);
    bool changed = false;
    EXPECT_EQ(own.updateDeviceList(changed), 0u);
    ORVANE_CHANNEL_LIST list{};
    EXPECT_EQ(inputs ? own.ioctlGetInputChannels(list) : own.ioctlGetOutputChannels(list), 0u);
    std::vector<Row> rows;
    for (uint32_t i = 0; i < list.count; ++i) {
      ORVANE_CHANNEL_INFO info{};
      EXPECT_EQ(own.ioctlGetChannelInfo(list.channelIds[i], info), 0u);
      const OrvaneDevice* device = own.findDevice(info.deviceId.first, info.deviceId.second);
      rows.push_back({device->info().deviceName, info.name});
    }
    return rows;
  }

  std::vector<Row> pageRows(FormChannels& page) {
    const auto* list = page.controlAs<ListView>(FormChannels::kListId);
    std::vector<Row> rows;
    for (int row = 0; row < list->itemCount(); ++row) rows.push_back({list->itemText(row, 0), list->itemText(row, 1)});
    return rows;
  }

  FormChannels& show(std::u16string_view item) {
    tree().selectItem(findItem(tree(), item));
    return *dynamic_cast<FormChannels*>(frame().currentForm());
  }
};

struct DeviceSize {
  uint32_t line;
  size_t inputs;
  size_t outputs;
};

// The test's name in the listing (the structure's padding would be printed otherwise).
void PrintTo(const DeviceSize& size, std::ostream* os) {
  *os << size.line << " line channels: " << size.inputs << " in, " << size.outputs << " out";
}

class ChannelsPageSizeTest : public ChannelsPageTest, public ::testing::WithParamInterface<DeviceSize> {};

TEST_P(ChannelsPageSizeTest, RowsMatchTheDriversLists) {
  const DeviceSize& size = GetParam();
  DeviceSpec plugged = device("QT00" + std::to_string(size.line));
  plugged.i2sInputs = size.line;
  plugged.i2sOutputs = size.line;
  plugged.moreLines = "spdif_inputs = 2\nspdif_outputs = 2\nvirtual_outputs = 2\ndsd_inputs = 8\ndsd_outputs = 8\n";
  openConnectedFrame({plugged});
  const std::vector<Row> inputs = pageRows(show(u"ASIO IN Channels"));
  const std::vector<Row> outputs = pageRows(show(u"ASIO OUT Channels"));
  EXPECT_EQ(inputs.size(), size.inputs);
  EXPECT_EQ(outputs.size(), size.outputs);
  EXPECT_TRUE(inputs == driverRows(true));
  EXPECT_TRUE(outputs == driverRows(false));
  EXPECT_EQ(inputs.front().device, platform::toWide(plugged.name));
}

// Line, S/PDIF and virtual channels at a PCM rate (the DSD channels are not offered then).
INSTANTIATE_TEST_SUITE_P(Sizes, ChannelsPageSizeTest, ::testing::Values(DeviceSize{16, 18, 20}, DeviceSize{24, 26, 28}));

TEST_F(ChannelsPageTest, TwoDevicesStreamingTogetherListTheirChannelsInTheDriversOrder) {
  DeviceSpec first = device("QT0001");
  DeviceSpec second = device("QT0002");
  first.i2sInputs = second.i2sInputs = 8;
  openConnectedFrame({first, second});
  OrvaneDriver own;
  ASSERT_EQ(own.openDriver(sim_testing::kPanelLink, false, false), 0u);
  ASSERT_EQ(own.ioctlSetStreamingDevice({{0, 0}, ORVANE_STREAMING_MODE_ALL_DEVICES}), 0u);
  const std::vector<Row> rows = pageRows(show(u"ASIO IN Channels"));
  ASSERT_EQ(rows.size(), 16u);
  EXPECT_TRUE(rows == driverRows(true));
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(rows[i].device, i < 8 ? u"Quintor QT0001" : u"Quintor QT0002") << i;
}

TEST_F(ChannelsPageTest, AChannelWhoseInformationFailsIsLeftOut) {
  DeviceSpec plugged = device("QT0001");
  plugged.i2sInputs = 8;
  openConnectedFrame({plugged});
  const std::vector<Row> all = driverRows(true);
  const usbaudio_sim::SIM_FAULT fault{ORVANE_IOCTL_GET_CHANNEL_INFO, ORVANE_STATUS_DEVICE_REMOVED, 0, 1, 3};
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault), 0u);
  std::vector<Row> expected = all;
  expected.erase(expected.begin() + 3);
  EXPECT_TRUE(pageRows(show(u"ASIO IN Channels")) == expected);
}

TEST_F(ChannelsPageTest, AFailedListLeavesTheListEmptyAndTheColumnsShareTheWidth) {
  openConnectedFrame({device("QT0001")});
  const usbaudio_sim::SIM_FAULT fault{ORVANE_IOCTL_GET_OUTPUT_CHANNELS, ORVANE_STATUS_DEVICE_REMOVED, 0, 1};
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault), 0u);
  FormChannels& page = show(u"ASIO OUT Channels");
  EXPECT_TRUE(pageRows(page).empty());
  EXPECT_TRUE(messageBoxes.empty());
  const auto* list = page.controlAs<ListView>(FormChannels::kListId);
  ASSERT_GT(list->clientWidth(), 0);
  EXPECT_EQ(list->columnWidth(0), list->clientWidth() / 2);
  EXPECT_EQ(list->columnWidth(1), list->clientWidth() / 2);
  EXPECT_EQ(list->extendedStyle() & (listStyle::gridLines | listStyle::fullRowSelect),
            listStyle::gridLines | listStyle::fullRowSelect);
}

}  // namespace
}  // namespace cpl_testing
