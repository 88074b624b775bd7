#pragma once
// MireloMon's resource numbers, icons and tray menu.

#include "platform/ui/menu.h"
#include "platform/ui/resources.h"

namespace mirelo_mon {

inline constexpr int IDR_MAINFRAME = 128;       // the program icon
inline constexpr int IDI_UNMUTED = 144;         // tray: no port muted
inline constexpr int IDI_MUTED = 145;           // tray: at least one port muted
inline constexpr int IDI_SHIELD = 150;          // "Change" needs administrator rights
inline constexpr int IDR_TRAY_MENU = 140;
inline constexpr uint32_t kTrayIconId = 140;
inline constexpr int ID_SHOW_DIALOG = 146;
inline constexpr int ID_APP_ABOUT = 32775;
inline constexpr int ID_MUTE_NONE = 32774;
inline constexpr int ID_MUTE_ALL = 32772;
inline constexpr int ID_APP_EXIT = 143;

inline constexpr char16_t kProgramName[] = u"MireloMon";
inline constexpr char16_t kMakerKey[] = u"Software\\Ternok";
inline constexpr char16_t kMakerName[] = u"Ternok Audio Systems";
inline constexpr char16_t kMakerUrl[] = u"http://www.ternok.example/";

const platform::ui::ResourceTable& resources();
const platform::ui::MenuTemplate& trayMenu();

}  // namespace mirelo_mon
