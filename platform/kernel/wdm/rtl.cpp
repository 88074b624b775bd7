#include "platform/kernel/wdm/rtl.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform::wdm {

// ================================================================ counted strings

void rtlInitUnicodeString(UnicodeString* string, const char16_t* text) {
  const size_t bytes = text == nullptr ? 0 : std::char_traits<char16_t>::length(text) * 2;
  string->buffer = const_cast<char16_t*>(text);
  string->length = static_cast<uint16_t>(std::min<size_t>(bytes, 0xFFFC));
  string->maximumLength = text == nullptr ? 0 : static_cast<uint16_t>(string->length + 2);
}

namespace {

NtStatus appendUnits(UnicodeString* destination, const char16_t* units, size_t bytes) {
  if (destination == nullptr) return STATUS_INVALID_PARAMETER;
  if (bytes == 0) return STATUS_SUCCESS;
  if (destination->buffer == nullptr || destination->length + bytes > destination->maximumLength) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::memcpy(reinterpret_cast<uint8_t*>(destination->buffer) + destination->length, units, bytes);
  destination->length = static_cast<uint16_t>(destination->length + bytes);
  // Terminated when there is room, as the original helpers do.
  if (destination->length + 2 <= destination->maximumLength) destination->buffer[destination->length / 2] = 0;
  return STATUS_SUCCESS;
}

}  // namespace

NtStatus rtlAppendUnicodeToString(UnicodeString* destination, const char16_t* text) {
  if (text == nullptr) return STATUS_SUCCESS;
  return appendUnits(destination, text, std::char_traits<char16_t>::length(text) * 2);
}

NtStatus rtlAppendUnicodeStringToString(UnicodeString* destination, const UnicodeString* source) {
  if (source == nullptr) return STATUS_INVALID_PARAMETER;
  return appendUnits(destination, source->buffer, source->length);
}

NtStatus rtlIntegerToUnicodeString(uint32_t value, uint32_t base, UnicodeString* string) {
  if (base == 0) base = 10;
  if (base != 2 && base != 8 && base != 10 && base != 16) return STATUS_INVALID_PARAMETER;
  if (string == nullptr || string->buffer == nullptr) return STATUS_INVALID_PARAMETER;
  char16_t digits[33];
  size_t count = 0;
  do {
    const uint32_t digit = value % base;
    digits[count++] = static_cast<char16_t>(digit < 10 ? u'0' + digit : u'A' + digit - 10);
    value /= base;
  } while (value != 0);
  if (count * 2 > string->maximumLength) return STATUS_BUFFER_OVERFLOW;
  for (size_t i = 0; i < count; ++i) string->buffer[i] = digits[count - 1 - i];
  string->length = static_cast<uint16_t>(count * 2);
  if (string->length + 2 <= string->maximumLength) string->buffer[count] = 0;
  return STATUS_SUCCESS;
}

bool rtlEqualUnicodeString(const UnicodeString* a, const UnicodeString* b, bool caseInsensitive) {
  const std::u16string_view left(a->buffer, a->length / 2);
  const std::u16string_view right(b->buffer, b->length / 2);
  return caseInsensitive ? foldCase(left) == foldCase(right) : left == right;
}

// ================================================================ registry

