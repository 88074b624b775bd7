#pragma once
// The monitor's About box: icon, version, maker and a link to the maker's site.

#include "platform/ui/dialog.h"

class CAboutMireloDlg : public platform::ui::Dialog {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static constexpr int IDD = 103;
  static constexpr int IDC_LINK = 1050;

  CAboutMireloDlg();
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;
};
