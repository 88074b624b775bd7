// Counted strings and registry queries of the kernel run-time library.

#include <gtest/gtest.h>

#include <string>

#include "platform/kernel/wdm/rtl.h"
#include "platform/registry.h"
#include "tests/support/test_system_root.h"

namespace platform::wdm {
namespace {

std::u16string text(const UnicodeString& string) { return std::u16string(string.buffer, string.length / 2); }

TEST(CountedStrings, AppendsWhatFitsAndRefusesWhatDoesNot) {
  char16_t buffer[7] = {};  // 14 bytes: six characters and the terminator
  UnicodeString name{0, sizeof buffer, buffer};
  EXPECT_EQ(rtlAppendUnicodeToString(&name, u"Midi0"), STATUS_SUCCESS);
  EXPECT_EQ(rtlAppendUnicodeToString(&name, u"123"), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(text(name), u"Midi0");  // unchanged by the refused append
  EXPECT_EQ(rtlAppendUnicodeToString(&name, u"9"), STATUS_SUCCESS);
  EXPECT_EQ(text(name), u"Midi09");
  EXPECT_EQ(buffer[6], 0);
}

TEST(CountedStrings, IntegersInTheBasesAsked) {
  char16_t buffer[34] = {};
  UnicodeString number{0, sizeof buffer, buffer};
  EXPECT_EQ(rtlIntegerToUnicodeString(1234, 10, &number), STATUS_SUCCESS);
  EXPECT_EQ(text(number), u"1234");
  EXPECT_EQ(rtlIntegerToUnicodeString(255, 16, &number), STATUS_SUCCESS);
  EXPECT_EQ(text(number), u"FF");
  EXPECT_EQ(rtlIntegerToUnicodeString(5, 2, &number), STATUS_SUCCESS);
  EXPECT_EQ(text(number), u"101");
  EXPECT_EQ(rtlIntegerToUnicodeString(5, 7, &number), STATUS_INVALID_PARAMETER);
  char16_t small[2] = {};
  UnicodeString tooSmall{0, sizeof small, small};
  EXPECT_EQ(rtlIntegerToUnicodeString(123, 10, &tooSmall), STATUS_BUFFER_OVERFLOW);
}

class RegistryQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(RegistryHive::LocalMachine, u"System\\CurrentControlSet\\Services\\WnTest\\Parameters",
                                  KEY_ALL_ACCESS, key),
              0u);
    ASSERT_EQ(key.setDword(u"Stored", 7), 0u);
    ASSERT_EQ(key.setString(u"Text", u"seven"), 0u);
  }

  NtStatus query(const char16_t* subkey, const char16_t* value, uint32_t* result, uint32_t flags = 0) {
    const uint32_t fallback = 99;
    RtlQueryRegistryTable table[3] = {};
    table[0].flags = RTL_QUERY_REGISTRY_SUBKEY;
    table[0].name = subkey;
    table[1].flags = RTL_QUERY_REGISTRY_DIRECT | flags;
    table[1].name = value;
    table[1].entryContext = result;
    if (flags == 0) {
      table[1].defaultType = REG_DWORD;
      table[1].defaultData = &fallback;
      table[1].defaultLength = 4;
    }
    return rtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\WnTest",
                                  table, nullptr, nullptr);
  }

  testing_support::TestSystemRoot root;
};

TEST_F(RegistryQueryTest, ReadsAStoredValueOrTheDefault) {
  uint32_t value = 0;
  EXPECT_EQ(query(u"Parameters", u"Stored", &value), STATUS_SUCCESS);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(query(u"Parameters", u"Missing", &value), STATUS_SUCCESS);
  EXPECT_EQ(value, 99u);
}

TEST_F(RegistryQueryTest, FailsForAMissingKeyARequiredValueOrAnotherType) {
  uint32_t value = 0;
  EXPECT_EQ(query(u"Other", u"Stored", &value), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(query(u"Parameters", u"Missing", &value, RTL_QUERY_REGISTRY_REQUIRED), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(query(u"Parameters", u"Text", &value), STATUS_OBJECT_TYPE_MISMATCH);
}

TEST_F(RegistryQueryTest, WritesBelowTheServicesKeyCreatingIt) {
  const uint32_t value = 0x0505;
  ASSERT_EQ(rtlWriteRegistryValue(RTL_REGISTRY_SERVICES, u"WnNew\\Parameters", u"Ports", REG_DWORD, &value, 4),
            STATUS_SUCCESS);
  RegistryKey key;
  ASSERT_EQ(RegistryKey::open(RegistryHive::LocalMachine, u"System\\CurrentControlSet\\Services\\WnNew\\Parameters",
                              KEY_READ, key),
            0u);
  uint32_t stored = 0;
  EXPECT_EQ(key.getDword(u"Ports", stored), 0u);
  EXPECT_EQ(stored, 0x505u);
  EXPECT_EQ(rtlWriteRegistryValue(7, u"x", u"y", REG_DWORD, &value, 4), STATUS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace platform::wdm
