// The encodings the text fuzzers write their inputs in, built here on their
// own so that an input's expected meaning does not come from the code under
// test: UTF-8 to code points, to UTF-16LE, and to code page 1252 for the
// characters the fuzzers use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qio::fuzz {

inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
inline constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// Code points of well-formed UTF-8 (the fuzzers only build such text).
inline std::u32string CodePoints(std::string_view utf8) {
  std::u32string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    int trailing = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t cp = trailing == 0 ? lead : trailing == 1 ? (lead & 0x1F) : trailing == 2 ? (lead & 0x0F) : (lead & 0x07);
    ++i;
    for (; trailing > 0 && i < utf8.size(); --trailing, ++i) {
      cp = (cp << 6) | (static_cast<std::uint8_t>(utf8[i]) & 0x3F);
    }
    out.push_back(cp);
  }
  return out;
}

// True for well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF, no sequence cut short.
inline bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i++]);
    if (lead < 0x80) continue;
    char32_t cp = 0;
    int trailing = 0;
    char32_t least = 0;
    if (lead >= 0xC0 && lead < 0xE0) {
      cp = lead & 0x1F, trailing = 1, least = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      cp = lead & 0x0F, trailing = 2, least = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF8) {
      cp = lead & 0x07, trailing = 3, least = 0x10000;
    } else {
      return false;
    }
    for (; trailing > 0; --trailing, ++i) {
      if (i >= text.size() || (static_cast<std::uint8_t>(text[i]) & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (static_cast<std::uint8_t>(text[i]) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  }
  return true;
}

// UTF-16LE bytes of well-formed UTF-8 text, without a terminator.
inline std::string Utf16Le(std::string_view utf8) {
  std::string out;
  auto unit = [&out](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>((u >> 8) & 0xFF));
  };
  for (const char32_t cp : CodePoints(utf8)) {
    if (cp < 0x10000) {
      unit(cp);
    } else {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  return out;
}

inline std::vector<std::uint8_t> Utf16LeBytes(std::string_view utf8, bool terminate) {
  const std::string units = Utf16Le(utf8);
  std::vector<std::uint8_t> out(units.begin(), units.end());
  if (terminate) out.insert(out.end(), {0, 0});
  return out;
}

// The byte of a character in code page 1252, for ASCII and the few other
// characters the fuzzers put in 8-bit text; nothing for the rest.
inline std::optional<std::uint8_t> Cp1252Byte(char32_t cp) {
  if (cp < 0x80) return static_cast<std::uint8_t>(cp);
  switch (cp) {
    case 0x20AC: return 0x80;  // euro sign
    case 0x2013: return 0x96;  // en dash
    case 0x00C4: return 0xC4;
    case 0x00DF: return 0xDF;
    case 0x00E9: return 0xE9;
    case 0x00FC: return 0xFC;
    case 0x00FF: return 0xFF;
    default: return std::nullopt;
  }
}

inline bool FitsCp1252(std::string_view utf8) {
  for (const char32_t cp : CodePoints(utf8)) {
    if (!Cp1252Byte(cp)) return false;
  }
  return true;
}

// Code page 1252 bytes of text that FitsCp1252.
inline std::string Cp1252(std::string_view utf8) {
  std::string out;
  for (const char32_t cp : CodePoints(utf8)) out.push_back(static_cast<char>(Cp1252Byte(cp).value_or('?')));
  return out;
}

// Lines of a text: LF ends a line and belongs to it (with a CR before it).
inline std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t lf = text.find('\n', pos);
    const std::size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
    lines.push_back(text.substr(pos, next - pos));
    pos = next;
  }
  return lines;
}

}  // namespace qio::fuzz
