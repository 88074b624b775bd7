// devhost: runs a device host with the kernel-mode driver modules named on its
// command line, until SIGTERM or SIGINT.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/guid.h"
#include "platform/kernel/device_host.h"
#include "platform/kernel/wire.h"
#include "platform/services.h"
#include "platform/system_root.h"
#include "platform/text.h"

namespace {

constexpr const char* kUsage =
    "usage: devhost [--daemon] [--service NAME] DRIVER [[--service NAME] DRIVER ...]\n"
    "       devhost [--daemon]\n"
    "\n"
    "Runs a device host on the system root ($WN_SYSTEM_ROOT, else ~/.local/share/wn-system)\n"
    "with the given kernel-mode driver modules, until SIGTERM or SIGINT. Without a driver it\n"
    "is the machine's device host: it loads the kernel-driver entries of the service database\n"
    "(sc create NAME type= kernel binPath= MODULE) and runs the machine's system services.\n"
    "\n"
    "  --daemon        run in the background; prints the interfaces and the daemon's pid\n"
    "  --service NAME  service name of the next driver (default: its file name without\n"
    "                  \"lib\" and extension); the driver receives\n"
    "                  \\Registry\\Machine\\System\\CurrentControlSet\\Services\\NAME\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit codes: 0 after a clean stop (or a started daemon), 1 on any error.\n";

struct DriverSpec {
  std::string path;
  std::string service;
};

struct Options {
  bool daemon = false;
  bool help = false;
  bool machineHost = false;  // no driver named: the service database's
  std::vector<DriverSpec> drivers;
};

std::string defaultServiceName(const std::string& path) {
  std::string stem = std::filesystem::path(path).stem().string();
  if (stem.rfind("lib", 0) == 0 && stem.size() > 3) stem = stem.substr(3);
  return stem;
}

bool parse(int argc, char** argv, Options* options, std::string* error) {
  std::string service;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      options->help = true;
    } else if (arg == "--daemon") {
      options->daemon = true;
    } else if (arg == "--service") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        *error = "--service needs a name";
        return false;
      }
      service = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else {
      options->drivers.push_back({arg, service.empty() ? defaultServiceName(arg) : service});
      service.clear();
    }
  }
  return true;
}

// The machine's device host: the kernel-driver entries of the service database.
void addDatabaseDrivers(Options* options) {
  (void)platform::ensureMachineSystemServices();
  for (const platform::KernelDriverEntry& entry : platform::kernelDriverEntries()) {
    options->drivers.push_back({platform::toUtf8(entry.modulePath), platform::toUtf8(entry.name)});
  }
}

// Shows the loaded drivers (and, for the machine's host, the system services)
// running in the service database for as long as this process runs.
void markRunning(const Options& options, bool machineHost, std::vector<platform::RunningMark>* marks) {
  std::vector<std::u16string> names;
  for (const auto& driver : options.drivers) names.push_back(platform::toWide(driver.service));
  if (machineHost) names.insert(names.end(), std::begin(platform::kMachineSystemServices), std::end(platform::kMachineSystemServices));
  for (const std::u16string& name : names) {
    platform::RunningMark mark;
    if (mark.mark(name) == 0) marks->push_back(std::move(mark));  // drivers without entry are not shown
  }
}

// Starts the host and loads the drivers; on success `report` lists the interfaces.
bool startHost(platform::kernel::DeviceHost& host, const Options& options, std::string* report,
               std::vector<platform::RunningMark>* marks) {
  if (const uint32_t error = host.start(); error != 0) {
    *report = "devhost: cannot open " + host.devicesDirectory().string() + " (error " + std::to_string(error) + ")\n";
    return false;
  }
  for (const auto& driver : options.drivers) {
    std::string reason;
    const uint32_t status = host.loadDriver(driver.path, platform::toWide(driver.service), &reason);
    if (status != 0) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", status);
      *report = "devhost: cannot start driver " + driver.path + " (status " + code + "): " + reason + "\n";
      return false;
    }
  }
  markRunning(options, options.machineHost, marks);
  for (const auto& info : host.interfaces()) {
    *report += "interface " + platform::toUtf8(info.linkName) + " class " + platform::guidToString(info.interfaceClass) +
               " \"" + platform::toUtf8(info.description) + "\" at " +
               (host.devicesDirectory() / platform::wire::linkFileName(info.linkName)).string() + "\n";
  }
  return true;
}

void blockStopSignals(sigset_t* set) {
  sigemptyset(set);
  sigaddset(set, SIGTERM);
  sigaddset(set, SIGINT);
  pthread_sigmask(SIG_BLOCK, set, nullptr);
}

int runForeground(const Options& options) {
  sigset_t signals;
  blockStopSignals(&signals);  // before any thread starts, so that all inherit it
  std::vector<platform::RunningMark> marks;
  platform::kernel::DeviceHost host;
  std::string report;
  if (!startHost(host, options, &report, &marks)) {
    std::fputs(report.c_str(), stderr);
    return 1;
  }
  std::printf("%sdevhost: running, pid %d; SIGTERM stops it\n", report.c_str(), static_cast<int>(::getpid()));
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  host.stop();
  std::printf("devhost: stopped\n");
  return 0;
}

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// The daemon reports through a pipe: "+" and the interface list, or "-" and
// the error; the parent prints it and returns.
int runDaemon(const Options& options) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    std::perror("devhost: pipe");
    return 1;
  }
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("devhost: fork");
    return 1;
  }
  if (child == 0) {
    ::close(pipeFds[0]);
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    sigset_t signals;
    blockStopSignals(&signals);
    std::vector<platform::RunningMark> marks;
    platform::kernel::DeviceHost host;
    std::string report;
    const bool ok = startHost(host, options, &report, &marks);
    writeAll(pipeFds[1], (ok ? "+" : "-") + report);
    ::close(pipeFds[1]);
    if (!ok) ::_exit(1);
    int signal = 0;
    sigwait(&signals, &signal);
    host.stop();
    marks.clear();  // reports them stopped
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  if (text.empty() || text[0] != '+') {
    std::fputs(text.empty() ? "devhost: the daemon ended before it started\n" : text.c_str() + 1, stderr);
    ::waitpid(child, nullptr, 0);
    return 1;
  }
  std::printf("%sdevhost: daemon running, pid %d; SIGTERM stops it\n", text.c_str() + 1, static_cast<int>(child));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parse(argc, argv, &options, &error)) {
    std::fprintf(stderr, "devhost: %s\n\n%s", error.c_str(), kUsage);
    return 1;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.drivers.empty()) {
    options.machineHost = true;
    addDatabaseDrivers(&options);
  }
  return options.daemon ? runDaemon(options) : runForeground(options);
}
