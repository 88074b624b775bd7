#pragma once
// A page that shows one sentence, centred (the programs' "no device" pages).

#include <span>
#include <string>
#include <string_view>

#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormStaticText : public FormBaseImpl<FormStaticText> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kTextId = 1030;

  explicit FormStaticText(std::u16string_view text);

  // Changes the sentence; shown at once when the page exists.
  void setText(std::u16string_view text) override;
  std::u16string text() const override { return text_; }

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override {}

 private:
  std::u16string text_;
};
