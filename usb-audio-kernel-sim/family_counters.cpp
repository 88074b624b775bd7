// The driver's five status counters.

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

NtStatus getStatusCounters(RequestContext& context) {
  const DriverCounters& counters = context.driver.counters();
  ORVANE_STATUS_COUNTERS record{};
  record.streamingErrors = counters.streamingErrors.load();
  record.fifoErrors = counters.fifoErrors.load();
  record.asioErrors = counters.asioErrors.load();
  record.wdmAudioErrors = counters.wdmAudioErrors.load();
  record.wdmMidiErrors = counters.wdmMidiErrors.load();
  return context.reply(record);
}

void registerCounterFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_STATUS_COUNTERS, getStatusCounters);
}

const HandlerFamily counterFamily("counters", registerCounterFamily);

}  // namespace
}  // namespace usbaudio_sim
