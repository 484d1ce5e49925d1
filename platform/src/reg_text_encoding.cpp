#include "reg_text_encoding.h"

#include "qio/platform/registry.h"

namespace qio::platform::detail {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

// Code page 1252 at 0x80 to 0x9F; the rest of the page is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char16_t AnsiCharacter(std::uint8_t byte) {
  return byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Offset of the first byte that is not part of well-formed UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF); npos when all are.
std::size_t FirstNonUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t at = i;
    const auto lead = static_cast<std::uint8_t>(text[i++]);
    if (lead < 0x80) continue;
    std::size_t trailing = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trailing = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trailing = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trailing = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return at;
    }
    for (std::size_t k = 0; k < trailing; ++k, ++i) {
      if (i >= text.size()) return at;
      const auto next = static_cast<std::uint8_t>(text[i]);
      if (next < low || next > high) return at;
      low = 0x80;
      high = 0xBF;
    }
  }
  return std::string_view::npos;
}

// The line number of offset `end` of the text.
std::size_t LineAt(std::string_view text, std::size_t end) {
  std::size_t lines = 1;
  for (std::size_t i = 0; i < end && i < text.size(); ++i) lines += text[i] == '\n' ? 1 : 0;
  return lines;
}

// UTF-16LE without its mark; every unit, NUL included, becomes UTF-8 (the
// parser reports a NUL where it stands).
bool DecodeUtf16Le(std::string_view bytes, std::string* text, std::string* error) {
  if (bytes.size() % 2 != 0) {
    *error = "the UTF-16 text ends in half a character (an odd number of bytes)";
    return false;
  }
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      const char16_t next = i + 1 < units ? static_cast<char16_t>(data[2 * i + 2] | (data[2 * i + 3] << 8)) : 0;
      if (unit >= 0xDC00 || next < 0xDC00 || next > 0xDFFF) {
        const std::string before = Utf16LeToUtf8(data, 2 * i);
        *error = "line " + std::to_string(LineAt(before, before.size())) + ": unpaired surrogate in the UTF-16 text";
        return false;
      }
      ++i;
    }
  }
  *text = Utf16LeToUtf8(data, bytes.size());
  return true;
}

}  // namespace

std::string AnsiToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) AppendUtf8(out, AnsiCharacter(static_cast<std::uint8_t>(c)));
  return out;
}

std::vector<std::uint8_t> AnsiToUtf16Le(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> out;
  out.reserve(2 * bytes.size());
  for (const std::uint8_t byte : bytes) {
    const char16_t unit = AnsiCharacter(byte);
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return out;
}

bool DecodeRegText(std::string_view bytes, std::string* text, std::string* error) {
  text->clear();
  if (bytes.substr(0, kUtf16BeBom.size()) == kUtf16BeBom) {
    *error = "UTF-16 big-endian text is not read; save it as UTF-16LE (regedit's Unicode) or UTF-8";
    return false;
  }
  if (bytes.substr(0, kUtf16LeBom.size()) == kUtf16LeBom) {
    return DecodeUtf16Le(bytes.substr(kUtf16LeBom.size()), text, error);
  }
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    bytes.remove_prefix(kUtf8Bom.size());
    // Text that says it is UTF-8 has to be.
    if (const std::size_t bad = FirstNonUtf8(bytes); bad != std::string_view::npos) {
      *error = "line " + std::to_string(LineAt(bytes, bad)) + ": not UTF-8, though the text starts with a UTF-8 mark";
      return false;
    }
    text->assign(bytes);
    return true;
  }
  *text = FirstNonUtf8(bytes) == std::string_view::npos ? std::string(bytes) : AnsiToUtf8(bytes);
  return true;
}

}  // namespace qio::platform::detail
