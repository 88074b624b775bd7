#pragma once
// The "Sample Rate" page: the rates the kernel driver offers, the current one
// selected; "Apply" asks the device control service to change the rate.

#include <cstdint>
#include <span>

#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormSampleRate : public FormBaseImpl<FormSampleRate> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kGroupId = 1032;
  static constexpr int kApplyId = 1038;
  static constexpr int kRateId = 1040;
  static constexpr int kDsdTextId = 1094;
  static constexpr uint32_t kServiceTimeoutMs = 30000;

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override;
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  static bool isDsdRate(uint32_t rate) { return rate == 2822400 || rate == 5644800; }

 private:
  void apply();

  platform::ui::ComboBox* rates_ = nullptr;
  platform::ui::Button* apply_ = nullptr;
  platform::ui::StaticText* dsdText_ = nullptr;
};
