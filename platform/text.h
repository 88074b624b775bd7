#pragma once
// Wide text: records carry zero-terminated 16-bit text (char16_t, UTF-16).
// Conversions to and from UTF-8 happen at the edges of the system.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 to UTF-16. Malformed sequences become U+FFFD.
std::u16string toWide(std::string_view utf8);

// The byte offset of the first malformed UTF-8 sequence (overlong forms and
// surrogates included), or npos when the text is well-formed.
size_t invalidUtf8Offset(std::string_view text);

// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view wide);

// Length of a zero-terminated wide text (0 for a null pointer).
size_t wideLength(const char16_t* text);

// Length of a zero-terminated wide text, reading at most `capacity` units.
size_t wideLength(const char16_t* text, size_t capacity);

// The text with ASCII and Latin-1 capitals folded to small letters, for
// case-insensitive comparison of registry and object names.
std::u16string foldCase(std::u16string_view text);

}  // namespace platform
