#include "platform/format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "platform/text.h"

namespace platform {

std::string_view FormatArgument::narrowText() const {
  return narrowPointer_ != nullptr ? std::string_view(narrowPointer_) : narrow_;
}

std::u16string_view FormatArgument::wideText() const {
  return widePointer_ != nullptr ? std::u16string_view(widePointer_, wideLength(widePointer_)) : wide_;
}

namespace {

constexpr int kMaxFloatingPrecision = 500;
constexpr std::string_view kNullText = "(null)";

enum class Length { Default, Char, Short, Long, LongLong, Size, Int32 };

struct Conversion {
  bool leftAlign = false;
  bool plusSign = false;
  bool spaceSign = false;
  bool alternate = false;
  bool zeroPad = false;
  int width = 0;
  int precision = -1;  // -1: none given
  Length length = Length::Default;
  char type = '\0';  // '\0' for a character outside ASCII
};

int integerWidthInBits(Length length) {
  switch (length) {
    case Length::Char: return 8;
    case Length::Short: return 16;
    case Length::LongLong: return 64;
    case Length::Size: return static_cast<int>(sizeof(size_t) * CHAR_BIT);
    default: return 32;
  }
}

bool isInteger(const FormatArgument* argument) {
  return argument != nullptr && (argument->kind() == FormatArgument::Kind::Signed ||
                                 argument->kind() == FormatArgument::Kind::Unsigned);
}

std::string toDigits(uint64_t value, int base, bool upperCase) {
  const char* digitSet = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string digits;
  do {
    digits.push_back(digitSet[value % base]);
    value /= base;
  } while (value != 0);
  std::reverse(digits.begin(), digits.end());
  return digits;
}

std::string toChars(double magnitude, std::chars_format style, int precision) {
  std::array<char, 1024> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, style, precision);
  return std::string(buffer.data(), result.ptr);
}

// %#g: like %g, but trailing zeros stay.
std::string generalKeepingZeros(double magnitude, int precision) {
  const int significant = precision == 0 ? 1 : precision;
  const std::string scientific = toChars(magnitude, std::chars_format::scientific, significant - 1);
  const int exponent = std::atoi(scientific.c_str() + scientific.find('e') + 1);
  if (exponent >= -4 && exponent < significant) {
    return toChars(magnitude, std::chars_format::fixed, significant - 1 - exponent);
  }
  return scientific;
}

// The digits of a non-negative floating value for %f, %e or %g (any case).
std::string floatingDigits(double magnitude, const Conversion& conversion) {
  const char lowerType = static_cast<char>(conversion.type | 0x20);
  const int precision = conversion.precision < 0 ? 6 : std::min(conversion.precision, kMaxFloatingPrecision);
  const bool finite = std::isfinite(magnitude);
  std::string digits;
  if (lowerType == 'f') {
    digits = toChars(magnitude, std::chars_format::fixed, precision);
  } else if (lowerType == 'e') {
    digits = toChars(magnitude, std::chars_format::scientific, precision);
  } else if (conversion.alternate && finite) {
    digits = generalKeepingZeros(magnitude, precision);
  } else {
    digits = toChars(magnitude, std::chars_format::general, precision);
  }
  if (conversion.alternate && finite && digits.find('.') == std::string::npos) {
    const size_t exponent = digits.find('e');
    digits.insert(exponent == std::string::npos ? digits.size() : exponent, 1, '.');
  }
  if (lowerType != conversion.type) {
    for (char& c : digits) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return digits;
}

template <typename CharT>
std::basic_string<CharT> fromAscii(std::string_view ascii) {
  return std::basic_string<CharT>(ascii.begin(), ascii.end());
}

template <typename CharT>
std::basic_string<CharT> fromNarrow(std::string_view utf8) {
  if constexpr (std::is_same_v<CharT, char>) {
    return std::string(utf8);
  } else {
    return toWide(utf8);
  }
}

template <typename CharT>
std::basic_string<CharT> fromWide(std::u16string_view wide) {
  if constexpr (std::is_same_v<CharT, char16_t>) {
    return std::u16string(wide);
  } else {
    return toUtf8(wide);
  }
}

// Collects the output, keeping at most `limit` characters.
template <typename CharT>
class Output {
 public:
  explicit Output(size_t limit) : limit_(limit) {}

  void append(std::basic_string_view<CharT> text) {
    const size_t room = limit_ - text_.size();
    if (text.size() > room) {
      truncated_ = true;
      text = text.substr(0, room);
    }
    text_.append(text);
  }

  void append(size_t count, CharT character) {
    const size_t room = limit_ - text_.size();
    if (count > room) {
      truncated_ = true;
      count = room;
    }
    text_.append(count, character);
  }

  bool truncated() const { return truncated_; }
  const std::basic_string<CharT>& text() const { return text_; }

 private:
  size_t limit_;
  bool truncated_ = false;
  std::basic_string<CharT> text_;
};

template <typename CharT>
class Formatter {
 public:
  using View = std::basic_string_view<CharT>;

  Formatter(View format, FormatArguments arguments, size_t limit)
      : format_(format), arguments_(arguments), output_(limit) {}

  const Output<CharT>& run() {
    size_t position = 0;
    while (position < format_.size() && !output_.truncated()) {
      const size_t percent = format_.find(CharT('%'), position);
      if (percent == View::npos) {
        output_.append(format_.substr(position));
        break;
      }
      output_.append(format_.substr(position, percent - position));
      position = percent + 1;
      Conversion conversion;
      if (!parseConversion(position, conversion)) {
        output_.append(format_.substr(percent));
        break;
      }
      convert(conversion, format_.substr(percent, position - percent));
    }
    return output_;
  }

 private:
  static bool isDigit(CharT c) { return c >= CharT('0') && c <= CharT('9'); }

  const FormatArgument* nextArgument() {
    if (nextArgument_ >= arguments_.size()) return nullptr;
    return &arguments_[nextArgument_++];
  }

  // The value of a '*' argument as the runtime reads it (an int); false when
  // the argument is missing or not an integer.
  bool starArgument(int& value) {
    const FormatArgument* argument = nextArgument();
    if (!isInteger(argument)) return false;
    value = static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(argument->integerBits())));
    return true;
  }

