// reg: reads and changes the registry of the emulated machine from the
// command line, with the command syntax of the familiar Windows tool.

#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/common/tool.h"
#include "tools/reg/reg_data.h"
#include "tools/reg/reg_file.h"

using namespace platform;
using namespace regtool;

namespace {

constexpr const char* kUsage = R"(Usage:
  reg query  KEY [/v NAME | /ve] [/s]
  reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
  reg delete KEY [/v NAME | /ve | /va] [/f]
  reg export KEY FILE [/y]
  reg import FILE

KEY     HIVE\path\to\key; HIVE is HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU)
        or HKEY_CLASSES_ROOT (HKCR), in any case.
/v      the value NAME            /ve  the key's default (unnamed) value
/va     all values of the key     /s   with all subkeys, recursively
/t      REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_QWORD, REG_NONE
/d      the data: text; hex digits for REG_BINARY and REG_NONE; a decimal or 0x number for
        REG_DWORD and REG_QWORD; items separated by \0 for REG_MULTI_SZ
/f      do not ask: overwrite an existing value (add), delete without confirmation (delete)
/y      overwrite an existing export file
Switches may also be written -v, -ve, ... The registry lives under $WN_SYSTEM_ROOT.
export writes a UTF-8 text file close to the .reg format; import applies such a file
completely or, when any line is wrong, not at all.
)";

using tool::Failure;
using tool::UsageError;

struct SwitchSpec {
  const char* name;
  bool takesArgument;
};

constexpr SwitchSpec kSwitches[] = {{"v", true}, {"ve", false}, {"va", false}, {"s", false},
                                    {"t", true}, {"d", true},   {"f", false},  {"y", false}};

struct Arguments {
  std::vector<std::string> positional;
  std::set<std::string> flags;
  std::optional<std::string> value;  // /v
  std::optional<std::string> type;   // /t
  std::optional<std::string> data;   // /d

  bool has(const std::string& flag) const { return flags.count(flag) != 0; }
};

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isHelp(const std::string& arg) { return arg == "-h" || arg == "--help" || arg == "/?" || arg == "-?"; }

const SwitchSpec* findSwitch(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return nullptr;
  const std::string name = lower(arg.substr(1));
  for (const SwitchSpec& spec : kSwitches) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

// Splits the arguments after the command. `allowed` names the switches the
// command takes; a path that looks like a switch but is none stays positional.
Arguments parseArguments(const std::string& command, const std::vector<std::string>& args,
                         const std::set<std::string>& allowed) {
  Arguments out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const SwitchSpec* spec = findSwitch(arg);
    if (spec == nullptr) {
      if ((arg[0] == '/' || arg[0] == '-') && command != "export" && command != "import") {
        throw UsageError{"unknown switch '" + arg + "' (see reg -h)"};
      }
      out.positional.push_back(arg);
      continue;
    }
    const std::string name = spec->name;
    if (allowed.count(name) == 0) throw UsageError{"switch /" + name + " is not valid for reg " + command};
    if (out.has(name)) throw UsageError{"switch /" + name + " is given twice"};
    out.flags.insert(name);
    if (!spec->takesArgument) continue;
    if (i + 1 >= args.size()) throw UsageError{"switch /" + name + " needs an argument"};
    const std::string& argument = args[++i];
    if (name == "v") out.value = argument;
    if (name == "t") out.type = argument;
    if (name == "d") out.data = argument;
  }
  const int valueSelectors = out.has("v") + out.has("ve") + out.has("va");
  if (valueSelectors > 1) throw UsageError{"use only one of /v, /ve and /va"};
  return out;
}

void expectPositional(const Arguments& args, size_t count, const char* what) {
  if (args.positional.size() != count) throw UsageError{std::string("expected ") + what + " (see reg -h)"};
}

// Text from the command line must be UTF-8: the registry stores it as UTF-16.
void checkUtf8(const std::string& text, const char* what) {
  if (platform::invalidUtf8Offset(text) != std::string::npos) throw UsageError{std::string(what) + " is not valid UTF-8"};
}

KeyPath keyArgument(const std::string& text) {
  KeyPath key;
  std::string error;
  checkUtf8(text, "the key");
  if (!parseKeyPath(text, key, error)) throw UsageError{error};
  return key;
}

void check(uint32_t result, const std::string& what) {
  if (result != ERROR_SUCCESS) throw Failure{what + ": " + errorText(result)};
}

RegistryKey openKey(const KeyPath& key, uint32_t access) {
  RegistryKey opened;
  check(RegistryKey::open(key.hive, key.path, access, opened), "cannot open " + keyPathText(key));
  return opened;
}

std::u16string selectedValueName(const Arguments& args) {
  if (!args.value) return {};
  checkUtf8(*args.value, "the value name");
  const std::u16string name = toWide(*args.value);
  if (const std::string error = valueNameError(name); !error.empty()) throw UsageError{error};
  return name;
}

