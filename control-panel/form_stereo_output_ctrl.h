#pragma once
// The strip of a stereo pair of mixer outputs: two gain sliders, two level
// meters, the gain texts, "Link", "M" (mute) and "0dB". Every change is sent
// at once, one gain entry per request, left before right.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "device-access/orvane_panel_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormStereoOutputCtrl : public FormBaseImpl<FormStereoOutputCtrl> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kLeftMeterId = 1055;
  static constexpr int kRightMeterId = 1057;
  static constexpr int kRightGainId = 1059;
  static constexpr int kLeftGainId = 1061;
  static constexpr int kLinkId = 1062;
  static constexpr int kMuteId = 1063;
  static constexpr int kNameId = 1065;
  static constexpr int kLeftTextId = 1066;
  static constexpr int kRightTextId = 1068;
  static constexpr int kZeroDbId = 1080;

  // The entries belong to the mixer window; requests go to the device it names.
  FormStereoOutputCtrl(std::u16string_view name, const ORVANE_DEVICE_ID& device, ORVANE_MIXER_GAIN* leftGain,
                       ORVANE_MIXER_GAIN* rightGain, const ORVANE_MIXER_LEVEL* leftLevel,
                       const ORVANE_MIXER_LEVEL* rightLevel);

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override {}
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  // Sliders, texts and buttons from the gain entries.
  void showEntries();
  // After a failed read: both sliders at the top, both texts "n/a".
  void showUnavailable();
  void showLevels(bool refreshed);

  bool linked() const { return link_; }
  bool muted() const { return mute_; }

  // "M" when muted, else the whole dB (truncated toward zero).
  static std::u16string gainText(const ORVANE_MIXER_GAIN& entry);

 private:
  void sliderMoved(platform::ui::LParam slider);
  void linkClicked();
  void muteClicked();
  void zeroDbClicked();
  void send(ORVANE_MIXER_GAIN& entry);
  void sendBoth();
  void updateTexts();

  std::u16string name_;
  ORVANE_DEVICE_ID device_;
  ORVANE_MIXER_GAIN* leftGain_;
  ORVANE_MIXER_GAIN* rightGain_;
  const ORVANE_MIXER_LEVEL* leftLevel_;
  const ORVANE_MIXER_LEVEL* rightLevel_;
  platform::ui::TrackBar* left_ = nullptr;
  platform::ui::TrackBar* right_ = nullptr;
  bool link_ = true;
  bool mute_ = false;
};
