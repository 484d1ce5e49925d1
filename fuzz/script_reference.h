// A second, plain reading of a registry script for the editor's fuzz oracle:
// which lines are template n's header lines, the " " lines an append wrote
// before them, and which lines hold its values, by the rules the editor
// documents (a section runs from its header to the next line that starts
// with "[", a hex list continues over lines that end in "\" onto lines of hex
// bytes, names compare without regard to ASCII case). It works on whole
// lines by index and shares no code with the editor.
#pragma once

#include <cctype>
#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/script/ScriptNames.h"
#include "text_encodings.h"

namespace qio::fuzz {

class ScriptReference {
 public:
  struct Section {
    std::size_t header = 0;  // line index of the header
    std::size_t end = 0;     // first line index after the section
  };
  struct Value {
    std::size_t first = 0;  // line indices, inclusive
    std::size_t last = 0;
    std::string name;     // unescaped; empty for "@"
    bool quoted = false;  // "name"=, not @=
  };

  ScriptReference(std::string_view text, const config::ScriptNames& names) : names_(names) {
    for (const std::string_view line : SplitLines(text)) lines_.push_back(line);
  }

  const std::vector<std::string_view>& lines() const { return lines_; }

  static std::string_view Content(std::string_view line) {
    if (line.empty() || line.back() != '\n') return line;
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

  std::vector<Section> Sections(int n) const {
    std::vector<Section> sections;
    if (n < 0 || names_.keyPrefix.empty()) return sections;
    const std::string header = Upper(names_.HeaderLine(n));
    bool inside = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const std::string_view content = Content(lines_[i]);
      const std::string_view trimmed = TrimLeft(content);
      if (trimmed.empty() || trimmed.front() != '[') continue;
      if (inside) {
        const bool space = i > sections.back().header + 1 && IsSpaceLine(lines_[i - 1]);
        sections.back().end = space ? i - 1 : i;
      }
      inside = Upper(trimmed.substr(0, header.size())) == header &&
               IsRest(trimmed.substr(std::min(header.size(), trimmed.size())));
      if (inside) sections.push_back({i, lines_.size()});
    }
    return sections;
  }

  std::vector<Value> Values(const Section& section) const {
    std::vector<Value> values;
    for (std::size_t i = section.header + 1; i < section.end; ++i) {
      const std::string_view content = TrimLeft(Content(lines_[i]));
      Value value;
      value.first = value.last = i;
      std::size_t after = std::string_view::npos;
      if (!content.empty() && content.front() == '"') {
        after = Unquote(content, &value.name);
        value.quoted = true;
      } else if (!content.empty() && content.front() == '@') {
        after = 1;
      }
      if (after == std::string_view::npos) continue;
      std::string_view data = TrimLeft(content.substr(after));
      if (data.empty() || data.front() != '=') continue;
      data = TrimLeft(data.substr(1));
      if (data.empty() || data.front() != '"') {
        const bool hex = Upper(data.substr(0, 3)) == "HEX";
        std::string_view part = data;
        while (hex && EndsContinued(part) && value.last + 1 < section.end &&
               HoldsBytes(Content(lines_[value.last + 1]))) {
          ++value.last;
          part = Content(lines_[value.last]);
        }
      }
      values.push_back(value);
      i = value.last;
    }
    return values;
  }

  // The value lines that set `name` in template n's sections.
  std::vector<Value> ValuesNamed(int n, std::string_view name) const {
    std::vector<Value> found;
    for (const Section& section : Sections(n)) {
      for (const Value& value : Values(section)) {
        if (value.quoted && Upper(value.name) == Upper(name)) found.push_back(value);
      }
    }
    return found;
  }

  // Template n's own lines: its headers, the " " line just before each, and
  // the lines of its values.
  std::set<std::size_t> OwnLines(int n) const {
    std::set<std::size_t> own;
    for (const Section& section : Sections(n)) {
      own.insert(section.header);
      if (section.header > 0 && IsSpaceLine(lines_[section.header - 1])) own.insert(section.header - 1);
      for (const Value& value : Values(section)) {
        for (std::size_t i = value.first; i <= value.last; ++i) own.insert(i);
      }
    }
    return own;
  }

  // The text without the lines given.
  std::string Without(const std::set<std::size_t>& drop) const {
    std::string out;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      if (drop.count(i) == 0) out += lines_[i];
    }
    return out;
  }

  // The " " line an append writes before a header.
  static bool IsSpaceLine(std::string_view line) { return line == " \r\n" || line == " \n"; }

  static std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
  }

  static std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
  }

  // Blanks, or blanks and a comment.
  static bool IsRest(std::string_view text) {
    text = TrimLeft(text);
    return text.empty() || text.front() == ';';
  }

 private:
  // A quoted name at the start of `text`: the offset after its closing quote.
  static std::size_t Unquote(std::string_view text, std::string* name) {
    for (std::size_t i = 1; i < text.size(); ++i) {
      if (text[i] == '"') return i + 1;
      if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) ++i;
      name->push_back(text[i]);
    }
    return std::string_view::npos;
  }

  // A line that continues a hex list: before any ";", hex digits (one at
  // least), commas, blanks and backslashes.
  static bool HoldsBytes(std::string_view line) {
    line = line.substr(0, line.find(';'));
    bool digit = false;
    for (const char c : line) {
      const bool hex = std::isxdigit(static_cast<unsigned char>(c)) != 0;
      if (!hex && c != ',' && c != ' ' && c != '\t' && c != '\\') return false;
      digit = digit || hex;
    }
    return digit;
  }

  // A hex list's line whose part before any ";" ends in "\" after blanks.
  static bool EndsContinued(std::string_view part) {
    part = part.substr(0, part.find(';'));
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    return !part.empty() && part.back() == '\\';
  }

  config::ScriptNames names_;
  std::vector<std::string_view> lines_;
};

}  // namespace qio::fuzz
