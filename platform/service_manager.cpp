// The manager functions of the service control manager: the service database
// in the registry, and starting, controlling and querying services through
// their runtime files and monitors (platform/services.h).

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/object_table.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service_runtime.h"
#include "platform/services.h"
#include "platform/text.h"
#include "platform/waits.h"

#ifndef WN_SERVICE_MONITOR_PATH
#define WN_SERVICE_MONITOR_PATH "service-monitor"
#endif

namespace platform {

namespace rt = service_runtime;

namespace {

constexpr uint32_t SERVICE_INTERACTIVE_PROCESS = 0x100;
constexpr char16_t SC_GROUP_IDENTIFIER = u'+';
// Replies of a monitor come within its own 30 s limit for a handler.
constexpr int kMonitorReplyTimeoutMs = static_cast<int>(kServiceControlTimeoutMs) + 10000;

struct HandleObject {
  bool isManager = false;
  uint32_t access = 0;
  std::u16string name;  // service handles: the entry's name as stored
};

// The handles given out, with a copy taken of the kind a call wants; false
// with last error 6 for any other.
class HandleTable {
 public:
  ServiceHandle add(std::unique_ptr<HandleObject> object) { return objects_.add(std::move(object)); }
  bool remove(ServiceHandle handle) { return objects_.remove(handle); }
  bool find(ServiceHandle handle, bool wantManager, HandleObject* copy) {
    const std::optional<HandleObject> found = objects_.find(handle);
    if (!found || found->isManager != wantManager) {
      setLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    *copy = *found;
    return true;
  }

 private:
  ObjectTable<HandleObject> objects_;
};

HandleTable& handles() {
  static HandleTable table;
  return table;
}

bool fail(uint32_t error) {
  setLastError(error);
  return false;
}

// The service behind a handle when it grants `access`; false with the last error set.
bool serviceWithAccess(ServiceHandle handle, uint32_t access, HandleObject* service) {
  if (!handles().find(handle, false, service)) return false;
  if ((service->access & access) != access) return fail(ERROR_ACCESS_DENIED);
  return true;
}

bool isValidServiceName(const char16_t* name) {
  if (name == nullptr) return false;
  const std::u16string_view text(name);
  return !text.empty() && text.size() <= kMaxServiceName && text.find_first_of(u"\\/") == std::u16string_view::npos;
}

bool isProgramType(uint32_t type) { return (type & SERVICE_WIN32) != 0; }

// Entries the manager cannot start or stop: kernel drivers and the machine's
// system services run with the machine's device host.
bool runsWithTheMachine(const rt::EntryInfo& entry) {
  return !isProgramType(entry.config.serviceType) || rt::isMachineSystemService(entry.name);
}

std::vector<std::u16string> parseDependencies(const char16_t* list, std::vector<std::u16string>* groups) {
  std::vector<std::u16string> services;
  if (list == nullptr) return services;
  for (const char16_t* item = list; *item != 0; item += wideLength(item) + 1) {
    if (*item == SC_GROUP_IDENTIFIER) {
      groups->emplace_back(item + 1);
    } else {
      services.emplace_back(item);
    }
  }
  return services;
}

rt::RuntimeStatus currentStatus(const rt::EntryInfo& entry) {
  const UniqueFd directory = rt::openDirectory();
  if (!directory.valid()) {
    rt::RuntimeStatus stopped;
    stopped.status.serviceType = entry.config.serviceType;
    stopped.status.currentState = SERVICE_STOPPED;
    return stopped;
  }
  return rt::readStatus(directory.get(), entry.name, entry.config.serviceType);
}

bool isRunning(const rt::EntryInfo& entry) { return currentStatus(entry).status.currentState != SERVICE_STOPPED; }

std::vector<std::u16string> entryNames() {
  std::vector<std::u16string> names;
  RegistryKey services;
  if (RegistryKey::open(RegistryHive::LocalMachine, kServicesKey, KEY_READ, services) != 0) return names;
  std::u16string name;
  for (uint32_t i = 0; services.enumSubKey(i, name) == 0; ++i) names.push_back(name);
  return names;
}

// Running services that depend on `name`.
bool hasRunningDependents(const std::u16string& name) {
  const std::u16string folded = foldCase(name);
  for (const std::u16string& other : entryNames()) {
    rt::EntryInfo entry;
    if (rt::readEntry(other, &entry) != 0) continue;
    const auto& dependencies = entry.config.dependencies;
    const bool depends = std::any_of(dependencies.begin(), dependencies.end(),
                                     [&](const std::u16string& d) { return foldCase(d) == folded; });
    if (depends && isRunning(entry)) return true;
  }
  return false;
}

std::string monitorPath() {
  if (const char* path = std::getenv(rt::kMonitorVariable); path != nullptr && *path != 0) return path;
  return WN_SERVICE_MONITOR_PATH;
}

// Runs the entry's program under a monitor of its own and waits for the
// monitor's verdict on the start.
uint32_t launchMonitor(const std::u16string& name, uint32_t argumentCount, const char16_t* const* arguments) {
  int result[2];
  if (::pipe2(result, O_CLOEXEC) != 0) return errorFromErrno(errno);
  UniqueFd readEnd(result[0]);
  UniqueFd writeEnd(result[1]);
  std::vector<std::string> command = {monitorPath(), "--service", toUtf8(name), "--result-fd", "3", "--"};
  for (uint32_t i = 0; i < argumentCount; ++i) command.push_back(arguments[i] != nullptr ? toUtf8(arguments[i]) : "");
  ProcessOptions options;
  options.detached = true;
  options.descriptors = {{writeEnd.get(), 3}};
  ProcessInformation monitor;
  if (const uint32_t error = startProcess(command, options, monitor); error != 0) return error;
  writeEnd.reset();
  uint32_t verdict = ERROR_PROCESS_ABORTED;  // the monitor ended without one
  pollfd p{readEnd.get(), POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(kServiceStartTimeoutMs) + 10000) > 0) {
    uint32_t value = 0;
    if (::read(readEnd.get(), &value, sizeof value) == static_cast<ssize_t>(sizeof value)) verdict = value;
  } else {
    verdict = ERROR_SERVICE_REQUEST_TIMEOUT;
  }
  closeHandle(monitor.process);
  return verdict;
}

uint32_t startEntry(const std::u16string& serviceName, uint32_t argumentCount, const char16_t* const* arguments,
                    std::set<std::u16string>& starting);

uint32_t startDependencies(const rt::EntryInfo& entry, std::set<std::u16string>& starting) {
  for (const std::u16string& dependency : entry.config.dependencies) {
    rt::EntryInfo required;
    if (rt::readEntry(dependency, &required) != 0) return ERROR_SERVICE_DEPENDENCY_DELETED;
    if (isRunning(required)) continue;
    if (runsWithTheMachine(required)) return ERROR_SERVICE_DEPENDENCY_FAIL;
    if (starting.count(foldCase(required.name)) != 0) return ERROR_CIRCULAR_DEPENDENCY;
    const uint32_t error = startEntry(required.name, 0, nullptr, starting);
    if (error != 0 && error != ERROR_SERVICE_ALREADY_RUNNING) return ERROR_SERVICE_DEPENDENCY_FAIL;
  }
  return 0;
}

uint32_t startEntry(const std::u16string& serviceName, uint32_t argumentCount, const char16_t* const* arguments,
                    std::set<std::u16string>& starting) {
  rt::EntryInfo entry;
  if (const uint32_t error = rt::readEntry(serviceName, &entry); error != 0) return error;
  if (entry.markedForDelete) return ERROR_SERVICE_MARKED_FOR_DELETE;
  if (entry.config.startType == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;
  if (runsWithTheMachine(entry)) return isRunning(entry) ? ERROR_SERVICE_ALREADY_RUNNING : ERROR_NOT_SUPPORTED;
  starting.insert(foldCase(entry.name));
  if (const uint32_t error = startDependencies(entry, starting); error != 0) return error;
  if (isRunning(entry)) return ERROR_SERVICE_ALREADY_RUNNING;
  return launchMonitor(entry.name, argumentCount, arguments);
}

bool accessForControl(uint32_t control, bool shutdownAllowed, uint32_t* access) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      *access = SERVICE_STOP;
      return true;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_PARAMCHANGE:
      *access = SERVICE_PAUSE_CONTINUE;
      return true;
    case SERVICE_CONTROL_INTERROGATE:
      *access = SERVICE_INTERROGATE;
      return true;
    case SERVICE_CONTROL_SHUTDOWN:
      *access = SERVICE_STOP;
      return shutdownAllowed;
    default:
      *access = SERVICE_USER_DEFINED_CONTROL;
      return control >= 128 && control <= 255;
  }
}

bool sendControl(ServiceHandle handle, uint32_t control, ServiceStatus* status, bool shutdownAllowed) {
  uint32_t access = 0;
  if (!accessForControl(control, shutdownAllowed, &access)) return fail(ERROR_INVALID_PARAMETER);
  HandleObject service;
  if (!serviceWithAccess(handle, access, &service)) return false;
  rt::EntryInfo entry;
  if (const uint32_t error = rt::readEntry(service.name, &entry); error != 0) return fail(error);
  const rt::RuntimeStatus current = currentStatus(entry);
  if (status != nullptr) *status = current.status;
  if (current.status.currentState == SERVICE_STOPPED) return fail(ERROR_SERVICE_NOT_ACTIVE);
  if (runsWithTheMachine(entry)) return fail(ERROR_INVALID_SERVICE_CONTROL);
  if (control == SERVICE_CONTROL_STOP && hasRunningDependents(entry.name)) {
    return fail(ERROR_DEPENDENT_SERVICES_RUNNING);
  }
  const UniqueFd directory = rt::openDirectory();
  if (!directory.valid()) return false;
  const UniqueFd monitor = rt::connectControl(directory.get(), entry.name);
  if (!monitor.valid()) return fail(ERROR_SERVICE_NOT_ACTIVE);  // it ended meanwhile
  const rt::MonitorRequestMessage request{rt::MonitorRequest::kControl, control};
  if (::send(monitor.get(), &request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request)) {
    return fail(ERROR_SERVICE_NOT_ACTIVE);
  }
  pollfd p{monitor.get(), POLLIN, 0};
  rt::MonitorReplyMessage reply{};
  if (::poll(&p, 1, kMonitorReplyTimeoutMs) <= 0) return fail(ERROR_SERVICE_REQUEST_TIMEOUT);
  if (::recv(monitor.get(), &reply, sizeof reply, 0) != static_cast<ssize_t>(sizeof reply)) {
    return fail(ERROR_SERVICE_NOT_ACTIVE);  // the monitor ended: the service is gone
  }
  if (status != nullptr) *status = reply.status;
  return reply.error == 0 || fail(reply.error);
}

uint32_t writeNewEntry(const std::u16string& name, const char16_t* displayName, uint32_t type, uint32_t startType,
                       uint32_t errorControl, const char16_t* binaryPath, const char16_t* group,
                       const std::vector<std::u16string>& dependencies, const std::vector<std::u16string>& groups,
                       const char16_t* account) {
  return runRegistryBatch([&]() -> uint32_t {
    RegistryKey key;
    uint32_t error =
        RegistryKey::create(RegistryHive::LocalMachine, std::u16string(kServicesKey) + u"\\" + name, KEY_ALL_ACCESS, key);
    if (error == 0) error = key.setDword(u"Type", type);
    if (error == 0) error = key.setDword(u"Start", startType);
    if (error == 0) error = key.setDword(u"ErrorControl", errorControl);
    if (error == 0) error = key.setString(u"ImagePath", binaryPath, REG_EXPAND_SZ);
    if (error == 0) error = key.setString(u"DisplayName", displayName != nullptr && *displayName != 0 ? displayName : name);
    if (error == 0 && group != nullptr && *group != 0) error = key.setString(u"Group", group);
    if (error == 0 && !dependencies.empty()) error = key.setMultiString(u"DependOnService", dependencies);
    if (error == 0 && !groups.empty()) error = key.setMultiString(u"DependOnGroup", groups);
    if (error == 0 && isProgramType(type)) {
      error = key.setString(u"ObjectName", account != nullptr && *account != 0 ? account : u"LocalSystem");
    }
    return error;
  });
}

// Another entry whose name or display name is `displayName`.
bool displayNameTaken(const std::u16string& name, const std::u16string& displayName) {
  const std::u16string folded = foldCase(displayName);
  for (const std::u16string& other : entryNames()) {
    if (foldCase(other) == foldCase(name)) continue;
    rt::EntryInfo entry;
    if (rt::readEntry(other, &entry) != 0) continue;
    if (foldCase(entry.name) == folded || foldCase(entry.config.displayName) == folded) return true;
  }
  return false;
}

}  // namespace

