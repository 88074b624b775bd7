#pragma once
// The spy tool's main window: the object tree on the left, built from the
// kernel driver's statistics record, and the chosen object's page on the
// right; the record is read once a second over the spy's own connection.
// Every statistics page points into the frame's one copy of the record.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device-access/device_notification_list.h"
#include "device-access/orvane_statistics.h"
#include "forms/form_selection.h"
#include "forms/form_static_text.h"
#include "forms/streaming_status_panes.h"
#include "forms/wtl_min_max_track_size.h"
#include "forms/wtl_registry_setting.h"
#include "platform/ui/frame_window.h"
#include "platform/ui/image_list.h"
#include "platform/ui/splitter.h"
#include "spy/form_driver_info.h"
#include "spy/form_empty.h"
#include "spy/form_statistics.h"
#include "spy/form_trace_mask.h"
#include "spy/orvane_spy_driver.h"

class MainFrame : public platform::ui::FrameWindow,
                  public WtlMinMaxTrackSize<MainFrame>,
                  public WtlRegistrySetting<MainFrame> {
 public:
  static constexpr int kMinimumWidth = 550;
  static constexpr int kMinimumHeight = 550;
  static constexpr int kTreeWidth = 210;
  static constexpr uintptr_t kTimerId = 1111;
  static constexpr uint32_t kRefreshPeriodMs = 1000;
  static constexpr int kStreamingPane = kStreamingStatePane;
  static constexpr int kRatePane = kSamplingRatePane;

  // The tree's images, in the order they are added to the image list.
  enum Image { imageA, imageB, imageC, imageD, imageE, imageF, imageG, imageH, imageCount };
  // The four group nodes of a device, in tree order.
  enum Group { asioInGroup, asioOutGroup, soundInGroup, soundOutGroup, groupCount };

  MainFrame();
  ~MainFrame() override;

  // Creates the frame (hidden) at `rect`; false when that fails.
  bool createFrame(const platform::ui::Rect& rect);

  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  void connectDriver();
  void rebuildRoots();
  void refreshStatistics();
  // Takes a record read from the kernel driver: copies it over the frame's
  // copy, rebuilds what changed and re-formats the current page.
  void applyStatistics(const ORVANE_STATISTICS& record);
  void rebuildObjectTree();
  void rebuildAsioHosts();
  void rebuildMidiClients();
  void setCurrentForm(FormBase* page);
  void updateStatusBar();
  void clearStatistics();

  FormSelection& treePage() { return treePage_; }
  FormStaticText& noDevicePage() { return noDevicePage_; }
  FormStaticText& releaseBuildPage() { return releaseBuildPage_; }
  FormTraceMask& traceMaskPage() { return traceMaskPage_; }
  FormDriverInfo& driverInfoPage() { return driverInfoPage_; }
  FormBase* currentForm() const { return currentForm_; }
  OrvaneSpyDriver& spyConnection() { return connection_; }
  const ORVANE_STATISTICS& statistics() const { return *statistics_; }
  platform::ui::SplitterWindow& splitter() { return splitter_; }
  int imageIndex(Image image) const { return imageIndex_[image]; }
  bool timerRunning() const { return timerRunning_; }

  // The pages of the current tree, for the tests and pictures.
  FormStatisticsDevice* devicePage(uint64_t deviceId) const;
  FormStatistics* hwPortPage(uint64_t portId) const;
  FormStatistics* midiPortPage(uint64_t midiPortId) const;
  FormEmpty* groupPage(uint64_t deviceId, Group group) const;
  size_t objectPageCount() const { return objectPages_.size(); }
  size_t asioHostPageCount() const { return asioHostPages_.size(); }
  size_t midiClientPageCount() const { return midiClientPages_.size(); }

 private:
  struct DevicePages {
    std::unique_ptr<FormStatisticsDevice> page;
    std::array<std::unique_ptr<FormEmpty>, groupCount> groups;
  };

  platform::ui::LResult onCreate();
  void onDeviceChange(platform::ui::WParam event, platform::ui::LParam record);
  void onDestroy();
  bool handleFrameMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                          platform::ui::LResult& result);
  void onSelectionChanged();

  // Creates a statistics page as a hidden child of the splitter and adds its node.
  template <class Page, class Entry>
  Page* addStatisticsPage(std::vector<std::unique_ptr<FormStatistics>>& list, const Entry* entry,
                          std::u16string_view text, FormBase* parent, Image image);
  void addDevices();
  void addStreams();
  void addHwPortsAndChannels();
  void addGroups();
  void addAsioChannelsAndSoundDevices();
  void addMidiPorts();
  void addAsioHostNodes();
  void addMidiClientNodes();
  void destroyPage(SpyFormBase* page);
  void destroyPages(std::vector<std::unique_ptr<FormStatistics>>& pages);
  void destroyDevicePages();
  void destroyAllStatisticsPages();

  // The selected node as the texts from the top level down; reselected
  // after a rebuild where the object still exists.
  std::vector<std::u16string> selectedPath() const;
  void reselect(const std::vector<std::u16string>& path);
  // Follows the tree's selection after a rebuild.
  void followSelection();

  platform::ui::SplitterWindow splitter_;
  platform::ui::ImageList images_{16, 16, 8, 2};
  std::array<int, imageCount> imageIndex_{};
  FormSelection treePage_{images_};
  FormStaticText noDevicePage_{u"", FormStaticText::Alignment::topLeft};
  FormStaticText releaseBuildPage_{kReleaseBuildText, FormStaticText::Alignment::topLeft};
  FormTraceMask traceMaskPage_;
  FormDriverInfo driverInfoPage_;
  OrvaneSpyDriver connection_;
  std::unique_ptr<ORVANE_STATISTICS> statistics_ = std::make_unique<ORVANE_STATISTICS>();
  bool rebuildFlag_ = false;
  // Set while pages and nodes are being replaced: selection changes and
  // refreshes wait until the tree is whole again.
  bool rebuilding_ = false;
  std::vector<std::unique_ptr<DevicePages>> devicePages_;
  std::vector<std::unique_ptr<FormStatistics>> objectPages_;
  std::vector<std::unique_ptr<FormStatistics>> asioHostPages_;
  std::vector<std::unique_ptr<FormStatistics>> midiClientPages_;
  std::map<uint64_t, DevicePages*> deviceMap_;
  std::map<uint64_t, FormStatistics*> portMap_;
  std::map<uint64_t, FormStatistics*> midiPortMap_;
  DeviceNotificationList deviceNotifications_;
  bool timerRunning_ = false;
  FormBase* currentForm_ = nullptr;
};
