// Registry text, the format the image build merges into the target's registry
// and the configuration plug-in writes:
//
//   Windows Registry Editor Version 5.00   (or REGEDIT4)
//   ; comment
//   [HKEY_LOCAL_MACHINE\Drivers\BuiltIn\Board0]
//   "Prefix"="Q62"              string (UTF-8 here, UTF-16LE when stored)
//   @="text"                    the key's default value
//   "Order"=dword:0             1 to 8 hex digits
//   "Cfg"=hex:00,01,\           binary, continued on the next line
//     04
//   "List"=hex(7):41,00,00,00,00,00   any type as bytes (7: multi-string)
//   "Names"=multi_sz:"a","b"    multi-string written as text
//   "Old"=-                     deletes the value
//   [-HKEY_LOCAL_MACHINE\Old]   deletes the key with its subtree
//
// Import parses the whole text into a list of operations first and applies it
// only when every line was understood, so a bad line changes nothing.
//
// The first line tells the version, and with it what the bytes of string
// types mean: under "Windows Registry Editor Version 5.00" hex(1), hex(2) and
// hex(7) bytes are UTF-16LE, as the registry stores them; under "REGEDIT4"
// they are 8-bit ANSI text (code page 1252), as regedit writes them there,
// and are stored converted. The text itself may be UTF-16LE, UTF-8 or ANSI
// (reg_text_encoding.h). Export writes version 5.00, its strings in UTF-8.
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qio/platform/registry.h"
#include "reg_text_encoding.h"
#include "registry_store.h"

