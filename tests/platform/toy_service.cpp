// A service program for the service control manager's tests. Its command
// line chooses how it behaves; it writes what it sees, one line each, to the
// file named by --record:
//   main <argument count> <arguments...>
//   control <code> dispatcher-thread=<0|1>
//   device <event type> <link name>
//
//   toy_service --record FILE [--mode MODE] [--name NAME] [--exit-code N]
//
// Modes: normal (runs until stopped or shut down), crash (ends with exit code
// 3 once running), no-dispatcher (never connects), exit-early (ends before
// connecting), slow-handler (a stop's handler takes 3 s), stop-pending (takes
// a stop and never ends), quiet (never reports a status and returns from main).

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/device_notifications.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/guid.h"
#include "platform/services.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/waits.h"

namespace {

std::string g_record;
std::string g_mode = "normal";
std::u16string g_name = u"toy";
uint32_t g_exitCode = 0;
platform::ServiceStatusHandle g_status = nullptr;
platform::Handle g_stop = nullptr;
uint32_t g_dispatcherThread = 0;
std::mutex g_recordMutex;

// The interface class the device event test registers for.
constexpr platform::Guid kToyInterfaceClass = {0x1234ABCD, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

void record(const std::string& line) {
  std::lock_guard lock(g_recordMutex);
  std::ofstream(g_record, std::ios::app) << line << "\n";
}

void report(uint32_t state, uint32_t accepted, uint32_t win32 = 0, uint32_t specific = 0) {
  platform::ServiceStatus status;
  status.serviceType = platform::SERVICE_WIN32_OWN_PROCESS;
  status.currentState = state;
  status.controlsAccepted = accepted;
  status.win32ExitCode = win32;
  status.serviceSpecificExitCode = specific;
  platform::setServiceStatus(g_status, &status);
}

uint32_t handler(uint32_t control, uint32_t eventType, void* eventData, void*) {
  if (control == platform::SERVICE_CONTROL_DEVICEEVENT) {
    const auto* record16 = reinterpret_cast<const char16_t*>(static_cast<const uint8_t*>(eventData) +
                                                            platform::kDeviceInterfaceRecordNameOffset);
    record("device " + std::to_string(eventType) + " " + platform::toUtf8(record16));
    return 0;
  }
  record("control " + std::to_string(control) + " dispatcher-thread=" +
         std::to_string(platform::currentThreadId() == g_dispatcherThread ? 1 : 0));
  if (control == platform::SERVICE_CONTROL_STOP || control == platform::SERVICE_CONTROL_SHUTDOWN) {
    if (g_mode == "slow-handler") std::this_thread::sleep_for(std::chrono::seconds(3));
    if (g_mode == "stop-pending") {
      report(platform::SERVICE_STOP_PENDING, 0);
      return 0;
    }
    platform::setEvent(g_stop);
  }
  return 0;
}

void serviceMain(uint32_t argc, char16_t** argv) {
  std::string line = "main " + std::to_string(argc);
  for (uint32_t i = 0; i < argc; ++i) line += " " + platform::toUtf8(argv[i]);
  record(line);
  if (g_mode == "quiet") return;
  g_status = platform::registerServiceCtrlHandlerEx(g_name.c_str(), handler, nullptr);
  if (g_status == nullptr) return;
  report(platform::SERVICE_START_PENDING, 0);
  const std::vector<uint8_t> filter = platform::makeDeviceInterfaceRecord(kToyInterfaceClass, u"");
  const platform::DeviceNotifyHandle notify = platform::registerDeviceNotification(
      platform::serviceNotificationRecipient(g_status), filter.data(), platform::DEVICE_NOTIFY_SERVICE_HANDLE);
  report(platform::SERVICE_RUNNING, platform::SERVICE_ACCEPT_STOP | platform::SERVICE_ACCEPT_SHUTDOWN);
  if (g_mode == "crash") {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::_Exit(3);
  }
  platform::waitForSingle(g_stop, platform::INFINITE);
  if (notify != nullptr) platform::unregisterDeviceNotification(notify);
  report(platform::SERVICE_STOPPED, 0, g_exitCode, g_exitCode == 1066 ? 42 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--record") g_record = argv[i + 1];
    if (option == "--mode") g_mode = argv[i + 1];
    if (option == "--name") g_name = platform::toWide(argv[i + 1]);
    if (option == "--exit-code") g_exitCode = static_cast<uint32_t>(std::stoul(argv[i + 1]));
  }
  if (g_mode == "exit-early") return 9;
  if (g_mode == "no-dispatcher") {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  g_stop = platform::createEvent(true, false);
  g_dispatcherThread = platform::currentThreadId();
  const platform::ServiceTableEntry table[] = {{g_name.c_str(), serviceMain}, {nullptr, nullptr}};
  if (!platform::startServiceCtrlDispatcher(table)) {
    record("dispatcher-failed " + std::to_string(platform::lastError()));
    return 1;
  }
  record("dispatcher-returned");
  return 0;
}
