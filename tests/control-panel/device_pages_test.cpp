// The "Devices" page and the device pages, against the simulated kernel
// driver and, where they ask the device control service, quintorsvc.

#include <optional>

#include "control-panel/form_device.h"
#include "control-panel/form_devices.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_status.h"
#include "tests/control-panel/service_panel_fixture.h"

namespace cpl_testing {
namespace {

// A connection of the test's own, with the streaming state and marks.
class OwnDevice : public OwnConnection {
 public:
  OrvaneDevice& at(size_t position) { return device(position); }
  ORVANE_STREAMING_STATUS status() {
    ORVANE_STREAMING_STATUS status{};
    EXPECT_EQ(driver().ioctlGetStreamingStatus(status), 0u);
    return status;
  }
  // Whether the device at a position is selected for streaming, from a fresh list.
  bool streams(size_t position) {
    ORVANE_DEVICE_LIST list{};
    EXPECT_EQ(driver().ioctlGetDeviceList(list), 0u);
    return position < list.count && (list.devices[position].streamingSelected & ORVANE_DEVICE_STREAMING_SELECTED) != 0;
  }
};

void failNext(sim_testing::SimControl& control, uint32_t code, uint32_t status) {
  const usbaudio_sim::SIM_FAULT fault{code, status, 0, 1};
  ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault), 0u);
}

// ---------------------------------------------------------------------------
// Devices

class DevicesPageTest : public ServicePanelTest {
 protected:
  void SetUp() override {
    ServicePanelTest::SetUp();
    DeviceSpec second = serviceDevice("QT0002");
    second.product = 0x0104;
    MainFrame& window = openServiceFrame({serviceDevice("QT0001"), second});
    page_ = &window.devicesPage();
    list_ = page_->controlAs<ListView>(FormDevices::kListId);
    tree().selectItem(findItem(tree(), u"Devices"));
    own_.emplace();
  }

  int streamingRow() {
    for (int row = 0; row < list_->itemCount(); ++row) {
      if (list_->itemText(row, 2) == u"X") return row;
    }
    return -1;
  }
  bool selectEnabled() { return isWindowEnabled(page_->item(FormDevices::kSelectId)); }

  FormDevices* page_ = nullptr;
  ListView* list_ = nullptr;
  std::optional<OwnDevice> own_;
};

TEST_F(DevicesPageTest, ListsBothDevicesAndTheOneThatStreams) {
  ASSERT_EQ(list_->itemCount(), 2);
  EXPECT_EQ(list_->itemText(0, 0), u"0x2F1A / 0x0110");
  EXPECT_EQ(list_->itemText(0, 1), u"QT0001");
  EXPECT_EQ(list_->itemText(1, 0), u"0x2F1A / 0x0104");
  EXPECT_EQ(list_->itemText(1, 1), u"QT0002");
  EXPECT_EQ(list_->itemData(1), 1);
  for (int row = 0; row < 2; ++row) {
    EXPECT_EQ(list_->itemText(row, 2), own_->streams(static_cast<size_t>(row)) ? u"X" : u"") << row;
  }
  EXPECT_EQ(list_->extendedStyle() & (listStyle::gridLines | listStyle::fullRowSelect),
            listStyle::gridLines | listStyle::fullRowSelect);
  EXPECT_EQ(list_->selectedItem(), -1);
  EXPECT_FALSE(selectEnabled()) << "nothing is marked";
  EXPECT_TRUE(page_->isButtonChecked(FormDevices::kOneDeviceId));
  EXPECT_FALSE(page_->isButtonChecked(FormDevices::kAllDevicesId));
}

TEST_F(DevicesPageTest, ColumnsShareTheListsWidth) {
  page_->onFormSize();
  const int width = list_->clientWidth();
  ASSERT_GT(width, 0);
  EXPECT_EQ(list_->columnWidth(0), width * 2 / 7);
  EXPECT_EQ(list_->columnWidth(1), width * 2 / 6);
  EXPECT_EQ(list_->columnWidth(2), width / 5);
}

