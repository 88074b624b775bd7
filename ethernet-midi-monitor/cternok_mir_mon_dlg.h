#pragma once
// The monitor's main dialog: mute check boxes for the installed ports,
// "Mute All" / "Mute None", loop-back, the port count for the next start,
// and the tray icon. Created hidden; it mirrors every control change of the
// driver and shows network problems as a balloon.

#include <atomic>
#include <memory>
#include <optional>

#include "ethernet-midi-monitor/c_system_tray.h"
#include "ethernet-midi-monitor/c_ternok_api_interface.h"
#include "ethernet-midi-monitor/driver_control_client.h"
#include "ethernet-midi-monitor/midi_device_census.h"
#include "platform/device_notifications.h"
#include "platform/ui/dialog.h"

class CternokMirMonDlg : public platform::ui::Dialog, public CTernokApiInterface {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static constexpr int IDD = 102;
  static constexpr int IDC_PORT_FIRST = 1001;  // … 1020
  static constexpr int IDC_PORTS_EDIT = 1031;
  static constexpr int IDC_PORTS_SPIN = 1032;
  static constexpr int IDC_PORTS_LABEL = 1033;
  static constexpr int IDC_LOOPBACK = 1034;
  static constexpr int IDC_MUTE_ALL = 1035;
  static constexpr int IDC_MUTE_NONE = 1036;
  static constexpr int IDC_PORTS_ADMIN_LABEL = 1037;
  static constexpr int IDC_CHANGE = 1040;
  static constexpr uint32_t kTrayMessage = platform::ui::WM_APP + 10;
  static constexpr uint32_t kControlChangeMessage = platform::ui::WM_APP + 11;
  static constexpr char16_t kTrayTip[] = u"MIRELO - Ethernet MIDI Ports";
  static constexpr char16_t kAreYouMe[] = u"UWM_ARE_YOU_ME-{4CD3C185-B73F-4f7c-A257-E918DD59F771}";

  CternokMirMonDlg();
  ~CternokMirMonDlg() override;

  bool HasDevice() const { return client_->IsOpen(); }
  // False when the initialisation failed (its message was shown) or a
  // request to the driver failed: the program ends with exit code 1.
  bool Initialised() const { return initialised_ && !client_->Failed(); }
  DriverControlClient& client() { return *client_; }
  CSystemTray& tray() { return tray_; }

  int installedCount() const { return installed_; }
  int configuredCount() const { return configured_; }
  int requestedCount() const { return requested_; }
  bool isAdministrator() const { return administrator_; }
  bool isNewSystem() const { return newSystem_; }

  void OnControlChange() override;
  std::u16string GetDeviceDescription() override;

  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  // Shows the dialog in front (menu item 146, double click on the icon).
  void ShowDialog();

 private:
  bool onInitDialog();
  void onCommand(int id, uint16_t code);
  void applyControlChange(uint32_t mask, uint32_t status);
  void setMuteMask(uint32_t mask);
  uint32_t installedMask() const;
  // Writes the requested count, on older systems within the global limit.
  void applyPortCount(bool evenIfUnchanged = false);
  // The edit's number within 0 … maximum.
  int editNumber() const;
  void watchMidiDevices();
  void onDeviceChange();
  void onChange();

  std::unique_ptr<DriverControlClient> client_;
  CSystemTray tray_;
  MidiDeviceCensus census_;
  int installed_ = 0;
  int configured_ = 0;
  int requested_ = 0;
  int maximum_ = 20;
  bool administrator_ = false;
  bool newSystem_ = true;
  int ternokPorts_ = -1;
  uint32_t areYouMe_ = 0;
  platform::DeviceNotifyHandle deviceNotification_ = nullptr;
  std::atomic<bool> initialised_{false};
};
