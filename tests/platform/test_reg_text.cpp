// Registry text: import of what the image build merges and the configuration
// plug-in writes, all-or-nothing failure with the line reported, and export
// that reads back to the same registry.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qio/platform/errors.h"
#include "qio/platform/registry.h"

namespace qio::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RegTextTest : public ::testing::Test {
 protected:
  void SetUp() override { RegClearAll(); }
  void TearDown() override { RegClearAll(); }

  static void Import(std::string_view text) {
    std::string error = "unset";
    ASSERT_TRUE(RegImportText(text, &error)) << error;
    EXPECT_EQ(error, "");
  }

  // Type and bytes of a value, or type kRegNone with status in the bytes' place.
  static std::pair<std::uint32_t, Bytes> Value(std::string_view path, std::string_view name) {
    RegKey key = kNullHandle;
    if (RegOpenKey(kLocalMachine, path, &key) != kErrorSuccess) return {0xDEAD, {}};
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (RegQueryValue(key, name, &type, nullptr, &size) != kErrorSuccess) {
      RegCloseKey(key);
      return {0xDEAD, {}};
    }
    Bytes data(size);
    EXPECT_EQ(RegQueryValue(key, name, &type, data.data(), &size), kErrorSuccess);
    RegCloseKey(key);
    return {type, data};
  }

  static std::uint32_t Dword(std::string_view path, std::string_view name) {
    auto [type, data] = Value(path, name);
    EXPECT_EQ(type, kRegDword) << name;
    return data.size() == 4 ? data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24
                            : 0xDEADBEEF;
  }

  static std::string Text(std::string_view path, std::string_view name) {
    auto [type, data] = Value(path, name);
    EXPECT_EQ(type, kRegString) << name;
    if (data.size() < 2 || data[data.size() - 2] != 0 || data.back() != 0) return "<no terminator>";
    return Utf16LeToUtf8(data.data(), data.size() - 2);
  }

  static bool KeyExists(std::string_view path) {
    RegKey key = kNullHandle;
    if (RegOpenKey(kLocalMachine, path, &key) != kErrorSuccess) return false;
    RegCloseKey(key);
    return true;
  }
};

constexpr std::string_view kBoard = "Drivers\\BuiltIn\\ZQS5162S0";

TEST_F(RegTextTest, SectionWrittenByThePluginImportsToTypedValues) {
  Import(
      "; QIO-5162 driver settings\r\n"
      "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn]\r\n"
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
      "\"DigPortCfg\"=hex:00,00,00\r\n"
      " \r\n"
      "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1] \r\n"
      " \r\n"
      "\"IoBase\"=dword:140\r\n"
      "\"DigPortCfg\"=hex:01,00,0A\r\n");
  EXPECT_EQ(Text(kBoard, "Prefix"), "Q62");
  EXPECT_EQ(Text(kBoard, "Dll"), "Zqs5162s.dll");
  EXPECT_EQ(Dword(kBoard, "Order"), 0u);
  EXPECT_EQ(Dword(kBoard, "DeviceIndex"), 0u);
  EXPECT_EQ(Dword(kBoard, "IoBase"), 0x300u);
  EXPECT_EQ(Dword(kBoard, "IoLen"), 0x40u);
  EXPECT_EQ(Dword(kBoard, "Irq"), 5u);
  EXPECT_EQ(Dword(kBoard, "TimerClock"), 20u);
  EXPECT_EQ(Value(kBoard, "DigPortCfg"), std::make_pair(kRegBinary, Bytes{0, 0, 0}));
  EXPECT_EQ(Dword("Drivers\\BuiltIn\\ZQS5162S1", "IoBase"), 0x140u);
  EXPECT_EQ(Value("Drivers\\BuiltIn\\ZQS5162S1", "DigPortCfg"), std::make_pair(kRegBinary, Bytes{1, 0, 10}));
}

TEST_F(RegTextTest, StringsEscapesCommentsAndDefaultValue) {
  Import(
      "Windows Registry Editor Version 5.00\n"
      "\t\n"
      "[HKLM\\Soft] ; the section's comment\n"
      "  ; an indented comment\n"
      "\"Path\"=\"C:\\\\Windows\\\\x.dll\"\n"
      "\"Quote\"=\"say \\\"hi\\\"\" ; after the value\n"
      "\"Semi\"=\"a;b\"\n"
      "\"Loose\"=\"\\Windows\\x\"\n"
      "\"Na\\\"me\" = \"spaced\"\n"
      "@=\"default\"\n"
      "\"Unicode\"=\"Gr\xC3\xBC\xC3\x9F" "e\"\n");
  EXPECT_EQ(Text("Soft", "Path"), "C:\\Windows\\x.dll");
  EXPECT_EQ(Text("Soft", "Quote"), "say \"hi\"");
  EXPECT_EQ(Text("Soft", "Semi"), "a;b");
  EXPECT_EQ(Text("Soft", "Loose"), "\\Windows\\x");
  EXPECT_EQ(Text("Soft", "Na\"me"), "spaced");
  EXPECT_EQ(Text("Soft", ""), "default");
  EXPECT_EQ(Value("Soft", "Unicode").second, (Bytes{'G', 0, 'r', 0, 0xFC, 0, 0xDF, 0, 'e', 0, 0, 0}));
}