ServiceHandle openServiceManager(const char16_t* machineName, const char16_t* databaseName, uint32_t access) {
  if (machineName != nullptr && *machineName != 0) {
    setLastError(ERROR_RPC_SERVER_UNAVAILABLE);  // there is no other machine
    return nullptr;
  }
  if (databaseName != nullptr && foldCase(databaseName) != foldCase(SERVICES_ACTIVE_DATABASE)) {
    setLastError(ERROR_DATABASE_DOES_NOT_EXIST);
    return nullptr;
  }
  RegistryKey services;
  if (const uint32_t error = RegistryKey::create(RegistryHive::LocalMachine, kServicesKey, KEY_READ, services);
      error != 0) {
    setLastError(error);
    return nullptr;
  }
  auto object = std::make_unique<HandleObject>();
  object->isManager = true;
  object->access = access;
  return handles().add(std::move(object));
}

ServiceHandle createService(ServiceHandle manager, const char16_t* serviceName, const char16_t* displayName,
                            uint32_t access, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                            const char16_t* binaryPathName, const char16_t* loadOrderGroup, uint32_t* tagId,
                            const char16_t* dependencies, const char16_t* serviceStartName, const char16_t*) {
  HandleObject owner;
  if (!handles().find(manager, true, &owner)) return nullptr;
  if ((owner.access & SC_MANAGER_CREATE_SERVICE) == 0) return fail(ERROR_ACCESS_DENIED), nullptr;
  if (!isValidServiceName(serviceName)) return fail(ERROR_INVALID_NAME), nullptr;
  const uint32_t baseType = serviceType & ~SERVICE_INTERACTIVE_PROCESS;
  const bool driver = baseType == SERVICE_KERNEL_DRIVER || baseType == SERVICE_FILE_SYSTEM_DRIVER;
  const bool program = baseType == SERVICE_WIN32_OWN_PROCESS || baseType == SERVICE_WIN32_SHARE_PROCESS;
  if ((!driver && !program) || (driver && baseType != serviceType) || startType > SERVICE_DISABLED ||
      (program && startType < SERVICE_AUTO_START) || errorControl > SERVICE_ERROR_CRITICAL ||
      binaryPathName == nullptr || *binaryPathName == 0) {
    return fail(ERROR_INVALID_PARAMETER), nullptr;
  }
  const std::u16string name(serviceName);
  rt::EntryInfo existing;
  if (rt::readEntry(name, &existing) == 0) {
    return fail(existing.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS), nullptr;
  }
  if (displayNameTaken(name, displayName != nullptr && *displayName != 0 ? displayName : serviceName)) {
    return fail(ERROR_DUPLICATE_SERVICE_NAME), nullptr;
  }
  std::vector<std::u16string> groups;
  const std::vector<std::u16string> services = parseDependencies(dependencies, &groups);
  if (const uint32_t error = writeNewEntry(name, displayName, serviceType, startType, errorControl, binaryPathName,
                                           loadOrderGroup, services, groups, serviceStartName);
      error != 0) {
    return fail(error), nullptr;
  }
  if (tagId != nullptr) *tagId = 0;
  auto object = std::make_unique<HandleObject>();
  object->access = access;
  object->name = name;
  return handles().add(std::move(object));
}

