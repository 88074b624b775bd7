#include "control-panel/form_device.h"

#include <iterator>

#include "control-panel/form_mixer.h"
#include "control-panel/main_frame.h"
#include "control-panel/orvane_cpl_client.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_status.h"
#include "platform/format.h"
#include "platform/text.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, -1, u"Device Info", 7, 7, 190, 48},
    {ControlKind::staticText, FormDevice::kDeviceTextId, u"", 15, 18, 175, 33},
    {ControlKind::groupBox, -1, u"SPDIF IN Status", 7, 57, 190, 26},
    {ControlKind::staticText, FormDevice::kSpdifTextId, u"", 17, 68, 157, 8},
    {ControlKind::groupBox, -1, u"SPDIF pass through", 7, 86, 190, 29},
    {ControlKind::checkBox, FormDevice::kPassThroughId, u"SPDIF pass through", 17, 99, 161, 10,
     style::automatic | style::tabStop},
    {ControlKind::groupBox, -1, u"Driver-integrated Mixer", 7, 117, 190, 53},
    {ControlKind::checkBox, FormDevice::kMuteBypassId, u"Mute bypass", 17, 128, 63, 10,
     style::automatic | style::tabStop},
    {ControlKind::checkBox, FormDevice::kVolumeBypassId, u"Volume bypass", 17, 141, 63, 10,
     style::automatic | style::tabStop},
    {ControlKind::pushButton, FormDevice::kMonitorMixerId, u"Monitor Mixer", 17, 154, 72, 14, style::tabStop},
    {ControlKind::pushButton, FormDevice::kPlaybackMixerId, u"Playback Mixer", 115, 154, 72, 14, style::tabStop},
    {ControlKind::groupBox, -1, u"WDM Sound Device Configuration", 7, 172, 190, 67},
    {ControlKind::staticText, -1, u"Playback Sound Device", 15, 182, 78, 8},
    {ControlKind::comboBox, FormDevice::kPlaybackId, u"", 14, 193, 125, 55, style::tabStop},
    {ControlKind::staticText, -1, u"Recording Sound Device", 14, 209, 81, 8},
    {ControlKind::comboBox, FormDevice::kRecordingId, u"", 14, 220, 125, 55, style::tabStop},
    {ControlKind::pushButton, FormDevice::kApplyId, u"Apply", 146, 206, 40, 14, style::tabStop},
};

struct Configuration {
  const char16_t* text;
  uint32_t value;
};

constexpr Configuration kPlaybackConfigurations[] = {
    {u"Stereo full", 0},      {u"Stereo reduced", 5},           {u"Multichannel 5.1", 1},
    {u"Multichannel 7.1", 2}, {u"Multichannel 5.1 + shadow", 3}, {u"Multichannel 7.1 + shadow", 4},
};
constexpr Configuration kRecordingConfigurations[] = {
    {u"Stereo full", 0}, {u"Stereo reduced", 1}, {u"Multichannel", 2}};

void fill(ComboBox& combo, std::span<const Configuration> entries) {
  combo.resetContent();
  for (const Configuration& entry : entries) combo.setItemData(combo.addString(entry.text), entry.value);
}

// Selects the first entry whose item data is `value`; none: the selection stays.
void selectValue(ComboBox& combo, uint32_t value) {
  for (int position = 0; position < combo.count(); ++position) {
    if (combo.itemData(position) == static_cast<LParam>(value)) {
      combo.setCurrentSelection(position);
      return;
    }
  }
}

}  // namespace

const DialogTemplate FormDevice::kTemplate{249, u"", 204, 246, kControls};
const std::span<const ResizeRule> FormDevice::kResizeRules{};

FormDevice::FormDevice(WindowHandle frameWindow, const ORVANE_DEVICE_ID& deviceId, FormMixer* monitorMixer,
                       FormMixer* playbackMixer)
    : frameWindow_(frameWindow), deviceId_(deviceId), monitorMixer_(monitorMixer), playbackMixer_(playbackMixer) {}

OrvaneDevice* FormDevice::device() const { return mainConnection().findDevice(deviceId_.first, deviceId_.second); }

LResult FormDevice::onInitForm(uint32_t, WParam, LParam, bool&) {
  playback_ = controlAs<ComboBox>(kPlaybackId);
  recording_ = controlAs<ComboBox>(kRecordingId);
  fill(*playback_, kPlaybackConfigurations);
  fill(*recording_, kRecordingConfigurations);
  updateForm();
  readSoundDeviceConfiguration();
  return 0;
}

void FormDevice::showForm() {
  updateForm();
  readSoundDeviceConfiguration();
  showWindow(handle(), SW_SHOW);
}

std::u16string FormDevice::spdifText(uint32_t requestStatus, const ORVANE_SPDIF_INPUT_STATUS& status) {
  if (requestStatus == ORVANE_STATUS_OBJECT_NOT_FOUND) return u"SPDIF not available";
  if (requestStatus != 0) return u"";
  switch (status.inputState) {
    case ORVANE_SPDIF_INPUT_NOT_STREAMING:
      return u"Not Streaming";
    case ORVANE_SPDIF_INPUT_NO_SIGNAL:
      return u"No Signal";
    case ORVANE_SPDIF_INPUT_SYNCHRONIZING:
      return u"Synchronizing";
    case ORVANE_SPDIF_INPUT_LOCKED:
      switch (status.signalFormat) {
        case ORVANE_SPDIF_FORMAT_UNKNOWN:
          return u"Locked (unknown Format)";
        case ORVANE_SPDIF_FORMAT_PCM:
          return platform::formatText(u"Locked (PCM %u Hz)", status.sampleRate);
        case ORVANE_SPDIF_FORMAT_NON_PCM:
          return u"Locked (Non-PCM)";
        default:
          return u"invalid Format";
      }
    default:
      return u"invalid State";
  }
}

