#pragma once
// 16-byte globally unique identifiers with the field layout the records use
// (u32, u16, u16, 8 bytes; little-endian in memory) and the registry text
// form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};

  friend bool operator==(const Guid&, const Guid&) = default;
};
static_assert(sizeof(Guid) == 16);

// Upper-case text with braces.
std::string guidToString(const Guid& guid);
std::u16string guidToWide(const Guid& guid);

// Parses "{8-4-4-4-12}" (braces required, hexadecimal digits in either case).
bool parseGuid(std::string_view text, Guid* guid);
bool parseGuid(std::u16string_view text, Guid* guid);

}  // namespace platform
