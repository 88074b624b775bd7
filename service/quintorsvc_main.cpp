// quintorsvc: the device control service, a console program that is also a
// service. From a command line it installs, removes, starts and stops
// itself; under the service control manager ("-service") it runs as an
// automatic service; with "-console" it does the same work in the console.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device-access/wn_thread.h"
#include "platform/console_control.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/message_table.h"
#include "platform/services.h"
#include "platform/text.h"
#include "service/orvane_service.h"
#include "service/wn_event_log_writer.h"

// The message table the event log shows the service's events with.
WN_MESSAGE_TABLE(kQuintorsvcMessages) = {
    platform::message(QUINTORSVC_MSG_INFO, u"%1\r\n"),
    platform::message(QUINTORSVC_MSG_WARNING, u"%1\r\n"),
    platform::message(QUINTORSVC_MSG_ERROR, u"%1\r\n"),
};

namespace {

constexpr uint32_t kHelpVersionMajor = 1;
constexpr uint32_t kHelpVersionMinor = 35;

// The program's single service object and the list the runner goes through.
OrvaneService& theService() {
  static OrvaneService service;
  return service;
}

std::vector<ServiceBase*>& serviceList() {
  static std::vector<ServiceBase*> list;
  return list;
}

template <typename... Args>
void print(const char16_t* format, const Args&... args) {
  std::fputs(platform::toUtf8(platform::formatText(format, args...)).c_str(), stdout);
  std::fflush(stdout);
}

bool consoleCtrlHandler(uint32_t controlType) {
  if (controlType != platform::CTRL_C_EVENT && controlType != platform::CTRL_BREAK_EVENT) return false;
  for (ServiceBase* service : serviceList()) service->requestStop();
  return true;
}

bool runServices(const std::vector<ServiceBase*>& services, bool console) {
  if (!console) {
    std::vector<platform::ServiceTableEntry> table;
    for (ServiceBase* service : services) table.push_back({service->getServiceName(), service->getServiceMain()});
    table.push_back({nullptr, nullptr});
    return platform::startServiceCtrlDispatcher(table.data());
  }
  if (!platform::setConsoleCtrlHandler(consoleCtrlHandler, true)) return false;
  std::vector<std::unique_ptr<WnThreadCallbackForwarderT<ServiceBase>>> forwarders;
  std::vector<std::unique_ptr<WnThread>> threads;
  for (ServiceBase* service : services) {
    forwarders.push_back(std::make_unique<WnThreadCallbackForwarderT<ServiceBase>>(service, &ServiceBase::runConsoleThread));
    threads.push_back(std::make_unique<WnThread>());
    (void)threads.back()->start(forwarders.back().get(), 0, 0);
  }
  for (auto& thread : threads) (void)thread->wait(platform::INFINITE);
  return true;
}

// A service command's result: its text, and the full error number where the
// user reads it (the exit status keeps only its low 8 bits).
int finish(uint32_t result, const char16_t* success, const char16_t* failure) {
  print(result == 0 ? success : failure);
  if (result != 0) {
    std::fprintf(stderr, "quintorsvc: error %u: %s\n", result, platform::errorMessage(result).c_str());
  }
  return static_cast<int>(result);
}

void printHelp(ServiceBase& service) {
  print(u"\n%s V%d.%02d\n%s Service\n\nSupported command line options:\n -install    Install the service.\n"
        u" -uninstall  Uninstall the service.\n -start      Start the service.\n -stop       Stop the service.\n"
        u" -console    Start service in console mode.\n -h, -?      Print this help message.\n\n",
        service.getServiceName(), kHelpVersionMajor, kHelpVersionMinor, service.getDisplayName());
}

}  // namespace

int main(int argc, char** argv) {
  OrvaneService& service = theService();
  serviceList().push_back(&service);
  if (argc < 2) {
    print(u"No arguments given, use -h.\n");
    return 1;
  }
  const std::string argument = argv[1];
  if (argument == "-install") {
    (void)service.stopService();
    (void)service.uninstallService();
    return finish(service.installService(), u"Service installed successfully.\n", u"Error installing service.\n");
  }
  if (argument == "-uninstall") {
    (void)service.stopService();
    return finish(service.uninstallService(), u"Service uninstalled successfully.\n",
                  u"Error uninstalling service.\n");
  }
  if (argument == "-start") {
    return finish(service.startService(), u"Service started successfully.\n", u"Error starting service.\n");
  }
  if (argument == "-stop") {
    return finish(service.stopService(), u"Service stopped successfully.\n", u"Error stopping service.\n");
  }
  if (argument == "-h" || argument == "-?") {
    printHelp(service);
    return 0;
  }
  if (argument == "-console") return runServices(serviceList(), true) ? 0 : -1;
  if (argument == "-service") return runServices(serviceList(), false) ? 0 : -1;
  print(u"Unknown argument %s, use -h.\n", platform::toWide(argument));
  return 1;
}
