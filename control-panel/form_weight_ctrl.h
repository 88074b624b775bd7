#pragma once
// The crosspoint editor: a modal dialog at the clicked cell text that switches
// one crosspoint on or off and sets its gain, sending each change at once.

#include <cstdint>
#include <span>
#include <string>

#include "device-access/orvane_records.h"
#include "platform/ui/dialog.h"
#include "platform/ui/types.h"

class FormWeightCtrl : public platform::ui::Dialog {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static constexpr int kOnId = 1073;
  static constexpr int kGainId = 1074;
  static constexpr int kGainTextId = 1076;

  FormWeightCtrl(const ORVANE_DEVICE_ID& device, platform::ui::Point position, ORVANE_MIXER_CROSSPOINT& entry);

  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  // "-12.50", "0.00": sign, whole dB and hundredths.
  static std::u16string gainText(int gain);

 private:
  void initialise();
  void onClicked();
  void sliderMoved();
  void showEntry();
  void send();

  ORVANE_DEVICE_ID device_;
  platform::ui::Point position_;
  ORVANE_MIXER_CROSSPOINT& entry_;
};
