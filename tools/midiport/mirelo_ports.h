#pragma once
// The Ethernet MIDI driver as its tools see it: the control filter and the
// MIDI ports found among the audio device interfaces, and the control
// filter's requests (mute mask, status word, loop-back, control-change event).

#include <cstdint>
#include <map>
#include <string>

#include "platform/handles.h"

namespace mirelo_tools {

struct MireloPorts {
  std::u16string controlFilter;           // device path; empty when none is found
  std::map<uint32_t, std::u16string> ports;  // port number (1-based) → filter device path
};

// The interfaces of the driver's device that a device host serves now.
MireloPorts findMireloPorts();

// An open control filter. Every request returns 0 or the system error.
class ControlFilter {
 public:
  ControlFilter() = default;
  ~ControlFilter();
  ControlFilter(const ControlFilter&) = delete;
  ControlFilter& operator=(const ControlFilter&) = delete;

  uint32_t open(const std::u16string& devicePath);
  uint32_t getMuteMask(uint32_t* mask);
  uint32_t setMuteMask(uint32_t mask);
  uint32_t getStatusWord(uint32_t* status);
  uint32_t setLoopback(bool on);
  // Signals `event` (a handle of this process) on every control change.
  uint32_t enableControlChange(platform::Handle event);

 private:
  platform::Handle handle_ = nullptr;
};

}  // namespace mirelo_tools
