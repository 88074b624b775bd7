#include "platform/text.h"

namespace platform {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

constexpr char32_t kMalformed = 0xFFFFFFFF;

// Decodes one code point starting at text[i]; advances i past it. kMalformed
// for a malformed sequence.
char32_t decodeUtf8Strict(std::string_view text, size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int extra = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return kMalformed;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size()) return kMalformed;
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) return kMalformed;
    cp = (cp << 6) | (next & 0x3F);
    ++i;
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kMalformed;
  return cp;
}

char32_t decodeUtf8(std::string_view text, size_t& i) {
  const char32_t cp = decodeUtf8Strict(text, i);
  return cp == kMalformed ? kReplacement : cp;
}
}  // namespace

size_t invalidUtf8Offset(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    if (decodeUtf8Strict(text, i) == kMalformed) return start;
  }
  return std::string_view::npos;
}

std::u16string toWide(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) appendUtf16(out, decodeUtf8(utf8, i));
  return out;
}

std::string toUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    appendUtf8(out, cp);
  }
  return out;
}

size_t wideLength(const char16_t* text) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}

size_t wideLength(const char16_t* text, size_t capacity) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (n < capacity && text[n] != u'\0') ++n;
  return n;
}

std::u16string foldCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    const bool asciiUpper = c >= u'A' && c <= u'Z';
    const bool latin1Upper = c >= 0xC0 && c <= 0xDE && c != 0xD7;
    if (asciiUpper || latin1Upper) c = static_cast<char16_t>(c + 0x20);
  }
  return out;
}

}  // namespace platform
