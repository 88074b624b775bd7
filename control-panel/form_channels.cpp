#include "control-panel/form_channels.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "control-panel/orvane_cpl_client.h"
#include "platform/text.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::listView, FormChannels::kListId, u"", 7, 7, 196, 140, style::border | style::noSortHeader},
};

constexpr ResizeRule kRules[] = {{FormChannels::kListId, resize::growWidth | resize::growHeight}};

template <size_t N>
std::u16string_view recordText(const char16_t (&text)[N]) {
  return {text, platform::wideLength(text, N)};
}

}  // namespace

const DialogTemplate FormChannels::kTemplate{248, u"", 210, 154, kControls};
const std::span<const ResizeRule> FormChannels::kResizeRules{kRules};

LResult FormChannels::onInitForm(uint32_t, WParam, LParam, bool&) {
  list_ = controlAs<ListView>(kListId);
  list_->addExtendedStyle(listStyle::gridLines | listStyle::fullRowSelect);
  list_->insertColumn(0, u"Device", Align::left, 100);
  list_->insertColumn(1, u"Channel name", Align::left, 100);
  return 0;
}

void FormChannels::onFormSize() {
  if (list_ == nullptr) return;
  const int width = list_->clientWidth();
  if (width == 0) return;
  list_->setColumnWidth(0, width / 2);
  list_->setColumnWidth(1, width / 2);
}

void FormChannels::updateForm() {
  list_->deleteAllItems();
  ORVANE_CHANNEL_LIST channels{};
  if (getChannelList(channels) != 0) return;
  OrvaneCplClient& connection = mainConnection();
  const uint32_t count = std::min(channels.count, static_cast<uint32_t>(ORVANE_MAX_CHANNELS));
  for (uint32_t i = 0; i < count; ++i) {
    ORVANE_CHANNEL_INFO info{};
    if (connection.ioctlGetChannelInfo(channels.channelIds[i], info) != 0) continue;
    const OrvaneDevice* device = connection.findDevice(info.deviceId.first, info.deviceId.second);
    if (device == nullptr) continue;
    const int row = list_->insertItem(list_->itemCount(), recordText(device->info().deviceName));
    if (row >= 0) list_->setItemText(row, 1, recordText(info.name));
  }
}

uint32_t FormInChannels::getChannelList(ORVANE_CHANNEL_LIST& list) {
  return mainConnection().ioctlGetInputChannels(list);
}

uint32_t FormOutChannels::getChannelList(ORVANE_CHANNEL_LIST& list) {
  return mainConnection().ioctlGetOutputChannels(list);
}
