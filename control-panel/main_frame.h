#pragma once
// The control panel's main window: the navigation tree on the left, the
// chosen page on the right, the menu bar, the status bar with the streaming
// state and sampling rate, and the notification area icon. It keeps the
// program's connections to the kernel driver (the main connection while a
// device is there, the view connection while the window is visible) and
// turns the kernel driver's notifications into page refreshes.

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "control-panel/form_buffer_settings.h"
#include "control-panel/form_channels.h"
#include "control-panel/form_device.h"
#include "control-panel/form_devices.h"
#include "control-panel/form_drv_info.h"
#include "control-panel/form_mixer.h"
#include "control-panel/form_plugin.h"
#include "control-panel/form_sample_rate.h"
#include "control-panel/form_status_info.h"
#include "control-panel/orvane_cpl_client.h"
#include "device-access/device_notification_list.h"
#include "forms/form_selection.h"
#include "forms/form_static_text.h"
#include "forms/streaming_status_panes.h"
#include "forms/wtl_min_max_track_size.h"
#include "forms/wtl_registry_setting.h"
#include "forms/wtl_tray_icon.h"
#include "platform/ui/frame_window.h"
#include "platform/ui/image_list.h"
#include "platform/ui/splitter.h"

class MainFrame : public platform::ui::FrameWindow,
                  public WtlTrayIcon<MainFrame>,
                  public WtlMinMaxTrackSize<MainFrame>,
                  public WtlRegistrySetting<MainFrame> {
 public:
  struct Options {
    bool hide = false;    // "-hide"
    bool noTray = false;  // "-notray"
  };

  static constexpr int kMinimumWidth = 550;
  static constexpr int kMinimumHeight = 420;
  static constexpr int kTreeWidth = 150;
  static constexpr int kStreamingPane = kStreamingStatePane;
  static constexpr int kRatePane = kSamplingRatePane;

  explicit MainFrame(Options options);
  ~MainFrame() override;

  // Creates the frame (hidden) at `rect`; false when that fails.
  bool createFrame(const platform::ui::Rect& rect);

  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  void setCurrentForm(FormBase* page);
  void rebuildTree();
  void addDevicePages();
  void clearDevicePages();
  void updateStatusBar();

  // The connections: connect opens the main connection
  // and starts the notification waiter; disconnect ends both and closes the
  // view connection.
  void connect();
  void disconnect();
  void handleNotification(const ORVANE_MESSAGE& message);

  FormSelection& treePage() { return treePage_; }
  FormStaticText& staticTextPage() { return staticTextPage_; }
  FormSampleRate& sampleRatePage() { return sampleRatePage_; }
  FormBufferSettings& bufferSettingsPage() { return bufferSettingsPage_; }
  FormDrvInfo& drvInfoPage() { return drvInfoPage_; }
  FormDevices& devicesPage() { return devicesPage_; }
  FormInChannels& inChannelsPage() { return inChannelsPage_; }
  FormOutChannels& outChannelsPage() { return outChannelsPage_; }
  FormStatusInfo& statusInfoPage() { return statusInfoPage_; }
  // The page of a connected device, or null.
  FormDevice* devicePage(const ORVANE_DEVICE_ID& device) const;
  // A connected device's mixer windows, or null.
  FormMixer* monitorMixer(const ORVANE_DEVICE_ID& device) const;
  FormMixer* playbackMixer(const ORVANE_DEVICE_ID& device) const;
  FormBase* currentForm() const { return currentForm_; }
  OrvaneCplClient& viewConnection() { return viewConnection_; }
  platform::ui::SplitterWindow& splitter() { return splitter_; }
  const platform::ui::ImageList& images() const { return images_; }

 private:
  platform::ui::LResult onCreate();
  void onShowWindow(bool shown);
  void onDeviceChange(platform::ui::WParam event, platform::ui::LParam record);
  void readNotifications();
  void updateDeviceList();
  void onDestroy();
  void openViewConnection();
  bool handleFrameMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                          platform::ui::LResult& result);

  Options options_;
  platform::ui::SplitterWindow splitter_;
  platform::ui::ImageList images_{16, 16, 8, 2};
  int settingsImage_ = -1;
  int informationImage_ = -1;
  int channelsImage_ = -1;
  int devicesImage_ = -1;
  FormSelection treePage_{images_};
  FormStaticText staticTextPage_{u"There is no Quintor device connected."};
  FormSampleRate sampleRatePage_;
  FormBufferSettings bufferSettingsPage_;
  FormDrvInfo drvInfoPage_;
  FormDevices devicesPage_;
  FormInChannels inChannelsPage_;
  FormOutChannels outChannelsPage_;
  FormStatusInfo statusInfoPage_;
  std::vector<std::unique_ptr<FormDevice>> devicePages_;
  std::vector<std::unique_ptr<FormPlugin>> pluginPages_;
  std::map<std::pair<uint32_t, uint32_t>, FormDevice*> devicePageIndex_;
  struct DeviceMixers {
    std::unique_ptr<FormMixer> monitor;
    std::unique_ptr<FormMixer> playback;
  };
  std::map<std::pair<uint32_t, uint32_t>, DeviceMixers> mixers_;
  const DeviceMixers* mixersOf(const ORVANE_DEVICE_ID& device) const;
  DeviceNotificationList deviceNotifications_;
  OrvaneCplClient viewConnection_;
  FormBase* currentForm_ = nullptr;
};

// The page error box: "<operation> (Status=<name>)." and, for three
// statuses, a line that explains it; an error box owned by the page with the
// frame's title as caption.
void showPageErrorBox(platform::ui::WindowHandle page, std::u16string_view operation, uint32_t status);
// Its text.
std::u16string pageErrorText(std::u16string_view operation, uint32_t status);
