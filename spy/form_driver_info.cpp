#include "spy/form_driver_info.h"

#include "platform/format.h"
#include "spy/orvane_spy_driver.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, FormDriverInfo::kGroupId, u"Driver Information", 7, 7, 246, 100},
    {ControlKind::staticText, FormDriverInfo::kTextId, u"", 15, 19, 230, 80, style::textTop},
};

constexpr ResizeRule kRules[] = {
    {FormDriverInfo::kGroupId, resize::growWidth | resize::growHeight},
    {FormDriverInfo::kTextId, resize::growWidth | resize::growHeight},
};

}  // namespace

const DialogTemplate FormDriverInfo::kTemplate{101, u"", 260, 193, kControls};
const std::span<const ResizeRule> FormDriverInfo::kResizeRules{kRules};

std::u16string FormDriverInfo::infoText(const ORVANE_DRIVER_INFO& info) {
  const bool debug = (info.flags & ORVANE_DRIVER_FLAG_DEBUG_BUILD) != 0;
  return platform::formatText(u"\nDriver version: \t  %u.%u.%u\nBuild type: \t  %s build", info.driverVersionMajor,
                              info.driverVersionMinor, info.driverVersionBuild, debug ? u"debug" : u"release") +
         platform::formatText(u"\n\nInterface version: %u.%u\n", info.interfaceVersionMajor,
                              info.interfaceVersionMinor);
}

LResult FormDriverInfo::onInitForm(uint32_t, WParam, LParam, bool&) {
  text_ = control(kTextId);
  return 0;
}

void FormDriverInfo::updateForm() {
  OrvaneSpyDriver* connection = activeConnection();
  if (connection == nullptr || text_ == nullptr) return;
  ORVANE_DRIVER_INFO info{};
  text_->setText(connection->ioctlGetDriverInfo(info) == 0 ? infoText(info) : std::u16string());
}
