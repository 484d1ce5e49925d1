#include "Failures.h"

#include <algorithm>
#include <iostream>

#include <nlohmann/json.hpp>

#include "App.h"
#include "Units.h"

namespace qio::tool {
namespace {

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

void PrintJson(const nlohmann::json& record) {
  std::cout << nlohmann::json{{"error", record}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
            << std::endl;
}

}  // namespace

std::string ClosestWord(const std::string& word, const std::vector<std::string>& choices) {
  const std::string lower = Lower(word);
  std::string best;
  std::size_t bestDistance = 3;  // at most two edits away
  for (const std::string& choice : choices) {
    if (lower.size() >= 2 && choice.rfind(lower, 0) == 0) return choice;
    const std::size_t distance = EditDistance(lower, choice);
    if (distance < bestDistance && distance < choice.size()) {
      best = choice;
      bestDistance = distance;
    }
  }
  return best;
}

int ReportUsageError(const std::string& message, const std::string& usage, const std::string& command, bool json) {
  const std::string help = "qio5162 " + (command.empty() ? std::string() : command + " ") + "--help";
  if (json) {
    nlohmann::json record{{"kind", "usage"}, {"exitCode", kExitUsage}, {"message", message}, {"help", help}};
    if (!usage.empty()) record["usage"] = "qio5162 " + usage;
    PrintJson(record);
  }
  std::cerr << "qio5162: " << message << "\n";
  if (!usage.empty()) std::cerr << "usage: qio5162 " << usage << "\n";
  std::cerr << "see '" << help << "'\n";
  return kExitUsage;
}

int ReportDeviceError(const DeviceError& error, bool json) {
  if (json) {
    nlohmann::json record{{"kind", "device"}, {"exitCode", kExitDevice}, {"message", error.what()}};
    if (error.HasCode()) {
      record["call"] = error.Call();
      record["code"] = error.Code();
      record["codeText"] = ResultCodeText(error.Code());
      record["meaning"] = error.Meaning();
    }
    if (!error.Hints().empty()) record["hints"] = error.Hints();
    PrintJson(record);
  }
  std::cerr << "qio5162: " << error.what() << "\n";
  for (const std::string& hint : error.Hints()) std::cerr << hint << "\n";
  return kExitDevice;
}

}  // namespace qio::tool
