#include "tools/reg/reg_file.h"

#include <algorithm>
#include <cstdio>

#include "platform/errors.h"
#include "platform/text.h"

namespace regtool {

using namespace platform;

namespace {

// Headers accepted on import: ours, and those of .reg files saved as UTF-8.
constexpr const char* kAcceptedHeaders[] = {kFileHeader, "Windows Registry Editor Version 5.00", "REGEDIT4"};

// --- Writing -----------------------------------------------------------------

std::string quote(std::u16string_view text) {
  std::string out = "\"";
  for (const char c : toUtf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// Text that a quoted string carries exactly: one line, no terminator, valid UTF-16.
bool fitsQuoted(std::u16string_view text) {
  if (text.find_first_of(u"\r\n") != std::u16string_view::npos) return false;
  if (text.find(u'\0') != std::u16string_view::npos) return false;
  return toWide(toUtf8(text)) == text;
}

std::string hexList(const std::vector<uint8_t>& data) {
  std::string text;
  char digits[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : ",%02x", data[i]);
    text += digits;
  }
  return text;
}

std::string dataText(uint32_t type, const std::vector<uint8_t>& data) {
  char number[40];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const std::u16string text = decodeString(data);
      if (platform::encodeRegistryString(text) == data && fitsQuoted(text)) {
        return (type == REG_EXPAND_SZ ? "expand:" : "") + quote(text);
      }
      break;
    }
    case REG_MULTI_SZ: {
      const std::vector<std::u16string> items = decodeMultiString(data);
      bool fits = platform::encodeRegistryMultiString(items) == data;
      std::string text = "multi:";
      for (size_t i = 0; i < items.size() && fits; ++i) {
        fits = fitsQuoted(items[i]);
        text += (i == 0 ? "" : ",") + quote(items[i]);
      }
      if (fits) return text;
      break;
    }
    case REG_DWORD:
      if (data.size() == 4) {
        std::snprintf(number, sizeof number, "dword:%08x",
                      static_cast<unsigned>(data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24));
        return number;
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) {
        uint64_t value = 0;
        for (size_t i = 8; i > 0; --i) value = (value << 8) | data[i - 1];
        std::snprintf(number, sizeof number, "qword:%016llx", static_cast<unsigned long long>(value));
        return number;
      }
      break;
    case REG_BINARY:
      return "hex:" + hexList(data);
    default:
      break;
  }
  std::snprintf(number, sizeof number, "hex(%x):", type);
  return number + hexList(data);
}

uint32_t exportTree(const RegistryKey& key, const KeyPath& path, std::string& text) {
  text += "[" + keyPathText(path) + "]\n";
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  uint32_t result = ERROR_SUCCESS;
  for (uint32_t i = 0; (result = key.enumValue(i, name, &type, &data)) == ERROR_SUCCESS; ++i) {
    text += (name.empty() ? std::string("@") : quote(name)) + "=" + dataText(type, data) + "\n";
  }
  if (result != ERROR_NO_MORE_ITEMS) return result;
  text += "\n";
  for (uint32_t i = 0; (result = key.enumSubKey(i, name)) == ERROR_SUCCESS; ++i) {
    RegistryKey child;
    if (result = key.openSubKey(name, KEY_READ, child); result != ERROR_SUCCESS) return result;
    if (result = exportTree(child, childPath(path, name), text); result != ERROR_SUCCESS) return result;
  }
  return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
}

// --- Reading -----------------------------------------------------------------

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a quoted string that starts at text[pos]; pos moves past the closing quote.
bool parseQuoted(std::string_view text, size_t& pos, std::u16string& out, std::string& error) {
  if (pos >= text.size() || text[pos] != '"') {
    error = "expected a quoted string";
    return false;
  }
  std::string value;
  for (++pos; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') {
      ++pos;
      out = toWide(value);
      return true;
    }
    if (c == '\\') {
      if (pos + 1 >= text.size() || (text[pos + 1] != '\\' && text[pos + 1] != '"')) {
        error = "a backslash in a quoted string must be written \\\\ (and a quote \\\")";
        return false;
      }
      ++pos;
    }
    value += text[pos];
  }
  error = "unterminated quoted string";
  return false;
}

// A quoted string that makes up all of `text`.
bool parseWholeQuoted(std::string_view text, std::u16string& out, std::string& error) {
  size_t pos = 0;
  if (!parseQuoted(text, pos, out, error)) return false;
  if (!trim(text.substr(pos)).empty()) {
    error = "unexpected text after the closing quote";
    return false;
  }
  return true;
}

