// A view of the on-device configuration dialog made of plain records, and
// helpers that read the platform registry back as text.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceConfigView.h"
#include "qio/platform/registry.h"

namespace qio::library::dialog::test {

struct FakeDeviceView final : DeviceConfigView {
  std::map<int, std::vector<std::string>> items;
  std::map<int, int> selected;
  std::vector<std::pair<std::string, std::string>> errors;  // text, caption
  int endCode = kEndNotCreated;
  int endCalls = 0;

  void AddItem(int controlId, const char* text) override {
    items[controlId].emplace_back(text);
    selected.try_emplace(controlId, -1);
  }
  void SelectItem(int controlId, int index) override { selected[controlId] = index; }
  int SelectedItem(int controlId) const override {
    const auto it = selected.find(controlId);
    return it == selected.end() ? -1 : it->second;
  }
  void ShowError(const char* text, const char* caption) override { errors.emplace_back(text, caption); }
  void EndDialog(int code) override {
    endCode = code;
    ++endCalls;
  }

  std::string Text(int controlId) const {
    const int index = SelectedItem(controlId);
    if (index < 0) return "";
    return items.at(controlId).at(static_cast<std::size_t>(index));
  }
  // The user picks the item with this text.
  void Choose(int controlId, const std::string& text) {
    const auto& list = items.at(controlId);
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i] == text) selected[controlId] = static_cast<int>(i);
    }
  }
};

// The value lines of one key as the registry exports them ("name"=data), in
// the order the values were first written; empty when the key is missing.
inline std::vector<std::string> KeyLines(const std::string& keyPath) {
  const std::string text = platform::RegExportText();
  const std::string header = "[HKEY_LOCAL_MACHINE\\" + keyPath + "]\r\n";
  std::vector<std::string> lines;
  const auto at = text.find(header);
  if (at == std::string::npos) return lines;
  std::istringstream in(text.substr(at + header.size()));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '[') break;
    lines.push_back(line);
  }
  return lines;
}

}  // namespace qio::library::dialog::test
