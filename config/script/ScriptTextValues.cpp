// Reading and writing single value lines of a template's sections.
//
// Line forms written, with no space around "=" and no padding of hexadecimal
// numbers:
//   "IoBase"=dword:300        32-bit number, lowercase hexadecimal
//   "Prefix"="Q62"            string, "\" and quotes escaped with "\"
//   "DigPortCfg"=hex:01,00,03 bytes, two uppercase digits each
#include <cerrno>
#include <cstring>
#include <vector>

#include "config/script/ScriptLines.h"
#include "config/script/ScriptText.h"

namespace qio::config {

namespace {

// A value line under composition: it must fit the line buffer together with
// its CR LF and a terminator, else the write fails before the text changes.
class LineBuffer {
 public:
  void Append(std::string_view text) {
    if (length_ + text.size() + 1 > sizeof(bytes_)) {
      overflow_ = true;
      return;
    }
    std::memcpy(bytes_ + length_, text.data(), text.size());
    length_ += text.size();
    bytes_[length_] = '\0';
  }
  void AppendEscaped(std::string_view text) {
    for (const char c : text) {
      if (c == '\\' || c == '"') Append("\\");
      Append({&c, 1});
    }
  }
  void AppendHexByte(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const char pair[2] = {kDigits[value >> 4], kDigits[value & 0x0F]};
    Append({pair, 2});
  }
  bool overflow() const { return overflow_; }
  std::string_view text() const { return {bytes_, length_}; }

 private:
  char bytes_[ScriptText::kLineBufferBytes] = {};
  std::size_t length_ = 0;
  bool overflow_ = false;
};

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string LowerHex(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kDigits[value & 0x0F];
    value >>= 4;
  } while (value != 0);
  std::string text;
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

// Composes `"name"=...` without its line end. False for a type that has no
// line form here, short data, a line break inside a string, or a line that
// with CR LF and a terminator does not fit the buffer.
bool ComposeLine(LineBuffer& line, std::string_view name, std::uint32_t type, const void* data,
                 std::uint32_t size) {
  line.Append("\"");
  line.AppendEscaped(name);
  line.Append("\"");
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  switch (type) {
    case kTypeDword: {
      if (size < sizeof(std::uint32_t)) return false;
      std::uint32_t value = 0;
      std::memcpy(&value, data, sizeof value);
      line.Append("=dword:");
      line.Append(LowerHex(value));
      break;
    }
    case kTypeString: {
      const std::string_view text(static_cast<const char*>(data),
                                  ::strnlen(static_cast<const char*>(data), size));
      if (HasLineBreak(text)) return false;
      line.Append("=\"");
      line.AppendEscaped(text);
      line.Append("\"");
      break;
    }
    case kTypeBinary:
      line.Append("=hex:");
      for (std::uint32_t i = 0; i < size && !line.overflow(); ++i) {
        if (i != 0) line.Append(",");
        line.AppendHexByte(bytes[i]);
      }
      break;
    default:
      return false;
  }
  // Room for CR LF, whatever the file's line end.
  return !line.overflow() && line.text().size() + 3 <= ScriptText::kLineBufferBytes;
}

// Hexadecimal digits from the start of `text`, at most nine considered,
// stopping at the first other character; the low 32 bits are kept.
bool ParseDword(std::string_view text, std::uint32_t& value) {
  std::uint64_t number = 0;
  std::size_t used = 0;
  for (; used < text.size() && used < 9; ++used) {
    const int digit = HexDigit(text[used]);
    if (digit < 0) break;
    number = (number << 4) | static_cast<std::uint64_t>(digit);
  }
  value = static_cast<std::uint32_t>(number);
  return used != 0;
}

// The bytes of a hex list that may run over several lines ("01,0f,\" then
// "  3"): each line's part before its comment, without the "\" that continues
// it; bytes of one or two digits, separated by commas. The list ends at the
// first thing that is not such a byte.
std::vector<std::uint8_t> HexBytes(std::string_view data) {
  std::vector<std::uint8_t> bytes;
  int digits = 0;
  int value = 0;
  auto flush = [&] {
    if (digits != 0) bytes.push_back(static_cast<std::uint8_t>(value));
    digits = value = 0;
  };
  std::size_t pos = 0;
  while (pos <= data.size()) {
    std::size_t lf = data.find('\n', pos);
    if (lf == std::string_view::npos) lf = data.size();
    std::string_view part = data.substr(pos, lf - pos);
    part = part.substr(0, part.find(';'));
    for (const char c : part) {
      const int digit = HexDigit(c);
      if (digit >= 0 && digits < 2) {
        value = value * 16 + digit;
        ++digits;
      } else if (c == ',') {
        flush();
      } else if (c != '\\' && c != '\r' && !lines::IsBlank(c)) {
        return bytes;  // a byte of three digits or a stray character
      }
    }
    pos = lf + 1;
  }
  flush();
  return bytes;
}

// What a replaced line keeps after its old data: blanks and a comment. Stray
// text there (the rest of a malformed line, `"Irq"="5" x` or `"Irq"="5"12`)
// goes with the old data, or it would join the new data when read back.
std::string_view KeptAfterData(std::string_view rest) {
  if (lines::IsLineRest(rest)) return rest;
  const std::size_t semicolon = rest.find(';');
  if (semicolon == std::string_view::npos) return {};
  std::size_t from = semicolon;
  while (from > 0 && lines::IsBlank(rest[from - 1])) --from;
  return rest.substr(from);
}

}  // namespace

int ScriptText::WriteValue(int n, std::string_view name, std::uint32_t type, const void* data,
                           std::uint32_t size) {
  if (n < 0 || names_.keyPrefix.empty() || data == nullptr) return 1;
  // A quote in a name would end it when read back; a control character (a
  // line break, a NUL, a tab) is taken by no registry.
  if (name.empty() || name.find('"') != std::string_view::npos) return 1;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return 1;
  }
  LineBuffer line;
  if (!ComposeLine(line, name, type, data, size)) return 1;
  if (encoding_ != ScriptEncoding::kEightBit && !IsValidUtf8(line.text())) {
    Fail("the value is not UTF-8 text and the script is Unicode");
    return 1;
  }

