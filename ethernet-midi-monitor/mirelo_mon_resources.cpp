#include "ethernet-midi-monitor/mirelo_mon_resources.h"

namespace mirelo_mon {

namespace {

using platform::ui::IconResource;
using platform::ui::MenuItem;
using platform::ui::MenuTemplate;

// Five-pin MIDI sockets joined by a network line; the muted icon crosses them out.
#define MIDI_SOCKETS                                                                                          \
  "<circle cx='18' cy='36' r='13' fill='#1d3b5c'/><circle cx='46' cy='36' r='13' fill='#1d3b5c'/>"           \
  "<g fill='#e8eef5'><circle cx='11' cy='36' r='2'/><circle cx='25' cy='36' r='2'/><circle cx='18' cy='29' r='2'/>" \
  "<circle cx='13' cy='31' r='2'/><circle cx='23' cy='31' r='2'/><circle cx='39' cy='36' r='2'/>"           \
  "<circle cx='53' cy='36' r='2'/><circle cx='46' cy='29' r='2'/><circle cx='41' cy='31' r='2'/>"           \
  "<circle cx='51' cy='31' r='2'/></g><path d='M18 12 H46 M32 12 V22' stroke='#3c8d2f' stroke-width='4'/>"

constexpr char kProgramSvg[] = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 64 64'>" MIDI_SOCKETS "</svg>";
constexpr char kUnmutedSvg[] = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 64 64'>" MIDI_SOCKETS "</svg>";
constexpr char kMutedSvg[] = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 64 64'>" MIDI_SOCKETS
                             "<path d='M8 8 L56 56 M56 8 L8 56' stroke='#c8201e' stroke-width='7'/></svg>";
#undef MIDI_SOCKETS

// The elevation shield: blue and yellow quarters.
constexpr char kShieldSvg[] =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 64 64'>"
    "<path d='M32 4 L56 12 V30 C56 46 45 56 32 60 C19 56 8 46 8 30 V12 Z' fill='#2a62c9'/>"
    "<path d='M32 4 L56 12 V32 H32 Z M32 32 H8 C8 46 19 56 32 60 Z' fill='#f3c623'/></svg>";

constexpr IconResource kIcons[] = {
    {IDR_MAINFRAME, kProgramSvg},
    {IDI_UNMUTED, kUnmutedSvg},
    {IDI_MUTED, kMutedSvg},
    {IDI_SHIELD, kShieldSvg},
};

constexpr platform::ui::ResourceTable kResources{kIcons, {}};

constexpr MenuItem kTrayItems[] = {
    {u"Mirelo - MIDI over Ethernet", ID_SHOW_DIALOG, {}, platform::ui::menuFlag::defaultItem},
    {u"About", ID_APP_ABOUT},
    {u"", 0, {}, platform::ui::menuFlag::separator},
    {u"Mute None", ID_MUTE_NONE},
    {u"Mute All", ID_MUTE_ALL},
    {u"", 0, {}, platform::ui::menuFlag::separator},
    {u"Exit", ID_APP_EXIT},
};
constexpr MenuItem kTrayPopup[] = {{u"Tray", 0, kTrayItems}};
constexpr MenuTemplate kTrayMenu{IDR_TRAY_MENU, kTrayPopup};

}  // namespace

const platform::ui::ResourceTable& resources() { return kResources; }
const platform::ui::MenuTemplate& trayMenu() { return kTrayMenu; }

}  // namespace mirelo_mon