TEST_F(DevicesPageTest, SelectForStreamingMovesStreamingToTheMarkedDevice) {
  const int other = own_->streams(0) ? 1 : 0;
  list_->selectItem(other);
  EXPECT_TRUE(selectEnabled());
  page_->controlAs<Button>(FormDevices::kSelectId)->click();
  EXPECT_TRUE(messageBoxes.empty()) << platform::toUtf8(messageBoxes.front().text);
  EXPECT_TRUE(own_->streams(static_cast<size_t>(other)));
  EXPECT_FALSE(own_->streams(static_cast<size_t>(1 - other)));
  EXPECT_EQ(list_->selectedItem(), -1) << "the refresh leaves nothing marked";
  // The service's device list notification brings the new selection.
  EXPECT_TRUE(waitFor([&] { return streamingRow() == other; }));
  EXPECT_FALSE(selectEnabled());
}

TEST_F(DevicesPageTest, TheRadiosSwitchBetweenOneAndAllDevices) {
  page_->controlAs<Button>(FormDevices::kAllDevicesId)->click();
  EXPECT_TRUE(messageBoxes.empty()) << platform::toUtf8(messageBoxes.front().text);
  EXPECT_EQ(own_->status().mode, ORVANE_STREAMING_MODE_ALL_DEVICES);
  EXPECT_EQ(page_->streamingMode(), ORVANE_STREAMING_MODE_ALL_DEVICES);
  EXPECT_TRUE(page_->isButtonChecked(FormDevices::kAllDevicesId));
  page_->controlAs<Button>(FormDevices::kOneDeviceId)->click();
  for (const MessageBoxRequest& box : messageBoxes) ADD_FAILURE() << platform::toUtf8(box.text);
  EXPECT_EQ(own_->status().mode, ORVANE_STREAMING_MODE_SINGLE_DEVICE);
  EXPECT_TRUE(page_->isButtonChecked(FormDevices::kOneDeviceId));
  EXPECT_FALSE(page_->isButtonChecked(FormDevices::kAllDevicesId));
}

TEST_F(DevicesPageTest, ARefusedModeChangeShowsTheErrorBoxAndSnapsBack) {
  switchSoundDevice(true);
  page_->controlAs<Button>(FormDevices::kAllDevicesId)->click();
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].text,
            pageErrorText(u"Selecting the streaming device failed.", ORVANE_STATUS_SOUND_DEVICE_IN_USE));
  EXPECT_EQ(own_->status().mode, ORVANE_STREAMING_MODE_SINGLE_DEVICE);
  EXPECT_TRUE(page_->isButtonChecked(FormDevices::kOneDeviceId));
  EXPECT_FALSE(page_->isButtonChecked(FormDevices::kAllDevicesId));
}

TEST_F(DevicesPageTest, AFailedStatusReadStillListsTheDevices) {
  failNext(control, ORVANE_IOCTL_GET_STREAMING_STATUS, ORVANE_STATUS_DEVICE_REMOVED);
  page_->updateForm();
  EXPECT_EQ(list_->itemCount(), 2);
  EXPECT_TRUE(page_->isButtonChecked(FormDevices::kOneDeviceId));
  EXPECT_TRUE(messageBoxes.empty());
}

// ---------------------------------------------------------------------------
// Device: identity, S/PDIF and bypass against the driver alone

class DevicePageTest : public ControlPanelTest {
 protected:
  FormDevice& openPage(const std::vector<DeviceSpec>& devices) {
    openConnectedFrame(devices);
    tree().selectItem(findItem(tree(), u"Device0"));
    page_ = dynamic_cast<FormDevice*>(frame().currentForm());
    EXPECT_NE(page_, nullptr);
    return *page_;
  }

  void setSpdifInput(uint32_t state, uint32_t format, uint32_t rate) {
    const usbaudio_sim::SIM_SPDIF_INPUT input{{0, 0, {}}, state, format, rate, 0};
    ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_SET_SPDIF_INPUT, &input, sizeof input), 0u);
  }

  std::u16string spdifText() { return page_->itemText(FormDevice::kSpdifTextId); }

  FormDevice* page_ = nullptr;
};

DeviceSpec spdifDevice(const std::string& serial) {
  DeviceSpec plugged = device(serial);
  plugged.moreLines = "spdif_inputs = 2\nspdif_outputs = 2\n";
  return plugged;
}

