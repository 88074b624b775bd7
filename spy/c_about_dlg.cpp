#include "spy/c_about_dlg.h"

#include "platform/format.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, -1, u"", 7, 7, 148, 88},
    {ControlKind::icon, -1, u"128", 16, 19, 0, 0},
    {ControlKind::staticText, CAboutDlg::kVersionTextId, u"", 15, 45, 132, 28},
    {ControlKind::hyperLink, CAboutDlg::kLinkId, u"www.morvant.example", 15, 76, 132, 10},
    {ControlKind::pushButton, IDOK, u"OK", 167, 81, 50, 14, style::defaultButton | style::tabStop},
};

}  // namespace

const DialogTemplate CAboutDlg::kTemplate{100, u"About ORVANE Spy Tool", 224, 102, kControls};

CAboutDlg::CAboutDlg() : Dialog(kTemplate) {}

std::u16string CAboutDlg::versionText() {
  return platform::formatText(u"ORVANE Device Driver\nVersion %u.%u.%u\nMade by Morvant", kVersionMajor,
                              kVersionMinor, kVersionBuild);
}

bool CAboutDlg::processMessage(uint32_t message, WParam wParam, LParam, LResult& result) {
  switch (message) {
    case WM_INITDIALOG:
      centreOnOwner();
      setItemText(kVersionTextId, versionText());
      if (auto* link = controlAs<HyperLink>(kLinkId)) link->setLink(link->text(), kMakerUrl);
      result = 1;
      return true;
    default:
      return endOnOkOrCancel(message, wParam, result);
  }
}