  int parseNumber(size_t& position) const {
    int value = 0;
    while (position < format_.size() && isDigit(format_[position])) {
      const int digit = format_[position++] - CharT('0');
      value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
    }
    return value;
  }

  bool startsWith(size_t position, std::string_view text) const {
    if (format_.size() - position < text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
      if (format_[position + i] != CharT(text[i])) return false;
    }
    return true;
  }

  void parseFlags(size_t& position, Conversion& conversion) const {
    for (; position < format_.size(); ++position) {
      switch (format_[position]) {
        case CharT('-'): conversion.leftAlign = true; break;
        case CharT('+'): conversion.plusSign = true; break;
        case CharT(' '): conversion.spaceSign = true; break;
        case CharT('#'): conversion.alternate = true; break;
        case CharT('0'): conversion.zeroPad = true; break;
        default: return;
      }
    }
  }

  void parseWidth(size_t& position, Conversion& conversion) {
    if (position < format_.size() && format_[position] == CharT('*')) {
      ++position;
      int width = 0;
      if (!starArgument(width)) return;
      if (width < 0) {
        conversion.leftAlign = true;
        width = width == INT_MIN ? INT_MAX : -width;
      }
      conversion.width = width;
    } else {
      conversion.width = parseNumber(position);
    }
  }

  void parsePrecision(size_t& position, Conversion& conversion) {
    if (position >= format_.size() || format_[position] != CharT('.')) return;
    ++position;
    if (position < format_.size() && format_[position] == CharT('*')) {
      ++position;
      int precision = -1;
      if (starArgument(precision)) conversion.precision = precision < 0 ? -1 : precision;
    } else {
      conversion.precision = parseNumber(position);
    }
  }

  void parseLength(size_t& position, Conversion& conversion) const {
    struct Modifier {
      std::string_view text;
      Length length;
    };
    // Longer spellings first so that "hh" is not read as "h".
    static constexpr std::array<Modifier, 12> kModifiers{{
        {"I64", Length::LongLong}, {"I32", Length::Int32}, {"hh", Length::Char}, {"ll", Length::LongLong},
        {"h", Length::Short}, {"l", Length::Long}, {"w", Length::Long}, {"I", Length::Size},
        {"z", Length::Size}, {"t", Length::Size}, {"j", Length::LongLong}, {"L", Length::Default},
    }};
    for (const Modifier& modifier : kModifiers) {
      if (startsWith(position, modifier.text)) {
        position += modifier.text.size();
        conversion.length = modifier.length;
        return;
      }
    }
  }

