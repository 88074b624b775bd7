// machine: starts, stops and shows the emulated machine: its device host with
// the kernel-driver entries of the service database, then the services that
// start automatically, in the order of their dependencies.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/process.h"
#include "platform/services.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "platform/waits.h"
#include "tools/common/tool.h"
#include "tools/sc/sc_handle.h"
#include "tools/sc/service_text.h"

#ifndef WN_DEVHOST_PATH
#define WN_DEVHOST_PATH "devhost"
#endif

namespace {

using tool::Failure;
using tool::UsageError;

constexpr const char* kUsage = R"(Usage: machine [OPTIONS] COMMAND

The emulated machine: a device host with the kernel drivers of the service database,
and the services that start automatically.

Commands:
  start    starts the device host (unless it runs), then every automatic service that does
           not run, dependencies first; recovers from a host or service that was killed
  stop     stops the services (dependents first, each with the shutdown control), then the
           device host
  status   what runs: the device host, the kernel drivers, the system services and services

Options:
  --version     the program's version
  -h, --help    this text

The machine is the one under $WN_SYSTEM_ROOT. Exit codes: 0 success (also for a start of
a running or a stop of a stopped machine), 1 a failure, 2 a usage error.
)";

constexpr auto kServiceLimit = std::chrono::seconds(30);
constexpr auto kStopLimit = std::chrono::seconds(20);
constexpr auto kHostStopLimit = std::chrono::seconds(10);

struct Entry {
  std::u16string name;
  std::u16string displayName;
  platform::ServiceConfig config;
  platform::ServiceStatus status;
  uint32_t processId = 0;
};

class Machine {
 public:
  Machine() : manager_(platform::openServiceManager(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS)) {
    if (manager_.get() == nullptr) throw Failure{service_text::failure("OpenSCManager", platform::lastError())};
    if (const uint32_t error = platform::ensureMachineSystemServices(); error != 0) {
      throw Failure{"cannot add the machine's system services: " + tool::statusText(error)};
    }
  }

  int start();
  int stop();
  int status();

 private:
  std::vector<Entry> entries();
  Entry entry(const std::u16string& name);
  bool hostRunning(Entry* plugPlay = nullptr);
  void startHost();
  bool startService(const Entry& service);
  bool stopService(const Entry& service);
  void stopHost(uint32_t processId);
  static bool isProgram(const Entry& e) {
    return (e.config.serviceType & platform::SERVICE_WIN32) != 0 && !isSystemService(e.name);
  }
  static bool isSystemService(const std::u16string& name);
  std::vector<Entry> inDependencyOrder(std::vector<Entry> services);

  ScHandle manager_;
};

bool Machine::isSystemService(const std::u16string& name) {
  for (const char16_t* system : platform::kMachineSystemServices) {
    if (platform::foldCase(system) == platform::foldCase(name)) return true;
  }
  return false;
}

std::vector<Entry> Machine::entries() {
  std::vector<platform::ServiceEntry> listed;
  if (!platform::enumServicesStatus(manager_.get(), platform::SERVICE_TYPE_ALL, platform::SERVICE_STATE_ALL, &listed)) {
    throw Failure{service_text::failure("EnumServicesStatus", platform::lastError())};
  }
  std::vector<Entry> result;
  for (const platform::ServiceEntry& listedEntry : listed) result.push_back(entry(listedEntry.name));
  return result;
}

Entry Machine::entry(const std::u16string& name) {
  Entry e;
  e.name = name;
  const ScHandle service(platform::openService(manager_.get(), name.c_str(),
                                               platform::SERVICE_QUERY_CONFIG | platform::SERVICE_QUERY_STATUS));
  if (service.get() == nullptr) throw Failure{service_text::failure("OpenService", platform::lastError())};
  (void)platform::queryServiceConfig(service.get(), &e.config);
  (void)platform::queryServiceStatusProcess(service.get(), &e.status, &e.processId);
  e.displayName = e.config.displayName;
  return e;
}

