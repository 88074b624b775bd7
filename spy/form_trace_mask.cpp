#include "spy/form_trace_mask.h"

#include <algorithm>

#include "platform/format.h"
#include "platform/text.h"
#include "spy/orvane_spy_driver.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, FormTraceMask::kGroupId, u"Trace Mask", 7, 7, 246, 160},
    {ControlKind::listView, FormTraceMask::kListId, u"", 14, 19, 232, 141,
     style::singleSelection | style::border | style::tabStop},
    {ControlKind::pushButton, FormTraceMask::kSetDefaultId, u"Set as default", 193, 172, 60, 14, style::tabStop},
};

constexpr ResizeRule kRules[] = {
    {FormTraceMask::kListId, resize::growWidth | resize::growHeight},
    {FormTraceMask::kGroupId, resize::growWidth | resize::growHeight},
    {FormTraceMask::kSetDefaultId, resize::moveRight | resize::moveDown},
};

constexpr int kBitColumn = 0;
constexpr int kNameColumn = 1;
constexpr int kBits = 32;

}  // namespace

const std::array<const char*, 32> kTraceCategoryNames = {
    "Fatal Errors, assertions",
    "Warnings",
    "Infos, Driver Entry/Unload",
    "Extra information",
    "Device and child devices PnP",
    "Power management",
    "IOCTL request dispatching",
    "",
    "Firmware and FPGA image download",
    "Command/Response message communication",
    "FPGA register access",
    "SPI transaction dump",
    "ASIO interface calls",
    "KS interface calls",
    "",
    "",
    "Streaming errors, SPDIF errors",
    "",
    "SPDIF IN/OUT sample dump",
    "",
    "ISO buffer and packet flow",
    "MIDI IN and OUT",
    "MIDI Data",
    "",
    "Streaming engine state transitions",
    "Streams state transitions",
    "",
    "",
    "DSD data",
    "",
    "",
    "Stream data dump",
};

const DialogTemplate FormTraceMask::kTemplate{102, u"", 260, 193, kControls};
const std::span<const ResizeRule> FormTraceMask::kResizeRules{kRules};

LResult FormTraceMask::onInitForm(uint32_t, WParam, LParam, bool&) {
  list_ = controlAs<ListView>(kListId);
  list_->addExtendedStyle(listStyle::gridLines | listStyle::checkBoxes | listStyle::fullRowSelect);
  list_->insertColumn(kBitColumn, u"Bit", Align::right, kBitColumnWidth);
  list_->insertColumn(kNameColumn, u"Trace Bit Description", Align::left, 0);
  fill();
  onFormSize();
  return 0;
}

void FormTraceMask::onFormSize() {
  if (list_ == nullptr) return;
  list_->setColumnWidth(kBitColumn, kBitColumnWidth);
  list_->setColumnWidth(kNameColumn, std::max(0, list_->clientWidth() - kBitColumnWidth));
}

void FormTraceMask::updateForm() {
  if (activeConnection() != nullptr) fill();
}

void FormTraceMask::fill() {
  filling_ = true;
  list_->deleteAllItems();
  uint32_t mask = 0;
  if (OrvaneSpyDriver* connection = activeConnection()) connection->getTraceMask(mask);
  for (int bit = 0; bit < kBits; ++bit) {
    const int row = list_->insertItem(bit, platform::formatText(u"%2u", bit), static_cast<LParam>(1u << bit));
    list_->setItemText(row, kNameColumn, platform::toWide(kTraceCategoryNames[static_cast<size_t>(bit)]));
    list_->setChecked(row, (mask & (1u << bit)) != 0);
  }
  filling_ = false;
}

// Every change of a row (its check box or its selection) writes the row's
// bit, as the row shows it, into the kernel driver's present mask.
void FormTraceMask::itemChanged(const ListViewChange& change) {
  if (filling_ || change.item < 0) return;
  OrvaneSpyDriver* connection = activeConnection();
  uint32_t mask = 0;
  if (connection != nullptr && connection->getTraceMask(mask) != 0) return;
  const auto bit = static_cast<uint32_t>(list_->itemData(change.item));
  mask = list_->isChecked(change.item) ? (mask | bit) : (mask & ~bit);
  if (connection != nullptr) connection->setTraceMask(mask);
}

bool FormTraceMask::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_NOTIFY && list_ != nullptr) {
    const auto* header = reinterpret_cast<const NotifyHeader*>(lParam);
    if (header->idFrom == static_cast<uint32_t>(kListId) && header->code == LVN_ITEMCHANGED) {
      itemChanged(*reinterpret_cast<const ListViewChange*>(lParam));
      result = 0;
      return true;
    }
  }
  if (message == WM_COMMAND && commandId(wParam) == kSetDefaultId && commandCode(wParam) == BN_CLICKED) {
    if (OrvaneSpyDriver* connection = activeConnection()) connection->saveTraceMask();
    result = 0;
    return true;
  }
  if (message == WM_DESTROY) list_ = nullptr;
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}
