// The statistics pages on their real widgets: every kind's rows, labels and
// formats for a record built by hand, the colours of error counters, n/a
// values, the description below the list, the column widths and names
// without a terminator.
//
// The record's entries are filled so that each 32-bit field holds its own
// byte offset in the entry: a row that reads the wrong field shows the
// wrong number.

#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/window.h"
#include "spy/form_statistics.h"

namespace {

using namespace platform::ui;

template <typename Entry>
void fillWithOffsets(Entry& entry) {
  uint32_t words[sizeof(Entry) / 4];
  for (size_t i = 0; i < std::size(words); ++i) words[i] = static_cast<uint32_t>(4 * i);
  std::memcpy(&entry, words, sizeof entry);
}

template <size_t Capacity>
void setName(char16_t (&field)[Capacity], std::u16string_view name) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, name.data(), std::min(name.size(), Capacity) * sizeof(char16_t));
}

// The frame's copy of the record, one entry of every table filled.
struct Record {
  Record() : copy(std::make_unique<ORVANE_STATISTICS>()) {
    ORVANE_STATISTICS& r = *copy;
    std::memset(&r, 0, sizeof r);
    fillWithOffsets(r.devices[0]);
    setName(r.devices[0].name, u"ORVANE 1");
    r.devices[0].firmwareVersion[0] = 1;
    r.devices[0].firmwareVersion[1] = 35;
    r.devices[0].firmwareVersion[2] = 2;
    r.devices[0].firmwareProtocolVersion = 7;
    fillWithOffsets(r.inputStreams[0]);
    fillWithOffsets(r.outputStreams[0]);
    fillWithOffsets(r.spdifDeframers[0]);
    r.spdifDeframers[0].clockOffsetPpm = -1234;
    r.spdifDeframers[0].clockOffset = -80;
    fillWithOffsets(r.inputPortChannels[0]);
    fillWithOffsets(r.inputHwPorts[0]);
    fillWithOffsets(r.inputAsioChannels[0]);
    setName(r.inputAsioChannels[0].name, u"IN 01");
    fillWithOffsets(r.recordingSoundDevices[0]);
    setName(r.recordingSoundDevices[0].name, u"Line 1/2");
    fillWithOffsets(r.inputMidiPorts[0]);
    fillWithOffsets(r.inputMidiClients[0]);
    fillWithOffsets(r.outputMidiClients[0]);
    fillWithOffsets(r.asioHosts[0]);
    r.asioHosts[0].workerThreadPriority = -2;
  }
  std::unique_ptr<ORVANE_STATISTICS> copy;
};

using Rows = std::vector<std::pair<std::u16string, std::u16string>>;
const std::pair<std::u16string, std::u16string> kSeparator{u"", u""};

struct PageCase {
  const char* kind;
  std::function<std::unique_ptr<FormStatistics>(const ORVANE_STATISTICS&)> make;
  Rows rows;
};

