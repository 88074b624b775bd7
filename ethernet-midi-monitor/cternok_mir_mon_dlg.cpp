#include "ethernet-midi-monitor/cternok_mir_mon_dlg.h"

#include <algorithm>
#include <string>

#include "ethernet-midi-driver/mirelo_device.h"
#include "ethernet-midi-monitor/c_about_mirelo_dlg.h"
#include "ethernet-midi-monitor/mirelo_mon_resources.h"
#include "ethernet-midi-monitor/mirelo_profile.h"
#include "ethernet-midi-monitor/mirelo_registry.h"
#include "platform/device_notifications.h"
#include "platform/format.h"
#include "platform/kernel_streaming.h"
#include "platform/process.h"
#include "platform/shell_execute.h"
#include "platform/system_version.h"
#include "platform/text.h"
#include "platform/ui/application.h"
#include "platform/ui/resources.h"
#include "platform/ui/window_directory.h"

using namespace platform::ui;
using namespace mirelo_mon;

namespace {

constexpr int kMaxPorts = 20;
constexpr uint32_t kProblemBits = 0x3FFFFFFFu;
constexpr uint32_t kLoopbackBit = 0x80000000u;

#define PORT_BOX(n, x, y) {ControlKind::checkBox, 1000 + (n), u## #n, x, y, 22, 10, style::automatic | style::disabled | style::tabStop}

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, -1, u"Mute Ports", 7, 7, 146, 100},
    PORT_BOX(1, 15, 20), PORT_BOX(2, 42, 20), PORT_BOX(3, 69, 20), PORT_BOX(4, 96, 20), PORT_BOX(5, 123, 20),
    PORT_BOX(6, 15, 34), PORT_BOX(7, 42, 34), PORT_BOX(8, 69, 34), PORT_BOX(9, 96, 34), PORT_BOX(10, 123, 34),
    {ControlKind::pushButton, CternokMirMonDlg::IDC_MUTE_ALL, u"Mute All", 15, 50, 60, 14, style::tabStop},
    {ControlKind::pushButton, CternokMirMonDlg::IDC_MUTE_NONE, u"Mute None", 85, 50, 60, 14, style::tabStop},
    PORT_BOX(11, 15, 72), PORT_BOX(12, 42, 72), PORT_BOX(13, 69, 72), PORT_BOX(14, 96, 72), PORT_BOX(15, 123, 72),
    PORT_BOX(16, 15, 86), PORT_BOX(17, 42, 86), PORT_BOX(18, 69, 86), PORT_BOX(19, 96, 86), PORT_BOX(20, 123, 86),
    {ControlKind::groupBox, -1, u"", 7, 110, 146, 24},
    {ControlKind::checkBox, CternokMirMonDlg::IDC_LOOPBACK, u"Loop back", 15, 119, 80, 10,
     style::automatic | style::tabStop},
    {ControlKind::staticText, CternokMirMonDlg::IDC_PORTS_LABEL, u"Ports after Reboot:", 7, 143, 70, 10},
    {ControlKind::staticText, CternokMirMonDlg::IDC_PORTS_ADMIN_LABEL, u"Ports\r(must be Admin):", 7, 139, 70, 18,
     style::hidden | style::disabled},
    {ControlKind::edit, CternokMirMonDlg::IDC_PORTS_EDIT, u"", 80, 141, 30, 13, style::number | style::tabStop},
    {ControlKind::spin, CternokMirMonDlg::IDC_PORTS_SPIN, u"", 110, 141, 10, 13,
     style::setBuddyNumber | style::arrowKeys},
    {ControlKind::pushButton, CternokMirMonDlg::IDC_CHANGE, u"Change", 123, 141, 40, 14, style::tabStop},
    {ControlKind::pushButton, IDOK, u"OK", 163, 7, 50, 14, style::defaultButton | style::tabStop},
};

#undef PORT_BOX

int portCheckId(int port) { return CternokMirMonDlg::IDC_PORT_FIRST + port - 1; }

}  // namespace

const DialogTemplate CternokMirMonDlg::kTemplate{IDD, u"Mirelo - Ethernet MIDI Ports", 220, 162, kControls};

CternokMirMonDlg::CternokMirMonDlg() : Dialog(kTemplate), client_(std::make_unique<DriverControlClient>(*this)) {}

CternokMirMonDlg::~CternokMirMonDlg() {
  if (deviceNotification_ != nullptr) platform::unregisterDeviceNotification(deviceNotification_);
  client_.reset();  // no control change arrives from here on
  tray_.icon().remove();
}

std::u16string CternokMirMonDlg::GetDeviceDescription() { return mirelo::kDeviceDescription; }

