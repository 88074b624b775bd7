#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/message_table.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system_root.h"

namespace {

WN_MESSAGE_TABLE(kTestMessages) = {
    platform::message(0x60070001, u"%1\r\n"),
    platform::message(0x40000010, u"Value %2 of %1.%nDone 100%%"),
};

using platform::EventLogRecord;

class EventLogTest : public ::testing::Test {
 protected:
  // Registers `source` under `log` with this program as its message file.
  static void registerSource(const std::u16string& log, const std::u16string& source) {
    std::u16string program;
    ASSERT_EQ(platform::programPath(program), 0u);
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine,
                                            std::u16string(platform::kEventLogKey) + u"\\" + log + u"\\" + source,
                                            platform::KEY_ALL_ACCESS, key),
              0u);
    ASSERT_EQ(key.setString(u"EventMessageFile", program, platform::REG_EXPAND_SZ), 0u);
    ASSERT_EQ(key.setDword(u"TypesSupported", 7), 0u);
  }

  static std::vector<EventLogRecord> readAll(const std::u16string& log) {
    uint64_t offset = 0;
    std::vector<EventLogRecord> records;
    EXPECT_EQ(platform::readEventLog(log, offset, records), 0u);
    return records;
  }

  static bool report(platform::EventSourceHandle source, uint16_t type, uint32_t id,
                     const std::vector<std::u16string>& strings, const std::vector<uint8_t>& data = {}) {
    std::vector<const char16_t*> pointers;
    for (const auto& s : strings) pointers.push_back(s.c_str());
    return platform::reportEvent(source, type, 0, id, nullptr, static_cast<uint16_t>(pointers.size()),
                                 static_cast<uint32_t>(data.size()), pointers.data(), data.data());
  }

  testing_support::TestSystemRoot root_;
};

TEST_F(EventLogTest, AnEventIsShownWithTheTextOfItsSourcesMessageTable) {
  registerSource(u"Application", u"quintorsvc");
  const platform::EventSourceHandle source = platform::registerEventSource(nullptr, u"quintorsvc");
  ASSERT_NE(source, nullptr);
  ASSERT_TRUE(report(source, platform::EVENTLOG_INFORMATION_TYPE, 0x60070001, {u"quintorsvc started\r\nExePath: /x"}));
  ASSERT_TRUE(report(source, platform::EVENTLOG_ERROR_TYPE, 0x40000010, {u"gain", u"-6 dB"}, {1, 2, 0xFF}));
  EXPECT_TRUE(platform::deregisterEventSource(source));

  const std::vector<EventLogRecord> records = readAll(u"Application");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].source, u"quintorsvc");
  EXPECT_EQ(records[0].type, platform::EVENTLOG_INFORMATION_TYPE);
  EXPECT_EQ(records[0].eventId, 0x60070001u);
  EXPECT_EQ(records[0].processId, platform::currentProcessId());
  EXPECT_EQ(platform::eventMessageText(records[0]), u"quintorsvc started\r\nExePath: /x\r\n");
  EXPECT_EQ(records[1].data, (std::vector<uint8_t>{1, 2, 0xFF}));
  EXPECT_EQ(platform::eventMessageText(records[1]), u"Value -6 dB of gain.\r\nDone 100%");
  EXPECT_LE(records[0].timeMicroseconds, records[1].timeMicroseconds);
}