bool Machine::hostRunning(Entry* plugPlay) {
  Entry e = entry(u"PlugPlay");
  if (plugPlay != nullptr) *plugPlay = e;
  return e.status.currentState == platform::SERVICE_RUNNING;
}

// Dependencies before their dependents; entries outside the list are left out.
std::vector<Entry> Machine::inDependencyOrder(std::vector<Entry> services) {
  std::vector<Entry> ordered;
  std::set<std::u16string> placed;
  std::map<std::u16string, const Entry*> byName;
  for (const Entry& e : services) byName[platform::foldCase(e.name)] = &e;
  std::function<void(const Entry&, int)> place = [&](const Entry& e, int depth) {
    const std::u16string key = platform::foldCase(e.name);
    if (placed.count(key) != 0 || depth > 64) return;
    for (const std::u16string& dependency : e.config.dependencies) {
      const auto found = byName.find(platform::foldCase(dependency));
      if (found != byName.end()) place(*found->second, depth + 1);
    }
    if (placed.insert(key).second) ordered.push_back(e);
  };
  for (const Entry& e : services) place(e, 0);
  return ordered;
}

std::string devhostPath() {
  if (const char* path = std::getenv("WN_DEVHOST"); path != nullptr && *path != 0) return path;
  return WN_DEVHOST_PATH;
}

void Machine::startHost() {
  std::printf("Starting the device host ... ");
  std::fflush(stdout);
  int output[2];
  if (::pipe2(output, O_CLOEXEC) != 0) throw Failure{"cannot create a pipe"};
  platform::UniqueFd readEnd(output[0]);
  platform::UniqueFd writeEnd(output[1]);
  platform::ProcessOptions options;
  options.standardOutput = writeEnd.get();
  options.standardError = writeEnd.get();
  platform::ProcessInformation devhost;
  if (const uint32_t error = platform::startProcess({devhostPath(), "--daemon"}, options, devhost); error != 0) {
    std::printf("failed\n");
    throw Failure{"cannot run " + devhostPath() + ": " + tool::statusText(error)};
  }
  writeEnd.reset();
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  (void)platform::waitForSingle(devhost.process, platform::INFINITE);
  uint32_t exitCode = 1;
  (void)platform::getExitCodeProcess(devhost.process, &exitCode);
  platform::closeHandle(devhost.process);
  Entry plugPlay;
  if (exitCode != 0 || !hostRunning(&plugPlay)) {
    std::printf("failed\n");
    throw Failure{"the device host did not start:\n" + text};
  }
  std::vector<std::string> drivers;
  for (const platform::KernelDriverEntry& driver : platform::kernelDriverEntries()) {
    drivers.push_back(platform::toUtf8(driver.name));
  }
  std::string list;
  for (const std::string& driver : drivers) list += (list.empty() ? "" : ", ") + driver;
  std::printf("running (pid %u), kernel drivers: %s\n", plugPlay.processId, list.empty() ? "none" : list.c_str());
}

