// The statistics rows: formats, n/a, signs of hundredths, flags, versions,
// bounded names and the colours of error counters.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "spy/list_item.h"

namespace {

TEST(ListItemTest, IntegersFormatTheirWidthAndSign) {
  const uint32_t vendor = 0x2F1A;
  const uint32_t status = 0xC0000001;
  const uint32_t zero = 0;
  const int32_t pending = -3;
  const uint8_t protocol = 200;
  struct Case {
    const ListItem& item;
    std::u16string text;
  };
  const ListItemIntT<uint32_t> vendorRow(u" USB Vendor ID", &vendor, u"0x%04X", ListItem::kPlain);
  const ListItemIntT<uint32_t> statusRow(u" LastIrpStatus", &status, u"0x%08X", ListItem::kError);
  const ListItemIntT<uint32_t> zeroStatusRow(u" LastIrpStatus", &zero, u"0x%08X", ListItem::kError);
  const ListItemIntT<int32_t> pendingRow(u" BuffersPending", &pending, u"%d", ListItem::kPlain);
  const ListItemIntT<uint8_t> protocolRow(u" Firmware Protocol Version", &protocol, u"%u", ListItem::kPlain);
  const ListItemIntT<uint32_t> rateRow(u" Sampling Frequency", &vendor, u"%u Hz", ListItem::kPlain);
  const Case cases[] = {
      {vendorRow, u"0x2F1A"},      {statusRow, u"0xC0000001"}, {zeroStatusRow, u"0x00000000"},
      {pendingRow, u"-3"},         {protocolRow, u"200"},      {rateRow, u"12058 Hz"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.item.getText(), c.text) << std::string(c.item.label().begin(), c.item.label().end());
}

TEST(ListItemTest, NotAvailableFlagShowsNegativeValuesAsNa) {
  struct Case {
    int32_t value;
    std::u16string text;
  };
  const Case cases[] = {
      {-1, u"n/a"}, {std::numeric_limits<int32_t>::min(), u"n/a"}, {0, u"0 us"}, {125, u"125 us"},
  };
  for (const Case& c : cases) {
    const ListItemIntT<int32_t, true> row(u" MinRunTime", &c.value, u"%d us", ListItem::kPlain);
    EXPECT_EQ(row.getText(), c.text) << c.value;
  }
  // Without the flag a negative value is a number.
  const int32_t negative = -1;
  EXPECT_EQ((ListItemIntT<int32_t>(u" WorkerThreadPriority", &negative, u"%d", ListItem::kPlain).getText()), u"-1");
}

TEST(ListItemTest, PercentagesSplitHundredthsAndKeepTheSign) {
  struct Case {
    int32_t value;
    std::u16string text;
  };
  const Case signedCases[] = {
      {-1234, u"-12.34 ppm"}, {-5, u"-0.05 ppm"}, {-99, u"-0.99 ppm"}, {-100, u"-1.00 ppm"},
      {0, u"0.00 ppm"},       {7, u"0.07 ppm"},   {1234, u"12.34 ppm"},
      {std::numeric_limits<int32_t>::min(), u"-21474836.48 ppm"},
  };
  for (const Case& c : signedCases) {
    const ListItemPercentageT<int32_t> row(u" Current Clock Offset of the SRC (ppm)", &c.value, u"%s%d.%02d ppm",
                                           ListItem::kPlain);
    EXPECT_EQ(row.getText(), c.text) << c.value;
  }
  struct UnsignedCase {
    uint32_t value;
    std::u16string text;
  };
  const UnsignedCase unsignedCases[] = {
      {10000, u"100.00%"}, {5, u"0.05%"}, {1234, u"12.34%"}, {0, u"0.00%"}, {0xFFFFFFFF, u"42949672.95%"},
  };
  for (const UnsignedCase& c : unsignedCases) {
    const ListItemPercentageT<uint32_t> row(u" fill level of Output FIFO", &c.value, u"%s%u.%02u%%",
                                            ListItem::kPlain);
    EXPECT_EQ(row.getText(), c.text) << c.value;
  }
}

TEST(ListItemTest, FlagsAndVersions) {
  const uint32_t values[] = {0, 1, 2, 0x80000000};
  const std::u16string texts[] = {u"false", u"true", u"true", u"true"};
  for (size_t i = 0; i < std::size(values); ++i) {
    const ListItemBoolT<uint32_t> row(u" Connected to High-speed Port", &values[i], u"%s", ListItem::kPlain);
    EXPECT_EQ(row.getText(), texts[i]) << values[i];
  }
  const uint8_t version[3] = {1, 35, 2};
  const ListItemVersionStrT<uint8_t> row(u" Firmware Version", &version[0], &version[1], &version[2], u"%u.%u.%u",
                                         ListItem::kPlain);
  EXPECT_EQ(row.getText(), u"1.35.2");
  EXPECT_EQ(ListItemEmpty(u"", u"", ListItem::kSeparator).getText(), u"");
}

TEST(ListItemTest, NamesStopAtTheirZeroOrAtTheFieldsEnd) {
  char16_t field[6] = {u'I', u'N', u' ', u'1', 0, u'X'};
  const ListItemWStr row(u" ASIO Channel Name", field, std::size(field), u"%s", ListItem::kPlain);
  EXPECT_EQ(row.getText(), u"IN 1");

  // Unterminated: the whole field and nothing after it. The field sits in a
  // larger array whose next character is not zero either.
  char16_t record[8] = {u'A', u'B', u'C', u'D', u'E', u'F', u'G', u'H'};
  const ListItemWStr unterminated(u" ASIO Channel Name", record, 4, u"%s", ListItem::kPlain);
  EXPECT_EQ(unterminated.getText(), u"ABCD");
  EXPECT_EQ(boundedText(record, 0), u"");
  EXPECT_EQ(boundedText(nullptr, 5), u"");
}

TEST(ListItemTest, OnlyNonZeroErrorCountersAreHighlighted) {
  struct Case {
    uint32_t kind;
    uint32_t value;
    platform::ui::Colour colour;
  };
  const Case cases[] = {
      {ListItem::kError, 0, ListItem::kNormalColour},
      {ListItem::kError, 1, ListItem::kHighlightColour},
      {ListItem::kError, 0xFFFFFFFF, ListItem::kHighlightColour},
      {ListItem::kPlain, 0, ListItem::kNormalColour},
      {ListItem::kPlain, 5, ListItem::kNormalColour},
  };
  for (const Case& c : cases) {
    const ListItemIntT<uint32_t> row(u" Sync lost", &c.value, u"%u", c.kind);
    EXPECT_EQ(row.getColour(), c.colour) << c.kind << " " << c.value;
    const ListItemPercentageT<uint32_t> percentage(u" fill", &c.value, u"%s%u.%02u%%", c.kind);
    EXPECT_EQ(percentage.getColour(), c.colour) << c.kind << " " << c.value;
  }
  EXPECT_EQ(ListItem::kHighlightColour, platform::ui::rgb(250, 0, 50));
  // Rows without a number never highlight.
  const uint32_t set = 1;
  EXPECT_EQ(ListItemBoolT<uint32_t>(u" x", &set, u"%s", ListItem::kError).getColour(), ListItem::kNormalColour);
}

TEST(ListItemTest, RowsReadTheirValueAtEachFormatting) {
  uint32_t counter = 1;
  const ListItemIntT<uint32_t> row(u" DataPackets", &counter, u"%u", ListItem::kPlain);
  EXPECT_EQ(row.getText(), u"1");
  counter = 2;
  EXPECT_EQ(row.getText(), u"2");
}

TEST(ListItemTest, ContainerKeepsOrderAndAnswersNullPastTheEnd) {
  ListItemContainer container;
  const uint32_t value = 4;
  container.add<ListItemEmpty>(u"", u"", ListItem::kSeparator, ListItem::kSelectCounterText);
  container.add<ListItemIntT<uint32_t>>(u" Index", &value, u"%u", ListItem::kPlain);
  ASSERT_EQ(container.size(), 2u);
  EXPECT_EQ(container.at(0)->kind(), ListItem::kSeparator);
  EXPECT_EQ(container.at(0)->description(), ListItem::kSelectCounterText);
  EXPECT_EQ(container.at(1)->label(), u" Index");
  EXPECT_EQ(container.at(2), nullptr);
}

}  // namespace