TEST_F(DevicePageTest, ShowsTheDevicesIdentityAndStreamingSentence) {
  FormDevice& page = openPage({spdifDevice("QT0001")});
  OwnDevice own;
  const std::u16string sentence =
      own.streams(0) ? u"This device is selected for streaming." : u"This device is not streaming.";
  EXPECT_EQ(page.itemText(FormDevice::kDeviceTextId),
            u"Vendor ID: 0x2F1A    Product ID: 0x0110\nSerial: QT0001\n\n" + sentence);
}

TEST_F(DevicePageTest, ADeviceOnAFullSpeedPortCannotStream) {
  DeviceSpec slow = device("QT0009");
  slow.moreLines = "high_speed = no\n";
  FormDevice& page = openPage({slow});
  EXPECT_EQ(page.itemText(FormDevice::kDeviceTextId),
            u"Vendor ID: 0x2F1A    Product ID: 0x0110\nSerial: QT0009\n\nConnected to USB 1.1 port. CANNOT stream "
            u"audio!");
  EXPECT_EQ(spdifText(), u"SPDIF not available") << "no S/PDIF input";
}

TEST_F(DevicePageTest, TheSpdifInputStatesReachThePageWithTheirTexts) {
  openPage({spdifDevice("QT0001")});
  struct Case {
    uint32_t state, format, rate;
    std::u16string text;
  } cases[] = {
      {ORVANE_SPDIF_INPUT_NOT_STREAMING, 0, 0, u"Not Streaming"},
      {ORVANE_SPDIF_INPUT_NO_SIGNAL, 0, 0, u"No Signal"},
      {ORVANE_SPDIF_INPUT_SYNCHRONIZING, 0, 0, u"Synchronizing"},
      {ORVANE_SPDIF_INPUT_LOCKED, ORVANE_SPDIF_FORMAT_PCM, 48000, u"Locked (PCM 48000 Hz)"},
      {ORVANE_SPDIF_INPUT_LOCKED, ORVANE_SPDIF_FORMAT_NON_PCM, 0, u"Locked (Non-PCM)"},
      {ORVANE_SPDIF_INPUT_LOCKED, ORVANE_SPDIF_FORMAT_UNKNOWN, 0, u"Locked (unknown Format)"},
  };
  for (const Case& c : cases) {
    setSpdifInput(c.state, c.format, c.rate);  // the driver posts 3040, which refreshes the page
    EXPECT_TRUE(waitFor([&] { return spdifText() == c.text; })) << platform::toUtf8(c.text) << " shows "
                                                                  << platform::toUtf8(spdifText());
  }
}

TEST(DeviceSpdifText, ValuesNoDriverSendsAndFailedRequests) {
  EXPECT_EQ(FormDevice::spdifText(0, {0, 7, 0, 0}), u"invalid State");
  EXPECT_EQ(FormDevice::spdifText(0, {0, ORVANE_SPDIF_INPUT_LOCKED, 9, 0}), u"invalid Format");
  EXPECT_EQ(FormDevice::spdifText(ORVANE_STATUS_OBJECT_NOT_FOUND, {}), u"SPDIF not available");
  EXPECT_EQ(FormDevice::spdifText(ORVANE_STATUS_DEVICE_REMOVED, {}), u"");
}

TEST_F(DevicePageTest, PassThroughAndBypassesRoundTripThroughTheDriver) {
  FormDevice& page = openPage({spdifDevice("QT0001")});
  OwnDevice own;
  for (int id : {FormDevice::kPassThroughId, FormDevice::kVolumeBypassId, FormDevice::kMuteBypassId}) {
    page.controlAs<Button>(id)->click();
    EXPECT_TRUE(page.isButtonChecked(id)) << id;
  }
  ORVANE_SPDIF_PASS_THROUGH passThrough{};
  ASSERT_EQ(own.at(0).ioctlGetSpdifPassThrough(passThrough), 0u);
  EXPECT_EQ(passThrough.passThrough, 1u);
  uint8_t volume = 0;
  uint8_t mute = 0;
  ASSERT_EQ(own.at(0).ioctlGetBypassVolume(volume), 0u);
  ASSERT_EQ(own.at(0).ioctlGetBypassMute(mute), 0u);
  EXPECT_EQ(volume, 1);
  EXPECT_EQ(mute, 1);

  // Changed elsewhere: the driver's 3040 refreshes the boxes.
  ASSERT_EQ(own.at(0).ioctlSetBypassMute(false), 0u);
  EXPECT_TRUE(waitFor([&] { return !page.isButtonChecked(FormDevice::kMuteBypassId); }));
  page.controlAs<Button>(FormDevice::kVolumeBypassId)->click();
  ASSERT_EQ(own.at(0).ioctlGetBypassVolume(volume), 0u);
  EXPECT_EQ(volume, 0);
  EXPECT_TRUE(messageBoxes.empty());
}

