#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/format.h"
#include "platform/text.h"

using platform::formatText;

namespace {

struct WideCase {
  const char16_t* format;
  std::u16string actual;
  std::u16string expected;
};

struct NarrowCase {
  const char* format;
  std::string actual;
  std::string expected;
};

void expectAll(const std::vector<WideCase>& cases) {
  for (const WideCase& c : cases) {
    EXPECT_EQ(platform::toUtf8(c.actual), platform::toUtf8(c.expected)) << "format: " << platform::toUtf8(c.format);
  }
}

void expectAll(const std::vector<NarrowCase>& cases) {
  for (const NarrowCase& c : cases) {
    EXPECT_EQ(c.actual, c.expected) << "format: " << c.format;
  }
}

enum class Status : uint32_t { Failed = 0xE0000001 };

}  // namespace

TEST(FormatText, FormatsTheProgramsTexts) {
  expectAll(std::vector<WideCase>{
      {u"%s (Status=%hs).", formatText(u"%s (Status=%hs).", u"Cannot start", "ORVANE_STATUS_FAILED"),
       u"Cannot start (Status=ORVANE_STATUS_FAILED)."},
      {u"%u.%03u kHz", formatText(u"%u.%03u kHz", 44u, 100u), u"44.100 kHz"},
      {u"%u.%03u kHz", formatText(u"%u.%03u kHz", 44u, 1u), u"44.001 kHz"},
      {u"0x%08X", formatText(u"0x%08X", 0xE0000001u), u"0xE0000001"},
      {u"0x%08X", formatText(u"0x%08X", 0x1Fu), u"0x0000001F"},
      {u"0x%08X", formatText(u"0x%08X", Status::Failed), u"0xE0000001"},
      {u"%s%u.%02u%%", formatText(u"%s%u.%02u%%", u"", 100u, 0u), u"100.00%"},
      {u"%s%u.%02u%%", formatText(u"%s%u.%02u%%", u"-", 0u, 5u), u"-0.05%"},
      {u"Channel %02u/%02u", formatText(u"Channel %02u/%02u", 3u, 12u), u"Channel 03/12"},
      {u"%2u", formatText(u"%2u", 7u), u" 7"},
      {u"%2u", formatText(u"%2u", 123u), u"123"},
      {u"%u.%1u millisecs\n%u samples", formatText(u"%u.%1u millisecs\n%u samples", 5u, 3u, 256u),
       u"5.3 millisecs\n256 samples"},
      {u"%s%d.%02d ppm", formatText(u"%s%d.%02d ppm", u"+", 12, 5), u"+12.05 ppm"},
  });
}

TEST(FormatText, Integers) {
  expectAll(std::vector<WideCase>{
      {u"%d", formatText(u"%d", -5), u"-5"},
      {u"%i", formatText(u"%i", 42), u"42"},
      {u"%d", formatText(u"%d", INT_MIN), u"-2147483648"},
      {u"%+d", formatText(u"%+d", 5), u"+5"},
      {u"%+d", formatText(u"%+d", -5), u"-5"},
      {u"% d", formatText(u"% d", 5), u" 5"},
      {u"%+u", formatText(u"%+u", 5u), u"5"},
      {u"%-5d|", formatText(u"%-5d|", 42), u"42   |"},
      {u"%-05d|", formatText(u"%-05d|", 42), u"42   |"},
      {u"%05d", formatText(u"%05d", -42), u"-0042"},
      {u"%+05d", formatText(u"%+05d", 42), u"+0042"},
      {u"%.3d", formatText(u"%.3d", 7), u"007"},
      {u"%.3d", formatText(u"%.3d", -7), u"-007"},
      {u"%5.3d", formatText(u"%5.3d", 7), u"  007"},
      {u"%05.3d", formatText(u"%05.3d", 7), u"  007"},
      {u"[%.0d]", formatText(u"[%.0d]", 0), u"[]"},
      {u"[%.d]", formatText(u"[%.d]", 0), u"[]"},
      {u"%x", formatText(u"%x", 255), u"ff"},
      {u"%X", formatText(u"%X", 255), u"FF"},
      {u"%#x", formatText(u"%#x", 255), u"0xff"},
      {u"%#X", formatText(u"%#X", 255), u"0XFF"},
      {u"%#x", formatText(u"%#x", 0), u"0"},
      {u"%#010x", formatText(u"%#010x", 255), u"0x000000ff"},
      {u"%o", formatText(u"%o", 8), u"10"},
      {u"%#o", formatText(u"%#o", 8), u"010"},
      {u"%#o", formatText(u"%#o", 0), u"0"},
      {u"%#.0o", formatText(u"%#.0o", 0), u"0"},
      {u"%c", formatText(u"%c", 'A'), u"A"},
      {u"%d", formatText(u"%d", true), u"1"},
      {u"%d", formatText(u"%d", static_cast<short>(-3)), u"-3"},
      {u"%u", formatText(u"%u", static_cast<unsigned char>(200)), u"200"},
  });
}