void FormDevice::updateForm() {
  OrvaneDevice* connection = device();
  if (connection == nullptr) {
    deviceText_.clear();
    spdifText_.clear();
    writePageData();
    return;
  }
  const ORVANE_DEVICE_INFO& info = connection->info();
  const char16_t* sentence = (info.highSpeedPort & ORVANE_DEVICE_HIGH_SPEED_PORT) == 0
                                 ? u"Connected to USB 1.1 port. CANNOT stream audio!"
                             : (info.streamingSelected & ORVANE_DEVICE_STREAMING_SELECTED) != 0
                                 ? u"This device is selected for streaming."
                                 : u"This device is not streaming.";
  const std::u16string_view serial(info.serialNumber,
                                   platform::wideLength(info.serialNumber, std::size(info.serialNumber)));
  deviceText_ = platform::formatText(u"Vendor ID: 0x%04X    Product ID: 0x%04X\nSerial: %s\n\n%s", info.vendorId,
                                     info.productId, serial, sentence);

  ORVANE_SPDIF_INPUT_STATUS spdif{};
  spdifText_ = spdifText(connection->ioctlGetSpdifInputStatus(spdif), spdif);

  ORVANE_SPDIF_PASS_THROUGH passThrough{};
  if (connection->ioctlGetSpdifPassThrough(passThrough) == 0) passThrough_ = passThrough.passThrough != 0;
  uint8_t on = 0;
  if (connection->ioctlGetBypassVolume(on) == 0) volumeBypass_ = on != 0;
  on = 0;
  if (connection->ioctlGetBypassMute(on) == 0) muteBypass_ = on != 0;
  writePageData();
}

void FormDevice::writePageData() {
  setItemText(kSpdifTextId, spdifText_);
  setItemText(kDeviceTextId, deviceText_);
  checkButton(kPassThroughId, passThrough_);
  checkButton(kVolumeBypassId, volumeBypass_);
  checkButton(kMuteBypassId, muteBypass_);
}

void FormDevice::readPageData() {
  spdifText_ = itemText(kSpdifTextId);
  deviceText_ = itemText(kDeviceTextId);
  passThrough_ = isButtonChecked(kPassThroughId);
  volumeBypass_ = isButtonChecked(kVolumeBypassId);
  muteBypass_ = isButtonChecked(kMuteBypassId);
}

void FormDevice::checkBoxClicked(int id) {
  readPageData();
  OrvaneDevice* connection = device();
  if (connection == nullptr) return;
  uint32_t status = 0;
  const char16_t* operation = nullptr;
  bool* flag = nullptr;
  switch (id) {
    case kPassThroughId:
      status = connection->ioctlSetSpdifPassThrough(ORVANE_SPDIF_PASS_THROUGH{0, 0, passThrough_ ? 1u : 0u});
      operation = u"Set SPDIF pass through failed.";
      flag = &passThrough_;
      break;
    case kVolumeBypassId:
      status = connection->ioctlSetBypassVolume(volumeBypass_);
      operation = u"Set Bypass volume failed.";
      flag = &volumeBypass_;
      break;
    default:
      status = connection->ioctlSetBypassMute(muteBypass_);
      operation = u"Set Bypass mute failed.";
      flag = &muteBypass_;
      break;
  }
  if (status == 0) return;
  showPageErrorBox(handle(), operation, status);
  *flag = false;
  writePageData();
}

void FormDevice::readSoundDeviceConfiguration() {
  uint32_t playback = 0;
  uint32_t recording = 0;
  if (mainConnection().getSoundDeviceConfiguration(deviceId_, playback, recording) != 0) return;
  selectValue(*playback_, playback);
  selectValue(*recording_, recording);
}

void FormDevice::applySoundDeviceConfiguration() {
  const int playback = playback_->currentSelection();
  const int recording = recording_->currentSelection();
  if (playback < 0 || recording < 0) return;
  const uint32_t status =
      mainConnection().setSoundDeviceConfiguration(deviceId_, static_cast<uint32_t>(playback_->itemData(playback)),
                                                   static_cast<uint32_t>(recording_->itemData(recording)));
  if (status != 0) showPageErrorBox(handle(), u"Set SoundDevice configuration failed.", status);
  readSoundDeviceConfiguration();
}

bool FormDevice::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_COMMAND && commandCode(wParam) == BN_CLICKED) {
    const int id = commandId(wParam);
    switch (id) {
      case kPassThroughId:
      case kVolumeBypassId:
      case kMuteBypassId:
        checkBoxClicked(id);
        break;
      case kApplyId:
        applySoundDeviceConfiguration();
        break;
      case kMonitorMixerId:
        if (monitorMixer_ != nullptr) monitorMixer_->showMixer();
        break;
      case kPlaybackMixerId:
        if (playbackMixer_ != nullptr) playbackMixer_->showMixer();
        break;
      default:
        return FormBaseImpl::processMessage(message, wParam, lParam, result);
    }
    result = 0;
    return true;
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}