std::vector<PageCase> pageCases() {
  const Rows streamRows = {
      kSeparator,
      {u" DataPackets", u"12"},
      {u" EmptyPackets", u"16"},
      {u" BuffersTransferred", u"20"},
      {u" BuffersPending", u"24"},
      kSeparator,
      {u" Sampling Frequency", u"8 Hz"},
      {u" BuffersTotal", u"28"},
      {u" FramesPerBuffer", u"32"},
      {u" DataBlockSize (dwords)", u"36"},
      {u" MaxIsoPacketSize (bytes)", u"40"},
      kSeparator,
      {u" IsoRequestFailed", u"44"},
      {u" LastIrpStatus", u"0x00000030"},
      {u" LastUrbStatus", u"0x00000034"},
      {u" LastUrbPacketStatus", u"0x00000038"},
      kSeparator,
      {u" MinDataBlocksPerPacket", u"68"},
      {u" MaxDataBlocksPerPacket", u"72"},
      {u" MinPacketSize (bytes)", u"60"},
      {u" MaxPacketSize (bytes)", u"64"},
      kSeparator,
      {u" MinCallbackInterval", u"76 us"},
      {u" MaxCallbackInterval", u"80 us"},
      {u" CurrentCallbackInterval", u"84 us"},
      kSeparator,
      {u" MinRunTime", u"88 us"},
      {u" MaxRunTime", u"92 us"},
  };
  Rows inputStreamRows = streamRows;
  const Rows inputOnly = {
      kSeparator,
      {u" ReceiverState", u"96"},
      kSeparator,
      {u" PacketsMissing", u"100"},
      {u" DataBlockSequenceError", u"104"},
      {u" PacketHeaderInvalid", u"108"},
      {u" HwOutFifoOverrun", u"112"},
      {u" HwOutFifoUnderrun", u"116"},
      {u" HwOutFifoEmpty", u"120"},
      {u" HwInSpdifOverrun", u"124"},
      {u" HwInFifoFull", u"128"},
  };
  inputStreamRows.insert(inputStreamRows.end(), inputOnly.begin(), inputOnly.end());
  const Rows midiPortRows = {kSeparator, {u" Index", u"16"}, {u" Usage Count", u"20"}};
  Rows midiPortInRows = midiPortRows;
  midiPortInRows.push_back({u" Number of received Midi bytes", u"24"});
  Rows midiPortOutRows = midiPortRows;
  midiPortOutRows.push_back({u" Number of processed Midi bytes", u"24"});

  return {
      {"device",
       [](const ORVANE_STATISTICS& r) { return std::make_unique<FormStatisticsDevice>(&r.devices[0]); },
       {kSeparator,
        {u" USB Vendor ID", u"0x0008"},
        {u" USB Product ID", u"0x000C"},
        {u" USB Revision ID", u"0x0010"},
        {u" Board ID", u"0x00000014"},
        {u" Firmware Type", u"64"},
        {u" Firmware Version", u"1.35.2"},
        {u" Firmware Protocol Version", u"7"},
        {u" FPGA Design and Version ID", u"0x48"},
        {u" FPGA Customer ID", u"0x4C"},
        {u" Connected to High-speed Port", u"true"},
        kSeparator,
        {u" Midi IN Bytes Discarded", u"84"}}},
      {"input stream",
       [](const ORVANE_STATISTICS& r) { return std::make_unique<FormStatisticsIsoStreamIn>(&r.inputStreams[0]); },
       inputStreamRows},
      {"output stream",
       [](const ORVANE_STATISTICS& r) { return std::make_unique<FormStatisticsIsoStreamOut>(&r.outputStreams[0]); },
       streamRows},
      {"hardware port",
       [](const ORVANE_STATISTICS& r) { return std::make_unique<FormStatisticsHwPort>(&r.inputHwPorts[0]); },
       {kSeparator, {u" Channel Count", u"20"}, {u" Port Type", u"24"}, {u" Port Number", u"28"}}},
      {"port channel",
       [](const ORVANE_STATISTICS& r) {
         return std::make_unique<FormStatisticsPortChannel>(&r.inputPortChannels[0]);
       },
       {kSeparator,
        {u" Data Block Offset", u"28"},
        {u" Channel Position", u"32"},
        {u" ASIO Channel connected", u"36"},
        {u" Sound Device connected", u"40"}}},
      {"deframer",
       [](const ORVANE_STATISTICS& r) {
         return std::make_unique<FormStatisticsSpdifDeframer>(&r.spdifDeframers[0]);
       },
       {kSeparator,
        {u" Current State", u"36"},
        kSeparator,
        {u" Number of Input Samples", u"16"},
        {u" SPDIF Blocks parsed", u"20"},
        {u" unexpected start frames", u"24"},
        {u" Sync lost", u"72"},
        {u" input FIFO full", u"92"},
        {u" invalid Preamble", u"96"},
        {u" parity Error", u"100"},
        {u" frame number mismatch", u"104"},
        kSeparator,
        {u" ProcessData calls", u"28"},
        kSeparator,
        {u" Detected Sample Rate", u"32"},
        {u" Sample Rate change detected", u"68"},
        kSeparator,
        {u" fill level of Output FIFO", u"0.40%"},
        {u" fill level of Output FIFO Minimum", u"0.44%"},
        {u" fill level of Output FIFO Maximum", u"0.48%"},
        {u" Size of Output FIFO in Samples", u"52"},
        {u" fill level of Output FIFO in Samples", u"56"},
        {u" fill level of Output FIFO in Samples Minimum", u"60"},
        {u" fill level of Output FIFO in Samples Maximum", u"64"},
        {u" Current Clock Offset of the SRC (ppm)", u"-12.34 ppm"},
        {u" Current Clock Offset of the SRC, (2^-30) units", u"-80"},
        {u" Output FIFO empty", u"84"},
        {u" Output FIFO full", u"88"}}},
      {"ASIO channel",
       [](const ORVANE_STATISTICS& r) {
         return std::make_unique<FormStatisticsAsioChannel>(&r.inputAsioChannels[0]);
       },
       {kSeparator, {u" is Connected", u"20"}, {u" ASIO Channel Name", u"IN 01"}}},
      {"sound device",
       [](const ORVANE_STATISTICS& r) {
         return std::make_unique<FormStatisticsSoundDevice>(&r.recordingSoundDevices[0]);
       },
       {kSeparator,
        {u" is Connected", u"20"},
        {u" Sound Device Name", u"Line 1/2"},
        {u" Buffers Processed", u"116"},
        {u" No Buffer", u"120"}}},
      {"MIDI port in",
       [](const ORVANE_STATISTICS& r) { return std::make_unique<FormStatisticsMidiPortIn>(&r.inputMidiPorts[0]); },
       midiPortInRows},
      {"MIDI port out",
       [](const ORVANE_STATISTICS& r) { return std::make_unique<FormStatisticsMidiPortOut>(&r.inputMidiPorts[0]); },
       midiPortOutRows},
      {"MIDI client in",
       [](const ORVANE_STATISTICS& r) {
         return std::make_unique<FormStatisticsMidiClientIn>(&r.inputMidiClients[0]);
       },
       {kSeparator,
        {u" KS Buffer processed", u"8"},
        {u" No buffer from KS", u"12"},
        kSeparator,
        {u" Midi messages parsed", u"16"},
        {u" Midi bytes parsed", u"20"},
        {u" SysEx bytes", u"24"},
        kSeparator,
        {u" Note Off", u"28"},
        {u" Note On", u"32"},
        {u" Polyphon Pressure", u"36"},
        {u" Control Change", u"40"},
        {u" Program Change", u"44"},
        {u" Channel Pressure", u"48"},
        {u" Pitch Bend", u"52"},
        kSeparator,
        {u" System Exclusive Start", u"56"},
        {u" MIDI Time Code", u"60"},
        {u" Song Position Pointer", u"64"},
        {u" Song Select", u"68"},
        {u" Tune Request", u"72"},
        {u" System Exclusive End", u"76"},
        {u" Timing Clock", u"80"},
        {u" Start", u"84"},
        {u" Continue", u"88"},
        {u" Stop", u"92"},
        {u" Active Sensing", u"96"},
        {u" System Reset", u"100"},
        kSeparator,
        {u" Invalid Midi Bytes", u"104"},
        {u" Input Buffer Overrun", u"108"}}},
      {"MIDI client out",
       [](const ORVANE_STATISTICS& r) {
         return std::make_unique<FormStatisticsMidiClientOut>(&r.outputMidiClients[0]);
       },
       {kSeparator, {u" KS Buffer processed", u"8"}, {u" No buffer from KS", u"12"}}},
      {"ASIO host",
       [](const ORVANE_STATISTICS& r) { return std::make_unique<FormStatisticsAsioHost>(&r.asioHosts[0]); },
       {kSeparator,
        {u" InChannelsAcquired", u"0"},
        {u" OutChannelsAcquired", u"4"},
        {u" ChannelsEnabled", u"true"},
        {u" BufferSwitch Events", u"12"},
        {u" CurrentSwitchInterval in samples", u"16 samples"},
        {u" CurrentSwitchInterval in microseconds", u"20 us"},
        {u" WorkerThreadPriority", u"-2"},
        kSeparator,
        {u" ThreadMissedEvents", u"28"},
        {u" EventsMissed", u"32"},
        kSeparator,
        {u" MinimumSwitchInterval in microseconds", u"36 us"},
        {u" MaximumSwitchInterval in microseconds", u"40 us"},
        {u" CurrentSwitchInterval in microseconds", u"44 us"}}},
  };
}

