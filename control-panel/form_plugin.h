#pragma once
// The "Plugin%u" page of a device with the echo plug-in. An empty page for
// now: it has its place in the tree and shows nothing until its controls are
// built.

#include <span>

#include "device-access/orvane_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormPlugin : public FormBaseImpl<FormPlugin> {
 public:
  static constexpr platform::ui::DialogTemplate kTemplate{258, u"", 200, 150, {}};
  static constexpr std::span<const platform::ui::ResizeRule> kResizeRules{};

  FormPlugin(platform::ui::WindowHandle frameWindow, const ORVANE_DEVICE_ID& deviceId)
      : frameWindow_(frameWindow), deviceId_(deviceId) {}

  const ORVANE_DEVICE_ID& deviceId() const { return deviceId_; }
  void updateForm() override {}

 private:
  platform::ui::WindowHandle frameWindow_;
  ORVANE_DEVICE_ID deviceId_;
};
