#pragma once
// A page without controls: the group nodes of a device ("ASIO IN Channels",
// "Sound Devices OUT", ...) show it.

#include <span>

#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"
#include "spy/spy_form_base.h"

class FormEmpty : public FormBaseImpl<FormEmpty, SpyFormBase> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;

  void updateForm() override {}
};
