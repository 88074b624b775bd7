#pragma once
// The mixer's entries travel to the kernel driver and come back filled in.
// Only the values of the answer are taken: every entry keeps the pins the
// window put into it, so an answer naming other pins cannot turn a strip or a
// cell into another output's or input's.

#include <cstdint>
#include <vector>

#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_records.h"

inline void keepPins(ORVANE_MIXER_LEVEL& answer, const ORVANE_MIXER_LEVEL& asked) { answer.pin = asked.pin; }
inline void keepPins(ORVANE_MIXER_GAIN& answer, const ORVANE_MIXER_GAIN& asked) { answer.pin = asked.pin; }
inline void keepPins(ORVANE_MIXER_CROSSPOINT& answer, const ORVANE_MIXER_CROSSPOINT& asked) {
  answer.outputPin = asked.outputPin;
  answer.inputPin = asked.inputPin;
}

// Sends the entries with `request` of the device connection (a request that
// answers in place) and gives them their pins back; the request's status.
template <typename Connection, typename Context, typename Entry>
uint32_t exchangeKeepingPins(Connection& connection, uint32_t (Context::*request)(Entry*, uint32_t), Entry* entries,
                             uint32_t count) {
  const std::vector<Entry> asked(entries, entries + count);
  const uint32_t status = (connection.*request)(entries, count);
  for (uint32_t i = 0; i < count; ++i) keepPins(entries[i], asked[i]);
  return status;
}