std::string valueLabel(std::u16string_view name) {
  return name.empty() ? std::string("(Default)") : toUtf8(name);
}

void printValue(std::u16string_view name, uint32_t type, const std::vector<uint8_t>& data) {
  std::cout << "    " << valueLabel(name) << "    " << typeName(type) << "    " << formatQueryData(type, data)
            << "\n";
}

std::vector<std::u16string> subKeyNames(const RegistryKey& key, const KeyPath& path) {
  std::vector<std::u16string> names;
  std::u16string name;
  uint32_t result = ERROR_SUCCESS;
  while ((result = key.enumSubKey(static_cast<uint32_t>(names.size()), name)) == ERROR_SUCCESS) {
    names.push_back(name);
  }
  if (result != ERROR_NO_MORE_ITEMS) check(result, "cannot list the subkeys of " + keyPathText(path));
  return names;
}

// Prints the key's values (only `only` when given); returns how many.
int printValues(const RegistryKey& key, const KeyPath& path, const std::u16string* only) {
  int printed = 0;
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  uint32_t result = ERROR_SUCCESS;
  for (uint32_t i = 0; (result = key.enumValue(i, name, &type, &data)) == ERROR_SUCCESS; ++i) {
    if (only != nullptr && foldCase(name) != foldCase(*only)) continue;
    if (printed == 0) std::cout << "\n" << keyPathText(path) << "\n";
    printValue(name, type, data);
    ++printed;
  }
  if (result != ERROR_NO_MORE_ITEMS) check(result, "cannot list the values of " + keyPathText(path));
  return printed;
}

int queryRecursive(const RegistryKey& key, const KeyPath& path, const std::u16string* only) {
  int found = printValues(key, path, only);
  if (found == 0 && only == nullptr) std::cout << "\n" << keyPathText(path) << "\n";
  for (const std::u16string& name : subKeyNames(key, path)) {
    RegistryKey child;
    check(key.openSubKey(name, KEY_READ, child), "cannot open " + keyPathText(childPath(path, name)));
    found += queryRecursive(child, childPath(path, name), only);
  }
  return found;
}

int commandQuery(const std::vector<std::string>& rawArgs) {
  const Arguments args = parseArguments("query", rawArgs, {"v", "ve", "s"});
  expectPositional(args, 1, "one KEY");
  const KeyPath path = keyArgument(args.positional[0]);
  const RegistryKey key = openKey(path, KEY_READ);
  const bool oneValue = args.has("v") || args.has("ve");
  const std::u16string name = selectedValueName(args);

  if (args.has("s")) {
    const int found = queryRecursive(key, path, oneValue ? &name : nullptr);
    if (oneValue && found == 0) {
      throw Failure{"no value " + valueLabel(name) + " in " + keyPathText(path) + " or below it"};
    }
  } else if (oneValue) {
    if (printValues(key, path, &name) == 0) {
      throw Failure{"cannot read " + valueLabel(name) + " in " + keyPathText(path) + ": " +
                    errorText(ERROR_FILE_NOT_FOUND)};
    }
  } else {
    if (printValues(key, path, nullptr) == 0) std::cout << "\n" << keyPathText(path) << "\n";
    const std::vector<std::u16string> names = subKeyNames(key, path);
    if (!names.empty()) std::cout << "\n";
    for (const std::u16string& child : names) std::cout << keyPathText(childPath(path, child)) << "\n";
  }
  std::cout << "\n";
  return 0;
}

int commandAdd(const std::vector<std::string>& rawArgs) {
  const Arguments args = parseArguments("add", rawArgs, {"v", "ve", "t", "d", "f"});
  expectPositional(args, 1, "one KEY");
  const KeyPath path = keyArgument(args.positional[0]);
  const bool withValue = args.has("v") || args.has("ve");
  if ((args.type || args.data) && !withValue) throw UsageError{"/t and /d need /v NAME or /ve"};

  uint32_t type = REG_SZ;
  if (args.type && !parseTypeName(*args.type, type)) {
    throw UsageError{"unknown type '" + *args.type +
                  "' (use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_QWORD or REG_NONE)"};
  }
  const bool number = type == REG_DWORD || type == REG_QWORD;
  if (args.data) checkUtf8(*args.data, "the data");
  std::vector<uint8_t> data;
  std::string dataError;
  if (!parseCommandData(type, args.data.value_or(number ? "0" : ""), data, dataError)) throw UsageError{dataError};

  const std::u16string name = selectedValueName(args);
  const bool force = args.has("f");
  const uint32_t result = runRegistryBatch([&] {
    RegistryKey key;
    uint32_t step = RegistryKey::create(path.hive, path.path, KEY_ALL_ACCESS, key);
    if (step != ERROR_SUCCESS || !withValue) return step;
    if (!force) {
      uint32_t size = 0;
      step = key.queryValue(name, nullptr, nullptr, &size);
      if (step == ERROR_SUCCESS) return ERROR_ALREADY_EXISTS;
      if (step != ERROR_FILE_NOT_FOUND) return step;
    }
    return key.setValue(name, type, data.data(), static_cast<uint32_t>(data.size()));
  });
  if (result == ERROR_ALREADY_EXISTS) {
    throw Failure{"the value " + valueLabel(name) + " already exists in " + keyPathText(path) +
                  "; add /f to overwrite it"};
  }
  check(result, "cannot add to " + keyPathText(path));
  std::cout << "The operation completed successfully.\n";
  return 0;
}

