// The on-device configuration dialog without a toolkit: what it shows for a
// device, what OK writes into the platform registry (read back as registry
// text), the free device index, the built-in key it rewrites, Cancel, and
// DeviceConfigExt where there is no display.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "DeviceConfigDialog.h"
#include "DeviceRegistryWrite.h"
#include "FakeDeviceView.h"
#include "qio/platform/registry.h"
#include "qio5162/Zqs5162.h"

namespace qio::library::dialog {
namespace {

using test::FakeDeviceView;
using test::KeyLines;

constexpr const char* kService = "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S";
constexpr const char* kShared = "SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ";

class DeviceConfigTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::RegClearAll(); }

  static void Import(const std::string& text) {
    std::string error;
    ASSERT_TRUE(platform::RegImportText("REGEDIT4\r\n" + text, &error)) << error;
  }
  static std::string Hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
  }
  // The line of value `name` among a key's lines, or "".
  static std::string Line(const std::vector<std::string>& lines, const std::string& name) {
    for (const auto& line : lines) {
      if (line.rfind("\"" + name + "\"=", 0) == 0) return line;
    }
    return "";
  }
  // A device key as the driver writes it at boot.
  static std::string DeviceKey(int n, const std::string& base, const std::string& irq, const std::string& ports,
                               int index) {
    char name[64];
    std::snprintf(name, sizeof name, "Device%03d", n);
    return std::string("[HKEY_LOCAL_MACHINE\\") + kService + "\\" + name + "]\r\n\"BoardID\"=dword:a6\r\n" +
           "\"AllowConflicts\"=dword:1\r\n\"DeviceIndex\"=dword:" + Hex(index) +
           "\r\n\"BaseAddress\"=dword:" + base + "\r\n\"IoPortCount\"=dword:40\r\n\"Irq\"=dword:" + irq +
           "\r\n\"TimerClock\"=dword:14\r\n\"DigPortCfg\"=hex:" + ports + "\r\n\"CallName\"=\"Q621:\"\r\n";
  }
  void OpenDialog(std::uint32_t n) {
    dialog_ = std::make_unique<DeviceConfigDialog>(n);
    dialog_->OnInitDialog(view_);
  }
  static std::string StringValue(const std::string& keyPath, const char* name) {
    platform::RegKey key = 0;
    if (platform::RegOpenKey(platform::kLocalMachine, keyPath, &key) != 0) return "<no key>";
    std::string text = "<no value>";
    platform::RegQueryString(key, name, &text);
    platform::RegCloseKey(key);
    return text;
  }

  FakeDeviceView view_;
  std::unique_ptr<DeviceConfigDialog> dialog_;
};

TEST_F(DeviceConfigTest, AnUnconfiguredDeviceOpensWithBase300Irq5AndAllPortsIn) {
  OpenDialog(4);
  EXPECT_EQ(view_.Text(kBaseList), "0x300");
  EXPECT_EQ(view_.Text(kIrqList), "IRQ5");
  for (const int list : {kPortAList, kPortBList, kPortCLowList, kPortCHighList}) EXPECT_EQ(view_.Text(list), "IN");
  ASSERT_NE(dialog_->working(), nullptr);
  EXPECT_EQ(dialog_->working()->boardId, 166u);
  EXPECT_EQ(dialog_->working()->deviceIndex, -1);
  EXPECT_EQ(dialog_->working()->features, &TheDeviceFeatures());
  EXPECT_EQ(view_.endCalls, 0);
}

TEST_F(DeviceConfigTest, ListsAreSortedAsText) {
  OpenDialog(0);
  const auto& bases = view_.items[kBaseList];
  ASSERT_EQ(bases.size(), 12u);
  EXPECT_EQ(bases.front(), "0x100");
  EXPECT_EQ(bases[3], "0x1c0");
  EXPECT_EQ(bases.back(), "0x3c0");
  EXPECT_EQ(view_.items[kIrqList], (std::vector<std::string>{"IRQ11", "IRQ12", "IRQ15", "IRQ3", "IRQ4", "IRQ5",
                                                               "IRQ6", "IRQ7", "IRQ9"}));
  for (const int list : {kPortAList, kPortBList, kPortCLowList, kPortCHighList}) {
    EXPECT_EQ(view_.items[list], (std::vector<std::string>{"IN", "OUT"}));
  }
}

