#pragma once
// Window messages, their parameters and the records that notifications carry.
// Messages below WM_USER are the window layer's own; WM_USER and WM_APP start
// the ranges a program uses for its own messages, and registered messages
// (registerWindowMessage) lie in 0xC000 to 0xFFFF.

#include <cstdint>

#include "platform/device_notifications.h"
#include "platform/ui/types.h"

namespace platform::ui {

inline constexpr uint32_t WM_NULL = 0x0000;
inline constexpr uint32_t WM_CREATE = 0x0001;  // lParam: nothing; return -1 to fail creation
inline constexpr uint32_t WM_DESTROY = 0x0002;
inline constexpr uint32_t WM_SIZE = 0x0005;  // wParam: SIZE_...; lParam: client width | height << 16
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_SHOWWINDOW = 0x0018;  // wParam: TRUE when being shown
inline constexpr uint32_t WM_SETTINGCHANGE = 0x001A;
inline constexpr uint32_t WM_GETMINMAXINFO = 0x0024;  // lParam: MinMaxInfo*
inline constexpr uint32_t WM_NOTIFY = 0x004E;         // wParam: control id; lParam: NotifyHeader* (first member)
inline constexpr uint32_t WM_NCDESTROY = 0x0082;
inline constexpr uint32_t WM_INITDIALOG = 0x0110;  // wParam: the control to focus; return TRUE to focus it
inline constexpr uint32_t WM_COMMAND = 0x0111;     // wParam: id | code << 16; lParam: the control's handle value
inline constexpr uint32_t WM_SYSCOMMAND = 0x0112;  // wParam: SC_...
inline constexpr uint32_t WM_TIMER = 0x0113;       // wParam: timer identifier
inline constexpr uint32_t WM_HSCROLL = 0x0114;     // wParam: scroll code | position << 16; lParam: control handle
inline constexpr uint32_t WM_VSCROLL = 0x0115;
inline constexpr uint32_t WM_CTLCOLORSTATIC = 0x0138;  // lParam: control handle; return a StaticColours* or 0
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr uint32_t WM_MBUTTONUP = 0x0208;
using platform::WM_DEVICECHANGE;  // 0x219; wParam: DBT_...; lParam: the device interface record or 0
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t WM_APP = 0x8000;
inline constexpr uint32_t kFirstRegisteredMessage = 0xC000;
inline constexpr uint32_t kLastRegisteredMessage = 0xFFFF;

// WM_SIZE kinds.
inline constexpr WParam SIZE_RESTORED = 0;
inline constexpr WParam SIZE_MINIMIZED = 1;
inline constexpr WParam SIZE_MAXIMIZED = 2;

// WM_SYSCOMMAND commands.
inline constexpr WParam SC_MINIMIZE = 0xF020;
inline constexpr WParam SC_CLOSE = 0xF060;
inline constexpr WParam SC_RESTORE = 0xF120;

// Dialog button identifiers, also the results of modal dialogs and message boxes.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Show commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_RESTORE = 9;

// Scroll codes of WM_HSCROLL and WM_VSCROLL.
inline constexpr uint16_t SB_LINEUP = 0;
inline constexpr uint16_t SB_LINEDOWN = 1;
inline constexpr uint16_t SB_PAGEUP = 2;
inline constexpr uint16_t SB_PAGEDOWN = 3;
inline constexpr uint16_t SB_THUMBPOSITION = 4;
inline constexpr uint16_t SB_THUMBTRACK = 5;
inline constexpr uint16_t SB_TOP = 6;
inline constexpr uint16_t SB_BOTTOM = 7;
inline constexpr uint16_t SB_ENDSCROLL = 8;

// Control notification codes of WM_COMMAND.
inline constexpr uint16_t BN_CLICKED = 0;
inline constexpr uint16_t STN_CLICKED = 0;
inline constexpr uint16_t CBN_SELCHANGE = 1;
inline constexpr uint16_t EN_SETFOCUS = 0x0100;
inline constexpr uint16_t EN_KILLFOCUS = 0x0200;
inline constexpr uint16_t EN_CHANGE = 0x0300;
// A menu command has code 0 and no control handle.

// WM_NOTIFY codes (negative, as 32-bit values).
inline constexpr uint32_t NM_CLICK = static_cast<uint32_t>(-2);
inline constexpr uint32_t NM_CUSTOMDRAW = static_cast<uint32_t>(-12);
inline constexpr uint32_t LVN_ITEMCHANGED = static_cast<uint32_t>(-101);
inline constexpr uint32_t TVN_SELCHANGED = static_cast<uint32_t>(-451);

struct NotifyHeader {
  WindowHandle from;
  uint32_t idFrom = 0;
  uint32_t code = 0;
};

// List item states and the changed mask of LVN_ITEMCHANGED.
inline constexpr uint32_t LVIS_FOCUSED = 0x0001;
inline constexpr uint32_t LVIS_SELECTED = 0x0002;
inline constexpr uint32_t LVIS_CHECKED = 0x2000;    // the check box's state image
inline constexpr uint32_t LVIS_UNCHECKED = 0x1000;  // the unchecked state image
inline constexpr uint32_t LVIS_STATEIMAGEMASK = 0xF000;
inline constexpr uint32_t LVIF_STATE = 0x0008;

struct ListViewChange {
  NotifyHeader header;
  int item = -1;
  int subItem = 0;
  uint32_t newState = 0;
  uint32_t oldState = 0;
  uint32_t changed = 0;  // LVIF_STATE for state changes
  LParam data = 0;       // the item's data
};

// Custom drawing (NM_CUSTOMDRAW of list views).
inline constexpr uint32_t CDDS_PREPAINT = 0x00001;
inline constexpr uint32_t CDDS_ITEM = 0x10000;
inline constexpr uint32_t CDDS_SUBITEM = 0x20000;
inline constexpr uint32_t CDDS_ITEMPREPAINT = CDDS_ITEM | CDDS_PREPAINT;
inline constexpr LResult CDRF_DODEFAULT = 0x00;
inline constexpr LResult CDRF_NEWFONT = 0x02;
inline constexpr LResult CDRF_NOTIFYITEMDRAW = 0x20;
inline constexpr LResult CDRF_NOTIFYSUBITEMDRAW = 0x20;

struct CustomDraw {
  NotifyHeader header;
  uint32_t drawStage = 0;
  int item = -1;
  int subItem = 0;
  LParam itemData = 0;
  Colour textColour = rgb(0, 0, 0);       // may be changed by the handler
  Colour backgroundColour = rgb(255, 255, 255);
};

// A tree item; null is no item.
using TreeItem = uintptr_t;

inline constexpr uint32_t TVC_UNKNOWN = 0;
inline constexpr uint32_t TVC_BYMOUSE = 1;
inline constexpr uint32_t TVC_BYKEYBOARD = 2;

struct TreeViewChange {
  NotifyHeader header;
  uint32_t action = TVC_UNKNOWN;
  TreeItem oldItem = 0;
  LParam oldData = 0;
  TreeItem newItem = 0;
  LParam newData = 0;
};

// WM_GETMINMAXINFO: the handler changes what it wants limited; -1 in a
// maximum track size means no limit.
struct MinMaxInfo {
  Size minTrackSize{0, 0};
  Size maxTrackSize{-1, -1};
};

// The answer to WM_CTLCOLORSTATIC: colours for a static control.
struct StaticColours {
  Colour textColour = rgb(0, 0, 0);
  Colour backgroundColour = rgb(255, 255, 255);
};

// WM_COMMAND helpers.
constexpr uint16_t commandId(WParam wParam) { return lowWord(wParam); }
constexpr uint16_t commandCode(WParam wParam) { return highWord(wParam); }

}  // namespace platform::ui
