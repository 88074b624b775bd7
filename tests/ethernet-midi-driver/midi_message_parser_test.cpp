// Cutting the captured byte stream into whole MIDI messages for JACK.

#include <gtest/gtest.h>

#include <vector>

#include "tools/midi-jack-bridge/midi_message_parser.h"

namespace midi_jack_bridge {
namespace {

using Bytes = std::vector<uint8_t>;

struct ParseCase {
  const char* name;
  std::vector<Bytes> feeds;  // fed one after the other
  std::vector<Bytes> messages;
  uint64_t dropped;
  friend void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }
};

class ParserTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParserTest, CutsTheStreamIntoMessages) {
  MidiMessageParser parser;
  std::vector<Bytes> messages;
  for (const Bytes& feed : GetParam().feeds) {
    parser.feed(feed.data(), feed.size(), [&](const uint8_t* m, size_t size) { messages.emplace_back(m, m + size); });
  }
  EXPECT_EQ(messages, GetParam().messages);
  EXPECT_EQ(parser.droppedBytes(), GetParam().dropped);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ParserTest,
    ::testing::Values(
        ParseCase{"NoteOn", {{0x90, 0x3C, 0x7F}}, {{0x90, 0x3C, 0x7F}}, 0},
        ParseCase{"RunningStatus", {{0x90, 0x3C, 0x7F, 0x3E, 0x7F}}, {{0x90, 0x3C, 0x7F}, {0x90, 0x3E, 0x7F}}, 0},
        ParseCase{"OneDataByte", {{0xC0, 0x05, 0x06}}, {{0xC0, 0x05}, {0xC0, 0x06}}, 0},
        ParseCase{"SplitAcrossDatagrams", {{0x90, 0x3C}, {0x7F, 0xB0}, {0x07, 0x64}}, {{0x90, 0x3C, 0x7F}, {0xB0, 0x07, 0x64}}, 0},
        ParseCase{"RealTimeInsideAMessage", {{0x90, 0xF8, 0x3C, 0x7F}}, {{0xF8}, {0x90, 0x3C, 0x7F}}, 0},
        ParseCase{"SystemExclusive", {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}, {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}, 0},
        ParseCase{"RealTimeInsideSystemExclusive", {{0xF0, 0x01, 0xF8, 0x02, 0xF7}}, {{0xF8}, {0xF0, 0x01, 0x02, 0xF7}}, 0},
        ParseCase{"StatusEndsAnUnfinishedSystemExclusive", {{0xF0, 0x01, 0x90, 0x3C, 0x7F}}, {{0x90, 0x3C, 0x7F}}, 2},
        ParseCase{"DataWithoutStatus", {{0x3C, 0x7F}}, {}, 2},
        ParseCase{"StrayEndOfExclusive", {{0xF7}}, {}, 1},
        ParseCase{"SystemCommonCancelsRunningStatus", {{0x90, 0x3C, 0x7F, 0xF3, 0x01, 0x3E, 0x7F}}, {{0x90, 0x3C, 0x7F}, {0xF3, 0x01}}, 2},
        ParseCase{"SongPosition", {{0xF2, 0x10, 0x20}}, {{0xF2, 0x10, 0x20}}, 0},
        ParseCase{"TuneRequest", {{0xF6}}, {{0xF6}}, 0},
        ParseCase{"UnfinishedMessageReplaced", {{0x90, 0x3C, 0x80, 0x3C, 0x00}}, {{0x80, 0x3C, 0x00}}, 2}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ParserLimits, ASystemExclusiveLongerThanTheLimitIsDroppedWhole) {
  MidiMessageParser parser;
  Bytes stream{0xF0};
  stream.insert(stream.end(), MidiMessageParser::kMaxSysex + 10, 0x01);
  stream.push_back(0xF7);
  stream.insert(stream.end(), {0x90, 0x3C, 0x7F});
  std::vector<Bytes> messages;
  parser.feed(stream.data(), stream.size(), [&](const uint8_t* m, size_t size) { messages.emplace_back(m, m + size); });
  EXPECT_EQ(messages, (std::vector<Bytes>{{0x90, 0x3C, 0x7F}}));
  EXPECT_EQ(parser.droppedBytes(), MidiMessageParser::kMaxSysex + 11);
}

}  // namespace
}  // namespace midi_jack_bridge
