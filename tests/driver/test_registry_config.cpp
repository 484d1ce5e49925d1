// The registry access routine and the registration of a board, on the
// platform's registry.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/core/RegistryConfig.h"
#include "qio/platform/errors.h"
#include "qio/platform/registry.h"
#include "registry_text.h"

namespace qio::test {
namespace {

using driver::AccessRegistry;
using driver::RegistryEntry;
using driver::RegistryMode;

constexpr const char* kScratch = "Software\\QioTest";
constexpr const char* kService = "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S";
constexpr const char* kShared = "SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::RegClearAll(); }
  void TearDown() override { platform::RegClearAll(); }

  static void Import(std::string_view text) {
    std::string error;
    ASSERT_TRUE(platform::RegImportText(text, &error)) << error;
  }
  // Type and size of a value, or 0/0 when it is absent.
  static std::pair<std::uint32_t, std::uint32_t> TypeAndSize(const char* path, const char* name) {
    platform::RegKey key = 0;
    if (platform::RegOpenKey(platform::kLocalMachine, path, &key) != 0) return {0, 0};
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const std::uint32_t status = platform::RegQueryValue(key, name, &type, nullptr, &size);
    platform::RegCloseKey(key);
    return status == 0 ? std::pair{type, size} : std::pair{0u, 0u};
  }
  static std::uint32_t Dword(const std::string& path, const char* name) {
    platform::RegKey key = 0;
    std::uint32_t value = 0xFFFFFFFF;
    if (platform::RegOpenKey(platform::kLocalMachine, path, &key) != 0) return value;
    platform::RegQueryDword(key, name, &value);
    platform::RegCloseKey(key);
    return value;
  }
};

TEST_F(RegistryTest, WriteSizesFollowTheValueType) {
  char16_t text[32] = u"abc";
  std::uint32_t number = 0x12345678;
  std::uint8_t binary[3] = {1, 2, 3};
  char16_t multi[16] = {u'a', u'b', 0, u'c', 0, 0};
  RegistryEntry table[] = {
      {"Text", platform::kRegString, sizeof text, text},
      {"Number", platform::kRegDword, 0, &number},
      {"Binary", platform::kRegBinary, 3, binary},
      {"Multi", platform::kRegMultiString, sizeof multi, multi},
      {nullptr, 0, 0, nullptr},
  };
  ASSERT_TRUE(AccessRegistry(kScratch, table, RegistryMode::kWrite));
  EXPECT_EQ(TypeAndSize(kScratch, "Text"), (std::pair{platform::kRegString, 8u}));
  EXPECT_EQ(TypeAndSize(kScratch, "Number"), (std::pair{platform::kRegDword, 4u}));
  EXPECT_EQ(TypeAndSize(kScratch, "Binary"), (std::pair{platform::kRegBinary, 3u}));
  EXPECT_EQ(TypeAndSize(kScratch, "Multi"), (std::pair{platform::kRegMultiString, 12u}));
  EXPECT_EQ(SectionLines(platform::RegExportText(), kScratch),
            (std::vector<std::string>{"\"Text\"=\"abc\"", "\"Number\"=dword:12345678", "\"Binary\"=hex:01,02,03",
                                      "\"Multi\"=hex(7):61,00,62,00,00,00,63,00,00,00,00,00"}));
}

TEST_F(RegistryTest, UnterminatedStringIsWrittenWithATerminator) {
  char16_t name[3] = {u'Q', u'6', u'2'};
  RegistryEntry table[] = {{"Name", platform::kRegString, sizeof name, name}, {nullptr, 0, 0, nullptr}};
  ASSERT_TRUE(AccessRegistry(kScratch, table, RegistryMode::kWrite));
  EXPECT_EQ(TypeAndSize(kScratch, "Name"), (std::pair{platform::kRegString, 8u}));
}

TEST_F(RegistryTest, UnknownTypeEndsTheWrite) {
  std::uint32_t a = 1;
  std::uint32_t c = 3;
  RegistryEntry table[] = {
      {"A", platform::kRegDword, 4, &a},
      {"B", 99, 4, &a},
      {"C", platform::kRegDword, 4, &c},
      {nullptr, 0, 0, nullptr},
  };
  EXPECT_FALSE(AccessRegistry(kScratch, table, RegistryMode::kWrite));
  EXPECT_EQ(Dword(kScratch, "A"), 1u);
  EXPECT_EQ(TypeAndSize(kScratch, "C").first, 0u);
}

TEST_F(RegistryTest, NullNameEndsTheTable) {
  std::uint32_t a = 1;
  RegistryEntry table[] = {{"A", platform::kRegDword, 4, &a}, {nullptr, 0, 0, nullptr}, {"B", 99, 4, &a}};
  EXPECT_TRUE(AccessRegistry(kScratch, table, RegistryMode::kWrite));
}

TEST_F(RegistryTest, ReadStopsAtTheFirstMissingValue) {
  Import("[HKEY_LOCAL_MACHINE\\Software\\QioTest]\r\n\"A\"=dword:0000000a\r\n\"C\"=dword:0000000c\r\n");
  std::uint32_t a = 0;
  std::uint32_t b = 0xB;
  std::uint32_t c = 0xFF;
  RegistryEntry table[] = {
      {"A", platform::kRegNone, 4, &a},
      {"B", platform::kRegNone, 4, &b},
      {"C", platform::kRegNone, 4, &c},
      {nullptr, 0, 0, nullptr},
  };
  EXPECT_FALSE(AccessRegistry(kScratch, table, RegistryMode::kRead));
  EXPECT_EQ(a, 0xAu);
  EXPECT_EQ(table[0].type, platform::kRegDword) << "the type of a read value is reported";
  EXPECT_EQ(table[0].size, 4u);
  EXPECT_EQ(b, 0xBu);
  EXPECT_EQ(c, 0xFFu) << "values after the failure keep their old contents";
}

TEST_F(RegistryTest, ValueLargerThanItsAreaFailsTheRead) {
  Import("[HKEY_LOCAL_MACHINE\\Software\\QioTest]\r\n\"Name\"=\"ABCDEFGHIJK\"\r\n");
  char16_t name[10] = u"old";
  RegistryEntry table[] = {{"Name", platform::kRegString, sizeof name, name}, {nullptr, 0, 0, nullptr}};
  EXPECT_FALSE(AccessRegistry(kScratch, table, RegistryMode::kRead));
  EXPECT_EQ(std::u16string(name), u"old");
  EXPECT_FALSE(AccessRegistry("Software\\Missing", table, RegistryMode::kRead));
}

TEST_F(RegistryTest, WriteIfNewLeavesAnExistingKeyAlone) {
  Import("[HKEY_LOCAL_MACHINE\\Software\\QioTest]\r\n\"A\"=dword:00000001\r\n");
  std::uint32_t value = 2;
  RegistryEntry table[] = {{"A", platform::kRegDword, 4, &value}, {nullptr, 0, 0, nullptr}};
  EXPECT_TRUE(AccessRegistry(kScratch, table, RegistryMode::kWriteIfNew));
  EXPECT_EQ(Dword(kScratch, "A"), 1u);
  EXPECT_TRUE(AccessRegistry("Software\\QioTest\\New", table, RegistryMode::kWriteIfNew));
  EXPECT_EQ(Dword("Software\\QioTest\\New", "A"), 2u);
  EXPECT_TRUE(AccessRegistry(kScratch, table, RegistryMode::kWrite));
  EXPECT_EQ(Dword(kScratch, "A"), 2u);
}

TEST(DeviceNames, FormattedNameAndSubkeyNumbers) {
  EXPECT_EQ(driver::FormatDeviceName(0x300, 5), u"QIO-5162 IO=300H IRQ=5");
  EXPECT_LE(driver::FormatDeviceName(0xFFFFFFFF, 0x7FFFFFFF).size(), 40u);
  EXPECT_EQ(driver::ServiceSubkeyPath(7), "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device007");
  EXPECT_EQ(driver::ParseDeviceNumber("Device007"), 7);
  EXPECT_EQ(driver::ParseDeviceNumber("Device254x"), 254);
  EXPECT_EQ(driver::ParseDeviceNumber("Device"), -1);
  EXPECT_EQ(driver::ParseDeviceNumber("DeviceX1"), -1);
}

TEST_F(RegistryTest, NumberAssignmentSkipsNumbersInUse) {
  EXPECT_EQ(driver::AssignDeviceNumber(), 0) << "no shared list yet";
  Import(
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device000]\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device002]\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device300]\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Other001]\r\n");
  EXPECT_EQ(driver::AssignDeviceNumber(), 1);
}