TEST_F(EventLogTest, SourcesWriteToTheLogTheyAreRegisteredIn) {
  registerSource(u"System", u"Service Control Manager");
  const platform::EventSourceHandle system = platform::registerEventSource(u"", u"service control manager");
  const platform::EventSourceHandle unknown = platform::registerEventSource(nullptr, u"Nobody");
  ASSERT_NE(system, nullptr);
  ASSERT_NE(unknown, nullptr);
  EXPECT_TRUE(report(system, platform::EVENTLOG_WARNING_TYPE, 0x60070001, {u"to system"}));
  EXPECT_TRUE(report(unknown, platform::EVENTLOG_INFORMATION_TYPE, 7, {u"first", u"second"}));
  EXPECT_EQ(platform::eventLogNames(), (std::vector<std::u16string>{u"Application", u"System"}));
  const auto systemRecords = readAll(u"System");
  ASSERT_EQ(systemRecords.size(), 1u);
  EXPECT_EQ(platform::eventMessageText(systemRecords[0]), u"to system\r\n") << "source names compare without case";
  const auto applicationRecords = readAll(u"Application");
  ASSERT_EQ(applicationRecords.size(), 1u);
  EXPECT_EQ(platform::eventMessageText(applicationRecords[0]),
            u"The description for Event ID 7 from source Nobody cannot be found. The following information was "
            u"included with the event:\r\nfirst\r\nsecond");
  platform::deregisterEventSource(system);
  platform::deregisterEventSource(unknown);
}

TEST_F(EventLogTest, StringsAndDataComeBackUnchanged) {
  const platform::EventSourceHandle source = platform::registerEventSource(nullptr, u"Tab\tSource");
  const std::vector<std::u16string> strings = {u"", u"tab\there", u"back\\slash\\t", u"lines\r\n\nend", u"\u00e9\u4e2d"};
  std::vector<uint8_t> data(256);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(report(source, platform::EVENTLOG_AUDIT_FAILURE, 0xFFFFFFFF, strings, data));
  const auto records = readAll(u"Application");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].source, u"Tab\tSource");
  EXPECT_EQ(records[0].strings, strings);
  EXPECT_EQ(records[0].data, data);
  EXPECT_EQ(records[0].eventId, 0xFFFFFFFFu);
  platform::deregisterEventSource(source);
}

TEST_F(EventLogTest, BadArguments) {
  EXPECT_EQ(platform::registerEventSource(u"otherhost", u"x"), nullptr);
  EXPECT_EQ(platform::lastError(), platform::ERROR_RPC_SERVER_UNAVAILABLE);
  EXPECT_EQ(platform::registerEventSource(nullptr, u""), nullptr);
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_PARAMETER);

  const platform::EventSourceHandle source = platform::registerEventSource(nullptr, u"x");
  const std::u16string tooLong(platform::kMaxEventStringChars + 1, u'a');
  const char16_t* nullString = nullptr;
  struct Case {
    const char* what;
    std::function<bool()> call;
    uint32_t error;
  } cases[] = {
      {"unknown type", [&] { return report(source, 3, 1, {}); }, platform::ERROR_INVALID_PARAMETER},
      {"string too long", [&] { return report(source, 4, 1, {tooLong}); }, platform::ERROR_INVALID_PARAMETER},
      {"null string", [&] { return platform::reportEvent(source, 4, 0, 1, nullptr, 1, 0, &nullString, nullptr); },
       platform::ERROR_INVALID_PARAMETER},
      {"strings missing", [&] { return platform::reportEvent(source, 4, 0, 1, nullptr, 2, 0, nullptr, nullptr); },
       platform::ERROR_INVALID_PARAMETER},
      {"too much data",
       [&] { return report(source, 4, 1, {}, std::vector<uint8_t>(platform::kMaxEventDataBytes + 1)); },
       platform::ERROR_INVALID_PARAMETER},
      {"bad handle", [&] { return report(reinterpret_cast<void*>(0x1234), 4, 1, {}); }, platform::ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.call()) << c.what;
    EXPECT_EQ(platform::lastError(), c.error) << c.what;
  }
  EXPECT_TRUE(readAll(u"Application").empty()) << "nothing of a refused event is written";
  EXPECT_TRUE(platform::deregisterEventSource(source));
  EXPECT_FALSE(platform::deregisterEventSource(source));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_HANDLE);
}

