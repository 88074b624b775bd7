// Driver information and the trace mask.

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_statistics.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

NtStatus getDriverInfo(RequestContext& context) {
  const DriverParameters& parameters = context.driver.parameters();
  ORVANE_DRIVER_INFO info{};
  info.interfaceVersionMajor = ORVANE_INTERFACE_VERSION_MAJOR;
  info.interfaceVersionMinor = parameters.interfaceVersionMinor;
  info.driverVersionMajor = parameters.driverVersionMajor;
  info.driverVersionMinor = parameters.driverVersionMinor;
  info.driverVersionBuild = parameters.driverVersionBuild;
  info.flags = parameters.debugBuild ? ORVANE_DRIVER_FLAG_DEBUG_BUILD : 0;
  return context.reply(info);
}

NtStatus getTraceMask(RequestContext& context) {
  return context.reply(ORVANE_TRACE_MASK{context.driver.traceMask()});
}

NtStatus setTraceMask(RequestContext& context) {
  context.driver.setTraceMask(context.input<ORVANE_TRACE_MASK>().mask);
  return platform::kernel::STATUS_SUCCESS;
}

// Persists the mask under the service's Parameters key, where the driver
// reads it when it loads. Runs without the driver lock: the registry may wait.
NtStatus saveTraceMask(RequestContext& context) {
  uint32_t mask = 0;
  {
    std::lock_guard lock(context.driver.mutex());
    mask = context.driver.traceMask();
  }
  const uint32_t error = usbaudio_sim::saveTraceMask(context.driver.parameters().parametersKey, mask);
  return error == 0 ? platform::kernel::STATUS_SUCCESS : ORVANE_STATUS_REGISTRY_ACCESS_FAILED;
}

void registerDriverFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_DRIVER_INFO, getDriverInfo);
  dispatcher.add(ORVANE_IOCTL_GET_TRACE_MASK, getTraceMask);
  dispatcher.add(ORVANE_IOCTL_SET_TRACE_MASK, setTraceMask);
  dispatcher.add(ORVANE_IOCTL_SAVE_TRACE_MASK, saveTraceMask, HandlerLocking::handlerLocks);
}

const HandlerFamily driverFamily("driver", registerDriverFamily);

}  // namespace
}  // namespace usbaudio_sim
