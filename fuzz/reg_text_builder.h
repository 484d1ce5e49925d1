// Registry text built from the pieces people and tools write (a version line,
// sections and deletions, value lines of every type with escapes, hex lists
// continued over lines, comments, blanks, odd case, both line ends, a missing
// final line break, every encoding the importer reads), together with what
// importing it must do: the registry it leaves, or the line it must refuse.
//
// The expectation is worked out here, line by line, from the format alone;
// it shares nothing with the importer but the public registry calls that the
// harness checks the result with.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text_encodings.h"

namespace qio::fuzz {

// Registry names compare without regard to the case of ASCII letters.
inline std::string Fold(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

struct ModelValue {
  std::string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

struct ModelKey {
  std::string path;  // as first written, "\"-separated; empty for the root
  std::vector<ModelValue> values;
};

// What the registry should hold: keys by their folded path.
class RegistryModel {
 public:
  using Path = std::vector<std::string>;

  void CreateKey(const Path& path) {
    std::string display;
    std::string folded;
    if (path.empty()) keys_.try_emplace("", ModelKey{});
    for (std::size_t i = 0; i < path.size(); ++i) {
      display += (i == 0 ? "" : "\\") + path[i];
      folded += (i == 0 ? "" : "\\") + Fold(path[i]);
      keys_.try_emplace(folded, ModelKey{display, {}});
    }
  }
  void DeleteKey(const Path& path) {
    const std::string folded = Join(path, true);
    for (auto it = keys_.begin(); it != keys_.end();) {
      const bool below = it->first == folded || it->first.rfind(folded + "\\", 0) == 0;
      it = below ? keys_.erase(it) : std::next(it);
    }
    deleted_[folded] = Join(path, false);
  }
  void SetValue(const Path& path, const std::string& name, std::uint32_t type, std::vector<std::uint8_t> data) {
    CreateKey(path);
    ModelKey& key = keys_[Join(path, true)];
    if (ModelValue* value = Find(key, name)) {
      value->type = type;
      value->data = std::move(data);
    } else {
      key.values.push_back({name, type, std::move(data)});
    }
  }
  void DeleteValue(const Path& path, const std::string& name) {
    CreateKey(path);
    ModelKey& key = keys_[Join(path, true)];
    std::erase_if(key.values, [&](const ModelValue& v) { return Fold(v.name) == Fold(name); });
  }

  const std::map<std::string, ModelKey>& keys() const { return keys_; }
  // Keys deleted at some point (folded path -> path as written).
  const std::map<std::string, std::string>& deleted() const { return deleted_; }

 private:
  static std::string Join(const Path& path, bool fold) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) out += (i == 0 ? "" : "\\") + (fold ? Fold(path[i]) : path[i]);
    return out;
  }
  static ModelValue* Find(ModelKey& key, const std::string& name) {
    for (auto& value : key.values) {
      if (Fold(value.name) == Fold(name)) return &value;
    }
    return nullptr;
  }

  std::map<std::string, ModelKey> keys_;
  std::map<std::string, std::string> deleted_;
};

enum class TextEncoding : std::uint8_t { kUtf8, kUtf8Mark, kUtf16Le, kCp1252 };

struct BuiltText {
  std::string bytes;
  std::size_t badLine = 0;  // the first line the import must refuse; 0 for none
};

class RegTextBuilder {
 public:
  // With allowErrors false every line is one the import takes; otherwise a
  // third of the texts have bad lines in them.
  RegTextBuilder(FuzzInput& input, bool allowErrors) : in_(input), allowErrors_(allowErrors) {}

  // Builds one text; when it is valid, `model` receives what it does.
  BuiltText Build(RegistryModel& model) {
    allowErrors_ = allowErrors_ && in_.Below(3) == 2;
    const auto encoding = static_cast<TextEncoding>(in_.Below(4));
    narrow_ = encoding == TextEncoding::kCp1252;
    lineEnds_ = in_.Below(3);
    const bool finalBreak = in_.Below(4) != 0;
    // A byte that is not UTF-8 up front, so that the 8-bit text is read as
    // code page 1252 whatever follows.
    if (narrow_) Emit("; caf\xC3\xA9 \xC3\xBC");
    if (in_.Below(4) == 0) Emit(Blanks() + "; " + Pick(kComments));
    switch (in_.Below(3)) {
      case 0: Emit(Blanks() + "Windows Registry Editor Version 5.00" + Blanks()); break;
      case 1: Emit("REGEDIT4"); ansi_ = true; break;
      default: break;
    }
    for (int item = 0; item < 48 && !in_.Empty(); ++item) Item();
    if (allowErrors_ && in_.Below(16) == 0) {
      // A hex list whose last line says it continues.
      Emit("\"Cut\"=hex:01,02,\\");
      Expect(line_);
    }
    if (!finalBreak && text_.size() >= 2 && text_.back() == '\n') {
      text_.resize(text_.size() - (text_[text_.size() - 2] == '\r' ? 2 : 1));
    }
    if (badLine_ == 0) {
      for (const auto& op : ops_) op(model);
    }
    return {Encode(encoding), badLine_};
  }

