#include "control-panel/form_stereo_output_ctrl.h"

#include "control-panel/mixer_entries.h"
#include "control-panel/mixer_laws.h"
#include "control-panel/orvane_cpl_client.h"
#include "platform/format.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::staticText, FormStereoOutputCtrl::kNameId, u"", 2, 3, 46, 8, style::centre},
    {ControlKind::trackBar, FormStereoOutputCtrl::kLeftGainId, u"", 2, 12, 12, 70, style::vertical | style::tabStop},
    {ControlKind::progressBar, FormStereoOutputCtrl::kLeftMeterId, u"", 16, 12, 7, 70, style::vertical},
    {ControlKind::progressBar, FormStereoOutputCtrl::kRightMeterId, u"", 27, 12, 7, 70, style::vertical},
    {ControlKind::trackBar, FormStereoOutputCtrl::kRightGainId, u"", 36, 12, 12, 70, style::vertical | style::tabStop},
    {ControlKind::staticText, FormStereoOutputCtrl::kLeftTextId, u"", 2, 84, 22, 8, style::centre},
    {ControlKind::staticText, FormStereoOutputCtrl::kRightTextId, u"", 26, 84, 22, 8, style::centre},
    {ControlKind::checkBox, FormStereoOutputCtrl::kLinkId, u"Link", 2, 94, 22, 11,
     style::pushLike | style::automatic | style::tabStop},
    {ControlKind::checkBox, FormStereoOutputCtrl::kMuteId, u"M", 26, 94, 22, 11,
     style::pushLike | style::automatic | style::tabStop},
    {ControlKind::pushButton, FormStereoOutputCtrl::kZeroDbId, u"0dB", 2, 107, 46, 11, style::tabStop},
};

bool movesTheSlider(uint16_t code) { return code <= SB_THUMBTRACK; }

void setMute(ORVANE_MIXER_GAIN& entry, bool mute) {
  entry.flags = static_cast<uint8_t>(mute ? entry.flags | ORVANE_MIXER_GAIN_MUTE : entry.flags & ~ORVANE_MIXER_GAIN_MUTE);
}

}  // namespace

const DialogTemplate FormStereoOutputCtrl::kTemplate{254, u"", 50, 120, kControls};
const std::span<const ResizeRule> FormStereoOutputCtrl::kResizeRules{};

FormStereoOutputCtrl::FormStereoOutputCtrl(std::u16string_view name, const ORVANE_DEVICE_ID& device,
                                           ORVANE_MIXER_GAIN* leftGain, ORVANE_MIXER_GAIN* rightGain,
                                           const ORVANE_MIXER_LEVEL* leftLevel, const ORVANE_MIXER_LEVEL* rightLevel)
    : name_(name),
      device_(device),
      leftGain_(leftGain),
      rightGain_(rightGain),
      leftLevel_(leftLevel),
      rightLevel_(rightLevel) {}

std::u16string FormStereoOutputCtrl::gainText(const ORVANE_MIXER_GAIN& entry) {
  if ((entry.flags & ORVANE_MIXER_GAIN_MUTE) != 0) return u"M";
  return platform::formatText(u"%i", entry.gain / 100);
}

LResult FormStereoOutputCtrl::onInitForm(uint32_t, WParam, LParam, bool&) {
  setItemText(kNameId, name_);
  left_ = controlAs<TrackBar>(kLeftGainId);
  right_ = controlAs<TrackBar>(kRightGainId);
  for (TrackBar* slider : {left_, right_}) slider->setRange(0, kGainSliderMaximum);
  for (int id : {kLeftMeterId, kRightMeterId}) {
    controlAs<ProgressBar>(id)->setRange(0, kMeterMaximum);
    controlAs<ProgressBar>(id)->setPosition(0);
  }
  link_ = true;
  mute_ = false;
  checkButton(kLinkId, link_);
  checkButton(kMuteId, mute_);
  setToolTip(item(kLinkId), u"Link L and R");
  setToolTip(item(kMuteId), u"Mute");
  setToolTip(item(kZeroDbId), u"Set gain to 0dB");
  return 0;
}

