#include "control-panel/main_frame.h"

#include "control-panel/c_about_dlg.h"
#include "control-panel/control_panel_resources.h"
#include "control-panel/wn_post_window_message_thread.h"
#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "forms/streaming_status_panes.h"
#include "platform/device_notifications.h"
#include "platform/format.h"
#include "platform/guid.h"
#include "platform/ui/application.h"
#include "platform/ui/message_box.h"
#include "platform/ui/resources.h"

using namespace platform::ui;

namespace {

// The thread that posts WM_DRIVER_NOTIFICATION when the main connection's
// notification event is signalled; runs while the main connection is open.
WnPostWindowMessageThread& notificationWaiter() {
  static WnPostWindowMessageThread waiter;
  return waiter;
}

std::pair<uint32_t, uint32_t> keyOf(const ORVANE_DEVICE_ID& device) { return {device.first, device.second}; }

// A device identifier payload, or nothing for any other size.
bool deviceIdOf(const ORVANE_MESSAGE& message, ORVANE_DEVICE_ID* device) {
  return getPayload(message, *device) == 0;
}

}  // namespace

MainFrame::MainFrame(Options options)
    : WtlTrayIcon<MainFrame>(cpl::trayMenu()),
      WtlMinMaxTrackSize<MainFrame>(kMinimumWidth, kMinimumHeight),
      WtlRegistrySetting<MainFrame>(cpl::kSettingsKey),
      options_(options) {}

MainFrame::~MainFrame() {
  if (exists()) destroyWindow(handle());
}

bool MainFrame::createFrame(const Rect& rect) {
  return create(cpl::kFrameClassName, loadString(cpl::IDR_MAINFRAME), rect, loadIcon(cpl::IDR_MAINFRAME));
}

// ---------------------------------------------------------------------------
// Messages

bool MainFrame::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  return handleFrameMessage(message, wParam, lParam, result) ||
         FrameWindow::processMessage(message, wParam, lParam, result) ||
         processTrayMessage(message, wParam, lParam, result) ||
         processTrackSizeMessage(message, wParam, lParam, result);
}

bool MainFrame::handleFrameMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  result = 0;
  switch (message) {
    case WM_CREATE:
      result = onCreate();
      return true;
    case WM_SHOWWINDOW:
      onShowWindow(wParam != 0);
      return true;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NotifyHeader*>(lParam);
      if (header->idFrom != static_cast<uint32_t>(FormSelection::kTreeId) || header->code != TVN_SELCHANGED) {
        return false;
      }
      if (FormBase* page = treePage_.getSelectedForm()) setCurrentForm(page);
      return true;
    }
    case WM_COMMAND:
      switch (commandId(wParam)) {
        case cpl::ID_TRAY_RESTORE:
          showWindow(handle(), SW_RESTORE);
          setForegroundWindow(handle());
          return true;
        case cpl::ID_APP_ABOUT: {
          CAboutDlg about;
          const WindowHandle active = getActiveWindow();
          about.doModal(active ? active : handle());
          return true;
        }
        case cpl::ID_APP_EXIT:
          postMessage(handle(), WM_CLOSE);
          return true;
        default:
          return false;
      }
    case WM_DEVICECHANGE:
      onDeviceChange(wParam, lParam);
      return true;
    case cpl::WM_DRIVER_NOTIFICATION:
      readNotifications();
      return true;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE && isIconInstalled()) {
        showWindow(handle(), SW_HIDE);
        return true;
      }
      if ((wParam & 0xFFF0) == SC_MINIMIZE) savePlacement();
      return false;  // the normal closing or minimizing follows
    case WM_CLOSE:
      savePlacement();
      return false;  // the window is destroyed
    case WM_DESTROY:
      onDestroy();
      return true;
    default:
      return false;
  }
}

