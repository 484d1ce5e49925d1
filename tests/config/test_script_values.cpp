// Writing and reading value lines: placement, line forms, parsing.
#include <array>
#include <cstring>

#include "ScriptTestSupport.h"
#include "config/script/RegScriptFile.h"
#include "config/script/ScriptNames.h"
#include "config/script/ScriptText.h"

namespace qio::config {
namespace {

using testing::Header;

class ScriptValues : public ::testing::Test {
 protected:
  void Start(const std::string& text) {
    tree_.Write(text);
    ASSERT_EQ(script_.Open(tree_.script().c_str()), 0);
  }
  int WriteDword(int n, const char* name, std::uint32_t value) {
    return script_.WriteValue(n, name, kTypeDword, &value, sizeof value);
  }
  int WriteString(int n, const char* name, const char* text) {
    return script_.WriteValue(n, name, kTypeString, text,
                              static_cast<std::uint32_t>(std::strlen(text) + 1));
  }
  // Reads a number into a fresh variable; the variable's start value shows
  // whether anything was stored.
  std::uint32_t ReadDword(int n, const char* name, int* rc = nullptr) {
    std::uint32_t value = 0xDEADBEEF;
    std::uint32_t type = 0;
    std::uint32_t size = sizeof value;
    const int result = script_.ReadValue(n, name, &type, &value, &size);
    if (rc != nullptr) *rc = result;
    return value;
  }

