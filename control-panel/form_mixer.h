#pragma once
// A mixer window of one device: the monitor mixer (hardware inputs to
// hardware outputs) or the playback mixer (playback channels to hardware
// outputs). Rows are stereo input pairs with their meters, columns stereo
// output pairs with their gain strips, and a cell of four crosspoints where
// they meet. Built from the kernel driver's pins when shown; levels are read
// every 20 ms while it is shown.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control-panel/form_mixer_connection.h"
#include "control-panel/form_stereo_input_ctrl.h"
#include "control-panel/form_stereo_output_ctrl.h"
#include "control-panel/orvane_cpl_client.h"
#include "device-access/orvane_panel_records.h"
#include "forms/form_static_text.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

class FormMixer : public platform::ui::Dialog {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static constexpr uintptr_t kTimerId = 1112;
  static constexpr uint32_t kMeterPeriodMs = 20;
  static constexpr int kHeaderHeight = 20;
  static constexpr int kSeparatorWidth = 4;

  FormMixer(const ORVANE_DEVICE_ID& device, bool monitor);
  ~FormMixer() override;

  // Creates the hidden window.
  bool createMixer();

  void showMixer();
  void rebuildIfVisible();
  void refreshGains();
  void refreshCrosspoints();
  void refreshLevels();

  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  // The pair names of the table: rows (inputs) and columns (outputs).
  static std::u16string inputPairName(const ORVANE_MIXER_PIN& left, const ORVANE_MIXER_PIN& right);
  static std::u16string outputPairName(const ORVANE_MIXER_PIN& left, const ORVANE_MIXER_PIN& right);

  const ORVANE_DEVICE_ID& deviceId() const { return device_; }
  bool isMonitor() const { return monitor_; }
  uintptr_t timerId() const { return timer_; }
  const std::vector<std::unique_ptr<FormStereoInputCtrl>>& inputStrips() const { return inputStrips_; }
  const std::vector<std::unique_ptr<FormStereoOutputCtrl>>& outputStrips() const { return outputStrips_; }
  // Cells by output pair (column) j and input pair (row) k: cells()[j * rows + k].
  const std::vector<std::unique_ptr<FormMixerConnection>>& cells() const { return cells_; }
  FormStaticText* noPinsPage() const { return noPins_.get(); }
  bool viewsOpen() const { return view_.isOpen() && mixerView_.isOpen(); }
  std::u16string rowHeader() const;
  std::u16string columnHeader() const;

 private:
  void buildMixer();
  void clearMixer();
  OrvaneDevice* device() const;
  platform::ui::StaticText* addStatic(std::u16string_view text, const platform::ui::Rect& rect);

  ORVANE_DEVICE_ID device_;
  bool monitor_;
  std::array<ORVANE_MIXER_PIN, ORVANE_MIXER_MAX_OUTPUT_PINS> outputPins_{};
  uint32_t outputPinCount_ = 0;
  std::array<ORVANE_MIXER_PIN, ORVANE_MIXER_MAX_INPUT_PINS> inputPins_{};
  uint32_t inputPinCount_ = 0;
  std::array<ORVANE_MIXER_LEVEL, ORVANE_MIXER_MAX_OUTPUT_PINS> outputLevels_{};
  uint32_t outputLevelCount_ = 0;
  std::array<ORVANE_MIXER_LEVEL, ORVANE_MIXER_MAX_INPUT_PINS> inputLevels_{};
  uint32_t inputLevelCount_ = 0;
  std::array<ORVANE_MIXER_GAIN, ORVANE_MIXER_MAX_OUTPUT_PINS> gains_{};
  uint32_t gainCount_ = 0;
  std::array<ORVANE_MIXER_CROSSPOINT, ORVANE_MIXER_MAX_INPUT_PINS * ORVANE_MIXER_MAX_OUTPUT_PINS> crosspoints_{};
  uint32_t crosspointCount_ = 0;
  std::vector<std::unique_ptr<FormStereoOutputCtrl>> outputStrips_;
  std::vector<std::unique_ptr<FormStereoInputCtrl>> inputStrips_;
  std::vector<std::unique_ptr<FormMixerConnection>> cells_;
  std::vector<std::unique_ptr<platform::ui::Control>> separators_;
  std::vector<std::unique_ptr<platform::ui::Control>> headers_;
  std::unique_ptr<FormStaticText> noPins_;
  uintptr_t timer_ = 0;
  OrvaneCplClient view_;
  OrvaneCplClient mixerView_;
  platform::ui::StaticColours headerColours_{platform::ui::rgb(0, 0, 0), platform::ui::rgb(255, 255, 0)};
};
