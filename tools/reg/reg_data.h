#pragma once
// Registry paths, type names and value data as the reg tool reads and writes
// them on its command line and in its query output.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace regtool {

struct KeyPath {
  platform::RegistryHive hive = platform::RegistryHive::LocalMachine;
  std::u16string path;  // below the hive; empty for the hive's root key
};

// "HKLM\Software\X" or "HKEY_LOCAL_MACHINE\Software\X" (hive names in any case;
// key names at most kRegistryMaxKeyNameLength long). On failure `error` says
// what is wrong.
bool parseKeyPath(std::string_view text, KeyPath& out, std::string& error);
// "HKEY_LOCAL_MACHINE\Software\X".
std::string keyPathText(const KeyPath& key);
KeyPath childPath(const KeyPath& key, std::u16string_view name);

// "REG_SZ" ... (any case). Only the types the tool writes are accepted.
bool parseTypeName(std::string_view text, uint32_t& type);
std::string typeName(uint32_t type);

// Value data as given after /d: text, hex digits for REG_BINARY and REG_NONE,
// a decimal or 0x-prefixed number for REG_DWORD and REG_QWORD, items separated
// by a literal \0 for REG_MULTI_SZ.
bool parseCommandData(uint32_t type, std::string_view text, std::vector<uint8_t>& data, std::string& error);
// The data as the query output shows it.
std::string formatQueryData(uint32_t type, const std::vector<uint8_t>& data);

// Conversions between stored string data and text.
// The text up to the first terminator.
std::u16string decodeString(const std::vector<uint8_t>& data);
std::vector<std::u16string> decodeMultiString(const std::vector<uint8_t>& data);

bool parseUnsigned(std::string_view text, uint64_t max, uint64_t& value);
std::string hexBytes(const std::vector<uint8_t>& data, std::string_view separator);

// What is wrong with a value name that the registry refuses for its length,
// or "".
std::string valueNameError(std::u16string_view name);

// A sentence for a registry error code: the status text, and what it means
// for the registry.
std::string errorText(uint32_t code);

}  // namespace regtool
