#pragma once
// The multimedia MIDI devices of the machine (the MIDI input and output
// device lists programs count and name). They are the kernel-streaming
// filters of KSCATEGORY_AUDIO that a device host serves now: a filter with a
// streaming pin that takes data in (a render pin) is an output device, one
// whose streaming pin gives data out (a capture pin) an input device; a
// filter may be both.
//
// A device's name is the "FriendlyName" of its device's "Device Parameters"
// key (HKEY_LOCAL_MACHINE "System\CurrentControlSet\Enum\<instance>\Device
// Parameters"), or else the device's description, cut to 31 characters. A
// name already given in that direction gets "2- ", "3- ", ... in front, so
// that every name in a list is distinct.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

inline constexpr size_t kMidiNameCharacters = 31;

enum class MidiDirection { input, output };

// The names in device order (the order of the filters' link names).
std::vector<std::u16string> midiDeviceNames(MidiDirection direction);

}  // namespace platform
