// Loading and encoding a script held in memory, and its sections: finding
// template n's header lines, appending a header and removing sections.
#include "config/script/ScriptText.h"

#include <cerrno>

#include "config/script/ScriptLines.h"

namespace qio::config {

using lines::Content;
using lines::Line;
using lines::LineAt;

namespace {

// True when `content` is the header `header`: after optional blanks, the
// header's text in any case, then only blanks or a comment.
bool IsHeader(std::string_view content, std::string_view header) {
  const std::size_t at = lines::SkipBlanks(content, 0, content.size());
  const std::string_view rest = content.substr(at);
  return lines::StartsWithNoCase(rest, header) && lines::IsLineRest(rest.substr(header.size()));
}

// A line that can continue a hex list: before any comment, hex digits (one
// at least), commas, blanks and the "\" that continues it further.
bool HoldsHexBytes(std::string_view content) {
  content = content.substr(0, content.find(';'));
  bool digits = false;
  for (const char c : content) {
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!digit && c != ',' && c != '\\' && !lines::IsBlank(c)) return false;
    digits = digits || digit;
  }
  return digits;
}

// The " " line that an append writes before a header, in either line end.
bool IsAppendedSpaceLine(std::string_view line) { return line == " \r\n" || line == " \n"; }

}  // namespace

bool ScriptText::Fail(std::string why) const {
  error_ = std::move(why);
  return false;
}

int ScriptText::Load(std::string_view bytes) {
  DecodedScript decoded;
  std::string why;
  if (const int rc = DecodeScript(bytes, decoded, &why); rc != 0) {
    error_ = why;
    return rc;
  }
  text_ = std::move(decoded.text);
  encoding_ = decoded.encoding;
  lineEnd_ = std::move(decoded.lineEnd);
  error_.clear();
  return 0;
}

int ScriptText::Encode(std::string& bytes) const {
  const int rc = EncodeScript(text_, encoding_, bytes);
  if (rc != 0) {
    error_ = encoding_ == ScriptEncoding::kEightBit
                 ? "the text would begin with the bytes of a byte-order mark and no longer read as 8-bit text"
                 : "the text can no longer be written as UTF-16";
  }
  return rc;
}

std::vector<ScriptText::Span> ScriptText::Sections(int n) const {
  std::vector<Span> spans;
  if (n < 0 || names_.keyPrefix.empty()) return spans;
  const std::string header = names_.HeaderLine(n);
  bool inside = false;
  std::size_t previous = std::string::npos;  // start of the line before this one
  for (std::size_t pos = 0; pos < text_.size();) {
    const Line line = LineAt(text_, pos);
    const std::string_view content = Content(text_, line);
    if (lines::OpensSection(content)) {
      if (inside) {
        // The " " line just before the next header is that header's own.
        const bool spaceLine = previous != std::string::npos && previous > spans.back().start &&
                               IsAppendedSpaceLine(std::string_view(text_).substr(previous, line.start - previous));
        spans.back().end = spaceLine ? previous : line.start;
      }
      inside = IsHeader(content, header);
      if (inside) spans.push_back({line.start, text_.size()});
    }
    previous = line.start;
    pos = line.next;
  }
  return spans;
}

bool ScriptText::HasSectionHeader() const {
  for (std::size_t pos = 0; pos < text_.size();) {
    const Line line = LineAt(text_, pos);
    if (lines::OpensSection(Content(text_, line))) return true;
    pos = line.next;
  }
  return false;
}

int ScriptText::AppendSection(int n) {
  if (n < 0 || names_.keyPrefix.empty()) return 1;
  if (encoding_ != ScriptEncoding::kEightBit && !IsValidUtf8(names_.HeaderLine(n))) {
    Fail("the key name is not UTF-8 text and the script is Unicode");
    return 1;
  }
  text_.append(" ").append(lineEnd_).append(names_.HeaderLine(n)).append(" ").append(lineEnd_);
  return 0;
}

