// Scripts in the encodings people and regedit save them in: UTF-16LE with its
// byte-order mark, UTF-8 with one, 8-bit ANSI text, LF line ends. A save
// writes the file back in its own encoding, every byte it did not change as
// it was; text the editor cannot hold is refused and left alone.
#include <cerrno>
#include <string>

#include "ScriptTestSupport.h"
#include "config/script/RegScriptFile.h"
#include "config/templates/TemplateTable.h"

namespace qio::config {
namespace {

using testing::Header;
using testing::NewSection;

// UTF-8 text as UTF-16LE bytes (surrogate pairs included), with the mark.
std::string Utf16(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    char32_t cp = lead;
    std::size_t length = 1;
    if (lead >= 0xF0) {
      cp = lead & 0x07;
      length = 4;
    } else if (lead >= 0xE0) {
      cp = lead & 0x0F;
      length = 3;
    } else if (lead >= 0xC0) {
      cp = lead & 0x1F;
      length = 2;
    }
    for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += length;
    auto unit = [&out](char32_t u) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>(u >> 8));
    };
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// A script as regedit saves it, with text outside the board's keys that must
// come through a save unchanged: a non-Latin comment and a character outside
// the basic plane.
const std::string kForeign =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "; Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display]\r\n\"Name\"=\"\xE6\x98\xBE\xE7\xA4\xBA\"\r\n\"Height\"=dword:1e0\r\n";

class ScriptEncodingTest : public ::testing::Test {
 protected:
  // Adds a template through the table, as `qio5162-cfg add` does.
  bool Add() {
    TemplateTable table;
    if (table.Load(tree_.script()) != 0) return false;
    table.ApplyDefaults(table.AllocateSlot());
    return table.Save(tree_.script());
  }