  // Reads flags, width, precision, length and type after a '%'. False when
  // the format ends first.
  bool parseConversion(size_t& position, Conversion& conversion) {
    parseFlags(position, conversion);
    parseWidth(position, conversion);
    parsePrecision(position, conversion);
    parseLength(position, conversion);
    if (position >= format_.size()) return false;
    const auto type = static_cast<std::make_unsigned_t<CharT>>(format_[position++]);
    conversion.type = type < 0x80 ? static_cast<char>(type) : '\0';
    return true;
  }

  void convert(const Conversion& conversion, View written) {
    switch (conversion.type) {
      case '%': output_.append(1, CharT('%')); break;
      case 'd': case 'i': case 'u': case 'o': case 'x': case 'X':
        formatInteger(conversion, nextArgument());
        break;
      case 'c': case 'C': formatCharacter(conversion, nextArgument()); break;
      case 's': case 'S': formatString(conversion, nextArgument()); break;
      case 'p': formatPointer(conversion, nextArgument()); break;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G':
        formatFloating(conversion, nextArgument());
        break;
      case 'n': nextArgument(); break;
      default: output_.append(written); break;
    }
  }

  // Writes prefix, `zeros` zero digits and body within the field width.
  void emitField(const Conversion& conversion, std::string_view prefix, size_t zeros, View body, bool zeroFill) {
    const size_t used = prefix.size() + zeros + body.size();
    const size_t width = static_cast<size_t>(conversion.width);
    const size_t fill = width > used ? width - used : 0;
    if (conversion.leftAlign) {
      output_.append(fromAscii<CharT>(prefix));
      output_.append(zeros, CharT('0'));
      output_.append(body);
      output_.append(fill, CharT(' '));
    } else if (zeroFill) {
      output_.append(fromAscii<CharT>(prefix));
      output_.append(zeros + fill, CharT('0'));
      output_.append(body);
    } else {
      output_.append(fill, CharT(' '));
      output_.append(fromAscii<CharT>(prefix));
      output_.append(zeros, CharT('0'));
      output_.append(body);
    }
  }

  void formatInteger(const Conversion& conversion, const FormatArgument* argument) {
    if (!isInteger(argument)) return;
    const int bits = integerWidthInBits(conversion.length);
    uint64_t value = argument->integerBits();
    if (bits < 64) value &= (uint64_t{1} << bits) - 1;

    std::string_view prefix;
    const bool isSigned = conversion.type == 'd' || conversion.type == 'i';
    if (isSigned) {
      if (bits < 64 && ((value >> (bits - 1)) & 1) != 0) value |= ~uint64_t{0} << bits;
      if (static_cast<int64_t>(value) < 0) {
        value = 0 - value;
        prefix = "-";
      } else if (conversion.plusSign) {
        prefix = "+";
      } else if (conversion.spaceSign) {
        prefix = " ";
      }
    }

    const bool hex = conversion.type == 'x' || conversion.type == 'X';
    const int base = hex ? 16 : conversion.type == 'o' ? 8 : 10;
    std::string digits = toDigits(value, base, conversion.type == 'X');
    if (conversion.precision == 0 && value == 0) digits.clear();
    size_t zeros = 0;
    if (conversion.precision > 0 && static_cast<size_t>(conversion.precision) > digits.size()) {
      zeros = static_cast<size_t>(conversion.precision) - digits.size();
    }
    if (conversion.alternate && conversion.type == 'o' && zeros == 0 && (digits.empty() || digits[0] != '0')) {
      zeros = 1;
    }
    if (conversion.alternate && hex && value != 0) prefix = conversion.type == 'X' ? "0X" : "0x";

    const bool zeroFill = conversion.zeroPad && conversion.precision < 0;
    emitField(conversion, prefix, zeros, fromAscii<CharT>(digits), zeroFill);
  }

  // Whether %s / %c of this conversion takes wide text.
  bool takesWideText(const Conversion& conversion) const {
    if (conversion.length == Length::Short || conversion.length == Length::Char) return false;
    if (conversion.length == Length::Long) return true;
    const bool upperCase = conversion.type == 'S' || conversion.type == 'C';
    const bool wideOutput = std::is_same_v<CharT, char16_t>;
    return upperCase != wideOutput;
  }