std::string narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

// Labels of the rows that are error counters, by page kind.
const std::vector<std::u16string>& errorLabels() {
  static const std::vector<std::u16string> labels = {
      u" Midi IN Bytes Discarded", u" IsoRequestFailed",   u" LastIrpStatus",         u" LastUrbStatus",
      u" LastUrbPacketStatus",     u" PacketsMissing",     u" DataBlockSequenceError", u" PacketHeaderInvalid",
      u" HwOutFifoOverrun",        u" HwOutFifoUnderrun",  u" HwOutFifoEmpty",        u" HwInSpdifOverrun",
      u" HwInFifoFull",            u" Sync lost",          u" input FIFO full",       u" invalid Preamble",
      u" parity Error",            u" frame number mismatch", u" Output FIFO empty",  u" Output FIFO full",
      u" No Buffer",               u" Invalid Midi Bytes", u" Input Buffer Overrun",  u" ThreadMissedEvents",
      u" EventsMissed",
  };
  return labels;
}

bool isErrorLabel(const std::u16string& label) {
  for (const std::u16string& error : errorLabels()) {
    if (error == label) return true;
  }
  return false;
}

class StatisticsPageTest : public ::testing::Test {
 protected:
  // The page as a window of its own, sized like the frame's right pane.
  FormStatistics& open(std::unique_ptr<FormStatistics> made) {
    page_ = std::move(made);
    EXPECT_TRUE(page_->create(WindowHandle()));
    moveWindow(page_->handle(), Rect{0, 0, 520, 420});
    page_->showForm();
    QTest::qWait(1);
    return *page_;
  }
  FormStatisticsDevice* deviceOf(const Record& source) {
    return static_cast<FormStatisticsDevice*>(
        &open(std::make_unique<FormStatisticsDevice>(&source.copy->devices[0])));
  }
  Rows shownRows() const {
    Rows rows;
    ListView* list = page_->list();
    for (int row = 0; row < list->itemCount(); ++row) rows.emplace_back(list->itemText(row, 0), list->itemText(row, 1));
    return rows;
  }
  int rowOf(std::u16string_view label) const {
    for (int row = 0; row < page_->list()->itemCount(); ++row) {
      if (page_->list()->itemText(row, 0) == label) return row;
    }
    return -1;
  }
  std::u16string description() const { return page_->itemText(FormStatistics::kDescriptionId); }

