#include "spy/main_frame.h"

#include <algorithm>
#include <span>

#include "device-access/orvane_status.h"
#include "platform/device_notifications.h"
#include "platform/format.h"
#include "platform/guid.h"
#include "platform/ui/application.h"
#include "platform/ui/resources.h"
#include "spy/c_about_dlg.h"
#include "spy/list_item.h"
#include "spy/spy_resources.h"

using namespace platform::ui;

namespace {

constexpr char16_t kNoDeviceText[] = u"\n\n\n\tThere is no ORVANE device connected.";
constexpr char16_t kVersionText[] =
    u"\n\tThe current driver version is not supported by this application.\n\tExpected driver version is %u.%u.%u.";

constexpr const char16_t* kGroupTexts[] = {u"ASIO IN Channels", u"ASIO OUT Channels", u"Sound Devices IN",
                                           u"Sound Devices OUT"};

uint64_t keyOf(uint32_t low, uint32_t high) { return static_cast<uint64_t>(high) << 32 | low; }
uint64_t keyOf(const ORVANE_DEVICE_ID& device) { return keyOf(device.first, device.second); }

// The valid entries of a table: its count, but never more than its slots.
template <class Entry, size_t Slots>
std::span<const Entry> validEntries(uint32_t count, const Entry (&table)[Slots]) {
  return {table, std::min<size_t>(count, Slots)};
}

std::u16string portText(const char16_t* direction, const ORVANE_STAT_HW_PORT& port) {
  const char16_t* type = u"UNKNOWN";
  switch (port.portType) {
    case 1: type = u"I2S"; break;
    case 2: type = u"DSD"; break;
    case 10: type = u"SPDIF"; break;
    case 40: type = u"Virtual"; break;
    default: break;
  }
  return platform::formatText(u"%s %s %u", direction, type, port.portNumber);
}

template <class Entry>
std::u16string channelText(const Entry& entry) {
  std::u16string text(boundedText(entry.name));
  if (entry.connected == 0) text += u" (nc)";
  return text;
}

template <class Map>
auto findIn(const Map& map, uint64_t key) -> typename Map::mapped_type {
  auto it = map.find(key);
  return it != map.end() ? it->second : nullptr;
}

}  // namespace

MainFrame::MainFrame()
    : WtlMinMaxTrackSize<MainFrame>(kMinimumWidth, kMinimumHeight), WtlRegistrySetting<MainFrame>(spy::kSettingsKey) {}

MainFrame::~MainFrame() {
  if (exists()) destroyWindow(handle());
}

bool MainFrame::createFrame(const Rect& rect) {
  return create(spy::kFrameClassName, loadString(spy::IDR_MAINFRAME), rect, loadIcon(spy::IDR_MAINFRAME));
}

// ---------------------------------------------------------------------------
// Messages

bool MainFrame::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  return handleFrameMessage(message, wParam, lParam, result) ||
         FrameWindow::processMessage(message, wParam, lParam, result) ||
         processTrackSizeMessage(message, wParam, lParam, result);
}

bool MainFrame::handleFrameMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  result = 0;
  switch (message) {
    case WM_CREATE: result = onCreate(); return true;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NotifyHeader*>(lParam);
      if (header->idFrom != static_cast<uint32_t>(FormSelection::kTreeId) || header->code != TVN_SELCHANGED) {
        return false;
      }
      onSelectionChanged();
      return true;
    }
    case WM_TIMER:
      if (wParam != kTimerId) return false;
      refreshStatistics();
      updateStatusBar();
      return true;
    case WM_COMMAND:
      switch (commandId(wParam)) {
        case spy::ID_CLEAR_STATISTICS: clearStatistics(); return true;
        case spy::ID_APP_ABOUT: {
          CAboutDlg about;
          const WindowHandle active = getActiveWindow();
          about.doModal(active ? active : handle());
          return true;
        }
        case spy::ID_APP_EXIT: postMessage(handle(), WM_CLOSE); return true;
        default: return false;
      }
    case WM_DEVICECHANGE: onDeviceChange(wParam, lParam); return true;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) savePlacement();
      return false;                                // the normal minimizing or closing follows
    case WM_CLOSE: savePlacement(); return false;  // the window is destroyed
    case WM_DESTROY: onDestroy(); return true;
    default: return false;
  }
}

