#include "ethernet-midi-monitor/midi_device_census.h"

#include <algorithm>

#include "ethernet-midi-monitor/mirelo_registry.h"
#include "platform/format.h"
#include "platform/midi_devices.h"
#include "platform/system_version.h"
#include "platform/ui/message_box.h"

using namespace platform;

namespace {

bool containsAfterFirst(const std::u16string& name, std::u16string_view part) {
  const size_t at = name.find(part);
  return at != std::u16string::npos && at > 0;
}

std::vector<MidiDeviceCensus::Entry> listOf(MidiDirection direction) {
  std::vector<MidiDeviceCensus::Entry> entries;
  for (const std::u16string& name : midiDeviceNames(direction)) {
    if (entries.size() == MidiDeviceCensus::kMaxDevices) break;
    entries.push_back(MidiDeviceCensus::classify(name));
  }
  return entries;
}

int regularCount(const std::vector<MidiDeviceCensus::Entry>& entries) {
  return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                        [](const MidiDeviceCensus::Entry& e) { return !e.ethernet && !e.ternok; }));
}

}  // namespace

MidiDeviceCensus::Entry MidiDeviceCensus::classify(const std::u16string& name) {
  Entry entry{name};
  entry.ethernet = containsAfterFirst(name, u"Ethernet MIDI");
  entry.ternok = !entry.ethernet && containsAfterFirst(name, u". Internal MIDI");
  return entry;
}

void MidiDeviceCensus::Refresh() {
  outputs_ = listOf(MidiDirection::output);
  inputs_ = listOf(MidiDirection::input);
  const SystemVersion version = systemVersion();
  limit_ = version.major == 5 && version.minor == 0 ? 10 : 32;
}

bool MidiDeviceCensus::Changed() {
  const std::vector<Entry> outputs = outputs_;
  const std::vector<Entry> inputs = inputs_;
  Refresh();
  return outputs != outputs_ || inputs != inputs_;
}

int MidiDeviceCensus::RegularPortCount() const { return std::max(regularCount(outputs_), regularCount(inputs_)); }

int CheckGlobalPortLimit(MidiDeviceCensus& census, int requested, bool ternokKnown) {
  const int regular = census.RegularPortCount();
  if (ternokKnown) {
    const int ternok = std::max(ReadTernokPorts(), 0);
    const int allowed = std::max(census.Limit() - regular - ternok, 0);
    if (requested > allowed) {
      requested = allowed;
      ui::messageBox({},
                     formatText(u"The maximum global number of ports is: %d.\nAfter reboot you will have %d regular "
                                u"ports\n%d Ternok Ports\n%d Ethernet Ports",
                                census.Limit(), regular, ternok, requested),
                     u"Global port limit exceed", ui::MB_OK | ui::MB_ICONWARNING);
    }
    return requested;
  }
  const int allowed = std::max(census.Limit() - regular, 0);
  if (requested > allowed) {
    requested = allowed;
    ui::messageBox({},
                   formatText(u"The maximum global number of ports is: %d.\nAfter reboot you will have %d regular "
                              u"ports\n%d Ethernet Ports",
                              census.Limit(), regular, requested),
                   u"Global port limit exceed", ui::MB_OK | ui::MB_ICONWARNING);
  }
  return requested;
}
