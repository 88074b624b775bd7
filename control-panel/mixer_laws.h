#pragma once
// The mixer's slider and meter laws. Gains and levels are in hundredths of a
// dB. A gain slider runs 0 … 6600 with +6.00 dB at the top (0), 0 dB at 600
// and -60.00 dB at the bottom; a meter runs 0 … 6000 from -60 dB to 0 dB.

#include <cstdint>

inline constexpr int kGainSliderMaximum = 6600;
inline constexpr int kMeterMaximum = 6000;

constexpr int gainToPosition(int gain) {
  if (gain < -6000) return 6600;
  if (gain > 600) return 0;
  return 600 - gain;
}

constexpr int positionToGain(int position) {
  if (position < 0) return 600;
  if (position > 6600) return -6000;
  return 600 - position;
}

constexpr int levelToMeterPosition(int level) {
  if (level < -6000) return 0;
  if (level > 0) return 6000;
  return level + 6000;
}
