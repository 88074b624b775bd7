#include "tools/reg/reg_data.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/errors.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "tools/common/tool.h"

namespace regtool {

using namespace platform;

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

struct HiveName {
  const char* longName;
  const char* shortName;
  RegistryHive hive;
};

constexpr HiveName kHives[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", RegistryHive::LocalMachine},
    {"HKEY_CURRENT_USER", "HKCU", RegistryHive::CurrentUser},
    {"HKEY_CLASSES_ROOT", "HKCR", RegistryHive::ClassesRoot},
};

struct TypeName {
  const char* name;
  uint32_t type;
};

constexpr TypeName kTypes[] = {
    {"REG_NONE", REG_NONE},     {"REG_SZ", REG_SZ},           {"REG_EXPAND_SZ", REG_EXPAND_SZ},
    {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD},     {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_QWORD", REG_QWORD},
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseHexDigits(std::string_view text, std::vector<uint8_t>& data, std::string& error) {
  if (text.size() % 2 != 0) {
    error = "binary data needs an even number of hex digits";
    return false;
  }
  data.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hexDigit(text[i]);
    const int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      error = "binary data may only contain hex digits: '" + std::string(text) + "'";
      return false;
    }
    data.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

}  // namespace

bool parseKeyPath(std::string_view text, KeyPath& out, std::string& error) {
  const size_t slash = text.find('\\');
  const std::string_view hiveText = text.substr(0, slash);
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
  if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  for (const HiveName& hive : kHives) {
    if (!equalsIgnoringCase(hiveText, hive.longName) && !equalsIgnoringCase(hiveText, hive.shortName)) continue;
    if (rest.find("\\\\") != std::string_view::npos || (!rest.empty() && rest.front() == '\\')) {
      error = "invalid key path '" + std::string(text) + "': empty key name";
      return false;
    }
    const std::u16string path = toWide(rest);
    for (size_t start = 0; start < path.size();) {
      const size_t end = std::min(path.find(u'\\', start), path.size());
      if (end - start > kRegistryMaxKeyNameLength) {
        error = "the key name '" + toUtf8(path.substr(start, 20)) + "...' is " + std::to_string(end - start) +
                " characters long; a key name has at most " + std::to_string(kRegistryMaxKeyNameLength);
        return false;
      }
      start = end + 1;
    }
    out.hive = hive.hive;
    out.path = path;
    return true;
  }
  error = "unknown hive '" + std::string(hiveText) +
          "' (use HKEY_LOCAL_MACHINE/HKLM, HKEY_CURRENT_USER/HKCU or HKEY_CLASSES_ROOT/HKCR)";
  return false;
}

std::string keyPathText(const KeyPath& key) {
  std::string text = toUtf8(registryHiveName(key.hive));
  if (!key.path.empty()) text += "\\" + toUtf8(key.path);
  return text;
}

KeyPath childPath(const KeyPath& key, std::u16string_view name) {
  KeyPath child = key;
  if (!child.path.empty()) child.path += u'\\';
  child.path += name;
  return child;
}

bool parseTypeName(std::string_view text, uint32_t& type) {
  for (const TypeName& entry : kTypes) {
    if (equalsIgnoringCase(text, entry.name)) {
      type = entry.type;
      return true;
    }
  }
  return false;
}

std::string typeName(uint32_t type) {
  for (const TypeName& entry : kTypes) {
    if (entry.type == type) return entry.name;
  }
  return "REG_TYPE_" + std::to_string(type);
}

bool parseUnsigned(std::string_view text, uint64_t max, uint64_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t result = 0;
  for (const char c : text) {
    const int digit = hexDigit(c);
    if (digit < 0 || digit >= base) return false;
    if (result > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
    result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  value = result;
  return true;
}

bool parseCommandData(uint32_t type, std::string_view text, std::vector<uint8_t>& data, std::string& error) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      data = platform::encodeRegistryString(toWide(text));
      return true;
    case REG_MULTI_SZ: {
      std::vector<std::u16string> items;
      size_t start = 0;
      while (start < text.size()) {
        size_t end = text.find("\\0", start);
        if (end == std::string_view::npos) end = text.size();
        if (end == start) {
          error = "REG_MULTI_SZ data must not contain empty items";
          return false;
        }
        items.push_back(toWide(text.substr(start, end - start)));
        start = end + 2;  // a trailing \0 ends the list
      }
      data = platform::encodeRegistryMultiString(items);
      return true;
    }
    case REG_NONE:
    case REG_BINARY:
      return parseHexDigits(text, data, error);
    case REG_DWORD:
    case REG_QWORD: {
      const bool dword = type == REG_DWORD;
      uint64_t value = 0;
      if (!parseUnsigned(text, dword ? 0xFFFFFFFFull : ~0ull, value)) {
        error = std::string(dword ? "REG_DWORD" : "REG_QWORD") + " data must be a decimal or 0x-prefixed number" +
                " from 0 to " + (dword ? "4294967295" : "18446744073709551615") + ", not '" + std::string(text) +
                "'";
        return false;
      }
      data.clear();
      platform::appendLittleEndian(data, value, dword ? 4 : 8);
      return true;
    }
    default:
      error = "unsupported type " + typeName(type);
      return false;
  }
}

std::string hexBytes(const std::vector<uint8_t>& data, std::string_view separator) {
  std::string text;
  char digits[3];
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) text += separator;
    std::snprintf(digits, sizeof digits, "%02X", data[i]);
    text += digits;
  }
  return text;
}

std::string formatQueryData(uint32_t type, const std::vector<uint8_t>& data) {
  char number[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return toUtf8(decodeString(data));
    case REG_MULTI_SZ: {
      std::string text;
      for (const std::u16string& item : decodeMultiString(data)) {
        if (!text.empty()) text += "\\0";
        text += toUtf8(item);
      }
      return text;
    }
    case REG_DWORD:
    case REG_QWORD:
      if (data.size() == (type == REG_DWORD ? 4u : 8u)) {
        std::snprintf(number, sizeof number, "0x%llx", static_cast<unsigned long long>(platform::readLittleEndian(data)));
        return number;
      }
      return hexBytes(data, "");
    default:
      return hexBytes(data, "");
  }
}


namespace {
std::u16string wideFromBytes(const std::vector<uint8_t>& data) {
  std::u16string text(data.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}
}  // namespace

std::u16string decodeString(const std::vector<uint8_t>& data) {
  std::u16string text = wideFromBytes(data);
  if (const size_t end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
  return text;
}

std::vector<std::u16string> decodeMultiString(const std::vector<uint8_t>& data) {
  const std::u16string text = wideFromBytes(data);
  std::vector<std::u16string> items;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos) end = text.size();
    if (end == start) break;
    items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

std::string valueNameError(std::u16string_view name) {
  if (name.size() <= kRegistryMaxValueNameLength) return {};
  return "the value name is " + std::to_string(name.size()) + " characters long; a value name has at most " +
         std::to_string(kRegistryMaxValueNameLength);
}

std::string errorText(uint32_t code) {
  const std::string text = tool::statusText(code);
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return text + "; the registry key or value does not exist";
    case ERROR_ACCESS_DENIED:
      return text + "; a key with subkeys, or a hive, cannot be deleted this way";
    case ERROR_TIMEOUT:
      return text + "; another process holds the registry";
    case ERROR_REGISTRY_IO_FAILED:
      return text + "; the registry database " + (platform::systemRoot() / "registry.db").string() +
             " cannot be read or written";
    default:
      return text;
  }
}

}  // namespace regtool
