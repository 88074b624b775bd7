#pragma once
// The "Device%u" page of one connected device. An empty page for now: it has
// its place in the tree and shows nothing until its controls are built.

#include <span>

#include "device-access/orvane_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormDevice : public FormBaseImpl<FormDevice> {
 public:
  static constexpr platform::ui::DialogTemplate kTemplate{249, u"", 204, 246, {}};
  static constexpr std::span<const platform::ui::ResizeRule> kResizeRules{};

  FormDevice(platform::ui::WindowHandle frameWindow, const ORVANE_DEVICE_ID& deviceId)
      : frameWindow_(frameWindow), deviceId_(deviceId) {}

  const ORVANE_DEVICE_ID& deviceId() const { return deviceId_; }
  void updateForm() override {}

 private:
  platform::ui::WindowHandle frameWindow_;
  ORVANE_DEVICE_ID deviceId_;
};