void CternokMirMonDlg::OnControlChange() {
  // Runs on the notification thread: the driver is asked here, the controls
  // are updated on the window thread.
  const uint32_t mask = client_->GetMuteMask();
  const uint32_t status = client_->GetStatusWord();
  postMessage(handle(), kControlChangeMessage, mask, status);
}

bool CternokMirMonDlg::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (areYouMe_ != 0 && message == areYouMe_) {
    result = static_cast<LResult>(areYouMe_);
    return true;
  }
  switch (message) {
    case WM_INITDIALOG:
      if (!onInitDialog()) postQuitMessage(1);
      result = 1;
      return true;
    case kControlChangeMessage:
      applyControlChange(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
      result = 0;
      return true;
    case kTrayMessage:
      tray_.OnTrayNotification(wParam, lParam);
      result = 0;
      return true;
    case WM_COMMAND:
      onCommand(commandId(wParam), commandCode(wParam));
      result = 0;
      return true;
    case WM_CLOSE:
      showWindow(handle(), SW_HIDE);
      result = 0;
      return true;
    case WM_DEVICECHANGE:
      onDeviceChange();
      result = 1;
      return true;
    default:
      return false;
  }
}

bool CternokMirMonDlg::onInitDialog() {
  const std::optional<uint32_t> ports = ReadPortsValue();
  if (!ports) return false;
  installed_ = std::min(static_cast<int>(*ports >> 8 & 0xFF), kMaxPorts);
  configured_ = requested_ = static_cast<int>(*ports & 0xFF);
  administrator_ = WritePortsValue(static_cast<uint32_t>(configured_), *ports >> 8 & 0xFF);
  newSystem_ = platform::systemVersion().major > 5;
  if (newSystem_) {
    if (auto* change = controlAs<Button>(IDC_CHANGE)) change->setIcon(loadIcon(IDI_SHIELD));
  } else {
    showWindow(item(IDC_CHANGE), SW_HIDE);
  }
  if (administrator_) {
    enableWindow(item(IDC_CHANGE), false);
    ternokPorts_ = ReadTernokPorts();
    if (!newSystem_) watchMidiDevices();
  } else {
    showWindow(item(IDC_PORTS_LABEL), newSystem_ ? SW_SHOW : SW_HIDE);
    showWindow(item(IDC_PORTS_ADMIN_LABEL), newSystem_ ? SW_HIDE : SW_SHOW);
    enableWindow(item(IDC_PORTS_ADMIN_LABEL), !newSystem_);
    enableWindow(item(IDC_PORTS_EDIT), false);
    enableWindow(item(IDC_PORTS_SPIN), false);
  }
  maximum_ = kMaxPorts;
  if (!newSystem_) {
    census_.Refresh();
    maximum_ = std::min(census_.Limit(), kMaxPorts);
  }
  if (auto* spin = controlAs<Spin>(IDC_PORTS_SPIN)) {
    spin->setRange(0, maximum_);
    spin->setPosition(configured_);
  }
  setItemText(IDC_PORTS_EDIT, platform::formatText(u"%d", configured_));
  for (int port = 1; port <= installed_; ++port) enableWindow(item(portCheckId(port)), true);

  setWindowIcon(handle(), loadIcon(IDR_MAINFRAME));
  if (!tray_.Create(handle(), kTrayMessage, kTrayTip, IDI_UNMUTED, kTrayIconId, trayMenu())) return false;
  setToolTip(item(IDC_LOOPBACK), u"Send MIDI Data to Applications hosted on this computer");
  areYouMe_ = registerWindowMessage(kAreYouMe);

  client_->SetMuteMask(mirelo_profile::muteMask() & installedMask());
  client_->SetLoopback(mirelo_profile::loopback());
  initialised_ = true;
  return true;
}

uint32_t CternokMirMonDlg::installedMask() const {
  return installed_ >= 32 ? 0xFFFFFFFFu : (1u << installed_) - 1;
}

void CternokMirMonDlg::applyControlChange(uint32_t mask, uint32_t status) {
  for (int port = 1; port <= installed_; ++port) {
    const bool muted = (mask >> (port - 1) & 1) != 0;
    if (isButtonChecked(portCheckId(port)) != muted) checkButton(portCheckId(port), muted);
  }
  tray_.SetIcon(mask != 0 ? IDI_MUTED : IDI_UNMUTED);
  if ((status & kProblemBits) != 0) {
    std::u16string title = u"Network Problem! Port:";
    for (int port = 1; port <= installed_; ++port) {
      if ((status >> (port - 1) & 1) != 0) title += platform::formatText(u" %d", port);
    }
    tray_.ShowBalloon(title, u"Please check your network settings ", BalloonIcon::error, 15000);
  }
  checkButton(IDC_LOOPBACK, (status & kLoopbackBit) != 0);
}

