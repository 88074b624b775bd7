#pragma once
// The service control manager of the emulated machine.
//
// The service database is the registry: one key per entry below
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services, with the values
// "Type", "Start", "ErrorControl", "ImagePath" (a command line), "DisplayName",
// "Description", "Group", "DependOnService", "ObjectName". A key counts as an
// entry when it has a "Type" value.
//
// Entries of type SERVICE_WIN32_OWN_PROCESS are programs: startService runs
// the image path as a detached process under a monitor of its own (the
// "service-monitor" program), the program's startServiceCtrlDispatcher
// connects back to the monitor, the service's main function runs on a thread
// of its own, and controls reach the handler it registered. A program that
// does not connect within 30 s is ended (1053). The monitor records every
// status the service reports, so queries see them, and learns at once when
// the process ends: a service that ends without reporting SERVICE_STOPPED is
// reported stopped with ERROR_PROCESS_ABORTED and its exit code as the
// service-specific exit code. Nothing waits on a process that has gone.
//
// Entries of type SERVICE_KERNEL_DRIVER name a driver module: the machine's
// device host loads them when it starts and shows them running while it runs,
// together with the machine's own system services "eventlog" and "PlugPlay".
//
// Runtime state lives in <root>/services/: per entry a lock held by whoever
// runs it (monitor or device host), the last status, the monitor's control
// socket and the service program's output (<key>.log).
//
// Functions follow the original system's interface: handles or bool results,
// failures as the thread's last error, with the system's error numbers.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_notifications.h"
#include "platform/unique_fd.h"