ServiceHandle openService(ServiceHandle manager, const char16_t* serviceName, uint32_t access) {
  HandleObject owner;
  if (!handles().find(manager, true, &owner)) return nullptr;
  if (!isValidServiceName(serviceName)) return fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr;
  rt::EntryInfo entry;
  if (const uint32_t error = rt::readEntry(serviceName, &entry); error != 0) return fail(error), nullptr;
  auto object = std::make_unique<HandleObject>();
  object->access = access;
  object->name = entry.name;
  return handles().add(std::move(object));
}

bool closeServiceHandle(ServiceHandle handle) { return handles().remove(handle) || fail(ERROR_INVALID_HANDLE); }

bool deleteService(ServiceHandle handle) {
  HandleObject service;
  if (!serviceWithAccess(handle, DELETE, &service)) return false;
  rt::EntryInfo entry;
  if (const uint32_t error = rt::readEntry(service.name, &entry); error != 0) {
    return fail(error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SERVICE_MARKED_FOR_DELETE : error);
  }
  if (entry.markedForDelete) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  const UniqueFd directory = rt::openDirectory();
  if (!directory.valid()) return false;
  // A service that has reported SERVICE_STOPPED goes at once, even while its
  // program and monitor are still ending; a running one is marked.
  if (rt::readStatus(directory.get(), entry.name, entry.config.serviceType).status.currentState != SERVICE_STOPPED) {
    RegistryKey key;
    uint32_t error = RegistryKey::open(RegistryHive::LocalMachine, std::u16string(kServicesKey) + u"\\" + entry.name,
                                       KEY_ALL_ACCESS, key);
    if (error == 0) error = key.setDword(u"DeleteFlag", 1);
    if (error != 0) return fail(error);
    // Whoever runs it removes a marked entry when it stops; if it stopped
    // while the mark was being set, that is done here.
    if (rt::readStatus(directory.get(), entry.name, entry.config.serviceType).status.currentState !=
        SERVICE_STOPPED) {
      return true;
    }
  }
  const uint32_t error = rt::removeEntry(entry.name);
  return error == 0 || fail(error);
}

