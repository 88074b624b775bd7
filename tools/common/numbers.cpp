#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/format.h"
#include "tools/common/tool.h"

namespace tool {

namespace {

int digitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

std::optional<uint64_t> parseDigits(std::string_view digits, int base, uint64_t minimum, uint64_t maximum) {
  if (digits.empty()) return std::nullopt;
  uint64_t result = 0;
  for (const char c : digits) {
    const int digit = digitValue(c, base);
    if (digit < 0) return std::nullopt;
    const uint64_t b = static_cast<uint64_t>(base);
    if (result > (UINT64_MAX - static_cast<uint64_t>(digit)) / b) return std::nullopt;
    result = result * b + static_cast<uint64_t>(digit);
  }
  if (result < minimum || result > maximum) return std::nullopt;
  return result;
}

std::string rangeText(uint64_t minimum, uint64_t maximum) {
  return std::to_string(minimum) + " to " + std::to_string(maximum);
}

}  // namespace

std::optional<uint64_t> parseDecimal(std::string_view text, uint64_t minimum, uint64_t maximum) {
  return parseDigits(text, 10, minimum, maximum);
}

std::optional<uint64_t> parseNumber(std::string_view text, uint64_t minimum, uint64_t maximum) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return parseDigits(text.substr(2), 16, minimum, maximum);
  }
  return parseDecimal(text, minimum, maximum);
}

std::optional<double> parseFraction(std::string_view text, double minimum, double maximum) {
  // Only [-+]digits[.digits]: strtod alone would also take "nan", "inf",
  // "0x1p3" and "1e5".
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  size_t digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  const std::string copy(text);
  errno = 0;
  const double value = std::strtod(copy.c_str(), nullptr);
  if (errno != 0 || !std::isfinite(value) || value < minimum || value > maximum) return std::nullopt;
  return value;
}

uint32_t decimalArgument(std::string_view text, std::string_view what, uint32_t minimum, uint32_t maximum) {
  const std::optional<uint64_t> value = parseDecimal(text, minimum, maximum);
  if (!value) {
    throw UsageError{std::string(what) + " must be a decimal number from " + rangeText(minimum, maximum) +
                     ", not '" + std::string(text) + "'"};
  }
  return static_cast<uint32_t>(*value);
}

uint32_t numberArgument(std::string_view text, std::string_view what, uint32_t minimum, uint32_t maximum) {
  const std::optional<uint64_t> value = parseNumber(text, minimum, maximum);
  if (!value) {
    throw UsageError{std::string(what) + " must be a number from " + rangeText(minimum, maximum) +
                     " (decimal, or hexadecimal with 0x), not '" + std::string(text) + "'"};
  }
  return static_cast<uint32_t>(*value);
}

double fractionArgument(std::string_view text, std::string_view what, double minimum, double maximum) {
  const std::optional<double> value = parseFraction(text, minimum, maximum);
  if (!value) {
    throw UsageError{std::string(what) + " must be a decimal number from " + platform::formatText("%g", minimum) +
                     " to " + platform::formatText("%g", maximum) + ", not '" + std::string(text) + "'"};
  }
  return *value;
}

}  // namespace tool