TEST_F(RegistryTest, DeviceAbove254BlocksNothing) {
  Import("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device300]\r\n");
  EXPECT_EQ(driver::AssignDeviceNumber(), 0);
}

TEST_F(RegistryTest, FullSharedListGivesNumberZero) {
  std::string text;
  for (int n = 0; n <= 254; ++n) {
    char line[96];
    std::snprintf(line, sizeof line, "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device%03d]\r\n", n);
    text += line;
  }
  Import(text);
  EXPECT_EQ(driver::AssignDeviceNumber(), 0);
}

TEST_F(RegistryTest, LookUpNeedsBoardIdAndDeviceIndex) {
  Import(
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device003]\r\n"
      "\"DeviceIndex\"=dword:00000002\r\n\"BoardID\"=dword:000000a7\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device004]\r\n"
      "\"BoardID\"=dword:000000a6\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device005]\r\n"
      "\"DeviceIndex\"=dword:00000002\r\n\"BoardID\"=dword:000000a6\r\n");
  driver::DeviceContext ctx;
  ctx.boardId = 166;
  ctx.deviceIndex = 2;
  EXPECT_EQ(driver::LookUpDeviceNumber(ctx), 5);
  ctx.deviceIndex = 1;
  EXPECT_EQ(driver::LookUpDeviceNumber(ctx), -1);
}

class RegistrationTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    ctx.ioBase = 0x300;
    ctx.ioLength = 0x40;
    ctx.irq = 5;
    ctx.timerClock = 20;
    ctx.portConfig = {0, 1, 3};
    std::memcpy(ctx.streamName, u"Q621:", 12);
  }
  driver::DeviceContext ctx;
};

TEST_F(RegistrationTest, FirstRegistrationWritesBothSubkeysInOrder) {
  driver::RegisterDevice(ctx);
  EXPECT_EQ(ctx.deviceNumber, 0);
  EXPECT_EQ(ctx.boardId, 166u);
  const std::string text = platform::RegExportText();
  EXPECT_EQ(SectionLines(text, std::string(kShared) + "\\Device000"),
            (std::vector<std::string>{"\"BoardID\"=dword:000000a6", "\"DeviceName\"=\"QIO-5162 IO=300H IRQ=5\"",
                                      "\"DriverName\"=\"Zqs5162.dll\"", "\"KernelKey\"=\"ZQS5162S\""}));
  EXPECT_EQ(SectionLines(text, std::string(kService) + "\\Device000"),
            (std::vector<std::string>{
                "\"DeviceName\"=\"QIO-5162 IO=300H IRQ=5\"", "\"DriverName\"=\"Zqs5162.dll\"",
                "\"KernelKey\"=\"ZQS5162S\"", "\"CallName\"=\"Q621:\"", "\"DeviceIndex\"=dword:00000000",
                "\"BoardID\"=dword:000000a6", "\"SwitchID\"=dword:00000000", "\"AllowConflicts\"=dword:00000001",
                "\"BaseAddress\"=dword:00000300", "\"IoPortCount\"=dword:00000040", "\"Irq\"=dword:00000005",
                "\"TimerClock\"=dword:00000014", "\"DigPortCfg\"=hex:00,01,03"}));
}

TEST_F(RegistrationTest, KnownBoardKeepsItsStoredSettings) {
  Import(
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device009]\r\n"
      "\"DeviceName\"=\"stale\"\r\n\"CallName\"=\"Q629:\"\r\n\"DeviceIndex\"=dword:00000000\r\n"
      "\"BoardID\"=dword:000000a6\r\n\"BaseAddress\"=dword:00000200\r\n\"IoPortCount\"=dword:00000040\r\n"
      "\"Irq\"=dword:00000007\r\n\"TimerClock\"=dword:00000014\r\n\"DigPortCfg\"=hex:01,01,01\r\n");
  driver::RegisterDevice(ctx);
  EXPECT_EQ(ctx.deviceNumber, 9);
  EXPECT_EQ(ctx.ioBase, 0x200u);
  EXPECT_EQ(ctx.irq, 7u);
  EXPECT_EQ(ctx.portConfig, (std::array<std::uint8_t, 3>{1, 1, 1}));
  const std::string text = platform::RegExportText();
  // Only the names are refreshed, from the settings in force.
  const auto service = SectionLines(text, std::string(kService) + "\\Device009");
  EXPECT_EQ(service[0], "\"DeviceName\"=\"QIO-5162 IO=200H IRQ=7\"");
  EXPECT_EQ(service[1], "\"CallName\"=\"Q621:\"");
  EXPECT_EQ(service[4], "\"BaseAddress\"=dword:00000200");
  EXPECT_EQ(SectionLines(text, std::string(kShared) + "\\Device009"),
            (std::vector<std::string>{"\"DeviceName\"=\"QIO-5162 IO=200H IRQ=7\""}));
}

TEST_F(RegistrationTest, OpenReadStopsAtAMissingValue) {
  Import(
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device000]\r\n"
      "\"BaseAddress\"=dword:00000340\r\n\"IoPortCount\"=dword:00000040\r\n\"DigPortCfg\"=hex:01,01,01\r\n");
  ctx.deviceNumber = 0;
  driver::DeviceSettings settings = driver::CurrentSettings(ctx);
  EXPECT_FALSE(driver::ReadOpenConfiguration(ctx, settings));
  EXPECT_EQ(settings.ioBase, 0x340u);
  EXPECT_EQ(settings.irq, 5u);
  EXPECT_EQ(settings.portConfig, (std::array<std::uint8_t, 3>{0, 1, 3}));
}

}  // namespace
}  // namespace qio::test
