// Runs the built reg program against a private system root and checks its
// output, its exit code and what it left in the registry.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/test_system_root.h"

using namespace platform;
using testing_support::TestSystemRoot;

namespace {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Every key and value of all hives as text, to compare the registry before and after.
void dumpKey(const RegistryKey& key, const std::string& path, std::map<std::string, std::string>& out) {
  out[path] = "";
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  for (uint32_t i = 0; key.enumValue(i, name, &type, &data) == ERROR_SUCCESS; ++i) {
    out[path + "|" + toUtf8(name)] = std::to_string(type) + ":" + std::string(data.begin(), data.end());
  }
  for (uint32_t i = 0; key.enumSubKey(i, name) == ERROR_SUCCESS; ++i) {
    RegistryKey child;
    ASSERT_EQ(key.openSubKey(name, KEY_READ, child), ERROR_SUCCESS);
    dumpKey(child, path + "\\" + toUtf8(name), out);
  }
}

std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> out;
  for (const RegistryHive hive : {RegistryHive::LocalMachine, RegistryHive::CurrentUser, RegistryHive::ClassesRoot}) {
    RegistryKey root;
    EXPECT_EQ(RegistryKey::open(hive, u"", KEY_READ, root), ERROR_SUCCESS);
    dumpKey(root, toUtf8(registryHiveName(hive)), out);
  }
  return out;
}

class RegTool : public ::testing::Test {
 protected:
  ~RegTool() override { closeRegistry(); }

  // Runs reg with `args`; `input` is its standard input.
  ToolRun reg(const std::vector<std::string>& args, const std::string& input = "") {
    const std::filesystem::path in = root_.path() / "stdin.txt";
    const std::filesystem::path out = root_.path() / "stdout.txt";
    const std::filesystem::path err = root_.path() / "stderr.txt";
    writeFile(in, input);
    std::vector<char*> argv;
    std::string program = REG_TOOL;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
      const int inFd = ::open(in.c_str(), O_RDONLY);
      const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(inFd, 0);
      ::dup2(outFd, 1);
      ::dup2(errFd, 2);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
  }

  std::filesystem::path file(const std::string& name) const { return root_.path() / name; }

  TestSystemRoot root_;
};

#define EXPECT_SUCCEEDS(run)            \
  do {                                  \
    const ToolRun result_ = (run);      \
    EXPECT_EQ(result_.exitCode, 0) << result_.err; \
    EXPECT_EQ(result_.err, "");         \
  } while (false)

