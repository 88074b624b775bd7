#include "control-panel/form_buffer_settings.h"

#include <iterator>

#include "control-panel/main_frame.h"
#include "control-panel/orvane_cpl_client.h"
#include "device-access/orvane_panel_records.h"
#include "platform/format.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, FormBufferSettings::kStreamingGroupId, u"Streaming Buffer Size", 5, 4, 148, 33},
    {ControlKind::comboBox, FormBufferSettings::kStreamingSizeId, u"", 17, 17, 63, 30, style::tabStop},
    {ControlKind::staticText, FormBufferSettings::kStreamingLengthId, u"", 97, 16, 51, 17},
    {ControlKind::groupBox, FormBufferSettings::kAsioGroupId, u"ASIO Buffer Size", 5, 40, 148, 33},
    {ControlKind::comboBox, FormBufferSettings::kAsioSizeId, u"", 17, 53, 63, 30, style::tabStop},
    {ControlKind::staticText, FormBufferSettings::kAsioLengthId, u"", 97, 50, 51, 17},
    {ControlKind::pushButton, FormBufferSettings::kApplyId, u"Apply", 97, 82, 50, 14, style::tabStop},
};

constexpr const char16_t* kStreamingClasses[] = {u"Minimum", u"ExtraSmall", u"Small",
                                                 u"Large",   u"ExtraLarge", u"Safe"};
constexpr const char16_t* kAsioClasses[] = {u"Minimum", u"Small", u"Large", u"Maximum"};

template <size_t N>
std::u16string nameOf(const char16_t* const (&names)[N], uint32_t sizeClass) {
  return sizeClass < N ? names[sizeClass] : u"unknown";
}

template <size_t N>
void fill(ComboBox& combo, const char16_t* const (&names)[N]) {
  combo.resetContent();
  for (size_t value = 0; value < N; ++value) combo.setItemData(combo.addString(names[value]), value);
}

}  // namespace

const DialogTemplate FormBufferSettings::kTemplate{247, u"", 160, 105, kControls};
const std::span<const ResizeRule> FormBufferSettings::kResizeRules{};

std::u16string FormBufferSettings::streamingClassName(uint32_t sizeClass) {
  return nameOf(kStreamingClasses, sizeClass);
}

std::u16string FormBufferSettings::asioClassName(uint32_t sizeClass) { return nameOf(kAsioClasses, sizeClass); }

std::u16string FormBufferSettings::millisecondsText(uint32_t microseconds) {
  return platform::formatText(u"%u.%1u millisecs", microseconds / 1000, microseconds % 1000 / 100);
}

LResult FormBufferSettings::onInitForm(uint32_t, WParam, LParam, bool&) {
  streamingSize_ = controlAs<ComboBox>(kStreamingSizeId);
  streamingLength_ = controlAs<StaticText>(kStreamingLengthId);
  asioSize_ = controlAs<ComboBox>(kAsioSizeId);
  asioLength_ = controlAs<StaticText>(kAsioLengthId);
  apply_ = controlAs<Button>(kApplyId);
  fill(*streamingSize_, kStreamingClasses);
  fill(*asioSize_, kAsioClasses);
  return 0;
}

void FormBufferSettings::enableControls(bool enable) {
  for (Control* control : {static_cast<Control*>(streamingSize_), static_cast<Control*>(streamingLength_),
                           static_cast<Control*>(asioSize_), static_cast<Control*>(asioLength_),
                           static_cast<Control*>(apply_)}) {
    enableWindow(control->handle(), enable);
  }
}

void FormBufferSettings::updateForm() {
  ORVANE_BUFFER_SIZES sizes{};
  if (!mainConnection().isOpen() || mainConnection().ioctlGetBufferSizes(sizes) != 0) {
    enableControls(false);
    return;
  }
  streamingSize_->setCurrentSelection(streamingSize_->findStringExact(streamingClassName(sizes.streamingBufferSizeClass)));
  asioSize_->setCurrentSelection(asioSize_->findStringExact(asioClassName(sizes.asioBufferSizeClass)));
  enableControls(true);
  streamingLength_->setText(millisecondsText(sizes.streamingBufferMicroseconds) + u"\n");
  asioLength_->setText(millisecondsText(sizes.asioBufferMicroseconds) +
                       platform::formatText(u"\n%u samples", sizes.asioBufferSamples));
}

void FormBufferSettings::apply() {
  if (!mainConnection().isOpen()) return;
  ORVANE_BUFFER_SIZES sizes{};
  uint32_t status = mainConnection().ioctlGetBufferSizes(sizes);
  if (status != 0) {
    showPageErrorBox(handle(), u"Get the buffer sizes failed.", status);
  } else {
    // A combo box without a selection gives the item data of no entry (-1),
    // which the service refuses as an unknown class.
    const ORVANE_BUFFER_SETTINGS settings{static_cast<uint32_t>(streamingSize_->itemData(streamingSize_->currentSelection())),
                                          static_cast<uint32_t>(asioSize_->itemData(asioSize_->currentSelection())),
                                          sizes.thirdSetting};
    status = mainConnection().setBufferSizes(settings);
    if (status != 0) showPageErrorBox(handle(), u"Changing the buffer sizes failed.", status);
  }
  updateForm();
}

bool FormBufferSettings::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_COMMAND && commandId(wParam) == kApplyId && commandCode(wParam) == BN_CLICKED) {
    apply();
    result = 0;
    return true;
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}
