#pragma once
// The spy tool's about box: the driver package's name and version, its maker
// and a link to the maker's web page.

#include <cstdint>
#include <string>

#include "platform/ui/dialog.h"

class CAboutDlg : public platform::ui::Dialog {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static constexpr int kVersionTextId = 1006;
  static constexpr int kLinkId = 1028;
  // The driver package's version, also the kernel driver version the spy expects.
  static constexpr uint32_t kVersionMajor = 1;
  static constexpr uint32_t kVersionMinor = 35;
  static constexpr uint32_t kVersionBuild = 2;
  static constexpr char16_t kMakerUrl[] = u"http://www.morvant.example/";

  CAboutDlg();

  // The three lines of the version text.
  static std::u16string versionText();

  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;
};
