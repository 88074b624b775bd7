#include "control-panel/form_mixer_connection.h"

#include <algorithm>

#include "platform/format.h"
#include "platform/ui/controls.h"

namespace {

using namespace platform::ui;

constexpr uint64_t kTextStyle = style::notify | style::centre | style::centreVertically | style::staticEdge;

constexpr ControlTemplate kControls[] = {
    {ControlKind::staticText, 1069, u"off", 3, 3, 21, 9, kTextStyle},
    {ControlKind::staticText, 1070, u"0", 26, 3, 21, 9, kTextStyle},
    {ControlKind::staticText, 1071, u"off", 3, 14, 21, 9, kTextStyle},
    {ControlKind::staticText, 1072, u"-90", 26, 14, 21, 9, kTextStyle},
};

}  // namespace

const DialogTemplate FormMixerConnection::kTemplate{253, u"", 50, 26, kControls};
const std::span<const ResizeRule> FormMixerConnection::kResizeRules{};

FormMixerConnection::FormMixerConnection(const ORVANE_DEVICE_ID& device,
                                         std::array<ORVANE_MIXER_CROSSPOINT*, 4> entries)
    : device_(device), entries_(entries) {}

std::u16string FormMixerConnection::crosspointText(const ORVANE_MIXER_CROSSPOINT& entry) {
  if ((entry.flags & ORVANE_MIXER_CROSSPOINT_ON) == 0) return u"x";
  return platform::formatText(u"%i", entry.gain / 100);
}

Colour FormMixerConnection::background(int index) const {
  return (entries_[static_cast<size_t>(index)]->flags & ORVANE_MIXER_CROSSPOINT_ON) != 0 ? green_.backgroundColour
                                                                                         : white_.backgroundColour;
}

void FormMixerConnection::showEntry(int index) {
  setItemText(kTextIds[static_cast<size_t>(index)], crosspointText(*entries_[static_cast<size_t>(index)]));
  controlAs<StaticText>(kTextIds[static_cast<size_t>(index)])->applyParentColours();
}

void FormMixerConnection::showEntries() {
  for (int index = 0; index < 4; ++index) showEntry(index);
}

void FormMixerConnection::showUnavailable() {
  for (int id : kTextIds) setItemText(id, u"n/a");
}

void FormMixerConnection::editCrosspoint(int index) {
  const WindowHandle text = item(kTextIds[static_cast<size_t>(index)]);
  // The text's screen position: its place in the cell, the cell's in the
  // mixer window, and the window's on the screen.
  Point position{0, 0};
  for (WindowHandle window = text; window; window = getParent(window)) {
    const Rect rect = getWindowRect(window);
    position.x += rect.left;
    position.y += rect.top;
  }
  FormWeightCtrl editor(device_, position, *entries_[static_cast<size_t>(index)]);
  editor_ = &editor;
  WindowHandle owner = getActiveWindow();
  if (!owner) owner = getParent(handle());
  const std::shared_ptr<bool> alive = alive_;
  editor.doModal(owner);
  if (!*alive) return;
  editor_ = nullptr;
  showEntry(index);
}

FormMixerConnection::~FormMixerConnection() {
  *alive_ = false;
  if (editor_ != nullptr) editor_->endDialog(IDCANCEL);
}

bool FormMixerConnection::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_CTLCOLORSTATIC) {
    for (int index = 0; index < 4; ++index) {
      if (item(kTextIds[static_cast<size_t>(index)]).value == static_cast<uint64_t>(lParam)) {
        const bool on = (entries_[static_cast<size_t>(index)]->flags & ORVANE_MIXER_CROSSPOINT_ON) != 0;
        result = reinterpret_cast<LResult>(on ? &green_ : &white_);
        return true;
      }
    }
  }
  if (message == WM_COMMAND && commandCode(wParam) == STN_CLICKED) {
    const auto it = std::find(kTextIds.begin(), kTextIds.end(), static_cast<int>(commandId(wParam)));
    if (it != kTextIds.end()) {
      editCrosspoint(static_cast<int>(it - kTextIds.begin()));
      result = 0;
      return true;
    }
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}