LResult MainFrame::onCreate() {
  const std::u16string title = loadString(cpl::IDR_MAINFRAME);
  const CommandImage images[] = {{cpl::ID_APP_ABOUT, loadIcon(cpl::IDI_ABOUT_IMAGE)}};
  createCommandBar(cpl::mainMenu(), images);
  removeMaximizeBox();
  createStatusBar(loadString(cpl::ATL_IDS_IDLEMESSAGE), {220, 190});
  splitter_.create(handle());
  setClientWindow(splitter_);
  splitter_.setSplitterPosition(kTreeWidth);

  settingsImage_ = images_.add(loadIcon(cpl::IDI_SETTINGS));
  informationImage_ = images_.add(loadIcon(cpl::IDI_INFORMATION));
  channelsImage_ = images_.add(loadIcon(cpl::IDI_CHANNELS));
  devicesImage_ = images_.add(loadIcon(cpl::IDI_DEVICES));

  const WindowHandle pane = splitter_.handle();
  treePage_.create(pane);
  staticTextPage_.create(pane);
  sampleRatePage_.create(pane);
  bufferSettingsPage_.create(pane);
  drvInfoPage_.create(pane);
  devicesPage_.create(pane);
  inChannelsPage_.create(pane);
  outChannelsPage_.create(pane);
  statusInfoPage_.create(pane);

  if (!options_.noTray) {
    installIcon(loadIcon(cpl::IDR_MAINFRAME), std::u16string_view(title).substr(0, 127), cpl::kTrayIconId,
                cpl::WM_TRAY_CALLBACK);
  }
  platform::Guid interfaceClass;
  platform::parseGuid(std::string_view(cpl::kDeviceInterfaceClass), &interfaceClass);
  deviceNotifications_.add(deviceNotificationRecipient(), interfaceClass, platform::DEVICE_NOTIFY_WINDOW_HANDLE);
  connect();
  rebuildTree();
  loadPlacement();
  showWindow(treePage_.handle(), SW_SHOW);
  splitter_.setPane(SplitterWindow::left, treePage_.handle());
  splitter_.layoutPanes();
  updateStatusBar();
  return 0;
}

void MainFrame::onShowWindow(bool shown) {
  if (shown) {
    if (!viewConnection_.isOpen()) openViewConnection();
  } else {
    viewConnection_.closeDriver();
  }
}

void MainFrame::openViewConnection() {
  viewConnection_.openConnection(cpl::kDeviceLinkName, ORVANE_CLIENT_TYPE_VIEW, false);
}

void MainFrame::onDeviceChange(WParam event, LParam record) {
  if (!platform::deviceInterfaceRecordHasName(reinterpret_cast<const uint8_t*>(record))) return;
  if (event == platform::DBT_DEVICEARRIVAL) connect();
}

void MainFrame::onDestroy() {
  disconnect();
  deviceNotifications_.removeAll();
  postQuitMessage(1);
  removeIcon();
}

// ---------------------------------------------------------------------------
// Pages and tree

void MainFrame::setCurrentForm(FormBase* page) {
  if (page == nullptr) return;
  if (currentForm_ != nullptr) currentForm_->hideForm();
  page->showForm();
  currentForm_ = page;
  splitter_.setPane(SplitterWindow::right, page->getFormWindow());
  splitter_.layoutPanes();
  page->onFormSize();
}

void MainFrame::rebuildTree() {
  clearDevicePages();
  FormBase* fixedPages[] = {&sampleRatePage_, &bufferSettingsPage_, &devicesPage_, &inChannelsPage_,
                            &outChannelsPage_, &statusInfoPage_, &drvInfoPage_};
  for (FormBase* page : fixedPages) treePage_.removeForm(page);
  enableWindow(treePage_.handle(), false);
  setCurrentForm(&staticTextPage_);
  if (!mainConnection().isOpen()) return;
  treePage_.addForm(u"Sample Rate", &sampleRatePage_, nullptr, settingsImage_);
  treePage_.addForm(u"Buffer Settings", &bufferSettingsPage_, nullptr, settingsImage_);
  treePage_.addForm(u"Devices", &devicesPage_, nullptr, devicesImage_);
  addDevicePages();
  treePage_.addForm(u"ASIO IN Channels", &inChannelsPage_, nullptr, channelsImage_);
  treePage_.addForm(u"ASIO OUT Channels", &outChannelsPage_, nullptr, channelsImage_);
  treePage_.addForm(u"Status Info", &statusInfoPage_, nullptr, informationImage_);
  treePage_.addForm(u"Driver Info", &drvInfoPage_, nullptr, informationImage_);
  enableWindow(treePage_.handle(), true);
  if (treePage_.getSelectedForm() == nullptr) treePage_.selectFirstForm();
}

