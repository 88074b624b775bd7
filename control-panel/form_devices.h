#pragma once
// The "Devices" page (streaming device selection). An empty page for now: it has its place in the tree and
// shows nothing until its controls are built.

#include <span>

#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormDevices : public FormBaseImpl<FormDevices> {
 public:
  static constexpr platform::ui::DialogTemplate kTemplate{106, u"", 224, 154, {}};
  static constexpr std::span<const platform::ui::ResizeRule> kResizeRules{};

  void updateForm() override {}
};
