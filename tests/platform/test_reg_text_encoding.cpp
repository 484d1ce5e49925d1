// Registry text in the encodings it is written in: UTF-16LE after its mark,
// UTF-8 with or without one, 8-bit ANSI (code page 1252); and the version
// line that tells what the bytes of string types mean.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qio/platform/errors.h"
#include "qio/platform/registry.h"

namespace qio::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RegTextEncodingTest : public ::testing::Test {
 protected:
  void SetUp() override { RegClearAll(); }
  void TearDown() override { RegClearAll(); }

  static void Import(std::string_view bytes) {
    std::string error = "unset";
    ASSERT_TRUE(RegImportText(bytes, &error)) << error;
  }
  static std::string Refused(std::string_view bytes) {
    std::string error;
    EXPECT_FALSE(RegImportText(bytes, &error));
    return error;
  }

  static std::pair<std::uint32_t, Bytes> Value(std::string_view path, std::string_view name) {
    RegKey key = kNullHandle;
    if (RegOpenKey(kLocalMachine, path, &key) != kErrorSuccess) return {0xDEAD, {}};
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    Bytes data;
    if (RegQueryValue(key, name, &type, nullptr, &size) == kErrorSuccess) {
      data.resize(size);
      RegQueryValue(key, name, &type, data.data(), &size);
    }
    RegCloseKey(key);
    return {type, data};
  }
  static std::string Text(std::string_view path, std::string_view name) {
    const Bytes data = Value(path, name).second;
    return data.size() < 2 ? "<none>" : Utf16LeToUtf8(data.data(), data.size() - 2);
  }
  static bool KeyExists(std::string_view path) {
    RegKey key = kNullHandle;
    if (RegOpenKey(kLocalMachine, path, &key) != kErrorSuccess) return false;
    RegCloseKey(key);
    return true;
  }
  static std::string Utf16(const std::string& utf8) {
    const Bytes wide = Utf8ToUtf16Le(utf8, false);
    return "\xFF\xFE" + std::string(wide.begin(), wide.end());
  }
};

// Every character of the code page's upper half that differs from Latin-1,
// the five bytes it leaves undefined, and Latin-1 itself.
TEST_F(RegTextEncodingTest, AnsiTextIsCodePage1252) {
  std::string all = "REGEDIT4\r\n[HKLM\\A]\r\n\"High\"=\"";
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    if (byte != '"' && byte != '\\') all.push_back(static_cast<char>(byte));
  }
  all += "\"\r\n";
  Import(all);
  const std::string text = Text("A", "High");
  EXPECT_EQ(text.substr(0, 3), "\xE2\x82\xAC");                     // 0x80: euro sign
  EXPECT_EQ(text.substr(3, 2), "\xC2\x81");                         // 0x81: undefined, U+0081
  EXPECT_NE(text.find("\xC5\xB8\xC2\xA0"), std::string::npos);      // 0x9F, 0xA0: Y diaeresis, no-break space
  EXPECT_EQ(text.substr(text.size() - 4), "\xC3\xBE\xC3\xBF");      // 0xFE, 0xFF: thorn, y diaeresis
  EXPECT_EQ(Value("A", "High").second.size(), 2u * (128 + 1));
}

// REGEDIT4 writes string types as 8-bit characters; version 5.00 and text
// without a version line carry the registry's own UTF-16LE bytes.
TEST_F(RegTextEncodingTest, VersionLineTellsWhatStringBytesAre) {
  const std::string values = "\"Multi\"=hex(7):61,00,e9,00,00\r\n\"Expand\"=hex(2):25,41,25,00\r\n"
                             "\"Str\"=hex(1):80,00\r\n\"Raw\"=hex:80,00\r\n";
  Import("REGEDIT4\r\n[HKLM\\Four]\r\n" + values);
  EXPECT_EQ(Value("Four", "Multi"), std::make_pair(kRegMultiString, Bytes{'a', 0, 0, 0, 0xE9, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Value("Four", "Expand"), std::make_pair(kRegExpandString, Bytes{'%', 0, 'A', 0, '%', 0, 0, 0}));
  EXPECT_EQ(Value("Four", "Str"), std::make_pair(kRegString, Bytes{0xAC, 0x20, 0, 0}));
  EXPECT_EQ(Value("Four", "Raw"), std::make_pair(kRegBinary, Bytes{0x80, 0}));

  Import("Windows Registry Editor Version 5.00\r\n[HKLM\\Five]\r\n" + values);
  Import("[HKLM\\None]\r\n" + values);
  for (const char* key : {"Five", "None"}) {
    EXPECT_EQ(Value(key, "Multi"), std::make_pair(kRegMultiString, Bytes{0x61, 0, 0xE9, 0, 0})) << key;
    EXPECT_EQ(Value(key, "Str"), std::make_pair(kRegString, Bytes{0x80, 0})) << key;
  }
}

// Text that is UTF-8 throughout is read as UTF-8, whatever its version line;
// one stray ANSI byte makes the whole text ANSI.
TEST_F(RegTextEncodingTest, UnmarkedTextIsUtf8WhenItIsValidUtf8) {
  Import("REGEDIT4\r\n[HKLM\\A]\r\n\"S\"=\"Gr\xC3\xBC\xC3\x9F" "e\"\r\n");
  EXPECT_EQ(Text("A", "S"), "Gr\xC3\xBC\xC3\x9F" "e");
  Import("REGEDIT4\r\n[HKLM\\B]\r\n\"S\"=\"Gr\xC3\xBC\"\r\n\"T\"=\"\xFC\"\r\n");
  EXPECT_EQ(Text("B", "S"), "Gr\xC3\x83\xC2\xBC");
  EXPECT_EQ(Text("B", "T"), "\xC3\xBC");
}

TEST_F(RegTextEncodingTest, Utf16TextReportsLinesAsWritten) {
  Import(Utf16("Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\A]\r\n\"S\"=\"\xF0\x9F\x98\x80\"\r\n"));
  EXPECT_EQ(Value("A", "S").second, (Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
  EXPECT_EQ(Refused(Utf16("Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\A]\r\n\"S\"=dword:x\r\n")),
            "line 4: dword without hex digits");
  std::string lone = Utf16("; one\r\n; two ");
  lone += std::string("\x00\xDC", 2);
  EXPECT_EQ(Refused(lone), "line 2: unpaired surrogate in the UTF-16 text");
  EXPECT_EQ(Refused(Utf16("; odd") + "x"), "the UTF-16 text ends in half a character (an odd number of bytes)");
  EXPECT_EQ(Refused(std::string("\xFE\xFF\0;", 4)).rfind("UTF-16 big-endian text is not read", 0), 0u);
  EXPECT_EQ(Refused(std::string("[\0H\0", 4)),
            "line 1: NUL character in the text (UTF-16 text needs its byte-order mark FF FE)");
  EXPECT_FALSE(KeyExists("B"));
}

TEST_F(RegTextEncodingTest, TextAfterAUtf8MarkMustBeUtf8) {
  Import("\xEF\xBB\xBF[HKLM\\A]\r\n\"S\"=\"\xE2\x82\xAC\"\r\n");
  EXPECT_EQ(Text("A", "S"), "\xE2\x82\xAC");
  EXPECT_EQ(Refused("\xEF\xBB\xBF[HKLM\\B]\r\n; fine\r\n\"S\"=\"\x80\"\r\n"),
            "line 3: not UTF-8, though the text starts with a UTF-8 mark");
  EXPECT_FALSE(KeyExists("B"));
}

}  // namespace
}  // namespace qio::platform
