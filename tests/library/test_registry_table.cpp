// ProcessRegistryTable and ReadDeviceSettings against the platform registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RegistryTable.h"
#include "qio/platform/registry.h"

namespace qio::library {
namespace {

using platform::kLocalMachine;

constexpr const char* kKey = "SOFTWARE\\QioLibraryTest";

class RegistryTableTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::RegClearAll(); }

  static void Import(const std::string& text) {
    std::string error;
    ASSERT_TRUE(platform::RegImportText(text, &error)) << error;
  }

  static std::vector<std::uint8_t> RawValue(const char* key, const char* name, std::uint32_t* type) {
    platform::RegKey k = 0;
    EXPECT_EQ(platform::RegOpenKey(kLocalMachine, key, &k), 0u);
    std::uint8_t data[256];
    std::uint32_t size = sizeof data;
    EXPECT_EQ(platform::RegQueryValue(k, name, type, data, &size), 0u);
    platform::RegCloseKey(k);
    return std::vector<std::uint8_t>(data, data + size);
  }
};

TEST_F(RegistryTableTest, ReadStopsAtTheFirstMissingValueKeepingEarlierOnes) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\QioLibraryTest]\n\"A\"=dword:11\n\"C\"=dword:33\n");
  std::uint32_t a = 0, b = 0xBBBB, c = 0xCCCC;
  const RegistryValue table[] = {{"A", platform::kRegDword, 4, &a},
                                 {"B", platform::kRegDword, 4, &b},
                                 {"C", platform::kRegDword, 4, &c},
                                 {nullptr, 0, 0, nullptr}};
  EXPECT_FALSE(ProcessRegistryTable(kKey, table, RegistryMode::Read, false));
  EXPECT_EQ(a, 0x11u);
  EXPECT_EQ(b, 0xBBBBu);
  EXPECT_EQ(c, 0xCCCCu);  // never reached
}

TEST_F(RegistryTableTest, ReadFailsForAValueLargerThanItsRowAndForAMissingKey) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\QioLibraryTest]\n\"Bytes\"=hex:01,02,03,04\n");
  std::uint8_t three[3] = {9, 9, 9};
  const RegistryValue table[] = {{"Bytes", platform::kRegBinary, 3, three}, {nullptr, 0, 0, nullptr}};
  EXPECT_FALSE(ProcessRegistryTable(kKey, table, RegistryMode::Read, false));
  EXPECT_EQ(three[0], 9);
  EXPECT_FALSE(ProcessRegistryTable("SOFTWARE\\Absent", table, RegistryMode::Read, false));
  EXPECT_FALSE(ProcessRegistryTable(nullptr, table, RegistryMode::Read, false));
  EXPECT_FALSE(ProcessRegistryTable(kKey, nullptr, RegistryMode::Read, false));
}