  testing::ScriptTree tree_;
  RegScriptFile script_;
};

const std::string kIrq5 = "\"Irq\"=dword:5\r\n";
const std::string kBase = "\"IoBase\"=dword:100\r\n";
const std::string kLen = "\"IoLen\"=dword:40\r\n";

TEST_F(ScriptValues, PresentValueIsReplacedWhereItStands) {
  const std::string before = Header(0) + kBase + kIrq5 + kLen;
  Start(before);
  ASSERT_EQ(WriteDword(0, "Irq", 11), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + kBase + "\"Irq\"=dword:b\r\n" + kLen);
}

TEST_F(ScriptValues, MissingValueBecomesLastLineOfItsSection) {
  Start(Header(0) + kBase + "\r\n" + Header(1) + kBase);
  ASSERT_EQ(WriteDword(0, "Irq", 5), 0);
  // After the blank line that precedes the next header.
  EXPECT_EQ(tree_.Read(), Header(0) + kBase + "\r\n" + kIrq5 + Header(1) + kBase);
}

TEST_F(ScriptValues, WritingIntoMiddleSectionKeepsFollowingSectionsByteForByte) {
  const std::string tail = Header(2) + "\"IoBase\"=dword:180 ; third\r\n\"Irq\"=dword:7\r\n; end";
  Start("; head\r\n" + Header(0) + kBase + Header(1) + kBase + tail);
  ASSERT_EQ(WriteDword(1, "IoBase", 0x140), 0);
  ASSERT_EQ(WriteDword(1, "Irq", 4), 0);
  EXPECT_EQ(tree_.Read(), "; head\r\n" + Header(0) + kBase + Header(1) + "\"IoBase\"=dword:140\r\n" +
                              "\"Irq\"=dword:4\r\n" + tail);
}

TEST_F(ScriptValues, ValueWithoutSectionGoesToEndOfFile) {
  Start("; only a comment\r\n");
  ASSERT_EQ(WriteDword(3, "Irq", 5), 0);
  EXPECT_EQ(tree_.Read(), "; only a comment\r\n" + kIrq5);
}

// Where the file ends in another key's section, a value of a template that
// has no section would be read as that key's: refused, nothing written.
TEST_F(ScriptValues, ValueWithoutSectionIsRefusedWhereItWouldJoinAnotherKey) {
  for (const std::string& text : {Header(3) + kBase, Header(3) + kBase + "; tail\r\n",
                                   std::string("[HKEY_LOCAL_MACHINE\\Other]\r\n\"Irq\"=dword:7")}) {
    Start(text);
    EXPECT_NE(WriteDword(4, "Irq", 5), 0) << text;
    EXPECT_EQ(tree_.Read(), text);
    EXPECT_NE(script_.message().find("template 4 has no section"), std::string::npos) << script_.message();
    ASSERT_EQ(script_.AppendSection(4), 0);
    ASSERT_EQ(WriteDword(4, "Irq", 5), 0);
    EXPECT_EQ(ReadDword(4, "Irq"), 5u);
    EXPECT_EQ(ReadDword(3, "Irq"), 0xDEADBEEFu);
    script_.Close();
  }
}

TEST_F(ScriptValues, ReplacedLastLineWithoutLineBreakGetsOne) {
  Start(Header(0) + "\"Irq\"=dword:5");
  ASSERT_EQ(WriteDword(0, "Irq", 6), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"Irq\"=dword:6\r\n");
}

// A file with LF line ends keeps them: a replaced line keeps its own, and
// new lines and headers end in LF too.
TEST_F(ScriptValues, LineFeedFileKeepsItsLineEnds) {
  const std::string header = "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0]\n";
  Start(header + "\"Irq\"=dword:5\n\"IoLen\"=dword:40\n");
  ASSERT_EQ(WriteDword(0, "Irq", 6), 0);
  EXPECT_EQ(tree_.Read(), header + "\"Irq\"=dword:6\n\"IoLen\"=dword:40\n");
  ASSERT_EQ(WriteDword(0, "IoBase", 0x300), 0);
  ASSERT_EQ(script_.AppendSection(1), 0);
  ASSERT_EQ(WriteDword(1, "Irq", 7), 0);
  EXPECT_EQ(tree_.Read(), header + "\"Irq\"=dword:6\n\"IoLen\"=dword:40\n\"IoBase\"=dword:300\n" +
                              " \n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1] \n\"Irq\"=dword:7\n");
}

// Only a line that sets exactly the value counts: not a comment that
// mentions it, not a value whose name begins with it.
TEST_F(ScriptValues, CommentsAndLongerNamesAreNotTheValue) {
  const std::string head = Header(0) + "; Irq 5 is wired on the carrier\r\n; \"Irq\"=dword:9 was the old line\r\n" +
                           "\"IrqShare\"=dword:1\r\n";
  Start(head + kIrq5 + kLen);
  EXPECT_EQ(ReadDword(0, "Irq"), 5u);
  ASSERT_EQ(WriteDword(0, "Irq", 7), 0);
  EXPECT_EQ(tree_.Read(), head + "\"Irq\"=dword:7\r\n" + kLen);
  EXPECT_EQ(ReadDword(0, "Irq"), 7u);
  EXPECT_EQ(ReadDword(0, "IrqShare"), 1u);

  // Without an "Irq" line the value is added, the look-alikes stay.
  Start(Header(1) + "; Irq 5 is wired on the carrier\r\n\"IrqShare\"=dword:1\r\n");
  ASSERT_EQ(WriteDword(1, "Irq", 7), 0);
  EXPECT_EQ(tree_.Read(), Header(1) + "; Irq 5 is wired on the carrier\r\n\"IrqShare\"=dword:1\r\n\"Irq\"=dword:7\r\n");
}

TEST_F(ScriptValues, NamesMatchWithoutRegardToCase) {
  Start(Header(0) + "\"irq\"=dword:5\r\n" + kLen);
  EXPECT_EQ(ReadDword(0, "IRQ"), 5u);
  ASSERT_EQ(WriteDword(0, "Irq", 9), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"Irq\"=dword:9\r\n" + kLen);
}

// A section that ends the file without a line break: the new value starts
// on a line of its own, and a later rewrite keeps the last line.
TEST_F(ScriptValues, ValueAfterALastLineWithoutLineBreakStartsItsOwnLine) {
  Start("; head\r\n" + Header(0) + "\"Prefix\"=\"Q62\"");
  ASSERT_EQ(WriteDword(0, "IoBase", 0x300), 0);
  EXPECT_EQ(tree_.Read(), "; head\r\n" + Header(0) + "\"Prefix\"=\"Q62\"\r\n\"IoBase\"=dword:300\r\n");
  ASSERT_EQ(WriteString(0, "Prefix", "Q62"), 0);
  ASSERT_EQ(WriteDword(0, "IoBase", 0x340), 0);
  EXPECT_EQ(tree_.Read(), "; head\r\n" + Header(0) + "\"Prefix\"=\"Q62\"\r\n\"IoBase\"=dword:340\r\n");
}

// A replaced line keeps what a person put around the value: indentation, a
// trailing comment, the blanks before it.
TEST_F(ScriptValues, ReplacedLineKeepsIndentationAndComment) {
  Start(Header(0) + "  \"Irq\"=dword:5   ; jumper J4\r\n\t\"Name\"=\"a;b\" ; quoted ;\r\n");
  ASSERT_EQ(WriteDword(0, "Irq", 11), 0);
  ASSERT_EQ(WriteString(0, "Name", "c"), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "  \"Irq\"=dword:b   ; jumper J4\r\n\t\"Name\"=\"c\" ; quoted ;\r\n");
}

// A hex list continued over several lines is one value: it is read whole and
// replaced whole.
// Stray text after a value's data (a hand edit gone wrong) goes with the old
// data: kept, it would run into the new data ("dword:7" and "12" read as
// 0x712) or change the next save. A comment after it stays.
TEST_F(ScriptValues, StrayTextAfterTheOldDataGoesWithIt) {
  Start(Header(0) + "\"Irq\"=\"5\"12\r\n\"IoBase\"=\"300\" stray ; base of J4\r\n  \"IoLen\"=\"40\"x  \r\n");
  ASSERT_EQ(WriteDword(0, "Irq", 7), 0);
  ASSERT_EQ(WriteDword(0, "IoBase", 0x340), 0);
  ASSERT_EQ(WriteDword(0, "IoLen", 0x40), 0);
  const std::string written = Header(0) + "\"Irq\"=dword:7\r\n\"IoBase\"=dword:340 ; base of J4\r\n  \"IoLen\"=dword:40\r\n";
  EXPECT_EQ(tree_.Read(), written);
  EXPECT_EQ(ReadDword(0, "Irq"), 7u);
  EXPECT_EQ(ReadDword(0, "IoBase"), 0x340u);
  // Written again, every line stays as it is.
  ASSERT_EQ(WriteDword(0, "Irq", 7), 0);
  ASSERT_EQ(WriteDword(0, "IoBase", 0x340), 0);
  EXPECT_EQ(tree_.Read(), written);
}

// A hex list whose last line ends in a stray "\\" continues only onto a
// line of hex bytes: a value added after it is a line of its own and reads
// back, and the list keeps its bytes.
TEST_F(ScriptValues, NewValueAfterAHexListLeftOpenIsALineOfItsOwn) {
  const std::string open = "\"Raw\"=hex:01,02,\\\r\n  03,\\\r\n";
  Start(Header(0) + kBase + open + Header(1) + kBase);
  ASSERT_EQ(WriteDword(0, "Irq", 5), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + kBase + open + kIrq5 + Header(1) + kBase);
  EXPECT_EQ(ReadDword(0, "Irq"), 5u);
  std::uint8_t raw[8] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof raw;
  ASSERT_EQ(script_.ReadValue(0, "Raw", &type, raw, &size), 0);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(raw[2], 3);
  // Replacing the list takes its own lines only.
  const std::uint8_t bytes[2] = {0xAA, 0xBB};
  ASSERT_EQ(script_.WriteValue(0, "Raw", kTypeBinary, bytes, 2), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + kBase + "\"Raw\"=hex:AA,BB\r\n" + kIrq5 + Header(1) + kBase);
}

// A comment or other text that follows a stray "\\" is no part of the list:
// removing the template, or replacing the list, leaves it.
TEST_F(ScriptValues, TextAfterAStrayBackslashIsNoPartOfTheList) {
  const std::string tail = "; wired on J4\r\nnotes: see the carrier\r\n";
  Start(Header(0) + "\"DigPortCfg\"=hex:00,00,00\\\r\n" + tail + Header(1) + kBase);
  const std::uint8_t ports[3] = {1, 0, 3};
  ASSERT_EQ(script_.WriteValue(0, "DigPortCfg", kTypeBinary, ports, 3), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"DigPortCfg\"=hex:01,00,03\r\n" + tail + Header(1) + kBase);
  ASSERT_EQ(script_.RemoveSection(0), 0);
  EXPECT_EQ(tree_.Read(), tail + Header(1) + kBase);
}

// Lines of bytes after a removed template's header stay lines of their own
// when a stray "\\" in the section before left its hex list open: a " "
// line takes the header's place, and replacing the list keeps them.
TEST_F(ScriptValues, BytesAfterARemovedHeaderDoNotJoinAListLeftOpenBeforeIt) {
  const std::string open = "\"Raw\"=hex:1B,E4,\\\r\n  01,\\\r\n";
  const std::string bytes = "00,01,02\r\n00,01,02\r\n";
  Start(Header(0) + open + Header(1) + bytes + Header(2) + kBase);
  ASSERT_EQ(script_.RemoveSection(1), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + open + " \r\n" + bytes + Header(2) + kBase);
  const std::uint8_t raw[1] = {0xAA};
  ASSERT_EQ(script_.WriteValue(0, "Raw", kTypeBinary, raw, 1), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"Raw\"=hex:AA\r\n \r\n" + bytes + Header(2) + kBase);
}

TEST_F(ScriptValues, ContinuedHexListIsOneValue) {
  const std::string tail = "\"Irq\"=dword:5\r\n";
  Start(Header(0) + "\"DigPortCfg\"=hex:01,\\\r\n  00,\\ ; port B\r\n  04\r\n" + tail);
  std::array<std::uint8_t, 3> cfg{};
  std::uint32_t type = 0;
  std::uint32_t size = 3;
  ASSERT_EQ(script_.ReadValue(0, "DigPortCfg", &type, cfg.data(), &size), 0);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(cfg, (std::array<std::uint8_t, 3>{1, 0, 4}));
  const std::uint8_t next[3] = {0, 1, 3};
  ASSERT_EQ(script_.WriteValue(0, "DigPortCfg", kTypeBinary, next, 3), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"DigPortCfg\"=hex:00,01,03\r\n" + tail);
}

TEST_F(ScriptValues, StringsAreEscapedAndReadBack) {
  Start(Header(0));
  ASSERT_EQ(WriteString(0, "Path", "C:\\x \"q\""), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"Path\"=\"C:\\\\x \\\"q\\\"\"\r\n");
  char text[32] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof text;
  ASSERT_EQ(script_.ReadValue(0, "Path", &type, text, &size), 0);
  EXPECT_STREQ(text, "C:\\x \"q\"");
  EXPECT_EQ(size, 9u);
}

// A key with two sections: the registry takes the later line, so that is the
// one read, and a write sets every line.
TEST_F(ScriptValues, RepeatedSectionIsReadLastAndWrittenEverywhere) {
  Start(Header(0) + kIrq5 + Header(1) + kBase + Header(0) + "\"Irq\"=dword:9\r\n");
  EXPECT_EQ(ReadDword(0, "Irq"), 9u);
  ASSERT_EQ(WriteDword(0, "Irq", 7), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"Irq\"=dword:7\r\n" + Header(1) + kBase + Header(0) + "\"Irq\"=dword:7\r\n");
  ASSERT_EQ(WriteDword(0, "IoLen", 0x40), 0);
  EXPECT_EQ(tree_.Read(),
            Header(0) + "\"Irq\"=dword:7\r\n" + Header(1) + kBase + Header(0) + "\"Irq\"=dword:7\r\n" + kLen);
}

TEST_F(ScriptValues, LineFormsOfTheThreeTypes) {
  Start(Header(0));
  ASSERT_EQ(WriteString(0, "Prefix", "Q62"), 0);
  ASSERT_EQ(WriteDword(0, "Order", 0), 0);
  ASSERT_EQ(WriteDword(0, "IoBase", 768), 0);
  ASSERT_EQ(WriteDword(0, "TimerClock", 20), 0);
  ASSERT_EQ(WriteDword(0, "Big", 0xABCDEF01), 0);
  const std::uint8_t cfg[3] = {1, 0, 3};
  ASSERT_EQ(script_.WriteValue(0, "DigPortCfg", kTypeBinary, cfg, 3), 0);
  const std::uint8_t high[2] = {0xAB, 0x0F};
  ASSERT_EQ(script_.WriteValue(0, "Raw", kTypeBinary, high, 2), 0);
  EXPECT_EQ(tree_.Read(), Header(0) +
                              "\"Prefix\"=\"Q62\"\r\n"
                              "\"Order\"=dword:0\r\n"
                              "\"IoBase\"=dword:300\r\n"
                              "\"TimerClock\"=dword:14\r\n"
                              "\"Big\"=dword:abcdef01\r\n"
                              "\"DigPortCfg\"=hex:01,00,03\r\n"
                              "\"Raw\"=hex:AB,0F\r\n");
}

TEST_F(ScriptValues, StringIsWrittenUpToItsTerminatorWithinSize) {
  Start(Header(0));
  ASSERT_EQ(script_.WriteValue(0, "Dll", kTypeString, "Zqs5162s.dllXYZ", 12), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"Dll\"=\"Zqs5162s.dll\"\r\n");
}

TEST_F(ScriptValues, NumbersReadWithOrWithoutLeadingZeros) {
  Start(Header(0) + "\"IoBase\"=dword:00000300\r\n\"Irq\"=dword:5\r\n\"Len\"=dword:0040\r\n"
        "\"Up\"=dword:3C0\r\n");
  EXPECT_EQ(ReadDword(0, "IoBase"), 0x300u);
  EXPECT_EQ(ReadDword(0, "Irq"), 5u);
  EXPECT_EQ(ReadDword(0, "Len"), 0x40u);
  EXPECT_EQ(ReadDword(0, "Up"), 0x3C0u);
}

TEST_F(ScriptValues, DwordWithTrailingCommentReadsCorrectly) {
  Start(Header(0) + "\"IoBase\"=dword:300;jumpers J1-J3\r\n\"Irq\"=dword:5 ; line 5\r\n");
  EXPECT_EQ(ReadDword(0, "IoBase"), 0x300u);
  EXPECT_EQ(ReadDword(0, "Irq"), 5u);
}

TEST_F(ScriptValues, WrittenNumbersReadBack) {
  Start("");
  ASSERT_EQ(script_.AppendSection(4), 0);
  for (const std::uint32_t value : {0u, 1u, 0x40u, 0x3C0u, 0xFFFFFFFFu}) {
    ASSERT_EQ(WriteDword(4, "Value", value), 0);
    EXPECT_EQ(ReadDword(4, "Value"), value);
  }
}

TEST_F(ScriptValues, ReadReportsTypeAndSize) {
  Start(Header(0) + "\"DigPortCfg\"=hex:01, 00,03\r\n\"Dll\"=\"Zqs5162s.dll\"\r\n"
        "\"Multi\"=hex(7):41,00,00,00\r\n\"Irq\"=dword:5\r\n");
  std::array<std::uint8_t, 3> cfg{};
  std::uint32_t type = 0;
  std::uint32_t size = 3;
  ASSERT_EQ(script_.ReadValue(0, "DigPortCfg", &type, cfg.data(), &size), 0);
  EXPECT_EQ(type, kTypeBinary);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(cfg, (std::array<std::uint8_t, 3>{1, 0, 3}));

  char text[32] = {};
  size = sizeof text;
  ASSERT_EQ(script_.ReadValue(0, "Dll", &type, text, &size), 0);
  EXPECT_EQ(type, kTypeString);
  EXPECT_STREQ(text, "Zqs5162s.dll");

  size = 99;
  ASSERT_EQ(script_.ReadValue(0, "Multi", &type, text, &size), 0);
  EXPECT_EQ(type, kTypeMultiString);
  EXPECT_EQ(size, 0u);

  // Without a destination only type and size are reported.
  size = 0;
  EXPECT_NE(script_.ReadValue(0, "Irq", &type, nullptr, &size), 0);
  EXPECT_EQ(type, kTypeDword);
  EXPECT_EQ(size, 4u);
}

TEST_F(ScriptValues, ReadNeverWritesPastTheDestination) {
  Start(Header(0) + "\"Cfg\"=hex:01,02,03,04,05\r\n\"Name\"=\"abcdefgh\"\r\n\"Num\"=dword:1\r\n");
  std::array<std::uint8_t, 5> bytes{};
  bytes.fill(0xEE);
  std::uint32_t type = 0;
  std::uint32_t size = 3;
  ASSERT_EQ(script_.ReadValue(0, "Cfg", &type, bytes.data(), &size), 0);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 5>{1, 2, 3, 0xEE, 0xEE}));

