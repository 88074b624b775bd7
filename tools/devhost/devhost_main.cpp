// devhost: runs a device host with the kernel-mode driver modules named on its
// command line (or those of the service database), until SIGTERM or SIGINT;
// in the background as the daemon of its system root, which `devhost --stop`
// ends.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/device_wire.h"
#include "platform/guid.h"
#include "platform/kernel/device_host.h"
#include "platform/services.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "tools/common/tool.h"
#include "tools/devhost/daemon_files.h"

namespace {

constexpr const char* kUsage =
    "usage: devhost [--daemon] [--connections-per-process N] [--service NAME] DRIVER [[--service NAME] DRIVER ...]\n"
    "       devhost [--daemon] [--connections-per-process N]\n"
    "       devhost --stop\n"
    "\n"
    "Runs a device host on the system root ($WN_SYSTEM_ROOT, else ~/.local/share/wn-system)\n"
    "with the given kernel-mode driver modules, until SIGTERM or SIGINT. Without a driver it\n"
    "is the machine's device host: it loads the kernel-driver entries of the service database\n"
    "(sc create NAME type= kernel binPath= MODULE) and runs the machine's system services.\n"
    "\n"
    "  --daemon        run in the background as the daemon of the system root: its log is\n"
    "                  <root>/devhost.log, its pid in <root>/devhost.pid; prints the\n"
    "                  interfaces, the pid and the log's path (in the foreground the log\n"
    "                  goes to standard error)\n"
    "  --stop          stop the daemon of the system root and wait until it has ended\n"
    "  --connections-per-process N\n"
    "                  open connections one caller process may have (default 64); the\n"
    "                  next one is refused with error 1816\n"
    "  --service NAME  service name of the next driver (default: its file name without\n"
    "                  \"lib\" and extension); the driver receives\n"
    "                  \\Registry\\Machine\\System\\CurrentControlSet\\Services\\NAME\n"
    "  -h, --help      this text\n"
    "  --version       the version\n"
    "\n"
    "Exit codes: 0 after a clean stop (or a started or stopped daemon), 1 on any error,\n"
    "2 for a wrong command line.\n";

// How long `devhost --stop` waits for the daemon to end.
constexpr int kStopWaitMilliseconds = 30000;

struct DriverSpec {
  std::string path;
  std::string service;
};

struct Options {
  bool daemon = false;
  bool stop = false;
  bool help = false;
  bool version = false;
  bool machineHost = false;  // no driver named: the service database's
  platform::kernel::HostLimits limits;
  std::vector<DriverSpec> drivers;
};

std::string defaultServiceName(const std::string& path) {
  std::string stem = std::filesystem::path(path).stem().string();
  if (stem.rfind("lib", 0) == 0 && stem.size() > 3) stem = stem.substr(3);
  return stem;
}

// "--name VALUE" or "--name=VALUE" at argv[*i]: the value, or nothing when
// the word is another option.
std::optional<std::string> optionValue(int argc, char** argv, int* i, std::string_view name) {
  const std::string_view word = argv[*i];
  if (word.substr(0, name.size()) != name) return std::nullopt;
  if (word.size() > name.size() && word[name.size()] == '=') return std::string(word.substr(name.size() + 1));
  if (word.size() != name.size()) return std::nullopt;
  if (*i + 1 >= argc) throw tool::UsageError{std::string(name) + " needs a value"};
  return std::string(argv[++*i]);
}

// The options may come in any order, but --service names the driver after it.
Options parse(int argc, char** argv) {
  Options options;
  std::string service;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "-?") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--daemon") {
      options.daemon = true;
    } else if (arg == "--stop") {
      options.stop = true;
    } else if (auto name = optionValue(argc, argv, &i, "--service")) {
      if (name->empty()) throw tool::UsageError{"--service needs a name"};
      service = *name;
    } else if (auto count = optionValue(argc, argv, &i, "--connections-per-process")) {
      options.limits.connectionsPerProcess = tool::decimalArgument(*count, "--connections-per-process", 1, 1'000'000);
    } else if (!arg.empty() && arg[0] == '-') {
      throw tool::UsageError{"unknown option " + arg};
    } else {
      options.drivers.push_back({arg, service.empty() ? defaultServiceName(arg) : service});
      service.clear();
    }
  }
  if (!service.empty()) throw tool::UsageError{"--service " + service + " names no driver"};
  if (options.stop && (options.daemon || !options.drivers.empty())) {
    throw tool::UsageError{"--stop takes no driver and no other option"};
  }
  return options;
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
void markRunning(const Options& options, std::vector<platform::RunningMark>* marks) {
  // The machine's system services first: whoever sees a driver running finds them running too.
  std::vector<std::u16string> names;
  if (options.machineHost) {
    names.assign(std::begin(platform::kMachineSystemServices), std::end(platform::kMachineSystemServices));
  }
  for (const auto& driver : options.drivers) names.push_back(platform::toWide(driver.service));
  for (const std::u16string& name : names) {
    platform::RunningMark mark;
    if (mark.mark(name) == 0) marks->push_back(std::move(mark));  // drivers without entry are not shown
  }
}