bool parseMulti(std::string_view text, std::vector<std::u16string>& items, std::string& error) {
  text = trim(text);
  size_t pos = 0;
  while (pos < text.size()) {
    std::u16string item;
    if (!parseQuoted(text, pos, item, error)) return false;
    if (item.empty()) {
      error = "a multi-string item must not be empty";
      return false;
    }
    items.push_back(std::move(item));
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos == text.size()) break;
    if (text[pos] != ',') {
      error = "multi-string items must be separated by commas";
      return false;
    }
    ++pos;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos == text.size()) {
      error = "a comma must be followed by another item";
      return false;
    }
  }
  return true;
}

bool parseHexNumber(std::string_view text, size_t maxDigits, uint64_t& value) {
  if (text.empty() || text.size() > maxDigits) return false;
  value = 0;
  for (const char c : text) {
    const int digit = hexDigit(c);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return true;
}

bool parseHexList(std::string_view text, std::vector<uint8_t>& data, std::string& error) {
  text = trim(text);
  if (text.empty()) return true;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string_view token =
        trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    uint64_t byte = 0;
    if (!parseHexNumber(token, 2, byte)) {
      error = "'" + std::string(token) + "' is not a hex byte";
      return false;
    }
    data.push_back(static_cast<uint8_t>(byte));
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

// The data after "=": fills type and data, or marks a deletion.
bool parseData(std::string_view text, ImportOperation& op, std::string& error) {
  op.kind = ImportOperation::Kind::SetValue;
  if (text == "-") {
    op.kind = ImportOperation::Kind::DeleteValue;
    return true;
  }
  if (startsWith(text, "\"")) {
    op.type = REG_SZ;
    std::u16string value;
    if (!parseWholeQuoted(text, value, error)) return false;
    op.data = platform::encodeRegistryString(value);
    return true;
  }
  if (startsWith(text, "expand:")) {
    op.type = REG_EXPAND_SZ;
    std::u16string value;
    if (!parseWholeQuoted(text.substr(7), value, error)) return false;
    op.data = platform::encodeRegistryString(value);
    return true;
  }
  if (startsWith(text, "multi:")) {
    op.type = REG_MULTI_SZ;
    std::vector<std::u16string> items;
    if (!parseMulti(text.substr(6), items, error)) return false;
    op.data = platform::encodeRegistryMultiString(items);
    return true;
  }
  if (startsWith(text, "dword:") || startsWith(text, "qword:")) {
    const bool dword = text[0] == 'd';
    op.type = dword ? REG_DWORD : REG_QWORD;
    uint64_t value = 0;
    if (!parseHexNumber(text.substr(6), dword ? 8 : 16, value)) {
      error = std::string(dword ? "dword" : "qword") + " data must be 1 to " + (dword ? "8" : "16") +
              " hex digits, not '" + std::string(text.substr(6)) + "'";
      return false;
    }
    platform::appendLittleEndian(op.data, value, dword ? 4 : 8);
    return true;
  }
  if (startsWith(text, "hex:")) {
    op.type = REG_BINARY;
    return parseHexList(text.substr(4), op.data, error);
  }
  if (startsWith(text, "hex(")) {
    const size_t close = text.find("):");
    uint64_t type = 0;
    if (close == std::string_view::npos || !parseHexNumber(text.substr(4, close - 4), 8, type)) {
      error = "hex(type) needs a hex type number, as in hex(7):";
      return false;
    }
    op.type = static_cast<uint32_t>(type);
    if (!parseHexList(text.substr(close + 2), op.data, error)) return false;
    if ((op.type == REG_DWORD && op.data.size() != 4) || (op.type == REG_QWORD && op.data.size() != 8)) {
      error = "hex(" + std::to_string(op.type) + ") data must be " + (op.type == REG_DWORD ? "4" : "8") + " bytes";
      return false;
    }
    return true;
  }
  error = "unrecognised value data '" + std::string(text) +
          "' (expected \"text\", expand:, multi:, dword:, qword:, hex:, hex(type): or -)";
  return false;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

uint32_t exportKey(const KeyPath& key, std::string& text) {
  RegistryKey root;
  if (const uint32_t result = RegistryKey::open(key.hive, key.path, KEY_READ, root); result != ERROR_SUCCESS) {
    return result;
  }
  text = std::string(kFileHeader) + "\n\n";
  return exportTree(root, key, text);
}

bool parseImport(std::string_view text, std::vector<ImportOperation>& operations, std::string& error) {
  if (startsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
  if (const size_t bad = platform::invalidUtf8Offset(text); bad != std::string_view::npos) {
    const auto line = std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(bad), '\n') + 1;
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[bad]));
    error = "line " + std::to_string(line) + ": the file is not UTF-8 text (byte " + byte + ")";
    return false;
  }
  const std::vector<std::string_view> lines = splitLines(text);
  bool headerSeen = false;
  bool inKeySection = false;
  for (size_t index = 0; index < lines.size(); ++index) {
    const int lineNumber = static_cast<int>(index) + 1;
    const std::string_view line = trim(lines[index]);
    auto fail = [&](const std::string& message) {
      error = "line " + std::to_string(lineNumber) + ": " + message;
      return false;
    };
    if (line.empty() || line.front() == ';') continue;
    if (!headerSeen) {
      for (const char* header : kAcceptedHeaders) headerSeen = headerSeen || line == header;
      if (!headerSeen) return fail("the file does not start with the header '" + std::string(kFileHeader) + "'");
      continue;
    }
    ImportOperation op;
    op.line = lineNumber;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("a key section must end with ']'");
      std::string_view inner = line.substr(1, line.size() - 2);
      const bool deletion = !inner.empty() && inner.front() == '-';
      if (deletion) inner.remove_prefix(1);
      std::string pathError;
      if (!parseKeyPath(inner, op.key, pathError)) return fail(pathError);
      if (deletion && op.key.path.empty()) return fail("a whole hive cannot be deleted");
      op.kind = deletion ? ImportOperation::Kind::DeleteKeyTree : ImportOperation::Kind::CreateKey;
      inKeySection = !deletion;
      operations.push_back(std::move(op));
      continue;
    }
    if (line.front() != '"' && line.front() != '@') return fail("expected a [key] section or a \"name\"=value line");
    if (!inKeySection) return fail("a value must follow a [key] section");
    size_t pos = 1;
    std::string parseError;
    if (line.front() == '"') {
      pos = 0;
      if (!parseQuoted(line, pos, op.name, parseError)) return fail(parseError);
      if (const std::string nameError = valueNameError(op.name); !nameError.empty()) return fail(nameError);
    }
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size() || line[pos] != '=') return fail("expected '=' after the value name");
    std::string data(trim(line.substr(pos + 1)));
    // Hex data may go on over several lines, each but the last ending in a backslash.
    while (startsWith(data, "hex") && !data.empty() && data.back() == '\\' && index + 1 < lines.size()) {
      data.pop_back();
      data += trim(lines[++index]);
    }
    if (!parseData(data, op, parseError)) return fail(parseError);
    operations.push_back(std::move(op));
  }
  if (!headerSeen) {
    error = "the file is empty (no header '" + std::string(kFileHeader) + "')";
    return false;
  }
  return true;
}