 private:
  using Path = RegistryModel::Path;
  enum class Section : std::uint8_t { kNone, kKey, kDeletion };

  static constexpr const char* kComments[] = {
      "comment", "[HKEY_LOCAL_MACHINE\\Fake]", "\"Irq\"=dword:5", "caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC",
      "a \\ b", ""};
  static constexpr const char* kKeyNames[] = {
      "Drivers", "BuiltIn", "ZQS5162S0", "zqs5162s0", "Active", "a b", "x]y", "end]", "semi;colon",
      "Gr\xC3\xBC\xC3\x9F\x65", "\xC3\x84rger", "@", "trail ", " lead", "\xE6\x97\xA5\xE6\x9C\xAC",
      "\xF0\x9F\x98\x80", "ZQS5162S11"};
  static constexpr const char* kValueNames[] = {
      "Prefix", "prefix", "Dll", "IoBase", "Irq", "DigPortCfg", "", "with \"quote\"", "back\\slash", "semi;colon",
      "eq=ual", " sp ace ", "Gr\xC3\xBC\xC3\x9F\x65", "[x]", "\xF0\x9F\x98\x80", "@", "end\\"};
  static constexpr const char* kTexts[] = {
      "Q62", "Zqs5162s.dll", "C:\\Windows\\x.dll", "say \"hi\"", "a;b", "[x]", "", " spaced ", "tab\there",
      "=", "\\", "\\\\server\\share", "caf\xC3\xA9 \xE2\x82\xAC", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80",
      "\xC3\x84\xC3\xBC\xC3\x9F\xE2\x80\x93\xC3\xBF"};
  static constexpr const char* kRoots[] = {"HKEY_LOCAL_MACHINE", "HKLM", "hkey_local_machine", "hklm",
                                           "Hkey_Local_Machine"};
  // Lines the import refuses wherever they stand.
  static constexpr const char* kBadLines[] = {
      "garbage line", "[HKEY_CURRENT_USER\\Software]", "[HKLM\\Unclosed", "\"v\"=dword:123456789",
      "\"v\"=\"unterminated", "\"v\"=hex:01,,02", "\"v\"=hex:123", "\"v\" dword:1", "\"v\"=bogus:1",
      "\"v\"=hex(4):01,02", "\"v\"=dword:", "\"v\"=\"x\" trailing", "\"v\x01\"=dword:1", "[-HKLM]",
      "[HKLM\\a\\\\b]", "\"v\"=-x", "\"v\"=multi_sz:\"a\",", "\"v\"=hex(zz):01", "\"v\"=hex:01,02,", "@",
      "[HKLM\\ok] trailing", "\"v\"=dword:12x", "[HKLM\\tab\there]"};

