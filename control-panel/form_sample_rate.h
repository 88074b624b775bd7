#pragma once
// The "Sample Rate" page. An empty page for now: it has its place in the tree and
// shows nothing until its controls are built.

#include <span>

#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormSampleRate : public FormBaseImpl<FormSampleRate> {
 public:
  static constexpr platform::ui::DialogTemplate kTemplate{104, u"", 160, 82, {}};
  static constexpr std::span<const platform::ui::ResizeRule> kResizeRules{};

  void updateForm() override {}
};
