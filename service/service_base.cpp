#include "service/service_base.h"

#include "platform/device_notifications.h"
#include "platform/events.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/registry.h"
#include "platform/waits.h"
#include "service/module_path.h"

namespace {

constexpr size_t kCommandLineChars = 280;
constexpr char16_t kEventLogKeyFormat[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s\\%s";
constexpr char16_t kEventLogApplicationKeyFormat[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s";
constexpr uint32_t kKeyReadWrite = 0x2001F;
constexpr uint32_t kTypesSupported = 7;
constexpr int kStopPolls = 50;
constexpr uint32_t kStopPollMs = 100;

}  // namespace

ServiceBase::ServiceBase()
    : controlForwarder_(this, &ServiceBase::onControl), notificatorForwarder_(this, &ServiceBase::onDeviceEvent) {
  (void)stopEvent_.create(false);
}

ServiceBase::~ServiceBase() { notificatorForwarder_.setOwner(nullptr); }

void ServiceBase::onDeviceEvent(uint32_t, const void*) {}

uint32_t ServiceBase::onControl(uint32_t control, uint32_t eventType, void* eventData) {
  if (control == platform::SERVICE_CONTROL_STOP || control == platform::SERVICE_CONTROL_SHUTDOWN) {
    requestStop();
  } else if (control == platform::SERVICE_CONTROL_DEVICEEVENT) {
    onDeviceEvent(eventType, eventData);
  }
  return 0;
}

uint32_t ServiceBase::controlHandler(uint32_t control, uint32_t eventType, void* eventData, void* context) {
  return static_cast<WnServiceCallbackInterface*>(context)->onServiceControl(control, eventType, eventData);
}

uint32_t ServiceBase::installService() {
  ModulePath path;
  if (const uint32_t error = path.read(); error != 0) return error;
  WnServiceCtrlMgr manager;
  if (const uint32_t error = manager.open(); error != 0) return error;
  char16_t commandLine[kCommandLineChars];
  platform::formatText(commandLine, kCommandLineChars, u"%s -service", path.fullPath());
  WnServiceCtrl service;
  if (const uint32_t error =
          service.create(manager, getServiceName(), getDisplayName(), platform::SERVICE_ALL_ACCESS, serviceType_,
                         platform::SERVICE_AUTO_START, platform::SERVICE_ERROR_NORMAL, commandLine, u"PlugPlay",
                         u"eventlog\0PlugPlay\0", nullptr, nullptr);
      error != 0) {
    return error;
  }
  const platform::ServiceDescription description{getDescription()};
  (void)platform::changeServiceConfig2(service.handle(), platform::SERVICE_CONFIG_DESCRIPTION, &description);

  const std::u16string keyPath = platform::formatText(kEventLogKeyFormat, u"Application", getServiceName());
  platform::RegistryKey key;
  uint32_t error = platform::RegistryKey::create(platform::RegistryHive::LocalMachine, keyPath, kKeyReadWrite, key);
  if (error == 0) error = key.setString(u"EventMessageFile", path.fullPath(), platform::REG_EXPAND_SZ);
  if (error == 0) error = key.setDword(u"TypesSupported", kTypesSupported);
  return error;
}

uint32_t ServiceBase::uninstallService() {
  WnServiceCtrlMgr manager;
  if (const uint32_t error = manager.open(); error != 0) return error;
  WnServiceCtrl service;
  if (const uint32_t error = service.open(manager, getServiceName(), platform::DELETE); error != 0) return error;
  if (!platform::deleteService(service.handle())) return platform::lastError();
  platform::RegistryKey key;
  if (platform::RegistryKey::open(platform::RegistryHive::LocalMachine,
                                  platform::formatText(kEventLogApplicationKeyFormat, u"Application"),
                                  platform::KEY_WRITE, key) == 0) {
    (void)key.deleteSubKey(getServiceName());
  }
  return 0;
}

uint32_t ServiceBase::startService() {
  WnServiceCtrlMgr manager;
  if (const uint32_t error = manager.open(); error != 0) return error;
  WnServiceCtrl service;
  if (const uint32_t error = service.open(manager, getServiceName(), platform::SERVICE_START); error != 0) return error;
  return platform::startService(service.handle(), 0, nullptr) ? 0 : platform::lastError();
}

uint32_t ServiceBase::stopService() {
  WnServiceCtrlMgr manager;
  if (const uint32_t error = manager.open(); error != 0) return error;
  WnServiceCtrl service;
  if (const uint32_t error =
          service.open(manager, getServiceName(), platform::SERVICE_STOP | platform::SERVICE_QUERY_STATUS);
      error != 0) {
    return error;
  }
  platform::ServiceStatus status;
  if (!platform::controlService(service.handle(), platform::SERVICE_CONTROL_STOP, &status)) {
    return platform::lastError();
  }
  for (int poll = 0; poll < kStopPolls; ++poll) {
    if (!platform::queryServiceStatus(service.handle(), &status)) return platform::lastError();
    if (status.currentState == platform::SERVICE_STOPPED) return 0;
    platform::sleepMs(kStopPollMs);
  }
  return platform::ERROR_TIMEOUT;
}

bool ServiceBase::setStatus(uint32_t state, uint32_t waitHint, uint32_t checkPoint, uint32_t win32ExitCode,
                            uint32_t serviceExitCode) {
  if (service_.statusHandle() == nullptr) return true;
  platform::ServiceStatus status;
  status.serviceType = serviceType_;
  status.currentState = state;
  status.controlsAccepted = acceptedControls_;
  status.win32ExitCode = win32ExitCode;
  status.serviceSpecificExitCode = serviceExitCode;
  status.checkPoint = checkPoint;
  status.waitHint = waitHint;
  return platform::setServiceStatus(service_.statusHandle(), &status);
}

bool ServiceBase::registerControlHandler() {
  const platform::ServiceStatusHandle handle =
      platform::registerServiceCtrlHandlerEx(getServiceName(), &ServiceBase::controlHandler, &controlForwarder_);
  if (handle == nullptr) return false;
  service_.setStatusHandle(handle);
  platform::resetEvent(stopEvent_.handle());
  return true;
}

uint32_t ServiceBase::registerServiceNotification(const platform::Guid& interfaceClass) {
  if (service_.statusHandle() == nullptr) return 0;
  return serviceNotifications_.add(platform::serviceNotificationRecipient(service_.statusHandle()), interfaceClass,
                                   platform::DEVICE_NOTIFY_SERVICE_HANDLE);
}

uint32_t ServiceBase::registerWindowNotification(const platform::Guid& interfaceClass) {
  uint32_t error = 0;
  WnPnPNotificator& notificator = notificator_;
  if (const uint32_t started = notificator.start(&notificatorForwarder_, nullptr);
      started != 0 && started != platform::ERROR_ALREADY_INITIALIZED) {
    error = started;
  }
  const uint32_t registered = notificator.registerInterface(interfaceClass);
  return error != 0 ? error : registered;
}

void ServiceBase::requestStop() {
  serviceNotifications_.removeAll();
  (void)notificator_.stop(platform::INFINITE);
  platform::setEvent(stopEvent_.handle());
}