  template <std::size_t N>
  std::string Pick(const char* const (&pool)[N]) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::string choice = pool[in_.Below(N)];
      if (!narrow_ || FitsCp1252(choice)) return choice;
    }
    return pool[0];
  }

  std::string Blanks() {
    static const char* const kBlanks[] = {"", "", "", " ", "\t", "  ", " \t "};
    return kBlanks[in_.Below(7)];
  }

  std::string RandomCase(std::string_view word) {
    std::string out(word);
    const std::uint8_t mask = in_.Byte();
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (((mask >> (i % 8)) & 1) != 0 && out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 32);
    }
    return out;
  }

  // A quoted string with \\ and \" escapes; a lone backslash is sometimes
  // left as it stands, which reads the same.
  std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      const bool next = i + 1 < text.size();
      const bool plain = c == '\\' && next && text[i + 1] != '\\' && text[i + 1] != '"' && in_.Bool();
      if ((c == '\\' && !plain) || c == '"') out += '\\';
      out += c;
    }
    return out + "\"";
  }

  void Emit(const std::string& content) {
    text_ += content;
    const bool crlf = lineEnds_ == 0 || (lineEnds_ == 2 && in_.Bool());
    text_ += crlf ? "\r\n" : "\n";
    ++line_;
  }

  void Expect(std::size_t line) {
    if (allowErrors_ && badLine_ == 0) badLine_ = line;
  }

  Path RandomPath() {
    Path path;
    const std::uint32_t depth = in_.Below(16) == 0 ? 0 : 1 + in_.Below(4);
    for (std::uint32_t i = 0; i < depth; ++i) path.push_back(Pick(kKeyNames));
    return path;
  }

  void Header(Path path, bool deletion) {
    std::string line = Blanks() + "[" + (deletion ? "-" : "") + kRoots[in_.Below(5)];
    for (const auto& component : path) line += "\\" + component;
    if (!path.empty() && in_.Below(8) == 0) line += "\\";
    line += "]" + Blanks();
    if (in_.Below(4) == 0) line += "; " + Pick(kComments);
    Emit(line);
    if (deletion && path.empty()) {
      Expect(line_);  // the root cannot go
      return;
    }
    section_ = deletion ? Section::kDeletion : Section::kKey;
    path_ = path;
    paths_.push_back(path);
    if (deletion) {
      ops_.push_back([path](RegistryModel& m) { m.DeleteKey(path); });
    } else {
      ops_.push_back([path](RegistryModel& m) { m.CreateKey(path); });
    }
  }

  // A value line: name, "=", data text, and what it sets.
  void Value(const std::string& name, const std::string& data, std::uint32_t type, std::vector<std::uint8_t> bytes,
             bool deletion = false, std::size_t lines = 1) {
    if (section_ != Section::kKey) {
      if (!allowErrors_) Header(RandomPath(), false);
    }
    const bool useAt = name.empty() && in_.Bool();
    const std::string line = Blanks() + (useAt ? "@" : Quoted(name)) + Blanks() + "=" + Blanks() + data;
    const std::size_t first = line_ + 1;
    text_ += line;
    // The data's own line ends (hex continuations) are already in `data`.
    Emit(Blanks() + (in_.Below(6) == 0 && data.back() != '\\' ? " ; " + Pick(kComments) : ""));
    line_ += lines - 1;
    if (section_ != Section::kKey) {
      Expect(first);
      return;
    }
    const Path path = path_;
    if (deletion) {
      ops_.push_back([=](RegistryModel& m) { m.DeleteValue(path, name); });
    } else {
      ops_.push_back([=](RegistryModel& m) { m.SetValue(path, name, type, bytes); });
    }
  }

  std::string LineEnd() { return lineEnds_ == 1 || (lineEnds_ == 2 && in_.Bool()) ? "\n" : "\r\n"; }

  // Bytes as a hex list, one or two digits each, blanks around commas, and
  // continued over lines now and then. *lines counts the physical lines.
  std::string HexList(const std::vector<std::uint8_t>& bytes, std::size_t* lines) {
    std::string out;
    auto maybeContinue = [&] {
      if (in_.Below(6) != 0) return;
      out += Blanks() + "\\" + Blanks() + (in_.Below(3) == 0 ? "; " + Pick(kComments) : "") + LineEnd() + "  ";
      ++*lines;
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      char digits[4];
      std::snprintf(digits, sizeof digits, bytes[i] < 16 && in_.Bool() ? "%x" : "%02x", bytes[i]);
      out += RandomCase(digits);
      if (i + 1 < bytes.size()) {
        maybeContinue();
        out += Blanks() + "," + Blanks();
        maybeContinue();
      }
    }
    return out;
  }

  std::vector<std::uint8_t> RandomBytes(std::uint32_t limit, std::uint32_t below = 256) {
    std::vector<std::uint8_t> bytes(in_.Below(limit + 1));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(in_.Below(below));
    return bytes;
  }

  void StringValue(const std::string& name, std::string text) {
    const std::vector<std::uint8_t> data = Utf16LeBytes(text, true);
    Value(name, Quoted(text), 1, data);
  }

  void Item() {
    switch (in_.Below(16)) {
      case 0: Emit(Blanks()); break;
      case 1: Emit(Blanks() + ";" + Blanks() + Pick(kComments)); break;
      case 2:
      case 3: Header(RandomPath(), false); break;
      case 4: {
        Path path = RandomPath();
        if (path.empty() && !allowErrors_) path.push_back("Old");
        Header(path, true);
        break;
      }
      case 5:
      case 6: StringValue(Pick(kValueNames), Pick(kTexts)); break;
      case 7: {
        const std::uint32_t value = in_.U32();
        char digits[16];
        std::snprintf(digits, sizeof digits, in_.Bool() ? "%x" : "%08x", value);
        Value(Pick(kValueNames), RandomCase("dword:") + RandomCase(digits), 4,
              {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
               static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
        break;
      }
      case 8: {
        const std::vector<std::uint8_t> bytes = RandomBytes(24);
        std::size_t lines = 1;
        const std::string list = HexList(bytes, &lines);
        Value(Pick(kValueNames), RandomCase("hex:") + list, 3, bytes, false, lines);
        break;
      }
      case 9: HexTypedValue(); break;
      case 10: MultiString(); break;
      case 11: Value(Pick(kValueNames), "-", 0, {}, true); break;
      case 12: StringValue("", Pick(kTexts)); break;
      case 13:
        if (allowErrors_) {
          Emit(Blanks() + kBadLines[in_.Below(std::size(kBadLines))]);
          Expect(line_);
        }
        break;
      case 14: StringValue(Pick(kValueNames), std::string(in_.Below(600), 'q')); break;
      default:
        if (!paths_.empty()) Header(paths_[in_.Below(static_cast<std::uint32_t>(paths_.size()))], false);
        break;
    }
  }

  void HexTypedValue() {
    static const std::uint32_t kTypes[] = {0, 1, 2, 3, 4, 7, 0xB, 0x100000, 0xFFFFFFFF};
    const std::uint32_t type = in_.Pick(kTypes);
    const bool text = type == 1 || type == 2 || type == 7;
    // Under REGEDIT4 the bytes of string types are 8-bit characters, kept
    // ASCII here so that their UTF-16 form is plain.
    std::vector<std::uint8_t> bytes = type == 4 ? RandomBytes(0) : RandomBytes(20, ansi_ && text ? 0x80 : 256);
    if (type == 4) {
      for (int i = 0; i < 4; ++i) bytes.push_back(in_.Byte());
    }
    std::vector<std::uint8_t> stored = bytes;
    if (ansi_ && text) {
      stored.clear();
      for (const std::uint8_t b : bytes) stored.insert(stored.end(), {b, 0});
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, in_.Bool() ? "%x" : "%08x", type);
    std::size_t lines = 1;
    const std::string list = HexList(bytes, &lines);
    Value(Pick(kValueNames), RandomCase("hex(") + RandomCase(digits) + "):" + list, type, stored, false, lines);
  }

  void MultiString() {
    std::string data = RandomCase("multi_sz:");
    std::vector<std::uint8_t> stored;
    const std::uint32_t count = in_.Below(4);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::string item = Pick(kTexts);
      data += (i == 0 ? Blanks() : Blanks() + "," + Blanks()) + Quoted(item);
      const std::vector<std::uint8_t> bytes = Utf16LeBytes(item, true);
      stored.insert(stored.end(), bytes.begin(), bytes.end());
    }
    stored.insert(stored.end(), {0, 0});
    Value(Pick(kValueNames), data, 7, stored);
  }

  std::string Encode(TextEncoding encoding) const {
    switch (encoding) {
      case TextEncoding::kUtf8: return text_;
      case TextEncoding::kUtf8Mark: return std::string(kUtf8Mark) + text_;
      case TextEncoding::kUtf16Le: return std::string(kUtf16LeMark) + Utf16Le(text_);
      case TextEncoding::kCp1252: return Cp1252(text_);
    }
    return text_;
  }

  FuzzInput& in_;
  bool allowErrors_;
  bool narrow_ = false;  // 8-bit text: only characters of code page 1252
  bool ansi_ = false;    // REGEDIT4
  std::uint32_t lineEnds_ = 0;  // 0 CR LF, 1 LF, 2 either, line by line
  std::string text_;
  std::size_t line_ = 0;  // lines emitted so far
  std::size_t badLine_ = 0;
  Section section_ = Section::kNone;
  Path path_;
  std::vector<Path> paths_;
  std::vector<std::function<void(RegistryModel&)>> ops_;
};

}  // namespace qio::fuzz
