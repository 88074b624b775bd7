// The pages against records the kernel driver got wrong: the simulated driver
// writes over its replies (counts larger than the record's slots, names that
// fill their field without a terminator, values outside every table), and
// each page must show what the record can hold and read nothing beyond it.
// Under the sanitizer build a read past a record fails these tests too.

#include <cstddef>
#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "control-panel/form_buffer_settings.h"
#include "control-panel/form_channels.h"
#include "control-panel/form_device.h"
#include "control-panel/form_devices.h"
#include "control-panel/form_mixer.h"
#include "control-panel/form_plugin.h"
#include "control-panel/form_sample_rate.h"
#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "tests/control-panel/control_panel_fixture.h"

namespace cpl_testing {
namespace {

class MalformedRecordTest;

// Bytes written over every reply to a request while the case runs.
struct Patch {
  uint32_t code;
  size_t offset;
  std::vector<uint8_t> bytes;
};

struct Case {
  const char* name;
  std::vector<Patch> patches;
  std::function<void(MalformedRecordTest&)> check;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

template <typename Value>
std::vector<uint8_t> bytesOf(Value value) {
  std::vector<uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// `length` UTF-16 characters `c`, without a terminator.
std::vector<uint8_t> unterminated(char16_t c, size_t length) {
  const std::u16string text(length, c);
  std::vector<uint8_t> bytes(text.size() * sizeof(char16_t));
  std::memcpy(bytes.data(), text.data(), bytes.size());
  return bytes;
}

constexpr size_t kFirstDevice = offsetof(ORVANE_DEVICE_LIST, devices);
constexpr uint32_t kEveryReply = 100000;

// One device with everything a page reads: S/PDIF, the echo plug-in and a
// mixer with one pair each way.
DeviceSpec fullDevice() {
  DeviceSpec plugged = device("QT0001", true);
  plugged.moreLines +=
      "spdif_inputs = 2\nspdif_outputs = 2\nmixer_outputs = 0:2\nmixer_monitor_inputs = 0:2\n"
      "mixer_playback_inputs = 2:2\n";
  return plugged;
}

class MalformedRecordTest : public ControlPanelTest, public ::testing::WithParamInterface<Case> {
 public:
  template <typename Form>
  Form& show(std::u16string_view item) {
    tree().selectItem(findItem(tree(), item));
    auto* page = dynamic_cast<Form*>(frame().currentForm());
    EXPECT_NE(page, nullptr) << platform::toUtf8(std::u16string(item));
    return *page;
  }

  FormMixer& openMonitorMixer() {
    auto& page = show<FormDevice>(u"Device0");
    page.controlAs<Button>(FormDevice::kMonitorMixerId)->click();
    return *frame().monitorMixer(page.deviceId());
  }

  std::u16string pane(int pane) { return frame().paneText(pane); }
  static bool eventually(const std::function<bool()>& condition) { return waitFor(condition); }

  // Starts the machine, patches the replies, then opens the window.
  void openPatchedFrame(const std::vector<Patch>& patches) {
    const std::vector<DeviceSpec> devices = {fullDevice()};
    ASSERT_TRUE(machine.start(devices));
    for (const Patch& patch : patches) {
      ASSERT_EQ(machine.control().patchReply(patch.code, static_cast<uint32_t>(patch.offset), patch.bytes, kEveryReply),
                0u);
    }
    openFrame();
    machine.announceDeviceList();
    ASSERT_TRUE(waitFor([&] { return tree().count() == expectedItems(devices); })) << treeDump();
  }
};

std::vector<std::u16string> column(const ListView& list, int column) {
  std::vector<std::u16string> texts;
  for (int row = 0; row < list.itemCount(); ++row) texts.push_back(list.itemText(row, column));
  return texts;
}

const Case kCases[] = {
    {"DeviceCountLargerThanTheList",
     {{ORVANE_IOCTL_GET_DEVICE_LIST, 0, bytesOf(std::numeric_limits<uint32_t>::max())}},
     [](MalformedRecordTest& test) {
       auto& page = test.show<FormDevices>(u"Devices");
       const auto& list = *page.controlAs<ListView>(FormDevices::kListId);
       EXPECT_EQ(column(list, 1), std::vector<std::u16string>{u"QT0001"}) << "the empty slots are no devices";
     }},
    {"SerialNumberWithoutTerminator",
     {{ORVANE_IOCTL_GET_DEVICE_LIST, kFirstDevice + offsetof(ORVANE_DEVICE_INFO, serialNumber),
       unterminated(u'S', ORVANE_SERIAL_NUMBER_CHARS)}},
     [](MalformedRecordTest& test) {
       const std::u16string serial(ORVANE_SERIAL_NUMBER_CHARS, u'S');
       auto& devices = test.show<FormDevices>(u"Devices");
       EXPECT_EQ(column(*devices.controlAs<ListView>(FormDevices::kListId), 1), std::vector<std::u16string>{serial});
       auto& device = test.show<FormDevice>(u"Device0");
       const std::u16string text = device.itemText(FormDevice::kDeviceTextId);
       EXPECT_NE(text.find(u"\nSerial: " + serial + u"\n\n"), std::u16string::npos) << platform::toUtf8(text);
     }},
    {"DeviceNameWithoutTerminator",
     {{ORVANE_IOCTL_GET_DEVICE_LIST, kFirstDevice + offsetof(ORVANE_DEVICE_INFO, deviceName),
       unterminated(u'N', ORVANE_DEVICE_NAME_CHARS)}},
     [](MalformedRecordTest& test) {
       auto& page = test.show<FormChannels>(u"ASIO IN Channels");
       const std::vector<std::u16string> names = column(*page.controlAs<ListView>(FormChannels::kListId), 0);
       ASSERT_FALSE(names.empty());
       for (const std::u16string& name : names) EXPECT_EQ(name, std::u16string(ORVANE_DEVICE_NAME_CHARS, u'N'));
     }},
    {"ChannelCountLargerThanTheList",
     {{ORVANE_IOCTL_GET_INPUT_CHANNELS, 0, bytesOf(std::numeric_limits<uint32_t>::max())},
      {ORVANE_IOCTL_GET_OUTPUT_CHANNELS, 0, bytesOf(uint32_t{ORVANE_MAX_CHANNELS + 1})}},
     [](MalformedRecordTest& test) {
       // Two line and two S/PDIF channels each way; the empty slots name no channel.
       auto& inputs = test.show<FormChannels>(u"ASIO IN Channels");
       EXPECT_EQ(column(*inputs.controlAs<ListView>(FormChannels::kListId), 1),
                 (std::vector<std::u16string>{u"IN 01", u"IN 02", u"SPDIF IN 1L", u"SPDIF IN 1R"}));
       auto& outputs = test.show<FormChannels>(u"ASIO OUT Channels");
       EXPECT_EQ(outputs.controlAs<ListView>(FormChannels::kListId)->itemCount(), 4);
     }},
    {"ChannelNameWithoutTerminator",
     {{ORVANE_IOCTL_GET_CHANNEL_INFO, offsetof(ORVANE_CHANNEL_INFO, name),
       unterminated(u'C', ORVANE_CHANNEL_NAME_CHARS)}},
     [](MalformedRecordTest& test) {
       auto& page = test.show<FormChannels>(u"ASIO OUT Channels");
       const std::vector<std::u16string> names = column(*page.controlAs<ListView>(FormChannels::kListId), 1);
       EXPECT_EQ(names, std::vector<std::u16string>(4, std::u16string(ORVANE_CHANNEL_NAME_CHARS, u'C')));
     }},
    {"RateCountLargerThanTheRecord",
     {{ORVANE_IOCTL_GET_SAMPLE_RATES, offsetof(ORVANE_SAMPLE_RATES, rateCount),
       bytesOf(std::numeric_limits<uint32_t>::max())}},
     [](MalformedRecordTest& test) {
       auto& page = test.show<FormSampleRate>(u"Sample Rate");
       const auto& rates = *page.controlAs<ComboBox>(FormSampleRate::kRateId);
       ASSERT_EQ(rates.count(), static_cast<int>(ORVANE_MAX_SAMPLE_RATES));
       EXPECT_EQ(rates.itemText(0), u"44.100 kHz");
       EXPECT_EQ(rates.itemText(2), u"96.000 kHz");
       EXPECT_EQ(rates.itemText(static_cast<int>(ORVANE_MAX_SAMPLE_RATES) - 1), u"0.000 kHz");
     }},
    {"BufferClassesOutsideTheTables",
     {{ORVANE_IOCTL_GET_BUFFER_SIZES, 0, bytesOf(std::array<uint32_t, 2>{77, 0xFFFFFFFF})}},
     [](MalformedRecordTest& test) {
       auto& page = test.show<FormBufferSettings>(u"Buffer Settings");
       EXPECT_EQ(page.controlAs<ComboBox>(FormBufferSettings::kStreamingSizeId)->currentSelection(), -1);
       EXPECT_EQ(page.controlAs<ComboBox>(FormBufferSettings::kAsioSizeId)->currentSelection(), -1);
       EXPECT_EQ(page.controlAs<ComboBox>(FormBufferSettings::kAsioSizeId)->count(), 4);
     }},
    {"StreamingStateAndModeOutsideTheTables",
     {{ORVANE_IOCTL_GET_STREAMING_STATUS, 0, bytesOf(std::array<uint32_t, 2>{0xFFFFFFFF, 9})}},
     [](MalformedRecordTest& test) {
       auto& page = test.show<FormDevices>(u"Devices");
       EXPECT_TRUE(page.isButtonChecked(FormDevices::kOneDeviceId));
       EXPECT_FALSE(page.isButtonChecked(FormDevices::kAllDevicesId));
       EXPECT_EQ(test.pane(MainFrame::kRatePane), u"Current sampling rate: 48.000 kHz");
       EXPECT_EQ(test.pane(MainFrame::kStreamingPane).find(u"Streaming state: "), std::u16string::npos);
     }},
    {"SpdifStateOutsideTheTable",
     {{ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, offsetof(ORVANE_SPDIF_INPUT_STATUS, inputState), bytesOf(uint32_t{99})}},
     [](MalformedRecordTest& test) {
       EXPECT_EQ(test.show<FormDevice>(u"Device0").itemText(FormDevice::kSpdifTextId), u"invalid State");
     }},
    {"SpdifFormatOutsideTheTable",
     {{ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, offsetof(ORVANE_SPDIF_INPUT_STATUS, inputState),
       bytesOf(std::array<uint32_t, 2>{ORVANE_SPDIF_INPUT_LOCKED, 0xFFFFFFFF})}},
     [](MalformedRecordTest& test) {
       EXPECT_EQ(test.show<FormDevice>(u"Device0").itemText(FormDevice::kSpdifTextId), u"invalid Format");
     }},
    {"PluginChannelCountAndMaximumDelayBeyondAnyDevice",
     {{ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, offsetof(ORVANE_PLUGIN_PARAMETERS, answerOrPairCount),
       bytesOf(std::numeric_limits<uint32_t>::max())}},
     [](MalformedRecordTest& test) {
       auto& page = test.show<FormPlugin>(u"Plugin0");
       const auto& pairs = *page.controlAs<ComboBox>(FormPlugin::kPairsId);
       EXPECT_EQ(pairs.count(), static_cast<int>(ORVANE_MAX_CHANNELS / 2)) << "as many as a channel list holds";
       EXPECT_EQ(page.maximumDelay(), static_cast<uint32_t>(std::numeric_limits<int>::max()));
       const auto& delay = *page.controlAs<TrackBar>(FormPlugin::kDelayId);
       EXPECT_EQ(delay.minimum(), 0);
       EXPECT_EQ(delay.maximum(), std::numeric_limits<int>::max());
     }},
    {"PluginValuesBeyondTheSliders",
     {{ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, offsetof(ORVANE_PLUGIN_PARAMETERS, pairs[0].value),
       bytesOf(std::numeric_limits<uint32_t>::max())}},
     [](MalformedRecordTest& test) {
       auto& page = test.show<FormPlugin>(u"Plugin0");
       EXPECT_EQ(page.controlAs<TrackBar>(FormPlugin::kDelayId)->position(), 0) << "at the top";
       EXPECT_EQ(page.itemText(FormPlugin::kDelayTextId), u"4294967295 ms");
       EXPECT_EQ(page.controlAs<TrackBar>(FormPlugin::kAmplificationId)->position(), 0);
       EXPECT_EQ(page.itemText(FormPlugin::kAmplificationTextId), u"4294967.29");
     }},
    {"MixerPinOfAnUnknownType",
     {{ORVANE_IOCTL_GET_MIXER_PINS, offsetof(ORVANE_MIXER_PIN, portType), bytesOf(uint8_t{0xFF})}},
     [](MalformedRecordTest& test) {
       FormMixer& mixer = test.openMonitorMixer();
       ASSERT_EQ(mixer.outputStrips().size(), 1u);
       ASSERT_EQ(mixer.inputStrips().size(), 1u);
       EXPECT_EQ(mixer.outputStrips()[0]->itemText(FormStereoOutputCtrl::kNameId), u"unknown");
       EXPECT_EQ(mixer.inputStrips()[0]->itemText(FormStereoInputCtrl::kNameId), u"unknown");
     }},
    {"MixerGainAndLevelsAtTheEndsOfTheirRange",
     {{ORVANE_IOCTL_GET_MIXER_GAINS, offsetof(ORVANE_MIXER_GAIN, gain), bytesOf(std::numeric_limits<int16_t>::min())},
      {ORVANE_IOCTL_GET_MIXER_GAINS, sizeof(ORVANE_MIXER_GAIN) + offsetof(ORVANE_MIXER_GAIN, gain),
       bytesOf(std::numeric_limits<int16_t>::max())},
      {ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, offsetof(ORVANE_MIXER_LEVEL, level),
       bytesOf(std::numeric_limits<int16_t>::max())},
      {ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, offsetof(ORVANE_MIXER_LEVEL, level),
       bytesOf(std::numeric_limits<int16_t>::min())}},
     [](MalformedRecordTest& test) {
       FormMixer& mixer = test.openMonitorMixer();
       ASSERT_EQ(mixer.outputStrips().size(), 1u);
       FormStereoOutputCtrl& strip = *mixer.outputStrips()[0];
       EXPECT_EQ(strip.controlAs<TrackBar>(FormStereoOutputCtrl::kLeftGainId)->position(), 6600) << "the bottom";
       EXPECT_EQ(strip.controlAs<TrackBar>(FormStereoOutputCtrl::kRightGainId)->position(), 0) << "the top";
       EXPECT_EQ(strip.itemText(FormStereoOutputCtrl::kLeftTextId), u"-327");
       EXPECT_EQ(strip.itemText(FormStereoOutputCtrl::kRightTextId), u"327");
       EXPECT_TRUE(test.eventually([&] {
         return strip.controlAs<ProgressBar>(FormStereoOutputCtrl::kLeftMeterId)->position() == 6000;
       })) << "full";
       EXPECT_EQ(mixer.inputStrips()[0]->controlAs<ProgressBar>(FormStereoInputCtrl::kLeftMeterId)->position(), 0);
     }},
    {"MixerAnswerNamingOtherPins",
     {{ORVANE_IOCTL_GET_MIXER_GAINS, offsetof(ORVANE_MIXER_GAIN, pin), bytesOf(ORVANE_MIXER_PIN{0, 1, {}})}},
     [](MalformedRecordTest& test) {
       OwnConnection own;
       for (const auto& [channel, gain] : {std::pair<uint8_t, int16_t>{0, -1000}, {1, -200}}) {
         ORVANE_MIXER_GAIN entry{{0, channel, {}}, 0, 0, gain};
         ASSERT_EQ(own.device().ioctlSetMixerGains(&entry, 1), 0u);
       }
       FormMixer& mixer = test.openMonitorMixer();
       ASSERT_EQ(mixer.outputStrips().size(), 1u);
       FormStereoOutputCtrl& strip = *mixer.outputStrips()[0];
       // The left strip keeps asking about its own pin, whatever the answer named.
       for (int refresh = 0; refresh < 2; ++refresh) {
         mixer.refreshGains();
         EXPECT_EQ(strip.itemText(FormStereoOutputCtrl::kLeftTextId), u"-10") << refresh;
         EXPECT_EQ(strip.itemText(FormStereoOutputCtrl::kRightTextId), u"-2") << refresh;
       }
     }},
};

TEST_P(MalformedRecordTest, ThePageShowsWhatTheRecordHolds) {
  openPatchedFrame(GetParam().patches);
  GetParam().check(*this);
  EXPECT_TRUE(messageBoxes.empty()) << "a malformed answer is no failure";
}

INSTANTIATE_TEST_SUITE_P(Pages, MalformedRecordTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& testCase) {
                           return std::string(testCase.param.name);
                         });

}  // namespace
}  // namespace cpl_testing
