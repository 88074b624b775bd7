#include "platform/service_runtime.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/errors.h"
#include "platform/device_wire.h"
#include "platform/registry.h"
#include "platform/system_root.h"
#include "platform/text.h"

namespace platform::service_runtime {

namespace {

constexpr size_t kMaxPlainKey = 60;

bool isPlainKeyCharacter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-' || c == u'.';
}

std::string fileName(std::u16string_view serviceName, const char* suffix) { return fileKey(serviceName) + suffix; }

struct flock lockRange(short type) {
  struct flock range{};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  return range;
}

bool parseStatusLine(const std::string& line, RuntimeStatus* status) {
  ServiceStatus& s = status->status;
  return std::sscanf(line.c_str(),
                     "state=%" SCNu32 " win32=%" SCNu32 " specific=%" SCNu32 " checkpoint=%" SCNu32
                     " waithint=%" SCNu32 " type=%" SCNu32 " accepted=%" SCNu32 " pid=%" SCNu32 " started=%" SCNu64,
                     &s.currentState, &s.win32ExitCode, &s.serviceSpecificExitCode, &s.checkPoint, &s.waitHint,
                     &s.serviceType, &s.controlsAccepted, &status->processId, &status->processStartTime) == 9;
}

UniqueFd socketIn(int directory, std::u16string_view serviceName, sockaddr_un* address) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.valid() || !wire::socketAddressIn(directory, fileName(serviceName, ".sock"), address)) return {};
  return fd;
}

}  // namespace

std::string fileKey(std::u16string_view serviceName) {
  const std::u16string folded = foldCase(serviceName);
  bool plain = !folded.empty() && folded.size() <= kMaxPlainKey && folded[0] != u'.';
  for (const char16_t c : folded) plain = plain && isPlainKeyCharacter(c);
  if (plain) return std::string(folded.begin(), folded.end());
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a over the folded name's UTF-16 units
  for (const char16_t c : folded) {
    hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
    hash = (hash ^ static_cast<uint8_t>(c >> 8)) * 0x100000001B3ull;
  }
  char key[24];
  std::snprintf(key, sizeof key, "~%016" PRIx64, hash);
  return key;
}

UniqueFd openDirectory() {
  const std::filesystem::path path = systemDirectory(kDirectory);
  if (path.empty()) return {};
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) setLastErrorFromErrno(errno);
  return fd;
}

