#include <cstdio>
#include <exception>
#include <string>

#include "tools/common/tool.h"

#ifndef WN_VERSION
#define WN_VERSION "0"
#endif

namespace tool {

namespace {

bool isHelp(std::string_view word) { return word == "-h" || word == "--help" || word == "-?"; }

// "-6.5" and "-.5" are numbers, "-" alone is a word (standard input, say).
bool looksLikeOption(std::string_view word) {
  if (word.size() < 2 || word[0] != '-') return false;
  const char next = word[1];
  return !((next >= '0' && next <= '9') || next == '.');
}

const OptionSpec* findOption(std::span<const OptionSpec> options, std::string_view name) {
  for (const OptionSpec& option : options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

}  // namespace

CommandLine::CommandLine(int argc, const char* const* argv, std::span<const OptionSpec> options) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (optionsEnded || !looksLikeOption(word)) {
      words_.emplace_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
    } else if (isHelp(word)) {
      help_ = true;
    } else if (word == "--version") {
      version_ = true;
    } else {
      const size_t equals = word.find('=');
      const std::string_view name = word.substr(0, equals);
      const OptionSpec* spec = findOption(options, name);
      if (spec == nullptr) throw UsageError{"unknown option " + std::string(name)};
      if (has(name)) throw UsageError{"the option " + std::string(name) + " is given twice"};
      std::string value;
      if (spec->takesValue) {
        if (equals != std::string_view::npos) {
          value = word.substr(equals + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          throw UsageError{std::string(name) + " needs a value"};
        }
      } else if (equals != std::string_view::npos) {
        throw UsageError{"the option " + std::string(name) + " takes no value"};
      }
      options_.emplace_back(name, std::move(value));
    }
  }
}

bool CommandLine::has(std::string_view option) const {
  for (const auto& [name, value] : options_) {
    if (name == option) return true;
  }
  return false;
}

std::optional<std::string> CommandLine::value(std::string_view option) const {
  for (const auto& [name, value] : options_) {
    if (name == option) return value;
  }
  return std::nullopt;
}

std::string versionText(std::string_view name) { return std::string(name) + " " + WN_VERSION; }

void expectArguments(const std::vector<std::string>& words, size_t minimum, size_t maximum) {
  const size_t count = words.empty() ? 0 : words.size() - 1;
  if (count >= minimum && count <= maximum) return;
  const std::string command = words.empty() ? std::string("the command") : words[0];
  if (count < minimum) throw UsageError{command + ": missing arguments"};
  throw UsageError{command + ": too many arguments (unexpected '" + words[maximum + 1] + "')"};
}

int runGuarded(std::string_view name, const std::function<int()>& body) {
  const std::string program(name);
  try {
    return body();
  } catch (const UsageError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\nRun '%s -h' for the usage.\n", program.c_str(), error.message.c_str(),
                 program.c_str());
    return kExitUsage;
  } catch (const Failure& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program.c_str(), failure.message.c_str());
    return kExitFailure;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program.c_str(), error.what());
    return kExitFailure;
  }
}

int run(const ToolInfo& info, int argc, const char* const* argv,
        const std::function<int(const CommandLine&)>& body) {
  return runGuarded(info.name, [&] {
    const CommandLine line(argc, argv, info.options);
    if (line.helpRequested()) {
      std::fwrite(info.usage.data(), 1, info.usage.size(), stdout);
      return kExitSuccess;
    }
    if (line.versionRequested()) {
      std::printf("%s\n", versionText(info.name).c_str());
      return kExitSuccess;
    }
    return body(line);
  });
}

}  // namespace tool