TEST_F(RegTool, HelpAndUsage) {
  const ToolRun help = reg({"-h"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("reg query"), std::string::npos);
  EXPECT_EQ(reg({"/?"}).exitCode, 0);

  const ToolRun none = reg({});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("no command given"), std::string::npos);
  EXPECT_NE(none.err.find("Run 'reg -h' for the usage."), std::string::npos);

  const ToolRun unknown = reg({"frobnicate", "HKLM\\X"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos);

  const ToolRun version = reg({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("reg ", 0), 0u) << version.out;
}

TEST_F(RegTool, AddQueryAndDeleteValues) {
  EXPECT_SUCCEEDS(reg({"add", "HKLM\\Software\\Tool", "/v", "Name", "/d", "C:\\dir \"x\""}));
  EXPECT_SUCCEEDS(reg({"add", "hklm\\software\\tool", "-v", "Count", "-t", "REG_DWORD", "-d", "0x2a"}));
  EXPECT_SUCCEEDS(reg({"add", "HKEY_LOCAL_MACHINE\\Software\\Tool", "/ve", "/d", "default"}));
  EXPECT_SUCCEEDS(reg({"add", "HKLM\\Software\\Tool\\Sub", "/v", "List", "/t", "reg_multi_sz", "/d", "a\\0b"}));
  EXPECT_SUCCEEDS(reg({"add", "HKLM\\Software\\Tool\\Sub", "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff10"}));
  EXPECT_SUCCEEDS(reg({"add", "HKLM\\Software\\Tool\\Sub", "/v", "Big", "/t", "REG_QWORD", "/d", "4294967296"}));
  EXPECT_SUCCEEDS(reg({"add", "HKLM\\Software\\Tool\\Sub", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%R%\\b"}));
  EXPECT_SUCCEEDS(reg({"add", "HKCU\\Software\\Empty"}));

  RegistryKey key;
  ASSERT_EQ(RegistryKey::open(RegistryHive::LocalMachine, u"Software\\Tool", KEY_READ, key), ERROR_SUCCESS);
  std::u16string text;
  uint32_t dword = 0;
  EXPECT_EQ(key.getString(u"Name", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"C:\\dir \"x\"");
  EXPECT_EQ(key.getString(u"", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"default");
  EXPECT_EQ(key.getDword(u"Count", dword), ERROR_SUCCESS);
  EXPECT_EQ(dword, 42u);
  RegistryKey sub;
  ASSERT_EQ(key.openSubKey(u"Sub", KEY_READ, sub), ERROR_SUCCESS);
  std::vector<std::u16string> list;
  EXPECT_EQ(sub.getMultiString(u"List", list), ERROR_SUCCESS);
  EXPECT_EQ(list, (std::vector<std::u16string>{u"a", u"b"}));
  std::vector<uint8_t> blob;
  EXPECT_EQ(sub.getBinary(u"Blob", blob), ERROR_SUCCESS);
  EXPECT_EQ(blob, (std::vector<uint8_t>{0x00, 0xFF, 0x10}));
  uint64_t qword = 0;
  EXPECT_EQ(sub.getQword(u"Big", qword), ERROR_SUCCESS);
  EXPECT_EQ(qword, 4294967296ull);
  RegistryKey empty;
  EXPECT_EQ(RegistryKey::open(RegistryHive::CurrentUser, u"Software\\Empty", KEY_READ, empty), ERROR_SUCCESS);

  const ToolRun one = reg({"query", "HKLM\\Software\\Tool", "/v", "COUNT"});
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_NE(one.out.find("HKEY_LOCAL_MACHINE\\Software\\Tool\n    Count    REG_DWORD    0x2a"), std::string::npos)
      << one.out;

  const ToolRun all = reg({"query", "HKLM\\Software\\Tool", "/s"});
  EXPECT_EQ(all.exitCode, 0);
  for (const char* line : {"    (Default)    REG_SZ    default", "    Name    REG_SZ    C:\\dir \"x\"",
                           "HKEY_LOCAL_MACHINE\\Software\\Tool\\Sub", "    List    REG_MULTI_SZ    a\\0b",
                           "    Blob    REG_BINARY    00FF10", "    Big    REG_QWORD    0x100000000",
                           "    Path    REG_EXPAND_SZ    %R%\\b"}) {
    EXPECT_NE(all.out.find(line), std::string::npos) << line << "\n" << all.out;
  }
  const ToolRun flat = reg({"query", "HKLM\\Software\\Tool"});
  EXPECT_NE(flat.out.find("HKEY_LOCAL_MACHINE\\Software\\Tool\\Sub"), std::string::npos);
  EXPECT_EQ(flat.out.find("Blob"), std::string::npos);

  // Overwriting needs /f.
  const ToolRun refused = reg({"add", "HKLM\\Software\\Tool", "/v", "Count", "/t", "REG_DWORD", "/d", "7"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("/f"), std::string::npos);
  EXPECT_SUCCEEDS(reg({"add", "HKLM\\Software\\Tool", "/v", "Count", "/t", "REG_DWORD", "/d", "7", "/f"}));
  EXPECT_EQ(key.getDword(u"Count", dword), ERROR_SUCCESS);
  EXPECT_EQ(dword, 7u);

  // Deleting asks unless /f.
  const ToolRun declined = reg({"delete", "HKLM\\Software\\Tool", "/v", "Name"}, "no\n");
  EXPECT_EQ(declined.exitCode, 1);
  EXPECT_EQ(key.getString(u"Name", text), ERROR_SUCCESS);
  EXPECT_SUCCEEDS(reg({"delete", "HKLM\\Software\\Tool", "/v", "Name"}, "yes\n"));
  EXPECT_EQ(key.getString(u"Name", text), ERROR_FILE_NOT_FOUND);
  EXPECT_SUCCEEDS(reg({"delete", "HKLM\\Software\\Tool", "/ve", "/f"}));
  EXPECT_EQ(key.getString(u"", text), ERROR_FILE_NOT_FOUND);
  EXPECT_SUCCEEDS(reg({"delete", "HKLM\\Software\\Tool\\Sub", "/va", "/f"}));
  uint32_t subKeys = 0;
  uint32_t values = 9;
  EXPECT_EQ(sub.queryInfo(&subKeys, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, 0u);

  const ToolRun missing = reg({"query", "HKLM\\Software\\Tool", "/v", "Name"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos);

  EXPECT_SUCCEEDS(reg({"delete", "HKLM\\Software\\Tool", "/f"}));
  EXPECT_EQ(RegistryKey::open(RegistryHive::LocalMachine, u"Software\\Tool", KEY_READ, key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegTool, ExportAndImportRoundTrip) {
  {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(RegistryHive::LocalMachine, u"Software\\Round\\Trip", KEY_ALL_ACCESS, key),
              ERROR_SUCCESS);
    ASSERT_EQ(key.setString(u"", u"default"), ERROR_SUCCESS);
    ASSERT_EQ(key.setString(u"Quoted \"name\" \\", u"back\\slash \"quote\" \u00E9\u20AC"), ERROR_SUCCESS);
    ASSERT_EQ(key.setString(u"Lines", u"one\ntwo"), ERROR_SUCCESS);  // not a one-line string: raw bytes
    ASSERT_EQ(key.setString(u"Expand", u"%ROOT%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(key.setMultiString(u"Multi", {u"a", u"b,c", u"\"d\""}), ERROR_SUCCESS);
    ASSERT_EQ(key.setMultiString(u"NoItems", {}), ERROR_SUCCESS);
    ASSERT_EQ(key.setDword(u"Dword", 0xFFFFFFFF), ERROR_SUCCESS);
    ASSERT_EQ(key.setQword(u"Qword", 0x0102030405060708ull), ERROR_SUCCESS);
    ASSERT_EQ(key.setBinary(u"Binary", {0, 1, 0xAB}), ERROR_SUCCESS);
    ASSERT_EQ(key.setBinary(u"EmptyBinary", {}), ERROR_SUCCESS);
    const uint8_t odd[] = {'x', 0, 'y'};
    ASSERT_EQ(key.setValue(u"OddString", REG_SZ, odd, 3), ERROR_SUCCESS);
    ASSERT_EQ(key.setValue(u"None", REG_NONE, odd, 3), ERROR_SUCCESS);
    RegistryKey deeper;
    ASSERT_EQ(key.createSubKey(u"Deeper\\Empty", KEY_ALL_ACCESS, deeper), ERROR_SUCCESS);
    RegistryKey other;
    ASSERT_EQ(RegistryKey::create(RegistryHive::ClassesRoot, u"CLSID\\{X}", KEY_ALL_ACCESS, other), ERROR_SUCCESS);
    ASSERT_EQ(other.setString(u"", u"elsewhere"), ERROR_SUCCESS);
  }
  const auto before = snapshot();
  const std::filesystem::path exported = file("round.reg");
  EXPECT_SUCCEEDS(reg({"export", "HKLM\\Software\\Round", exported.string()}));
  const std::string text = readFile(exported);
  EXPECT_EQ(text.rfind("WN Registry File 1.0\n", 0), 0u) << text;
  for (const char* line : {"[HKEY_LOCAL_MACHINE\\Software\\Round\\Trip]", "@=\"default\"",
                           "\"Quoted \\\"name\\\" \\\\\"=\"back\\\\slash \\\"quote\\\" \u00E9\u20AC\"",
                           "\"Expand\"=expand:\"%ROOT%\\\\x\"", "\"Multi\"=multi:\"a\",\"b,c\",\"\\\"d\\\"\"",
                           "\"NoItems\"=multi:\n", "\"Dword\"=dword:ffffffff", "\"Qword\"=qword:0102030405060708",
                           "\"Binary\"=hex:00,01,ab", "\"EmptyBinary\"=hex:\n", "\"Lines\"=hex(1):",
                           "\"OddString\"=hex(1):78,00,79", "\"None\"=hex(0):78,00,79",
                           "[HKEY_LOCAL_MACHINE\\Software\\Round\\Trip\\Deeper\\Empty]"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  // Exporting over an existing file needs /y.
  EXPECT_EQ(reg({"export", "HKLM\\Software\\Round", exported.string()}).exitCode, 1);
  EXPECT_SUCCEEDS(reg({"export", "HKLM\\Software\\Round", exported.string(), "/y"}));

  ASSERT_EQ(RegistryKey::deleteTree(RegistryHive::LocalMachine, u"Software\\Round"), ERROR_SUCCESS);
  EXPECT_NE(snapshot(), before);
  EXPECT_SUCCEEDS(reg({"import", exported.string()}));
  EXPECT_EQ(snapshot(), before);
}

TEST_F(RegTool, ImportDeletesKeysAndValues) {
  EXPECT_SUCCEEDS(reg({"add", "HKCU\\Software\\Old\\Child", "/v", "X", "/d", "1"}));
  EXPECT_SUCCEEDS(reg({"add", "HKCU\\Software\\Keep", "/v", "Drop", "/d", "1"}));
  EXPECT_SUCCEEDS(reg({"add", "HKCU\\Software\\Keep", "/v", "Stay", "/d", "1"}));
  const std::filesystem::path changes = file("changes.reg");
  writeFile(changes,
            "\xEF\xBB\xBFWN Registry File 1.0\r\n"
            "; a comment\r\n"
            "[-HKEY_CURRENT_USER\\Software\\Old]\r\n"
            "[-HKCU\\Software\\NeverExisted]\r\n"
            "[HKEY_CURRENT_USER\\Software\\Keep]\r\n"
            "\"Drop\"=-\r\n"
            "\"Missing\"=-\r\n"
            "\"Long\"=hex:01,02,\\\r\n"
            "  03,04\r\n");
  EXPECT_SUCCEEDS(reg({"import", changes.string()}));

  RegistryKey key;
  EXPECT_EQ(RegistryKey::open(RegistryHive::CurrentUser, u"Software\\Old", KEY_READ, key), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegistryKey::open(RegistryHive::CurrentUser, u"Software\\Keep", KEY_READ, key), ERROR_SUCCESS);
  std::u16string text;
  EXPECT_EQ(key.getString(u"Drop", text), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.getString(u"Stay", text), ERROR_SUCCESS);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(key.getBinary(u"Long", bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(RegTool, BadCommandsFailAndChangeNothing) {
  EXPECT_SUCCEEDS(reg({"add", "HKLM\\Software\\Stable", "/v", "V", "/t", "REG_DWORD", "/d", "5"}));
  const auto before = snapshot();
  struct Case {
    std::vector<std::string> args;
    std::string message;
    int exitCode = 2;  // a usage error unless the registry or a file says otherwise
  };
  std::filesystem::create_directories(file("directory.reg"));
  writeFile(file("latin1.reg"), "WN Registry File 1.0\n[HKLM\\Software\\New]\n\"Name\"=\"caf\xE9\"\n");
  writeFile(file("longname.reg"),
            "WN Registry File 1.0\n[HKLM\\Software\\New]\n\"" + std::string(16384, 'n') + "\"=\"x\"\n");
  const std::vector<Case> cases = {
      {{"add", "HKXY\\Software\\New", "/v", "V", "/d", "x"}, "unknown hive 'HKXY'"},
      {{"add", "HKLM\\Software\\New", "/v", std::string(16384, 'v'), "/d", "x"},
       "the value name is 16384 characters long; a value name has at most 16383"},
      {{"add", "HKLM\\Software\\" + std::string(256, 'k')}, "is 256 characters long; a key name has at most 255"},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/d", "caf\xE9"}, "the data is not valid UTF-8"},
      {{"add", "HKLM\\Software\\New\xC0\xAF"}, "the key is not valid UTF-8"},
      {{"import", file("directory.reg").string()}, "it is a directory", 1},
      {{"import", file("latin1.reg").string()}, "line 3: the file is not UTF-8 text (byte 0xE9)", 1},
      {{"import", file("longname.reg").string()}, "line 3: the value name is 16384 characters long", 1},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/t", "REG_WORD", "/d", "1"}, "unknown type 'REG_WORD'"},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/t", "REG_DWORD", "/d", "twelve"}, "not 'twelve'"},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/t", "REG_DWORD", "/d", "4294967296"}, "not '4294967296'"},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/t", "REG_DWORD", "/d", "-1"}, "not '-1'"},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/t", "REG_QWORD", "/d", "0x"}, "not '0x'"},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/t", "REG_BINARY", "/d", "0g"}, "hex digits"},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/t", "REG_BINARY", "/d", "012"}, "even number"},
      {{"add", "HKLM\\Software\\New", "/v", "V", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"}, "empty items"},
      {{"add", "HKLM\\Software\\New", "/x"}, "unknown switch '/x'"},
      {{"add", "HKLM\\Software\\New", "/v", "A", "/ve"}, "only one of"},
      {{"add", "HKLM\\Software\\New", "/d", "orphan"}, "need /v"},
      {{"add", "HKLM\\Software\\New\\\\Twice"}, "empty key name"},
      {{"add", "HKLM\\Software\\Stable", "/v", "V", "/d", "text"}, "already exists", 1},
      {{"query", "HKLM\\Software\\Absent"},
       "The system cannot find the file specified. (system error 2); the registry key or value does not exist", 1},
      {{"delete", "HKLM\\Software\\Absent", "/f"}, "does not exist", 1},
      {{"delete", "HKLM", "/f"}, "whole hive"},
      {{"delete", "HKLM\\Software\\Stable", "/v", "Absent", "/f"}, "does not exist", 1},
      {{"export", "HKLM\\Software\\Absent", file("absent.reg").string()}, "does not exist", 1},
      {{"import", file("no-such-file.reg").string()}, "cannot read", 1},
  };
  for (const Case& c : cases) {
    const ToolRun run = reg(c.args);
    std::string command;
    for (const std::string& arg : c.args) command += arg + " ";
    EXPECT_EQ(run.exitCode, c.exitCode) << command;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << command.substr(0, 200) << "\n" << run.err.substr(0, 400);
    EXPECT_EQ(snapshot(), before) << command.substr(0, 200);
  }
}

TEST_F(RegTool, AMalformedImportChangesNothing) {
  EXPECT_SUCCEEDS(reg({"add", "HKLM\\Software\\Victim", "/v", "V", "/d", "original"}));
  const auto before = snapshot();
  // Every file starts with changes that would apply, then breaks on line 5.
  const std::string good =
      "WN Registry File 1.0\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Victim]\n"
      "\"V\"=\"changed\"\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Victim]\n";
  struct Case {
    std::string line;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"[HKEY_NOWHERE\\Software\\X]", "unknown hive 'HKEY_NOWHERE'"},
      {"\"V\"=\"value outside a section\"", "a value must follow a [key] section"},
      {"garbage", "expected a [key] section"},
      {"[HKLM\\Software\\X]\n\"D\"=dword:xyz", "dword data must be 1 to 8 hex digits"},
      {"[HKLM\\Software\\X]\n\"D\"=dword:123456789", "dword data must be 1 to 8 hex digits"},
      {"[HKLM\\Software\\X]\n\"S\"=\"unterminated", "unterminated quoted string"},
      {"[HKLM\\Software\\X]\n\"S\"=\"bad \\n escape\"", "a backslash in a quoted string"},
      {"[HKLM\\Software\\X]\n\"B\"=hex:01,zz", "'zz' is not a hex byte"},
      {"[HKLM\\Software\\X]\n\"B\"=hex(4):01,02", "hex(4) data must be 4 bytes"},
      {"[HKLM\\Software\\X]\n\"S\"=text", "unrecognised value data"},
      {"[-HKLM]", "a whole hive cannot be deleted"},
  };
  const std::filesystem::path path = file("bad.reg");
  for (const Case& c : cases) {
    writeFile(path, good + c.line + "\n[HKLM\\Software\\After]\n");
    const int badLine = c.line.find('\n') == std::string::npos ? 5 : 6;
    const ToolRun run = reg({"import", path.string()});
    EXPECT_EQ(run.exitCode, 1) << c.line;
    EXPECT_NE(run.err.find("line " + std::to_string(badLine) + ": " + c.message), std::string::npos)
        << c.line << "\n" << run.err;
    EXPECT_EQ(snapshot(), before) << c.line;
  }

  writeFile(path, "[HKLM\\Software\\X]\n");
  const ToolRun headerless = reg({"import", path.string()});
  EXPECT_EQ(headerless.exitCode, 1);
  EXPECT_NE(headerless.err.find("line 1: the file does not start with the header"), std::string::npos)
      << headerless.err;
  EXPECT_EQ(snapshot(), before);
}

}  // namespace
