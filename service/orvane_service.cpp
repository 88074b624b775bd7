#include "service/orvane_service.h"

#include <cstdio>

#include "platform/device_notifications.h"
#include "platform/events.h"
#include "platform/format.h"
#include "platform/text.h"
#include "service/module_path.h"
#include "service/wn_event_log_writer.h"

namespace {

constexpr size_t kMutexNameChars = 500;
constexpr uint32_t kStartWaitHintMs = 3000;
constexpr uint32_t kVersionMajor = 1;
constexpr uint32_t kVersionMinor = 35;
constexpr uint32_t kVersionBuild = 2;
constexpr uint32_t kInterfaceVersionMajor = 2;
constexpr uint32_t kInterfaceVersionMinor = 0;

OrvaneService* g_instance = nullptr;

// Console output is wide text, written as UTF-8.
void print(const char16_t* text) {
  std::fputs(platform::toUtf8(text).c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

OrvaneService::OrvaneService() {
  (void)arrivalEvent_.create(false);
  server_ = std::make_unique<CustomServer>();
  g_instance = this;
}

OrvaneService::~OrvaneService() {
  if (g_instance == this) g_instance = nullptr;
  server_.reset();
}

const char16_t* OrvaneService::getServiceName() { return server_->getServiceName(); }
const char16_t* OrvaneService::getDisplayName() { return server_->getDisplayName(); }
const char16_t* OrvaneService::getDescription() { return server_->getDescription(); }
platform::ServiceMainFunction OrvaneService::getServiceMain() { return &OrvaneService::serviceMainEntry; }

void OrvaneService::serviceMainEntry(uint32_t argumentCount, char16_t** arguments) {
  if (g_instance != nullptr) g_instance->serviceMain(argumentCount, arguments);
}

void OrvaneService::onDeviceEvent(uint32_t eventType, const void*) {
  if (eventType == platform::DBT_DEVICEARRIVAL) platform::setEvent(arrivalEvent_.handle());
}

void OrvaneService::serviceMain(uint32_t, char16_t**) {
  if (!registerControlHandler()) return;
  setStatus(platform::SERVICE_START_PENDING, kStartWaitHintMs);
  WnEventLogWriter log;
  if (const uint32_t error = log.open(getServiceName()); error != 0) {
    setStatus(platform::SERVICE_STOPPED, 0, 0, error, error);
    return;
  }
  ModulePath path;
  if (const uint32_t error = path.read(); error != 0) {
    (void)log.reportError(u"Failed to get module name.");
    setStatus(platform::SERVICE_STOPPED, 0, 0, error, error);
    return;
  }
  (void)log.reportInfo(u"%s started\r\nExePath: %s\r\nVersion %u.%u.%u\r\nInterface Version %u.%u", getServiceName(),
                       path.fullPath(), kVersionMajor, kVersionMinor, kVersionBuild, kInterfaceVersionMajor,
                       kInterfaceVersionMinor);
  if (const uint32_t error = acquireInstanceLock(); error != 0) {
    (void)log.reportError(u"Unable to start because another instance is already running.");
    setStatus(platform::SERVICE_STOPPED, 0, 0, error, error);
    return;
  }
  platform::Guid interfaceClass;
  server_->getInterfaceGuid(interfaceClass);
  if (const uint32_t error = registerServiceNotification(interfaceClass); error != 0) {
    (void)log.reportError(u"Unable to register for PnP notifications.");
    setStatus(platform::SERVICE_STOPPED, 0, 0, error, error);
    return;
  }
  setStatus(platform::SERVICE_RUNNING);
  server_->run(stopEvent(), arrivalEvent_.handle());
  setStatus(platform::SERVICE_STOPPED);
  releaseInstanceLock();
  (void)log.reportInfo(u"%s terminating.", getServiceName());
  log.close();
}

int OrvaneService::runConsole() {
  if (acquireInstanceLock() != 0) {
    print(u"Cannot start, another instance is already running.\n");
    return 1;
  }
  platform::Guid interfaceClass;
  server_->getInterfaceGuid(interfaceClass);
  if (registerWindowNotification(interfaceClass) != 0) {
    print(u"Failed to register PnP notifications.\n");
    return 1;
  }
  server_->run(stopEvent(), arrivalEvent_.handle());
  releaseInstanceLock();
  return 0;
}

uint32_t OrvaneService::acquireInstanceLock() {
  char16_t name[kMutexNameChars];
  platform::formatText(name, kMutexNameChars, u"%s-%s", getServiceName(), server_->getInterfaceGuidString());
  instanceLock_.closeHandle();
  return instanceLock_.create(nullptr, true, name);
}

void OrvaneService::releaseInstanceLock() { instanceLock_.closeHandle(); }