LResult MainFrame::onCreate() {
  const CommandImage commandImages[] = {{spy::ID_APP_ABOUT, loadIcon(spy::IDI_ABOUT_IMAGE)}};
  createCommandBar(spy::mainMenu(), commandImages);
  createStatusBar(loadString(spy::ATL_IDS_IDLEMESSAGE), {170, 190});
  splitter_.create(handle());
  setClientWindow(splitter_);
  splitter_.setSplitterPosition(kTreeWidth);

  const int icons[imageCount] = {spy::IDI_DEVICE,        spy::IDI_TRACE_MASK, spy::IDI_ASIO_HOST,
                                 spy::IDI_STREAM_IN,     spy::IDI_STREAM_OUT, spy::IDI_OBJECT,
                                 spy::IDI_NOT_CONNECTED, spy::IDI_DRIVER_INFO};
  for (int image = 0; image < imageCount; ++image) imageIndex_[image] = images_.add(loadIcon(icons[image]));

  const WindowHandle pane = splitter_.handle();
  treePage_.create(pane);
  noDevicePage_.create(pane);
  releaseBuildPage_.create(pane);
  traceMaskPage_.create(pane);
  driverInfoPage_.create(pane);

  connectDriver();
  rebuildRoots();
  platform::Guid interfaceClass;
  platform::parseGuid(std::string_view(spy::kDeviceInterfaceClass), &interfaceClass);
  deviceNotifications_.add(deviceNotificationRecipient(), interfaceClass, platform::DEVICE_NOTIFY_WINDOW_HANDLE);
  loadPlacement(true);
  showWindow(treePage_.handle(), SW_SHOW);
  splitter_.setPane(SplitterWindow::left, treePage_.handle());
  splitter_.layoutPanes();
  timerRunning_ = setTimer(handle(), kTimerId, kRefreshPeriodMs) != 0;
  updateStatusBar();
  refreshStatistics();
  return 0;
}

void MainFrame::onSelectionChanged() {
  if (rebuilding_) return;  // the rebuild follows the selection when it is done
  FormBase* page = treePage_.getSelectedForm();
  if (page == nullptr) return;
  page->updateForm();
  setCurrentForm(page);
}

void MainFrame::clearStatistics() {
  if (connection_.isOpen()) {
    auto scratch = std::make_unique<ORVANE_STATISTICS>();
    (void)connection_.getStatistics(*scratch, true);
  }
  refreshStatistics();
  updateStatusBar();
}

void MainFrame::onDeviceChange(WParam event, LParam record) {
  if (!platform::deviceInterfaceRecordHasName(reinterpret_cast<const uint8_t*>(record))) return;
  bool changed = false;
  if (event == platform::DBT_DEVICEARRIVAL) {
    connectDriver();
    connection_.updateDeviceList(changed);
  } else if (event == platform::DBT_DEVICEREMOVECOMPLETE) {
    connection_.updateDeviceList(changed);
    if (connection_.isOpen() && connection_.deviceCount() == 0) {
      connection_.closeDriver();
      setActiveConnection(nullptr);
      // Without it the page would be empty after a removal.
      noDevicePage_.setText(kNoDeviceText);
    }
  } else {
    return;
  }
  rebuildRoots();
  updateStatusBar();
}

void MainFrame::onDestroy() {
  connection_.closeDriver();
  if (activeConnection() == &connection_) setActiveConnection(nullptr);
  killTimer(handle(), kTimerId);
  timerRunning_ = false;
  deviceNotifications_.removeAll();
  // The pages' windows go with the frame's; their objects stay until the
  // frame object goes, as the window layer still reaches them while it
  // destroys the children.
  enableWindow(treePage_.handle(), false);
  currentForm_ = nullptr;
  postQuitMessage(1);
}

// ---------------------------------------------------------------------------
// Connection and fixed nodes

void MainFrame::connectDriver() {
  if (activeConnection() != nullptr) return;
  const uint32_t status = connection_.openDriver(kSpyDeviceLinkName, false, false);
  if (status != 0) {
    std::u16string text = kNoDeviceText;
    if (status == ORVANE_STATUS_VERSION_MISMATCH) {
      text += platform::formatText(kVersionText, CAboutDlg::kVersionMajor, CAboutDlg::kVersionMinor,
                                   CAboutDlg::kVersionBuild);
    }
    noDevicePage_.setText(text);
    return;
  }
  setActiveConnection(&connection_);
  rebuildFlag_ = true;
}

