#pragma once
// The "Device%u" page of one connected device: its identity and S/PDIF input
// state, S/PDIF pass-through and the mixer bypasses (device requests on the
// device's own connection), the buttons that open its two mixer windows, and
// the layout of its WDM sound devices (requests to the device control service).

#include <cstdint>
#include <span>
#include <string>

#include "device-access/orvane_panel_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormMixer;
class OrvaneDevice;

class FormDevice : public FormBaseImpl<FormDevice> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kMonitorMixerId = 1052;
  static constexpr int kDeviceTextId = 1053;
  static constexpr int kSpdifTextId = 1054;
  static constexpr int kPlaybackMixerId = 1055;
  static constexpr int kPlaybackId = 1077;
  static constexpr int kApplyId = 1078;
  static constexpr int kPassThroughId = 1079;
  static constexpr int kRecordingId = 1080;
  static constexpr int kVolumeBypassId = 1093;
  static constexpr int kMuteBypassId = 1095;

  // The mixer windows belong to the frame; either may be null.
  FormDevice(platform::ui::WindowHandle frameWindow, const ORVANE_DEVICE_ID& deviceId, FormMixer* monitorMixer,
             FormMixer* playbackMixer);

  const ORVANE_DEVICE_ID& deviceId() const { return deviceId_; }

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void showForm() override;
  void updateForm() override;
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  // The S/PDIF text of a status request's outcome.
  static std::u16string spdifText(uint32_t requestStatus, const ORVANE_SPDIF_INPUT_STATUS& status);

 private:
  void writePageData();
  void readPageData();
  void checkBoxClicked(int id);
  void readSoundDeviceConfiguration();
  void applySoundDeviceConfiguration();
  OrvaneDevice* device() const;

  platform::ui::WindowHandle frameWindow_;
  ORVANE_DEVICE_ID deviceId_;
  std::u16string spdifText_;
  std::u16string deviceText_;
  platform::ui::ComboBox* playback_ = nullptr;
  platform::ui::ComboBox* recording_ = nullptr;
  FormMixer* monitorMixer_;
  FormMixer* playbackMixer_;
  bool passThrough_ = false;
  bool volumeBypass_ = false;
  bool muteBypass_ = false;
};