namespace platform {

// Types.
inline constexpr uint32_t SERVICE_KERNEL_DRIVER = 0x01;
inline constexpr uint32_t SERVICE_FILE_SYSTEM_DRIVER = 0x02;
inline constexpr uint32_t SERVICE_DRIVER = 0x0B;
inline constexpr uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr uint32_t SERVICE_WIN32_SHARE_PROCESS = 0x20;
inline constexpr uint32_t SERVICE_WIN32 = 0x30;
inline constexpr uint32_t SERVICE_TYPE_ALL = 0x3B;
// Start types.
inline constexpr uint32_t SERVICE_BOOT_START = 0;
inline constexpr uint32_t SERVICE_SYSTEM_START = 1;
inline constexpr uint32_t SERVICE_AUTO_START = 2;
inline constexpr uint32_t SERVICE_DEMAND_START = 3;
inline constexpr uint32_t SERVICE_DISABLED = 4;
// Error control.
inline constexpr uint32_t SERVICE_ERROR_IGNORE = 0;
inline constexpr uint32_t SERVICE_ERROR_NORMAL = 1;
inline constexpr uint32_t SERVICE_ERROR_SEVERE = 2;
inline constexpr uint32_t SERVICE_ERROR_CRITICAL = 3;
// States.
inline constexpr uint32_t SERVICE_STOPPED = 1;
inline constexpr uint32_t SERVICE_START_PENDING = 2;
inline constexpr uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr uint32_t SERVICE_RUNNING = 4;
inline constexpr uint32_t SERVICE_CONTINUE_PENDING = 5;
inline constexpr uint32_t SERVICE_PAUSE_PENDING = 6;
inline constexpr uint32_t SERVICE_PAUSED = 7;
// Controls.
inline constexpr uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr uint32_t SERVICE_CONTROL_PAUSE = 2;
inline constexpr uint32_t SERVICE_CONTROL_CONTINUE = 3;
inline constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr uint32_t SERVICE_CONTROL_SHUTDOWN = 5;
inline constexpr uint32_t SERVICE_CONTROL_PARAMCHANGE = 6;
inline constexpr uint32_t SERVICE_CONTROL_DEVICEEVENT = 11;
// Accepted controls.
inline constexpr uint32_t SERVICE_ACCEPT_STOP = 0x01;
inline constexpr uint32_t SERVICE_ACCEPT_PAUSE_CONTINUE = 0x02;
inline constexpr uint32_t SERVICE_ACCEPT_SHUTDOWN = 0x04;
// Access rights of the manager and of services.
inline constexpr uint32_t SC_MANAGER_CONNECT = 0x0001;
inline constexpr uint32_t SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr uint32_t SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
inline constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr uint32_t SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr uint32_t SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr uint32_t SERVICE_QUERY_STATUS = 0x0004;
inline constexpr uint32_t SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
inline constexpr uint32_t SERVICE_START = 0x0010;
inline constexpr uint32_t SERVICE_STOP = 0x0020;
inline constexpr uint32_t SERVICE_PAUSE_CONTINUE = 0x0040;
inline constexpr uint32_t SERVICE_INTERROGATE = 0x0080;
inline constexpr uint32_t SERVICE_USER_DEFINED_CONTROL = 0x0100;
inline constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;
inline constexpr uint32_t DELETE = 0x10000;
// Configuration levels of changeServiceConfig2.
inline constexpr uint32_t SERVICE_CONFIG_DESCRIPTION = 1;
// Enumeration states.
inline constexpr uint32_t SERVICE_ACTIVE = 1;
inline constexpr uint32_t SERVICE_INACTIVE = 2;
inline constexpr uint32_t SERVICE_STATE_ALL = 3;

// Errors of the service control manager besides those of platform/errors.h.
inline constexpr uint32_t ERROR_INVALID_NAME = 123;
inline constexpr uint32_t ERROR_INVALID_LEVEL = 124;
inline constexpr uint32_t ERROR_DEPENDENT_SERVICES_RUNNING = 1051;
inline constexpr uint32_t ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr uint32_t ERROR_SERVICE_DISABLED = 1058;
inline constexpr uint32_t ERROR_CIRCULAR_DEPENDENCY = 1059;
inline constexpr uint32_t ERROR_DATABASE_DOES_NOT_EXIST = 1065;
inline constexpr uint32_t ERROR_SERVICE_SPECIFIC_ERROR = 1066;
inline constexpr uint32_t ERROR_PROCESS_ABORTED = 1067;
inline constexpr uint32_t ERROR_SERVICE_DEPENDENCY_FAIL = 1068;
inline constexpr uint32_t ERROR_SERVICE_DEPENDENCY_DELETED = 1075;
inline constexpr uint32_t ERROR_DUPLICATE_SERVICE_NAME = 1078;
inline constexpr uint32_t ERROR_SERVICE_NOT_IN_EXE = 1083;

inline constexpr char16_t SERVICES_ACTIVE_DATABASE[] = u"ServicesActive";
inline constexpr char16_t kServicesKey[] = u"SYSTEM\\CurrentControlSet\\Services";
// How long a started program has to connect its dispatcher, and a handler to return.
inline constexpr uint32_t kServiceStartTimeoutMs = 30000;
inline constexpr uint32_t kServiceControlTimeoutMs = 30000;
// Longest service name.
inline constexpr size_t kMaxServiceName = 256;

// The machine's own system services: they run whenever the machine's device
// host runs, so that dependencies on them hold.
inline constexpr const char16_t* kMachineSystemServices[] = {u"eventlog", u"PlugPlay"};

struct ServiceStatus {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

struct ServiceDescription {
  const char16_t* description = nullptr;  // null leaves it, empty removes it
};

struct ServiceConfig {
  uint32_t serviceType = 0;
  uint32_t startType = 0;
  uint32_t errorControl = 0;
  std::u16string binaryPathName;
  std::u16string loadOrderGroup;
  std::vector<std::u16string> dependencies;
  std::u16string serviceStartName;
  std::u16string displayName;
  std::u16string description;
};

struct ServiceEntry {
  std::u16string name;
  std::u16string displayName;
  ServiceStatus status;
  uint32_t processId = 0;  // 0 while stopped
};

using ServiceHandle = void*;

// ---- The manager and its entries (any process) -------------------------------

// A handle to the manager of the local machine (null or empty machine name;
// 1722 for another) and its active database (null or "ServicesActive"; 1065
// for another).
ServiceHandle openServiceManager(const char16_t* machineName, const char16_t* databaseName, uint32_t access);

// Adds an entry. `dependencies` is a list of names, each terminated, ended by
// an empty one (null: none). A null account means LocalSystem; the password
// is not used. Errors: 1073 an entry of that name exists, 1072 it is marked
// for deletion, 1078 the display name is another entry's, 123 a bad name,
// 87 a bad type, start type, error control or empty image path, 5 a manager
// handle without SC_MANAGER_CREATE_SERVICE.
ServiceHandle createService(ServiceHandle manager, const char16_t* serviceName, const char16_t* displayName,
                            uint32_t access, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                            const char16_t* binaryPathName, const char16_t* loadOrderGroup, uint32_t* tagId,
                            const char16_t* dependencies, const char16_t* serviceStartName,
                            const char16_t* password);

// 1060 when there is no such entry (names compare without case).
ServiceHandle openService(ServiceHandle manager, const char16_t* serviceName, uint32_t access);

bool closeServiceHandle(ServiceHandle handle);

// Removes the entry, at once when it is stopped, else when it stops (marked
// for deletion meanwhile: 1072 for a second delete and for a start).
bool deleteService(ServiceHandle service);

// Starts the entry's dependencies that are not running, then the service, and
// returns once its main function has been started (SERVICE_START_PENDING or
// later). Errors: 1056 already running, 1058 disabled, 1068 a dependency
// failed, 1072 marked for deletion, 1053 no dispatcher connected in time,
// 1067 the program ended before connecting, 1083 its dispatcher does not run
// this service, 2 its program is missing; 50 for kernel drivers and the
// machine's system services (they start with the machine's device host).
bool startService(ServiceHandle service, uint32_t argumentCount, const char16_t* const* arguments);

// Sends a control (1 to 255 except SHUTDOWN) to a running service; `status`
// receives its status afterwards. Errors: 1062 not running, 1061 it cannot
// take controls now (start or stop pending), 1052 it does not accept that
// control, 1053 its handler did not return within 30 s, 1051 a running
// service depends on it (stop), 87 SHUTDOWN or another invalid control, 5
// missing access; a handler's own error.
bool controlService(ServiceHandle service, uint32_t control, ServiceStatus* status);

// Sends SERVICE_CONTROL_SHUTDOWN, as the machine does when it stops.
bool sendShutdownControl(ServiceHandle service, ServiceStatus* status);

bool queryServiceStatus(ServiceHandle service, ServiceStatus* status);
// The same with the process id of a running service program (0 otherwise).
bool queryServiceStatusProcess(ServiceHandle service, ServiceStatus* status, uint32_t* processId);
bool queryServiceConfig(ServiceHandle service, ServiceConfig* config);
// Level SERVICE_CONFIG_DESCRIPTION with a ServiceDescription.
bool changeServiceConfig2(ServiceHandle service, uint32_t infoLevel, const void* info);

// The entries of `typeMask` in `stateMask` (SERVICE_ACTIVE, _INACTIVE, _STATE_ALL),
// ordered by name.
bool enumServicesStatus(ServiceHandle manager, uint32_t typeMask, uint32_t stateMask,
                        std::vector<ServiceEntry>* entries);

// ---- The service program ----------------------------------------------------

using ServiceMainFunction = void (*)(uint32_t argumentCount, char16_t** arguments);
struct ServiceTableEntry {
  const char16_t* serviceName;
  ServiceMainFunction serviceProc;
};
using HandlerFunction = uint32_t (*)(uint32_t control, uint32_t eventType, void* eventData, void* context);
using ServiceStatusHandle = void*;

// Connects the program to the manager that started it and serves its
// controls on the calling thread until every started service has reported
// SERVICE_STOPPED and its main function has returned. `table` ends with an
// entry whose name is null. False with 1063 when the program was not started
// by the manager (typed at a prompt), 87 for an empty table.
// SIGTERM reaches the handler as SERVICE_CONTROL_SHUTDOWN.
bool startServiceCtrlDispatcher(const ServiceTableEntry* table);

// Registers the handler of a service of this program; its controls are called
// on the dispatcher's thread. Null with 1060 for a service this program does
// not run (or outside a dispatcher).
ServiceStatusHandle registerServiceCtrlHandlerEx(const char16_t* serviceName, HandlerFunction handler, void* context);

// Reports the service's status to the manager; returns once it is recorded.
// False with 6 for a bad handle, 87 for a bad state.
bool setServiceStatus(ServiceStatusHandle statusHandle, const ServiceStatus* status);

// The recipient to register device interface notifications with for a
// service (DEVICE_NOTIFY_SERVICE_HANDLE): each arrival or removal reaches the
// service's handler as SERVICE_CONTROL_DEVICEEVENT on the dispatcher's
// thread, with the event type and the device interface record. Null for a bad
// handle.
DeviceNotificationRecipient* serviceNotificationRecipient(ServiceStatusHandle statusHandle);

// ---- The machine's device host ----------------------------------------------

struct KernelDriverEntry {
  std::u16string name;
  std::u16string modulePath;
  uint32_t startType = SERVICE_DEMAND_START;
};

// Adds (or replaces) a kernel-driver entry: type SERVICE_KERNEL_DRIVER, the
// module as image path. 0 or the error (87 for a bad start type or an empty
// path, 123 for a bad name, 1072 when marked for deletion).
uint32_t registerKernelDriver(const std::u16string& name, const std::u16string& modulePath,
                              uint32_t startType = SERVICE_SYSTEM_START, const std::u16string& displayName = u"");

// The kernel-driver entries the device host loads (every start type but
// SERVICE_DISABLED), boot, system, auto and then demand start, by name.
std::vector<KernelDriverEntry> kernelDriverEntries();

// Creates the entries of the machine's system services when missing.
uint32_t ensureMachineSystemServices();

// Shows an entry running while the object lives and this process runs (the
// device host marks the drivers it loaded and the system services so).
class RunningMark {
 public:
  RunningMark() = default;
  ~RunningMark();  // reports SERVICE_STOPPED
  RunningMark(RunningMark&&) noexcept = default;
  RunningMark& operator=(RunningMark&&) noexcept;
  RunningMark(const RunningMark&) = delete;
  RunningMark& operator=(const RunningMark&) = delete;

  // 0, 1056 when someone else runs it, 1060 when there is no such entry.
  uint32_t mark(const std::u16string& serviceName);

 private:
  void release();
  std::u16string name_;
  UniqueFd lock_;
};

// ---- The monitor program ------------------------------------------------------

// The body of the "service-monitor" program (its arguments as given to main).
int runServiceMonitor(int argc, char** argv);

}  // namespace platform
