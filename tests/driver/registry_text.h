// Reading registry text back in tests: the value lines of one key section.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qio::test {

// The value lines of section [HKEY_LOCAL_MACHINE\<path>] in exported registry
// text (case as written), in order; empty when the section is absent.
inline std::vector<std::string> SectionLines(std::string_view text, std::string_view path) {
  const std::string header = "[HKEY_LOCAL_MACHINE\\" + std::string(path) + "]";
  std::vector<std::string> lines;
  std::size_t pos = 0;
  bool inside = false;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(pos, end - pos));
    pos = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty() && line.front() == '[') {
      if (inside) break;
      inside = line == header;
      continue;
    }
    if (inside && !line.empty()) lines.push_back(line);
  }
  return lines;
}

// The names of the values of a section, in order.
inline std::vector<std::string> SectionValueNames(std::string_view text, std::string_view path) {
  std::vector<std::string> names;
  for (const std::string& line : SectionLines(text, path)) {
    if (line.size() > 1 && line.front() == '"') names.push_back(line.substr(1, line.find('"', 1) - 1));
  }
  return names;
}

}  // namespace qio::test
