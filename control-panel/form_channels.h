#pragma once
// The "ASIO IN Channels" and "ASIO OUT Channels" pages. Empty pages for now:
// they have their places in the tree and show nothing until their channel
// lists are built.

#include <span>

#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormChannels : public FormBaseImpl<FormChannels> {
 public:
  static constexpr platform::ui::DialogTemplate kTemplate{248, u"", 210, 154, {}};
  static constexpr std::span<const platform::ui::ResizeRule> kResizeRules{};

  void updateForm() override {}
};

class FormInChannels : public FormChannels {};

class FormOutChannels : public FormChannels {};
