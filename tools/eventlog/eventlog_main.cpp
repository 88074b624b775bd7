// eventlog: prints the emulated machine's event log, oldest first, and with
// -f follows it as events come.

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "tools/common/tool.h"

namespace {

using tool::Failure;
using tool::UsageError;

constexpr const char* kUsage = R"(Usage: eventlog [OPTIONS]

Prints the event log of the emulated machine, oldest first: time, type, source, event
identifier and text (continued on indented lines).

Options:
  -f, --follow      keep printing events as they are written, until interrupted
  --log NAME        only this log (Application, System, ...); every log by default
  -n, --last COUNT  only the last COUNT events (before following)
  --version         the program's version
  -h, --help        this text

The machine is the one under $WN_SYSTEM_ROOT. Exit codes: 0 success, 1 a failure, 2 a usage error.
)";

constexpr tool::OptionSpec kOptions[] = {
    {"-f", false}, {"--follow", false}, {"--log", true}, {"-n", true}, {"--last", true}};

std::string typeName(uint16_t type) {
  switch (type) {
    case platform::EVENTLOG_ERROR_TYPE:
      return "Error";
    case platform::EVENTLOG_WARNING_TYPE:
      return "Warning";
    case platform::EVENTLOG_INFORMATION_TYPE:
      return "Information";
    case platform::EVENTLOG_AUDIT_SUCCESS:
      return "Audit Success";
    case platform::EVENTLOG_AUDIT_FAILURE:
      return "Audit Failure";
    default:
      return "Success";
  }
}

std::string timeText(int64_t microseconds) {
  const time_t seconds = static_cast<time_t>(microseconds / 1000000);
  tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(microseconds % 1000000 / 1000));
  return text;
}

// The text's lines without carriage returns and trailing empty lines.
std::vector<std::string> linesOf(const std::u16string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (const char c : platform::toUtf8(text)) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  lines.push_back(current);
  while (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  return lines;
}

void print(const platform::EventLogRecord& record) {
  const std::vector<std::string> lines = linesOf(platform::eventMessageText(record));
  std::printf("%s  %-11s  %s  %u  %s\n", timeText(record.timeMicroseconds).c_str(), typeName(record.type).c_str(),
              platform::toUtf8(record.source).c_str(), record.eventId & 0xFFFF, lines[0].c_str());
  for (size_t i = 1; i < lines.size(); ++i) std::printf("    %s\n", lines[i].c_str());
}

// Reads what is new in each log since the last call, merged by time.
class LogReader {
 public:
  explicit LogReader(std::optional<std::u16string> onlyLog) : onlyLog_(std::move(onlyLog)) {}

  std::vector<platform::EventLogRecord> readNew() {
    std::vector<platform::EventLogRecord> all;
    const std::vector<std::u16string> logs =
        onlyLog_ ? std::vector<std::u16string>{*onlyLog_} : platform::eventLogNames();
    for (const std::u16string& log : logs) {
      std::vector<platform::EventLogRecord> records;
      if (const uint32_t error = platform::readEventLog(log, offsets_[log], records); error != 0) {
        throw Failure{"cannot read the " + platform::toUtf8(log) + " log: " + tool::statusText(error)};
      }
      all.insert(all.end(), records.begin(), records.end());
    }
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
      return a.timeMicroseconds < b.timeMicroseconds;
    });
    return all;
  }

 private:
  std::optional<std::u16string> onlyLog_;
  std::map<std::u16string, uint64_t> offsets_;
};

[[noreturn]] void follow(LogReader& reader) {
  const std::filesystem::path directory = platform::systemDirectory("eventlog");
  if (directory.empty()) throw Failure{"cannot open " + (platform::systemRoot() / "eventlog").string()};
  const platform::UniqueFd watch(::inotify_init1(IN_CLOEXEC));
  if (!watch.valid() ||
      ::inotify_add_watch(watch.get(), directory.c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO) < 0) {
    throw Failure{"cannot watch " + directory.string()};
  }
  for (;;) {
    for (const platform::EventLogRecord& record : reader.readNew()) print(record);
    std::fflush(stdout);
    char buffer[4096];
    pollfd p{watch.get(), POLLIN, 0};
    if (::poll(&p, 1, 1000) > 0) (void)::read(watch.get(), buffer, sizeof buffer);
  }
}

int runCommand(const tool::CommandLine& line) {
  if (!line.words().empty()) throw UsageError{"unexpected argument '" + line.words()[0] + "'"};
  if (line.has("-n") && line.has("--last")) throw UsageError{"-n and --last are the same option"};
  std::optional<uint32_t> last;
  if (const auto value = line.value("-n") ? line.value("-n") : line.value("--last")) {
    last = tool::decimalArgument(*value, "the count", 0, 1000000);
  }
  std::optional<std::u16string> onlyLog;
  if (const auto log = line.value("--log")) {
    if (log->empty()) throw UsageError{"--log needs a log name"};
    onlyLog = platform::toWide(*log);
  }
  tool::checkSystemRoot();
  LogReader reader(onlyLog);
  const std::vector<platform::EventLogRecord> records = reader.readNew();
  const size_t first = last && *last < records.size() ? records.size() - *last : 0;
  for (size_t i = first; i < records.size(); ++i) print(records[i]);
  if (line.has("-f") || line.has("--follow")) follow(reader);
  return tool::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) { return tool::run({"eventlog", kUsage, kOptions}, argc, argv, runCommand); }