void confirm(const std::string& question) {
  std::cout << question << " (Yes/No) " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) answer.clear();
  answer = lower(answer);
  if (answer != "y" && answer != "yes") throw Failure{"cancelled; nothing was deleted (use /f to skip the question)"};
}

int commandDelete(const std::vector<std::string>& rawArgs) {
  const Arguments args = parseArguments("delete", rawArgs, {"v", "ve", "va", "f"});
  expectPositional(args, 1, "one KEY");
  const KeyPath path = keyArgument(args.positional[0]);
  const bool oneValue = args.has("v") || args.has("ve");
  const std::u16string name = selectedValueName(args);
  const std::string keyText = keyPathText(path);

  if (!oneValue && !args.has("va") && path.path.empty()) throw UsageError{"a whole hive cannot be deleted"};
  const RegistryKey key = openKey(path, KEY_ALL_ACCESS);
  if (!args.has("f")) {
    if (oneValue) confirm("Delete the registry value " + valueLabel(name) + " in " + keyText + "?");
    else if (args.has("va")) confirm("Delete all values of the registry key " + keyText + "?");
    else confirm("Permanently delete the registry key " + keyText + " with all its subkeys?");
  }

  if (oneValue) {
    check(key.deleteValue(name), "cannot delete " + valueLabel(name) + " in " + keyText);
  } else if (args.has("va")) {
    check(runRegistryBatch([&] {
            std::u16string valueName;
            uint32_t step = ERROR_SUCCESS;
            while ((step = key.enumValue(0, valueName)) == ERROR_SUCCESS) {
              if (step = key.deleteValue(valueName); step != ERROR_SUCCESS) return step;
            }
            return step == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : step;
          }),
          "cannot delete the values of " + keyText);
  } else {
    check(RegistryKey::deleteTree(path.hive, path.path), "cannot delete " + keyText);
  }
  std::cout << "The operation completed successfully.\n";
  return 0;
}

int commandExport(const std::vector<std::string>& rawArgs) {
  const Arguments args = parseArguments("export", rawArgs, {"y"});
  expectPositional(args, 2, "KEY and FILE");
  const KeyPath path = keyArgument(args.positional[0]);
  const std::string& file = args.positional[1];
  if (!args.has("y") && std::filesystem::exists(file)) {
    throw Failure{"the file " + file + " exists; add /y to overwrite it"};
  }
  std::string text;
  check(exportKey(path, text), "cannot export " + keyPathText(path));
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw Failure{"cannot write " + file};
  std::cout << "The operation completed successfully.\n";
  return 0;
}

int commandImport(const std::vector<std::string>& rawArgs) {
  const Arguments args = parseArguments("import", rawArgs, {});
  expectPositional(args, 1, "one FILE");
  const std::string& file = args.positional[0];
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) throw Failure{"cannot read " + file + ": it is a directory"};
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Failure{"cannot read " + file + ": " + std::strerror(errno)};
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw Failure{"cannot read " + file};
  std::vector<ImportOperation> operations;
  std::string problem;
  if (!parseImport(content.str(), operations, problem)) {
    throw Failure{file + ": " + problem + "; nothing was imported"};
  }
  if (applyImport(operations, problem) != ERROR_SUCCESS) {
    throw Failure{file + ": " + problem + "; nothing was imported"};
  }
  std::cout << "The operation completed successfully.\n";
  return 0;
}

int run(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (isHelp(arg)) {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << tool::versionText("reg") << "\n";
      return 0;
    }
  }
  if (args.empty()) throw UsageError{"no command given (query, add, delete, export or import)"};
  tool::checkSystemRoot();
  const std::string command = lower(args[0]);
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "query") return commandQuery(rest);
  if (command == "add") return commandAdd(rest);
  if (command == "delete") return commandDelete(rest);
  if (command == "export") return commandExport(rest);
  if (command == "import") return commandImport(rest);
  throw UsageError{"unknown command '" + args[0] + "' (use query, add, delete, export or import; reg -h for help)"};
}

}  // namespace

int main(int argc, char** argv) {
  return tool::runGuarded("reg", [&] {
    const int result = run(std::vector<std::string>(argv + 1, argv + argc));
    std::cout.flush();
    return result;
  });
}
