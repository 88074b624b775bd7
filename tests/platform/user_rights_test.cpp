// Administrator rights: a standard user reads HKEY_LOCAL_MACHINE but cannot
// change it, by any path; the shell's "runas" starts a program with the
// rights; the machine's system version.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "platform/errors.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/shell_execute.h"
#include "platform/system_version.h"
#include "platform/user_rights.h"
#include "tests/support/test_system_root.h"

using namespace platform;

namespace {

class UserRights : public ::testing::Test {
 protected:
  ~UserRights() override {
    ::unsetenv(kAdministratorVariable);
    closeRegistry();
  }
  testing_support::TestSystemRoot root_;
};

TEST_F(UserRights, AStandardUserCannotChangeTheLocalMachineByAnyPath) {
  RegistryKey prepared;
  ASSERT_EQ(RegistryKey::create(RegistryHive::LocalMachine, u"Software\\Maker\\Program", KEY_WRITE, prepared), 0u);
  ASSERT_EQ(prepared.setDword(u"Value", 1), 0u);
  EXPECT_TRUE(isAdministrator());

  ::setenv(kAdministratorVariable, "0", 1);
  EXPECT_FALSE(isAdministrator());
  RegistryKey key;
  EXPECT_EQ(RegistryKey::open(RegistryHive::LocalMachine, u"Software\\Maker\\Program", KEY_SET_VALUE, key),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegistryKey::create(RegistryHive::LocalMachine, u"Software\\Other", KEY_WRITE, key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegistryKey::deleteTree(RegistryHive::LocalMachine, u"Software\\Maker"), ERROR_ACCESS_DENIED);
  RegistryKey software;
  ASSERT_EQ(RegistryKey::open(RegistryHive::LocalMachine, u"Software", KEY_READ, software), 0u);
  EXPECT_EQ(software.openSubKey(u"Maker\\Program", KEY_WRITE, key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(software.createSubKey(u"Other", KEY_WRITE, key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(software.deleteSubTree(u"Maker"), ERROR_ACCESS_DENIED);

  // Reading stays allowed, and the user's own hive is the user's.
  ASSERT_EQ(RegistryKey::open(RegistryHive::LocalMachine, u"Software\\Maker\\Program", KEY_READ, key), 0u);
  uint32_t value = 0;
  EXPECT_EQ(key.getDword(u"Value", value), 0u);
  EXPECT_EQ(RegistryKey::create(RegistryHive::CurrentUser, u"Software\\Maker", KEY_WRITE, key), 0u);

  ::setenv(kAdministratorVariable, "1", 1);
  EXPECT_EQ(software.openSubKey(u"Maker\\Program", KEY_WRITE, key), 0u);
}

TEST_F(UserRights, RunasStartsAProgramAsAnAdministratorAndOtherVerbsAreRefused) {
  const std::string marker = (root_.path() / "environment").string();
  ::setenv(kAdministratorVariable, "0", 1);
  ASSERT_EQ(shellExecute(u"runas", u"/bin/sh",
                         u"-c \"env > " + std::u16string(marker.begin(), marker.end()) + u"\"", 1),
            0u);
  for (int i = 0; i < 200 && std::system(("grep -q '^WN_ADMINISTRATOR=1$' " + marker).c_str()) != 0; ++i) {
    ::usleep(10000);
  }
  EXPECT_EQ(std::system(("grep -q '^WN_ADMINISTRATOR=1$' " + marker).c_str()), 0);
  EXPECT_EQ(shellExecute(u"print", u"/bin/true", u"", 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(shellExecute(u"open", u"/nonexistent/program", u"", 1), ERROR_FILE_NOT_FOUND);
}

TEST_F(UserRights, TheSystemVersionIsTheMachinesOrTen) {
  EXPECT_EQ(systemVersion().major, 10u);
  ASSERT_EQ(setSystemVersion({5, 0}), 0u);
  EXPECT_EQ(systemVersion().major, 5u);
  EXPECT_EQ(systemVersion().minor, 0u);
}

}  // namespace
