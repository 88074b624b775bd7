// The module's entry: reads the parameters and the configuration, creates
// the driver and its interfaces.

#include <dlfcn.h>

#include <filesystem>

#include "usb-audio-kernel-sim/driver.h"

using platform::kernel::DriverObject;
using platform::kernel::STATUS_SUCCESS;

namespace {

// The configuration used without a "ConfigFile" value: the file that the
// build copies next to this module.
std::string defaultConfigFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&defaultConfigFile), &info) == 0 || info.dli_fname == nullptr) {
    return "usbaudio_sim.conf";
  }
  return (std::filesystem::path(info.dli_fname).parent_path() / "usbaudio_sim.conf").string();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t DriverEntry(DriverObject* host,
                                                                       const char16_t* registryPath) {
  if (host == nullptr || registryPath == nullptr) return platform::kernel::STATUS_INVALID_PARAMETER;
  std::string error;
  usbaudio_sim::DriverParameters parameters;
  if (!usbaudio_sim::readDriverParameters(registryPath, defaultConfigFile(), &parameters, &error)) {
    host->log(error);
    return platform::kernel::STATUS_INVALID_PARAMETER;
  }
  usbaudio_sim::Configuration configuration;
  if (!usbaudio_sim::readConfigurationFile(parameters.configFile, &configuration, &error)) {
    host->log(error);
    return platform::kernel::STATUS_OBJECT_NAME_NOT_FOUND;
  }
  auto* driver = new usbaudio_sim::Driver(*host, std::move(parameters), std::move(configuration));
  const uint32_t status = driver->start(&error);
  if (status != STATUS_SUCCESS) {
    host->log(error);
    delete driver;
    return status;
  }
  host->setUnload([driver] { delete driver; });
  return STATUS_SUCCESS;
}