namespace qio::platform {
namespace {

using detail::RegOperation;
using detail::RegValueRecord;

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kRootShortName = "HKLM";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kLineEnd = "\r\n";
// Exported hex lists wrap before this column.
constexpr std::size_t kHexWrapColumn = 76;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// True when nothing but blanks and an optional comment remain.
bool IsEndOfLine(std::string_view rest) {
  rest = TrimLeft(rest);
  return rest.empty() || rest.front() == ';';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Line {
  std::string_view text;  // without its line end
  std::size_t number = 0;
};

// Physical lines of the text; LF ends a line, a CR before it is dropped.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool Next(Line* line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    std::string_view text = text_.substr(pos_, end - pos_);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    pos_ = end + 1;
    *line = Line{text, ++number_};
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lines_(text) {}

  // Returns the operations, or nothing with error() set.
  std::optional<std::vector<RegOperation>> Parse() {
    Line line;
    bool first = true;
    while (lines_.Next(&line)) {
      if (line.text.find('\0') != std::string_view::npos) {
        Fail(line.number, "NUL character in the text");
        return std::nullopt;
      }
      const std::string_view text = TrimRight(TrimLeft(line.text));
      if (text.empty() || text.front() == ';') continue;
      const bool wasFirst = first;
      first = false;
      if (wasFirst && (text == kHeader4 || text == kHeader5)) {
        ansiStrings_ = text == kHeader4;
        continue;
      }
      const bool ok = text.front() == '[' ? ParseSection(text, line.number)
                      : (text.front() == '"' || text.front() == '@') ? ParseValue(text, line.number)
                                                                     : Fail(line.number, "not a section or value line");
      if (!ok) return std::nullopt;
    }
    return std::move(operations_);
  }

  const std::string& error() const { return error_; }

 private:
  bool Fail(std::size_t lineNumber, std::string_view message) {
    error_ = "line " + std::to_string(lineNumber) + ": " + std::string(message);
    return false;
  }

  // "[path]" or "[-path]", then only blanks or a comment. The header ends at
  // the first "]" that is followed by nothing else, so key names may hold "]".
  bool ParseSection(std::string_view text, std::size_t lineNumber) {
    std::size_t close = std::string_view::npos;
    for (std::size_t at = text.find(']'); at != std::string_view::npos; at = text.find(']', at + 1)) {
      if (IsEndOfLine(text.substr(at + 1))) {
        close = at;
        break;
      }
    }
    if (close == std::string_view::npos) return Fail(lineNumber, "section header without a closing ']'");
    std::string_view path = text.substr(1, close - 1);
    const bool deletion = !path.empty() && path.front() == '-';
    if (deletion) path.remove_prefix(1);
    const std::size_t cut = path.find('\\');
    const std::string_view root = path.substr(0, cut);
    if (!EqualsNoCase(root, kRootName) && !EqualsNoCase(root, kRootShortName)) {
      return Fail(lineNumber, "unknown root key \"" + std::string(root) + "\"");
    }
    const std::string_view below = cut == std::string_view::npos ? std::string_view() : path.substr(cut);
    RegOperation op;
    if (below.size() == 1 || !detail::SplitKeyPath(below, &op.path)) {
      return Fail(lineNumber, "bad key path");
    }
    if (op.path.size() > detail::kMaxKeyDepth) return Fail(lineNumber, "key nested too deep");
    if (deletion && op.path.empty()) return Fail(lineNumber, "the root key cannot be deleted");
    op.kind = deletion ? RegOperation::Kind::DeleteKey : RegOperation::Kind::CreateKey;
    section_ = op.path;
    inSection_ = true;
    inDeletion_ = deletion;
    operations_.push_back(std::move(op));
    return true;
  }

  // A quoted string at the start of *text with \\ and \" escapes; any other
  // backslash is kept as it stands. Advances *text past the closing quote.
  bool ParseQuoted(std::string_view* text, std::string* out, std::size_t lineNumber) {
    out->clear();
    for (std::size_t i = 1; i < text->size(); ++i) {
      const char c = (*text)[i];
      if (c == '"') {
        text->remove_prefix(i + 1);
        return true;
      }
      if (c == '\\' && i + 1 < text->size() && ((*text)[i + 1] == '\\' || (*text)[i + 1] == '"')) {
        out->push_back((*text)[++i]);
        continue;
      }
      out->push_back(c);
    }
    return Fail(lineNumber, "unterminated string");
  }

  bool ParseValue(std::string_view text, std::size_t lineNumber) {
    if (!inSection_) return Fail(lineNumber, "value line before any section");
    if (inDeletion_) return Fail(lineNumber, "value line in a deletion section");
    RegOperation op;
    op.path = section_;
    if (text.front() == '@') {
      text.remove_prefix(1);
    } else if (!ParseQuoted(&text, &op.name, lineNumber)) {
      return false;
    }
    if (!detail::IsValidValueName(op.name)) return Fail(lineNumber, "bad value name");
    text = TrimLeft(text);
    if (text.empty() || text.front() != '=') return Fail(lineNumber, "expected '=' after the value name");
    text = TrimLeft(text.substr(1));
    if (text.empty() || text.front() == ';') return Fail(lineNumber, "missing value data");
    op.kind = RegOperation::Kind::SetValue;
    bool ok = false;
    if (text.front() == '"') {
      ok = ParseString(text, lineNumber, &op);
    } else if (text.front() == '-') {
      op.kind = RegOperation::Kind::DeleteValue;
      ok = IsEndOfLine(text.substr(1)) || Fail(lineNumber, "unexpected text after '-'");
    } else if (StartsWithNoCase(text, "dword:")) {
      ok = ParseDword(text.substr(6), lineNumber, &op);
    } else if (StartsWithNoCase(text, "multi_sz:")) {
      ok = ParseMultiString(text.substr(9), lineNumber, &op);
    } else if (StartsWithNoCase(text, "hex")) {
      ok = ParseHex(text.substr(3), lineNumber, &op);
    } else {
      ok = Fail(lineNumber, "unknown value data");
    }
    if (!ok) return false;
    operations_.push_back(std::move(op));
    return true;
  }

  bool ParseString(std::string_view text, std::size_t lineNumber, RegOperation* op) {
    std::string value;
    if (!ParseQuoted(&text, &value, lineNumber)) return false;
    if (!IsEndOfLine(text)) return Fail(lineNumber, "unexpected text after the string");
    op->type = kRegString;
    op->data = Utf8ToUtf16Le(value, true);
    return true;
  }

  bool ParseDword(std::string_view text, std::size_t lineNumber, RegOperation* op) {
    std::uint32_t value = 0;
    std::size_t digits = 0;
    while (digits < text.size() && HexDigit(text[digits]) >= 0) {
      value = (value << 4) | static_cast<std::uint32_t>(HexDigit(text[digits]));
      if (++digits > 8) return Fail(lineNumber, "dword with more than 8 hex digits");
    }
    if (digits == 0) return Fail(lineNumber, "dword without hex digits");
    if (!IsEndOfLine(text.substr(digits))) return Fail(lineNumber, "bad dword");
    op->type = kRegDword;
    op->data = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return true;
  }

  // "a","b" on one line: each string UTF-16LE with its terminator, then one more.
  bool ParseMultiString(std::string_view text, std::size_t lineNumber, RegOperation* op) {
    op->type = kRegMultiString;
    op->data.clear();
    text = TrimLeft(text);
    while (!IsEndOfLine(text)) {
      if (text.front() != '"') return Fail(lineNumber, "expected a quoted string in multi_sz");
      std::string item;
      if (!ParseQuoted(&text, &item, lineNumber)) return false;
      const std::vector<std::uint8_t> bytes = Utf8ToUtf16Le(item, true);
      op->data.insert(op->data.end(), bytes.begin(), bytes.end());
      text = TrimLeft(text);
      if (!text.empty() && text.front() == ',') {
        text = TrimLeft(text.substr(1));
        if (IsEndOfLine(text)) return Fail(lineNumber, "missing string after ','");
      } else if (!IsEndOfLine(text)) {
        return Fail(lineNumber, "expected ',' between strings");
      }
    }
    op->data.push_back(0);
    op->data.push_back(0);
    return true;
  }

  // After "hex": an optional "(type)" and ':', then bytes "01,02,..." that may
  // continue over following lines, each continued line ending in '\'.
  bool ParseHex(std::string_view text, std::size_t lineNumber, RegOperation* op) {
    op->type = kRegBinary;
    if (!text.empty() && text.front() == '(') {
      const std::size_t close = text.find(')');
      const std::string_view digits = text.substr(1, close == std::string_view::npos ? 0 : close - 1);
      if (close == std::string_view::npos || digits.empty() || digits.size() > 8) {
        return Fail(lineNumber, "bad hex value type");
      }
      std::uint32_t type = 0;
      for (char c : digits) {
        if (HexDigit(c) < 0) return Fail(lineNumber, "bad hex value type");
        type = (type << 4) | static_cast<std::uint32_t>(HexDigit(c));
      }
      op->type = type;
      text.remove_prefix(close + 1);
    }
    if (text.empty() || text.front() != ':') return Fail(lineNumber, "expected ':' after hex");
    text.remove_prefix(1);
    if (!ParseHexBytes(text, lineNumber, &op->data)) return false;
    if (op->type == kRegDword && op->data.size() != 4) return Fail(lineNumber, "a dword needs exactly 4 bytes");
    if (ansiStrings_ &&
        (op->type == kRegString || op->type == kRegExpandString || op->type == kRegMultiString)) {
      op->data = detail::AnsiToUtf16Le(op->data);
    }
    return true;
  }

  bool ParseHexBytes(std::string_view text, std::size_t lineNumber, std::vector<std::uint8_t>* bytes) {
    bool afterByte = false;  // a byte was read and no ',' yet
    bool needByte = false;   // a ',' was read and no byte yet
    while (true) {
      const std::size_t comment = text.find(';');
      if (comment != std::string_view::npos) text = text.substr(0, comment);
      text = TrimRight(text);
      const bool continued = !text.empty() && text.back() == '\\';
      if (continued) text.remove_suffix(1);
      std::size_t i = 0;
      while (i < text.size()) {
        const char c = text[i];
        if (IsBlank(c)) {
          ++i;
        } else if (c == ',') {
          if (!afterByte) return Fail(lineNumber, "empty byte in hex list");
          afterByte = false;
          needByte = true;
          ++i;
        } else {
          std::size_t end = i;
          while (end < text.size() && !IsBlank(text[end]) && text[end] != ',') ++end;
          const std::string_view token = text.substr(i, end - i);
          if (token.size() > 2 || HexDigit(token[0]) < 0 || (token.size() == 2 && HexDigit(token[1]) < 0)) {
            return Fail(lineNumber, "bad hex byte \"" + std::string(token) + "\"");
          }
          if (afterByte) return Fail(lineNumber, "missing ',' between hex bytes");
          int value = HexDigit(token[0]);
          if (token.size() == 2) value = value * 16 + HexDigit(token[1]);
          bytes->push_back(static_cast<std::uint8_t>(value));
          afterByte = true;
          needByte = false;
          i = end;
        }
      }
      if (!continued) break;
      Line next;
      if (!lines_.Next(&next)) return Fail(lineNumber, "continuation at the end of the text");
      if (next.text.find('\0') != std::string_view::npos) return Fail(next.number, "NUL character in the text");
      text = next.text;
      lineNumber = next.number;
    }
    if (needByte) return Fail(lineNumber, "missing byte after ','");
    return true;
  }

  LineReader lines_;
  std::vector<RegOperation> operations_;
  std::vector<std::string> section_;
  bool inSection_ = false;
  bool inDeletion_ = false;
  // A REGEDIT4 text: the bytes of string types are 8-bit characters.
  bool ansiStrings_ = false;
  std::string error_;
};

// ---- export ----------------------------------------------------------------

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// The text of a string value when it reads back to the same bytes: UTF-16LE,
// one terminator at the end and none before, no surrogate left unpaired, no
// line break.
std::optional<std::string> StringAsText(const std::vector<std::uint8_t>& data) {
  if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) return std::nullopt;
  std::string text = Utf16LeToUtf8(data.data(), data.size() - 2);
  if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return std::nullopt;
  if (Utf8ToUtf16Le(text, true) != data) return std::nullopt;
  return text;
}

void AppendHexList(std::string& out, std::size_t column, const std::vector<std::uint8_t>& data) {
  char byte[3];
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
    column += 2;
    if (i + 1 == data.size()) break;
    out += ',';
    ++column;
    if (column >= kHexWrapColumn) {
      out += '\\';
      out += kLineEnd;
      out += "  ";
      column = 2;
    }
  }
}

