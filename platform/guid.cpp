#include "platform/guid.h"

#include <cstdio>

namespace platform {

namespace {

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at `pos`.
template <typename Text>
bool readHex(const Text& text, size_t pos, int digits, uint64_t* value) {
  uint64_t result = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = hexValue(static_cast<char16_t>(text[pos + static_cast<size_t>(i)]));
    if (v < 0) return false;
    result = result << 4 | static_cast<uint64_t>(v);
  }
  *value = result;
  return true;
}

template <typename Text>
bool parse(const Text& text, Guid* guid) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-') {
    return false;
  }
  Guid result;
  uint64_t v;
  if (!readHex(text, 1, 8, &v)) return false;
  result.data1 = static_cast<uint32_t>(v);
  if (!readHex(text, 10, 4, &v)) return false;
  result.data2 = static_cast<uint16_t>(v);
  if (!readHex(text, 15, 4, &v)) return false;
  result.data3 = static_cast<uint16_t>(v);
  static constexpr size_t kBytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(text, kBytePositions[i], 2, &v)) return false;
    result.data4[i] = static_cast<uint8_t>(v);
  }
  if (guid != nullptr) *guid = result;
  return true;
}

}  // namespace

std::string guidToString(const Guid& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

std::u16string guidToWide(const Guid& guid) {
  const std::string text = guidToString(guid);
  return std::u16string(text.begin(), text.end());
}

bool parseGuid(std::string_view text, Guid* guid) { return parse(text, guid); }
bool parseGuid(std::u16string_view text, Guid* guid) { return parse(text, guid); }

}  // namespace platform
