#include "control-panel/form_devices.h"

#include <iterator>

#include "control-panel/main_frame.h"
#include "control-panel/orvane_cpl_client.h"
#include "platform/format.h"
#include "platform/text.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::listView, FormDevices::kListId, u"", 7, 7, 210, 46,
     style::singleSelection | style::showSelectionAlways | style::noSortHeader | style::border | style::tabStop},
    {ControlKind::groupBox, FormDevices::kGroupId, u"Streaming Mode", 7, 59, 210, 88},
    {ControlKind::radioButton, FormDevices::kOneDeviceId,
     u"Activate streaming for one single device. To pick one, mark the device in the list above and then click the "
     u"button to the right.",
     13, 72, 140, 35, style::group | style::automatic | style::multiLine | style::textTop | style::tabStop},
    {ControlKind::radioButton, FormDevices::kAllDevicesId,
     u"Activate streaming for all devices.\rThis REQUIRES that the sample clock of all devices is synchronized.", 13,
     112, 140, 27, style::automatic | style::multiLine | style::textTop},
    {ControlKind::pushButton, FormDevices::kSelectId, u"Select for Streaming", 159, 72, 52, 25,
     style::multiLine | style::tabStop | style::group},
};

constexpr char16_t kSelectFailed[] = u"Selecting the streaming device failed.";

}  // namespace

const DialogTemplate FormDevices::kTemplate{106, u"", 224, 154, kControls};
const std::span<const ResizeRule> FormDevices::kResizeRules{};

LResult FormDevices::onInitForm(uint32_t, WParam, LParam, bool&) {
  list_ = controlAs<ListView>(kListId);
  select_ = controlAs<Button>(kSelectId);
  list_->addExtendedStyle(listStyle::gridLines | listStyle::fullRowSelect);
  list_->insertColumn(0, u"VID / PID", Align::left, 40);
  list_->insertColumn(1, u"Serial number", Align::left, 40);
  list_->insertColumn(2, u"Streaming", Align::centre, 30);
  streamingMode_ = ORVANE_STREAMING_MODE_SINGLE_DEVICE;
  checkRadioButton(kOneDeviceId, kAllDevicesId, kOneDeviceId);
  return 0;
}

void FormDevices::onFormSize() {
  if (list_ == nullptr) return;
  const int width = list_->clientWidth();
  if (width == 0) return;
  list_->setColumnWidth(0, width * 2 / 7);
  list_->setColumnWidth(1, width * 2 / 6);
  list_->setColumnWidth(2, width * 1 / 5);
}

void FormDevices::updateForm() {
  OrvaneCplClient& connection = mainConnection();
  list_->deleteAllItems();
  devicePositions_.assign(connection.deviceCount(), ORVANE_DEVICE_ID{});
  ORVANE_STREAMING_STATUS status{};
  if (connection.ioctlGetStreamingStatus(status) != 0) status = {};
  for (size_t position = 0; position < devicePositions_.size(); ++position) {
    const OrvaneDevice* device = connection.deviceAt(position);
    if (device == nullptr) continue;
    const ORVANE_DEVICE_INFO& info = device->info();
    const int row = list_->insertItem(list_->itemCount(),
                                      platform::formatText(u"0x%04X / 0x%04X", info.vendorId, info.productId),
                                      static_cast<LParam>(position));
    const std::u16string_view serial(info.serialNumber,
                                     platform::wideLength(info.serialNumber, std::size(info.serialNumber)));
    list_->setItemText(row, 1, serial);
    list_->setItemText(row, 2, (info.streamingSelected & ORVANE_DEVICE_STREAMING_SELECTED) != 0 ? u"X" : u"");
    devicePositions_[position] = info.deviceId;
  }
  enableSelectButton();
  if (status.mode == ORVANE_STREAMING_MODE_SINGLE_DEVICE || status.mode == ORVANE_STREAMING_MODE_ALL_DEVICES) {
    streamingMode_ = status.mode;
  }
  checkRadioButton(kOneDeviceId, kAllDevicesId,
                   streamingMode_ == ORVANE_STREAMING_MODE_SINGLE_DEVICE ? kOneDeviceId : kAllDevicesId);
}

void FormDevices::enableSelectButton() { enableWindow(select_->handle(), list_->selectedItem() >= 0); }

void FormDevices::selectMarkedDevice() {
  const int row = list_->selectedItem();
  if (row < 0) return;
  const auto position = static_cast<size_t>(list_->itemData(row));
  if (position < devicePositions_.size()) {
    const ORVANE_DEVICE_ID& device = devicePositions_[position];
    const uint32_t status =
        mainConnection().selectStreamingDevice(device.first, device.second, ORVANE_STREAMING_MODE_SINGLE_DEVICE);
    if (status != 0) showPageErrorBox(handle(), kSelectFailed, status);
  }
  updateForm();
}

void FormDevices::changeStreamingMode() {
  uint32_t mode = 0;
  if (isButtonChecked(kOneDeviceId)) {
    mode = ORVANE_STREAMING_MODE_SINGLE_DEVICE;
  } else if (isButtonChecked(kAllDevicesId)) {
    mode = ORVANE_STREAMING_MODE_ALL_DEVICES;
  } else {
    return;
  }
  const uint32_t status = mainConnection().selectStreamingDevice(0, 0, mode);
  if (status != 0) showPageErrorBox(handle(), kSelectFailed, status);
  updateForm();
}

bool FormDevices::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NotifyHeader*>(lParam);
    if (header->idFrom == static_cast<uint32_t>(kListId) && header->code == LVN_ITEMCHANGED) {
      enableSelectButton();
      result = 0;
      return true;
    }
  }
  if (message == WM_COMMAND && commandCode(wParam) == BN_CLICKED) {
    switch (commandId(wParam)) {
      case kSelectId:
        selectMarkedDevice();
        result = 0;
        return true;
      case kOneDeviceId:
      case kAllDevicesId:
        changeStreamingMode();
        result = 0;
        return true;
      default:
        break;
    }
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}
