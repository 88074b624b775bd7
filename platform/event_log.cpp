#include "platform/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "platform/errors.h"
#include "platform/message_table.h"
#include "platform/object_table.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace platform {

namespace {

constexpr char kDirectory[] = "eventlog";
constexpr char kSuffix[] = ".log";
constexpr char16_t kDefaultLog[] = u"Application";

struct EventSource {
  std::u16string source;
  std::u16string log;
};

// The handles registerEventSource gave out.
ObjectTable<EventSource>& sourceTable() {
  static ObjectTable<EventSource> table;
  return table;
}

bool isValidType(uint16_t type) {
  return type == EVENTLOG_SUCCESS || type == EVENTLOG_ERROR_TYPE || type == EVENTLOG_WARNING_TYPE ||
         type == EVENTLOG_INFORMATION_TYPE || type == EVENTLOG_AUDIT_SUCCESS || type == EVENTLOG_AUDIT_FAILURE;
}

// A log name as a file name: letters, digits, blanks, '-' and '_' only.
std::string logFileName(std::u16string_view log) {
  std::string name;
  for (const char16_t c : log) {
    const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                       c == u'-' || c == u'_' || c == u' ';
    name += plain ? static_cast<char>(c) : '_';
  }
  return name + kSuffix;
}

// Fields are separated by tabs; backslash, tab, line feed and carriage return
// inside a field are escaped.
void appendEscaped(std::string& line, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\\':
        line += "\\\\";
        break;
      case '\t':
        line += "\\t";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      default:
        line += c;
    }
  }
}

std::string unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

constexpr char kHex[] = "0123456789abcdef";

std::string hexOf(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kHex[data[i] >> 4];
    text += kHex[data[i] & 15];
  }
  return text;
}

bool parseHex(std::string_view text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const char* high = std::strchr(kHex, text[i]);
    const char* low = std::strchr(kHex, text[i + 1]);
    if (text[i] == 0 || text[i + 1] == 0 || high == nullptr || low == nullptr) return false;
    bytes->push_back(static_cast<uint8_t>((high - kHex) << 4 | (low - kHex)));
  }
  return true;
}

template <typename T>
bool parseNumber(std::string_view text, T* value) {
  if (text.empty()) return false;
  uint64_t result = 0;
  bool negative = false;
  size_t i = 0;
  if (text[0] == '-') {
    negative = true;
    i = 1;
  }
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    result = result * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  *value = static_cast<T>(negative ? -static_cast<int64_t>(result) : static_cast<int64_t>(result));
  return true;
}

// time, pid, type, category, id, source, string count, strings..., data
bool parseRecord(std::string_view line, std::u16string_view log, EventLogRecord* record) {
  const std::vector<std::string_view> fields = splitFields(line);
  if (fields.size() < 8) return false;
  size_t count = 0;
  record->log = std::u16string(log);
  if (!parseNumber(fields[0], &record->timeMicroseconds) || !parseNumber(fields[1], &record->processId) ||
      !parseNumber(fields[2], &record->type) || !parseNumber(fields[3], &record->category) ||
      !parseNumber(fields[4], &record->eventId) || !parseNumber(fields[6], &count) || fields.size() != 8 + count) {
    return false;
  }
  record->source = toWide(unescape(fields[5]));
  for (size_t i = 0; i < count; ++i) record->strings.push_back(toWide(unescape(fields[7 + i])));
  return parseHex(fields[7 + count], &record->data);
}

int64_t nowMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