void MainFrame::rebuildRoots() {
  if (!connection_.isOpen()) {
    enableWindow(treePage_.handle(), false);
    destroyAllStatisticsPages();
    for (FormBase* page : {static_cast<FormBase*>(&traceMaskPage_), static_cast<FormBase*>(&releaseBuildPage_),
                           static_cast<FormBase*>(&driverInfoPage_)}) {
      treePage_.removeForm(page);
    }
    setCurrentForm(&noDevicePage_);
    return;
  }
  if (!treePage_.hasForm(&driverInfoPage_)) {
    treePage_.addForm(u"DriverInfo", &driverInfoPage_, nullptr, imageIndex_[imageH]);
  }
  if (connection_.isDebugBuild()) {
    treePage_.removeForm(&releaseBuildPage_);
    if (!treePage_.hasForm(&traceMaskPage_)) {
      treePage_.addForm(u"Trace Mask", &traceMaskPage_, nullptr, imageIndex_[imageB]);
    }
  } else {
    treePage_.removeForm(&traceMaskPage_);
    if (!treePage_.hasForm(&releaseBuildPage_)) {
      treePage_.addForm(u"Trace Mask", &releaseBuildPage_, nullptr, imageIndex_[imageB]);
    }
  }
  refreshStatistics();
  enableWindow(treePage_.handle(), true);
  // A device that comes or goes leaves the user's choice where it is.
  if (treePage_.getSelectedForm() == nullptr || currentForm_ == &noDevicePage_) {
    treePage_.selectFirstForm();
    followSelection();
  }
}

// ---------------------------------------------------------------------------
// The statistics record

void MainFrame::refreshStatistics() {
  if (!connection_.isOpen() || rebuilding_) return;
  auto record = std::make_unique<ORVANE_STATISTICS>();
  if (connection_.getStatistics(*record, false) != 0) return;
  applyStatistics(*record);
}

void MainFrame::applyStatistics(const ORVANE_STATISTICS& record) {
  ORVANE_STATISTICS& copy = *statistics_;
  const bool hostsChanged = record.asioHostCount != copy.asioHostCount;
  const bool clientsChanged = record.inputMidiClientCount != copy.inputMidiClientCount ||
                              record.outputMidiClientCount != copy.outputMidiClientCount;
  const uint32_t generation = copy.generation;
  if (&record != &copy) copy = record;

  const bool everything = copy.generation != generation || rebuildFlag_;
  if (everything || hostsChanged || clientsChanged) {
    const std::vector<std::u16string> path = selectedPath();
    rebuilding_ = true;
    if (everything) {
      rebuildFlag_ = false;
      rebuildObjectTree();
      rebuildMidiClients();
    } else {
      if (hostsChanged) rebuildAsioHosts();
      if (clientsChanged) rebuildMidiClients();
    }
    rebuilding_ = false;
    reselect(path);
    if (everything) return;
  }
  if (currentForm_ == nullptr) return;
  auto* page = dynamic_cast<SpyFormBase*>(currentForm_);
  if (page != nullptr && page->isStatisticsForm()) page->updateStatistics(copy);
}

// ---------------------------------------------------------------------------
// Building the tree

template <class Page, class Entry>
Page* MainFrame::addStatisticsPage(std::vector<std::unique_ptr<FormStatistics>>& list, const Entry* entry,
                                   std::u16string_view text, FormBase* parent, Image image) {
  auto page = std::make_unique<Page>(entry);
  Page* created = page.get();
  created->create(splitter_.handle());
  treePage_.addForm(text, created, parent, imageIndex_[image]);
  list.push_back(std::move(page));
  return created;
}

void MainFrame::rebuildObjectTree() {
  destroyPages(midiClientPages_);
  destroyPages(objectPages_);
  destroyDevicePages();
  addDevices();
  addStreams();
  addHwPortsAndChannels();
  addGroups();
  addAsioChannelsAndSoundDevices();
  addMidiPorts();
  rebuildAsioHosts();
}

void MainFrame::rebuildAsioHosts() {
  destroyPages(asioHostPages_);
  addAsioHostNodes();
}

void MainFrame::rebuildMidiClients() {
  destroyPages(midiClientPages_);
  addMidiClientNodes();
}

