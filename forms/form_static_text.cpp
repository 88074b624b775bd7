#include "forms/form_static_text.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::staticText, FormStaticText::kTextId, u"There is no USB Audio device connected.", 7, 7, 146, 80,
     style::centre | style::centreVertically},
};

// Tabs in the text expand to the next tab stop, as in every static text.
constexpr ControlTemplate kTopLeftControls[] = {
    {ControlKind::staticText, FormStaticText::kTextId, u"", 7, 7, 146, 80, 0},
};

constexpr ResizeRule kRules[] = {{FormStaticText::kTextId, resize::growWidth | resize::growHeight}};

}  // namespace

const DialogTemplate FormStaticText::kTemplate{208, u"", 160, 94, kControls};
const DialogTemplate FormStaticText::kTopLeftTemplate{208, u"", 160, 94, kTopLeftControls};
const std::span<const ResizeRule> FormStaticText::kResizeRules{kRules};

FormStaticText::FormStaticText(std::u16string_view text, Alignment alignment)
    : FormBaseImpl(alignment == Alignment::topLeft ? kTopLeftTemplate : kTemplate), text_(text) {}

LResult FormStaticText::onInitForm(uint32_t, WParam, LParam, bool&) {
  setItemText(kTextId, text_);
  return 0;
}

void FormStaticText::setText(std::u16string_view text) {
  text_ = std::u16string(text);
  if (exists()) setItemText(kTextId, text_);
}
