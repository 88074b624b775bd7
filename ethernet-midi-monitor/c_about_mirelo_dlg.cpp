#include "ethernet-midi-monitor/c_about_mirelo_dlg.h"

#include "ethernet-midi-monitor/mirelo_mon_resources.h"

using namespace platform::ui;

namespace {

constexpr ControlTemplate kControls[] = {
    {ControlKind::icon, -1, u"128", 11, 14, 0, 0},
    {ControlKind::staticText, -1, u"Mirelo Version 1.9", 40, 10, 119, 8},
    {ControlKind::staticText, -1, mirelo_mon::kMakerName, 40, 24, 119, 8},
    {ControlKind::hyperLink, CAboutMireloDlg::IDC_LINK, u"", 40, 38, 119, 8},
    {ControlKind::pushButton, IDOK, u"OK", 178, 7, 50, 14, style::defaultButton | style::tabStop},
};

}  // namespace

const DialogTemplate CAboutMireloDlg::kTemplate{IDD, u"About Mirelo", 235, 55, kControls};

CAboutMireloDlg::CAboutMireloDlg() : Dialog(kTemplate) {}

bool CAboutMireloDlg::processMessage(uint32_t message, WParam wParam, LParam, LResult& result) {
  switch (message) {
    case WM_INITDIALOG:
      centreOnOwner();
      if (auto* link = controlAs<HyperLink>(IDC_LINK)) link->setLink(mirelo_mon::kMakerUrl, mirelo_mon::kMakerUrl);
      result = 1;
      return true;
    default:
      return endOnOkOrCancel(message, wParam, result);
  }
}