// Two entries with one identifier: the first one is entered in the map (and
// receives the children); the later ones are still shown, without children.
void MainFrame::addDevices() {
  for (const ORVANE_STAT_DEVICE& entry : validEntries(statistics_->deviceCount, statistics_->devices)) {
    auto pages = std::make_unique<DevicePages>();
    pages->page = std::make_unique<FormStatisticsDevice>(&entry);
    pages->page->create(splitter_.handle());
    treePage_.addForm(boundedText(entry.name), pages->page.get(), nullptr, imageIndex_[imageA]);
    deviceMap_.emplace(keyOf(entry.deviceId), pages.get());
    devicePages_.push_back(std::move(pages));
  }
}

void MainFrame::addStreams() {
  const ORVANE_STATISTICS& record = *statistics_;
  uint32_t i = 0;
  for (const ORVANE_STAT_ISO_STREAM_IN& entry : validEntries(record.inputStreamCount, record.inputStreams)) {
    if (DevicePages* device = findIn(deviceMap_, keyOf(entry.stream.deviceId))) {
      addStatisticsPage<FormStatisticsIsoStreamIn>(objectPages_, &entry, platform::formatText(u"IN Stream %u", i),
                                                   device->page.get(), imageD);
    }
    ++i;
  }
  i = 0;
  for (const ORVANE_STAT_ISO_STREAM& entry : validEntries(record.outputStreamCount, record.outputStreams)) {
    if (DevicePages* device = findIn(deviceMap_, keyOf(entry.deviceId))) {
      addStatisticsPage<FormStatisticsIsoStreamOut>(objectPages_, &entry, platform::formatText(u"OUT Stream %u", i),
                                                    device->page.get(), imageE);
    }
    ++i;
  }
}

void MainFrame::addHwPortsAndChannels() {
  const ORVANE_STATISTICS& record = *statistics_;
  const auto addPorts = [&](const char16_t* direction, std::span<const ORVANE_STAT_HW_PORT> ports) {
    for (const ORVANE_STAT_HW_PORT& entry : ports) {
      DevicePages* device = findIn(deviceMap_, keyOf(entry.deviceId));
      if (device == nullptr) continue;
      FormStatistics* page = addStatisticsPage<FormStatisticsHwPort>(objectPages_, &entry, portText(direction, entry),
                                                                     device->page.get(), imageF);
      portMap_.emplace(keyOf(entry.hwPortIdLow, entry.hwPortIdHigh), page);
    }
  };
  const auto addChannels = [&](const char16_t* format, std::span<const ORVANE_STAT_PORT_CHANNEL> channels) {
    uint32_t i = 0;
    for (const ORVANE_STAT_PORT_CHANNEL& entry : channels) {
      if (FormStatistics* port = findIn(portMap_, keyOf(entry.hwPortIdLow, entry.hwPortIdHigh))) {
        addStatisticsPage<FormStatisticsPortChannel>(objectPages_, &entry, platform::formatText(format, i), port,
                                                     imageA);
      }
      ++i;
    }
  };
  addPorts(u"IN", validEntries(record.inputHwPortCount, record.inputHwPorts));
  addChannels(u"IN PortChannel %u", validEntries(record.inputPortChannelCount, record.inputPortChannels));
  addPorts(u"OUT", validEntries(record.outputHwPortCount, record.outputHwPorts));
  addChannels(u"OUT PortChannel %u", validEntries(record.outputPortChannelCount, record.outputPortChannels));
  // The deframer page reads its counters at offsets from the entry's start,
  // so it is given the entry itself.
  for (const ORVANE_STAT_SPDIF_DEFRAMER& entry : validEntries(record.spdifDeframerCount, record.spdifDeframers)) {
    if (FormStatistics* port = findIn(portMap_, keyOf(entry.hwPortIdLow, entry.hwPortIdHigh))) {
      addStatisticsPage<FormStatisticsSpdifDeframer>(objectPages_, &entry, u"SPDIF Deframer", port, imageA);
      treePage_.expandForm(port, false);
    }
  }
}

void MainFrame::addGroups() {
  for (auto& device : devicePages_) {
    for (int group = 0; group < groupCount; ++group) {
      device->groups[group] = std::make_unique<FormEmpty>();
      device->groups[group]->create(splitter_.handle());
      treePage_.addForm(kGroupTexts[group], device->groups[group].get(), device->page.get(), imageIndex_[imageF]);
    }
  }
}