void FormStereoOutputCtrl::showEntries() {
  left_->setPosition(gainToPosition(leftGain_->gain));
  right_->setPosition(gainToPosition(rightGain_->gain));
  updateTexts();
  mute_ = ((leftGain_->flags | rightGain_->flags) & ORVANE_MIXER_GAIN_MUTE) != 0;
  checkButton(kLinkId, link_);
  checkButton(kMuteId, mute_);
  enableWindow(left_->handle(), !mute_);
  enableWindow(right_->handle(), !mute_);
}

void FormStereoOutputCtrl::showUnavailable() {
  left_->setPosition(0);
  right_->setPosition(0);
  setItemText(kLeftTextId, u"n/a");
  setItemText(kRightTextId, u"n/a");
}

void FormStereoOutputCtrl::showLevels(bool refreshed) {
  controlAs<ProgressBar>(kLeftMeterId)->setPosition(refreshed ? levelToMeterPosition(leftLevel_->level) : 0);
  controlAs<ProgressBar>(kRightMeterId)->setPosition(refreshed ? levelToMeterPosition(rightLevel_->level) : 0);
}

void FormStereoOutputCtrl::updateTexts() {
  setItemText(kLeftTextId, gainText(*leftGain_));
  setItemText(kRightTextId, gainText(*rightGain_));
}

void FormStereoOutputCtrl::send(ORVANE_MIXER_GAIN& entry) {
  OrvaneDevice* device = mainConnection().findDevice(device_.first, device_.second);
  if (device != nullptr) (void)exchangeKeepingPins(*device, &OrvaneDevice::ioctlSetMixerGains, &entry, 1);
}

void FormStereoOutputCtrl::sendBoth() {
  send(*leftGain_);
  send(*rightGain_);
}

void FormStereoOutputCtrl::sliderMoved(LParam slider) {
  const bool isLeft = static_cast<uint64_t>(slider) == left_->handle().value;
  if (!isLeft && static_cast<uint64_t>(slider) != right_->handle().value) return;
  TrackBar* moved = isLeft ? left_ : right_;
  const int position = moved->position();
  const auto gain = static_cast<int16_t>(positionToGain(position));
  if (link_) {
    (isLeft ? right_ : left_)->setPosition(position);
    leftGain_->gain = gain;
    rightGain_->gain = gain;
    sendBoth();
  } else {
    ORVANE_MIXER_GAIN& entry = isLeft ? *leftGain_ : *rightGain_;
    entry.gain = gain;
    send(entry);
  }
  updateTexts();
}

void FormStereoOutputCtrl::linkClicked() {
  link_ = isButtonChecked(kLinkId);
  mute_ = isButtonChecked(kMuteId);
  if (!link_) return;
  const int gain = (positionToGain(left_->position()) + positionToGain(right_->position())) / 2;
  left_->setPosition(gainToPosition(gain));
  right_->setPosition(gainToPosition(gain));
  leftGain_->gain = static_cast<int16_t>(gain);
  rightGain_->gain = static_cast<int16_t>(gain);
  sendBoth();
  updateTexts();
}

void FormStereoOutputCtrl::muteClicked() {
  mute_ = isButtonChecked(kMuteId);
  setMute(*leftGain_, mute_);
  setMute(*rightGain_, mute_);
  enableWindow(left_->handle(), !mute_);
  enableWindow(right_->handle(), !mute_);
  sendBoth();
  updateTexts();
}

void FormStereoOutputCtrl::zeroDbClicked() {
  leftGain_->gain = 0;
  rightGain_->gain = 0;
  sendBoth();
  showEntries();
}

bool FormStereoOutputCtrl::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_VSCROLL) {
    if (movesTheSlider(lowWord(wParam))) sliderMoved(lParam);
    result = 0;
    return true;
  }
  if (message == WM_COMMAND && commandCode(wParam) == BN_CLICKED) {
    switch (commandId(wParam)) {
      case kLinkId:
        linkClicked();
        break;
      case kMuteId:
        muteClicked();
        break;
      case kZeroDbId:
        zeroDbClicked();
        break;
      default:
        return FormBaseImpl::processMessage(message, wParam, lParam, result);
    }
    result = 0;
    return true;
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}
