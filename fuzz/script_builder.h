// Registry scripts as people, regedit and the editor itself leave them, built
// from the fuzzer's bytes: template headers (as the editor writes them, in
// other letter case, indented, with a comment, commented out, of template 11
// beside template 1), the " " lines an append writes, headers of other keys,
// value lines of every form (numbers with and without leading zeros, hex
// lists continued over lines or left dangling, strings with escapes and
// brackets, multi-strings, deletions, the default value), comments that
// mention keys and values, blank, long and stray lines; in 8-bit text
// (ASCII, UTF-8 or code page 1252 bytes), UTF-8 after its mark or UTF-16LE,
// with CR LF, LF or both, with or without a final line break.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "config/script/ScriptNames.h"
#include "fuzz_support.h"
#include "text_encodings.h"

namespace qio::fuzz {

class ScriptBuilder {
 public:
  ScriptBuilder(FuzzInput& input, const config::ScriptNames& names) : in_(input), names_(names) {}

  std::string Build() {
    const std::uint32_t encoding = in_.Below(3);  // 8-bit, UTF-8 with its mark, UTF-16LE
    lineEnds_ = in_.Below(3);
    const bool finalBreak = in_.Below(4) != 0;
    const std::uint32_t lines = in_.Below(40);
    for (std::uint32_t i = 0; i < lines && !in_.Empty(); ++i) Line();
    if (!finalBreak && !text_.empty() && text_.back() == '\n') {
      text_.pop_back();
      if (!text_.empty() && text_.back() == '\r' && in_.Bool()) text_.pop_back();
    }
    switch (encoding) {
      case 1: return std::string(kUtf8Mark) + text_;
      case 2: return std::string(kUtf16LeMark) + Utf16Le(text_);
      default: return in_.Bool() && FitsCp1252(text_) ? Cp1252(text_) : text_;
    }
  }

 private:
  static constexpr const char* kNames[] = {
      "IoBase", "Irq", "DigPortCfg", "Prefix", "Dll", "Order", "DeviceIndex", "IoLen", "TimerClock", "irq",
      "IOBASE", "Other", "with;semi", "x\\\"q", "sp ace", "Gr\xC3\xBC\xC3\x9F\x65"};
  static constexpr const char* kTexts[] = {"Q62", "Zqs5162s.dll", "", "a\\\\b", "say \\\"hi\\\"", "x;y",
                                           "slot [2]", "caf\xC3\xA9", "\xE2\x82\xAC 5"};
  static constexpr const char* kComments[] = {
      "; QIO-5162 settings", ";", "; old: [HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0]", "; ZQS5162S1] moved",
      "; \"IoBase\"=dword:300", "  ; indented", "; caf\xC3\xA9"};
  static constexpr int kTemplates[] = {0, 1, 2, 3, 11, 15, 16, 17, 5, 10};

  std::string LineEnd() { return lineEnds_ == 1 || (lineEnds_ == 2 && in_.Bool()) ? "\n" : "\r\n"; }
  void Emit(const std::string& content) { text_ += content + LineEnd(); }

  std::string Blanks() {
    static const char* const kBlanks[] = {"", "", "", " ", "\t", "  "};
    return kBlanks[in_.Below(6)];
  }

  std::string Case(std::string text) {
    switch (in_.Below(4)) {
      case 0:
        for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        break;
      case 1:
        for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        break;
      default: break;
    }
    return text;
  }

  std::string TemplateHeader() {
    const int n = in_.Below(4) == 0 ? static_cast<int>(in_.Below(18)) : in_.Pick(kTemplates);
    return names_.keyPrefix.empty() ? "[HKEY_LOCAL_MACHINE\\X" + std::to_string(n) + "]" : names_.HeaderLine(n);
  }

  std::string Hex(std::uint8_t byte, bool upper) {
    char digits[4];
    std::snprintf(digits, sizeof digits, upper ? "%02X" : "%02x", byte);
    return digits;
  }

  std::string HexList(bool dangling) {
    std::string out;
    const std::uint32_t count = in_.Below(6);
    for (std::uint32_t i = 0; i < count; ++i) {
      out += (i == 0 ? "" : "," + Blanks()) + Hex(in_.Byte(), in_.Bool());
      if (i + 1 < count && in_.Below(4) == 0) out += ",\\" + LineEnd() + "  " + Hex(in_.Byte(), false), ++i;
    }
    return dangling ? out + ",\\" : out;
  }

  std::string Data() {
    switch (in_.Below(9)) {
      case 0: {
        char digits[16];
        std::snprintf(digits, sizeof digits, in_.Bool() ? "%x" : "%08X", in_.U32() % (in_.Bool() ? 0x400 : 0xFFFFFFFF));
        return Case("dword:") + digits;
      }
      case 1: return Case("hex:") + HexList(false);
      case 2: return std::string("\"") + in_.Pick(kTexts) + "\"";
      case 3: return "hex(7):41,00,00,00,00,00";
      case 4: return "multi_sz:\"a\",\"b\"";
      case 5: return "-";
      case 6: return std::string("\"") + in_.Pick(kTexts) + "\" stray";
      case 7: return Case("hex:") + HexList(true);  // continued onto whatever follows
      default: return "dword:" + std::to_string(in_.Below(1000));
    }
  }

  void Line() {
    switch (in_.Below(20)) {
      case 0:
      case 1: Emit(TemplateHeader() + (in_.Bool() ? " " : "")); break;
      case 2: Emit(Blanks() + Case(TemplateHeader()) + Blanks() + (in_.Bool() ? " ; board" : "")); break;
      case 3: Emit(" "); break;
      case 4: Emit("; " + TemplateHeader()); break;
      case 5: {
        static const char* const kOthers[] = {"[HKEY_LOCAL_MACHINE\\Other]", "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn]",
                                              "  [HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1\\Sub]"};
        Emit(in_.Bool() ? in_.Pick(kOthers) : TemplateHeader() + "x]");
        break;
      }
      case 6:
      case 7:
      case 8:
      case 9: Emit(Blanks() + "\"" + in_.Pick(kNames) + "\"" + Blanks() + "=" + Blanks() + Data()); break;
      case 10:
        Emit(Blanks() + "\"" + in_.Pick(kNames) + "\"=" + Data() + Blanks() + (in_.Bool() ? " ; was 0x300" : ""));
        break;
      case 11: Emit(in_.Pick(kComments)); break;
      case 12: Emit(Blanks()); break;
      case 13: Emit(std::string(in_.Below(300), 'q')); break;
      case 14: Emit("@=\"default\""); break;
      case 15: Emit("\"FriendlyName\"=\"board [slot " + std::to_string(in_.Below(4)) + "]\""); break;
      case 16: {
        // A few bytes as they come (8-bit text keeps them; no NUL or LF).
        std::string bytes;
        for (std::uint32_t i = in_.Below(12); i > 0; --i) {
          const auto byte = static_cast<char>(in_.Byte());
          if (byte != '\0' && byte != '\n') bytes += byte;
        }
        if (IsWellFormedUtf8(bytes)) Emit(bytes);
        break;
      }
      case 17: Emit("00,01,02"); break;  // a stray list line
      default: Emit(names_.HeaderLine(static_cast<int>(in_.Below(18))) + " "); break;
    }
  }

  FuzzInput& in_;
  const config::ScriptNames& names_;
  std::uint32_t lineEnds_ = 0;  // 0 CR LF, 1 LF, 2 either, line by line
  std::string text_;
};

}  // namespace qio::fuzz