void AppendValue(std::string& out, const RegValueRecord& value) {
  const std::size_t start = out.size();
  if (value.name.empty()) {
    out += '@';
  } else {
    out += '"';
    out += Escape(value.name);
    out += '"';
  }
  out += '=';
  if (value.type == kRegString) {
    if (std::optional<std::string> text = StringAsText(value.data)) {
      out += '"';
      out += Escape(*text);
      out += '"';
      out += kLineEnd;
      return;
    }
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    char number[20];
    const std::uint32_t dword = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                (static_cast<std::uint32_t>(value.data[3]) << 24);
    std::snprintf(number, sizeof number, "dword:%08x", dword);
    out += number;
  } else {
    if (value.type == kRegBinary) {
      out += "hex:";
    } else {
      char prefix[20];
      std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
      out += prefix;
    }
    AppendHexList(out, out.size() - start, value.data);
  }
  out += kLineEnd;
}

}  // namespace

bool RegImportText(std::string_view bytes, std::string* error) {
  try {
    std::string text;
    std::string why;
    if (!detail::DecodeRegText(bytes, &text, &why)) {
      if (error != nullptr) *error = why;
      return false;
    }
    const bool marked = bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 3) == "\xEF\xBB\xBF";
    if (!marked && text.size() >= 2 && text[0] != '\0' && text[1] == '\0') {
      // What UTF-16 looks like when its mark is missing.
      if (error != nullptr) *error = "line 1: NUL character in the text (UTF-16 text needs its byte-order mark FF FE)";
      return false;
    }
    Parser parser(text);
    std::optional<std::vector<RegOperation>> operations = parser.Parse();
    if (!operations) {
      if (error != nullptr) *error = parser.error();
      return false;
    }
    detail::ApplyRegOperations(*operations);
    if (error != nullptr) error->clear();
    return true;
  } catch (const std::bad_alloc&) {
    if (error != nullptr) *error = "out of memory";
    return false;
  }
}

std::string RegExportText() {
  std::string out;
  out += kHeader5;
  out += kLineEnd;
  detail::VisitRegKeys([&out](const std::string& path, const std::vector<RegValueRecord>& values) {
    // The root itself is written only when it holds values.
    if (path.empty() && values.empty()) return;
    out += kLineEnd;
    out += '[';
    out += kRootName;
    if (!path.empty()) {
      out += '\\';
      out += path;
    }
    out += ']';
    out += kLineEnd;
    for (const auto& value : values) AppendValue(out, value);
  });
  return out;
}

}  // namespace qio::platform
