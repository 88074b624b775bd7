#include "control-panel/form_drv_info.h"

#include "control-panel/orvane_cpl_client.h"
#include "device-access/orvane_records.h"
#include "platform/format.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, FormDrvInfo::kGroupId, u"Driver Information", 7, 7, 145, 80},
    {ControlKind::staticText, FormDrvInfo::kTextId, u"", 15, 21, 130, 51},
};

}  // namespace

const DialogTemplate FormDrvInfo::kTemplate{101, u"", 160, 157, kControls};
const std::span<const ResizeRule> FormDrvInfo::kResizeRules{};

LResult FormDrvInfo::onInitForm(uint32_t, WParam, LParam, bool&) {
  text_ = control(kTextId);
  return 0;
}

void FormDrvInfo::updateForm() {
  ORVANE_DRIVER_INFO info{};
  if (!mainConnection().isOpen() || mainConnection().ioctlGetDriverInfo(info) != 0) return;
  const bool debug = (info.flags & ORVANE_DRIVER_FLAG_DEBUG_BUILD) != 0;
  text_->setText(platform::formatText(u"\nDriver version: \t  %u.%u.%u\nBuild type: \t  %s %s\n\nInterface version: %u.%u\n",
                                      info.driverVersionMajor, info.driverVersionMinor, info.driverVersionBuild,
                                      debug ? u"debug" : u"release", u"", info.interfaceVersionMajor,
                                      info.interfaceVersionMinor));
}