  testing::ScriptTree tree_;
};

TEST_F(ScriptEncodingTest, Utf16ScriptIsReadAndWrittenBackInUtf16) {
  tree_.Write(Utf16(kForeign + NewSection(0, "300", "5")));
  TemplateTable table;
  ASSERT_EQ(table.Load(tree_.script()), 0);
  EXPECT_EQ(table.Record(0).ioBase, 0x300u);
  EXPECT_EQ(table.Record(0).irq, 5u);
  ASSERT_TRUE(Add());
  EXPECT_EQ(tree_.Read(), Utf16(kForeign + NewSection(0, "300", "5") + NewSection(1, "100", "3")));

  table.RemoveSlot(0);
  ASSERT_TRUE(table.Save(tree_.script()));
  EXPECT_EQ(tree_.Read(), Utf16(kForeign));
}

TEST_F(ScriptEncodingTest, Utf8ByteOrderMarkIsKept) {
  tree_.Write("\xEF\xBB\xBF" + kForeign);
  ASSERT_TRUE(Add());
  EXPECT_EQ(tree_.Read(), "\xEF\xBB\xBF" + kForeign + NewSection(0, "100", "3"));
}

// ANSI text is neither UTF-8 nor anything else the editor needs to know:
// its bytes stay as they are.
TEST_F(ScriptEncodingTest, EightBitTextKeepsEveryByte) {
  const std::string ansi = "REGEDIT4\r\n; Gr\xFC\xDF" "e \x80 \xA0\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"S\"=\"caf\xE9\"\r\n";
  tree_.Write(ansi);
  ASSERT_TRUE(Add());
  ASSERT_TRUE(Add());
  EXPECT_EQ(tree_.Read(), ansi + NewSection(0, "100", "3") + NewSection(1, "140", "4"));
}

TEST_F(ScriptEncodingTest, StringThatIsNotUtf8IsRefusedInAUnicodeScript) {
  const std::string before = Utf16(Header(0));
  tree_.Write(before);
  RegScriptFile script;
  ASSERT_EQ(script.Open(tree_.script().c_str()), 0);
  EXPECT_NE(script.WriteValue(0, "Name", kTypeString, "caf\xE9", 5), 0);
  EXPECT_EQ(tree_.Read(), before);
  ASSERT_EQ(script.WriteValue(0, "Name", kTypeString, "caf\xC3\xA9", 6), 0);
  EXPECT_EQ(tree_.Read(), Utf16(Header(0) + "\"Name\"=\"caf\xC3\xA9\"\r\n"));
}

// A component directory named in an 8-bit code page gives key names that are
// not UTF-8: an 8-bit script takes them byte for byte, a Unicode one refuses
// the save with a reason and is left as it was.
TEST(ScriptKeyNameEncoding, EightBitKeyNameOnlyGoesIntoEightBitScripts) {
  const std::string component = "QIO\xE9" "162";
  const std::string header = "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS\xE9" "162S0] \r\n";
  testing::ScriptTree eightBit(component);
  eightBit.Write("; ANSI\r\n");
  TemplateTable table;
  ASSERT_EQ(table.Load(eightBit.script()), 0);
  table.ApplyDefaults(table.AllocateSlot());
  ASSERT_TRUE(table.Save(eightBit.script())) << table.lastError();
  EXPECT_EQ(eightBit.Read().substr(0, 11 + header.size()), "; ANSI\r\n \r\n" + header);

  for (const std::string& unicode : {Utf16("; Unicode\r\n"), std::string("\xEF\xBB\xBF; UTF-8\r\n")}) {
    testing::ScriptTree tree(component);
    tree.Write(unicode);
    ASSERT_EQ(table.Load(tree.script()), 0);
    table.ApplyDefaults(table.AllocateSlot());
    EXPECT_FALSE(table.Save(tree.script()));
    EXPECT_NE(table.lastError().find("not UTF-8"), std::string::npos) << table.lastError();
    EXPECT_EQ(tree.Read(), unicode);
    RegScriptFile script;
    ASSERT_EQ(script.Open(tree.script().c_str()), 0);
    EXPECT_NE(script.AppendSection(0), 0);
    EXPECT_NE(script.message().find("not UTF-8"), std::string::npos) << script.message();
    EXPECT_EQ(tree.Read(), unicode);
  }
}

// 8-bit text with a line that begins with the bytes of a byte-order mark
// (two files joined, "\xFF\xFE" typed as "ÿþ"): a save that would make that
// line the first of the file, where the bytes would read as a mark and the
// text as UTF-16 or UTF-8, is refused and the script left as it was.
TEST(ScriptLeadingMark, EditThatWouldStartEightBitTextWithAMarkIsRefused) {
  for (const std::string& mark : {std::string("\xFF\xFE"), std::string("\xFE\xFF"), std::string("\xEF\xBB\xBF")}) {
    testing::ScriptTree tree;
    const std::string text = Header(0) + mark + "; joined here\r\n[HKEY_LOCAL_MACHINE\\Other]\r\n";
    tree.Write(text);
    TemplateTable table;
    ASSERT_EQ(table.Load(tree.script()), 0);
    EXPECT_FALSE(table.Save(tree.script()));
    EXPECT_NE(table.lastError().find("byte-order mark"), std::string::npos) << table.lastError();
    EXPECT_EQ(tree.Read(), text);
    RegScriptFile script;
    ASSERT_EQ(script.Open(tree.script().c_str()), 0);
    EXPECT_NE(script.RemoveSection(0), 0);
    EXPECT_EQ(tree.Read(), text);
    // Any other edit goes through.
    ASSERT_EQ(script.AppendSection(1), 0);
    EXPECT_EQ(tree.Read(), text + " \r\n" + Header(1));
  }
}

struct Refused {
  const char* what;
  std::string bytes;
  const char* reason;  // part of the message
};

class ScriptRefusalTest : public ::testing::TestWithParam<Refused> {};

TEST_P(ScriptRefusalTest, IsRefusedWithAReasonAndLeftAlone) {
  testing::ScriptTree tree;
  tree.Write(GetParam().bytes);
  RegScriptFile script;
  EXPECT_EQ(script.Open(tree.script().c_str()), EILSEQ);
  EXPECT_NE(script.message().find(GetParam().reason), std::string::npos) << script.message();
  TemplateTable table;
  EXPECT_EQ(table.Load(tree.script()), EILSEQ);
  EXPECT_EQ(table.lastError(), script.message());
  table.ApplyDefaults(table.AllocateSlot());
  EXPECT_FALSE(table.Save(tree.script()));
  EXPECT_EQ(tree.Read(), GetParam().bytes);
  EXPECT_EQ(tree.StrayFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, ScriptRefusalTest,
    ::testing::Values(
        Refused{"Utf16BigEndian", std::string("\xFE\xFF\0;", 4), "big-endian"},
        Refused{"Utf16OddLength", std::string("\xFF\xFE;\0;", 5), "odd number of bytes"},
        Refused{"Utf16UnpairedSurrogate", std::string("\xFF\xFE;\0\n\0\x00\xD8;\0", 10), "unpaired surrogate on line 2"},
        Refused{"Utf16Nul", std::string("\xFF\xFE;\0\0\0", 6), "NUL character"},
        Refused{"Utf16WithoutMark", std::string(";\0 \0x\0", 6), "needs its byte-order mark"},
        Refused{"NulInUtf8", std::string("\xEF\xBB\xBF; a\r\n; b\0c\r\n", 15), "NUL byte on line 2"}),
    [](const ::testing::TestParamInfo<Refused>& param) { return param.param.what; });

}  // namespace
}  // namespace qio::config