  void TearDown() override {
    if (page_ && page_->exists()) destroyWindow(page_->handle());
    page_.reset();
  }

  Record record;
  std::unique_ptr<FormStatistics> page_;
};

TEST_F(StatisticsPageTest, EveryKindShowsItsRowsInOrderWithTheirFormats) {
  for (const PageCase& c : pageCases()) {
    SCOPED_TRACE(c.kind);
    FormStatistics& page = open(c.make(*record.copy));
    EXPECT_TRUE(page.isStatisticsForm());
    page.updateStatistics(*record.copy);
    const Rows shown = shownRows();
    ASSERT_EQ(shown.size(), c.rows.size());
    for (size_t row = 0; row < shown.size(); ++row) {
      EXPECT_EQ(narrow(shown[row].first), narrow(c.rows[row].first)) << "row " << row;
      EXPECT_EQ(narrow(shown[row].second), narrow(c.rows[row].second)) << narrow(c.rows[row].first);
    }
    destroyWindow(page.handle());
  }
}

TEST_F(StatisticsPageTest, EveryRowKindAndDescriptionFollowsItsTable) {
  for (const PageCase& c : pageCases()) {
    SCOPED_TRACE(c.kind);
    const std::unique_ptr<FormStatistics> page = c.make(*record.copy);
    const ListItemContainer& items = page->items();
    for (size_t row = 0; row < items.size(); ++row) {
      const ListItem& item = *items.at(row);
      const std::string label = narrow(item.label());
      if (item.label().empty()) {
        EXPECT_EQ(item.kind(), ListItem::kSeparator) << "row " << row;
        EXPECT_EQ(item.description(), ListItem::kSelectCounterText);
        continue;
      }
      EXPECT_EQ(item.label().front(), u' ') << label;
      EXPECT_EQ(item.kind(), isErrorLabel(item.label()) ? ListItem::kError : ListItem::kPlain) << label;
      if (item.label() == u" Current State") {
        EXPECT_EQ(item.description(), u"SPDIF deframer state: 0=TrySync, 1=InSync, 2=NonPCM, 3=PCMLocked");
      } else {
        EXPECT_EQ(item.description(), u"") << label;
      }
    }
  }
}