void MainFrame::addDevicePages() {
  OrvaneCplClient& connection = mainConnection();
  if (!connection.isOpen()) return;
  clearDevicePages();
  for (size_t position = 0; position < connection.deviceCount(); ++position) {
    const OrvaneDevice* device = connection.deviceAt(position);
    if (device == nullptr) continue;
    const ORVANE_DEVICE_ID id = device->deviceId();
    DeviceMixers& mixers = mixers_[keyOf(id)];
    mixers.monitor = std::make_unique<FormMixer>(id, true);
    mixers.playback = std::make_unique<FormMixer>(id, false);
    mixers.monitor->createMixer();
    mixers.playback->createMixer();
    auto page = std::make_unique<FormDevice>(handle(), id, mixers.monitor.get(), mixers.playback.get());
    page->create(splitter_.handle());
    treePage_.addForm(platform::formatText(u"Device%u", static_cast<uint32_t>(position)), page.get(), &devicesPage_,
                      devicesImage_);
    devicePageIndex_[keyOf(id)] = page.get();
    devicePages_.push_back(std::move(page));
    if ((device->info().echoPlugin & ORVANE_DEVICE_ECHO_PLUGIN) != 0) {
      auto plugin = std::make_unique<FormPlugin>(handle(), id);
      plugin->create(splitter_.handle());
      treePage_.addForm(platform::formatText(u"Plugin%u", static_cast<uint32_t>(position)), plugin.get(),
                        &devicesPage_, devicesImage_);
      pluginPages_.push_back(std::move(plugin));
    }
  }
}

void MainFrame::clearDevicePages() {
  const auto clear = [this](auto& pages) {
    for (auto& page : pages) {
      if (currentForm_ == page.get()) currentForm_ = nullptr;
      treePage_.removeForm(page.get());
      if (page->exists()) destroyWindow(page->handle());
    }
    pages.clear();
  };
  clear(devicePages_);
  clear(pluginPages_);
  devicePageIndex_.clear();
  for (auto& [key, mixers] : mixers_) {
    for (FormMixer* mixer : {mixers.monitor.get(), mixers.playback.get()}) {
      if (mixer->exists()) destroyWindow(mixer->handle());
    }
  }
  mixers_.clear();
}

const MainFrame::DeviceMixers* MainFrame::mixersOf(const ORVANE_DEVICE_ID& device) const {
  auto it = mixers_.find(keyOf(device));
  return it != mixers_.end() ? &it->second : nullptr;
}

FormMixer* MainFrame::monitorMixer(const ORVANE_DEVICE_ID& device) const {
  const DeviceMixers* mixers = mixersOf(device);
  return mixers != nullptr ? mixers->monitor.get() : nullptr;
}

FormMixer* MainFrame::playbackMixer(const ORVANE_DEVICE_ID& device) const {
  const DeviceMixers* mixers = mixersOf(device);
  return mixers != nullptr ? mixers->playback.get() : nullptr;
}

FormDevice* MainFrame::devicePage(const ORVANE_DEVICE_ID& device) const {
  auto it = devicePageIndex_.find(keyOf(device));
  return it != devicePageIndex_.end() ? it->second : nullptr;
}

void MainFrame::updateStatusBar() {
  static constexpr const char16_t* kStateTexts[] = {
      u"Streaming state: Undefined", u"Streaming state: Down",    u"Streaming state: Ready",
      u"Streaming state: Prepared",  u"Streaming state: Running", u"Streaming state: Error",
      u"Streaming not supported on USB 1.1 port.",
  };
  const bool connected = mainConnection().isOpen();
  ORVANE_STREAMING_STATUS status{};
  const bool read = connected && mainConnection().ioctlGetStreamingStatus(status) == 0;
  showStreamingStatus(*this, connected, read ? &status : nullptr, kStateTexts);
}

