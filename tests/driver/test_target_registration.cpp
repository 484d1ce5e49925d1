// Registration of the board under the two service keys, as the hosted target
// boots the driver from its registry.
#include <algorithm>

#include <gtest/gtest.h>

#include "qio/protocol/ioctl.h"
#include "registry_text.h"
#include "request_bytes.h"
#include "target_session.h"

namespace qio::test {
namespace {

constexpr const char* kService = "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S";
constexpr const char* kShared = "SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ";

std::string Sub(const char* key, const char* device) { return std::string(key) + "\\" + device; }

// The sections of exported registry text under one key path prefix, as text
// to boot with.
std::string SectionsUnder(const std::string& text, const std::string& prefix) {
  std::string out;
  std::size_t pos = 0;
  bool keep = false;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end + 1 - pos);
    pos = end + 1;
    if (!line.empty() && line[0] == '[') keep = line.rfind("[HKEY_LOCAL_MACHINE\\" + prefix, 0) == 0;
    if (keep) out += line;
  }
  return out;
}

class RegistrationBootTest : public TargetTest {};

TEST_F(RegistrationBootTest, DefaultTargetLoadsTheDriverForTheBoardAt300) {
  Boot();
  std::size_t needed = 0;
  qio_target_boot_report(target_, nullptr, 0, &needed);
  std::string report(needed, '\0');
  ASSERT_EQ(qio_target_boot_report(target_, report.data(), report.size(), &needed), QIO_TARGET_OK);
  EXPECT_NE(report.find("Q621:"), std::string::npos) << report;
  EXPECT_NE(Open(), nullptr);
}

TEST_F(RegistrationBootTest, FirstBootCreatesDevice000UnderBothKeys) {
  Boot();
  const std::string text = Registry();
  EXPECT_EQ(SectionLines(text, Sub(kShared, "Device000")),
            (std::vector<std::string>{"\"BoardID\"=dword:000000a6", "\"DeviceName\"=\"QIO-5162 IO=300H IRQ=5\"",
                                      "\"DriverName\"=\"Zqs5162.dll\"", "\"KernelKey\"=\"ZQS5162S\""}));
  EXPECT_EQ(SectionLines(text, Sub(kService, "Device000")),
            (std::vector<std::string>{
                "\"DeviceName\"=\"QIO-5162 IO=300H IRQ=5\"", "\"DriverName\"=\"Zqs5162.dll\"",
                "\"KernelKey\"=\"ZQS5162S\"", "\"CallName\"=\"Q621:\"", "\"DeviceIndex\"=dword:00000000",
                "\"BoardID\"=dword:000000a6", "\"SwitchID\"=dword:00000000", "\"AllowConflicts\"=dword:00000001",
                "\"BaseAddress\"=dword:00000300", "\"IoPortCount\"=dword:00000040", "\"Irq\"=dword:00000005",
                "\"TimerClock\"=dword:00000014", "\"DigPortCfg\"=hex:00,00,00"}));
  platform::Handle event = OpenNamedEvent("ZQS_EVT_TERMINATE_CNT1_000");
  EXPECT_NE(event, platform::kNullHandle);
}

TEST_F(RegistrationBootTest, SecondBootUsesTheEditedServiceSubkey) {
  Boot();
  std::string saved = SectionsUnder(Registry(), kService) + SectionsUnder(Registry(), kShared);
  const std::string irqLine = "\"Irq\"=dword:00000005";
  const std::size_t at = saved.find(irqLine);
  ASSERT_NE(at, std::string::npos);
  saved.replace(at, irqLine.size(), "\"Irq\"=dword:00000007");
  Shutdown();

  Boot(saved.c_str());
  const std::string text = Registry();
  const auto service = SectionLines(text, Sub(kService, "Device000"));
  ASSERT_EQ(service.size(), 13u);
  EXPECT_EQ(service[0], "\"DeviceName\"=\"QIO-5162 IO=300H IRQ=7\"") << "the name follows the settings in force";
  EXPECT_EQ(service[10], "\"Irq\"=dword:00000007");
  EXPECT_EQ(SectionLines(text, Sub(kShared, "Device000"))[1], "\"DeviceName\"=\"QIO-5162 IO=300H IRQ=7\"");
  EXPECT_TRUE(SectionLines(text, Sub(kService, "Device001")).empty()) << "a known board is not registered again";
}

