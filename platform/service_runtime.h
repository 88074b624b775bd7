#pragma once
// The pieces of the service control manager that its three parts share: the
// manager functions (any process), the dispatcher (the service program) and
// the monitor (one process per running service program). Internal to
// platform/.
//
// Runtime files of an entry in <root>/services/, named by its key (the folded
// name when it is short and plain, else a hash of it):
//   <key>.lock    byte 0 write-locked (open file description lock) by whoever
//                 runs the entry; released by the kernel when that process ends
//   <key>.status  the last status, one line, replaced atomically
//   <key>.sock    the monitor's control socket (SOCK_SEQPACKET)
//   <key>.log     the service program's standard output and error

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/services.h"
#include "platform/unique_fd.h"

namespace platform::service_runtime {

inline constexpr char kDirectory[] = "services";
// Descriptors and variables through which a service program reaches its monitor.
inline constexpr int kControlChannelFd = 3;
inline constexpr int kStatusChannelFd = 4;
inline constexpr char kControlChannelVariable[] = "WN_SERVICE_CONTROL_FD";
inline constexpr char kStatusChannelVariable[] = "WN_SERVICE_STATUS_FD";
inline constexpr char kMonitorVariable[] = "WN_SERVICE_MONITOR";
// The runtime file key of a service name.
std::string fileKey(std::u16string_view serviceName);

// <root>/services, opened (created when missing); invalid with the last error set.
UniqueFd openDirectory();

// What the status file holds.
struct RuntimeStatus {
  ServiceStatus status;
  uint32_t processId = 0;
  uint64_t processStartTime = 0;  // field 22 of /proc/<pid>/stat, to tell a reused pid
};

// The current status: the file's when someone holds the lock; otherwise
// stopped (a file that still says otherwise was left by a holder that died:
// stopped with ERROR_PROCESS_ABORTED). `serviceType` fills in when there is no file.
RuntimeStatus readStatus(int directory, std::u16string_view serviceName, uint32_t serviceType);
// The file's content as written (stopped when there is none).
RuntimeStatus readStoredStatus(int directory, std::u16string_view serviceName);
uint32_t writeStatus(int directory, std::u16string_view serviceName, const RuntimeStatus& status);

// Opens the lock file and takes the lock; invalid (last error 1056) when
// someone holds it.
UniqueFd takeLock(int directory, std::u16string_view serviceName);
bool isLocked(int directory, std::u16string_view serviceName);

// The process start time of a live process (0 when it is gone).
uint64_t processStartTime(uint32_t processId);

// Creates the listening control socket; connects to it.
UniqueFd listenControl(int directory, std::u16string_view serviceName);
UniqueFd connectControl(int directory, std::u16string_view serviceName);
void removeControl(int directory, std::u16string_view serviceName);

// The service program's output file, opened for appending.
UniqueFd openOutputLog(int directory, std::u16string_view serviceName);

// Requests to the monitor, and its answers.
enum class MonitorRequest : uint32_t { kQuery = 1, kControl = 2 };
struct MonitorRequestMessage {
  MonitorRequest kind;
  uint32_t control;
};
struct MonitorReplyMessage {
  uint32_t error;
  ServiceStatus status;
  uint32_t processId;
};

// Messages between the monitor and the service program. The status channel
// carries the program's hello and status reports, each acknowledged; the
// control channel the monitor's start and control commands, each answered.
enum class ChannelMessage : uint32_t {
  kHello = 1,    // program → monitor: the service names of its table, NUL-separated
  kStatus = 2,   // program → monitor: a ServiceStatus
  kStart = 3,    // monitor → program: the service name and its arguments, NUL-separated
  kControl = 4,  // monitor → program: a control
  kAnswer = 5,   // either way: the result of the message before
};
struct ChannelHeader {
  ChannelMessage kind;
  uint32_t value;  // control; answer: result
  ServiceStatus status;
};
inline constexpr size_t kMaxChannelMessage = 65536;

bool sendChannel(int fd, ChannelMessage kind, uint32_t value, const ServiceStatus& status,
                 const std::u16string& text = {});
// Receives one message (blocking unless the socket is non-blocking); false on
// end of file or error.
bool receiveChannel(int fd, ChannelHeader* header, std::u16string* text);

// NUL-separated lists.
std::u16string joinList(const std::vector<std::u16string>& items);
std::vector<std::u16string> splitList(std::u16string_view text);

// The registry entry of a service. 1060 when there is none.
struct EntryInfo {
  std::u16string name;  // as stored
  ServiceConfig config;
  bool markedForDelete = false;
};
uint32_t readEntry(std::u16string_view serviceName, EntryInfo* entry);
// Deletes the entry's key with everything below it.
uint32_t removeEntry(std::u16string_view serviceName);

bool isMachineSystemService(std::u16string_view serviceName);

}  // namespace platform::service_runtime
