#pragma once
// printf-style formatting into bounded buffers, wide (UTF-16) and narrow
// (UTF-8), without C varargs: every argument is captured in a FormatArgument
// and the format is interpreted against that list.
//
// Conversions: %d %i %u %x %X %o %c %s %p %f %F %e %E %g %G %%, flags
// '-' '0' '+' ' ' '#', width and precision (digits or '*' from an integer
// argument; a negative '*' width means left-justified, a negative '*'
// precision means none), length modifiers hh h l ll I64 I32 I z.
//
// Integers are cut to the width the length modifier names, as the Windows
// runtime reads them: no modifier and l read 32 bits, h 16, hh 8,
// ll and I64 64, z and I the size of size_t. So %hu of 70000 prints 4464
// and %u of a 64-bit value prints its low 32 bits.
//
// Text follows the Windows runtime: in a wide format %s, %ls and %ws take
// wide text and %hs and %S narrow text; in a narrow format %s and %hs take
// narrow text and %ls, %ws and %S wide text. %c, %hc, %lc and %C choose
// between narrow and wide characters the same way. Narrow text is UTF-8 and
// is converted when it meets wide output and the other way round. A string
// precision counts output code units. A null text pointer prints "(null)".
//
// Floating values: %f %e %g default to precision 6; precision is capped at
// 500 digits. Infinity and NaN print as inf and nan (INF, NAN for %F %E %G).
//
// %p prints the address as upper-case hex digits, two per byte of a pointer.
//
// Argument problems never crash and never read past the list: a conversion
// whose argument is missing or of the wrong kind (an integer for %s, text
// for %d, a pointer for %f, ...) prints nothing, not even padding, and still
// consumes its argument if there is one. Extra arguments are ignored. %n
// writes nothing and prints nothing. An unknown conversion or a format that
// ends inside a conversion is copied to the output as written. An argument
// of a type that cannot be formatted does not compile.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace platform {

class FormatArgument {
 public:
  enum class Kind { Signed, Unsigned, Floating, Pointer, NarrowText, WideText };

  template <typename T>
  explicit FormatArgument(const T& value) {
    capture(value);
  }

  Kind kind() const { return kind_; }
  // Signed and unsigned integers: the value's bits, sign-extended to 64.
  uint64_t integerBits() const { return integer_; }
  double floating() const { return floating_; }
  // Pointers and text: the address.
  uintptr_t address() const { return address_; }
  bool isNullText() const { return nullText_; }
  // Text given by pointer is measured here, when a conversion reads it, so
  // that %p of a char pointer never reads the memory it points to.
  std::string_view narrowText() const;
  std::u16string_view wideText() const;

 private:
  template <typename T>
  void capture(const T& value) {
    using Value = std::remove_cv_t<T>;
    if constexpr (std::is_array_v<Value>) {
      capture(static_cast<const std::remove_extent_t<Value>*>(value));
    } else if constexpr (std::is_same_v<Value, bool>) {
      setUnsigned(value ? 1 : 0);
    } else if constexpr (std::is_same_v<Value, char>) {
      setUnsigned(static_cast<unsigned char>(value));
    } else if constexpr (std::is_enum_v<Value>) {
      capture(static_cast<std::underlying_type_t<Value>>(value));
    } else if constexpr (std::is_integral_v<Value> && std::is_signed_v<Value>) {
      kind_ = Kind::Signed;
      integer_ = static_cast<uint64_t>(static_cast<int64_t>(value));
    } else if constexpr (std::is_integral_v<Value>) {
      setUnsigned(static_cast<uint64_t>(value));
    } else if constexpr (std::is_floating_point_v<Value>) {
      kind_ = Kind::Floating;
      floating_ = static_cast<double>(value);
    } else if constexpr (std::is_same_v<Value, std::nullptr_t>) {
      kind_ = Kind::Pointer;
    } else if constexpr (std::is_convertible_v<Value, const char*>) {
      kind_ = Kind::NarrowText;
      narrowPointer_ = value;
      address_ = reinterpret_cast<uintptr_t>(narrowPointer_);
      nullText_ = narrowPointer_ == nullptr;
    } else if constexpr (std::is_convertible_v<Value, const char16_t*>) {
      kind_ = Kind::WideText;
      widePointer_ = value;
      address_ = reinterpret_cast<uintptr_t>(widePointer_);
      nullText_ = widePointer_ == nullptr;
    } else if constexpr (std::is_convertible_v<const Value&, std::string_view>) {
      kind_ = Kind::NarrowText;
      narrow_ = std::string_view(value);
      address_ = reinterpret_cast<uintptr_t>(narrow_.data());
    } else if constexpr (std::is_convertible_v<const Value&, std::u16string_view>) {
      kind_ = Kind::WideText;
      wide_ = std::u16string_view(value);
      address_ = reinterpret_cast<uintptr_t>(wide_.data());
    } else if constexpr (std::is_pointer_v<Value>) {
      kind_ = Kind::Pointer;
      address_ = reinterpret_cast<uintptr_t>(value);
    } else {
      static_assert(std::is_pointer_v<Value>, "type cannot be formatted");
    }
  }

  void setUnsigned(uint64_t value) {
    kind_ = Kind::Unsigned;
    integer_ = value;
  }

  Kind kind_ = Kind::Pointer;
  uint64_t integer_ = 0;
  double floating_ = 0.0;
  uintptr_t address_ = 0;
  bool nullText_ = false;
  const char* narrowPointer_ = nullptr;
  const char16_t* widePointer_ = nullptr;
  std::string_view narrow_;
  std::u16string_view wide_;
};

using FormatArguments = std::span<const FormatArgument>;

// Formats into dest. Writes at most capacity - 1 characters and always a
// terminator when capacity > 0 (a null dest counts as capacity 0). Returns
// the number of characters written without the terminator, or -1 when the
// output did not fit (it is then truncated); with capacity 0 nothing is
// written and the result is 0 for an empty output, else -1.
int formatTextList(char16_t* dest, size_t capacity, std::u16string_view format, FormatArguments arguments);
int formatTextList(char* dest, size_t capacity, std::string_view format, FormatArguments arguments);

std::u16string formatTextList(std::u16string_view format, FormatArguments arguments);
std::string formatTextList(std::string_view format, FormatArguments arguments);

template <typename... Args>
int formatText(char16_t* dest, size_t capacity, std::u16string_view format, const Args&... args) {
  const std::array<FormatArgument, sizeof...(Args)> list{FormatArgument(args)...};
  return formatTextList(dest, capacity, format, list);
}

template <typename... Args>
int formatText(char* dest, size_t capacity, std::string_view format, const Args&... args) {
  const std::array<FormatArgument, sizeof...(Args)> list{FormatArgument(args)...};
  return formatTextList(dest, capacity, format, list);
}

// Unbounded versions. The format is a template parameter only so that a
// call with a writable buffer first always picks the bounded version above.
template <typename Format, typename... Args>
  requires std::is_convertible_v<Format, std::u16string_view> && (!std::is_convertible_v<Format, char16_t*>)
std::u16string formatText(Format&& format, const Args&... args) {
  const std::array<FormatArgument, sizeof...(Args)> list{FormatArgument(args)...};
  return formatTextList(std::u16string_view(format), list);
}

template <typename Format, typename... Args>
  requires std::is_convertible_v<Format, std::string_view> && (!std::is_convertible_v<Format, char*>)
std::string formatText(Format&& format, const Args&... args) {
  const std::array<FormatArgument, sizeof...(Args)> list{FormatArgument(args)...};
  return formatTextList(std::string_view(format), list);
}

}  // namespace platform