TEST(FormatText, LengthModifiersCutTheValueToTheirWidth) {
  expectAll(std::vector<WideCase>{
      {u"%hu", formatText(u"%hu", 70000), u"4464"},
      {u"%hd", formatText(u"%hd", 65535), u"-1"},
      {u"%hhu", formatText(u"%hhu", 300), u"44"},
      {u"%hhd", formatText(u"%hhd", 200), u"-56"},
      {u"%hx", formatText(u"%hx", 0x12345678u), u"5678"},
      {u"%u", formatText(u"%u", -1), u"4294967295"},
      {u"%d", formatText(u"%d", 0xFFFFFFFFu), u"-1"},
      {u"%u", formatText(u"%u", uint64_t{5000000000}), u"705032704"},
      {u"%lu", formatText(u"%lu", uint64_t{5000000000}), u"705032704"},
      {u"%lx", formatText(u"%lx", 0xDEADBEEFu), u"deadbeef"},
      {u"%llu", formatText(u"%llu", std::numeric_limits<uint64_t>::max()), u"18446744073709551615"},
      {u"%lld", formatText(u"%lld", -1LL), u"-1"},
      {u"%I64d", formatText(u"%I64d", std::numeric_limits<int64_t>::min()), u"-9223372036854775808"},
      {u"%I64X", formatText(u"%I64X", uint64_t{0x123456789ABCDEF0}), u"123456789ABCDEF0"},
      {u"%I64u", formatText(u"%I64u", -1), u"18446744073709551615"},
      {u"%I32u", formatText(u"%I32u", uint64_t{5000000000}), u"705032704"},
      {u"%zu", formatText(u"%zu", size_t{1} << 40), u"1099511627776"},
  });
}

TEST(FormatText, WidthAndPrecisionFromArguments) {
  expectAll(std::vector<WideCase>{
      {u"%*d", formatText(u"%*d", 5, 42), u"   42"},
      {u"%-*d|", formatText(u"%-*d|", 4, 7), u"7   |"},
      {u"%*d|", formatText(u"%*d|", -4, 7), u"7   |"},
      {u"%.*d", formatText(u"%.*d", 3, 7), u"007"},
      {u"%.*d", formatText(u"%.*d", -1, 7), u"7"},
      {u"%*.*d", formatText(u"%*.*d", 6, 3, 7), u"   007"},
      {u"%.*s", formatText(u"%.*s", 2, u"abc"), u"ab"},
      {u"%*s", formatText(u"%*s", 4u, u"ab"), u"  ab"},
  });
}

TEST(FormatText, TextInWideFormats) {
  const char16_t* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  const std::u16string wideString = u"Gr\u00FC\u00DFe";
  const std::string narrowString = "Gr\xC3\xBC\xC3\x9F" "e";
  char16_t wideBuffer[8] = u"buf";
  expectAll(std::vector<WideCase>{
      {u"%s", formatText(u"%s", wideString), u"Gr\u00FC\u00DFe"},
      {u"%ls", formatText(u"%ls", std::u16string_view(u"view")), u"view"},
      {u"%ws", formatText(u"%ws", u"w"), u"w"},
      {u"%s", formatText(u"%s", wideBuffer), u"buf"},
      {u"%hs", formatText(u"%hs", narrowString), u"Gr\u00FC\u00DFe"},
      {u"%S", formatText(u"%S", "narrow"), u"narrow"},
      {u"%hs", formatText(u"%hs", "bad \xFF byte"), u"bad \uFFFD byte"},
      {u"%s", formatText(u"%s", nullWide), u"(null)"},
      {u"%hs", formatText(u"%hs", nullNarrow), u"(null)"},
      {u"%s", formatText(u"%s", nullptr), u"(null)"},
      {u"%10s|", formatText(u"%10s|", u"abc"), u"       abc|"},
      {u"%-10s|", formatText(u"%-10s|", u"abc"), u"abc       |"},
      {u"%010s|", formatText(u"%010s|", u"abc"), u"       abc|"},
      {u"%.2s", formatText(u"%.2s", u"abc"), u"ab"},
      {u"%.10s", formatText(u"%.10s", u"abc"), u"abc"},
      {u"%.0s|", formatText(u"%.0s|", u"abc"), u"|"},
      {u"%s", formatText(u"%s", u"\U0001F3B5"), u"\U0001F3B5"},
      {u"%c", formatText(u"%c", u'\u00E9'), u"\u00E9"},
      {u"%C", formatText(u"%C", 'A'), u"A"},
      {u"%hc", formatText(u"%hc", 'A'), u"A"},
      {u"%5c|", formatText(u"%5c|", u'x'), u"    x|"},
      {u"%-3c|", formatText(u"%-3c|", u'x'), u"x  |"},
  });
}

