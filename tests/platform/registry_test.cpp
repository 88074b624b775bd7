#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system_root.h"

using namespace platform;
using testing_support::ChildProcess;
using testing_support::TestSystemRoot;

namespace {

constexpr RegistryHive kHklm = RegistryHive::LocalMachine;

std::u16string numbered(std::u16string prefix, int number) {
  for (const char c : std::to_string(number)) prefix.push_back(static_cast<char16_t>(c));
  return prefix;
}

class Registry : public ::testing::Test {
 protected:
  ~Registry() override { closeRegistry(); }

  RegistryKey createKey(std::u16string_view path, uint32_t access = KEY_ALL_ACCESS) {
    RegistryKey key;
    EXPECT_EQ(RegistryKey::create(kHklm, path, access, key), ERROR_SUCCESS);
    return key;
  }

  static std::vector<std::u16string> subKeyNames(const RegistryKey& key) {
    std::vector<std::u16string> names;
    std::u16string name;
    while (key.enumSubKey(static_cast<uint32_t>(names.size()), name) == ERROR_SUCCESS) names.push_back(name);
    return names;
  }

  static std::vector<std::u16string> valueNames(const RegistryKey& key) {
    std::vector<std::u16string> names;
    std::u16string name;
    while (key.enumValue(static_cast<uint32_t>(names.size()), name) == ERROR_SUCCESS) names.push_back(name);
    return names;
  }

  TestSystemRoot root_;
};

TEST_F(Registry, CreateReportsWhetherTheKeyExisted) {
  RegistryKey key;
  bool existed = true;
  ASSERT_EQ(RegistryKey::create(kHklm, u"Software\\Vendor\\App", KEY_ALL_ACCESS, key, &existed), ERROR_SUCCESS);
  EXPECT_FALSE(existed);
  EXPECT_TRUE(key.isOpen());

  RegistryKey again;
  ASSERT_EQ(RegistryKey::create(kHklm, u"Software\\Vendor\\App", KEY_ALL_ACCESS, again, &existed), ERROR_SUCCESS);
  EXPECT_TRUE(existed);

  RegistryKey intermediate;
  EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\Vendor", KEY_READ, intermediate), ERROR_SUCCESS);
  RegistryKey child;
  EXPECT_EQ(intermediate.openSubKey(u"App", KEY_READ, child), ERROR_SUCCESS);
}

TEST_F(Registry, OpenOfAMissingKeyFails) {
  createKey(u"Software\\Present");
  RegistryKey key;
  EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\Absent", KEY_READ, key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\Absent\\Deeper", KEY_READ, key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegistryKey::open(RegistryHive::CurrentUser, u"Software\\Present", KEY_READ, key), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.isOpen());
  EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\\\Present", KEY_READ, key), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, NamesAreCaseInsensitiveAndKeepTheirCase) {
  RegistryKey created = createKey(u"Software\\MixedCase");
  ASSERT_EQ(created.setDword(u"Volume", 7), ERROR_SUCCESS);