bool startService(ServiceHandle handle, uint32_t argumentCount, const char16_t* const* arguments) {
  HandleObject service;
  if (!serviceWithAccess(handle, SERVICE_START, &service)) return false;
  if (argumentCount > 0 && arguments == nullptr) return fail(ERROR_INVALID_PARAMETER);
  std::set<std::u16string> starting;
  const uint32_t error = startEntry(service.name, argumentCount, arguments, starting);
  return error == 0 || fail(error);
}

bool controlService(ServiceHandle service, uint32_t control, ServiceStatus* status) {
  return sendControl(service, control, status, false);
}

bool sendShutdownControl(ServiceHandle service, ServiceStatus* status) {
  return sendControl(service, SERVICE_CONTROL_SHUTDOWN, status, true);
}

bool queryServiceStatusProcess(ServiceHandle handle, ServiceStatus* status, uint32_t* processId) {
  HandleObject service;
  if (!serviceWithAccess(handle, SERVICE_QUERY_STATUS, &service)) return false;
  if (status == nullptr) return fail(ERROR_INVALID_PARAMETER);
  rt::EntryInfo entry;
  if (const uint32_t error = rt::readEntry(service.name, &entry); error != 0) return fail(error);
  const rt::RuntimeStatus current = currentStatus(entry);
  *status = current.status;
  if (processId != nullptr) *processId = current.status.currentState == SERVICE_STOPPED ? 0 : current.processId;
  return true;
}

