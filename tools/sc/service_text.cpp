#include "tools/sc/service_text.h"

#include "platform/errors.h"
#include "platform/format.h"
#include "platform/text.h"

namespace service_text {

std::string typeName(uint32_t type) {
  switch (type & ~0x100u) {
    case platform::SERVICE_KERNEL_DRIVER:
      return "KERNEL_DRIVER";
    case platform::SERVICE_FILE_SYSTEM_DRIVER:
      return "FILE_SYSTEM_DRIVER";
    case platform::SERVICE_WIN32_OWN_PROCESS:
      return "WIN32_OWN_PROCESS";
    case platform::SERVICE_WIN32_SHARE_PROCESS:
      return "WIN32_SHARE_PROCESS";
    default:
      return "UNKNOWN";
  }
}

std::string stateName(uint32_t state) {
  static const char* const kNames[] = {"",        "STOPPED",          "START_PENDING",   "STOP_PENDING",
                                       "RUNNING", "CONTINUE_PENDING", "PAUSE_PENDING",   "PAUSED"};
  return state < std::size(kNames) && state > 0 ? kNames[state] : "UNKNOWN";
}

std::string startTypeName(uint32_t start) {
  static const char* const kNames[] = {"BOOT_START", "SYSTEM_START", "AUTO_START", "DEMAND_START", "DISABLED"};
  return start < std::size(kNames) ? kNames[start] : "UNKNOWN";
}

std::string errorControlName(uint32_t value) {
  static const char* const kNames[] = {"IGNORE", "NORMAL", "SEVERE", "CRITICAL"};
  return value < std::size(kNames) ? kNames[value] : "UNKNOWN";
}

std::string statusBlock(const std::u16string& name, const platform::ServiceStatus& status, uint32_t processId) {
  const uint32_t accepted = status.controlsAccepted;
  std::string text = "SERVICE_NAME: " + platform::toUtf8(name) + "\n";
  text += platform::formatText("        TYPE               : %-2x %s\n", status.serviceType,
                               typeName(status.serviceType).c_str());
  text += platform::formatText("        STATE              : %-2u %s\n", status.currentState,
                               stateName(status.currentState).c_str());
  text += std::string("                                (") +
          ((accepted & platform::SERVICE_ACCEPT_STOP) != 0 ? "STOPPABLE" : "NOT_STOPPABLE") + ", " +
          ((accepted & platform::SERVICE_ACCEPT_PAUSE_CONTINUE) != 0 ? "PAUSABLE" : "NOT_PAUSABLE") + ", " +
          ((accepted & platform::SERVICE_ACCEPT_SHUTDOWN) != 0 ? "ACCEPTS_SHUTDOWN" : "IGNORES_SHUTDOWN") + ")\n";
  text += platform::formatText("        WIN32_EXIT_CODE    : %u  (0x%x)\n", status.win32ExitCode, status.win32ExitCode);
  text += platform::formatText("        SERVICE_EXIT_CODE  : %u  (0x%x)\n", status.serviceSpecificExitCode,
                               status.serviceSpecificExitCode);
  text += platform::formatText("        CHECKPOINT         : 0x%x\n", status.checkPoint);
  text += platform::formatText("        WAIT_HINT          : 0x%x\n", status.waitHint);
  if (processId != 0) text += platform::formatText("        PID                : %u\n", processId);
  return text;
}

std::string failure(const char* call, uint32_t error) {
  return std::string(call) + " FAILED " + std::to_string(error) + ": " + platform::errorMessage(error);
}

std::string stopReason(const platform::ServiceStatus& status) {
  if (status.currentState != platform::SERVICE_STOPPED || status.win32ExitCode == 0) return {};
  if (status.win32ExitCode == platform::ERROR_PROCESS_ABORTED) {
    return "it ended unexpectedly (exit code " + std::to_string(status.serviceSpecificExitCode) + ")";
  }
  if (status.win32ExitCode == platform::ERROR_SERVICE_SPECIFIC_ERROR) {
    return "it stopped with its own error " + std::to_string(status.serviceSpecificExitCode);
  }
  return "it stopped with error " + std::to_string(status.win32ExitCode) + ": " +
         platform::errorMessage(status.win32ExitCode);
}

}  // namespace service_text
