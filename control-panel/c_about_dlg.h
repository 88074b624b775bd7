#pragma once
// The about box of the "&About" command: the program's name, version and maker.

#include "platform/ui/dialog.h"

class CAboutDlg : public platform::ui::Dialog {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static constexpr int kVersionTextId = 1006;

  CAboutDlg();

  // The three lines of the version text.
  static std::u16string versionText();

  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;
};
