#pragma once
// The user's saved monitor state: HKEY_CURRENT_USER "Software\Ternok\MireloMon\Ports",
// "LowB" (the mute mask), "HighB" (the mask shifted right by 16), "SCDetect" (loop-back).

#include <cstdint>

namespace mirelo_profile {

uint32_t muteMask();  // ("HighB" × 65536) OR "LowB"
void storeMuteMask(uint32_t mask);
bool loopback();  // "SCDetect" ≠ 0, on when missing
void storeLoopback(bool on);

}  // namespace mirelo_profile