void CternokMirMonDlg::setMuteMask(uint32_t mask) {
  client_->SetMuteMask(mask);
  mirelo_profile::storeMuteMask(mask);
}

void CternokMirMonDlg::onCommand(int id, uint16_t code) {
  if (id >= IDC_PORT_FIRST && id < IDC_PORT_FIRST + kMaxPorts && code == BN_CLICKED) {
    uint32_t mask = 0;
    for (int port = 1; port <= installed_; ++port) {
      if (isButtonChecked(portCheckId(port))) mask |= 1u << (port - 1);
    }
    setMuteMask(mask);
    return;
  }
  switch (id) {
    case IDC_MUTE_ALL:
    case ID_MUTE_ALL:
      setMuteMask(installedMask());
      break;
    case IDC_MUTE_NONE:
    case ID_MUTE_NONE:
      setMuteMask(0);
      break;
    case IDC_LOOPBACK: {
      const bool on = isButtonChecked(IDC_LOOPBACK);
      client_->SetLoopback(on);
      mirelo_profile::storeLoopback(on);
      break;
    }
    case IDC_PORTS_EDIT:
      if (code == EN_CHANGE) {
        requested_ = editNumber();
      } else if (code == EN_KILLFOCUS) {
        // The edit accepts 0 … maximum: a larger number is taken as the maximum.
        if (itemText(IDC_PORTS_EDIT) != platform::formatText(u"%d", requested_)) {
          setItemText(IDC_PORTS_EDIT, platform::formatText(u"%d", requested_));
        }
        applyPortCount();
      }
      break;
    case IDC_CHANGE:
      onChange();
      break;
    case IDOK:
    case IDCANCEL:
      showWindow(handle(), SW_HIDE);
      break;
    case ID_SHOW_DIALOG:
      ShowDialog();
      break;
    case ID_APP_ABOUT: {
      CAboutMireloDlg about;
      about.doModal(handle());
      break;
    }
    case ID_APP_EXIT:
      postQuitMessage(0);
      break;
    default:
      break;
  }
}

int CternokMirMonDlg::editNumber() const {
  int number = 0;
  for (const char16_t c : itemText(IDC_PORTS_EDIT)) {
    if (c < u'0' || c > u'9') break;
    number = std::min(number * 10 + (c - u'0'), maximum_);
  }
  return number;
}

void CternokMirMonDlg::applyPortCount(bool evenIfUnchanged) {
  if (requested_ == configured_ && !evenIfUnchanged) return;
  if (!newSystem_) {
    const int allowed = CheckGlobalPortLimit(census_, requested_, ternokPorts_ >= 0);
    if (allowed != requested_) {
      requested_ = allowed;
      setItemText(IDC_PORTS_EDIT, platform::formatText(u"%d", requested_));
    }
  }
  if (WritePortsValue(static_cast<uint32_t>(requested_), static_cast<uint32_t>(installed_))) configured_ = requested_;
}

// MIDI devices come and go with the audio device interfaces: their arrival
// and removal reach the dialog as WM_DEVICECHANGE.
void CternokMirMonDlg::watchMidiDevices() {
  const std::vector<uint8_t> filter = platform::makeDeviceInterfaceRecord(platform::KSCATEGORY_AUDIO, u"");
  deviceNotification_ = platform::registerDeviceNotification(deviceNotificationRecipient(), filter.data(),
                                                             platform::DEVICE_NOTIFY_WINDOW_HANDLE);
}

void CternokMirMonDlg::onDeviceChange() {
  if (!administrator_ || newSystem_ || !census_.Changed()) return;
  int allowed = census_.Limit() - census_.RegularPortCount();
  if (ternokPorts_ >= 0) allowed -= std::max(ReadTernokPorts(), 0);
  // The limit clamps the request and says so.
  if (allowed < requested_) applyPortCount(true);
}

void CternokMirMonDlg::onChange() {
  enableWindow(item(IDC_CHANGE), false);
  std::u16string path;
  platform::programPath(path);
  const Rect rect = getWindowRect(handle());
  const uint32_t error =
      platform::shellExecute(u"runas", path, platform::formatText(u"%d %d", rect.left, rect.top), SW_RESTORE);
  if (error == 0) {
    postQuitMessage(0);
  } else {
    enableWindow(item(IDC_CHANGE), true);
  }
}

void CternokMirMonDlg::ShowDialog() {
  showWindow(handle(), SW_SHOW);
  updateWindow(handle());
  setForegroundWindow(handle());
}
