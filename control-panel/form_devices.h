#pragma once
// The "Devices" page: every connected device with its identity and whether
// it streams, the streaming mode (one selected device or all devices) and the
// button that selects the marked device for streaming. Both choices are
// requests to the device control service.

#include <cstdint>
#include <span>
#include <vector>

#include "device-access/orvane_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"

class FormDevices : public FormBaseImpl<FormDevices> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kListId = 1050;
  static constexpr int kSelectId = 1081;
  static constexpr int kGroupId = 1090;
  static constexpr int kOneDeviceId = 1091;
  static constexpr int kAllDevicesId = 1092;

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void onFormSize() override;
  void updateForm() override;
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  uint32_t streamingMode() const { return streamingMode_; }

 private:
  void selectMarkedDevice();
  void changeStreamingMode();
  void enableSelectButton();

  platform::ui::ListView* list_ = nullptr;
  platform::ui::Button* select_ = nullptr;
  std::vector<ORVANE_DEVICE_ID> devicePositions_;
  uint32_t streamingMode_ = ORVANE_STREAMING_MODE_SINGLE_DEVICE;
};
