#include "config/script/ScriptEncoding.h"

#include <cerrno>
#include <cstdint>

namespace qio::config {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;

// 1-based line of byte `offset` of narrow text.
std::size_t LineOf(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) line += text[i] == '\n' ? 1 : 0;
  return line;
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

void AppendUnit(std::string& out, char32_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

// Decodes one well-formed UTF-8 sequence at text[*pos]; false for anything
// else (the position is then undefined).
bool NextUtf8(std::string_view text, std::size_t* pos, char32_t* cp) {
  const auto lead = static_cast<std::uint8_t>(text[*pos]);
  ++*pos;
  if (lead < 0x80) {
    *cp = lead;
    return true;
  }
  std::size_t trailing = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return false;
  }
  for (std::size_t i = 0; i < trailing; ++i) {
    if (*pos >= text.size()) return false;
    const auto next = static_cast<std::uint8_t>(text[*pos]);
    if (next < low || next > high) return false;
    value = (value << 6) | (next & 0x3F);
    ++*pos;
    low = 0x80;
    high = 0xBF;
  }
  *cp = value;
  return true;
}

int Refuse(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
  return EILSEQ;
}

int DecodeUtf16Le(std::string_view bytes, std::string& text, std::string* why) {
  if (bytes.size() % 2 != 0) {
    return Refuse(why, "the UTF-16 text ends in half a character (an odd number of bytes)");
  }
  const std::size_t units = bytes.size() / 2;
  auto unitAt = [bytes](std::size_t i) -> char32_t {
    return static_cast<char32_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                 (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
  };
  text.clear();
  text.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t unit = unitAt(i);
    if (unit == 0) {
      return Refuse(why, "the text holds a NUL character on line " + std::to_string(LineOf(text, text.size())));
    }
    if (unit < kHighSurrogateFirst || unit > kLowSurrogateLast) {
      AppendUtf8(text, unit);
      continue;
    }
    const char32_t next = i + 1 < units ? unitAt(i + 1) : 0;
    if (unit >= kLowSurrogateFirst || next < kLowSurrogateFirst || next > kLowSurrogateLast) {
      return Refuse(why, "the UTF-16 text holds an unpaired surrogate on line " +
                             std::to_string(LineOf(text, text.size())));
    }
    AppendUtf8(text, kFirstSupplementary + ((unit - kHighSurrogateFirst) << 10) + (next - kLowSurrogateFirst));
    ++i;
  }
  return 0;
}

int CheckNoNul(std::string_view text, std::string* why) {
  const std::size_t nul = text.find('\0');
  if (nul == std::string_view::npos) return 0;
  // A second byte of zero is what UTF-16 text without its mark looks like.
  const bool wide = text.size() >= 2 && text[0] != '\0' && text[1] == '\0';
  return Refuse(why, "the text holds a NUL byte on line " + std::to_string(LineOf(text, nul)) +
                         (wide ? " (UTF-16 text needs its byte-order mark FF FE)" : ""));
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < text.size()) {
    if (!NextUtf8(text, &pos, &cp)) return false;
  }
  return true;
}

std::string_view DetectLineEnd(std::string_view text) {
  const std::size_t lf = text.find('\n');
  if (lf != std::string_view::npos && (lf == 0 || text[lf - 1] != '\r')) return "\n";
  return "\r\n";
}

int DecodeScript(std::string_view bytes, DecodedScript& decoded, std::string* why) {
  DecodedScript result;
  if (bytes.substr(0, kUtf16BeBom.size()) == kUtf16BeBom) {
    return Refuse(why, "the script is UTF-16 big-endian; save it as UTF-16LE or UTF-8");
  }
  if (bytes.substr(0, kUtf16LeBom.size()) == kUtf16LeBom) {
    result.encoding = ScriptEncoding::kUtf16Le;
    if (const int rc = DecodeUtf16Le(bytes.substr(kUtf16LeBom.size()), result.text, why); rc != 0) return rc;
  } else {
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
      result.encoding = ScriptEncoding::kUtf8Bom;
      bytes.remove_prefix(kUtf8Bom.size());
    }
    if (const int rc = CheckNoNul(bytes, why); rc != 0) return rc;
    result.text.assign(bytes);
  }
  result.lineEnd = std::string(DetectLineEnd(result.text));
  decoded = std::move(result);
  return 0;
}

int EncodeScript(std::string_view text, ScriptEncoding encoding, std::string& bytes) {
  switch (encoding) {
    case ScriptEncoding::kEightBit:
      // Bytes that would read as a byte-order mark would make the file
      // another encoding (a line that began with them, made first by an edit).
      for (const std::string_view mark : {kUtf8Bom, kUtf16LeBom, kUtf16BeBom}) {
        if (text.substr(0, mark.size()) == mark) return EILSEQ;
      }
      bytes.assign(text);
      return 0;
    case ScriptEncoding::kUtf8Bom:
      // What stood after the mark goes back as it was, valid UTF-8 or not.
      bytes.assign(kUtf8Bom).append(text);
      return 0;
    case ScriptEncoding::kUtf16Le:
      break;
  }
  std::string out(kUtf16LeBom);
  out.reserve(2 + 2 * text.size());
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < text.size()) {
    if (!NextUtf8(text, &pos, &cp)) return EILSEQ;
    if (cp < kFirstSupplementary) {
      AppendUnit(out, cp);
    } else {
      const char32_t offset = cp - kFirstSupplementary;
      AppendUnit(out, kHighSurrogateFirst + (offset >> 10));
      AppendUnit(out, kLowSurrogateFirst + (offset & 0x3FF));
    }
  }
  bytes.swap(out);
  return 0;
}

}  // namespace qio::config
