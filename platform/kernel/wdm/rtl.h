#pragma once
// Run-time library pieces of the kernel: counted strings and registry queries
// and writes relative to a path, with defaults.

#include <cstddef>
#include <cstdint>

#include "platform/kernel/wdm/ntstatus.h"

namespace platform::wdm {

// A counted UTF-16 string: lengths in bytes, the buffer not necessarily
// terminated.
struct UnicodeString {
  uint16_t length = 0;         // bytes in use
  uint16_t maximumLength = 0;  // bytes of the buffer
  char16_t* buffer = nullptr;
};

// Points `string` at a zero-terminated text (or makes it empty for null).
void rtlInitUnicodeString(UnicodeString* string, const char16_t* text);
// STATUS_BUFFER_TOO_SMALL when the result would not fit; the string is then unchanged.
NtStatus rtlAppendUnicodeToString(UnicodeString* destination, const char16_t* text);
NtStatus rtlAppendUnicodeStringToString(UnicodeString* destination, const UnicodeString* source);
// Writes `value` in base 2, 8, 10 or 16 (0 means 10) into the buffer,
// terminated when there is room for it.
NtStatus rtlIntegerToUnicodeString(uint32_t value, uint32_t base, UnicodeString* string);
bool rtlEqualUnicodeString(const UnicodeString* a, const UnicodeString* b, bool caseInsensitive);

// Registry: what a path is relative to.
inline constexpr uint32_t RTL_REGISTRY_ABSOLUTE = 0;  // "\Registry\Machine\..." or "\Registry\User\..."
inline constexpr uint32_t RTL_REGISTRY_SERVICES = 1;  // below "\Registry\Machine\System\CurrentControlSet\Services"

// Query table flags.
inline constexpr uint32_t RTL_QUERY_REGISTRY_SUBKEY = 0x01;    // the entry names a subkey; later entries read in it
inline constexpr uint32_t RTL_QUERY_REGISTRY_REQUIRED = 0x04;  // a missing value fails the query
inline constexpr uint32_t RTL_QUERY_REGISTRY_DIRECT = 0x20;    // store the value at entryContext

inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_DWORD = 4;

// One entry of a query table. A table ends with an entry whose name is null
// and whose flags are zero. Only direct queries are supported: a REG_DWORD
// value is stored as 4 bytes at entryContext; the default applies when the
// value is missing.
struct RtlQueryRegistryTable {
  void* queryRoutine = nullptr;  // must be null: routines are not supported
  uint32_t flags = 0;
  const char16_t* name = nullptr;
  void* entryContext = nullptr;
  uint32_t defaultType = REG_NONE;
  const void* defaultData = nullptr;
  uint32_t defaultLength = 0;
};

// STATUS_OBJECT_NAME_NOT_FOUND for a missing key, or for a missing required
// value without default; STATUS_OBJECT_TYPE_MISMATCH for a value of another
// type; STATUS_NOT_IMPLEMENTED for a query routine.
NtStatus rtlQueryRegistryValues(uint32_t relativeTo, const char16_t* path, RtlQueryRegistryTable* table,
                                void* context, void* environment);
// Creates the key when it is missing.
NtStatus rtlWriteRegistryValue(uint32_t relativeTo, const char16_t* path, const char16_t* valueName,
                               uint32_t valueType, const void* valueData, uint32_t valueLength);

}  // namespace platform::wdm
