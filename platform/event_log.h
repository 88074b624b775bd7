#pragma once
// The event log: programs register as an event source and report events
// (type, category, identifier, insertion strings, data); readers list them
// oldest first and show each with the text of its identifier from the
// message table of the module its source names.
//
// A source belongs to the log under whose key
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\<log>\<source>
// it is registered (Application when none); that key's "EventMessageFile"
// names the module with the message table. Each log is an append-only file
// <root>/eventlog/<log>.log of one line per event, written with one append
// each, so that writers of several processes never mix their records.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr uint16_t EVENTLOG_SUCCESS = 0x0000;
inline constexpr uint16_t EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr uint16_t EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr uint16_t EVENTLOG_INFORMATION_TYPE = 0x0004;
inline constexpr uint16_t EVENTLOG_AUDIT_SUCCESS = 0x0008;
inline constexpr uint16_t EVENTLOG_AUDIT_FAILURE = 0x0010;

inline constexpr uint32_t ERROR_RPC_SERVER_UNAVAILABLE = 1722;

// Limits of one event.
inline constexpr size_t kMaxEventStrings = 256;
inline constexpr size_t kMaxEventStringChars = 31839;
inline constexpr size_t kMaxEventDataBytes = 61440;

inline constexpr char16_t kEventLogKey[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog";

using EventSourceHandle = void*;

// Opens the event source `sourceName` on the local machine (a null or empty
// server name). Null with the last error set: 87 for an empty source name,
// 1722 for another machine.
EventSourceHandle registerEventSource(const char16_t* serverName, const char16_t* sourceName);

// False with last error 6 for a handle that registerEventSource did not give.
bool deregisterEventSource(EventSourceHandle source);

// Writes one event. False with the last error set: 6 for a bad handle, 87
// for an unknown type, too many or too long strings, too much data, or a null
// string or data pointer where a count says there is something.
bool reportEvent(EventSourceHandle source, uint16_t type, uint16_t category, uint32_t eventId, const void* userSid,
                 uint16_t stringCount, uint32_t dataSize, const char16_t* const* strings, const void* data);

struct EventLogRecord {
  std::u16string log;
  int64_t timeMicroseconds = 0;  // written, since 1970-01-01 UTC
  uint32_t processId = 0;        // of the writer
  uint16_t type = 0;
  uint16_t category = 0;
  uint32_t eventId = 0;
  std::u16string source;
  std::vector<std::u16string> strings;
  std::vector<uint8_t> data;
};

// The names of the logs that hold records, in alphabetical order.
std::vector<std::u16string> eventLogNames();

// Reads the records of `log` that begin at or after byte `offset` of its file,
// oldest first, and sets `offset` past the last complete one (a record still
// being written is left for the next call). 0, also for a log without file.
uint32_t readEventLog(std::u16string_view log, uint64_t& offset, std::vector<EventLogRecord>& records);

// The record's text: its identifier's message from the message table of the
// module its source's "EventMessageFile" names, with the insertion strings
// put in; a text that says the description cannot be found, followed by the
// strings, when there is none.
std::u16string eventMessageText(const EventLogRecord& record);

// The log a source writes to (Application when it is not registered).
std::u16string eventLogOfSource(std::u16string_view source);

}  // namespace platform