void MainFrame::addAsioChannelsAndSoundDevices() {
  const ORVANE_STATISTICS& record = *statistics_;
  const auto addTo = [&]<class Page, class Entry>(Group group, std::span<const Entry> entries, Page*) {
    for (const Entry& entry : entries) {
      DevicePages* device = findIn(deviceMap_, keyOf(entry.deviceId));
      if (device == nullptr) continue;
      FormEmpty* parent = device->groups[group].get();
      addStatisticsPage<Page>(objectPages_, &entry, channelText(entry), parent, entry.connected != 0 ? imageF : imageG);
      treePage_.expandForm(parent, false);
    }
  };
  addTo(asioInGroup, validEntries(record.inputAsioChannelCount, record.inputAsioChannels),
        static_cast<FormStatisticsAsioChannel*>(nullptr));
  addTo(asioOutGroup, validEntries(record.outputAsioChannelCount, record.outputAsioChannels),
        static_cast<FormStatisticsAsioChannel*>(nullptr));
  addTo(soundInGroup, validEntries(record.recordingSoundDeviceCount, record.recordingSoundDevices),
        static_cast<FormStatisticsSoundDevice*>(nullptr));
  addTo(soundOutGroup, validEntries(record.playbackSoundDeviceCount, record.playbackSoundDevices),
        static_cast<FormStatisticsSoundDevice*>(nullptr));
}

void MainFrame::addMidiPorts() {
  const ORVANE_STATISTICS& record = *statistics_;
  const auto addPorts = [&]<class Page>(const char16_t* format, std::span<const ORVANE_STAT_MIDI_PORT> ports, Page*) {
    for (const ORVANE_STAT_MIDI_PORT& entry : ports) {
      DevicePages* device = findIn(deviceMap_, keyOf(entry.deviceId));
      if (device == nullptr) continue;
      FormStatistics* page = addStatisticsPage<Page>(objectPages_, &entry, platform::formatText(format, entry.index),
                                                     device->page.get(), imageF);
      midiPortMap_.emplace(keyOf(entry.midiPortIdLow, entry.midiPortIdHigh), page);
    }
  };
  addPorts(u"MIDI IN Port %u", validEntries(record.inputMidiPortCount, record.inputMidiPorts),
           static_cast<FormStatisticsMidiPortIn*>(nullptr));
  addPorts(u"MIDI OUT Port %u", validEntries(record.outputMidiPortCount, record.outputMidiPorts),
           static_cast<FormStatisticsMidiPortOut*>(nullptr));
}

void MainFrame::addAsioHostNodes() {
  uint32_t i = 0;
  for (const ORVANE_STAT_ASIO_HOST& entry : validEntries(statistics_->asioHostCount, statistics_->asioHosts)) {
    addStatisticsPage<FormStatisticsAsioHost>(asioHostPages_, &entry, platform::formatText(u"Asio Host %u", i), nullptr,
                                              imageC);
    ++i;
  }
}

void MainFrame::addMidiClientNodes() {
  const ORVANE_STATISTICS& record = *statistics_;
  const auto addClients = [&]<class Page, class Entry>(const char16_t* format, std::span<const Entry> clients, Page*) {
    uint32_t i = 0;
    for (const Entry& entry : clients) {
      if (FormStatistics* port = findIn(midiPortMap_, keyOf(entry.midiPortIdLow, entry.midiPortIdHigh))) {
        addStatisticsPage<Page>(midiClientPages_, &entry, platform::formatText(format, i), port, imageF);
      }
      ++i;
    }
  };
  addClients(u"MIDI IN client %u", validEntries(record.inputMidiClientCount, record.inputMidiClients),
             static_cast<FormStatisticsMidiClientIn*>(nullptr));
  addClients(u"MIDI OUT client %u", validEntries(record.outputMidiClientCount, record.outputMidiClients),
             static_cast<FormStatisticsMidiClientOut*>(nullptr));
}

// ---------------------------------------------------------------------------
// Destroying pages

void MainFrame::destroyPage(SpyFormBase* page) {
  if (currentForm_ == page) currentForm_ = nullptr;
  treePage_.removeForm(page);
  const WindowHandle window = page->getFormWindow();
  if (isWindow(window)) destroyWindow(window);
}

