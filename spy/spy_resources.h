#pragma once
// The spy tool's resources: its identity, texts, menu and icons.

#include "platform/ui/menu.h"
#include "platform/ui/resources.h"

namespace spy {

// The frame's window class, also the single-instance mutex's name.
inline constexpr char16_t kFrameClassName[] = u"{D269B4D5-7E3F-4922-AFA6-3CD871D690A2}";
inline constexpr char16_t kSettingsKey[] = u"Software\\Morvant\\ORVANE\\spy";
// The device interface class whose arrival and removal the frame watches.
inline constexpr char kDeviceInterfaceClass[] = "{94E7B4BC-5599-4B48-B1A4-9BA8A0E7F391}";

// Resource and command numbers.
inline constexpr int IDR_MAINFRAME = 128;    // title string, program icon, main menu
inline constexpr int IDI_ABOUT_IMAGE = 129;  // the "&About" command's image in the menu
inline constexpr int IDI_TRACE_MASK = 218;
inline constexpr int IDI_DEVICE = 222;
inline constexpr int IDI_DRIVER_INFO = 232;
inline constexpr int IDI_OBJECT = 233;
inline constexpr int IDI_STREAM_IN = 234;
inline constexpr int IDI_STREAM_OUT = 235;
inline constexpr int IDI_ASIO_HOST = 236;
inline constexpr int IDI_NOT_CONNECTED = 237;
inline constexpr int ID_CLEAR_STATISTICS = 32773;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ATL_IDS_IDLEMESSAGE = 57345;  // "Ready"

const platform::ui::ResourceTable& resources();
const platform::ui::MenuTemplate& mainMenu();

}  // namespace spy