TEST_F(RegistrationBootTest, SharedListWithDevice000And002GivesDevice001) {
  Boot(
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device000]\n"
      "\"BoardID\"=dword:00000021\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device002]\n"
      "\"BoardID\"=dword:00000022\n");
  const std::string text = Registry();
  EXPECT_EQ(SectionLines(text, Sub(kShared, "Device000")), (std::vector<std::string>{"\"BoardID\"=dword:00000021"}));
  EXPECT_EQ(SectionLines(text, Sub(kService, "Device001")).size(), 13u);
  EXPECT_EQ(SectionLines(text, Sub(kShared, "Device001")).size(), 4u);
  OpenNamedEvent("ZQS_EVT_DI_INTERRUPT0_001");
  EXPECT_NE(Open(), nullptr);
}

TEST_F(RegistrationBootTest, Device300BlocksNothing) {
  Boot("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device300]\n");
  EXPECT_EQ(SectionLines(Registry(), Sub(kService, "Device000")).size(), 13u);
  OpenNamedEvent("ZQS_EVT_DI_INTERRUPT23_000");
}

TEST_F(RegistrationBootTest, SameIndexOfAnotherBoardTypeIsNotTaken) {
  Boot(
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device000]\n"
      "\"DeviceIndex\"=dword:00000000\n\"BoardID\"=dword:000000a7\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device000]\n"
      "\"BoardID\"=dword:000000a7\n");
  const std::string text = Registry();
  EXPECT_EQ(SectionLines(text, Sub(kService, "Device001")).size(), 13u);
  EXPECT_EQ(SectionLines(text, Sub(kService, "Device000")).size(), 2u);
}

TEST_F(RegistrationBootTest, BoardRegisteredAsSevenNamesItsEvents007) {
  Boot(
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device007]\n"
      "\"DeviceIndex\"=dword:00000000\n\"BoardID\"=dword:000000a6\n\"BaseAddress\"=dword:00000300\n"
      "\"IoPortCount\"=dword:00000040\n\"Irq\"=dword:00000005\n\"TimerClock\"=dword:00000014\n"
      "\"DigPortCfg\"=hex:00,00,00\n");
  OpenNamedEvent("ZQS_EVT_DI_INTERRUPT5_007");
  OpenNamedEvent("ZQS_EVT_TERMINATE_CNT0_007");
  EXPECT_EQ(platform::OpenEvent("ZQS_EVT_DI_INTERRUPT5_000"), platform::kNullHandle);
}

// Two board keys that an integrator gave the same "DeviceIndex": each board is
// its own device, with its own settings, stream device and named events; the
// second is not folded into the number the first was registered under.
TEST_F(RegistrationBootTest, TwoBoardsWithTheSameIndexGetTwoDeviceNumbers) {
  Boot(
      "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1]\n"
      "\"Prefix\"=\"Q62\"\n\"Dll\"=\"Zqs5162s.dll\"\n\"Order\"=dword:0\n\"DeviceIndex\"=dword:0\n"
      "\"IoBase\"=dword:200\n\"IoLen\"=dword:40\n\"Irq\"=dword:7\n\"TimerClock\"=dword:14\n"
      "\"DigPortCfg\"=hex:01,00,00\n");
  const std::string text = Registry();
  const auto first = SectionLines(text, Sub(kService, "Device000"));
  const auto second = SectionLines(text, Sub(kService, "Device001"));
  ASSERT_EQ(first.size(), 13u) << text;
  ASSERT_EQ(second.size(), 13u) << text;
  EXPECT_NE(first[3], second[3]) << "each device number names its own stream device";
  std::vector<std::string> bases = {first[8], second[8]};
  std::sort(bases.begin(), bases.end());
  EXPECT_EQ(bases, (std::vector<std::string>{"\"BaseAddress\"=dword:00000200", "\"BaseAddress\"=dword:00000300"}));
  EXPECT_EQ(SectionLines(text, Sub(kShared, "Device001")).size(), 4u);
  OpenNamedEvent("ZQS_EVT_DI_INTERRUPT0_001");
  OpenNamedEvent("ZQS_EVT_TERMINATE_CNT1_001");
  // Each stream device runs on its own board's settings: port A is an output
  // on the board at 0x200 only.
  QioStream* q621 = Open("Q621:");
  QioStream* q622 = Open("Q622:");
  ASSERT_NE(q621, nullptr);
  ASSERT_NE(q622, nullptr);
  const TargetReply at300 = Ioctl(q621, protocol::IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 3);
  const TargetReply at200 = Ioctl(q622, protocol::IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 3);
  ASSERT_EQ(at300.result, 1);
  ASSERT_EQ(at200.result, 1);
  EXPECT_EQ(at300.out, (std::vector<std::uint8_t>{0, 0, 0}));
  EXPECT_EQ(at200.out, (std::vector<std::uint8_t>{1, 0, 0}));
}

}  // namespace
}  // namespace qio::test