  void formatCharacter(const Conversion& conversion, const FormatArgument* argument) {
    if (!isInteger(argument)) return;
    const uint64_t value = argument->integerBits();
    std::basic_string<CharT> character;
    if (takesWideText(conversion)) {
      character = fromWide<CharT>(std::u16string(1, static_cast<char16_t>(value)));
    } else {
      character = fromNarrow<CharT>(std::string(1, static_cast<char>(value)));
    }
    emitField(conversion, "", 0, character, false);
  }

  void formatString(const Conversion& conversion, const FormatArgument* argument) {
    if (argument == nullptr) return;
    const bool wide = takesWideText(conversion);
    const auto expectedKind = wide ? FormatArgument::Kind::WideText : FormatArgument::Kind::NarrowText;
    const bool nullPointer = argument->kind() == FormatArgument::Kind::Pointer && argument->address() == 0;
    std::basic_string<CharT> text;
    if (nullPointer || (argument->kind() == expectedKind && argument->isNullText())) {
      text = fromAscii<CharT>(kNullText);
    } else if (argument->kind() != expectedKind) {
      return;
    } else if (wide) {
      text = fromWide<CharT>(argument->wideText());
    } else {
      text = fromNarrow<CharT>(argument->narrowText());
    }
    if (conversion.precision >= 0 && text.size() > static_cast<size_t>(conversion.precision)) {
      text.resize(static_cast<size_t>(conversion.precision));
    }
    emitField(conversion, "", 0, text, false);
  }

  void formatPointer(const Conversion& conversion, const FormatArgument* argument) {
    if (argument == nullptr || argument->kind() == FormatArgument::Kind::Signed ||
        argument->kind() == FormatArgument::Kind::Unsigned || argument->kind() == FormatArgument::Kind::Floating) {
      return;
    }
    std::string digits = toDigits(argument->address(), 16, true);
    const size_t fullWidth = sizeof(void*) * 2;
    if (digits.size() < fullWidth) digits.insert(0, fullWidth - digits.size(), '0');
    emitField(conversion, "", 0, fromAscii<CharT>(digits), false);
  }

  void formatFloating(const Conversion& conversion, const FormatArgument* argument) {
    if (argument == nullptr || argument->kind() != FormatArgument::Kind::Floating) return;
    const double value = argument->floating();
    std::string body = floatingDigits(std::fabs(value), conversion);
    std::string_view prefix;
    if (std::signbit(value)) {
      prefix = "-";
    } else if (conversion.plusSign) {
      prefix = "+";
    } else if (conversion.spaceSign) {
      prefix = " ";
    }
    const bool finite = std::isfinite(value);
    emitField(conversion, prefix, 0, fromAscii<CharT>(body), conversion.zeroPad && finite);
  }

  View format_;
  FormatArguments arguments_;
  size_t nextArgument_ = 0;
  Output<CharT> output_;
};

template <typename CharT>
int formatBounded(CharT* dest, size_t capacity, std::basic_string_view<CharT> format, FormatArguments arguments) {
  if (dest == nullptr) capacity = 0;
  const size_t limit = capacity > 0 ? capacity - 1 : 0;
  Formatter<CharT> formatter(format, arguments, limit);
  const Output<CharT>& output = formatter.run();
  const std::basic_string<CharT>& text = output.text();
  if (capacity > 0) {
    std::copy(text.begin(), text.end(), dest);
    dest[text.size()] = CharT('\0');
  }
  if (output.truncated() || text.size() > static_cast<size_t>(INT_MAX)) return -1;
  return static_cast<int>(text.size());
}

template <typename CharT>
std::basic_string<CharT> formatUnbounded(std::basic_string_view<CharT> format, FormatArguments arguments) {
  Formatter<CharT> formatter(format, arguments, std::basic_string<CharT>::npos);
  return formatter.run().text();
}

}  // namespace

int formatTextList(char16_t* dest, size_t capacity, std::u16string_view format, FormatArguments arguments) {
  return formatBounded(dest, capacity, format, arguments);
}

int formatTextList(char* dest, size_t capacity, std::string_view format, FormatArguments arguments) {
  return formatBounded(dest, capacity, format, arguments);
}

std::u16string formatTextList(std::u16string_view format, FormatArguments arguments) {
  return formatUnbounded(format, arguments);
}

std::string formatTextList(std::string_view format, FormatArguments arguments) {
  return formatUnbounded(format, arguments);
}

}  // namespace platform
