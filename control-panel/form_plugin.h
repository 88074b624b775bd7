#pragma once
// The "Plugin%u" page of a device with the echo plug-in: a stereo pair of the
// mixer's output channels and the echo's delay and amplification for it,
// read from the kernel driver and written while a slider moves.

#include <cstdint>
#include <span>

#include "device-access/orvane_panel_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class OrvaneDevice;

class FormPlugin : public FormBaseImpl<FormPlugin> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kDelayId = 1085;
  static constexpr int kAmplificationId = 1086;
  static constexpr int kDelayTextId = 1087;
  static constexpr int kAmplificationTextId = 1088;
  static constexpr int kPairsId = 1089;
  static constexpr uint32_t kDefaultMaximumDelay = 100;
  static constexpr uint32_t kMaximumAmplification = 1000;

  FormPlugin(platform::ui::WindowHandle frameWindow, const ORVANE_DEVICE_ID& deviceId)
      : frameWindow_(frameWindow), deviceId_(deviceId) {}

  const ORVANE_DEVICE_ID& deviceId() const { return deviceId_; }
  uint32_t maximumDelay() const { return delayMaximum_; }

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override;
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

 private:
  OrvaneDevice* device() const;
  // Reads one value of the record's selector: {selector, 1, channel}; false on failure.
  bool readValue(uint32_t selector, uint32_t channel, uint32_t& value) const;
  // The selected pair's first channel; false when nothing is selected.
  bool selectedChannel(uint32_t& channel) const;
  void readDelay();
  void readAmplification();
  void sliderMoved(platform::ui::LParam slider);

  platform::ui::WindowHandle frameWindow_;
  ORVANE_DEVICE_ID deviceId_;
  platform::ui::ComboBox* pairs_ = nullptr;
  platform::ui::TrackBar* delay_ = nullptr;
  platform::ui::TrackBar* amplification_ = nullptr;
  uint32_t delayMinimum_ = 0;
  uint32_t delayMaximum_ = kDefaultMaximumDelay;
  uint32_t amplificationMinimum_ = 0;
  uint32_t amplificationMaximum_ = kMaximumAmplification;
};
