#include "control-panel/c_about_dlg.h"

#include "control-panel/control_panel_resources.h"
#include "platform/format.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, -1, u"", 7, 7, 148, 88},
    {ControlKind::icon, -1, u"128", 16, 19, 0, 0},
    {ControlKind::staticText, CAboutDlg::kVersionTextId, u"", 15, 47, 132, 32},
    {ControlKind::pushButton, IDOK, u"OK", 167, 81, 50, 14, style::defaultButton | style::tabStop},
};

}  // namespace

const DialogTemplate CAboutDlg::kTemplate{100, u"About Quintor Control Panel", 224, 102, kControls};

CAboutDlg::CAboutDlg() : Dialog(kTemplate) {}

std::u16string CAboutDlg::versionText() {
  return platform::formatText(u"QUINTOR Control Panel\nVersion %u.%u.%u\nMade by tarnvale", cpl::kVersionMajor,
                              cpl::kVersionMinor, cpl::kVersionBuild);
}

bool CAboutDlg::processMessage(uint32_t message, WParam wParam, LParam, LResult& result) {
  switch (message) {
    case WM_INITDIALOG:
      centreOnOwner();
      setItemText(kVersionTextId, versionText());
      result = 1;
      return true;
    default:
      return endOnOkOrCancel(message, wParam, result);
  }
}