uint32_t applyImport(const std::vector<ImportOperation>& operations, std::string& error) {
  int failedLine = 0;
  const uint32_t result = runRegistryBatch([&] {
    RegistryKey current;
    for (const ImportOperation& op : operations) {
      uint32_t step = ERROR_SUCCESS;
      switch (op.kind) {
        case ImportOperation::Kind::CreateKey:
          step = RegistryKey::create(op.key.hive, op.key.path, KEY_ALL_ACCESS, current);
          break;
        case ImportOperation::Kind::DeleteKeyTree:
          step = RegistryKey::deleteTree(op.key.hive, op.key.path);
          if (step == ERROR_FILE_NOT_FOUND) step = ERROR_SUCCESS;
          break;
        case ImportOperation::Kind::SetValue:
          step = current.setValue(op.name, op.type, op.data.data(), static_cast<uint32_t>(op.data.size()));
          break;
        case ImportOperation::Kind::DeleteValue:
          step = current.deleteValue(op.name);
          if (step == ERROR_FILE_NOT_FOUND) step = ERROR_SUCCESS;
          break;
      }
      if (step != ERROR_SUCCESS) {
        failedLine = op.line;
        return step;
      }
    }
    return ERROR_SUCCESS;
  });
  if (result != ERROR_SUCCESS) {
    error = (failedLine > 0 ? "line " + std::to_string(failedLine) + ": " : std::string()) + errorText(result);
  }
  return result;
}

}  // namespace regtool