TEST_F(DeviceConfigTest, AConfiguredDeviceShowsItsSettings) {
  Import(DeviceKey(1, "240", "b", "01,00,04", 1));
  OpenDialog(1);
  EXPECT_EQ(view_.Text(kBaseList), "0x240");
  EXPECT_EQ(view_.Text(kIrqList), "IRQ11");
  EXPECT_EQ(view_.Text(kPortAList), "OUT");
  EXPECT_EQ(view_.Text(kPortBList), "IN");
  EXPECT_EQ(view_.Text(kPortCLowList), "OUT");
  EXPECT_EQ(view_.Text(kPortCHighList), "IN");
}

TEST_F(DeviceConfigTest, ItemsAreSelectedByTheirBeginning) {
  // Line 1 begins "IRQ11"; code 2 and a base no item begins with select nothing.
  Import(DeviceKey(0, "120", "1", "00,00,02", 0));
  OpenDialog(0);
  EXPECT_EQ(view_.Text(kIrqList), "IRQ11");
  EXPECT_EQ(view_.Text(kBaseList), "");
  EXPECT_EQ(view_.Text(kPortCLowList), "");
  EXPECT_EQ(view_.Text(kPortCHighList), "");
}

TEST_F(DeviceConfigTest, AKeyWithAnotherBoardIdCountsAsUnconfigured) {
  std::string key = DeviceKey(0, "200", "9", "01,01,01", 6);
  key.replace(key.find("dword:a6"), 8, "dword:a5");
  Import(key);
  OpenDialog(0);
  EXPECT_EQ(view_.Text(kBaseList), "0x300");
  EXPECT_EQ(view_.Text(kIrqList), "IRQ5");
  EXPECT_EQ(dialog_->working()->boardId, 166u);
  EXPECT_EQ(dialog_->working()->deviceIndex, -1);
}

TEST_F(DeviceConfigTest, OkWritesTheThreeKeysWithTheirValuesInOrder) {
  // Indices 0 and 1 are taken by other devices' keys.
  Import(DeviceKey(0, "300", "5", "00,00,00", 0) + DeviceKey(5, "340", "7", "00,00,00", 1));
  OpenDialog(2);
  view_.Choose(kBaseList, "0x280");
  view_.Choose(kIrqList, "IRQ12");
  view_.Choose(kPortAList, "OUT");
  view_.Choose(kPortCLowList, "OUT");
  dialog_->OnOk();
  EXPECT_EQ(view_.endCode, kEndOk);
  EXPECT_EQ(dialog_->working(), nullptr);

  EXPECT_EQ(KeyLines(std::string(kShared) + "\\Device002"),
            (std::vector<std::string>{"\"DriverName\"=\"Zqs5162.dll\"", "\"KernelKey\"=\"ZQS5162S\"",
                                      "\"BoardID\"=dword:000000a6", "\"DeviceName\"=\"QIO-5162 IO=280H IRQ=12\""}));
  EXPECT_EQ(KeyLines(std::string(kService) + "\\Device002"),
            (std::vector<std::string>{
                "\"DriverName\"=\"Zqs5162.dll\"", "\"KernelKey\"=\"ZQS5162S\"",
                "\"DeviceName\"=\"QIO-5162 IO=280H IRQ=12\"", "\"BoardID\"=dword:000000a6",
                "\"AllowConflicts\"=dword:00000001", "\"DeviceIndex\"=dword:00000002",
                "\"BaseAddress\"=dword:00000280", "\"IoPortCount\"=dword:00000040", "\"Irq\"=dword:0000000c",
                "\"TimerClock\"=dword:00000014", "\"DigPortCfg\"=hex:01,00,04", "\"CallName\"=\"\""}));
  EXPECT_EQ(KeyLines("Drivers\\BuiltIn\\ZQS5162S2"),
            (std::vector<std::string>{
                "\"DLL\"=\"Zqs5162S.dll\"", "\"Prefix\"=\"Q62\"", "\"DriverName\"=\"Zqs5162.dll\"",
                "\"KernelKey\"=\"ZQS5162S\"", "\"DeviceName\"=\"QIO-5162 IO=280H IRQ=12\"",
                "\"BoardID\"=dword:000000a6", "\"AllowConflicts\"=dword:00000001", "\"DeviceIndex\"=dword:00000002",
                "\"IoBase\"=dword:00000280", "\"IoLen\"=dword:00000040", "\"Irq\"=dword:0000000c",
                "\"TimerClock\"=dword:00000014", "\"DigPortCfg\"=hex:01,00,04"}));
}

