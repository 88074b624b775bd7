#pragma once
// A page that shows a text: one sentence centred (the control panel's "no
// device" page), or a text laid out with its own line breaks and tabs from
// the top left corner (the spy's pages).

#include <span>
#include <string>
#include <string_view>

#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormStaticText : public FormBaseImpl<FormStaticText> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const platform::ui::DialogTemplate kTopLeftTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kTextId = 1030;

  enum class Alignment { centred, topLeft };

  explicit FormStaticText(std::u16string_view text, Alignment alignment = Alignment::centred);

  // Changes the sentence; shown at once when the page exists.
  void setText(std::u16string_view text) override;
  std::u16string text() const override { return text_; }

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override {}

 private:
  std::u16string text_;
};
