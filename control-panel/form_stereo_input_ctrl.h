#pragma once
// One row of a mixer window: the name of a stereo pair of mixer inputs and its
// two level meters.

#include <span>
#include <string_view>

#include "device-access/orvane_panel_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormStereoInputCtrl : public FormBaseImpl<FormStereoInputCtrl> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kLeftMeterId = 1055;
  static constexpr int kRightMeterId = 1057;
  static constexpr int kNameId = 1065;

  FormStereoInputCtrl(std::u16string_view name, const ORVANE_MIXER_LEVEL* left, const ORVANE_MIXER_LEVEL* right);

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override {}

  // The meters from the level entries (refreshed), or at their lowest position.
  void showLevels(bool refreshed);

 private:
  std::u16string name_;
  const ORVANE_MIXER_LEVEL* left_;
  const ORVANE_MIXER_LEVEL* right_;
};