uint64_t processStartTime(uint32_t processId) {
  if (processId == 0) return 0;
  std::ifstream file("/proc/" + std::to_string(processId) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');  // the command name may hold blanks and parentheses
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return 0;
}

bool isLocked(int directory, std::u16string_view serviceName) {
  const UniqueFd fd(::openat(directory, fileName(serviceName, ".lock").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  struct flock range = lockRange(F_WRLCK);
  return ::fcntl(fd.get(), F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
}

UniqueFd takeLock(int directory, std::u16string_view serviceName) {
  UniqueFd fd(::openat(directory, fileName(serviceName, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.valid()) {
    setLastErrorFromErrno(errno);
    return {};
  }
  struct flock range = lockRange(F_WRLCK);
  if (::fcntl(fd.get(), F_OFD_SETLK, &range) != 0) {
    setLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return {};
  }
  return fd;
}

RuntimeStatus readStoredStatus(int directory, std::u16string_view serviceName) {
  RuntimeStatus stored;
  stored.status.currentState = SERVICE_STOPPED;
  const UniqueFd fd(::openat(directory, fileName(serviceName, ".status").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return stored;
  char buffer[256];
  const ssize_t n = ::pread(fd.get(), buffer, sizeof buffer - 1, 0);
  if (n <= 0 || !parseStatusLine(std::string(buffer, static_cast<size_t>(n)), &stored)) {
    stored = RuntimeStatus{};
    stored.status.currentState = SERVICE_STOPPED;
  }
  return stored;
}

RuntimeStatus readStatus(int directory, std::u16string_view serviceName, uint32_t serviceType) {
  // The lock is looked at first: a holder writes the file before it lets go,
  // so a free lock with a file that says running means the holder died.
  const bool locked = isLocked(directory, serviceName);
  RuntimeStatus stored = readStoredStatus(directory, serviceName);
  if (stored.status.serviceType == 0) stored.status.serviceType = serviceType;
  if (locked) return stored;
  RuntimeStatus result;
  result.status = stored.status;
  if (stored.status.currentState != SERVICE_STOPPED) {
    result.status.currentState = SERVICE_STOPPED;
    result.status.win32ExitCode = ERROR_PROCESS_ABORTED;
    result.status.serviceSpecificExitCode = 0;
  }
  result.status.controlsAccepted = 0;
  result.status.checkPoint = 0;
  result.status.waitHint = 0;
  return result;
}

uint32_t writeStatus(int directory, std::u16string_view serviceName, const RuntimeStatus& status) {
  const ServiceStatus& s = status.status;
  char line[256];
  const int length = std::snprintf(line, sizeof line,
                                   "state=%" PRIu32 " win32=%" PRIu32 " specific=%" PRIu32 " checkpoint=%" PRIu32
                                   " waithint=%" PRIu32 " type=%" PRIu32 " accepted=%" PRIu32 " pid=%" PRIu32
                                   " started=%" PRIu64 "\n",
                                   s.currentState, s.win32ExitCode, s.serviceSpecificExitCode, s.checkPoint,
                                   s.waitHint, s.serviceType, s.controlsAccepted, status.processId,
                                   status.processStartTime);
  const std::string name = fileName(serviceName, ".status");
  const std::string temporary = name + ".tmp";
  const UniqueFd fd(::openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return errorFromErrno(errno);
  if (::write(fd.get(), line, static_cast<size_t>(length)) != length) return errorFromErrno(errno);
  if (::renameat(directory, temporary.c_str(), directory, name.c_str()) != 0) return errorFromErrno(errno);
  return 0;
}

UniqueFd listenControl(int directory, std::u16string_view serviceName) {
  sockaddr_un address;
  UniqueFd fd = socketIn(directory, serviceName, &address);
  if (!fd.valid()) return {};
  ::unlinkat(directory, fileName(serviceName, ".sock").c_str(), 0);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd.get(), 16) != 0) {
    setLastErrorFromErrno(errno);
    return {};
  }
  return fd;
}

UniqueFd connectControl(int directory, std::u16string_view serviceName) {
  sockaddr_un address;
  UniqueFd fd = socketIn(directory, serviceName, &address);
  if (!fd.valid()) return {};
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
  return fd;
}

void removeControl(int directory, std::u16string_view serviceName) {
  ::unlinkat(directory, fileName(serviceName, ".sock").c_str(), 0);
}

UniqueFd openOutputLog(int directory, std::u16string_view serviceName) {
  return UniqueFd(
      ::openat(directory, fileName(serviceName, ".log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
}

bool sendChannel(int fd, ChannelMessage kind, uint32_t value, const ServiceStatus& status, const std::u16string& text) {
  ChannelHeader header{kind, value, status};
  iovec pieces[2] = {{&header, sizeof header},
                     {const_cast<char16_t*>(text.data()), text.size() * sizeof(char16_t)}};
  return wire::sendRecord(fd, pieces, text.empty() ? 1 : 2) >= 0;
}

bool receiveChannel(int fd, ChannelHeader* header, std::u16string* text) {
  std::vector<uint8_t> buffer(kMaxChannelMessage);
  const wire::Received received = wire::receiveMessage(fd, buffer.data(), buffer.size());
  if (received.kind != wire::Received::kMessage || received.truncated || received.size < sizeof(ChannelHeader)) {
    return false;
  }
  std::memcpy(header, buffer.data(), sizeof *header);
  if (text != nullptr) {
    const size_t units = (received.size - sizeof(ChannelHeader)) / sizeof(char16_t);
    text->resize(units);
    std::memcpy(text->data(), buffer.data() + sizeof(ChannelHeader), units * sizeof(char16_t));
  }
  return true;
}

std::u16string joinList(const std::vector<std::u16string>& items) {
  std::u16string text;
  for (const std::u16string& item : items) {
    text += item;
    text += u'\0';
  }
  return text;
}

std::vector<std::u16string> splitList(std::u16string_view text) {
  std::vector<std::u16string> items;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find(u'\0', start), text.size());
    items.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

uint32_t readEntry(std::u16string_view serviceName, EntryInfo* entry) {
  if (serviceName.empty() || serviceName.size() > kMaxServiceName ||
      serviceName.find_first_of(u"\\/") != std::u16string_view::npos) {
    return ERROR_SERVICE_DOES_NOT_EXIST;
  }
  RegistryKey services;
  if (RegistryKey::open(RegistryHive::LocalMachine, kServicesKey, KEY_READ, services) != 0) {
    return ERROR_SERVICE_DOES_NOT_EXIST;
  }
  RegistryKey key;
  if (services.openSubKey(serviceName, KEY_READ, key) != 0) return ERROR_SERVICE_DOES_NOT_EXIST;
  ServiceConfig& config = entry->config;
  if (key.getDword(u"Type", config.serviceType) != 0) return ERROR_SERVICE_DOES_NOT_EXIST;
  // The stored spelling of the name: the subkey as enumerated.
  const std::u16string folded = foldCase(serviceName);
  std::u16string stored;
  entry->name = std::u16string(serviceName);
  for (uint32_t i = 0; services.enumSubKey(i, stored) == 0; ++i) {
    if (foldCase(stored) == folded) {
      entry->name = stored;
      break;
    }
  }
  config.startType = SERVICE_DEMAND_START;
  config.errorControl = SERVICE_ERROR_NORMAL;
  (void)key.getDword(u"Start", config.startType);
  (void)key.getDword(u"ErrorControl", config.errorControl);
  (void)key.getString(u"ImagePath", config.binaryPathName);
  (void)key.getString(u"Group", config.loadOrderGroup);
  (void)key.getMultiString(u"DependOnService", config.dependencies);
  (void)key.getString(u"ObjectName", config.serviceStartName);
  (void)key.getString(u"DisplayName", config.displayName);
  (void)key.getString(u"Description", config.description);
  if (config.displayName.empty()) config.displayName = entry->name;
  uint32_t deleteFlag = 0;
  entry->markedForDelete = key.getDword(u"DeleteFlag", deleteFlag) == 0 && deleteFlag != 0;
  return 0;
}

uint32_t removeEntry(std::u16string_view serviceName) {
  return RegistryKey::deleteTree(RegistryHive::LocalMachine, std::u16string(kServicesKey) + u"\\" +
                                                                 std::u16string(serviceName));
}

bool isMachineSystemService(std::u16string_view serviceName) {
  const std::u16string folded = foldCase(serviceName);
  for (const char16_t* name : kMachineSystemServices) {
    if (foldCase(name) == folded) return true;
  }
  return false;
}

}  // namespace platform::service_runtime
