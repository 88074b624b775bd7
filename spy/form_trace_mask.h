#pragma once
// The "Trace Mask" page: one row per trace category of a debug build of the
// kernel driver, checked while the driver writes that category's messages.
// Checking or unchecking a row changes the kernel driver's mask at once;
// "Set as default" makes the current mask the driver's default.

#include <array>
#include <cstdint>
#include <span>

#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"
#include "spy/spy_form_base.h"

// The text shown under "Trace Mask" when the kernel driver is a release build.
inline constexpr char16_t kReleaseBuildText[] =
    u"\n\n\n\tThe release build of the ORVANE driver does not support tracing.\n\tTo get trace messages, use a debug "
    u"build.";

// The names of the trace categories by bit number; bits without a category
// have an empty name.
extern const std::array<const char*, 32> kTraceCategoryNames;

class FormTraceMask : public FormBaseImpl<FormTraceMask, SpyFormBase> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kGroupId = 1001;
  static constexpr int kListId = 1004;
  static constexpr int kSetDefaultId = 1005;
  static constexpr int kBitColumnWidth = 40;

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void onFormSize() override;
  // Refills the list from the kernel driver's mask while connected.
  void updateForm() override;
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  platform::ui::ListView* list() const { return list_; }

 private:
  void fill();
  void itemChanged(const platform::ui::ListViewChange& change);

  platform::ui::ListView* list_ = nullptr;
  // Set while fill() builds the rows: the check marks it sets reflect the
  // mask just read and are not the user's changes.
  bool filling_ = false;
};
