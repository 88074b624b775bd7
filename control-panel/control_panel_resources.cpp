#include "control-panel/control_panel_resources.h"

namespace cpl {

namespace {

using platform::ui::IconResource;
using platform::ui::MenuItem;
using platform::ui::MenuTemplate;
using platform::ui::StringResource;

// The program: the front panel of the interface, with two level meters and a knob.
constexpr char kProgramIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32">
  <rect x="1.5" y="7.5" width="29" height="17" rx="3" fill="#2b3d55" stroke="#16212f"/>
  <rect x="4" y="10" width="3" height="12" rx="1" fill="#0f1720"/>
  <rect x="4" y="15" width="3" height="7" rx="1" fill="#5fd35f"/>
  <rect x="9" y="10" width="3" height="12" rx="1" fill="#0f1720"/>
  <rect x="9" y="12" width="3" height="10" rx="1" fill="#5fd35f"/>
  <rect x="9" y="12" width="3" height="2" fill="#f2c14e"/>
  <circle cx="21.5" cy="16" r="5.5" fill="#d9dee5" stroke="#8d99a8"/>
  <line x1="21.5" y1="16" x2="24.8" y2="12.2" stroke="#2b3d55" stroke-width="1.8" stroke-linecap="round"/>
  <circle cx="28" cy="10.5" r="1" fill="#ff6b4a"/>
</svg>)";

// Settings pages: three faders.
constexpr char kSettingsIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <g stroke="#56606b" stroke-width="1.2" stroke-linecap="round">
    <line x1="3.5" y1="1.5" x2="3.5" y2="14.5"/><line x1="8" y1="1.5" x2="8" y2="14.5"/>
    <line x1="12.5" y1="1.5" x2="12.5" y2="14.5"/>
  </g>
  <rect x="1.5" y="8" width="4" height="3" rx="0.8" fill="#3b7dd8" stroke="#1f4f91" stroke-width="0.7"/>
  <rect x="6" y="3.5" width="4" height="3" rx="0.8" fill="#3b7dd8" stroke="#1f4f91" stroke-width="0.7"/>
  <rect x="10.5" y="10" width="4" height="3" rx="0.8" fill="#3b7dd8" stroke="#1f4f91" stroke-width="0.7"/>
</svg>)";

// Information pages: an "i" in a blue disc.
constexpr char kInformationIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <circle cx="8" cy="8" r="7" fill="#2f7fd1" stroke="#1b4f8a"/>
  <circle cx="8" cy="4.6" r="1.2" fill="#fff"/>
  <rect x="6.9" y="6.8" width="2.2" height="5.8" rx="0.6" fill="#fff"/>
</svg>)";

// Channel pages: input and output channels as level bars.
constexpr char kChannelsIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="1" y="9" width="3" height="6" fill="#4caf50"/>
  <rect x="5" y="5" width="3" height="10" fill="#4caf50"/>
  <rect x="9" y="2" width="3" height="13" fill="#4caf50"/>
  <rect x="9" y="2" width="3" height="3" fill="#f0b429"/>
  <rect x="13" y="7" width="2.5" height="8" fill="#4caf50"/>
  <rect x="0.5" y="15" width="15" height="0.8" fill="#3c4650"/>
</svg>)";

// Device pages: the interface box with its USB cable.
constexpr char kDevicesIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="1" y="4" width="11" height="8" rx="1.5" fill="#5b6b7d" stroke="#2f3a46"/>
  <circle cx="4" cy="8" r="1.6" fill="#d9dee5"/>
  <circle cx="8.5" cy="8" r="1.6" fill="#d9dee5"/>
  <path d="M12 8 H14 V13" fill="none" stroke="#2f3a46" stroke-width="1.2"/>
  <rect x="12.8" y="12.5" width="2.4" height="3" rx="0.4" fill="#2f3a46"/>
</svg>)";

// The "&About" command's image: a question mark on a blue disc.
constexpr char kAboutImage[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <circle cx="8" cy="8" r="7" fill="#2f7fd1" stroke="#1b4f8a"/>
  <path d="M5.8 6.2 A2.3 2.3 0 1 1 8.9 8.3 C8.2 8.7 8 9.1 8 10" fill="none" stroke="#fff" stroke-width="1.7"
        stroke-linecap="round"/>
  <circle cx="8" cy="12.3" r="1.1" fill="#fff"/>
</svg>)";

constexpr IconResource kIcons[] = {
    {IDR_MAINFRAME, kProgramIcon},      {IDI_SETTINGS, kSettingsIcon}, {IDI_INFORMATION, kInformationIcon},
    {IDI_CHANNELS, kChannelsIcon},      {IDI_DEVICES, kDevicesIcon},   {IDI_ABOUT_IMAGE, kAboutImage},
};

constexpr StringResource kStrings[] = {
    {IDR_MAINFRAME, u"QUINTOR Control Panel"},
    {ATL_IDS_IDLEMESSAGE, u"Ready"},
    {ID_APP_EXIT, u"Close the control panel\nExit"},
    {ID_APP_ABOUT, u"Show the control panel's version\nAbout"},
    {ID_TRAY_RESTORE, u"Show the control panel window\nRestore"},
};

constexpr MenuItem kFileMenu[] = {{u"E&xit", ID_APP_EXIT}};
constexpr MenuItem kHelpMenu[] = {{u"&About", ID_APP_ABOUT}};
constexpr MenuItem kMainMenuItems[] = {{u"&File", 0, kFileMenu}, {u"&Help", 0, kHelpMenu}};
constexpr MenuItem kTrayPopup[] = {{u"&Restore", ID_TRAY_RESTORE}, {u"E&xit", ID_APP_EXIT}};
constexpr MenuItem kTrayMenuItems[] = {{u"Tray", 0, kTrayPopup}};

constexpr platform::ui::ResourceTable kResources{kIcons, kStrings};
constexpr MenuTemplate kMainMenu{IDR_MAINFRAME, kMainMenuItems};
constexpr MenuTemplate kTrayMenu{IDR_TRAYMENU, kTrayMenuItems};

}  // namespace

const platform::ui::ResourceTable& resources() { return kResources; }
const MenuTemplate& mainMenu() { return kMainMenu; }
const MenuTemplate& trayMenu() { return kTrayMenu; }

}  // namespace cpl