  char text[6];
  std::memset(text, 'X', sizeof text);
  size = 4;
  ASSERT_EQ(script_.ReadValue(0, "Name", &type, text, &size), 0);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(text[4], 'X');

  std::uint32_t number = 7;
  size = 2;
  EXPECT_NE(script_.ReadValue(0, "Num", &type, &number, &size), 0);
  EXPECT_EQ(number, 7u);
}

TEST_F(ScriptValues, MissingValueLeavesOutputsUntouched) {
  Start(Header(0) + kBase);
  std::uint32_t type = 77;
  std::uint32_t size = 4;
  std::uint32_t value = 9;
  EXPECT_NE(script_.ReadValue(0, "Irq", &type, &value, &size), 0);
  EXPECT_EQ(type, 77u);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(value, 9u);
  EXPECT_NE(script_.ReadValue(5, "IoBase", &type, &value, &size), 0);
  EXPECT_EQ(value, 9u);
}

TEST_F(ScriptValues, ReadStopsAtTheSectionEnd) {
  Start(Header(0) + kBase + Header(1) + kIrq5);
  int rc = 0;
  EXPECT_EQ(ReadDword(0, "Irq", &rc), 0xDEADBEEFu);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(ReadDword(1, "Irq"), 5u);
}

TEST_F(ScriptValues, ReadValuesFillsEveryRowFound) {
  Start(Header(2) + kBase + kIrq5);
  std::uint32_t base = 0;
  std::uint32_t irq = 0;
  std::uint32_t absent = 123;
  ValueEntry table[] = {{"IoBase", 0, 4, &base}, {"Irq", 0, 4, &irq}, {"Nope", 0, 4, &absent},
                        {nullptr, 0, 0, nullptr}};
  EXPECT_NE(script_.ReadValues(2, table), 0);
  EXPECT_EQ(base, 0x100u);
  EXPECT_EQ(irq, 5u);
  EXPECT_EQ(absent, 123u);
  EXPECT_EQ(table[0].type, kTypeDword);
}