  RegistryKey upper;
  ASSERT_EQ(RegistryKey::open(kHklm, u"SOFTWARE\\mixedCASE", KEY_ALL_ACCESS, upper), ERROR_SUCCESS);
  uint32_t value = 0;
  EXPECT_EQ(upper.getDword(u"VOLUME", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);
  ASSERT_EQ(upper.setDword(u"volume", 8), ERROR_SUCCESS);

  bool existed = false;
  RegistryKey same;
  ASSERT_EQ(RegistryKey::create(kHklm, u"software\\MIXEDCASE", KEY_READ, same, &existed), ERROR_SUCCESS);
  EXPECT_TRUE(existed);

  RegistryKey software;
  ASSERT_EQ(RegistryKey::open(kHklm, u"software", KEY_READ, software), ERROR_SUCCESS);
  EXPECT_EQ(subKeyNames(software), std::vector<std::u16string>{u"MixedCase"});
  EXPECT_EQ(valueNames(created), std::vector<std::u16string>{u"Volume"});
  EXPECT_EQ(created.getDword(u"Volume", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 8u);
}

TEST_F(Registry, RawValuesOfEveryTypeRoundTrip) {
  RegistryKey key = createKey(u"Software\\Types");
  struct Case {
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  const std::vector<Case> cases = {
      {u"", REG_SZ, {'d', 0, 0, 0}},
      {u"None", REG_NONE, {}},
      {u"Text", REG_SZ, {'h', 0, 'i', 0, 0, 0}},
      {u"Path", REG_EXPAND_SZ, {'%', 0, 'X', 0, '%', 0, 0, 0}},
      {u"Blob", REG_BINARY, {0x00, 0xFF, 0x10}},
      {u"EmptyBlob", REG_BINARY, {}},
      {u"Count", REG_DWORD, {0x2A, 0, 0, 0}},
      {u"List", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
      {u"Big", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(key.setValue(c.name, c.type, c.data.data(), static_cast<uint32_t>(c.data.size())), ERROR_SUCCESS);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    uint32_t type = 99;
    std::vector<uint8_t> data(64);
    auto size = static_cast<uint32_t>(data.size());
    ASSERT_EQ(key.queryValue(c.name, &type, data.data(), &size), ERROR_SUCCESS);
    data.resize(size);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.data);
  }
}

TEST_F(Registry, TypedAccessorsRoundTrip) {
  RegistryKey key = createKey(u"Software\\Typed");
  ASSERT_EQ(key.setDword(u"D", 0xDEADBEEF), ERROR_SUCCESS);
  ASSERT_EQ(key.setQword(u"Q", 0x0123456789ABCDEFull), ERROR_SUCCESS);
  ASSERT_EQ(key.setString(u"S", u"Gr\u00FC\u00DFe \u20AC"), ERROR_SUCCESS);
  ASSERT_EQ(key.setString(u"E", u"%ROOT%\\bin", REG_EXPAND_SZ), ERROR_SUCCESS);
  ASSERT_EQ(key.setString(u"", u"default"), ERROR_SUCCESS);
  ASSERT_EQ(key.setMultiString(u"M", {u"one", u"two", u"three"}), ERROR_SUCCESS);
  ASSERT_EQ(key.setMultiString(u"EmptyList", {}), ERROR_SUCCESS);
  ASSERT_EQ(key.setBinary(u"B", {1, 2, 3}), ERROR_SUCCESS);

  uint32_t dword = 0;
  uint64_t qword = 0;
  std::u16string text;
  std::vector<std::u16string> list{u"stale"};
  std::vector<uint8_t> bytes;
  EXPECT_EQ(key.getDword(u"D", dword), ERROR_SUCCESS);
  EXPECT_EQ(dword, 0xDEADBEEFu);
  EXPECT_EQ(key.getQword(u"Q", qword), ERROR_SUCCESS);
  EXPECT_EQ(qword, 0x0123456789ABCDEFull);
  EXPECT_EQ(key.getString(u"S", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"Gr\u00FC\u00DFe \u20AC");
  EXPECT_EQ(key.getString(u"E", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"%ROOT%\\bin");
  EXPECT_EQ(key.getString(u"", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"default");
  EXPECT_EQ(key.getMultiString(u"M", list), ERROR_SUCCESS);
  EXPECT_EQ(list, (std::vector<std::u16string>{u"one", u"two", u"three"}));
  EXPECT_EQ(key.getMultiString(u"EmptyList", list), ERROR_SUCCESS);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(key.getBinary(u"B", bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));

  // Wrong type or shape for the getter.
  EXPECT_EQ(key.getDword(u"S", dword), ERROR_INVALID_DATA);
  EXPECT_EQ(key.getString(u"D", text), ERROR_INVALID_DATA);
  EXPECT_EQ(key.getQword(u"D", qword), ERROR_INVALID_DATA);
  EXPECT_EQ(key.setMultiString(u"M", {u"a", u""}), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, StringsAreStoredAsUtf16WithTheTerminator) {
  RegistryKey key = createKey(u"Software\\Strings");
  ASSERT_EQ(key.setString(u"S", u"ab"), ERROR_SUCCESS);
  ASSERT_EQ(key.setMultiString(u"M", {u"a", u"b"}), ERROR_SUCCESS);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(key.getBinary(u"S", bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'a', 0, 'b', 0, 0, 0}));
  ASSERT_EQ(key.getBinary(u"M", bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
}

TEST_F(Registry, QueryValueReportsTheNeededSize) {
  RegistryKey key = createKey(u"Software\\Sizes");
  ASSERT_EQ(key.setString(u"S", u"hello"), ERROR_SUCCESS);  // 12 bytes with terminator

  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(key.queryValue(u"S", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(type, REG_SZ);

  std::vector<uint8_t> buffer(16, 0xCC);
  size = 4;
  EXPECT_EQ(key.queryValue(u"S", &type, buffer.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 12u);

  size = 12;
  EXPECT_EQ(key.queryValue(u"S", nullptr, buffer.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::memcmp(buffer.data(), "h\0e\0l\0l\0o\0\0", 12), 0);
  EXPECT_EQ(buffer[12], 0xCC);

  EXPECT_EQ(key.queryValue(u"S", nullptr, buffer.data(), nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, WrongSizedNumbersAreRejected) {
  RegistryKey key = createKey(u"Software\\Numbers");
  const uint8_t bytes[9] = {};
  EXPECT_EQ(key.setValue(u"D", REG_DWORD, bytes, 3), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key.setValue(u"D", REG_DWORD, bytes, 8), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key.setValue(u"Q", REG_QWORD, bytes, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key.setValue(u"Q", REG_QWORD, bytes, 9), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key.setValue(u"N", REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(valueNames(key).empty());
}

TEST_F(Registry, MissingValuesAndKeysAreNotFound) {
  RegistryKey key = createKey(u"Software\\Missing");
  uint32_t size = 0;
  uint32_t dword = 0;
  EXPECT_EQ(key.queryValue(u"Nothing", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.queryValue(u"", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.getDword(u"Nothing", dword), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.deleteValue(u"Nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegistryKey::deleteKey(kHklm, u"Software\\Missing\\Child"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegistryKey::deleteTree(kHklm, u"Software\\Nowhere"), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(key.setDword(u"Gone", 1), ERROR_SUCCESS);
  ASSERT_EQ(key.deleteValue(u"GONE"), ERROR_SUCCESS);
  EXPECT_EQ(key.getDword(u"Gone", dword), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, DeletingAKeyWithSubkeysIsDenied) {
  RegistryKey parent = createKey(u"Software\\Tree");
  ASSERT_EQ(parent.setDword(u"Top", 1), ERROR_SUCCESS);
  RegistryKey child = createKey(u"Software\\Tree\\Child\\Grandchild");
  ASSERT_EQ(child.setDword(u"Deep", 2), ERROR_SUCCESS);

  EXPECT_EQ(RegistryKey::deleteKey(kHklm, u"Software\\Tree"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(parent.setDword(u"StillThere", 1), ERROR_SUCCESS);
  EXPECT_EQ(parent.deleteSubKey(u"Child\\Grandchild"), ERROR_SUCCESS);
  EXPECT_EQ(parent.deleteSubKey(u"Child"), ERROR_SUCCESS);
  EXPECT_TRUE(subKeyNames(parent).empty());
  EXPECT_EQ(parent.deleteSubKey(u""), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, DeleteTreeRemovesEverythingBelow) {
  createKey(u"Software\\Tree\\A\\B");
  RegistryKey b;
  ASSERT_EQ(RegistryKey::open(kHklm, u"Software\\Tree\\A\\B", KEY_ALL_ACCESS, b), ERROR_SUCCESS);
  ASSERT_EQ(b.setDword(u"V", 1), ERROR_SUCCESS);
  createKey(u"Software\\Keep");

  ASSERT_EQ(RegistryKey::deleteTree(kHklm, u"software\\tree"), ERROR_SUCCESS);
  RegistryKey key;
  EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\Tree", KEY_READ, key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\Keep", KEY_READ, key), ERROR_SUCCESS);

  // Re-created keys start empty: nothing of the old tree survives.
  RegistryKey recreated = createKey(u"Software\\Tree\\A\\B");
  uint32_t value = 0;
  EXPECT_EQ(recreated.getDword(u"V", value), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, AccessRightsOfTheOpenKeyAreEnforced) {
  createKey(u"Software\\Guarded")
      .setDword(u"V", 1);
  RegistryKey readOnly;
  ASSERT_EQ(RegistryKey::open(kHklm, u"Software\\Guarded", KEY_READ, readOnly), ERROR_SUCCESS);
  uint32_t value = 0;
  EXPECT_EQ(readOnly.getDword(u"V", value), ERROR_SUCCESS);
  EXPECT_EQ(readOnly.setDword(u"V", 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(readOnly.deleteValue(u"V"), ERROR_ACCESS_DENIED);
  RegistryKey sub;
  EXPECT_EQ(readOnly.createSubKey(u"New", KEY_READ, sub), ERROR_ACCESS_DENIED);

  RegistryKey writeOnly;
  ASSERT_EQ(RegistryKey::open(kHklm, u"Software\\Guarded", KEY_WRITE, writeOnly), ERROR_SUCCESS);
  EXPECT_EQ(writeOnly.getDword(u"V", value), ERROR_ACCESS_DENIED);
  std::u16string name;
  EXPECT_EQ(writeOnly.enumValue(0, name), ERROR_ACCESS_DENIED);
  EXPECT_EQ(writeOnly.setDword(u"V", 3), ERROR_SUCCESS);
  EXPECT_EQ(writeOnly.createSubKey(u"New", KEY_READ, sub), ERROR_SUCCESS);

  EXPECT_EQ(readOnly.getDword(u"V", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 3u);

  RegistryKey closed;
  EXPECT_EQ(closed.setDword(u"V", 1), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, EnumerationIsOrderedAndEndsWithNoMoreItems) {
  RegistryKey key = createKey(u"Software\\List");
  for (const char16_t* name : {u"gamma", u"Alpha", u"beta"}) {
    RegistryKey child;
    ASSERT_EQ(key.createSubKey(name, KEY_READ, child), ERROR_SUCCESS);
    ASSERT_EQ(key.setDword(name, 1), ERROR_SUCCESS);
  }
  const std::vector<std::u16string> expected = {u"Alpha", u"beta", u"gamma"};
  EXPECT_EQ(subKeyNames(key), expected);
  EXPECT_EQ(valueNames(key), expected);

  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  EXPECT_EQ(key.enumValue(1, name, &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(name, u"beta");
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(data, (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(key.enumSubKey(3, name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(key.enumValue(3, name), ERROR_NO_MORE_ITEMS);

  uint32_t subKeys = 0;
  uint32_t values = 0;
  EXPECT_EQ(key.queryInfo(&subKeys, &values), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(values, 3u);

  RegistryKey empty = createKey(u"Software\\Empty");
  EXPECT_EQ(empty.enumSubKey(0, name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(empty.enumValue(0, name), ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, AKeyDeletedWhileOpenReportsKeyDeleted) {
  RegistryKey stale = createKey(u"Software\\Doomed");
  ASSERT_EQ(stale.setDword(u"V", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegistryKey::deleteKey(kHklm, u"Software\\Doomed"), ERROR_SUCCESS);

  uint32_t value = 0;
  std::u16string name;
  RegistryKey sub;
  EXPECT_EQ(stale.getDword(u"V", value), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.getDword(u"Other", value), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.setDword(u"V", 2), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.deleteValue(u"V"), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.enumSubKey(0, name), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.enumValue(0, name), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.queryInfo(nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.createSubKey(u"Child", KEY_READ, sub), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.openSubKey(u"Child", KEY_READ, sub), ERROR_KEY_DELETED);
  EXPECT_EQ(stale.openSubKey(u"", KEY_READ, sub), ERROR_KEY_DELETED);

  // A new key of the same name is a different key.
  RegistryKey fresh = createKey(u"Software\\Doomed");
  EXPECT_EQ(stale.setDword(u"V", 2), ERROR_KEY_DELETED);
  EXPECT_EQ(fresh.getDword(u"V", value), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, KeysMoveBetweenOwners) {
  RegistryKey first = createKey(u"Software\\Moved");
  RegistryKey second(std::move(first));
  EXPECT_FALSE(first.isOpen());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(second.setDword(u"V", 1), ERROR_SUCCESS);
  first = std::move(second);
  EXPECT_TRUE(first.isOpen());
  first.close();
  EXPECT_EQ(first.setDword(u"V", 1), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, ABatchAppliesAllOrNothing) {
  RegistryKey key = createKey(u"Software\\Batch");
  const uint32_t failed = runRegistryBatch([&] {
    EXPECT_EQ(key.setDword(u"A", 1), ERROR_SUCCESS);
    RegistryKey sub;
    EXPECT_EQ(key.createSubKey(u"X\\Y", KEY_ALL_ACCESS, sub), ERROR_SUCCESS);
    EXPECT_EQ(sub.setDword(u"B", 2), ERROR_SUCCESS);
    return ERROR_INVALID_DATA;
  });
  EXPECT_EQ(failed, ERROR_INVALID_DATA);
  EXPECT_TRUE(valueNames(key).empty());
  EXPECT_TRUE(subKeyNames(key).empty());

  const uint32_t applied = runRegistryBatch([&] {
    uint32_t result = key.setDword(u"A", 1);
    if (result == ERROR_SUCCESS) result = key.setDword(u"B", 2);
    return result;
  });
  EXPECT_EQ(applied, ERROR_SUCCESS);
  EXPECT_EQ(valueNames(key), (std::vector<std::u16string>{u"A", u"B"}));
}

TEST_F(Registry, EachSystemRootHasItsOwnRegistry) {
  createKey(u"Software\\Outer");
  {
    TestSystemRoot inner;
    RegistryKey key;
    EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\Outer", KEY_READ, key), ERROR_FILE_NOT_FOUND);
    createKey(u"Software\\Inner");
  }
  RegistryKey key;
  EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\Outer", KEY_READ, key), ERROR_SUCCESS);
  EXPECT_EQ(RegistryKey::open(kHklm, u"Software\\Inner", KEY_READ, key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ThreadsShareTheRegistrySafely) {
  RegistryKey key = createKey(u"Software\\Threads");
  constexpr int kThreads = 4;
  constexpr int kValuesEach = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&key, t] {
      for (int i = 0; i < kValuesEach; ++i) {
        EXPECT_EQ(key.setDword(numbered(numbered(u"t", t) + u"_", i), static_cast<uint32_t>(i)), ERROR_SUCCESS);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(valueNames(key).size(), static_cast<size_t>(kThreads * kValuesEach));
}

// --- Several processes -------------------------------------------------------

TEST_F(Registry, ValuesWrittenByOneProcessAreReadByAnother) {
  createKey(u"Software\\Shared");  // the parent has its connection open before the fork
  ChildProcess writer([] {
    RegistryKey key;
    if (RegistryKey::create(kHklm, u"Software\\Shared\\FromChild", KEY_ALL_ACCESS, key) != ERROR_SUCCESS) return 1;
    return key.setString(u"Greeting", u"hello from the child") == ERROR_SUCCESS ? 0 : 2;
  });
  ASSERT_EQ(writer.wait(), 0);

  RegistryKey key;
  ASSERT_EQ(RegistryKey::open(kHklm, u"Software\\Shared\\FromChild", KEY_READ, key), ERROR_SUCCESS);
  std::u16string text;
  EXPECT_EQ(key.getString(u"Greeting", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"hello from the child");
}

TEST_F(Registry, AnAcknowledgedWriteSurvivesTheWriterBeingKilled) {
  ChildProcess writer([] {
    RegistryKey key;
    if (RegistryKey::create(kHklm, u"Software\\Durable", KEY_ALL_ACCESS, key) != ERROR_SUCCESS) return 1;
    if (key.setQword(u"Acknowledged", 0x1122334455667788ull) != ERROR_SUCCESS) return 2;
    ::raise(SIGKILL);
    return 3;
  });
  ASSERT_EQ(writer.wait(), 128 + SIGKILL);

  closeRegistry();
  RegistryKey key;
  ASSERT_EQ(RegistryKey::open(kHklm, u"Software\\Durable", KEY_READ, key), ERROR_SUCCESS);
  uint64_t value = 0;
  EXPECT_EQ(key.getQword(u"Acknowledged", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 0x1122334455667788ull);
}

TEST_F(Registry, ConcurrentWritersInTwoProcessesLoseNothing) {
  constexpr int kRounds = 300;
  auto body = [](char16_t tag) {
    return [tag] {
      RegistryKey key;
      if (RegistryKey::create(kHklm, u"Software\\Contended", KEY_ALL_ACCESS, key) != ERROR_SUCCESS) return 1;
      for (int i = 0; i < kRounds; ++i) {
        // A value of its own, and a read-modify-write of a shared counter.
        if (key.setDword(numbered(std::u16string(1, tag) + u"_", i), static_cast<uint32_t>(i)) != ERROR_SUCCESS) return 2;
        const uint32_t result = runRegistryBatch([&key] {
          uint32_t counter = 0;
          const uint32_t read = key.getDword(u"Counter", counter);
          if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) return read;
          return key.setDword(u"Counter", counter + 1);
        });
        if (result != ERROR_SUCCESS) return 3;
      }
      return 0;
    };
  };
  ChildProcess first(body(u'a'));
  ChildProcess second(body(u'b'));
  ASSERT_EQ(first.wait(), 0);
  ASSERT_EQ(second.wait(), 0);

  RegistryKey key;
  ASSERT_EQ(RegistryKey::open(kHklm, u"Software\\Contended", KEY_READ, key), ERROR_SUCCESS);
  uint32_t counter = 0;
  EXPECT_EQ(key.getDword(u"Counter", counter), ERROR_SUCCESS);
  EXPECT_EQ(counter, 2u * kRounds);
  EXPECT_EQ(valueNames(key).size(), 2u * kRounds + 1);
}

}  // namespace

TEST_F(Registry, NamesLongerThanTheRegistryAllowsAreRefused) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::create(RegistryHive::LocalMachine, u"Software\\Limits", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
  const std::u16string longestValue(kRegistryMaxValueNameLength, u'v');
  EXPECT_EQ(key.setDword(longestValue, 1), ERROR_SUCCESS);
  EXPECT_EQ(key.setDword(longestValue + u'v', 1), ERROR_INVALID_PARAMETER);
  RegistryKey child;
  EXPECT_EQ(key.createSubKey(std::u16string(kRegistryMaxKeyNameLength, u'k'), KEY_ALL_ACCESS, child), ERROR_SUCCESS);
  EXPECT_EQ(key.createSubKey(std::u16string(kRegistryMaxKeyNameLength + 1, u'k'), KEY_ALL_ACCESS, child),
            ERROR_INVALID_PARAMETER);
}