int ScriptText::RemoveSection(int n) {
  if (n < 0 || names_.keyPrefix.empty()) return 1;
  const std::vector<Span> spans = Sections(n);
  // The header and value lines go; comments, blank lines and anything else
  // a person wrote between them stay. From the end back, so that the offsets
  // still to be removed hold.
  std::vector<std::pair<std::size_t, std::size_t>> removed;
  for (const Span& span : spans) {
    std::size_t start = span.start;
    if (start > 0) {
      const std::size_t previous = start >= 2 ? text_.rfind('\n', start - 2) : std::string::npos;
      const std::size_t lineStart = previous == std::string::npos ? 0 : previous + 1;
      if (IsAppendedSpaceLine(std::string_view(text_).substr(lineStart, start - lineStart))) start = lineStart;
    }
    removed.emplace_back(start, LineAt(text_, span.start).next);
    for (const ValueLine& value : SectionValues(span)) removed.emplace_back(value.start, value.next);
  }
  // Where each header was, in the text left behind (the ranges come in the
  // order of the text).
  std::vector<std::size_t> seams;
  std::size_t gone = 0;
  for (const auto& [from, to] : removed) {
    if (seams.empty() || from - gone != seams.back()) seams.push_back(from - gone);
    gone += to - from;
  }
  for (auto range = removed.rbegin(); range != removed.rend(); ++range) {
    text_.erase(range->first, range->second - range->first);
  }
  // A header ended the hex list that a stray "" left open before it: where
  // lines of bytes follow, a " " line takes its place, so that they stay
  // lines of their own instead of joining that list (and going with it when
  // its value is next replaced).
  for (auto seam = seams.rbegin(); seam != seams.rend(); ++seam) {
    if (*seam == 0 || *seam >= text_.size() || !HoldsHexBytes(Content(text_, LineAt(text_, *seam)))) continue;
    const std::size_t before = *seam >= 2 ? text_.rfind('\n', *seam - 2) : std::string::npos;
    const Line previous = LineAt(text_, before == std::string::npos ? 0 : before + 1);
    std::string_view data = Content(text_, previous);
    data = data.substr(0, data.find(';'));
    while (!data.empty() && lines::IsBlank(data.back())) data.remove_suffix(1);
    if (!data.empty() && data.back() == '\\') text_.insert(*seam, " " + lineEnd_);
  }
  return 0;
}

std::vector<ScriptText::ValueLine> ScriptText::SectionValues(const Span& span) const {
  std::vector<ValueLine> found;
  const std::string_view text = text_;
  // The header line itself holds no value.
  std::size_t pos = LineAt(text, span.start).next;
  while (pos < span.end) {
    const Line line = LineAt(text, pos);
    pos = line.next;
    ValueLine value;
    const std::size_t first = lines::SkipBlanks(text, line.start, line.contentEnd);
    std::size_t afterName = std::string_view::npos;
    if (first < line.contentEnd && text[first] == '"') {
      afterName = lines::ParseQuoted(text, first, line.contentEnd, &value.name);
    } else if (first < line.contentEnd && text[first] == '@') {
      afterName = first + 1;  // the key's default value, whose name is empty
    }
    if (afterName == std::string_view::npos) continue;
    const std::size_t equals = lines::SkipBlanks(text, afterName, line.contentEnd);
    if (equals >= line.contentEnd || text[equals] != '=') continue;

    value.start = line.start;
    value.nameStart = first;
    value.dataStart = lines::SkipBlanks(text, equals + 1, line.contentEnd);
    Line last = line;
    if (value.dataStart < line.contentEnd && text[value.dataStart] == '"') {
      const std::size_t close = lines::ParseQuoted(text, value.dataStart, line.contentEnd, nullptr);
      value.dataEnd = close == std::string_view::npos ? line.contentEnd : close;
    } else {
      const bool hex = lines::StartsWithNoCase(text.substr(value.dataStart), "hex");
      std::size_t dataFrom = value.dataStart;
      while (true) {
        const std::size_t semicolon = text.find(';', dataFrom);
        std::size_t end = semicolon < last.contentEnd ? semicolon : last.contentEnd;
        while (end > dataFrom && lines::IsBlank(text[end - 1])) --end;
        value.dataEnd = end;
        // A hex list continues after a closing "\" on a next line of bytes.
        if (!hex || end == dataFrom || text[end - 1] != '\\' || last.next >= span.end) break;
        const Line next = LineAt(text, last.next);
        if (!HoldsHexBytes(Content(text, next))) break;
        last = next;
        dataFrom = last.start;
      }
      pos = last.next;
    }
    value.contentEnd = last.contentEnd;
    value.next = last.next;
    found.push_back(std::move(value));
  }
  return found;
}

std::vector<ScriptText::ValueLine> ScriptText::ValueLines(int n, std::string_view name) const {
  std::vector<ValueLine> found;
  for (const Span& span : Sections(n)) {
    for (ValueLine& value : SectionValues(span)) {
      if (value.nameStart < value.dataStart && text_[value.nameStart] == '"' && lines::EqualsNoCase(value.name, name)) {
        found.push_back(std::move(value));
      }
    }
  }
  return found;
}

}  // namespace qio::config