TEST_F(StatisticsPageTest, ErrorCountersAreHighlightedOnlyWhileNotZero) {
  for (const PageCase& c : pageCases()) {
    SCOPED_TRACE(c.kind);
    Record filled;
    FormStatistics& page = open(c.make(*filled.copy));
    page.updateStatistics(*filled.copy);
    ListView* list = page.list();
    for (int row = 0; row < list->itemCount(); ++row) {
      const std::u16string label = list->itemText(row, 0);
      // Every field of the filled record but the first is non-zero.
      const bool nonZero = list->itemText(row, 1) != u"0";
      const Colour expected = isErrorLabel(label) && nonZero ? ListItem::kHighlightColour : ListItem::kNormalColour;
      EXPECT_EQ(list->cellTextColour(row, 1), expected) << narrow(label);
      EXPECT_EQ(list->cellTextColour(row, 0), ListItem::kNormalColour) << narrow(label);
    }
    // The same page over a record of zeros: nothing is highlighted.
    std::memset(filled.copy.get(), 0, sizeof(ORVANE_STATISTICS));
    page.updateStatistics(*filled.copy);
    for (int row = 0; row < list->itemCount(); ++row) {
      EXPECT_EQ(list->cellTextColour(row, 1), ListItem::kNormalColour) << narrow(list->itemText(row, 0));
    }
    destroyWindow(page.handle());
  }
}

TEST_F(StatisticsPageTest, StatusesShowEightHexDigitsAndHighlightWhenSet) {
  ORVANE_STAT_ISO_STREAM& stream = record.copy->outputStreams[0];
  FormStatistics& page = open(std::make_unique<FormStatisticsIsoStreamOut>(&stream));
  const int row = rowOf(u" LastIrpStatus");
  ASSERT_GE(row, 0);
  stream.lastIrpStatus = 0xC000000D;
  page.updateStatistics(*record.copy);
  EXPECT_EQ(page.list()->itemText(row, 1), u"0xC000000D");
  EXPECT_EQ(page.list()->cellTextColour(row, 1), ListItem::kHighlightColour);
  stream.lastIrpStatus = 0;
  page.updateStatistics(*record.copy);
  EXPECT_EQ(page.list()->itemText(row, 1), u"0x00000000");
  EXPECT_EQ(page.list()->cellTextColour(row, 1), ListItem::kNormalColour);
}

TEST_F(StatisticsPageTest, NegativeMeasurementsShowNaAndZeroShowsItsUnit) {
  ORVANE_STAT_ISO_STREAM_IN& stream = record.copy->inputStreams[0];
  FormStatistics& page = open(std::make_unique<FormStatisticsIsoStreamIn>(&stream));
  stream.stream.minRunTime = -1;
  stream.stream.maxRunTime = 0;
  stream.stream.minPacketSize = -7;
  stream.stream.buffersPending = -1;  // no n/a for this one
  page.updateStatistics(*record.copy);
  EXPECT_EQ(page.list()->itemText(rowOf(u" MinRunTime"), 1), u"n/a");
  EXPECT_EQ(page.list()->itemText(rowOf(u" MaxRunTime"), 1), u"0 us");
  EXPECT_EQ(page.list()->itemText(rowOf(u" MinPacketSize (bytes)"), 1), u"n/a");
  EXPECT_EQ(page.list()->itemText(rowOf(u" BuffersPending"), 1), u"-1");
}

TEST_F(StatisticsPageTest, ValuesStayEmptyUntilTheFirstUpdateAndFollowTheCopy) {
  FormStatisticsDevice& page = *deviceOf(record);
  const int row = rowOf(u" Midi IN Bytes Discarded");
  EXPECT_EQ(page.list()->itemText(row, 1), u"");
  page.updateStatistics(*record.copy);
  EXPECT_EQ(page.list()->itemText(row, 1), u"84");
  record.copy->devices[0].midiInputBytesDiscarded = 1000;
  record.copy->devices[0].highSpeedPort = 0;
  page.updateStatistics(*record.copy);
  EXPECT_EQ(page.list()->itemText(row, 1), u"1000");
  EXPECT_EQ(page.list()->itemText(rowOf(u" Connected to High-speed Port"), 1), u"false");
}

TEST_F(StatisticsPageTest, TheDescriptionFollowsTheSelection) {
  FormStatistics& page = open(std::make_unique<FormStatisticsSpdifDeframer>(&record.copy->spdifDeframers[0]));
  EXPECT_EQ(description(), ListItem::kSelectCounterText);
  struct Step {
    int row;
    std::u16string text;
  };
  const Step steps[] = {
      {rowOf(u" Current State"), u"SPDIF deframer state: 0=TrySync, 1=InSync, 2=NonPCM, 3=PCMLocked"},
      {rowOf(u" Sync lost"), u""},
      {0, ListItem::kSelectCounterText},  // a separator
      {rowOf(u" Current State"), u"SPDIF deframer state: 0=TrySync, 1=InSync, 2=NonPCM, 3=PCMLocked"},
      {-1, ListItem::kSelectCounterText},  // nothing selected
  };
  for (const Step& step : steps) {
    page.list()->selectItem(step.row);
    EXPECT_EQ(description(), step.text) << "row " << step.row;
  }
}