TEST(FormatText, TextInNarrowFormats) {
  const char* nullNarrow = nullptr;
  char narrowBuffer[8] = "buf";
  expectAll(std::vector<NarrowCase>{
      {"%u.%03u kHz", formatText("%u.%03u kHz", 44u, 100u), "44.100 kHz"},
      {"Channel %02u/%02u", formatText("Channel %02u/%02u", 1u, 2u), "Channel 01/02"},
      {"%s (%d)", formatText("%s (%d)", std::string("name"), 3), "name (3)"},
      {"%hs", formatText("%hs", std::string_view("view")), "view"},
      {"%s", formatText("%s", narrowBuffer), "buf"},
      {"%ls", formatText("%ls", u"Gr\u00FC\u00DFe"), "Gr\xC3\xBC\xC3\x9F" "e"},
      {"%S", formatText("%S", std::u16string(u"wide")), "wide"},
      {"%ls", formatText("%ls", u"\U0001F3B5"), "\xF0\x9F\x8E\xB5"},
      {"%ls", formatText("%ls", u"lone \xD800 high"), "lone \xEF\xBF\xBD high"},
      {"%s", formatText("%s", nullNarrow), "(null)"},
      {"%c", formatText("%c", 'z'), "z"},
      {"%C", formatText("%C", u'\u00E9'), "\xC3\xA9"},
      {"%lc", formatText("%lc", u'A'), "A"},
      {"ErrorEx = %lx\n", formatText("ErrorEx = %lx\n", 0x1Fu), "ErrorEx = 1f\n"},
      {"\\\\.\\%s", formatText("\\\\.\\%s", "pipe"), "\\\\.\\pipe"},
  });
}

TEST(FormatText, FloatingPoint) {
  expectAll(std::vector<NarrowCase>{
      {"%f", formatText("%f", 3.14159), "3.141590"},
      {"%.2f", formatText("%.2f", 2.5), "2.50"},
      {"%.0f", formatText("%.0f", 2.4), "2"},
      {"%#.0f", formatText("%#.0f", 3.0), "3."},
      {"%8.3f|", formatText("%8.3f|", 3.14159), "   3.142|"},
      {"%-8.3f|", formatText("%-8.3f|", 3.14159), "3.142   |"},
      {"%08.3f", formatText("%08.3f", -3.14159), "-003.142"},
      {"%+.1f", formatText("%+.1f", 2.0), "+2.0"},
      {"% .1f", formatText("% .1f", 2.0), " 2.0"},
      {"%f", formatText("%f", -0.0), "-0.000000"},
      {"%f", formatText("%f", 1.5f), "1.500000"},
      {"%e", formatText("%e", 12345.678), "1.234568e+04"},
      {"%E", formatText("%E", 12345.678), "1.234568E+04"},
      {"%.0e", formatText("%.0e", 5.0), "5e+00"},
      {"%#.0e", formatText("%#.0e", 5.0), "5.e+00"},
      {"%g", formatText("%g", 0.0001), "0.0001"},
      {"%g", formatText("%g", 1e-5), "1e-05"},
      {"%g", formatText("%g", 123456789.0), "1.23457e+08"},
      {"%G", formatText("%G", 1e-5), "1E-05"},
      {"%g", formatText("%g", 100.0), "100"},
      {"%.3g", formatText("%.3g", 3.14159), "3.14"},
      {"%#g", formatText("%#g", 100.0), "100.000"},
      {"%#.3g", formatText("%#.3g", 1e10), "1.00e+10"},
      {"%#.1g", formatText("%#.1g", 5.0), "5."},
      {"%f", formatText("%f", std::numeric_limits<double>::quiet_NaN()), "nan"},
      {"%f", formatText("%f", std::numeric_limits<double>::infinity()), "inf"},
      {"%05f", formatText("%05f", -std::numeric_limits<double>::infinity()), " -inf"},
      {"%F", formatText("%F", std::numeric_limits<double>::infinity()), "INF"},
  });
}

