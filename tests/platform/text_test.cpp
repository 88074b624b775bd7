#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.h"

using platform::foldCase;
using platform::toUtf8;
using platform::toWide;

namespace {

// Readable form of wide text for failure messages.
std::string codeUnits(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X ", static_cast<unsigned>(unit));
    out += hex;
  }
  return out;
}

}  // namespace

TEST(Text, WellFormedTextSurvivesTheRoundTrip) {
  struct Case {
    std::string utf8;
    std::u16string wide;
  };
  const std::vector<Case> cases = {
      {"", u""},
      {"QUINTOR IN 01", u"QUINTOR IN 01"},
      {"Gr\xC3\xBC\xC3\x9F" "e", u"Gr\u00FC\u00DFe"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xE4\xB8\x80", u"\u4E00"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x9F\x8E\xB5", u"\U0001F3B5"},           // needs a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},           // highest code point
      {"\xF0\x90\x80\x80", u"\U00010000"},           // lowest code point above 16 bits
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(codeUnits(toWide(c.utf8)), codeUnits(c.wide)) << c.utf8;
    EXPECT_EQ(toUtf8(c.wide), c.utf8) << codeUnits(c.wide);
  }
}

TEST(Text, SurrogatePairIsTwoUnits) {
  const std::u16string wide = toWide("\xF0\x9F\x8E\xB5");
  ASSERT_EQ(wide.size(), 2u);
  EXPECT_EQ(wide[0], 0xD83C);
  EXPECT_EQ(wide[1], 0xDFB5);
}

TEST(Text, MalformedUtf8BecomesReplacementCharacters) {
  struct Case {
    const char* what;
    std::string utf8;
    std::u16string wide;
  };
  const std::vector<Case> cases = {
      {"lone continuation byte", "a\x80" "b", u"a\uFFFDb"},
      {"invalid lead byte", "a\xFF" "b", u"a\uFFFDb"},
      {"five-byte lead", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"sequence cut by end", "a\xE2\x82", u"a\uFFFD"},
      {"sequence cut by ASCII", "\xE2\x82" "A", u"\uFFFDA"},
      {"lead without continuation", "\xC3(", u"\uFFFD("},
      {"overlong slash", "\xC0\xAF", u"\uFFFD"},
      {"overlong three bytes", "\xE0\x80\xAF", u"\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(codeUnits(toWide(c.utf8)), codeUnits(c.wide)) << c.what;
  }
}

TEST(Text, UnpairedSurrogatesBecomeReplacementCharacters) {
  struct Case {
    const char* what;
    std::u16string wide;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"high at the end", u"a\xD83C", "a\xEF\xBF\xBD"},
      {"high before ASCII", u"\xD83C" "b", "\xEF\xBF\xBD" "b"},
      {"lone low", u"a\xDFB5" "b", "a\xEF\xBF\xBD" "b"},
      {"low before high", u"\xDFB5\xD83C", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"two highs then a low", u"\xD83C\xD83C\xDFB5", "\xEF\xBF\xBD\xF0\x9F\x8E\xB5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toUtf8(c.wide), c.utf8) << c.what;
  }
}

TEST(Text, WideLengthStopsAtTerminatorOrCapacity) {
  const char16_t text[] = u"abc";
  EXPECT_EQ(platform::wideLength(text), 3u);
  EXPECT_EQ(platform::wideLength(nullptr), 0u);
  EXPECT_EQ(platform::wideLength(text, 2), 2u);
  EXPECT_EQ(platform::wideLength(text, 10), 3u);
  EXPECT_EQ(platform::wideLength(nullptr, 10), 0u);
  const char16_t unterminated[2] = {u'x', u'y'};
  EXPECT_EQ(platform::wideLength(unterminated, 2), 2u);
}

TEST(Text, FoldCaseLowersAsciiAndLatin1Letters) {
  struct Case {
    std::u16string input;
    std::u16string folded;
  };
  const std::vector<Case> cases = {
      {u"Software\\TARNVALE\\Quintor", u"software\\tarnvale\\quintor"},
      {u"@[`{", u"@[`{"},                              // neighbours of the letter ranges
      {u"\u00C0\u00C9\u00DE", u"\u00E0\u00E9\u00FE"},  // Latin-1 capitals
      {u"\u00D7", u"\u00D7"},                          // multiplication sign is no letter
      {u"\u00DF\u00E0", u"\u00DF\u00E0"},              // already lower case
      {u"\u0100\u0391", u"\u0100\u0391"},              // beyond Latin-1 stays as it is
  };
  for (const Case& c : cases) {
    EXPECT_EQ(codeUnits(foldCase(c.input)), codeUnits(c.folded)) << toUtf8(c.input);
  }
  EXPECT_EQ(foldCase(u"MIDI IN Port 1"), foldCase(u"midi in PORT 1"));
}

TEST(Text, MalformedUtf8IsFoundWhereItStarts) {
  struct Case {
    std::string text;
    size_t offset;
  };
  const Case cases[] = {
      {"plain", std::string::npos},
      {"caf\xC3\xA9 \xF0\x9F\x8E\xB5", std::string::npos},
      {"caf\xE9", 3},                 // a Latin-1 byte
      {"ab\xC0\xAF", 2},              // an overlong '/'
      {"x\xED\xA0\x80", 1},           // a UTF-16 surrogate
      {"\xF4\x90\x80\x80", 0},        // beyond U+10FFFF
      {"ok\xE2\x82", 2},              // cut short
      {"\xEF\xBF\xBD", std::string::npos},  // U+FFFD itself is text
  };
  for (const Case& c : cases) EXPECT_EQ(platform::invalidUtf8Offset(c.text), c.offset) << c.text;
}
