#include "control-panel/form_sample_rate.h"

#include <algorithm>

#include "control-panel/control_panel_resources.h"
#include "control-panel/main_frame.h"
#include "control-panel/orvane_cpl_client.h"
#include "platform/format.h"
#include "platform/ui/message_box.h"
#include "platform/ui/resources.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, FormSampleRate::kGroupId, u"Sample Rate", 7, 7, 145, 38},
    {ControlKind::comboBox, FormSampleRate::kRateId, u"", 13, 21, 66, 30, style::tabStop},
    {ControlKind::pushButton, FormSampleRate::kApplyId, u"Apply", 90, 21, 50, 14, style::tabStop},
    {ControlKind::staticText, FormSampleRate::kDsdTextId, u"DSD mode is active.", 9, 51, 142, 8, style::hidden},
};

std::u16string rateText(uint32_t rate) { return platform::formatText(u"%u.%03u kHz", rate / 1000, rate % 1000); }

}  // namespace

const DialogTemplate FormSampleRate::kTemplate{104, u"", 160, 82, kControls};
const std::span<const ResizeRule> FormSampleRate::kResizeRules{};

LResult FormSampleRate::onInitForm(uint32_t, WParam, LParam, bool&) {
  rates_ = controlAs<ComboBox>(kRateId);
  apply_ = controlAs<Button>(kApplyId);
  dsdText_ = controlAs<StaticText>(kDsdTextId);
  return 0;
}

void FormSampleRate::updateForm() {
  ORVANE_SAMPLE_RATES rates{};
  if (!mainConnection().isOpen() || mainConnection().ioctlGetSampleRates(rates) != 0) {
    rates_->resetContent();
    enableWindow(rates_->handle(), false);
    enableWindow(apply_->handle(), false);
    return;
  }
  rates_->resetContent();
  const uint32_t count = std::min(rates.rateCount, static_cast<uint32_t>(ORVANE_MAX_SAMPLE_RATES));
  for (uint32_t i = 0; i < count; ++i) {
    const int position = rates_->addString(rateText(rates.rates[i]));
    rates_->setItemData(position, rates.rates[i]);
  }
  enableWindow(rates_->handle(), true);
  enableWindow(apply_->handle(), true);
  rates_->setCurrentSelection(rates_->findStringExact(rateText(rates.currentRate)));
  showWindow(dsdText_->handle(), isDsdRate(rates.currentRate) ? SW_SHOW : SW_HIDE);
}

void FormSampleRate::apply() {
  const int selected = rates_->currentSelection();
  if (!mainConnection().isOpen() || selected < 0) return;
  const auto rate = static_cast<uint32_t>(rates_->itemData(selected));
  if (isDsdRate(rate)) {
    messageBox(handle(),
               u"Changing to this the sample rate prohibited.\n"
               u"It sample rate can be installed only from ASIO host for DSD mode.",
               loadString(cpl::IDR_MAINFRAME), MB_OK | MB_ICONWARNING);
    return;
  }
  const uint32_t status = mainConnection().setSampleRate(rate, kServiceTimeoutMs);
  if (status != 0) showPageErrorBox(handle(), u"Changing the sample rate failed.", status);
  updateForm();
}

bool FormSampleRate::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_COMMAND && commandId(wParam) == kApplyId && commandCode(wParam) == BN_CLICKED) {
    apply();
    result = 0;
    return true;
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}