TEST(FormatText, PointersPrintAllHexDigits) {
  const std::string zeros(sizeof(void*) * 2 - 4, '0');
  const auto* pointer = reinterpret_cast<const void*>(uintptr_t{0xABCD});
  const auto* textPointer = reinterpret_cast<const char*>(uintptr_t{0x1234});
  expectAll(std::vector<NarrowCase>{
      {"%p", formatText("%p", pointer), zeros + "ABCD"},
      {"%p", formatText("%p", textPointer), zeros + "1234"},
      {"%p", formatText("%p", nullptr), zeros + "0000"},
      {"[%p]", formatText("[%p]", 5), "[]"},
  });
}

// A conversion whose argument is missing or of another kind prints nothing,
// not even its padding; the argument is still used up.
TEST(FormatText, MismatchedAndMissingArgumentsPrintNothing) {
  expectAll(std::vector<WideCase>{
      {u"[%d]", formatText(u"[%d]", u"text"), u"[]"},
      {u"[%s]", formatText(u"[%s]", 5), u"[]"},
      {u"[%s]", formatText(u"[%s]", "narrow text in a wide %s"), u"[]"},
      {u"[%hs]", formatText(u"[%hs]", u"wide text in %hs"), u"[]"},
      {u"[%f]", formatText(u"[%f]", 1), u"[]"},
      {u"[%d]", formatText(u"[%d]", 1.5), u"[]"},
      {u"[%c]", formatText(u"[%c]", u"c"), u"[]"},
      {u"[%5d]", formatText(u"[%5d]"), u"[]"},
      {u"%d %d", formatText(u"%d %d", 1), u"1 "},
      {u"%s|%d", formatText(u"%s|%d", 1, 2), u"|2"},
      {u"%d", formatText(u"%d", 1, 2, u"extra"), u"1"},
      {u"%*d", formatText(u"%*d", u"not a width", 5), u"5"},
      {u"%.*f", formatText(u"%.*f"), u""},
      {u"no conversions", formatText(u"no conversions", 1), u"no conversions"},
  });
  expectAll(std::vector<NarrowCase>{
      {"[%s]", formatText("[%s]", u"wide text in a narrow %s"), "[]"},
      {"[%ls]", formatText("[%ls]", "narrow text in %ls"), "[]"},
  });
}

TEST(FormatText, UnknownAndIncompleteConversionsAreCopied) {
  expectAll(std::vector<WideCase>{
      {u"%%", formatText(u"%%"), u"%"},
      {u"100%%", formatText(u"100%%", 1), u"100%"},
      {u"%k", formatText(u"%k"), u"%k"},
      {u"%-5k", formatText(u"%-5k"), u"%-5k"},
      {u"%q%d", formatText(u"%q%d", 3), u"%q3"},
      {u"%\u00E9", formatText(u"%\u00E9", 3), u"%\u00E9"},
      {u"abc%", formatText(u"abc%"), u"abc%"},
      {u"abc%-0", formatText(u"abc%-0", 1), u"abc%-0"},
      {u"abc%l", formatText(u"abc%l", 1), u"abc%l"},
      {u"%n%d", formatText(u"%n%d", 1, 2), u"2"},
  });
}

TEST(FormatTextBounded, FitsWithRoomForTheTerminator) {
  char16_t wide[8];
  EXPECT_EQ(formatText(wide, 6, u"%s", u"hello"), 5);
  EXPECT_EQ(std::u16string(wide), u"hello");

  char narrow[8];
  EXPECT_EQ(formatText(narrow, 6, "%s", "hello"), 5);
  EXPECT_EQ(std::string(narrow), "hello");
}

