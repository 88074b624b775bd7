#include "control-panel/form_stereo_input_ctrl.h"

#include "control-panel/mixer_laws.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::staticText, FormStereoInputCtrl::kNameId, u"", 4, 3, 92, 8},
    {ControlKind::progressBar, FormStereoInputCtrl::kLeftMeterId, u"", 4, 12, 92, 5},
    {ControlKind::progressBar, FormStereoInputCtrl::kRightMeterId, u"", 4, 18, 92, 5},
};

}  // namespace

const DialogTemplate FormStereoInputCtrl::kTemplate{255, u"", 100, 26, kControls};
const std::span<const ResizeRule> FormStereoInputCtrl::kResizeRules{};

FormStereoInputCtrl::FormStereoInputCtrl(std::u16string_view name, const ORVANE_MIXER_LEVEL* left,
                                         const ORVANE_MIXER_LEVEL* right)
    : name_(name), left_(left), right_(right) {}

LResult FormStereoInputCtrl::onInitForm(uint32_t, WParam, LParam, bool&) {
  setItemText(kNameId, name_);
  for (int id : {kLeftMeterId, kRightMeterId}) {
    auto* meter = controlAs<ProgressBar>(id);
    meter->setRange(0, kMeterMaximum);
    meter->setPosition(0);
  }
  return 0;
}

void FormStereoInputCtrl::showLevels(bool refreshed) {
  controlAs<ProgressBar>(kLeftMeterId)->setPosition(refreshed ? levelToMeterPosition(left_->level) : 0);
  controlAs<ProgressBar>(kRightMeterId)->setPosition(refreshed ? levelToMeterPosition(right_->level) : 0);
}