bool queryServiceStatus(ServiceHandle service, ServiceStatus* status) {
  return queryServiceStatusProcess(service, status, nullptr);
}

bool queryServiceConfig(ServiceHandle handle, ServiceConfig* config) {
  HandleObject service;
  if (!serviceWithAccess(handle, SERVICE_QUERY_CONFIG, &service)) return false;
  if (config == nullptr) return fail(ERROR_INVALID_PARAMETER);
  rt::EntryInfo entry;
  if (const uint32_t error = rt::readEntry(service.name, &entry); error != 0) return fail(error);
  *config = entry.config;
  return true;
}

bool changeServiceConfig2(ServiceHandle handle, uint32_t infoLevel, const void* info) {
  HandleObject service;
  if (!serviceWithAccess(handle, SERVICE_CHANGE_CONFIG, &service)) return false;
  if (infoLevel != SERVICE_CONFIG_DESCRIPTION) return fail(ERROR_INVALID_LEVEL);
  if (info == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const char16_t* description = static_cast<const ServiceDescription*>(info)->description;
  if (description == nullptr) return true;
  RegistryKey key;
  uint32_t error = RegistryKey::open(RegistryHive::LocalMachine, std::u16string(kServicesKey) + u"\\" + service.name,
                                     KEY_ALL_ACCESS, key);
  if (error == 0) error = *description == 0 ? key.deleteValue(u"Description") : key.setString(u"Description", description);
  if (error == ERROR_FILE_NOT_FOUND && *description == 0) error = 0;
  return error == 0 || fail(error == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_MARKED_FOR_DELETE : error);
}

bool enumServicesStatus(ServiceHandle manager, uint32_t typeMask, uint32_t stateMask, std::vector<ServiceEntry>* entries) {
  HandleObject owner;
  if (!handles().find(manager, true, &owner)) return false;
  if ((owner.access & SC_MANAGER_ENUMERATE_SERVICE) == 0) return fail(ERROR_ACCESS_DENIED);
  if (entries == nullptr || (stateMask & SERVICE_STATE_ALL) == 0 || (typeMask & SERVICE_TYPE_ALL) == 0) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  entries->clear();
  for (const std::u16string& name : entryNames()) {
    rt::EntryInfo entry;
    if (rt::readEntry(name, &entry) != 0 || (entry.config.serviceType & typeMask) == 0) continue;
    const rt::RuntimeStatus current = currentStatus(entry);
    const bool active = current.status.currentState != SERVICE_STOPPED;
    if ((active && (stateMask & SERVICE_ACTIVE) == 0) || (!active && (stateMask & SERVICE_INACTIVE) == 0)) continue;
    entries->push_back({entry.name, entry.config.displayName, current.status, active ? current.processId : 0});
  }
  return true;
}

uint32_t registerKernelDriver(const std::u16string& name, const std::u16string& modulePath, uint32_t startType,
                              const std::u16string& displayName) {
  if (!isValidServiceName(name.c_str())) return ERROR_INVALID_NAME;
  if (modulePath.empty() || startType > SERVICE_DISABLED) return ERROR_INVALID_PARAMETER;
  rt::EntryInfo existing;
  if (rt::readEntry(name, &existing) == 0 && existing.markedForDelete) return ERROR_SERVICE_MARKED_FOR_DELETE;
  return runRegistryBatch([&]() -> uint32_t {
    RegistryKey key;
    uint32_t error =
        RegistryKey::create(RegistryHive::LocalMachine, std::u16string(kServicesKey) + u"\\" + name, KEY_ALL_ACCESS, key);
    if (error == 0) error = key.setDword(u"Type", SERVICE_KERNEL_DRIVER);
    if (error == 0) error = key.setDword(u"Start", startType);
    if (error == 0) error = key.setDword(u"ErrorControl", SERVICE_ERROR_NORMAL);
    if (error == 0) error = key.setString(u"ImagePath", modulePath, REG_EXPAND_SZ);
    if (error == 0) error = key.setString(u"DisplayName", displayName.empty() ? name : displayName);
    return error;
  });
}

std::vector<KernelDriverEntry> kernelDriverEntries() {
  std::vector<KernelDriverEntry> drivers;
  for (const std::u16string& name : entryNames()) {
    rt::EntryInfo entry;
    if (rt::readEntry(name, &entry) != 0 || entry.markedForDelete) continue;
    const ServiceConfig& config = entry.config;
    if ((config.serviceType & SERVICE_DRIVER) == 0 || config.startType == SERVICE_DISABLED ||
        config.binaryPathName.empty()) {
      continue;
    }
    drivers.push_back({entry.name, config.binaryPathName, config.startType});
  }
  std::stable_sort(drivers.begin(), drivers.end(),
                   [](const KernelDriverEntry& a, const KernelDriverEntry& b) { return a.startType < b.startType; });
  return drivers;
}

uint32_t ensureMachineSystemServices() {
  struct SystemService {
    const char16_t* name;
    const char16_t* displayName;
    const char16_t* description;
  };
  static constexpr SystemService kServices[] = {
      {u"eventlog", u"Event Log", u"Keeps the machine's event log; runs with the machine's device host."},
      {u"PlugPlay", u"Plug and Play",
       u"Tells programs of arriving and departing devices; runs with the machine's device host."},
  };
  return runRegistryBatch([&]() -> uint32_t {
    for (const SystemService& service : kServices) {
      RegistryKey key;
      uint32_t error = RegistryKey::create(RegistryHive::LocalMachine,
                                           std::u16string(kServicesKey) + u"\\" + service.name, KEY_ALL_ACCESS, key);
      uint32_t type = 0;
      if (error == 0 && key.getDword(u"Type", type) == 0) continue;
      if (error == 0) error = key.setDword(u"Type", SERVICE_WIN32_SHARE_PROCESS);
      if (error == 0) error = key.setDword(u"Start", SERVICE_AUTO_START);
      if (error == 0) error = key.setDword(u"ErrorControl", SERVICE_ERROR_NORMAL);
      if (error == 0) error = key.setString(u"ImagePath", u"devhost", REG_EXPAND_SZ);
      if (error == 0) error = key.setString(u"DisplayName", service.displayName);
      if (error == 0) error = key.setString(u"Description", service.description);
      if (error == 0) error = key.setString(u"ObjectName", u"LocalSystem");
      if (error != 0) return error;
    }
    return 0;
  });
}

RunningMark& RunningMark::operator=(RunningMark&& other) noexcept {
  if (this != &other) {
    release();
    name_ = std::move(other.name_);
    lock_ = std::move(other.lock_);
  }
  return *this;
}

RunningMark::~RunningMark() { release(); }

uint32_t RunningMark::mark(const std::u16string& serviceName) {
  release();
  rt::EntryInfo entry;
  if (const uint32_t error = rt::readEntry(serviceName, &entry); error != 0) return error;
  const UniqueFd directory = rt::openDirectory();
  if (!directory.valid()) return lastError();
  UniqueFd lock = rt::takeLock(directory.get(), entry.name);
  if (!lock.valid()) return lastError();
  rt::RuntimeStatus running;
  running.status.serviceType = entry.config.serviceType;
  running.status.currentState = SERVICE_RUNNING;
  running.processId = currentProcessId();
  running.processStartTime = rt::processStartTime(running.processId);
  if (const uint32_t error = rt::writeStatus(directory.get(), entry.name, running); error != 0) return error;
  name_ = entry.name;
  lock_ = std::move(lock);
  return 0;
}

void RunningMark::release() {
  if (!lock_.valid()) return;
  const UniqueFd directory = rt::openDirectory();
  rt::EntryInfo entry;
  if (directory.valid()) {
    rt::RuntimeStatus stopped;
    stopped.status.currentState = SERVICE_STOPPED;
    stopped.status.serviceType = rt::readEntry(name_, &entry) == 0 ? entry.config.serviceType : SERVICE_KERNEL_DRIVER;
    (void)rt::writeStatus(directory.get(), name_, stopped);
    if (entry.markedForDelete) (void)rt::removeEntry(entry.name);
  }
  lock_.reset();
  name_.clear();
}

}  // namespace platform