TEST(FormatTextBounded, TruncatesAndReportsMinusOne) {
  struct Case {
    size_t capacity;
    std::u16string expected;
  };
  // "Value 12345" is 11 characters long.
  for (const Case& c : std::vector<Case>{{11, u"Value 1234"}, {7, u"Value "}, {2, u"V"}, {1, u""}}) {
    char16_t wide[16];
    std::fill(std::begin(wide), std::end(wide), u'#');
    EXPECT_EQ(formatText(wide, c.capacity, u"Value %d", 12345), -1) << c.capacity;
    EXPECT_EQ(std::u16string(wide), c.expected) << c.capacity;
    EXPECT_EQ(wide[c.capacity], u'#') << "wrote past the capacity " << c.capacity;

    char narrow[16];
    std::fill(std::begin(narrow), std::end(narrow), '#');
    EXPECT_EQ(formatText(narrow, c.capacity, "Value %d", 12345), -1) << c.capacity;
    EXPECT_EQ(std::string(narrow), platform::toUtf8(c.expected)) << c.capacity;
    EXPECT_EQ(narrow[c.capacity], '#') << "wrote past the capacity " << c.capacity;
  }
}

TEST(FormatTextBounded, TruncatesInsidePaddingAndConvertedText) {
  char16_t wide[8];
  EXPECT_EQ(formatText(wide, 4, u"%10d", 5), -1);
  EXPECT_EQ(std::u16string(wide), u"   ");
  EXPECT_EQ(formatText(wide, 4, u"%hs", "Gr\xC3\xBC\xC3\x9F" "e"), -1);
  EXPECT_EQ(std::u16string(wide), u"Gr\u00FC");

  char narrow[8];
  EXPECT_EQ(formatText(narrow, 4, "%-10d", 5), -1);
  EXPECT_EQ(std::string(narrow), "5  ");
  EXPECT_EQ(formatText(narrow, 3, "%ls", u"abc"), -1);
  EXPECT_EQ(std::string(narrow), "ab");
}

TEST(FormatTextBounded, ZeroCapacityWritesNothing) {
  char16_t wide[2] = {u'#', u'#'};
  EXPECT_EQ(formatText(wide, 0, u"x"), -1);
  EXPECT_EQ(formatText(wide, 0, u""), 0);
  EXPECT_EQ(formatText(wide, 0, u"%s", u""), 0);
  EXPECT_EQ(wide[0], u'#');

  char narrow[2] = {'#', '#'};
  EXPECT_EQ(formatText(narrow, 0, "%d", 1), -1);
  EXPECT_EQ(formatText(narrow, 0, ""), 0);
  EXPECT_EQ(narrow[0], '#');
}

TEST(FormatTextBounded, NullDestinationWritesNothing) {
  char16_t* nullWide = nullptr;
  char* nullNarrow = nullptr;
  EXPECT_EQ(formatText(nullWide, 10, u"x"), -1);
  EXPECT_EQ(formatText(nullNarrow, 10, "x"), -1);
  EXPECT_EQ(formatText(nullNarrow, 10, ""), 0);
}

TEST(FormatTextBounded, EmptyOutputWritesTheTerminator) {
  char16_t wide[2] = {u'#', u'#'};
  EXPECT_EQ(formatText(wide, 2, u"%s", u""), 0);
  EXPECT_EQ(wide[0], u'\0');
  char narrow[2] = {'#', '#'};
  EXPECT_EQ(formatText(narrow, 1, ""), 0);
  EXPECT_EQ(narrow[0], '\0');
}

TEST(FormatTextBounded, ArrayBufferAndPlainIntegerCapacityPickTheBoundedVersion) {
  char16_t wide[16];
  EXPECT_EQ(formatText(wide, 16, u"Device%u", 3u), 7);
  EXPECT_EQ(std::u16string(wide), u"Device3");
  char narrow[16];
  EXPECT_EQ(formatText(narrow, 16, "Plugin%u", 4u), 7);
  EXPECT_EQ(std::string(narrow), "Plugin4");
}

TEST(FormatTextBounded, HugeWidthStopsAtTheCapacity) {
  char narrow[8];
  EXPECT_EQ(formatText(narrow, sizeof narrow, "%*d", INT_MAX, 1), -1);
  EXPECT_EQ(std::string(narrow), "       ");
  EXPECT_EQ(formatText(narrow, sizeof narrow, "%.*d", INT_MAX, 1), -1);
  EXPECT_EQ(std::string(narrow), "0000000");
}