TEST_F(DevicePageTest, AFailedSetShowsTheErrorBoxAndUnchecksTheBox) {
  FormDevice& page = openPage({spdifDevice("QT0001")});
  const struct {
    int id;
    uint32_t code;
    std::u16string operation;
  } cases[] = {
      {FormDevice::kPassThroughId, ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH, u"Set SPDIF pass through failed."},
      {FormDevice::kVolumeBypassId, ORVANE_IOCTL_SET_BYPASS_VOLUME, u"Set Bypass volume failed."},
      {FormDevice::kMuteBypassId, ORVANE_IOCTL_SET_BYPASS_MUTE, u"Set Bypass mute failed."},
  };
  for (const auto& c : cases) {
    messageBoxes.clear();
    failNext(machine.control(), c.code, ORVANE_STATUS_DEVICE_REMOVED);
    page.controlAs<Button>(c.id)->click();
    ASSERT_EQ(messageBoxes.size(), 1u) << c.id;
    EXPECT_EQ(messageBoxes[0].text, pageErrorText(c.operation, ORVANE_STATUS_DEVICE_REMOVED));
    EXPECT_FALSE(page.isButtonChecked(c.id));
  }
}

TEST_F(DevicePageTest, FailedReadsKeepTheFlagsAndTheOtherTexts) {
  FormDevice& page = openPage({spdifDevice("QT0001")});
  page.controlAs<Button>(FormDevice::kVolumeBypassId)->click();
  const std::u16string deviceText = page.itemText(FormDevice::kDeviceTextId);
  failNext(machine.control(), ORVANE_IOCTL_GET_BYPASS_VOLUME, ORVANE_STATUS_DEVICE_REMOVED);
  failNext(machine.control(), ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, ORVANE_STATUS_DEVICE_REMOVED);
  page.updateForm();
  EXPECT_TRUE(page.isButtonChecked(FormDevice::kVolumeBypassId));
  EXPECT_EQ(spdifText(), u"");
  EXPECT_EQ(page.itemText(FormDevice::kDeviceTextId), deviceText);
  EXPECT_TRUE(messageBoxes.empty());
}

TEST_F(DevicePageTest, AnUnpluggedDeviceShowsEmptyTextsAndIgnoresClicks) {
  FormDevice& page = openPage({spdifDevice("QT0001"), spdifDevice("QT0002")});
  const usbaudio_sim::SIM_DEVICE_SELECTOR first{0, 0, {}};
  ASSERT_EQ(machine.control().control(usbaudio_sim::SIM_CONTROL_UNPLUG, &first, sizeof first), 0u);
  bool changed = false;
  mainConnection().updateDeviceList(changed);  // the frame would rebuild its pages on 3030
  page.updateForm();
  EXPECT_EQ(page.itemText(FormDevice::kDeviceTextId), u"");
  EXPECT_EQ(spdifText(), u"");
  page.controlAs<Button>(FormDevice::kMuteBypassId)->click();
  EXPECT_TRUE(messageBoxes.empty());
}

// ---------------------------------------------------------------------------
// Device: the WDM sound device layout through the service

class SoundDeviceLayoutTest : public ServicePanelTest {
 protected:
  void SetUp() override {
    ServicePanelTest::SetUp();
    openServiceFrame({serviceDevice("QT0001")});
    tree().selectItem(findItem(tree(), u"Device0"));
    page_ = dynamic_cast<FormDevice*>(frame().currentForm());
    ASSERT_NE(page_, nullptr);
    playback_ = page_->controlAs<ComboBox>(FormDevice::kPlaybackId);
    recording_ = page_->controlAs<ComboBox>(FormDevice::kRecordingId);
  }