TEST_F(ScriptValues, WriteValuesStopsAtTheFirstFailure) {
  Start(Header(0));
  std::uint32_t one = 1;
  std::uint32_t two = 2;
  char bad[] = "line\r\nbreak";
  const ValueEntry table[] = {{"One", kTypeDword, 4, &one},
                              {"Bad", kTypeString, sizeof bad, bad},
                              {"Two", kTypeDword, 4, &two},
                              {nullptr, 0, 0, nullptr}};
  EXPECT_EQ(script_.WriteValues(0, table), 0);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"One\"=dword:1\r\n");
}

TEST_F(ScriptValues, WriteValuesWritesTheWholeStringWhateverItsSizeSays) {
  Start(Header(0));
  char dll[] = "Zqs5162s.dll";
  const ValueEntry table[] = {{"Dll", kTypeString, 2, dll}, {nullptr, 0, 0, nullptr}};
  EXPECT_EQ(script_.WriteValues(0, table), 1);
  EXPECT_EQ(tree_.Read(), Header(0) + "\"Dll\"=\"Zqs5162s.dll\"\r\n");
}

TEST_F(ScriptValues, LineThatDoesNotFitTheBufferFailsAndLeavesTheFile) {
  const std::string before = Header(0) + kBase;
  Start(before);
  // "Text" with quotes, "=", two quotes, CR LF and terminator: 12 bytes.
  const std::string fits(256 - 12, 'a');
  const std::string tooLong(256 - 11, 'a');
  EXPECT_NE(WriteString(0, "Text", tooLong.c_str()), 0);
  EXPECT_EQ(tree_.Read(), before);
  ASSERT_EQ(WriteString(0, "Text", fits.c_str()), 0);
  EXPECT_EQ(tree_.Read(), before + "\"Text\"=\"" + fits + "\"\r\n");

  std::vector<std::uint8_t> bytes(100, 0x55);
  EXPECT_NE(script_.WriteValue(0, "Blob", kTypeBinary, bytes.data(), 100), 0);
  EXPECT_EQ(tree_.Read(), before + "\"Text\"=\"" + fits + "\"\r\n");
}

