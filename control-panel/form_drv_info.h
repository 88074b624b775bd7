#pragma once
// The "Driver Info" page: the kernel driver's version, build type and
// interface version.

#include <span>

#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"

class FormDrvInfo : public FormBaseImpl<FormDrvInfo> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kGroupId = 1000;
  static constexpr int kTextId = 1003;

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override;

 private:
  platform::ui::Control* text_ = nullptr;
};
