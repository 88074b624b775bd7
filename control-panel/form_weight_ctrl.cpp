#include "control-panel/form_weight_ctrl.h"

#include <cstdlib>

#include "control-panel/mixer_entries.h"
#include "control-panel/mixer_laws.h"
#include "control-panel/orvane_cpl_client.h"
#include "platform/format.h"
#include "platform/ui/controls.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::checkBox, FormWeightCtrl::kOnId, u"On", 6, 4, 48, 10, style::automatic | style::tabStop},
    {ControlKind::trackBar, FormWeightCtrl::kGainId, u"", 18, 16, 24, 70, style::vertical | style::tabStop},
    {ControlKind::staticText, FormWeightCtrl::kGainTextId, u"", 4, 88, 52, 8, style::centre},
    {ControlKind::pushButton, IDOK, u"Close", 5, 99, 50, 13, style::defaultButton | style::tabStop},
};

}  // namespace

const DialogTemplate FormWeightCtrl::kTemplate{256, u"Crosspoint", 60, 116, kControls};

FormWeightCtrl::FormWeightCtrl(const ORVANE_DEVICE_ID& device, Point position, ORVANE_MIXER_CROSSPOINT& entry)
    : Dialog(kTemplate), device_(device), position_(position), entry_(entry) {}

std::u16string FormWeightCtrl::gainText(int gain) {
  return platform::formatText(u"%s%i.%02i", gain < 0 ? u"-" : u"", std::abs(gain) / 100, std::abs(gain) % 100);
}

void FormWeightCtrl::initialise() {
  controlAs<TrackBar>(kGainId)->setRange(0, kGainSliderMaximum);
  const Rect rect = getWindowRect(handle());
  moveWindow(handle(), Rect{position_.x, position_.y, position_.x + rect.width(), position_.y + rect.height()});
  showEntry();
}

void FormWeightCtrl::showEntry() {
  const bool on = (entry_.flags & ORVANE_MIXER_CROSSPOINT_ON) != 0;
  auto* slider = controlAs<TrackBar>(kGainId);
  slider->setPosition(gainToPosition(entry_.gain));
  enableWindow(slider->handle(), on);
  checkButton(kOnId, on);
  setItemText(kGainTextId, gainText(entry_.gain));
}

void FormWeightCtrl::send() {
  OrvaneDevice* device = mainConnection().findDevice(device_.first, device_.second);
  if (device != nullptr) (void)exchangeKeepingPins(*device, &OrvaneDevice::ioctlSetMixerCrosspoints, &entry_, 1);
}

void FormWeightCtrl::onClicked() {
  const bool on = isButtonChecked(kOnId);
  if (on) {
    entry_.gain = 0;
    entry_.flags |= ORVANE_MIXER_CROSSPOINT_ON;
  } else {
    entry_.flags &= static_cast<uint8_t>(~ORVANE_MIXER_CROSSPOINT_ON);
  }
  showEntry();
  send();
}

void FormWeightCtrl::sliderMoved() {
  entry_.gain = static_cast<int16_t>(positionToGain(controlAs<TrackBar>(kGainId)->position()));
  send();
  setItemText(kGainTextId, gainText(entry_.gain));
}

bool FormWeightCtrl::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  switch (message) {
    case WM_INITDIALOG:
      initialise();
      result = 1;
      return true;
    case WM_VSCROLL:
      if (lowWord(wParam) <= SB_THUMBTRACK) sliderMoved();
      result = 0;
      return true;
    case WM_COMMAND:
      if (commandId(wParam) == kOnId && commandCode(wParam) == BN_CLICKED) {
        onClicked();
      } else if (commandId(wParam) == IDOK || commandId(wParam) == IDCANCEL) {
        endDialog(commandId(wParam));
      } else {
        return Dialog::processMessage(message, wParam, lParam, result);
      }
      result = 0;
      return true;
    default:
      return Dialog::processMessage(message, wParam, lParam, result);
  }
}