  void choose(ComboBox& combo, std::u16string_view text) {
    ASSERT_TRUE(combo.setCurrentSelection(combo.findStringExact(text)));
  }
  void apply() { page_->controlAs<Button>(FormDevice::kApplyId)->click(); }
  std::u16string selected(ComboBox& combo) { return combo.itemText(combo.currentSelection()); }
  bool driverHas(const std::string& name) { return simState().find(name) != std::string::npos; }

  FormDevice* page_ = nullptr;
  ComboBox* playback_ = nullptr;
  ComboBox* recording_ = nullptr;
};

TEST_F(SoundDeviceLayoutTest, TheCombosOfferTheLayoutsAndShowTheServicesChoice) {
  ASSERT_EQ(playback_->count(), 6);
  EXPECT_EQ(playback_->itemText(1), u"Stereo reduced");
  EXPECT_EQ(playback_->itemData(1), 5);
  EXPECT_EQ(playback_->itemText(5), u"Multichannel 7.1 + shadow");
  EXPECT_EQ(playback_->itemData(5), 4);
  ASSERT_EQ(recording_->count(), 3);
  EXPECT_EQ(recording_->itemData(1), 1);
  EXPECT_EQ(selected(*playback_), u"Stereo full");
  EXPECT_EQ(selected(*recording_), u"Stereo full");
  EXPECT_TRUE(driverHas("QUINTOR Out8 L/R"));
  EXPECT_TRUE(driverHas("QUINTOR In8 L/R"));
}

TEST_F(SoundDeviceLayoutTest, StereoReducedRebuildsTheSoundDevicesWithTwoPairsEachWay) {
  choose(*playback_, u"Stereo reduced");
  choose(*recording_, u"Stereo reduced");
  apply();
  EXPECT_TRUE(messageBoxes.empty()) << platform::toUtf8(messageBoxes.front().text);
  uint32_t playback = 99, recording = 99;
  ASSERT_EQ(mainConnection().getSoundDeviceConfiguration(page_->deviceId(), playback, recording), 0u);
  EXPECT_EQ(playback, 5u);
  EXPECT_EQ(recording, 1u);
  EXPECT_TRUE(driverHas("QUINTOR Out2 L/R"));
  EXPECT_FALSE(driverHas("QUINTOR Out3 L/R"));
  EXPECT_TRUE(driverHas("QUINTOR In2 L/R"));
  EXPECT_FALSE(driverHas("QUINTOR In3 L/R"));
  EXPECT_TRUE(driverHas("QUINTOR SPDIF Out L/R"));
}

TEST_F(SoundDeviceLayoutTest, SevenOneWithShadowAndMultichannelRecording) {
  choose(*playback_, u"Multichannel 7.1 + shadow");
  choose(*recording_, u"Multichannel");
  apply();
  EXPECT_TRUE(messageBoxes.empty()) << platform::toUtf8(messageBoxes.front().text);
  for (const char* name : {"QUINTOR Out 7.1", "QUINTOR shadow L/R", "QUINTOR shadow C/LFE", "QUINTOR shadow RL/RR",
                           "QUINTOR shadow SL/SR", "QUINTOR MIDI Out", "QUINTOR In 8ch", "QUINTOR Loopback 1 L/R",
                           "QUINTOR MIDI In"}) {
    EXPECT_TRUE(driverHas(name)) << name;
  }
  EXPECT_FALSE(driverHas("QUINTOR Out1 L/R"));
  EXPECT_EQ(selected(*playback_), u"Multichannel 7.1 + shadow");
  EXPECT_EQ(selected(*recording_), u"Multichannel");
}

TEST_F(SoundDeviceLayoutTest, ARefusalWhileInUseShowsTheBoxAndTheLayoutInForce) {
  switchSoundDevice(true);
  choose(*playback_, u"Multichannel 5.1");
  apply();
  ASSERT_EQ(messageBoxes.size(), 1u);
  EXPECT_EQ(messageBoxes[0].text,
            pageErrorText(u"Set SoundDevice configuration failed.", ORVANE_STATUS_SOUND_DEVICE_IN_USE));
  EXPECT_EQ(selected(*playback_), u"Stereo full") << "read again from the service";
  EXPECT_TRUE(driverHas("QUINTOR Out8 L/R"));
}

}  // namespace
}  // namespace cpl_testing