// Under version 5.00 the bytes of hex(2) and hex(7) are UTF-16LE, stored as
// they stand.
TEST_F(RegTextTest, HexTypesDwordsAndMultiStrings) {
  Import(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\T]\n"
      "\"Max\"=dword:FFFFFFFF\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
      "\"Names\"=multi_sz:\"a\", \"b\"\n"
      "\"Expand\"=hex(2):25,00,00,00\n"
      "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\n"
      "\"AsDword\"=hex(4):05,00,00,00\n"
      "\"Empty\"=hex:\n"
      "\"Short\"=hex:1,f\n");
  EXPECT_EQ(Dword("T", "Max"), 0xFFFFFFFFu);
  const Bytes multi{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0};
  EXPECT_EQ(Value("T", "Multi"), std::make_pair(kRegMultiString, multi));
  EXPECT_EQ(Value("T", "Names"), std::make_pair(kRegMultiString, multi));
  EXPECT_EQ(Value("T", "Expand"), std::make_pair(kRegExpandString, Bytes{0x25, 0, 0, 0}));
  EXPECT_EQ(Value("T", "Qword"), std::make_pair(11u, Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(Dword("T", "AsDword"), 5u);
  EXPECT_EQ(Value("T", "Empty"), std::make_pair(kRegBinary, Bytes{}));
  EXPECT_EQ(Value("T", "Short"), std::make_pair(kRegBinary, Bytes{1, 15}));
}

TEST_F(RegTextTest, ContinuationLinesAndLineEnds) {
  const std::string lf =
      "[HKEY_LOCAL_MACHINE\\T]\n"
      "\"Cfg\"=hex:00,01,\\\n"
      "  02,03,\\ ; comment after the backslash\n"
      "\t04\n"
      "\"After\"=dword:7\n";
  Import(lf);
  EXPECT_EQ(Value("T", "Cfg"), std::make_pair(kRegBinary, Bytes{0, 1, 2, 3, 4}));
  EXPECT_EQ(Dword("T", "After"), 7u);
  const std::string fromLf = RegExportText();
  RegClearAll();
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  Import(crlf);
  EXPECT_EQ(RegExportText(), fromLf);
}

TEST_F(RegTextTest, DeletionOfValuesAndKeys) {
  Import(
      "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"v\"=dword:1\n"
      "[HKEY_LOCAL_MACHINE\\A]\n\"Keep\"=dword:2\n\"Gone\"=dword:3\n");
  Import(
      "[HKEY_LOCAL_MACHINE\\A]\n\"gone\"=-\n\"NeverWas\"=-\n"
      "[-HKEY_LOCAL_MACHINE\\A\\b]\n"
      "[-HKEY_LOCAL_MACHINE\\Missing]\n");
  EXPECT_EQ(Dword("A", "Keep"), 2u);
  EXPECT_EQ(Value("A", "Gone").first, 0xDEADu);
  EXPECT_FALSE(KeyExists("A\\B"));
  EXPECT_TRUE(KeyExists("A"));
}

TEST_F(RegTextTest, ImportIntoExistingKeysKeepsTheirCase) {
  RegKey key = kNullHandle;
  ASSERT_EQ(RegCreateKey(kLocalMachine, "Drivers\\BuiltIn", &key, nullptr), kErrorSuccess);
  ASSERT_EQ(RegSetDword(key, "Order", 1), kErrorSuccess);
  Import("[hkey_local_machine\\DRIVERS\\builtin]\n\"ORDER\"=dword:2\n");
  EXPECT_EQ(RegExportText(),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Drivers]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn]\r\n\"Order\"=dword:00000002\r\n");
}

struct Malformed {
  std::string text;
  std::string error;  // expected start of the message
};

class RegTextMalformedTest : public RegTextTest, public ::testing::WithParamInterface<Malformed> {};