// ---------------------------------------------------------------------------
// Connections and notifications

void MainFrame::connect() {
  OrvaneCplClient& connection = mainConnection();
  if (connection.isOpen()) return;
  connection.openConnection(cpl::kDeviceLinkName, ORVANE_CLIENT_TYPE_PANEL, true);
  if (!connection.isOpen()) return;
  notificationWaiter().configure(handle(), connection.notificationEvent(), cpl::WM_DRIVER_NOTIFICATION);
  notificationWaiter().start();
}

void MainFrame::disconnect() {
  viewConnection_.closeDriver();
  OrvaneCplClient& connection = mainConnection();
  if (!connection.isOpen()) return;
  notificationWaiter().stop();
  connection.closeDriver();
}

void MainFrame::readNotifications() {
  for (;;) {
    ORVANE_MESSAGE record;
    initMessage(record, ORVANE_MSG_NONE, 0);
    if (mainConnection().readNextNotification(record) != 0) return;
    handleNotification(record);
  }
}

void MainFrame::handleNotification(const ORVANE_MESSAGE& message) {
  ORVANE_DEVICE_ID device{};
  switch (message.code) {
    case ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED:
      sampleRatePage_.updateForm();
      bufferSettingsPage_.updateForm();
      updateStatusBar();
      break;
    case ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED:
      sampleRatePage_.updateForm();
      updateStatusBar();
      break;
    case ORVANE_MSG_CODE_DEVICE_LIST_CHANGED:
      updateDeviceList();
      break;
    case ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED:
      if (deviceIdOf(message, &device)) {
        if (FormDevice* page = devicePage(device)) page->updateForm();
      }
      updateStatusBar();
      break;
    case ORVANE_MSG_CODE_MIXER_LAYOUT_CHANGED:
    case ORVANE_MSG_CODE_MIXER_GAINS_CHANGED:
    case ORVANE_MSG_CODE_MIXER_CROSSPOINTS_CHANGED:
      if (deviceIdOf(message, &device) && devicePage(device) != nullptr) {
        for (FormMixer* mixer : {playbackMixer(device), monitorMixer(device)}) {
          if (message.code == ORVANE_MSG_CODE_MIXER_LAYOUT_CHANGED) mixer->rebuildIfVisible();
          if (message.code == ORVANE_MSG_CODE_MIXER_GAINS_CHANGED) mixer->refreshGains();
          if (message.code == ORVANE_MSG_CODE_MIXER_CROSSPOINTS_CHANGED) mixer->refreshCrosspoints();
        }
      }
      break;
    default:
      break;
  }
}

void MainFrame::updateDeviceList() {
  if (isWindowVisible(handle()) && !viewConnection_.isOpen()) openViewConnection();
  bool changed = false;
  mainConnection().updateDeviceList(changed);
  if (changed) {
    if (mainConnection().deviceCount() == 0) disconnect();
    rebuildTree();
    updateStatusBar();
  }
  if (FormBase* page = treePage_.getSelectedForm()) page->updateForm();
}

// ---------------------------------------------------------------------------
// The page error box

std::u16string pageErrorText(std::u16string_view operation, uint32_t status) {
  std::u16string text = platform::formatText(u"%s (Status=%hs).", operation, orvaneStatusName(status));
  switch (status) {
    case ORVANE_STATUS_NOT_IN_HIGH_SPEED_MODE:
      text += u"\nThe device is not connected to a USB high-speed port.";
      break;
    case ORVANE_STATUS_NO_DEVICES:
      text += u"\nThere are no devices connected.";
      break;
    case ORVANE_STATUS_NO_STREAMING_DEVICE:
      text += u"\nThere is no device selected for streaming.";
      break;
    default:
      break;
  }
  return text;
}

void showPageErrorBox(WindowHandle page, std::u16string_view operation, uint32_t status) {
  messageBox(page, pageErrorText(operation, status), loadString(cpl::IDR_MAINFRAME), MB_OK | MB_ICONERROR);
}