TEST_F(StatisticsPageTest, ColumnsShareTheListWidthThreeToTwo) {
  FormStatistics& page = *deviceOf(record);
  for (const Rect& size : {Rect{0, 0, 520, 420}, Rect{0, 0, 811, 500}}) {
    moveWindow(page.handle(), size);
    QTest::qWait(1);
    page.onFormSize();
    const int width = page.list()->clientWidth();
    ASSERT_GT(width, 0);
    EXPECT_EQ(page.list()->columnWidth(0), 3 * width / 5);
    EXPECT_EQ(page.list()->columnWidth(1), 2 * width / 5);
  }
}

TEST_F(StatisticsPageTest, ListStylesAndControlsAreThePages) {
  FormStatistics& page = *deviceOf(record);
  EXPECT_EQ(page.dialogTemplate().id, 206);
  EXPECT_EQ(page.itemText(FormStatistics::kGroupId), u"Statistics");
  const uint32_t extended = page.list()->extendedStyle();
  EXPECT_NE(extended & listStyle::gridLines, 0u);
  EXPECT_NE(extended & listStyle::fullRowSelect, 0u);
  const uint64_t styles = page.list()->style();
  for (uint64_t wanted : {style::singleSelection, style::showSelectionAlways, style::noColumnHeader}) {
    EXPECT_NE(styles & wanted, 0u) << wanted;
  }
  EXPECT_EQ(page.list()->columnCount(), 2);
}

TEST_F(StatisticsPageTest, AnUnterminatedNameStopsAtTheEndOfItsField) {
  ORVANE_STATISTICS& r = *record.copy;
  // Both channel names filled to the last character; the next entry's
  // first bytes are not zero either.
  for (char16_t& c : r.inputAsioChannels[0].name) c = u'A';
  for (char16_t& c : r.recordingSoundDevices[0].name) c = u'S';
  fillWithOffsets(r.inputAsioChannels[1]);
  fillWithOffsets(r.recordingSoundDevices[1]);
  FormStatistics& channel = open(std::make_unique<FormStatisticsAsioChannel>(&r.inputAsioChannels[0]));
  channel.updateStatistics(r);
  EXPECT_EQ(channel.list()->itemText(rowOf(u" ASIO Channel Name"), 1),
            std::u16string(ORVANE_CHANNEL_NAME_CHARS, u'A'));
  destroyWindow(channel.handle());

  FormStatistics& sound = open(std::make_unique<FormStatisticsSoundDevice>(&r.recordingSoundDevices[0]));
  sound.updateStatistics(r);
  EXPECT_EQ(sound.list()->itemText(rowOf(u" Sound Device Name"), 1),
            std::u16string(ORVANE_STAT_SOUND_DEVICE_NAME_CHARS, u'S'));
  EXPECT_EQ(sound.list()->itemText(rowOf(u" Buffers Processed"), 1), u"116");
}

TEST_F(StatisticsPageTest, AnUnterminatedNameAtTheEndOfItsAllocationIsNotReadPast) {
  // The name is the channel entry's last field: an entry allocated on its
  // own ends with it, so a read past the field leaves the allocation (the
  // sanitizer build reports it).
  auto entry = std::make_unique<ORVANE_STAT_ASIO_CHANNEL>();
  std::memset(entry.get(), 0, sizeof(ORVANE_STAT_ASIO_CHANNEL));
  for (char16_t& c : entry->name) c = u'N';
  FormStatistics& page = open(std::make_unique<FormStatisticsAsioChannel>(entry.get()));
  page.updateStatistics(*record.copy);
  EXPECT_EQ(page.list()->itemText(rowOf(u" ASIO Channel Name"), 1), std::u16string(ORVANE_CHANNEL_NAME_CHARS, u'N'));
}

TEST_F(StatisticsPageTest, DestroyingThePageWindowEmptiesItsListFirst) {
  FormStatistics& page = *deviceOf(record);
  page.updateStatistics(*record.copy);
  ASSERT_TRUE(destroyWindow(page.handle()));
  EXPECT_EQ(page.list(), nullptr);
  // A refresh after the window went is harmless.
  page.updateStatistics(*record.copy);
}

}  // namespace