TEST_P(RegTextMalformedTest, ReportsTheLineAndChangesNothing) {
  RegKey key = kNullHandle;
  ASSERT_EQ(RegCreateKey(kLocalMachine, "Existing", &key, nullptr), kErrorSuccess);
  ASSERT_EQ(RegSetDword(key, "Value", 1), kErrorSuccess);
  const std::string before = RegExportText();
  // Valid lines ahead of the bad one must not be applied either.
  const std::string text = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Existing]\r\n\"Value\"=dword:2\r\n"
                           "[HKEY_LOCAL_MACHINE\\New]\r\n\"x\"=\"y\"\r\n" + GetParam().text;
  std::string error;
  EXPECT_FALSE(RegImportText(text, &error));
  EXPECT_EQ(error.substr(0, GetParam().error.size()), GetParam().error) << error;
  EXPECT_EQ(RegExportText(), before);
  EXPECT_FALSE(RegImportText(text, nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RegTextMalformedTest,
    ::testing::Values(
        Malformed{"\"Bad\"=hex:01,0g\r\n", "line 6: bad hex byte \"0g\""},
        Malformed{"\"Bad\"=hex:01,\\\r\n 002\r\n", "line 7: bad hex byte \"002\""},
        Malformed{"\"Bad\"=hex:01,,02\r\n", "line 6: empty byte"},
        Malformed{"\"Bad\"=hex:01,02,\r\n", "line 6: missing byte"},
        Malformed{"\"Bad\"=hex:01 02\r\n", "line 6: missing ','"},
        Malformed{"\"Bad\"=hex:01,\\\r\n", "line 6: continuation at the end"},
        Malformed{"\"Bad\"=hex(4):01,02\r\n", "line 6: a dword needs exactly 4 bytes"},
        Malformed{"\"Bad\"=hex(zz):01\r\n", "line 6: bad hex value type"},
        Malformed{"\"Bad\"=\"unterminated\r\n", "line 6: unterminated string"},
        Malformed{"\"Bad=\"x\"\r\n", "line 6: expected '='"},
        Malformed{"\"Bad\" \"x\"\r\n", "line 6: expected '='"},
        Malformed{"\"Bad\"=\r\n", "line 6: missing value data"},
        Malformed{"\"Bad\"=\"x\" y\r\n", "line 6: unexpected text after the string"},
        Malformed{"\"Bad\"=dword:123456789\r\n", "line 6: dword with more than 8"},
        Malformed{"\"Bad\"=dword:0x5\r\n", "line 6: bad dword"},
        Malformed{"\"Bad\"=dword:\r\n", "line 6: dword without hex digits"},
        Malformed{"\"Bad\"=sz:x\r\n", "line 6: unknown value data"},
        Malformed{"\"Bad\"=multi_sz:\"a\",\r\n", "line 6: missing string after ','"},
        Malformed{"\"Bad\"=-x\r\n", "line 6: unexpected text after '-'"},
        Malformed{"\r\n[HKEY_CURRENT_USER\\Software]\r\n", "line 7: unknown root key \"HKEY_CURRENT_USER\""},
        Malformed{"[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", "line 6: bad key path"},
        Malformed{"[HKEY_LOCAL_MACHINE\\A\r\n", "line 6: section header without a closing ']'"},
        Malformed{"[HKEY_LOCAL_MACHINE\\A] x\r\n", "line 6: section header without a closing ']'"},
        Malformed{"[-HKEY_LOCAL_MACHINE]\r\n", "line 6: the root key cannot be deleted"},
        Malformed{"[-HKEY_LOCAL_MACHINE\\Existing]\r\n\"v\"=dword:1\r\n", "line 7: value line in a deletion"},
        Malformed{"REGEDIT4\r\n", "line 6: not a section or value line"},
        Malformed{"garbage\r\n", "line 6: not a section or value line"},
        Malformed{std::string("\"Bad\"=\"a\0b\"\r\n", 13), "line 6: NUL character"}));

TEST_F(RegTextTest, ValueBeforeAnySectionIsAnError) {
  std::string error;
  EXPECT_FALSE(RegImportText("REGEDIT4\n\n\"Orphan\"=dword:1\n[HKLM\\A]\n", &error));
  EXPECT_EQ(error, "line 3: value line before any section");
  EXPECT_FALSE(KeyExists("A"));
}

TEST_F(RegTextTest, ExportWritesEveryKeyAndValueInCreationOrder) {
  RegKey board = kNullHandle;
  ASSERT_EQ(RegCreateKey(kLocalMachine, "Drivers\\BuiltIn\\Board0", &board, nullptr), kErrorSuccess);
  RegKey active = kNullHandle;
  ASSERT_EQ(RegCreateKey(kLocalMachine, "Drivers\\Active", &active, nullptr), kErrorSuccess);
  ASSERT_EQ(RegSetString(board, "Prefix", "Q62"), kErrorSuccess);
  ASSERT_EQ(RegSetDword(board, "IoBase", 0x300), kErrorSuccess);
  const std::uint8_t cfg[3] = {1, 0, 3};
  ASSERT_EQ(RegSetValue(board, "DigPortCfg", kRegBinary, cfg, 3), kErrorSuccess);
  ASSERT_EQ(RegSetString(board, "", "a\\\"b"), kErrorSuccess);
  const std::uint8_t multi[6] = {'x', 0, 0, 0, 0, 0};
  ASSERT_EQ(RegSetValue(active, "List", kRegMultiString, multi, 6), kErrorSuccess);
  ASSERT_EQ(RegSetValue(active, "Bare", kRegString, multi, 1), kErrorSuccess);
  EXPECT_EQ(RegExportText(),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\Drivers]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Board0]\r\n"
            "\"Prefix\"=\"Q62\"\r\n"
            "\"IoBase\"=dword:00000300\r\n"
            "\"DigPortCfg\"=hex:01,00,03\r\n"
            "@=\"a\\\\\\\"b\"\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\Drivers\\Active]\r\n"
            "\"List\"=hex(7):78,00,00,00,00,00\r\n"
            "\"Bare\"=hex(1):78\r\n");
}

