// Reading and writing single value lines of a template's section.
//
// Line forms, with no space around "=" and no padding of hexadecimal numbers:
//   "IoBase"=dword:300        32-bit number, lowercase hexadecimal
//   "Prefix"="Q62"            string
//   "DigPortCfg"=hex:01,00,03 bytes, two uppercase digits each
#include <cstring>
#include <exception>

#include "config/script/RegScriptFile.h"

namespace qio::config {

namespace {

// A value line under composition: it must fit the line buffer together with
// its CR LF and a terminator, else the write fails before the file is touched.
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
  void AppendHexByte(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const char pair[2] = {kDigits[value >> 4], kDigits[value & 0x0F]};
    Append({pair, 2});
  }
  bool overflow() const { return overflow_; }
  std::string_view text() const { return {bytes_, length_}; }

 private:
  char bytes_[RegScriptFile::kLineBufferBytes] = {};
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

// Composes `"name"=...` CR LF. False for a type that has no line form here,
// short data, a line break inside a string, or a line too long for the buffer.
bool ComposeLine(LineBuffer& line, std::string_view name, std::uint32_t type, const void* data,
                 std::uint32_t size) {
  line.Append("\"");
  line.Append(name);
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
      line.Append(text);
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
  line.Append("\r\n");
  return !line.overflow();
}

// End of the line that holds `pos`, just past its line break (CR LF, LF or a
// lone CR), or the end of the text.
std::size_t EndOfLine(std::string_view text, std::size_t pos) {
  const auto stop = text.find_first_of("\r\n", pos);
  if (stop == std::string_view::npos) return text.size();
  if (text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') return stop + 2;
  return stop + 1;
}

// The first line of `text` (split at CR and LF) that contains `name`.
std::string_view FindLine(std::string_view text, std::string_view name) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto stop = text.find_first_of("\r\n", pos);
    const std::string_view line =
        text.substr(pos, stop == std::string_view::npos ? std::string_view::npos : stop - pos);
    if (line.find(name) != std::string_view::npos) return line;
    if (stop == std::string_view::npos) break;
    pos = stop + 1;
  }
  return {};
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

}  // namespace

int RegScriptFile::WriteValue(int n, const char* name, std::uint32_t type, const void* data,
                              std::uint32_t size) {
  if (!Loaded() || n < 0 || name == nullptr || data == nullptr) return 1;
  const std::string_view valueName(name);
  // A quote or a "[" in a name would end the name or the section when read back.
  if (valueName.empty() || HasLineBreak(valueName) ||
      valueName.find_first_of("\"[") != std::string_view::npos) {
    return 1;
  }
  LineBuffer line;
  if (!ComposeLine(line, valueName, type, data, size)) return 1;

  const bool found = Locate(n) == 0;
  const std::string_view text = contents();
  std::size_t cut = fileSize_;   // where the new line goes
  std::size_t keep = fileSize_;  // start of the text written back after it
  if (found) {
    const std::string_view section = text.substr(sectionStart_, sectionEnd_ - sectionStart_);
    const auto at = section.find(valueName);
    if (at != std::string_view::npos) {
      // Replace the old line where it stands, from its opening quote.
      const std::size_t pos = sectionStart_ + at;
      cut = pos > 0 ? pos - 1 : 0;
      keep = EndOfLine(text, pos + valueName.size());
    } else {
      // The new line becomes the section's last line, before the next "[".
      cut = keep = sectionEnd_;
    }
  }
  std::string updated;
  updated.reserve(cut + line.text().size() + (fileSize_ - keep));
  updated.append(text.substr(0, cut)).append(line.text()).append(text.substr(keep));
  return Commit(updated) == 0 ? 0 : 1;
}

int RegScriptFile::WriteValues(int n, const ValueEntry* table) {
  if (table == nullptr) return 0;
  for (const ValueEntry* row = table; row->name != nullptr; ++row) {
    std::uint32_t size = row->size;
    if (row->type == kTypeDword) {
      size = sizeof(std::uint32_t);
    } else if (row->type == kTypeString && row->data != nullptr) {
      const std::size_t needed = std::strlen(static_cast<const char*>(row->data)) + 1;
      if (needed > size) size = static_cast<std::uint32_t>(needed);
    }
    try {
      if (WriteValue(n, row->name, row->type, row->data, size) != 0) return 0;
    } catch (const std::exception&) {
      return 0;
    }
  }
  return 1;
}

int RegScriptFile::ReadValue(int n, const char* name, std::uint32_t* type, void* data,
                             std::uint32_t* size) {
  if (!Loaded() || name == nullptr || type == nullptr || size == nullptr) return 1;
  const std::string_view valueName(name);
  if (valueName.empty()) return 1;
  if (Locate(n) != 0) return 1;
  const std::string_view section =
      contents().substr(sectionStart_, sectionEnd_ - sectionStart_);
  const std::string_view line = FindLine(section, valueName);
  if (line.empty()) return 1;

  const std::uint32_t capacity = *size;
  const std::size_t p = line.find(valueName) + valueName.size();
  const auto semicolon = line.find(';');
  const std::size_t valueEnd = semicolon == std::string_view::npos ? line.size() : semicolon;
  // The value text from `offset` characters after the name to the value's end.
  auto valueText = [&](std::size_t offset) {
    const std::size_t from = p + offset;
    return from < valueEnd ? line.substr(from, valueEnd - from) : std::string_view{};
  };
  auto* out = static_cast<std::uint8_t*>(data);

  if (line.find("dword:") != std::string_view::npos) {
    *type = kTypeDword;
    *size = sizeof(std::uint32_t);
    std::uint32_t value = 0;
    // After the closing quote, "=" and "dword:".
    if (data == nullptr || capacity < sizeof value || !ParseDword(valueText(8), value)) return 1;
    std::memcpy(data, &value, sizeof value);
    return 0;
  }
  if (line.find("hex:") != std::string_view::npos) {
    // After the closing quote, "=" and "hex:".
    const std::string_view bytes = valueText(6);
    std::size_t digits = 0;
    for (const char c : bytes) digits += (c != ',' && c != ' ') ? 1 : 0;
    *type = kTypeBinary;
    *size = static_cast<std::uint32_t>(digits / 2);
    if (data == nullptr) return 1;
    const std::uint32_t limit = *size < capacity ? *size : capacity;
    std::uint32_t stored = 0;
    int high = -1;
    for (const char c : bytes) {
      if (stored >= limit) break;
      if (c == ',' || c == ' ') continue;
      const int digit = HexDigit(c);
      if (digit < 0) break;
      if (high < 0) {
        high = digit;
      } else {
        out[stored++] = static_cast<std::uint8_t>((high << 4) | digit);
        high = -1;
      }
    }
    return 0;
  }
  if (line.find("hex(7):") != std::string_view::npos ||
      line.find("multi_sz:") != std::string_view::npos) {
    *type = kTypeMultiString;
    *size = 0;
    return 0;
  }
  // A string: after `"="`, up to the closing quote at the end of the line.
  const std::size_t from = p + 3;
  const std::size_t length = line.size() >= p + 4 ? line.size() - p - 4 : 0;
  *type = kTypeString;
  *size = static_cast<std::uint32_t>(length + 1);
  if (data == nullptr || capacity == 0) return 1;
  const std::size_t copied = length < capacity - 1 ? length : capacity - 1;
  if (copied != 0) std::memcpy(out, line.data() + from, copied);
  out[copied] = 0;
  return 0;
}

int RegScriptFile::ReadValues(int n, ValueEntry* table) {
  if (table == nullptr) return 1;
  int failures = 0;
  for (ValueEntry* row = table; row->name != nullptr; ++row) {
    if (ReadValue(n, row->name, &row->type, row->data, &row->size) != 0) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace qio::config