namespace {

constexpr std::u16string_view kMachinePrefix = u"\\registry\\machine\\";
constexpr std::u16string_view kUserPrefix = u"\\registry\\user\\";
constexpr std::u16string_view kServicesPath = u"System\\CurrentControlSet\\Services\\";

// The hive and the path inside it for a kernel registry path.
bool resolvePath(uint32_t relativeTo, const char16_t* path, RegistryHive* hive, std::u16string* inside) {
  if (path == nullptr) return false;
  const std::u16string_view text(path);
  if (relativeTo == RTL_REGISTRY_SERVICES) {
    *hive = RegistryHive::LocalMachine;
    *inside = std::u16string(kServicesPath) + std::u16string(text);
    return true;
  }
  if (relativeTo != RTL_REGISTRY_ABSOLUTE) return false;
  const std::u16string folded = foldCase(text);
  if (folded.rfind(kMachinePrefix, 0) == 0) {
    *hive = RegistryHive::LocalMachine;
    *inside = std::u16string(text.substr(kMachinePrefix.size()));
    return true;
  }
  if (folded.rfind(kUserPrefix, 0) == 0) {
    *hive = RegistryHive::CurrentUser;
    *inside = std::u16string(text.substr(kUserPrefix.size()));
    return true;
  }
  return false;
}

NtStatus statusFromRegistryError(uint32_t error) {
  switch (error) {
    case ERROR_SUCCESS: return STATUS_SUCCESS;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return STATUS_OBJECT_NAME_NOT_FOUND;
    case ERROR_ACCESS_DENIED: return STATUS_ACCESS_DENIED;
    case ERROR_INVALID_DATA: return STATUS_OBJECT_TYPE_MISMATCH;
    default: return STATUS_UNSUCCESSFUL;
  }
}

NtStatus queryDirect(const RegistryKey& key, const RtlQueryRegistryTable& entry) {
  uint32_t value = 0;
  const uint32_t error = key.getDword(entry.name, value);
  if (error == ERROR_SUCCESS) {
    std::memcpy(entry.entryContext, &value, sizeof value);
    return STATUS_SUCCESS;
  }
  if (error != ERROR_FILE_NOT_FOUND) return statusFromRegistryError(error);
  if (entry.defaultType == REG_DWORD && entry.defaultData != nullptr) {
    std::memcpy(entry.entryContext, entry.defaultData, sizeof value);
    return STATUS_SUCCESS;
  }
  if ((entry.flags & RTL_QUERY_REGISTRY_REQUIRED) != 0) return STATUS_OBJECT_NAME_NOT_FOUND;
  return STATUS_SUCCESS;  // nothing stored, nothing required
}

}  // namespace

NtStatus rtlQueryRegistryValues(uint32_t relativeTo, const char16_t* path, RtlQueryRegistryTable* table, void*,
                                void*) {
  RegistryHive hive;
  std::u16string inside;
  if (table == nullptr || !resolvePath(relativeTo, path, &hive, &inside)) return STATUS_INVALID_PARAMETER;
  RegistryKey base;
  NtStatus status = statusFromRegistryError(RegistryKey::open(hive, inside, KEY_READ, base));
  if (status != STATUS_SUCCESS) return status;
  RegistryKey subkey;
  const RegistryKey* current = &base;
  for (RtlQueryRegistryTable* entry = table; entry->name != nullptr || entry->flags != 0; ++entry) {
    if (entry->queryRoutine != nullptr) return STATUS_NOT_IMPLEMENTED;
    if ((entry->flags & RTL_QUERY_REGISTRY_SUBKEY) != 0) {
      status = statusFromRegistryError(base.openSubKey(entry->name, KEY_READ, subkey));
      if (status != STATUS_SUCCESS) return status;
      current = &subkey;
      continue;
    }
    if ((entry->flags & RTL_QUERY_REGISTRY_DIRECT) == 0 || entry->entryContext == nullptr || entry->name == nullptr) {
      return STATUS_INVALID_PARAMETER;
    }
    status = queryDirect(*current, *entry);
    if (status != STATUS_SUCCESS) return status;
  }
  return STATUS_SUCCESS;
}

NtStatus rtlWriteRegistryValue(uint32_t relativeTo, const char16_t* path, const char16_t* valueName,
                               uint32_t valueType, const void* valueData, uint32_t valueLength) {
  RegistryHive hive;
  std::u16string inside;
  if (valueName == nullptr || !resolvePath(relativeTo, path, &hive, &inside)) return STATUS_INVALID_PARAMETER;
  RegistryKey key;
  NtStatus status = statusFromRegistryError(RegistryKey::create(hive, inside, KEY_WRITE, key));
  if (status != STATUS_SUCCESS) return status;
  const uint32_t error = key.setValue(valueName, valueType, valueData, valueLength);
  return error == ERROR_SUCCESS ? STATUS_SUCCESS
                                : (error == ERROR_INVALID_PARAMETER ? STATUS_INVALID_PARAMETER
                                                                    : statusFromRegistryError(error));
}

}  // namespace platform::wdm
