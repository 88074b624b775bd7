#pragma once
// The "DriverInfo" page: the kernel driver's version, build type and
// interface version, read each time the page is shown.

#include <span>
#include <string>

#include "device-access/orvane_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"
#include "spy/spy_form_base.h"

class FormDriverInfo : public FormBaseImpl<FormDriverInfo, SpyFormBase> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kGroupId = 1000;
  static constexpr int kTextId = 1003;

  // The page's text for a driver information record.
  static std::u16string infoText(const ORVANE_DRIVER_INFO& info);

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  // Nothing while disconnected; an empty text when the request fails.
  void updateForm() override;

 private:
  platform::ui::Control* text_ = nullptr;
};