TEST_F(DeviceConfigTest, PortCHalvesGiveTheirCodes) {
  const struct {
    const char* low;
    const char* high;
    const char* bytes;
  } cases[] = {{"OUT", "IN", "00,00,04"}, {"OUT", "OUT", "00,00,01"}, {"IN", "OUT", "00,00,03"},
               {"IN", "IN", "00,00,00"}};
  for (const auto& c : cases) {
    platform::RegClearAll();
    view_ = FakeDeviceView{};
    OpenDialog(0);
    view_.Choose(kPortCLowList, c.low);
    view_.Choose(kPortCHighList, c.high);
    dialog_->OnOk();
    const auto lines = KeyLines(std::string(kService) + "\\Device000");
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[10], std::string("\"DigPortCfg\"=hex:") + c.bytes) << c.low << "/" << c.high;
  }
}

TEST_F(DeviceConfigTest, AListWithoutSelectionKeepsTheValueThatWasRead) {
  Import(DeviceKey(0, "120", "a", "00,01,02", 0));
  OpenDialog(0);
  dialog_->OnOk();
  const auto lines = KeyLines(std::string(kService) + "\\Device000");
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(Line(lines, "BaseAddress"), "\"BaseAddress\"=dword:00000120");
  EXPECT_EQ(Line(lines, "Irq"), "\"Irq\"=dword:0000000a");
  EXPECT_EQ(Line(lines, "DigPortCfg"), "\"DigPortCfg\"=hex:00,01,02");
  EXPECT_EQ(Line(lines, "CallName"), "\"CallName\"=\"Q621:\"");
}

TEST_F(DeviceConfigTest, OneHalfChosenUnderCode2TakesTheOtherAsTheDriverRunsIt) {
  Import(DeviceKey(0, "300", "5", "00,00,02", 0));
  OpenDialog(0);
  view_.Choose(kPortCLowList, "IN");  // lines 4-7 stay output
  dialog_->OnOk();
  EXPECT_EQ(Line(KeyLines(std::string(kService) + "\\Device000"), "DigPortCfg"), "\"DigPortCfg\"=hex:00,00,03");
}

TEST_F(DeviceConfigTest, TheDeviceIndexIsTheLowestNotUsedByAnotherDeviceKey) {
  Import(DeviceKey(0, "300", "5", "00,00,00", 0) + DeviceKey(1, "340", "7", "00,00,00", 2) +
         std::string("[HKEY_LOCAL_MACHINE\\") + kService + "\\Other]\r\n\"DeviceIndex\"=dword:1\r\n" +
         "[HKEY_LOCAL_MACHINE\\" + kService + "\\Device007]\r\n\"DeviceIndex\"=dword:12c\r\n" +
         "[HKEY_LOCAL_MACHINE\\" + kService + "\\Device008]\r\n\"Irq\"=dword:5\r\n");
  EXPECT_EQ(AssignFreeDeviceIndex(), 1);  // "Other" names no device; 300 and a missing index mark nothing
  OpenDialog(9);
  dialog_->OnOk();
  EXPECT_EQ(KeyLines(std::string(kService) + "\\Device009").at(5), "\"DeviceIndex\"=dword:00000001");
  EXPECT_FALSE(KeyLines("Drivers\\BuiltIn\\ZQS5162S1").empty());
}

TEST_F(DeviceConfigTest, WithEveryIndexTakenOrNoServiceKeyTheIndexIsZero) {
  EXPECT_EQ(AssignFreeDeviceIndex(), 0);
  std::string keys;
  for (int i = 0; i <= 254; ++i) keys += DeviceKey(i, "300", "5", "00,00,00", i);
  Import(keys);
  EXPECT_EQ(AssignFreeDeviceIndex(), 0);
}

TEST_F(DeviceConfigTest, TheBuiltInKeyWhoseDeviceIndexMatchesIsRewrittenInPlace) {
  Import(DeviceKey(0, "300", "5", "00,00,00", 7) +
         "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1]\r\n\"DeviceIndex\"=dword:2\r\n\"Order\"=dword:0\r\n" +
         "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S3]\r\n\"DeviceIndex\"=dword:7\r\n\"Order\"=dword:0\r\n");
  EXPECT_EQ(FindBuiltInKeyNumber(7), 3u);
  OpenDialog(0);
  view_.Choose(kBaseList, "0x200");
  dialog_->OnOk();
  const auto lines = KeyLines("Drivers\\BuiltIn\\ZQS5162S3");
  ASSERT_EQ(lines.size(), 14u);  // "Order" kept, then the 13 written
  EXPECT_EQ(lines[0], "\"DeviceIndex\"=dword:00000007");
  EXPECT_EQ(lines[1], "\"Order\"=dword:00000000");
  EXPECT_EQ(lines[9], "\"IoBase\"=dword:00000200");
  EXPECT_TRUE(KeyLines("Drivers\\BuiltIn\\ZQS5162S7").empty());
  EXPECT_EQ(KeyLines("Drivers\\BuiltIn\\ZQS5162S1").size(), 2u);  // another board's key untouched
}