TEST_F(EventLogTest, AReaderTakesOnlyWholeRecordsAndContinuesWhereItStopped) {
  const platform::EventSourceHandle source = platform::registerEventSource(nullptr, u"x");
  ASSERT_TRUE(report(source, 4, 1, {u"one"}));
  uint64_t offset = 0;
  std::vector<EventLogRecord> records;
  ASSERT_EQ(platform::readEventLog(u"Application", offset, records), 0u);
  ASSERT_EQ(records.size(), 1u);
  const uint64_t afterFirst = offset;

  const auto file = platform::systemRoot() / "eventlog" / "Application.log";
  std::ofstream(file, std::ios::app) << "1\t2\t4\t0\t9\tx\t0";  // a record half written
  ASSERT_EQ(platform::readEventLog(u"Application", offset, records), 0u);
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(offset, afterFirst);
  std::ofstream(file, std::ios::app) << "\t\nnot a record\n";
  ASSERT_TRUE(report(source, 4, 2, {u"two"}));
  ASSERT_EQ(platform::readEventLog(u"Application", offset, records), 0u);
  ASSERT_EQ(records.size(), 2u) << "the completed record and the new one; the damaged line is skipped";
  EXPECT_EQ(records[0].eventId, 9u);
  EXPECT_EQ(records[1].strings, (std::vector<std::u16string>{u"two"}));
  platform::deregisterEventSource(source);
}

TEST_F(EventLogTest, WritersOfSeveralProcessesNeverMixTheirRecords) {
  constexpr int kWriters = 4;
  constexpr int kEach = 200;
  const std::u16string payload(2000, u'p');  // longer than a pipe's atomic write
  std::vector<std::unique_ptr<testing_support::ChildProcess>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(std::make_unique<testing_support::ChildProcess>([&payload, w] {
      const platform::EventSourceHandle source = platform::registerEventSource(nullptr, u"writer");
      for (int i = 0; i < kEach; ++i) {
        const std::u16string text = platform::toWide(std::to_string(w)) + payload;
        const char16_t* strings[] = {text.c_str()};
        if (!platform::reportEvent(source, 4, 0, static_cast<uint32_t>(i), nullptr, 1, 0, strings, nullptr)) return 1;
      }
      return 0;
    }));
  }
  for (auto& writer : writers) EXPECT_EQ(writer->wait(), 0);
  const auto records = readAll(u"Application");
  ASSERT_EQ(records.size(), static_cast<size_t>(kWriters * kEach));
  std::vector<int> next(kWriters, 0);
  for (const EventLogRecord& record : records) {
    ASSERT_EQ(record.strings.size(), 1u);
    const int writer = record.strings[0][0] - u'0';
    ASSERT_EQ(record.strings[0].substr(1), payload);
    EXPECT_EQ(record.eventId, static_cast<uint32_t>(next[writer]++)) << "each writer's records in its order";
  }
}

TEST(MessageTableTest, ReadFromTheProgramFile) {
  std::u16string program;
  ASSERT_EQ(platform::programPath(program), 0u);
  std::vector<platform::Message> messages;
  ASSERT_EQ(platform::loadMessageTable(platform::toUtf8(program), messages), 0u);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].id, 0x60070001u);
  EXPECT_EQ(messages[0].language, 1033u);
  EXPECT_EQ(messages[0].text, u"%1\r\n");
  EXPECT_EQ(messages[1].id, 0x40000010u);

  EXPECT_EQ(platform::loadMessageTable("/bin/sh", messages), 0u) << "a program without a table";
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(platform::loadMessageTable("/nonexistent", messages), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(platform::loadMessageTable("/etc/hostname", messages), platform::ERROR_INVALID_DATA);
}

TEST(MessageTableTest, FormatMessageText) {
  const std::vector<std::u16string> inserts = {u"one", u"two"};
  struct Case {
    std::u16string text;
    std::u16string expected;
  } cases[] = {
      {u"%1\r\n", u"one\r\n"},
      {u"%2-%1", u"two-one"},
      {u"%1!s! and %2!d!", u"one and two"},
      {u"%3 stays", u"%3 stays"},
      {u"a%nb%tc%rd", u"a\r\nb\tc\rd"},
      {u"100%% %. %!", u"100% . !"},
      {u"cut%0here", u"cut"},
      {u"trailing %", u"trailing %"},
      {u"%10", u"%10"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::formatMessageText(c.text, inserts), c.expected) << platform::toUtf8(c.text);
  }
}

}  // namespace