TEST_F(ScriptValues, BadArgumentsFailAndChangeNothing) {
  const std::string before = Header(0) + kBase;
  Start(before);
  std::uint32_t value = 1;
  EXPECT_NE(script_.WriteValue(0, nullptr, kTypeDword, &value, 4), 0);
  EXPECT_NE(script_.WriteValue(0, "Irq", kTypeDword, nullptr, 4), 0);
  EXPECT_NE(script_.WriteValue(0, "Irq", kTypeDword, &value, 2), 0);
  EXPECT_NE(script_.WriteValue(0, "", kTypeDword, &value, 4), 0);
  EXPECT_NE(script_.WriteValue(0, "a\"b", kTypeDword, &value, 4), 0);
  // A control character in a name would make a line no registry imports.
  EXPECT_NE(script_.WriteValue(0, "Io\tBase", kTypeDword, &value, 4), 0);
  EXPECT_NE(script_.WriteValue(0, "Io\nBase", kTypeDword, &value, 4), 0);
  EXPECT_NE(script_.WriteValue(0, "Io\x1b", kTypeDword, &value, 4), 0);
  EXPECT_NE(script_.WriteValue(0, "Multi", kTypeMultiString, &value, 4), 0);
  std::uint32_t type = 0;
  std::uint32_t size = 4;
  EXPECT_NE(script_.ReadValue(0, nullptr, &type, &value, &size), 0);
  EXPECT_NE(script_.ReadValue(0, "IoBase", nullptr, &value, &size), 0);
  EXPECT_NE(script_.ReadValue(0, "IoBase", &type, &value, nullptr), 0);
  EXPECT_EQ(tree_.Read(), before);
}

// The text in memory takes names of any length, NUL bytes included: a name
// with a NUL is refused like any other control character, so that the text
// stays one the editor can load again.
TEST(ScriptTextValues, NameWithANulIsRefused) {
  ScriptNames names;
  ASSERT_EQ(DeriveScriptNames("/t/Device_Drivers/QIO5162/QIO5162.reg", names), 0);
  ScriptText text(names);
  ASSERT_EQ(text.Load(Header(0)), 0);
  const std::uint32_t value = 5;
  EXPECT_NE(text.WriteValue(0, std::string_view("Irq\0x", 5), kTypeDword, &value, 4), 0);
  EXPECT_EQ(text.text(), Header(0));
  ASSERT_EQ(text.WriteValue(0, "Irq", kTypeDword, &value, 4), 0);
  EXPECT_EQ(text.text(), Header(0) + kIrq5);
}

TEST_F(ScriptValues, ClosedEditorDoesNothing) {
  const std::string before = Header(0) + kBase;
  Start(before);
  script_.Close();
  EXPECT_NE(WriteDword(0, "Irq", 5), 0);
  int rc = 0;
  ReadDword(0, "IoBase", &rc);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(tree_.Read(), before);
}

}  // namespace
}  // namespace qio::config
