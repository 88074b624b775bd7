#include "platform/kernel/wdm/driver_module.h"

#include <atomic>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/format.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/kernel/wdm/tdi.h"

namespace platform::wdm {

namespace {

std::atomic<platform::kernel::DriverObject*> currentHost{nullptr};

struct RootDevice {
  std::u16string instancePath;  // "ROOT\MEDIA\0000"
  std::u16string description;
};

// The devices whose registry entry names `service`.
std::vector<RootDevice> devicesOfService(const std::u16string& service) {
  std::vector<RootDevice> devices;
  RegistryKey root;
  if (RegistryKey::open(RegistryHive::LocalMachine, kEnumRootKey, KEY_READ | KEY_ENUMERATE_SUB_KEYS, root) !=
      ERROR_SUCCESS) {
    return devices;
  }
  std::u16string className;
  for (uint32_t i = 0; root.enumSubKey(i, className) == ERROR_SUCCESS; ++i) {
    RegistryKey classKey;
    if (root.openSubKey(className, KEY_READ | KEY_ENUMERATE_SUB_KEYS, classKey) != ERROR_SUCCESS) continue;
    std::u16string instance;
    for (uint32_t j = 0; classKey.enumSubKey(j, instance) == ERROR_SUCCESS; ++j) {
      RegistryKey instanceKey;
      std::u16string owner;
      if (classKey.openSubKey(instance, KEY_READ, instanceKey) != ERROR_SUCCESS ||
          instanceKey.getString(u"Service", owner) != ERROR_SUCCESS || foldCase(owner) != foldCase(service)) {
        continue;
      }
      RootDevice device;
      device.instancePath = u"ROOT\\" + className + u"\\" + instance;
      instanceKey.getString(u"DeviceDesc", device.description);
      devices.push_back(std::move(device));
    }
  }
  return devices;
}

// The root bus: owns the physical device objects and answers their Plug and
// Play requests.
NtStatus rootBusDispatch(DeviceObject*, Irp* irp) {
  irp->ioStatus.status = STATUS_SUCCESS;
  ioCompleteRequest(irp);
  return STATUS_SUCCESS;
}

// Sends a Plug and Play request to the top of a device's stack and waits.
NtStatus sendPnp(DeviceObject* physical, uint8_t minorFunction) {
  DeviceObject* top = physical;
  while (top->attachedDevice != nullptr) top = top->attachedDevice;
  Irp* irp = ioAllocateIrp(top->stackSize, false);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  next->majorFunction = IRP_MJ_PNP;
  next->minorFunction = minorFunction;
  return ioCallDriverAndWait(top, irp);
}

class RunningDriver {
 public:
  RunningDriver(platform::kernel::DriverObject* host, DriverObject* driver, DriverObject* rootBus)
      : host_(host), driver_(driver), rootBus_(rootBus) {}

  void startDevices() {
    for (const RootDevice& entry : devicesOfService(host_->serviceName())) {
      DeviceObject* physical = nullptr;
      if (ioCreateDevice(rootBus_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, false, &physical) != STATUS_SUCCESS) continue;
      physical->instancePath = entry.instancePath;
      physical->deviceDescription = entry.description;
      physical->flags &= ~DO_DEVICE_INITIALIZING;
      physicals_.push_back(physical);
      NtStatus status = driver_->driverExtension.addDevice(driver_, physical);
      if (status == STATUS_SUCCESS) status = sendPnp(physical, IRP_MN_START_DEVICE);
      if (status != STATUS_SUCCESS) {
        dbgPrint("device %s did not start: status 0x%08x\n", toUtf8(entry.instancePath), status);
      }
    }
  }

  // `started`: the driver's entry succeeded, so its unload routine runs.
  void unload(bool started) {
    for (DeviceObject* physical : physicals_) {
      if (physical->attachedDevice != nullptr) sendPnp(physical, IRP_MN_REMOVE_DEVICE);
      ioDeleteDevice(physical);
    }
    physicals_.clear();
    if (started && driver_->driverUnload != nullptr) driver_->driverUnload(driver_);
    exFlushWorkQueues();
    stopUdpTransport();
    shutdownExecutive();
    // Devices the driver left behind are deleted with it.
    while (DeviceObject* device = driver_->deviceObject) ioDeleteDevice(device);
    obDereferenceObject(driver_);
    obDereferenceObject(rootBus_);
    const std::string leaks = describeOutstandingPool();
    if (!leaks.empty()) dbgPrint("pool blocks left at unload:\n%s", leaks);
  }

 private:
  platform::kernel::DriverObject* host_;
  DriverObject* driver_;
  DriverObject* rootBus_;
  std::vector<DeviceObject*> physicals_;
};

}  // namespace

platform::kernel::DriverObject* hostDriverObject() { return currentHost.load(); }

std::string describeOutstandingPool() {
  std::string text;
  for (const auto& [tag, usage] : outstandingPool()) {
    text += formatText("  %s: %llu block(s), %llu bytes\n", poolTagText(tag),
                       static_cast<unsigned long long>(usage.outstandingBlocks),
                       static_cast<unsigned long long>(usage.outstandingBytes));
  }
  return text;
}

uint32_t runDriverModule(platform::kernel::DriverObject* host, const char16_t* registryPath, DriverInitialize entry) {
  if (host == nullptr || registryPath == nullptr || entry == nullptr) return STATUS_INVALID_PARAMETER;
  platform::kernel::DriverObject* expected = nullptr;
  if (!currentHost.compare_exchange_strong(expected, host)) return STATUS_OBJECT_NAME_COLLISION;
  setDebugPrefix(toUtf8(host->serviceName()));

  NtStatus status = startUdpTransport();
  if (status != STATUS_SUCCESS) {
    currentHost.store(nullptr);
    return status;
  }
  auto* driver = new DriverObject();
  driver->driverName = u"\\Driver\\" + host->serviceName();
  auto* rootBus = new DriverObject();
  rootBus->driverName = u"\\Driver\\PnpManager";
  rootBus->majorFunction[IRP_MJ_PNP] = rootBusDispatch;
  rootBus->majorFunction[IRP_MJ_POWER] = rootBusDispatch;

  std::u16string path(registryPath);
  UnicodeString pathString;
  rtlInitUnicodeString(&pathString, path.c_str());
  status = entry(driver, &pathString);
  auto* running = new RunningDriver(host, driver, rootBus);
  if (status != STATUS_SUCCESS) {
    running->unload(false);
    delete running;
    currentHost.store(nullptr);
    return status;
  }
  if (driver->driverExtension.addDevice != nullptr) running->startDevices();
  host->setUnload([running] {
    running->unload(true);
    delete running;
    currentHost.store(nullptr);
  });
  return STATUS_SUCCESS;
}

}  // namespace platform::wdm
