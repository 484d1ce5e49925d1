// UTF-8 <-> UTF-16LE, the conversions between the host's narrow text and the
// target's string values. Ill-formed input never stops a conversion: each
// maximal ill-formed subsequence becomes one U+FFFD, as Unicode recommends.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qio/platform/registry.h"

namespace qio::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kHighSurrogateLast = 0xDBFF;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;

void AppendUnit(std::vector<std::uint8_t>& out, char32_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
}

void AppendUtf16(std::vector<std::uint8_t>& out, char32_t cp) {
  if (cp < kFirstSupplementary) {
    AppendUnit(out, cp);
    return;
  }
  const char32_t offset = cp - kFirstSupplementary;
  AppendUnit(out, kHighSurrogateFirst + (offset >> 10));
  AppendUnit(out, kLowSurrogateFirst + (offset & 0x3FF));
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < kFirstSupplementary) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one code point at text[*pos] and advances *pos past it (or past the
// ill-formed subsequence, returning U+FFFD). The accepted second-byte ranges
// exclude overlong forms, encoded surrogates and values above U+10FFFF.
char32_t DecodeUtf8(std::string_view text, std::size_t* pos) {
  const auto lead = static_cast<std::uint8_t>(text[*pos]);
  ++*pos;
  if (lead < 0x80) return lead;
  std::size_t trailing = 0;
  char32_t cp = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kReplacement;
  }
  for (std::size_t i = 0; i < trailing; ++i) {
    if (*pos >= text.size()) return kReplacement;
    const auto next = static_cast<std::uint8_t>(text[*pos]);
    if (next < low || next > high) return kReplacement;
    cp = (cp << 6) | (next & 0x3F);
    ++*pos;
    low = 0x80;
    high = 0xBF;
  }
  return cp;
}

}  // namespace

std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view text, bool terminate) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() * 2 + 2);
  std::size_t pos = 0;
  while (pos < text.size()) AppendUtf16(out, DecodeUtf8(text, &pos));
  if (terminate) AppendUnit(out, 0);
  return out;
}

std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t bytes) {
  std::string out;
  if (data == nullptr) return out;
  const std::size_t units = bytes / 2;
  out.reserve(units);
  auto unitAt = [data](std::size_t i) -> char32_t {
    return static_cast<char32_t>(data[2 * i] | (data[2 * i + 1] << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t unit = unitAt(i);
    if (unit >= kHighSurrogateFirst && unit <= kHighSurrogateLast && i + 1 < units) {
      const char32_t next = unitAt(i + 1);
      if (next >= kLowSurrogateFirst && next <= kLowSurrogateLast) {
        AppendUtf8(out, kFirstSupplementary + ((unit - kHighSurrogateFirst) << 10) +
                            (next - kLowSurrogateFirst));
        ++i;
        continue;
      }
    }
    const bool surrogate = unit >= kHighSurrogateFirst && unit <= kLowSurrogateLast;
    AppendUtf8(out, surrogate ? kReplacement : unit);
  }
  // A dangling odd byte is half a code unit.
  if (bytes % 2 != 0) AppendUtf8(out, kReplacement);
  return out;
}

}  // namespace qio::platform
