#include "control-panel/form_status_info.h"

#include "control-panel/orvane_cpl_client.h"
#include "platform/format.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::listView, FormStatusInfo::kListId, u"", 7, 7, 244, 68,
     style::singleSelection | style::showSelectionAlways | style::noSortHeader | style::border | style::tabStop},
    {ControlKind::groupBox, FormStatusInfo::kGroupId, u"Description", 7, 82, 244, 74},
    {ControlKind::staticText, FormStatusInfo::kDescriptionId, u"", 19, 95, 218, 51},
};

constexpr ResizeRule kRules[] = {
    {FormStatusInfo::kListId, resize::growWidth | resize::growHeight},
    {FormStatusInfo::kGroupId, resize::growWidth | resize::moveDown},
    {FormStatusInfo::kDescriptionId, resize::growWidth | resize::moveDown},
};

constexpr char16_t kNoSelection[] = u"Select a counter to see its description.";
constexpr int kValueColumn = 1;

}  // namespace

const DialogTemplate FormStatusInfo::kTemplate{257, u"", 258, 163, kControls};
const std::span<const ResizeRule> FormStatusInfo::kResizeRules{kRules};

FormStatusInfo::FormStatusInfo() = default;

LResult FormStatusInfo::onInitForm(uint32_t, WParam, LParam, bool&) {
  description_ = controlAs<StaticText>(kDescriptionId);
  list_ = controlAs<ListView>(kListId);
  list_->addExtendedStyle(listStyle::gridLines | listStyle::fullRowSelect);
  list_->insertColumn(0, u"Counter", Align::left, 150);
  list_->insertColumn(1, u"Value", Align::right, 100);
  counters_ = {
      {&values_.streamingErrors, u"Streaming Error Count",
       u"This counter is incremented if an interruption in the isochronous USB stream is detected by the driver. If "
       u"this counter is incremented then sample data was lost."},
      {&values_.fifoErrors, u"FIFO Error Count",
       u"This counter is incremented if an interruption in the isochronous USB stream is detected by the hardware. "
       u"This could be caused by CRC errors on the USB. Try to use another cable, or a shorter cable, or try to use "
       u"a different USB port on your PC."},
      {&values_.asioErrors, u"ASIO Error Count",
       u"This counter is incremented if the ASIO thread missed a switch event issued by the driver. This happens if "
       u"thread latency in user mode is too long for the currently selected ASIO buffer size. If this counter is "
       u"incremented then sample data was lost."},
      {&values_.wdmAudioErrors, u"WDM Audio Error Count",
       u"This counter is incremented every time a WDM audio buffer is missing in the driver. This happens if WDM "
       u"audio based user mode applications do not provide buffers in time, e.g. due to excessive thread latency. "
       u"If this counter is incremented then sample data was lost."},
      {&values_.wdmMidiErrors, u"WDM MIDI Error Count",
       u"This counter is incremented every time a WDM MIDI buffer is missing in the driver. This happens if WDM "
       u"MIDI based user mode applications do not provide buffers in time, e.g. due to excessive thread latency. "
       u"If this counter is incremented then MIDI data was lost."},
  };
  for (size_t row = 0; row < counters_.size(); ++row) {
    list_->insertItem(static_cast<int>(row), counters_[row].name);
  }
  updateDescription();
  return 0;
}

void FormStatusInfo::showForm() {
  if (timer_ == 0) timer_ = setTimer(handle(), kTimerId, kPeriodMs);
  updateForm();
  showWindow(handle(), SW_SHOW);
}

void FormStatusInfo::hideForm() {
  stopTimer();
  showWindow(handle(), SW_HIDE);
}

void FormStatusInfo::stopTimer() {
  if (timer_ == 0) return;
  killTimer(handle(), timer_);
  timer_ = 0;
}

void FormStatusInfo::onFormTimer(uintptr_t) { updateForm(); }

void FormStatusInfo::updateForm() {
  if (!mainConnection().isOpen() || mainConnection().ioctlGetStatusCounters(values_) != 0) return;
  for (size_t row = 0; row < counters_.size(); ++row) {
    list_->setItemText(static_cast<int>(row), kValueColumn, platform::formatText(u"%u", *counters_[row].value));
  }
  updateDescription();
}

void FormStatusInfo::updateDescription() {
  const int selected = list_->selectedItem();
  const bool valid = selected >= 0 && static_cast<size_t>(selected) < counters_.size();
  description_->setText(valid ? counters_[static_cast<size_t>(selected)].description : kNoSelection);
}

LResult FormStatusInfo::customDraw(CustomDraw& draw) {
  switch (draw.drawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const bool valid = draw.item >= 0 && static_cast<size_t>(draw.item) < counters_.size();
      const bool raised = valid && draw.subItem == kValueColumn && *counters_[static_cast<size_t>(draw.item)].value > 0;
      draw.textColour = raised ? rgb(255, 0, 0) : rgb(0, 0, 0);
      return CDRF_DODEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

bool FormStatusInfo::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_NOTIFY) {
    auto* header = reinterpret_cast<NotifyHeader*>(lParam);
    if (header->idFrom == static_cast<uint32_t>(kListId)) {
      if (header->code == LVN_ITEMCHANGED) {
        updateDescription();
        result = 0;
        return true;
      }
      if (header->code == NM_CUSTOMDRAW) {
        result = customDraw(*reinterpret_cast<CustomDraw*>(lParam));
        return true;
      }
    }
  }
  if (message == WM_DESTROY) stopTimer();
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}
