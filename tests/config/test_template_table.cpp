// The template table over real scripts: loading, the choice of base address
// and interrupt line, removal, and the exact text a save leaves.
#include <cstdio>
#include <utility>
#include <vector>

#include "ScriptTestSupport.h"
#include "config/script/RegScriptFile.h"
#include "config/templates/TemplateTable.h"

namespace qio::config {
namespace {

using testing::Header;
using testing::NewSection;

class RecordingSink : public MessageSink {
 public:
  void ShowMessage(std::string_view text, std::string_view caption) override {
    messages.emplace_back(std::string(text), std::string(caption));
  }
  std::vector<std::pair<std::string, std::string>> messages;
};

class TemplateTableTest : public ::testing::Test {
 protected:
  int Add() {
    const int n = table_.AllocateSlot();
    if (n < kTemplateSlots) table_.ApplyDefaults(n);
    return n;
  }
  std::uint32_t ReadDword(int n, const char* name) {
    RegScriptFile script;
    EXPECT_EQ(script.Open(tree_.script().c_str()), 0);
    std::uint32_t value = 0xDEADBEEF;
    std::uint32_t type = 0;
    std::uint32_t size = 4;
    script.ReadValue(n, name, &type, &value, &size);
    return value;
  }

  testing::ScriptTree tree_;
  RecordingSink sink_;
  TemplateTable table_{&sink_};
};

TEST_F(TemplateTableTest, SectionForSlotZeroIsExactlyTheTenLines) {
  tree_.Write("");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  ASSERT_EQ(table_.AllocateSlot(), 0);
  TemplateRecord& record = table_.Record(0);
  record.ioBase = 0x300;
  record.irq = 5;
  ASSERT_TRUE(table_.Save(tree_.script()));
  EXPECT_EQ(tree_.Read(),
            " \r\n"
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0] \r\n"
            "\"Prefix\"=\"Q62\"\r\n"
            "\"Dll\"=\"Zqs5162s.dll\"\r\n"
            "\"Order\"=dword:0\r\n"
            "\"DeviceIndex\"=dword:0\r\n"
            "\"IoBase\"=dword:300\r\n"
            "\"IoLen\"=dword:40\r\n"
            "\"Irq\"=dword:5\r\n"
            "\"TimerClock\"=dword:14\r\n"
            "\"DigPortCfg\"=hex:00,00,00\r\n");
  EXPECT_EQ(record.timerClock, kTimerClock);
}

TEST_F(TemplateTableTest, FirstTemplatesTakeBasesAndLinesInOrder) {
  tree_.Write("; board settings\r\n");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  EXPECT_EQ(Add(), 0);
  EXPECT_EQ(Add(), 1);
  EXPECT_EQ(Add(), 2);
  table_.Record(2).portConfig = {1, 0, 4};
  ASSERT_TRUE(table_.Save(tree_.script()));
  EXPECT_EQ(tree_.Read(), "; board settings\r\n" + NewSection(0, "100", "3") + NewSection(1, "140", "4") +
                              NewSection(2, "180", "5", "01,00,04"));
  EXPECT_TRUE(sink_.messages.empty());
}

TEST_F(TemplateTableTest, SavingTwiceLeavesTheFileByteForByteTheSame) {
  tree_.Write("; head\r\n" + Header(2) + "\"Irq\"=dword:00000009 ; hand-made\r\n\"IoBase\"=dword:0300\r\n" +
              "[HKEY_LOCAL_MACHINE\\Other]\r\n\"Keep\"=\"me\"\r\n");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  Add();
  ASSERT_TRUE(table_.Save(tree_.script()));
  const std::string first = tree_.Read();
  ASSERT_TRUE(table_.Save(tree_.script()));
  EXPECT_EQ(tree_.Read(), first);

  TemplateTable again;
  ASSERT_EQ(again.Load(tree_.script()), 0);
  ASSERT_TRUE(again.Save(tree_.script()));
  EXPECT_EQ(tree_.Read(), first);
}

TEST_F(TemplateTableTest, ExistingSectionIsUpdatedInPlaceAndCompletedAtItsEnd) {
  const std::string other = "[HKEY_LOCAL_MACHINE\\Other]\r\n\"Keep\"=\"me\"\r\n";
  tree_.Write(Header(0) + "\"Irq\"=dword:9\r\n\"IoBase\"=dword:0300\r\n\r\n" + other);
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  EXPECT_EQ(table_.Record(0).ioBase, 0x300u);
  EXPECT_EQ(table_.Record(0).irq, 9u);
  table_.Record(0).irq = 7;
  ASSERT_TRUE(table_.Save(tree_.script()));
  EXPECT_EQ(tree_.Read(), Header(0) + "\"Irq\"=dword:7\r\n\"IoBase\"=dword:300\r\n\r\n" +
                              "\"Prefix\"=\"Q62\"\r\n\"Dll\"=\"Zqs5162s.dll\"\r\n\"Order\"=dword:0\r\n" +
                              "\"DeviceIndex\"=dword:0\r\n\"IoLen\"=dword:40\r\n" +
                              "\"TimerClock\"=dword:14\r\n\"DigPortCfg\"=hex:00,00,00\r\n" + other);
}

TEST_F(TemplateTableTest, EmptySectionOrZeroBaseIsNoTemplate) {
  tree_.Write(Header(0) + Header(1) + "\"IoBase\"=dword:0\r\n\"Irq\"=dword:5\r\n" +
              "\"DigPortCfg\"=hex:01,01,03\r\n" + Header(2) + "\"IoBase\"=dword:180\r\n");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  EXPECT_EQ(table_.Record(0).inUse, 0u);
  EXPECT_EQ(table_.Record(1).inUse, 0u);
  EXPECT_EQ(table_.Record(1).irq, 5u);
  EXPECT_EQ(table_.Record(1).portConfig, (std::array<std::uint8_t, 3>{1, 1, 3}));
  EXPECT_EQ(table_.Record(2).inUse, 1u);
  EXPECT_EQ(table_.Record(2).irq, 0u);
  // The first free slot is 0 again.
  EXPECT_EQ(table_.AllocateSlot(), 0);
}

TEST_F(TemplateTableTest, ValueOfTheWrongFormIsTakenAsMissing) {
  tree_.Write(Header(0) + "\"IoBase\"=\"abc\"\r\n" + Header(1) + "\"IoBase\"=dword:140\r\n"
              "\"DigPortCfg\"=dword:1\r\n");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  EXPECT_EQ(table_.Record(0).inUse, 0u);
  EXPECT_EQ(table_.Record(0).ioBase, 0u);
  EXPECT_EQ(table_.Record(1).portConfig, (std::array<std::uint8_t, 3>{0, 0, 0}));
}

TEST_F(TemplateTableTest, RemoveThenAddReusesLowestSlotLineAndBase) {
  tree_.Write("");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  for (int i = 0; i < 4; ++i) Add();
  table_.Record(1).portConfig = {1, 1, 1};
  table_.RemoveSlot(1);
  EXPECT_EQ(table_.Record(1).portConfig, (std::array<std::uint8_t, 3>{1, 1, 1}));
  EXPECT_EQ(Add(), 1);
  EXPECT_EQ(table_.Record(1).ioBase, 0x140u);
  EXPECT_EQ(table_.Record(1).irq, 4u);
  EXPECT_EQ(table_.Record(1).portConfig, (std::array<std::uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(Add(), 4);
  EXPECT_EQ(table_.Record(4).ioBase, 0x200u);
  EXPECT_EQ(table_.Record(4).irq, 7u);
}

TEST_F(TemplateTableTest, RemovingAndSavingDeletesTheSection) {
  tree_.Write("; head\r\n");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  for (int i = 0; i < 3; ++i) Add();
  ASSERT_TRUE(table_.Save(tree_.script()));
  table_.RemoveSlot(1);
  ASSERT_TRUE(table_.Save(tree_.script()));
  // The section ran up to the next "[", so the " " CR LF line before the
  // following header went with it and its own stayed behind.
  EXPECT_EQ(tree_.Read(), "; head\r\n" + NewSection(0, "100", "3") + NewSection(2, "180", "5"));
  TemplateTable reloaded;
  ASSERT_EQ(reloaded.Load(tree_.script()), 0);
  EXPECT_EQ(reloaded.Record(1).inUse, 0u);
  EXPECT_EQ(reloaded.Record(2).ioBase, 0x180u);
}

TEST_F(TemplateTableTest, TenthTemplateGetsIrqThreeAfterTheWarning) {
  tree_.Write("");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  const std::uint32_t lines[] = {3, 4, 5, 6, 7, 9, 11, 12, 15};
  for (const std::uint32_t line : lines) {
    const int n = Add();
    EXPECT_EQ(table_.Record(n).irq, line);
  }
  EXPECT_TRUE(sink_.messages.empty());
  EXPECT_EQ(Add(), 9);
  EXPECT_EQ(table_.Record(9).irq, 3u);
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_EQ(sink_.messages[0].first, "No free IRQ can be allocated, conflict might occur");
  EXPECT_EQ(sink_.messages[0].second, "Warning");
}

TEST_F(TemplateTableTest, ThirteenthTemplateSharesTheLastBase) {
  tree_.Write("");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  for (std::size_t i = 0; i < kBaseAddresses.size(); ++i) {
    const int n = Add();
    EXPECT_EQ(table_.Record(n).ioBase, kBaseAddresses[i]);
  }
  EXPECT_EQ(Add(), 12);
  EXPECT_EQ(table_.Record(12).ioBase, 0x3C0u);
  EXPECT_EQ(table_.Record(11).ioBase, 0x3C0u);
  // Lines ran out at the tenth: the tenth to thirteenth each warned.
  EXPECT_EQ(sink_.messages.size(), 4u);
}

// A template whose section ends in a hex list left open by a stray "\\":
// every value a save adds reads back, and a second save changes nothing.
TEST_F(TemplateTableTest, SaveAroundAHexListLeftOpenKeepsEveryValue) {
  tree_.Write(Header(2) + "\t\"TimerClock\"\t=\thex:E4, 1b,\\\n  e4,20,\\\r\n");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  table_.Record(2).inUse = 1;
  table_.Record(2).ioBase = 0x180;
  table_.Record(2).irq = 5;
  ASSERT_TRUE(table_.Save(tree_.script()));
  const std::string saved = tree_.Read();
  RegScriptFile script;
  ASSERT_EQ(script.Open(tree_.script().c_str()), 0);
  for (const char* name : {"Prefix", "Dll", "Order", "DeviceIndex", "IoBase", "IoLen", "Irq", "TimerClock",
                           "DigPortCfg"}) {
    std::uint8_t data[16] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    EXPECT_EQ(script.ReadValue(2, name, &type, data, &size), 0) << name;
  }
  EXPECT_EQ(ReadDword(2, "TimerClock"), 20u);
  EXPECT_EQ(ReadDword(2, "IoBase"), 0x180u);
  ASSERT_TRUE(table_.Save(tree_.script()));
  EXPECT_EQ(tree_.Read(), saved);
}

TEST_F(TemplateTableTest, SeventeenthTemplateHasNoSlot) {
  tree_.Write("");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  for (int i = 0; i < kTemplateSlots; ++i) EXPECT_EQ(Add(), i);
  EXPECT_EQ(table_.AllocateSlot(), kTemplateSlots);
  ASSERT_TRUE(table_.Save(tree_.script()));
  TemplateTable reloaded;
  ASSERT_EQ(reloaded.Load(tree_.script()), 0);
  for (int i = 0; i < kTemplateSlots; ++i) EXPECT_EQ(reloaded.Record(i).inUse, 1u) << i;
  EXPECT_EQ(reloaded.Record(15).ioBase, 0x3C0u);
}

TEST_F(TemplateTableTest, DeviceIndexAlwaysEqualsTheSlot) {
  tree_.Write("");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  for (int i = 0; i < 4; ++i) Add();
  ASSERT_TRUE(table_.Save(tree_.script()));
  table_.RemoveSlot(0);
  table_.RemoveSlot(2);
  ASSERT_TRUE(table_.Save(tree_.script()));
  EXPECT_EQ(Add(), 0);
  EXPECT_EQ(Add(), 2);
  EXPECT_EQ(Add(), 4);
  ASSERT_TRUE(table_.Save(tree_.script()));
  for (int n = 0; n < 5; ++n) EXPECT_EQ(ReadDword(n, "DeviceIndex"), static_cast<std::uint32_t>(n));
  // Sections were appended in the order the slots came back: 1, 3, 0, 2, 4.
  const std::string text = tree_.Read();
  EXPECT_LT(text.find("ZQS5162S3]"), text.find("ZQS5162S0]"));
  EXPECT_LT(text.find("ZQS5162S0]"), text.find("ZQS5162S2]"));
}

TEST_F(TemplateTableTest, OwnBaseAndLineCountAsInUse) {
  tree_.Write("");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  const int n = Add();
  EXPECT_TRUE(table_.IsBaseInUse(table_.Record(n).ioBase));
  EXPECT_TRUE(table_.IsIrqInUse(table_.Record(n).irq));
  EXPECT_FALSE(table_.IsBaseInUse(0x140));
  EXPECT_FALSE(table_.IsIrqInUse(4));
  table_.RemoveSlot(n);
  EXPECT_FALSE(table_.IsBaseInUse(0x100));
  EXPECT_TRUE(table_.IsBaseInUse(0));  // free slots hold 0
}

TEST_F(TemplateTableTest, MissingScriptLoadsNothingAndIsNotCreated) {
  EXPECT_NE(table_.Load(tree_.script()), 0);
  EXPECT_EQ(table_.AllocateSlot(), 0);
  table_.ApplyDefaults(0);
  EXPECT_FALSE(table_.Save(tree_.script()));
  EXPECT_FALSE(tree_.Exists());
  EXPECT_EQ(tree_.StrayFiles(), 0);
}

TEST_F(TemplateTableTest, OutOfRangeSlotsAreIgnored) {
  tree_.Write("");
  ASSERT_EQ(table_.Load(tree_.script()), 0);
  table_.ApplyDefaults(16);
  table_.ApplyDefaults(-1);
  table_.RemoveSlot(99);
  EXPECT_EQ(table_.AllocateSlot(), 0);
}

}  // namespace
}  // namespace qio::config
