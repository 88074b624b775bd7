#pragma once
// What programs need to find the driver's device interfaces: the device
// description its installation gives the device (the same text in
// mirelo.reg), the subdevice names and the pins of a MIDI port.

#include <cstdint>

namespace mirelo {

inline constexpr char16_t kServiceName[] = u"Mirelo";
inline constexpr char16_t kDeviceDescription[] = u"Ternok Mirelo - Ethernet Midi Ports (WDM)";
// The control filter's device path contains this (its subdevice "Topology").
inline constexpr char16_t kControlFilterMarker[] = u"topology";
// A MIDI port's device path ends with "midi" and the two-digit port number.
inline constexpr char16_t kPortMarker[] = u"#midi";

// Pin factories of a MIDI port's filter.
inline constexpr uint32_t kCapturePin = 0;  // network to the application
inline constexpr uint32_t kRenderPin = 2;   // application to the network

// The control filter's mute node and the status word's loop-back bit.
inline constexpr uint32_t kMuteNode = 0;
inline constexpr uint32_t kLoopbackBit = 0x80000000u;
inline constexpr uint32_t kPortBits = 0x000FFFFFu;

}  // namespace mirelo
