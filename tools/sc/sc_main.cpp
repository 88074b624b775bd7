// sc: the services of the emulated machine's service database: list, query,
// configuration, start, stop, create, describe, delete.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/services.h"
#include "platform/text.h"
#include "tools/common/tool.h"
#include "tools/sc/sc_handle.h"
#include "tools/sc/service_text.h"

namespace {

using tool::Failure;
using tool::UsageError;

constexpr const char* kUsage = R"(Usage: sc [OPTIONS] COMMAND [ARGUMENTS]

The services and kernel drivers of the emulated machine's service database.

Commands:
  list                    every entry: name, type, state, process id, display name
  query NAME              the service's status
  qc NAME                 the service's configuration
  start NAME [ARG ...]    starts the service (and what it depends on); ARGs go to its main function
  stop NAME               asks the service to stop
  create NAME binPath= COMMAND [type= own|kernel] [start= boot|system|auto|demand|disabled]
                          [DisplayName= TEXT] [depend= NAME/NAME...] [group= GROUP]
                          adds an entry (type own: a service program; kernel: a driver module
                          that the machine's device host loads; default own, demand)
  description NAME TEXT   sets the service's description
  delete NAME             removes the entry (when it stops, if it runs)

Options (before or after the command):
  --wait        start and stop: wait until the service runs or has stopped (at most 30 s)
  --version     the program's version
  -h, --help    this text

The machine is the one under $WN_SYSTEM_ROOT. Exit codes: 0 success, 1 a failed operation
(the call, its error number and message are printed), 2 a usage error.
)";

constexpr tool::OptionSpec kOptions[] = {{"--wait", false}};
constexpr auto kWaitLimit = std::chrono::seconds(30);

platform::ServiceHandle openManager() {
  tool::checkSystemRoot();
  const platform::ServiceHandle manager = platform::openServiceManager(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) throw Failure{service_text::failure("OpenSCManager", platform::lastError())};
  return manager;
}

platform::ServiceHandle openEntry(const ScHandle& manager, const std::string& name, uint32_t access) {
  const platform::ServiceHandle service = platform::openService(manager.get(), platform::toWide(name).c_str(), access);
  if (service == nullptr) throw Failure{service_text::failure("OpenService", platform::lastError())};
  return service;
}

platform::ServiceStatus queryStatus(const ScHandle& service, uint32_t* processId) {
  platform::ServiceStatus status;
  if (!platform::queryServiceStatusProcess(service.get(), &status, processId)) {
    throw Failure{service_text::failure("QueryServiceStatus", platform::lastError())};
  }
  return status;
}

// The hint for a start that needs the machine.
std::string machineHint(uint32_t error) {
  if (error == platform::ERROR_SERVICE_DEPENDENCY_FAIL || error == platform::ERROR_NOT_SUPPORTED) {
    return "\nKernel drivers and the machine's system services run with the machine's device host; start it with "
           "`machine start`.";
  }
  return {};
}

// Waits until the service leaves `pending`; false when it did not within the limit.
bool waitWhile(const ScHandle& service, uint32_t pending, platform::ServiceStatus* status, uint32_t* processId) {
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  for (;;) {
    *status = queryStatus(service, processId);
    if (status->currentState != pending) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int list() {
  const ScHandle manager(openManager());
  std::vector<platform::ServiceEntry> entries;
  if (!platform::enumServicesStatus(manager.get(), platform::SERVICE_TYPE_ALL, platform::SERVICE_STATE_ALL, &entries)) {
    throw Failure{service_text::failure("EnumServicesStatus", platform::lastError())};
  }
  std::printf("%-20s %-20s %-14s %-8s %s\n", "NAME", "TYPE", "STATE", "PID", "DISPLAY NAME");
  for (const platform::ServiceEntry& entry : entries) {
    const std::string pid = entry.processId != 0 ? std::to_string(entry.processId) : "-";
    std::printf("%-20s %-20s %-14s %-8s %s\n", platform::toUtf8(entry.name).c_str(),
                service_text::typeName(entry.status.serviceType).c_str(),
                service_text::stateName(entry.status.currentState).c_str(), pid.c_str(),
                platform::toUtf8(entry.displayName).c_str());
  }
  return tool::kExitSuccess;
}

int query(const std::string& name) {
  const ScHandle manager(openManager());
  const ScHandle service(openEntry(manager, name, platform::SERVICE_QUERY_STATUS));
  uint32_t processId = 0;
  const platform::ServiceStatus status = queryStatus(service, &processId);
  std::fputs(service_text::statusBlock(platform::toWide(name), status, processId).c_str(), stdout);
  if (const std::string reason = service_text::stopReason(status); !reason.empty()) {
    std::printf("        (%s)\n", reason.c_str());
  }
  return tool::kExitSuccess;
}

int queryConfig(const std::string& name) {
  const ScHandle manager(openManager());
  const ScHandle service(openEntry(manager, name, platform::SERVICE_QUERY_CONFIG));
  platform::ServiceConfig config;
  if (!platform::queryServiceConfig(service.get(), &config)) {
    throw Failure{service_text::failure("QueryServiceConfig", platform::lastError())};
  }
  std::printf("[SC] QueryServiceConfig SUCCESS\n\nSERVICE_NAME: %s\n", name.c_str());
  std::printf("        TYPE               : %-2x %s\n", config.serviceType, service_text::typeName(config.serviceType).c_str());
  std::printf("        START_TYPE         : %-2u %s\n", config.startType, service_text::startTypeName(config.startType).c_str());
  std::printf("        ERROR_CONTROL      : %-2u %s\n", config.errorControl,
              service_text::errorControlName(config.errorControl).c_str());
  std::printf("        BINARY_PATH_NAME   : %s\n", platform::toUtf8(config.binaryPathName).c_str());
  std::printf("        LOAD_ORDER_GROUP   : %s\n", platform::toUtf8(config.loadOrderGroup).c_str());
  std::printf("        DISPLAY_NAME       : %s\n", platform::toUtf8(config.displayName).c_str());
  std::printf("        DESCRIPTION        : %s\n", platform::toUtf8(config.description).c_str());
  for (size_t i = 0; i < config.dependencies.size() || i == 0; ++i) {
    std::printf("        %s : %s\n", i == 0 ? "DEPENDENCIES      " : "                  ",
                i < config.dependencies.size() ? platform::toUtf8(config.dependencies[i]).c_str() : "");
  }
  std::printf("        SERVICE_START_NAME : %s\n", platform::toUtf8(config.serviceStartName).c_str());
  return tool::kExitSuccess;
}

int start(const std::vector<std::string>& words, bool wait) {
  const ScHandle manager(openManager());
  const ScHandle service(openEntry(manager, words[1], platform::SERVICE_START | platform::SERVICE_QUERY_STATUS));
  std::vector<std::u16string> arguments;
  for (size_t i = 2; i < words.size(); ++i) arguments.push_back(platform::toWide(words[i]));
  std::vector<const char16_t*> pointers;
  for (const std::u16string& argument : arguments) pointers.push_back(argument.c_str());
  if (!platform::startService(service.get(), static_cast<uint32_t>(pointers.size()), pointers.data())) {
    const uint32_t error = platform::lastError();
    throw Failure{service_text::failure("StartService", error) + machineHint(error)};
  }
  uint32_t processId = 0;
  platform::ServiceStatus status = queryStatus(service, &processId);
  if (wait && !waitWhile(service, platform::SERVICE_START_PENDING, &status, &processId)) {
    throw Failure{"the service did not report running within 30 s"};
  }
  std::fputs(service_text::statusBlock(platform::toWide(words[1]), status, processId).c_str(), stdout);
  if (wait && status.currentState != platform::SERVICE_RUNNING) {
    throw Failure{"the service did not start: " + service_text::stopReason(status)};
  }
  return tool::kExitSuccess;
}

int stop(const std::string& name, bool wait) {
  const ScHandle manager(openManager());
  const ScHandle service(openEntry(manager, name, platform::SERVICE_STOP | platform::SERVICE_QUERY_STATUS));
  platform::ServiceStatus status;
  if (!platform::controlService(service.get(), platform::SERVICE_CONTROL_STOP, &status)) {
    throw Failure{service_text::failure("ControlService", platform::lastError())};
  }
  uint32_t processId = 0;
  if (wait) {
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while ((status = queryStatus(service, &processId)).currentState != platform::SERVICE_STOPPED) {
      if (std::chrono::steady_clock::now() > deadline) throw Failure{"the service did not stop within 30 s"};
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::fputs(service_text::statusBlock(platform::toWide(name), status, processId).c_str(), stdout);
  return tool::kExitSuccess;
}

// "key= value" pairs of create.
struct CreateOptions {
  std::u16string binaryPath;
  uint32_t type = platform::SERVICE_WIN32_OWN_PROCESS;
  uint32_t startType = platform::SERVICE_DEMAND_START;
  std::u16string displayName;
  std::u16string dependencies;  // each terminated, then one more terminator
  std::u16string group;
};

CreateOptions parseCreate(const std::vector<std::string>& words) {
  CreateOptions options;
  for (size_t i = 2; i < words.size(); i += 2) {
    const std::string key = words[i];
    if (key.empty() || key.back() != '=') throw UsageError{"create: expected KEY= VALUE, not '" + key + "'"};
    if (i + 1 >= words.size()) throw UsageError{"create: " + key + " needs a value"};
    const std::string& value = words[i + 1];
    if (key == "binPath=") {
      options.binaryPath = platform::toWide(value);
    } else if (key == "type=") {
      if (value == "own") {
        options.type = platform::SERVICE_WIN32_OWN_PROCESS;
      } else if (value == "kernel") {
        options.type = platform::SERVICE_KERNEL_DRIVER;
      } else {
        throw UsageError{"create: type= must be own or kernel, not '" + value + "'"};
      }
    } else if (key == "start=") {
      static const char* const kStarts[] = {"boot", "system", "auto", "demand", "disabled"};
      bool known = false;
      for (uint32_t s = 0; s < 5; ++s) {
        if (value == kStarts[s]) {
          options.startType = s;
          known = true;
        }
      }
      if (!known) throw UsageError{"create: start= must be boot, system, auto, demand or disabled, not '" + value + "'"};
    } else if (key == "DisplayName=") {
      options.displayName = platform::toWide(value);
    } else if (key == "group=") {
      options.group = platform::toWide(value);
    } else if (key == "depend=") {
      for (size_t begin = 0; begin <= value.size();) {
        const size_t end = std::min(value.find('/', begin), value.size());
        if (end > begin) options.dependencies += platform::toWide(value.substr(begin, end - begin)) + u'\0';
        begin = end + 1;
      }
    } else {
      throw UsageError{"create: unknown option '" + key + "'"};
    }
  }
  if (options.binaryPath.empty()) throw UsageError{"create: binPath= is required"};
  if (options.type == platform::SERVICE_WIN32_OWN_PROCESS && options.startType < platform::SERVICE_AUTO_START) {
    throw UsageError{"create: boot and system start are for kernel drivers"};
  }
  options.dependencies += u'\0';
  return options;
}

int create(const std::vector<std::string>& words) {
  const CreateOptions options = parseCreate(words);
  const ScHandle manager(openManager());
  const std::u16string name = platform::toWide(words[1]);
  const ScHandle service(platform::createService(
      manager.get(), name.c_str(), options.displayName.empty() ? nullptr : options.displayName.c_str(),
      platform::SERVICE_ALL_ACCESS, options.type, options.startType, platform::SERVICE_ERROR_NORMAL,
      options.binaryPath.c_str(), options.group.empty() ? nullptr : options.group.c_str(), nullptr,
      options.dependencies.c_str(), nullptr, nullptr));
  if (service.get() == nullptr) throw Failure{service_text::failure("CreateService", platform::lastError())};
  std::printf("[SC] CreateService SUCCESS\n");
  return tool::kExitSuccess;
}

int describe(const std::string& name, const std::string& text) {
  const ScHandle manager(openManager());
  const ScHandle service(openEntry(manager, name, platform::SERVICE_CHANGE_CONFIG));
  const std::u16string wide = platform::toWide(text);
  const platform::ServiceDescription description{wide.c_str()};
  if (!platform::changeServiceConfig2(service.get(), platform::SERVICE_CONFIG_DESCRIPTION, &description)) {
    throw Failure{service_text::failure("ChangeServiceConfig2", platform::lastError())};
  }
  std::printf("[SC] ChangeServiceConfig2 SUCCESS\n");
  return tool::kExitSuccess;
}

int remove(const std::string& name) {
  const ScHandle manager(openManager());
  const ScHandle service(openEntry(manager, name, platform::DELETE | platform::SERVICE_QUERY_STATUS));
  if (!platform::deleteService(service.get())) {
    throw Failure{service_text::failure("DeleteService", platform::lastError())};
  }
  platform::ServiceStatus status;
  const bool running = platform::queryServiceStatus(service.get(), &status) &&
                       status.currentState != platform::SERVICE_STOPPED;
  std::printf(running ? "[SC] DeleteService SUCCESS (removed when it stops)\n" : "[SC] DeleteService SUCCESS\n");
  return tool::kExitSuccess;
}

int runCommand(const tool::CommandLine& line) {
  const std::vector<std::string>& words = line.words();
  if (words.empty()) throw UsageError{"no command given"};
  const std::string& command = words[0];
  const bool wait = line.has("--wait");
  if (command == "list") {
    tool::expectArguments(words, 0, 0);
    return list();
  }
  if (command == "query" || command == "qc" || command == "stop" || command == "delete") {
    tool::expectArguments(words, 1, 1);
    if (command == "query") return query(words[1]);
    if (command == "qc") return queryConfig(words[1]);
    if (command == "stop") return stop(words[1], wait);
    return remove(words[1]);
  }
  if (command == "start") {
    tool::expectArguments(words, 1, 64);
    return start(words, wait);
  }
  if (command == "create") {
    tool::expectArguments(words, 1, 64);
    return create(words);
  }
  if (command == "description") {
    tool::expectArguments(words, 2, 2);
    return describe(words[1], words[2]);
  }
  throw UsageError{"unknown command '" + command + "'"};
}

}  // namespace

int main(int argc, char** argv) { return tool::run({"sc", kUsage, kOptions}, argc, argv, runCommand); }