// Starts the host and loads the drivers; returns the interface list, or
// throws tool::Failure.
std::string startHost(platform::kernel::DeviceHost& host, const Options& options,
                      std::vector<platform::RunningMark>* marks) {
  host.setLimits(options.limits);
  std::string error;
  if (host.start(&error) != 0) throw tool::Failure{error};
  for (const auto& driver : options.drivers) {
    std::string reason;
    const uint32_t status = host.loadDriver(driver.path, platform::toWide(driver.service), &reason);
    if (status != 0) {
      throw tool::Failure{"cannot start driver " + driver.path + ": " +
                          (reason.empty() ? tool::kernelStatusText(status) : reason)};
    }
  }
  markRunning(options, marks);
  std::string report;
  for (const auto& info : host.interfaces()) {
    report += "interface " + platform::toUtf8(info.linkName) + " class " + platform::guidToString(info.interfaceClass) +
              " \"" + platform::toUtf8(info.description) + "\" at " +
              (host.devicesDirectory() / platform::wire::linkFileName(info.linkName)).string() + "\n";
  }
  return report;
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
  const std::string report = startHost(host, options, &marks);
  std::printf("%sdevhost: running, pid %d; SIGTERM stops it\n", report.c_str(), static_cast<int>(::getpid()));
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  host.stop();
  std::printf("devhost: stopped\n");
  return tool::kExitSuccess;
}

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// The daemon's life after the fork: claims the root, logs to its file, starts
// the host and reports through `report`: "+" and the interface list, or "-"
// and the error. Returns the exit code.
int runDaemonChild(const Options& options, int report) {
  ::setsid();
  const int null = ::open("/dev/null", O_RDWR);
  ::dup2(null, STDIN_FILENO);
  sigset_t signals;
  blockStopSignals(&signals);
  try {
    const devhost::PidFile pidFile = devhost::PidFile::claim();
    devhost::redirectOutputToLog();
    std::vector<platform::RunningMark> marks;
    platform::kernel::DeviceHost host;
    host.setLogSink(devhost::writeLogLine);
    host.log().write("daemon starting on " + platform::systemRoot().string());
    writeAll(report, "+" + startHost(host, options, &marks));
    ::close(report);
    host.log().write("daemon running");
    int signal = 0;
    sigwait(&signals, &signal);
    host.log().write(std::string("stopping on ") + ::strsignal(signal));
    host.stop();
    host.log().write("daemon stopped");
    return tool::kExitSuccess;
  } catch (const tool::Failure& failure) {
    writeAll(report, "-" + failure.message);
    return tool::kExitFailure;
  }
}

int runDaemon(const Options& options) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw tool::Failure{std::string("cannot create a pipe: ") + std::strerror(errno)};
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) throw tool::Failure{std::string("cannot start the daemon: ") + std::strerror(errno)};
  if (child == 0) {
    ::close(pipeFds[0]);
    ::_exit(runDaemonChild(options, pipeFds[1]));
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  if (text.empty() || text[0] != '+') {
    ::waitpid(child, nullptr, 0);
    throw tool::Failure{text.empty() ? "the daemon ended before it started" : text.substr(1)};
  }
  std::printf("%sdevhost: daemon running, pid %d; log %s; `devhost --stop` stops it\n", text.c_str() + 1,
              static_cast<int>(child), devhost::logFilePath().c_str());
  return tool::kExitSuccess;
}

int stopDaemon() {
  const pid_t daemon = devhost::runningDaemon();
  if (daemon == 0) throw tool::Failure{"no device host daemon is running on " + platform::systemRoot().string()};
  if (::kill(daemon, SIGTERM) != 0 && errno != ESRCH) {
    throw tool::Failure{"cannot stop the device host (pid " + std::to_string(daemon) + "): " + std::strerror(errno)};
  }
  if (!devhost::waitForDaemonEnd(kStopWaitMilliseconds)) {
    throw tool::Failure{"the device host (pid " + std::to_string(daemon) + ") did not end within " +
                        std::to_string(kStopWaitMilliseconds / 1000) + " s"};
  }
  std::printf("devhost: stopped the device host of %s (pid %d)\n", platform::systemRoot().c_str(),
              static_cast<int>(daemon));
  return tool::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  return tool::runGuarded("devhost", [&] {
    Options options = parse(argc, argv);
    if (options.help) {
      std::fputs(kUsage, stdout);
      return tool::kExitSuccess;
    }
    if (options.version) {
      std::printf("%s\n", tool::versionText("devhost").c_str());
      return tool::kExitSuccess;
    }
    tool::checkSystemRoot();
    if (options.stop) return stopDaemon();
    if (options.drivers.empty()) {
      options.machineHost = true;
      addDatabaseDrivers(&options);
    }
    return options.daemon ? runDaemon(options) : runForeground(options);
  });
}