TEST_F(RegTextTest, ExportThenImportGivesTheSameRegistry) {
  struct Entry {
    std::string path;
    std::string name;
    std::uint32_t type;
    Bytes data;
  };
  Bytes longBinary(200);
  for (std::size_t i = 0; i < longBinary.size(); ++i) longBinary[i] = static_cast<std::uint8_t>(i * 7);
  const std::vector<Entry> entries = {
      {"Drivers\\BuiltIn\\MixedCase", "CamelName", kRegDword, {1, 2, 3, 4}},
      {"Drivers\\BuiltIn\\MixedCase", "", kRegString, Utf8ToUtf16Le("", true)},
      {"Drivers\\BuiltIn\\MixedCase", "Escapes \\ \" ;", kRegString, Utf8ToUtf16Le("C:\\x \"q\" ;c", true)},
      {"Drivers\\BuiltIn\\MixedCase", "@", kRegString, Utf8ToUtf16Le("not the default", true)},
      {"Unicode\\Gr\xC3\xBC\xC3\x9F" "e", "\xE2\x82\xAC", kRegString, Utf8ToUtf16Le("\xF0\x9F\x98\x80", true)},
      {"Unicode", "LineBreak", kRegString, Utf8ToUtf16Le("a\r\nb", true)},
      {"Unicode", "NoTerminator", kRegString, {'a', 0}},
      {"Unicode", "LoneSurrogate", kRegString, {0x00, 0xD8, 0, 0}},
      {"Types", "Long", kRegBinary, longBinary},
      {"Types", "Empty", kRegBinary, {}},
      {"Types", "Multi", kRegMultiString, Bytes{'a', 0, 0, 0, 0, 0}},
      {"Types", "Qword", 11, {8, 7, 6, 5, 4, 3, 2, 1}},
      {"Types", "None", kRegNone, {}},
      {"Odd]name", "x", kRegDword, {0, 0, 0, 0}},
  };
  for (const auto& entry : entries) {
    RegKey key = kNullHandle;
    ASSERT_EQ(RegCreateKey(kLocalMachine, entry.path, &key, nullptr), kErrorSuccess);
    ASSERT_EQ(RegSetValue(key, entry.name, entry.type, entry.data.data(),
                          static_cast<std::uint32_t>(entry.data.size())),
              kErrorSuccess);
  }
  RegKey empty = kNullHandle;
  ASSERT_EQ(RegCreateKey(kLocalMachine, "Empty\\Leaf", &empty, nullptr), kErrorSuccess);
  ASSERT_EQ(RegSetDword(kLocalMachine, "OnRoot", 9), kErrorSuccess);
  const std::string first = RegExportText();
  RegClearAll();
  Import(first);
  EXPECT_EQ(RegExportText(), first);
  for (const auto& entry : entries) {
    EXPECT_EQ(Value(entry.path, entry.name), std::make_pair(entry.type, entry.data)) << entry.name;
  }
  EXPECT_TRUE(KeyExists("Empty\\Leaf"));
  EXPECT_EQ(Dword("", "OnRoot"), 9u);
}

TEST_F(RegTextTest, ByteOrderMarksAreAccepted) {
  Import("\xEF\xBB\xBFREGEDIT4\r\n[HKLM\\A]\r\n\"v\"=dword:1\r\n");
  EXPECT_EQ(Dword("A", "v"), 1u);
  const Bytes wide = Utf8ToUtf16Le("Windows Registry Editor Version 5.00\r\n[HKLM\\B]\r\n\"v\"=dword:2\r\n", false);
  std::string text = "\xFF\xFE";
  text.append(wide.begin(), wide.end());
  Import(text);
  EXPECT_EQ(Dword("B", "v"), 2u);
}

}  // namespace
}  // namespace qio::platform
