#include "spy/spy_resources.h"

namespace spy {

namespace {

using platform::ui::IconResource;
using platform::ui::MenuItem;
using platform::ui::MenuTemplate;
using platform::ui::StringResource;

// The program: a magnifying glass over a level meter.
constexpr char kProgramIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32">
  <rect x="1.5" y="5.5" width="21" height="17" rx="2.5" fill="#2b3d55" stroke="#16212f"/>
  <rect x="4.5" y="9" width="3" height="10" rx="1" fill="#5fd35f"/>
  <rect x="9.5" y="12" width="3" height="7" rx="1" fill="#5fd35f"/>
  <rect x="14.5" y="8" width="3" height="11" rx="1" fill="#f2c14e"/>
  <circle cx="19" cy="19" r="7" fill="#d9eefc" fill-opacity="0.85" stroke="#56606b" stroke-width="2"/>
  <line x1="24" y1="24" x2="30" y2="30" stroke="#56606b" stroke-width="3.2" stroke-linecap="round"/>
</svg>)";

// "&About" in the menu: a question mark on a blue disc.
constexpr char kAboutImage[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <circle cx="8" cy="8" r="7" fill="#2f7fd1" stroke="#1b4f8a"/>
  <path d="M5.8 6.2 A2.3 2.3 0 1 1 8.9 8.3 C8.2 8.7 8 9.1 8 10" fill="none" stroke="#fff" stroke-width="1.7"
        stroke-linecap="round"/>
  <circle cx="8" cy="12.3" r="1.1" fill="#fff"/>
</svg>)";

// "Trace Mask": a row of bits, some set.
constexpr char kTraceMaskIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="0.5" y="4.5" width="15" height="7" rx="1" fill="#f4f6f8" stroke="#56606b"/>
  <rect x="2" y="6" width="2" height="4" fill="#3b7dd8"/>
  <rect x="5" y="6" width="2" height="4" fill="#c9d1da"/>
  <rect x="8" y="6" width="2" height="4" fill="#3b7dd8"/>
  <rect x="11" y="6" width="2" height="4" fill="#3b7dd8"/>
</svg>)";

// Devices, port channels, deframers: the interface box.
constexpr char kDeviceIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="1" y="4" width="14" height="8" rx="1.5" fill="#5b6b7d" stroke="#2f3a46"/>
  <circle cx="4.5" cy="8" r="1.6" fill="#d9dee5"/>
  <circle cx="9" cy="8" r="1.6" fill="#d9dee5"/>
  <rect x="12" y="6" width="1.6" height="4" fill="#5fd35f"/>
</svg>)";

// "DriverInfo": an "i" in a blue disc.
constexpr char kDriverInfoIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <circle cx="8" cy="8" r="7" fill="#2f7fd1" stroke="#1b4f8a"/>
  <circle cx="8" cy="4.6" r="1.2" fill="#fff"/>
  <rect x="6.9" y="6.8" width="2.2" height="5.8" rx="0.6" fill="#fff"/>
</svg>)";

// Connected objects: a green node.
constexpr char kObjectIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="2" y="2" width="12" height="12" rx="2" fill="#4caf50" stroke="#2e7d32"/>
  <rect x="5" y="5" width="6" height="6" rx="1" fill="#e8f5e9"/>
</svg>)";

// Objects that are not connected: the same node, grey.
constexpr char kNotConnectedIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="2" y="2" width="12" height="12" rx="2" fill="#b0b8c1" stroke="#7d8793"/>
  <rect x="5" y="5" width="6" height="6" rx="1" fill="#eef1f4"/>
</svg>)";

// Input streams: an arrow into the computer.
constexpr char kStreamInIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="10" y="2" width="5" height="12" rx="1" fill="#5b6b7d"/>
  <path d="M1 8 H8 M5 4.5 L8.5 8 L5 11.5" fill="none" stroke="#3b7dd8" stroke-width="2" stroke-linecap="round"/>
</svg>)";

// Output streams: an arrow out of the computer.
constexpr char kStreamOutIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="1" y="2" width="5" height="12" rx="1" fill="#5b6b7d"/>
  <path d="M7.5 8 H14.5 M11.5 4.5 L15 8 L11.5 11.5" fill="none" stroke="#e0733a" stroke-width="2"
        stroke-linecap="round"/>
</svg>)";

// ASIO hosts: a program window with a waveform.
constexpr char kAsioHostIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">
  <rect x="0.5" y="1.5" width="15" height="13" rx="1" fill="#ffffff" stroke="#2f3a46"/>
  <rect x="0.5" y="1.5" width="15" height="3" fill="#2f7fd1" stroke="#2f3a46"/>
  <path d="M2 10 L4 7 L6 12 L8 6 L10 11 L12 8 L14 10" fill="none" stroke="#e0733a" stroke-width="1.3"/>
</svg>)";

constexpr IconResource kIcons[] = {
    {IDR_MAINFRAME, kProgramIcon},      {IDI_ABOUT_IMAGE, kAboutImage},
    {IDI_TRACE_MASK, kTraceMaskIcon},   {IDI_DEVICE, kDeviceIcon},
    {IDI_DRIVER_INFO, kDriverInfoIcon}, {IDI_OBJECT, kObjectIcon},
    {IDI_STREAM_IN, kStreamInIcon},     {IDI_STREAM_OUT, kStreamOutIcon},
    {IDI_ASIO_HOST, kAsioHostIcon},     {IDI_NOT_CONNECTED, kNotConnectedIcon},
};

constexpr StringResource kStrings[] = {
    {IDR_MAINFRAME, u"ORVANE Spy Tool"},
    {ATL_IDS_IDLEMESSAGE, u"Ready"},
    {ID_APP_EXIT, u"Close the spy tool\nExit"},
    {ID_APP_ABOUT, u"Show the spy tool's version\nAbout"},
    {ID_CLEAR_STATISTICS, u"Reset the driver's statistics counters\nClear Statistics"},
};

constexpr MenuItem kFileMenu[] = {{u"E&xit", ID_APP_EXIT}};
constexpr MenuItem kOptionsMenu[] = {{u"Clear Statistics", ID_CLEAR_STATISTICS}};
constexpr MenuItem kHelpMenu[] = {{u"&About", ID_APP_ABOUT}};
constexpr MenuItem kMainMenuItems[] = {
    {u"&File", 0, kFileMenu}, {u"Options", 0, kOptionsMenu}, {u"&Help", 0, kHelpMenu}};

constexpr platform::ui::ResourceTable kResources{kIcons, kStrings};
constexpr MenuTemplate kMainMenu{IDR_MAINFRAME, kMainMenuItems};

}  // namespace

const platform::ui::ResourceTable& resources() { return kResources; }
const MenuTemplate& mainMenu() { return kMainMenu; }

}  // namespace spy