  const std::vector<ValueLine> present = ValueLines(n, name);
  if (!present.empty()) {
    // Every line that sets the value, from the last one back.
    for (auto value = present.rbegin(); value != present.rend(); ++value) {
      std::string replacement(line.text());
      const std::string_view after = std::string_view(text_).substr(value->dataEnd, value->contentEnd - value->dataEnd);
      replacement.append(KeptAfterData(after));
      // A last line without a line end gets one: the value stays a line.
      replacement.append(value->next > value->contentEnd
                             ? std::string_view(text_).substr(value->contentEnd, value->next - value->contentEnd)
                             : std::string_view(lineEnd_));
      text_.replace(value->nameStart, value->next - value->nameStart, replacement);
    }
    return 0;
  }
  // The new line becomes the last line of the template's last section (after
  // any blank lines it ends with), or of the file.
  const std::vector<Span> sections = Sections(n);
  if (sections.empty() && HasSectionHeader()) {
    // At the end of the file it would be read as a value of whatever key
    // stands last.
    Fail("template " + std::to_string(n) + " has no section: its value would go into another key's");
    return 1;
  }
  const std::size_t at = sections.empty() ? text_.size() : sections.back().end;
  std::string inserted;
  if (at > 0 && text_[at - 1] != '\n') inserted = lineEnd_;
  inserted.append(line.text()).append(lineEnd_);
  text_.insert(at, inserted);
  return 0;
}

int ScriptText::WriteValues(int n, const ValueEntry* table) {
  if (table == nullptr) return 0;
  for (const ValueEntry* row = table; row->name != nullptr; ++row) {
    std::uint32_t size = row->size;
    if (row->type == kTypeDword) {
      size = sizeof(std::uint32_t);
    } else if (row->type == kTypeString && row->data != nullptr) {
      const std::size_t needed = std::strlen(static_cast<const char*>(row->data)) + 1;
      if (needed > size) size = static_cast<std::uint32_t>(needed);
    }
    if (WriteValue(n, row->name, row->type, row->data, size) != 0) return 0;
  }
  return 1;
}

int ScriptText::ReadValue(int n, std::string_view name, std::uint32_t* type, void* data,
                          std::uint32_t* size) const {
  if (type == nullptr || size == nullptr || name.empty()) return 1;
  const std::vector<ValueLine> present = ValueLines(n, name);
  if (present.empty()) return 1;
  const ValueLine& value = present.back();
  const std::string_view text = text_;
  const std::string_view dataText = text.substr(value.dataStart, value.dataEnd - value.dataStart);
  const std::uint32_t capacity = *size;
  auto* out = static_cast<std::uint8_t*>(data);

  if (!dataText.empty() && dataText.front() == '"') {
    std::string unescaped;
    lines::ParseQuoted(dataText, 0, dataText.size(), &unescaped);
    *type = kTypeString;
    *size = static_cast<std::uint32_t>(unescaped.size() + 1);
    if (data == nullptr || capacity == 0) return 1;
    const std::size_t copied = unescaped.size() < capacity - 1 ? unescaped.size() : capacity - 1;
    if (copied != 0) std::memcpy(out, unescaped.data(), copied);
    out[copied] = 0;
    return 0;
  }
  if (lines::StartsWithNoCase(dataText, "dword:")) {
    *type = kTypeDword;
    *size = sizeof(std::uint32_t);
    std::uint32_t number = 0;
    if (data == nullptr || capacity < sizeof number || !ParseDword(dataText.substr(6), number)) return 1;
    std::memcpy(data, &number, sizeof number);
    return 0;
  }
  if (lines::StartsWithNoCase(dataText, "hex(7):") || lines::StartsWithNoCase(dataText, "multi_sz:")) {
    *type = kTypeMultiString;
    *size = 0;
    return 0;
  }
  if (lines::StartsWithNoCase(dataText, "hex:")) {
    const std::vector<std::uint8_t> bytes = HexBytes(dataText.substr(4));
    *type = kTypeBinary;
    *size = static_cast<std::uint32_t>(bytes.size());
    if (data == nullptr) return 1;
    const std::uint32_t limit = *size < capacity ? *size : capacity;
    if (limit != 0) std::memcpy(out, bytes.data(), limit);
    return 0;
  }
  // A deletion ("-") or a form this editor does not read: not set here.
  return 1;
}

int ScriptText::ReadValues(int n, ValueEntry* table) const {
  if (table == nullptr) return 1;
  int failures = 0;
  for (ValueEntry* row = table; row->name != nullptr; ++row) {
    if (ReadValue(n, row->name, &row->type, row->data, &row->size) != 0) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace qio::config