void MainFrame::destroyPages(std::vector<std::unique_ptr<FormStatistics>>& pages) {
  for (auto& page : pages) destroyPage(page.get());
  pages.clear();
}

void MainFrame::destroyDevicePages() {
  for (auto& device : devicePages_) {
    for (auto& group : device->groups) {
      if (group) destroyPage(group.get());
    }
    destroyPage(device->page.get());
  }
  devicePages_.clear();
  deviceMap_.clear();
  portMap_.clear();
  midiPortMap_.clear();
}

void MainFrame::destroyAllStatisticsPages() {
  rebuilding_ = true;
  destroyPages(midiClientPages_);
  destroyPages(objectPages_);
  destroyDevicePages();
  destroyPages(asioHostPages_);
  rebuilding_ = false;
}

// ---------------------------------------------------------------------------
// Selection and the right pane

namespace {

bool findPath(const TreeView& tree, TreeItem target, TreeItem first, std::vector<std::u16string>& path) {
  for (TreeItem item = first; item != 0; item = tree.nextSibling(item)) {
    path.push_back(tree.itemText(item));
    if (item == target || findPath(tree, target, tree.childItem(item), path)) return true;
    path.pop_back();
  }
  return false;
}

}  // namespace

std::vector<std::u16string> MainFrame::selectedPath() const {
  std::vector<std::u16string> path;
  const TreeView* tree = treePage_.tree();
  if (tree == nullptr) return path;
  const TreeItem selected = tree->selectedItem();
  if (selected != 0) findPath(*tree, selected, tree->rootItem(), path);
  return path;
}

void MainFrame::reselect(const std::vector<std::u16string>& path) {
  TreeView* tree = treePage_.tree();
  if (tree == nullptr) return;
  TreeItem found = 0;
  TreeItem level = tree->rootItem();
  for (const std::u16string& text : path) {
    found = 0;
    for (TreeItem item = level; item != 0; item = tree->nextSibling(item)) {
      if (tree->itemText(item) == text) {
        found = item;
        break;
      }
    }
    if (found == 0) break;
    level = tree->childItem(found);
  }
  if (found != 0 && found != tree->selectedItem()) {
    tree->selectItem(found);  // TVN_SELCHANGED makes its page current
    return;
  }
  followSelection();
}

void MainFrame::followSelection() {
  FormBase* selected = treePage_.getSelectedForm();
  if (selected != nullptr && selected != currentForm_) {
    selected->updateForm();
    setCurrentForm(selected);
  }
}

void MainFrame::setCurrentForm(FormBase* page) {
  if (page == nullptr) return;
  if (currentForm_ != nullptr && currentForm_ != page) currentForm_->hideForm();
  page->showForm();
  currentForm_ = page;
  splitter_.setPane(SplitterWindow::right, page->getFormWindow());
  splitter_.layoutPanes();
  page->onFormSize();
  refreshStatistics();
}

void MainFrame::updateStatusBar() {
  static constexpr const char16_t* kStateTexts[] = {
      u"Streaming state: Undefined",   u"Streaming state: Down",    u"Streaming state: Ready",
      u"Streaming state: Prepared",    u"Streaming state: Running", u"Streaming state: Error",
      u"Streaming state: Unsupported",
  };
  const bool connected = connection_.isOpen();
  ORVANE_STREAMING_STATUS status{};
  const bool read = connected && connection_.ioctlGetStreamingStatus(status) == 0;
  showStreamingStatus(*this, connected, read ? &status : nullptr, kStateTexts);
}

// ---------------------------------------------------------------------------
// Lookups

FormStatisticsDevice* MainFrame::devicePage(uint64_t deviceId) const {
  DevicePages* device = findIn(deviceMap_, deviceId);
  return device != nullptr ? device->page.get() : nullptr;
}

FormStatistics* MainFrame::hwPortPage(uint64_t portId) const { return findIn(portMap_, portId); }

FormStatistics* MainFrame::midiPortPage(uint64_t midiPortId) const { return findIn(midiPortMap_, midiPortId); }

FormEmpty* MainFrame::groupPage(uint64_t deviceId, Group group) const {
  DevicePages* device = findIn(deviceMap_, deviceId);
  return device != nullptr ? device->groups[group].get() : nullptr;
}
