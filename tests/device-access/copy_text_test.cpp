#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "device-access/copy_text.h"

namespace {

// A destination with guard characters behind it, to see writes past the capacity.
template <typename Character>
struct Destination {
  static constexpr size_t kSize = 16;
  Character text[kSize];
  Destination() { std::fill(std::begin(text), std::end(text), Character('#')); }
  bool untouchedFrom(size_t index) const {
    return std::all_of(text + index, text + kSize, [](Character c) { return c == Character('#'); });
  }
};

}  // namespace

TEST(CopyText, CopiesUntilTerminatorOrCapacity) {
  struct Case {
    const char16_t* source;
    size_t capacity;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"abc", 10, u"abc"},
      {u"abc", 4, u"abc"},  // exactly fits with the terminator
      {u"abc", 3, u"ab"},   // capacity equals the length
      {u"abc", 2, u"a"},
      {u"abc", 1, u""},     // only the terminator
      {u"", 5, u""},
  };
  for (const Case& c : cases) {
    Destination<char16_t> wide;
    EXPECT_EQ(copyText(wide.text, c.source, c.capacity), c.expected.size()) << c.capacity;
    EXPECT_EQ(std::u16string(wide.text), c.expected) << c.capacity;
    EXPECT_TRUE(wide.untouchedFrom(c.expected.size() + 1)) << c.capacity;

    const std::string narrowSource(c.source, c.source + std::char_traits<char16_t>::length(c.source));
    const std::string narrowExpected(c.expected.begin(), c.expected.end());
    Destination<char> narrow;
    EXPECT_EQ(copyText(narrow.text, narrowSource.c_str(), c.capacity), narrowExpected.size()) << c.capacity;
    EXPECT_EQ(std::string(narrow.text), narrowExpected) << c.capacity;
    EXPECT_TRUE(narrow.untouchedFrom(narrowExpected.size() + 1)) << c.capacity;

    Destination<char> fromWide;
    EXPECT_EQ(copyText(fromWide.text, c.source, c.capacity), narrowExpected.size()) << c.capacity;
    EXPECT_EQ(std::string(fromWide.text), narrowExpected) << c.capacity;
    EXPECT_TRUE(fromWide.untouchedFrom(narrowExpected.size() + 1)) << c.capacity;
  }
}

TEST(CopyText, WideToNarrowKeepsTheLowByte) {
  Destination<char> narrow;
  EXPECT_EQ(copyText(narrow.text, u"A\u00E9\u0141", Destination<char>::kSize), 3u);
  EXPECT_EQ(std::string(narrow.text), "A\xE9\x41");
}

// A character whose low byte is zero must not end the narrow text early.
TEST(CopyText, WideToNarrowDoesNotCutTextAtZeroLowBytes) {
  Destination<char> narrow;
  EXPECT_EQ(copyText(narrow.text, u"In \u4E00\u0100 L", Destination<char>::kSize), 7u);
  EXPECT_EQ(std::string(narrow.text), "In ?? L");
}

TEST(CopyText, UnsafeArgumentsWriteNothingOrEmptyText) {
  Destination<char> narrow;
  EXPECT_EQ(copyText(narrow.text, "abc", 0), 0u);
  EXPECT_TRUE(narrow.untouchedFrom(0));
  EXPECT_EQ(copyText(static_cast<char*>(nullptr), "abc", 4), 0u);
  EXPECT_EQ(copyText(narrow.text, static_cast<const char*>(nullptr), 4), 0u);
  EXPECT_EQ(narrow.text[0], '\0');
  EXPECT_TRUE(narrow.untouchedFrom(1));

  Destination<char16_t> wide;
  EXPECT_EQ(copyText(wide.text, u"abc", 0), 0u);
  EXPECT_TRUE(wide.untouchedFrom(0));
  EXPECT_EQ(copyText(static_cast<char16_t*>(nullptr), u"abc", 4), 0u);
  EXPECT_EQ(copyText(wide.text, nullptr, 4), 0u);
  EXPECT_EQ(wide.text[0], u'\0');

  Destination<char> fromWide;
  EXPECT_EQ(copyText(fromWide.text, static_cast<const char16_t*>(nullptr), 4), 0u);
  EXPECT_EQ(fromWide.text[0], '\0');
  EXPECT_EQ(copyText(static_cast<char*>(nullptr), u"abc", 4), 0u);
}