bool Machine::startService(const Entry& service) {
  std::printf("Starting %s (%s) ... ", platform::toUtf8(service.name).c_str(),
              platform::toUtf8(service.displayName).c_str());
  std::fflush(stdout);
  const ScHandle handle(platform::openService(manager_.get(), service.name.c_str(),
                                              platform::SERVICE_START | platform::SERVICE_QUERY_STATUS));
  if (handle.get() == nullptr || !platform::startService(handle.get(), 0, nullptr)) {
    const uint32_t error = platform::lastError();
    if (error != platform::ERROR_SERVICE_ALREADY_RUNNING) {
      std::printf("failed: %s\n", service_text::failure("StartService", error).c_str());
      return false;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + kServiceLimit;
  platform::ServiceStatus status;
  uint32_t processId = 0;
  while (platform::queryServiceStatusProcess(handle.get(), &status, &processId) &&
         status.currentState == platform::SERVICE_START_PENDING && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (status.currentState == platform::SERVICE_RUNNING) {
    std::printf("running (pid %u)\n", processId);
    return true;
  }
  const std::string reason = service_text::stopReason(status);
  std::printf("failed: %s\n", reason.empty() ? ("it is " + service_text::stateName(status.currentState)).c_str()
                                             : reason.c_str());
  return false;
}

int Machine::start() {
  Entry plugPlay;
  const bool running = hostRunning(&plugPlay);
  bool ok = true;
  bool started = false;
  if (running) {
    std::printf("The device host is running (pid %u).\n", plugPlay.processId);
  } else {
    if (plugPlay.status.win32ExitCode == platform::ERROR_PROCESS_ABORTED) {
      std::printf("The device host ended unexpectedly; the machine starts again.\n");
    }
    startHost();
    started = true;
  }
  std::vector<Entry> automatic;
  for (const Entry& e : entries()) {
    if (isProgram(e) && e.config.startType == platform::SERVICE_AUTO_START) automatic.push_back(e);
  }
  for (const Entry& e : inDependencyOrder(automatic)) {
    const Entry current = entry(e.name);
    if (current.status.currentState == platform::SERVICE_RUNNING) continue;
    if (const std::string reason = service_text::stopReason(current.status); !reason.empty() && running) {
      std::printf("%s was stopped: %s.\n", platform::toUtf8(e.name).c_str(), reason.c_str());
    }
    ok = startService(current) && ok;
    started = true;
  }
  if (!started) {
    std::printf("The machine is already running on %s.\n", platform::systemRoot().c_str());
  } else if (ok) {
    std::printf("The machine is running on %s; `machine stop` stops it.\n", platform::systemRoot().c_str());
  }
  return ok ? tool::kExitSuccess : tool::kExitFailure;
}

bool Machine::stopService(const Entry& service) {
  std::printf("Stopping %s ... ", platform::toUtf8(service.name).c_str());
  std::fflush(stdout);
  const ScHandle handle(platform::openService(manager_.get(), service.name.c_str(),
                                              platform::SERVICE_STOP | platform::SERVICE_QUERY_STATUS));
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  platform::ServiceStatus status;
  uint32_t processId = service.processId;
  bool sent = false;
  while (handle.get() != nullptr && std::chrono::steady_clock::now() < deadline) {
    if (!platform::queryServiceStatusProcess(handle.get(), &status, &processId) ||
        status.currentState == platform::SERVICE_STOPPED) {
      break;
    }
    if (!sent && status.currentState != platform::SERVICE_START_PENDING) {
      const bool shutdown = (status.controlsAccepted & platform::SERVICE_ACCEPT_SHUTDOWN) != 0;
      sent = shutdown ? platform::sendShutdownControl(handle.get(), &status)
                      : platform::controlService(handle.get(), platform::SERVICE_CONTROL_STOP, &status);
      if (!sent && platform::lastError() == platform::ERROR_INVALID_SERVICE_CONTROL) break;  // it takes neither
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (status.currentState == platform::SERVICE_STOPPED) {
    std::printf("stopped\n");
    return true;
  }
  // It does not stop: its process is ended, and its monitor records that.
  if (processId != 0) ::kill(static_cast<pid_t>(processId), SIGKILL);
  const auto killDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (handle.get() != nullptr && platform::queryServiceStatus(handle.get(), &status) &&
         status.currentState != platform::SERVICE_STOPPED && std::chrono::steady_clock::now() < killDeadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::printf("did not stop within %d s; its process was ended\n", static_cast<int>(kStopLimit.count()));
  return false;
}

void Machine::stopHost(uint32_t processId) {
  std::printf("Stopping the device host (pid %u) ... ", processId);
  std::fflush(stdout);
  const platform::Handle host = platform::openProcess(processId);
  if (host == nullptr) {
    std::printf("it had ended\n");
    return;
  }
  ::kill(static_cast<pid_t>(processId), SIGTERM);
  const auto limit = static_cast<uint32_t>(std::chrono::milliseconds(kHostStopLimit).count());
  if (platform::waitForSingle(host, limit) == platform::WAIT_OBJECT_0) {
    std::printf("stopped\n");
  } else {
    ::kill(static_cast<pid_t>(processId), SIGKILL);
    (void)platform::waitForSingle(host, 5000);
    std::printf("did not stop within %d s; it was ended\n", static_cast<int>(kHostStopLimit.count()));
  }
  platform::closeHandle(host);
}

int Machine::stop() {
  std::vector<Entry> running;
  for (const Entry& e : entries()) {
    if (isProgram(e) && e.status.currentState != platform::SERVICE_STOPPED) running.push_back(e);
  }
  Entry plugPlay;
  const bool host = hostRunning(&plugPlay);
  if (running.empty() && !host) {
    std::printf("The machine is not running on %s.\n", platform::systemRoot().c_str());
    return tool::kExitSuccess;
  }
  bool ok = true;
  std::vector<Entry> ordered = inDependencyOrder(running);
  std::reverse(ordered.begin(), ordered.end());
  for (const Entry& e : ordered) ok = stopService(e) && ok;
  if (host) stopHost(plugPlay.processId);
  std::printf("The machine is stopped.\n");
  return ok ? tool::kExitSuccess : tool::kExitFailure;
}

int Machine::status() {
  Entry plugPlay;
  const bool host = hostRunning(&plugPlay);
  const std::vector<Entry> all = entries();
  const bool anyService = std::any_of(all.begin(), all.end(), [](const Entry& e) {
    return isProgram(e) && e.status.currentState != platform::SERVICE_STOPPED;
  });
  std::printf("Machine on %s: %s\n", platform::systemRoot().c_str(),
              host ? "running" : anyService ? "not running (services run without a device host)" : "stopped");
  if (host) {
    std::printf("  %-22s %-16s %-14s pid %u\n", "device host", "", "RUNNING", plugPlay.processId);
  } else if (plugPlay.status.win32ExitCode == platform::ERROR_PROCESS_ABORTED) {
    std::printf("  %-22s %-16s %-14s (it ended unexpectedly)\n", "device host", "", "STOPPED");
  }
  for (const Entry& e : all) {
    const bool driver = (e.config.serviceType & platform::SERVICE_DRIVER) != 0;
    const char* kind = driver ? "kernel driver" : isSystemService(e.name) ? "system service" : "service";
    std::string detail;
    if (isProgram(e) && e.processId != 0) detail = "pid " + std::to_string(e.processId) + "  ";
    detail += platform::toUtf8(e.displayName);
    if (isProgram(e)) {
      if (const std::string reason = service_text::stopReason(e.status); !reason.empty()) detail += " (" + reason + ")";
    }
    std::printf("  %-22s %-16s %-14s %s\n", platform::toUtf8(e.name).c_str(), kind,
                service_text::stateName(e.status.currentState).c_str(), detail.c_str());
  }
  return tool::kExitSuccess;
}

int runCommand(const tool::CommandLine& line) {
  const std::vector<std::string>& words = line.words();
  if (words.empty()) throw UsageError{"no command given"};
  tool::expectArguments(words, 0, 0);
  const std::string& command = words[0];
  if (command != "start" && command != "stop" && command != "status") {
    throw UsageError{"unknown command '" + command + "'"};
  }
  tool::checkSystemRoot();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Machine machine;
  if (command == "start") return machine.start();
  if (command == "stop") return machine.stop();
  return machine.status();
}

}  // namespace

int main(int argc, char** argv) { return tool::run({"machine", kUsage, {}}, argc, argv, runCommand); }
