#pragma once
// The "Status Info" page: the kernel driver's five error counters, read every
// second while the page is shown, non-zero values in red, and the
// explanation of the selected counter below them.

#include <cstdint>
#include <span>
#include <vector>

#include "device-access/orvane_panel_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"

class FormStatusInfo : public FormBaseImpl<FormStatusInfo> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kDescriptionId = 1082;
  static constexpr int kGroupId = 1083;
  static constexpr int kListId = 1084;
  static constexpr uintptr_t kTimerId = 1113;
  static constexpr uint32_t kPeriodMs = 1000;

  FormStatusInfo();

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void showForm() override;
  void hideForm() override;
  void onFormTimer(uintptr_t timerId) override;
  void updateForm() override;
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  // The running timer's identifier, 0 when none runs.
  uintptr_t timerId() const { return timer_; }

 private:
  struct Counter {
    const uint32_t* value;
    const char16_t* name;
    const char16_t* description;
  };

  void updateDescription();
  platform::ui::LResult customDraw(platform::ui::CustomDraw& draw);
  void stopTimer();

  platform::ui::StaticText* description_ = nullptr;
  platform::ui::ListView* list_ = nullptr;
  std::vector<Counter> counters_;
  ORVANE_STATUS_COUNTERS values_{};
  uintptr_t timer_ = 0;
};