uint32_t appendLine(std::u16string_view log, const std::string& line) {
  const std::filesystem::path directory = systemDirectory(kDirectory);
  if (directory.empty()) return lastError();
  const UniqueFd fd(::open((directory / logFileName(log)).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.valid()) return errorFromErrno(errno);
  const ssize_t written = ::write(fd.get(), line.data(), line.size());
  if (written < 0) return errorFromErrno(errno);
  return static_cast<size_t>(written) == line.size() ? 0 : ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace

std::u16string eventLogOfSource(std::u16string_view source) {
  RegistryKey logs;
  if (RegistryKey::open(RegistryHive::LocalMachine, kEventLogKey, KEY_READ, logs) != 0) return kDefaultLog;
  std::u16string log;
  for (uint32_t i = 0; logs.enumSubKey(i, log) == 0; ++i) {
    RegistryKey sourceKey;
    if (logs.openSubKey(log + u"\\" + std::u16string(source), KEY_READ, sourceKey) == 0) return log;
  }
  return kDefaultLog;
}

EventSourceHandle registerEventSource(const char16_t* serverName, const char16_t* sourceName) {
  if (serverName != nullptr && *serverName != 0) {
    setLastError(ERROR_RPC_SERVER_UNAVAILABLE);
    return nullptr;
  }
  if (sourceName == nullptr || *sourceName == 0) {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto source = std::make_unique<EventSource>();
  source->source = sourceName;
  source->log = eventLogOfSource(source->source);
  return sourceTable().add(std::move(source));
}

bool deregisterEventSource(EventSourceHandle source) {
  if (!sourceTable().remove(source)) {
    setLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

bool reportEvent(EventSourceHandle source, uint16_t type, uint16_t category, uint32_t eventId, const void* /*userSid*/,
                 uint16_t stringCount, uint32_t dataSize, const char16_t* const* strings, const void* data) {
  const std::optional<EventSource> found = sourceTable().find(source);
  if (!found) {
    setLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const EventSource& target = *found;
  if (!isValidType(type) || stringCount > kMaxEventStrings || dataSize > kMaxEventDataBytes ||
      (stringCount > 0 && strings == nullptr) || (dataSize > 0 && data == nullptr)) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::string line = std::to_string(nowMicroseconds()) + "\t" + std::to_string(currentProcessId()) + "\t" +
                     std::to_string(type) + "\t" + std::to_string(category) + "\t" + std::to_string(eventId) + "\t";
  appendEscaped(line, toUtf8(target.source));
  line += "\t" + std::to_string(stringCount);
  for (uint16_t i = 0; i < stringCount; ++i) {
    if (strings[i] == nullptr || wideLength(strings[i], kMaxEventStringChars + 1) > kMaxEventStringChars) {
      setLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    line += '\t';
    appendEscaped(line, toUtf8(strings[i]));
  }
  line += '\t' + hexOf(static_cast<const uint8_t*>(data), dataSize) + '\n';
  if (const uint32_t error = appendLine(target.log, line); error != 0) {
    setLastError(error);
    return false;
  }
  return true;
}

std::vector<std::u16string> eventLogNames() {
  std::vector<std::u16string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(systemRoot() / kDirectory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > std::strlen(kSuffix) && name.ends_with(kSuffix)) {
      names.push_back(toWide(name.substr(0, name.size() - std::strlen(kSuffix))));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t readEventLog(std::u16string_view log, uint64_t& offset, std::vector<EventLogRecord>& records) {
  records.clear();
  std::ifstream file(systemRoot() / kDirectory / logFileName(log), std::ios::binary);
  if (!file) return 0;
  file.seekg(static_cast<std::streamoff>(offset));
  std::string line;
  while (std::getline(file, line)) {
    if (file.eof()) break;  // no line feed yet: still being written
    offset += line.size() + 1;
    EventLogRecord record;
    if (parseRecord(line, log, &record)) records.push_back(std::move(record));
  }
  return 0;
}

std::u16string eventMessageText(const EventLogRecord& record) {
  RegistryKey key;
  std::u16string messageFile;
  if (RegistryKey::open(RegistryHive::LocalMachine,
                        std::u16string(kEventLogKey) + u"\\" + record.log + u"\\" + record.source, KEY_READ,
                        key) == 0 &&
      key.getString(u"EventMessageFile", messageFile) == 0) {
    std::vector<Message> messages;
    if (loadMessageTable(toUtf8(messageFile), messages) == 0) {
      for (const Message& message : messages) {
        if (message.id == record.eventId) return formatMessageText(message.text, record.strings);
      }
    }
  }
  std::u16string text = u"The description for Event ID " + toWide(std::to_string(record.eventId & 0xFFFF)) +
                        u" from source " + record.source +
                        u" cannot be found. The following information was included with the event:";
  for (const std::u16string& inserted : record.strings) text += u"\r\n" + inserted;
  return text;
}

}  // namespace platform
