#pragma once
// The spy's connection to the kernel driver: a driver connection on the spy's
// own device link that reads the statistics record and the trace mask. Every
// operation is one synchronous request and returns its status.

#include <cstdint>

#include "device-access/orvane_driver.h"
#include "device-access/orvane_statistics.h"

// The spy's device link.
inline constexpr char16_t kSpyDeviceLinkName[] = u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}";

class OrvaneSpyDriver : public OrvaneDriver {
 public:
  // On failure `mask` is 0.
  uint32_t getTraceMask(uint32_t& mask);
  uint32_t setTraceMask(uint32_t mask);
  uint32_t saveTraceMask();
  // `clear` also resets the kernel driver's counters. The record's counts
  // are cut to their tables' slots (limitStatisticsCounts).
  uint32_t getStatistics(ORVANE_STATISTICS& record, bool clear);
  // True when the driver information can be read and names a debug build.
  bool isDebugBuild();
};

// Cuts every count of the record to the number of slots of its table, so
// that no reader of the first count entries indexes past a table.
void limitStatisticsCounts(ORVANE_STATISTICS& record);

// The frame's open spy connection, or null. The pages reach the kernel driver
// only through it and do nothing while it is null.
OrvaneSpyDriver* activeConnection();
void setActiveConnection(OrvaneSpyDriver* connection);
