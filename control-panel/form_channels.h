#pragma once
// The "ASIO IN Channels" and "ASIO OUT Channels" pages: the channels the
// kernel driver offers to ASIO hosts, each with its device's name and its own.
// One class; the subclasses choose which list it reads.

#include <cstdint>
#include <span>

#include "device-access/orvane_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormChannels : public FormBaseImpl<FormChannels> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kListId = 1051;

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void onFormSize() override;
  void updateForm() override;

  virtual uint32_t getChannelList(ORVANE_CHANNEL_LIST& list) = 0;

 private:
  platform::ui::ListView* list_ = nullptr;
};

class FormInChannels : public FormChannels {
 public:
  uint32_t getChannelList(ORVANE_CHANNEL_LIST& list) override;
};

class FormOutChannels : public FormChannels {
 public:
  uint32_t getChannelList(ORVANE_CHANNEL_LIST& list) override;
};
