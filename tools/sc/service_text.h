#pragma once
// Texts of the service control manager's values, shared by sc and machine:
// types, states, start types, error controls, the status block that
// "sc query" prints, and the failure of a manager call.

#include <cstdint>
#include <string>

#include "platform/services.h"

namespace service_text {

std::string typeName(uint32_t type);          // "WIN32_OWN_PROCESS", "KERNEL_DRIVER", ...
std::string stateName(uint32_t state);        // "RUNNING", ...
std::string startTypeName(uint32_t start);    // "AUTO_START", ...
std::string errorControlName(uint32_t value);  // "NORMAL", ...

// The lines "sc query" prints for one service.
std::string statusBlock(const std::u16string& name, const platform::ServiceStatus& status, uint32_t processId);

// "StartService FAILED 1056: An instance of the service is already running."
std::string failure(const char* call, uint32_t error);

// How a stopped service ended, when not as asked: "it ended unexpectedly
// (exit code 137)", "its start failed: <message> (1053)"; empty for a clean stop.
std::string stopReason(const platform::ServiceStatus& status);

}  // namespace service_text
