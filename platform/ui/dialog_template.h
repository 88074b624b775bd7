#pragma once
// Dialog templates as data: a dialog's size and title and its controls with
// identifiers, kinds, texts, styles and positions, all in dialog units. A
// dialog unit is a quarter of the dialog font's average character width
// horizontally and an eighth of its height vertically, so templates keep
// their proportions with any font.

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/ui/types.h"

namespace platform::ui {

enum class ControlKind {
  staticText,
  groupBox,
  pushButton,
  checkBox,
  radioButton,
  comboBox,   // a drop-down list
  listView,   // report view
  treeView,
  trackBar,
  progressBar,
  edit,
  spin,       // up-down arrows for the edit created just before it
  hyperLink,
  icon,       // the text is the icon resource's number
};

// Control styles.
namespace style {
inline constexpr uint64_t hidden = 1ull << 0;    // not visible at creation
inline constexpr uint64_t disabled = 1ull << 1;
inline constexpr uint64_t group = 1ull << 2;     // starts a group (radio buttons)
inline constexpr uint64_t tabStop = 1ull << 3;
inline constexpr uint64_t border = 1ull << 4;
inline constexpr uint64_t staticEdge = 1ull << 5;  // a sunken frame
inline constexpr uint64_t centre = 1ull << 6;      // text centred horizontally
inline constexpr uint64_t centreVertically = 1ull << 7;
inline constexpr uint64_t rightAligned = 1ull << 8;
inline constexpr uint64_t multiLine = 1ull << 9;   // buttons: the text wraps, a carriage return breaks it
inline constexpr uint64_t textTop = 1ull << 10;
inline constexpr uint64_t defaultButton = 1ull << 11;
inline constexpr uint64_t automatic = 1ull << 12;  // check boxes and radio buttons toggle themselves
inline constexpr uint64_t pushLike = 1ull << 13;   // a check box drawn as a button
inline constexpr uint64_t sorted = 1ull << 14;     // combo boxes
inline constexpr uint64_t verticalScroll = 1ull << 15;
inline constexpr uint64_t singleSelection = 1ull << 16;  // list views
inline constexpr uint64_t showSelectionAlways = 1ull << 17;
inline constexpr uint64_t noSortHeader = 1ull << 18;
inline constexpr uint64_t noColumnHeader = 1ull << 19;
inline constexpr uint64_t hasButtons = 1ull << 20;  // tree views
inline constexpr uint64_t hasLines = 1ull << 21;
inline constexpr uint64_t linesAtRoot = 1ull << 22;
inline constexpr uint64_t vertical = 1ull << 23;  // track bars, progress bars
inline constexpr uint64_t autoTicks = 1ull << 24;
inline constexpr uint64_t bothTicks = 1ull << 25;
inline constexpr uint64_t number = 1ull << 26;       // edits: digits only
inline constexpr uint64_t setBuddyNumber = 1ull << 27;  // spins: write the position into the buddy edit
inline constexpr uint64_t arrowKeys = 1ull << 28;    // spins: the buddy's arrow keys move it
inline constexpr uint64_t notify = 1ull << 29;       // static texts: clicks are reported
}  // namespace style

struct ControlTemplate {
  ControlKind kind;
  int id;  // -1 for controls nobody addresses
  std::u16string_view text;
  int x;
  int y;
  int width;
  int height;
  uint64_t style = 0;
};

// Dialog styles.
namespace dialogStyle {
inline constexpr uint32_t visible = 1u << 0;     // shown when created
inline constexpr uint32_t clientEdge = 1u << 1;  // sunken edge around the client area
}  // namespace dialogStyle

struct DialogTemplate {
  int id;
  std::u16string_view title;
  int width;
  int height;
  std::span<const ControlTemplate> controls;
  uint32_t style = 0;
};

// The dialog font's base units: average character width and height in pixels.
Size dialogBaseUnits();
// Dialog units to pixels (MulDiv rounding, as templates are laid out).
Rect dialogUnitsToPixels(int x, int y, int width, int height);

}  // namespace platform::ui