TEST_F(DeviceConfigTest, ABuiltInKeyWithoutANumberIsPassedOver) {
  Import("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S]\r\n\"DeviceIndex\"=dword:4\r\n"
         "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162Sx]\r\n\"DeviceIndex\"=dword:4\r\n"
         "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S9]\r\n\"DeviceIndex\"=dword:4\r\n");
  EXPECT_EQ(FindBuiltInKeyNumber(4), 9u);
  EXPECT_EQ(FindBuiltInKeyNumber(5), 5u);
}

TEST_F(DeviceConfigTest, TheDllPathIsTheInstallDirectoryAndTheDriverModule) {
  Import(std::string("[HKEY_LOCAL_MACHINE\\") + kService + "]\r\n\"InstallDir\"=\"\\\\Windows\\\\Qio\"\r\n");
  OpenDialog(0);
  dialog_->OnOk();
  EXPECT_EQ(StringValue("Drivers\\BuiltIn\\ZQS5162S0", "DLL"), "\\Windows\\Qio\\Zqs5162S.dll");
}

TEST_F(DeviceConfigTest, AnEmptyOrMissingInstallDirectoryLeavesTheModuleNameAlone) {
  OpenDialog(0);
  dialog_->OnOk();
  EXPECT_EQ(StringValue("Drivers\\BuiltIn\\ZQS5162S0", "DLL"), "Zqs5162S.dll");
  platform::RegClearAll();
  Import(std::string("[HKEY_LOCAL_MACHINE\\") + kService + "]\r\n\"InstallDir\"=\"\"\r\n");
  OpenDialog(1);
  dialog_->OnOk();
  EXPECT_EQ(StringValue("Drivers\\BuiltIn\\ZQS5162S0", "DLL"), "Zqs5162S.dll");
}

TEST_F(DeviceConfigTest, CancelWritesNothing) {
  Import(DeviceKey(0, "300", "5", "00,00,00", 0));
  const std::string before = platform::RegExportText();
  OpenDialog(3);
  view_.Choose(kBaseList, "0x100");
  dialog_->OnCancel();
  EXPECT_EQ(view_.endCode, kEndCancel);
  EXPECT_EQ(dialog_->working(), nullptr);
  EXPECT_EQ(platform::RegExportText(), before);
  dialog_->OnOk();  // after the end: nothing
  EXPECT_EQ(platform::RegExportText(), before);
}

TEST_F(DeviceConfigTest, AFailedAllocationTellsTheUserAndEndsWithZero) {
  dialog_ = std::make_unique<DeviceConfigDialog>(0, [] { return std::unique_ptr<DeviceSettings>(); });
  dialog_->OnInitDialog(view_);
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_EQ(view_.errors[0].first, "Memory allocation failed!");
  EXPECT_EQ(view_.errors[0].second, "Error");
  EXPECT_EQ(view_.endCode, kEndAllocationFailed);
  EXPECT_EQ(dialog_->endCode(), 0);
  EXPECT_TRUE(KeyLines(std::string(kService) + "\\Device000").empty());
}

TEST_F(DeviceConfigTest, WithoutADisplayDeviceConfigFailsAndWritesNothing) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
  const std::string before = platform::RegExportText();
  EXPECT_EQ(DeviceConfigExt(0, 0, nullptr), ZQS_DIALOG_FAILED);
  EXPECT_EQ(DeviceConfig(1, 0, nullptr), ZQS_DIALOG_FAILED);
  EXPECT_EQ(platform::RegExportText(), before);
}

TEST_F(DeviceConfigTest, ADeviceNumberAbove254IsRefused) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_EQ(DeviceConfigExt(255, 0, nullptr), ZQS_DIALOG_FAILED);
  EXPECT_TRUE(KeyLines(std::string(kService) + "\\Device255").empty());
}

TEST(DeviceDescriptionTest, NamesBaseAndLine) {
  DeviceSettings s{};
  s.baseAddress = 0x3C0;
  s.irq = 15;
  EXPECT_EQ(DeviceDescription(s), "QIO-5162 IO=3c0H IRQ=15");
  s.baseAddress = 0xFFFFFFFF;
  s.irq = 0x80000000u;
  EXPECT_LE(DeviceDescription(s).size(), kDescriptionChars);
}

}  // namespace
}  // namespace qio::library::dialog