TEST_F(RegistryTableTest, WriteSizesFollowTheType) {
  std::uint32_t number = 0x12345678;
  char16_t text[16] = u"Q621:";
  char16_t multi[16] = {u'a', 0, u'b', u'c', 0, 0, u'x', u'x'};
  std::uint8_t bytes[3] = {0, 1, 4};
  const RegistryValue table[] = {{"Number", platform::kRegDword, 4, &number},
                                 {"Text", platform::kRegString, sizeof text, text},
                                 {"Multi", platform::kRegMultiString, sizeof multi, multi},
                                 {"Bytes", platform::kRegBinary, 3, bytes},
                                 {nullptr, 0, 0, nullptr}};
  ASSERT_TRUE(ProcessRegistryTable(kKey, table, RegistryMode::Write, true));
  std::uint32_t type = 0;
  EXPECT_EQ(RawValue(kKey, "Number", &type), (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(RawValue(kKey, "Text", &type).size(), 12u);  // (5 + 1) * 2
  EXPECT_EQ(type, platform::kRegString);
  EXPECT_EQ(RawValue(kKey, "Multi", &type),
            (std::vector<std::uint8_t>{'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}));
  EXPECT_EQ(RawValue(kKey, "Bytes", &type), (std::vector<std::uint8_t>{0, 1, 4}));
  EXPECT_EQ(type, platform::kRegBinary);
}

TEST_F(RegistryTableTest, WriteWithoutOverwriteLeavesAnExistingKeyAlone) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\QioLibraryTest]\n\"Number\"=dword:1\n");
  std::uint32_t number = 2;
  const RegistryValue table[] = {{"Number", platform::kRegDword, 4, &number}, {nullptr, 0, 0, nullptr}};
  EXPECT_TRUE(ProcessRegistryTable(kKey, table, RegistryMode::Write, false));
  std::uint32_t type = 0;
  EXPECT_EQ(RawValue(kKey, "Number", &type)[0], 1);
  EXPECT_TRUE(ProcessRegistryTable(kKey, table, RegistryMode::Write, true));
  EXPECT_EQ(RawValue(kKey, "Number", &type)[0], 2);
  // Absent key: written even without the flag.
  EXPECT_TRUE(ProcessRegistryTable("SOFTWARE\\QioNew", table, RegistryMode::Write, false));
  EXPECT_EQ(RawValue("SOFTWARE\\QioNew", "Number", &type)[0], 2);
}

TEST_F(RegistryTableTest, WriteRefusesOtherTypesAndUnterminatedStrings) {
  std::uint32_t number = 1;
  const RegistryValue expand[] = {{"X", platform::kRegExpandString, 4, &number}, {nullptr, 0, 0, nullptr}};
  EXPECT_FALSE(ProcessRegistryTable(kKey, expand, RegistryMode::Write, true));
  char16_t full[2] = {u'a', u'b'};
  const RegistryValue unterminated[] = {{"S", platform::kRegString, sizeof full, full}, {nullptr, 0, 0, nullptr}};
  EXPECT_FALSE(ProcessRegistryTable(kKey, unterminated, RegistryMode::Write, true));
}

// ---- ReadDeviceSettings ------------------------------------------------------

constexpr const char* kDevice1 = R"([HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\ZQS5162S\Device001]
"BoardID"=dword:a6
"AllowConflicts"=dword:1
"DeviceIndex"=dword:0
"BaseAddress"=dword:300
"IoPortCount"=dword:40
"Irq"=dword:5
"TimerClock"=dword:14
"DigPortCfg"=hex:00,01,04
"CallName"="Q621:"
)";

TEST_F(RegistryTableTest, SettingsComeFromTheDeviceSubkey) {
  EXPECT_EQ(DeviceKeyPath(1), "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device001");
  Import(kDevice1);
  DeviceSettings s{};
  ASSERT_TRUE(ReadDeviceSettings(1, s));
  EXPECT_EQ(s.boardId, 166u);
  EXPECT_EQ(s.baseAddress, 0x300u);
  EXPECT_EQ(s.ioPortCount, 0x40u);
  EXPECT_EQ(s.irq, 5u);
  EXPECT_EQ(s.digPortCfg[2], 4);
  EXPECT_EQ(CallNameUtf8(s), "Q621:");
  ASSERT_NE(s.features, nullptr);
  EXPECT_EQ(s.features->diChannels, 24);
  EXPECT_FALSE(ReadDeviceSettings(2, s));
}

TEST_F(RegistryTableTest, PrefillSurvivesOnlyWhereTheStoredValueIsShorter) {
  std::string text = kDevice1;
  text.replace(text.find("\"IoPortCount\"=dword:40"), 22, "\"IoPortCount\"=hex:10");
  text.replace(text.find("\"DigPortCfg\"=hex:00,01,04"), 25, "\"DigPortCfg\"=hex:00");
  Import(text);
  DeviceSettings s{};
  ASSERT_TRUE(ReadDeviceSettings(1, s));
  EXPECT_EQ(s.ioPortCount, 0x10u);  // one byte stored: it replaces the low byte of the prefill
  EXPECT_EQ(s.digPortCfg[0], 0);
  EXPECT_EQ(s.digPortCfg[1], 1);  // prefilled
  EXPECT_EQ(s.digPortCfg[2], 1);
}

TEST_F(RegistryTableTest, MissingOrOversizedValuesAndOtherBoardsFail) {
  std::string noCallName = kDevice1;
  noCallName.erase(noCallName.find("\"CallName\""));
  Import(noCallName);
  DeviceSettings s{};
  EXPECT_FALSE(ReadDeviceSettings(1, s));

  platform::RegClearAll();
  std::string longName = kDevice1;
  longName.replace(longName.find("Q621:"), 5, "ABCDEFGHIJ");  // 11 units with the terminator
  Import(longName);
  EXPECT_FALSE(ReadDeviceSettings(1, s));

  platform::RegClearAll();
  std::string otherBoard = kDevice1;
  otherBoard.replace(otherBoard.find("dword:a6"), 8, "dword:a5");
  Import(otherBoard);
  EXPECT_FALSE(ReadDeviceSettings(1, s));
}

TEST_F(RegistryTableTest, NineCharacterCallNameFitsItsField) {
  std::string text = kDevice1;
  text.replace(text.find("Q621:"), 5, "ABCDEFGH:");
  Import(text);
  DeviceSettings s{};
  ASSERT_TRUE(ReadDeviceSettings(1, s));
  EXPECT_EQ(CallNameUtf8(s), "ABCDEFGH:");
}

}  // namespace
}  // namespace qio::library
