#pragma once
// The control panel's resources: its identity, texts, menus and icons.

#include <cstdint>

#include "platform/ui/menu.h"
#include "platform/ui/resources.h"

namespace cpl {

// The frame's window class, also the single-instance mutex's name.
inline constexpr char16_t kFrameClassName[] = u"{8FFAA533-F09A-4b88-90B2-A97A16AB39BE}";
inline constexpr char16_t kSettingsKey[] = u"Software\\tarnvale\\QUINTOR\\cpl";
inline constexpr char16_t kDeviceLinkName[] = u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}";
inline constexpr char kDeviceInterfaceClass[] = "{BC1AFE28-22BD-4DFC-821B-51306F8D0D1D}";

// Resource and command numbers.
inline constexpr int IDR_MAINFRAME = 128;  // title string, program icon, main menu
inline constexpr int IDR_TRAYMENU = 205;
inline constexpr int IDI_SETTINGS = 237;
inline constexpr int IDI_INFORMATION = 232;
inline constexpr int IDI_CHANNELS = 233;
inline constexpr int IDI_DEVICES = 234;
inline constexpr int IDI_ABOUT_IMAGE = 129;  // the "&About" command's image in the menu
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_TRAY_RESTORE = 32775;
inline constexpr int ATL_IDS_IDLEMESSAGE = 57345;  // "Ready"

inline constexpr uint32_t WM_TRAY_CALLBACK = 1124;      // WM_USER + 100
inline constexpr uint32_t WM_DRIVER_NOTIFICATION = 32778;  // WM_APP + 10
inline constexpr uint32_t kTrayIconId = 205;

// The program's version, as the about box shows it.
inline constexpr uint32_t kVersionMajor = 1;
inline constexpr uint32_t kVersionMinor = 35;
inline constexpr uint32_t kVersionBuild = 2;

const platform::ui::ResourceTable& resources();
const platform::ui::MenuTemplate& mainMenu();
const platform::ui::MenuTemplate& trayMenu();

}  // namespace cpl
