// Reading a registry script line by line: where lines end, which line opens
// a section, and how a value line's name and data are laid out. Shared by
// the section and value edits of ScriptText.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qio::config::lines {

struct Line {
  std::size_t start = 0;       // first byte
  std::size_t contentEnd = 0;  // before CR LF or LF
  std::size_t next = 0;        // after the LF, or the text's end
};

// The line that starts at `pos` (pos < text.size()).
inline Line LineAt(std::string_view text, std::size_t pos) {
  Line line;
  line.start = pos;
  const std::size_t lf = text.find('\n', pos);
  if (lf == std::string_view::npos) {
    line.contentEnd = line.next = text.size();
    return line;
  }
  line.next = lf + 1;
  line.contentEnd = lf > pos && text[lf - 1] == '\r' ? lf - 1 : lf;
  return line;
}

inline std::string_view Content(std::string_view text, const Line& line) {
  return text.substr(line.start, line.contentEnd - line.start);
}

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::size_t SkipBlanks(std::string_view text, std::size_t pos, std::size_t end) {
  while (pos < end && IsBlank(text[pos])) ++pos;
  return pos;
}

inline char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Registry names compare without regard to the case of ASCII letters.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// True when only blanks, or blanks and a ";" comment, remain.
inline bool IsLineRest(std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size() && IsBlank(rest[i])) ++i;
  return i == rest.size() || rest[i] == ';';
}

// A line whose first non-blank character is "[" opens a section.
inline bool OpensSection(std::string_view content) {
  const std::size_t at = SkipBlanks(content, 0, content.size());
  return at < content.size() && content[at] == '[';
}

// A quoted string starting at text[pos] == '"', with \\ and \" escapes; any
// other backslash stands for itself. Returns the offset just past the
// closing quote and the unescaped text, or npos when the line ends first.
inline std::size_t ParseQuoted(std::string_view text, std::size_t pos, std::size_t end, std::string* out) {
  if (out != nullptr) out->clear();
  for (std::size_t i = pos + 1; i < end; ++i) {
    const char c = text[i];
    if (c == '"') return i + 1;
    if (c == '\\' && i + 1 < end && (text[i + 1] == '\\' || text[i + 1] == '"')) ++i;
    if (out != nullptr) out->push_back(text[i]);
  }
  return std::string_view::npos;
}

}  // namespace qio::config::lines
