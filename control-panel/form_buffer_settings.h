#pragma once
// The "Buffer Settings" page: the streaming and ASIO buffer size classes with
// the lengths they give; "Apply" asks the device control service to change them.

#include <cstdint>
#include <span>
#include <string>

#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormBufferSettings : public FormBaseImpl<FormBufferSettings> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kStreamingGroupId = 1041;
  static constexpr int kAsioGroupId = 1042;
  static constexpr int kStreamingSizeId = 1044;
  static constexpr int kAsioSizeId = 1045;
  static constexpr int kApplyId = 1048;
  static constexpr int kStreamingLengthId = 1049;
  static constexpr int kAsioLengthId = 1050;

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override;
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  // The class names, "unknown" for a value without one.
  static std::u16string streamingClassName(uint32_t sizeClass);
  static std::u16string asioClassName(uint32_t sizeClass);
  // "%u.%1u millisecs": whole milliseconds and the tenths, truncated.
  static std::u16string millisecondsText(uint32_t microseconds);

 private:
  void apply();
  void enableControls(bool enable);

  platform::ui::ComboBox* streamingSize_ = nullptr;
  platform::ui::StaticText* streamingLength_ = nullptr;
  platform::ui::ComboBox* asioSize_ = nullptr;
  platform::ui::StaticText* asioLength_ = nullptr;
  platform::ui::Button* apply_ = nullptr;
};
