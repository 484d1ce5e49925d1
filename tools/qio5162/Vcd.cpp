#include "Vcd.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace qio::tool {
namespace {

// Identifier codes: printable characters from '!' on, then two of them.
std::string IdentifierOf(std::size_t index) {
  constexpr std::size_t kFirst = 33;
  constexpr std::size_t kCount = 94;  // '!' to '~'
  std::string id;
  do {
    id += static_cast<char>(kFirst + index % kCount);
    index /= kCount;
  } while (index-- > 0);
  return id;
}

std::string ValueText(const VcdSignal& signal, const std::string& id, std::optional<std::uint32_t> value) {
  if (signal.width == 1) return (value ? std::string(1, (*value & 1u) ? '1' : '0') : std::string("x")) + id;
  std::string bits = "b";
  if (!value) return "bx " + id;
  for (unsigned bit = signal.width; bit-- > 0;) bits += ((*value >> bit) & 1u) ? '1' : '0';
  return bits + " " + id;
}

struct Event {
  std::uint64_t time;
  std::size_t signal;
  std::optional<std::uint32_t> value;
};

}  // namespace

std::vector<VcdSignal> SplitVector(const VcdSignal& vector) {
  std::vector<VcdSignal> bits;
  for (unsigned bit = 0; bit < vector.width; ++bit) {
    VcdSignal wire;
    wire.name = vector.name + std::to_string(bit);
    wire.initial = (vector.initial >> bit) & 1u;
    wire.unknownFromNs = vector.unknownFromNs;
    std::uint32_t level = wire.initial;
    for (const VcdSignal::Change& change : vector.changes) {
      const std::uint32_t next = (change.value >> bit) & 1u;
      if (next == level) continue;
      wire.changes.push_back({change.timeNs, next});
      level = next;
    }
    bits.push_back(std::move(wire));
  }
  return bits;
}

std::string WriteVcd(const VcdDocument& original) {
  VcdDocument split;
  if (original.splitVectors) {
    split = original;
    split.signals.clear();
    for (const VcdSignal& signal : original.signals) {
      if (signal.width == 1) {
        split.signals.push_back(signal);
      } else {
        for (VcdSignal& bit : SplitVector(signal)) split.signals.push_back(std::move(bit));
      }
    }
  }
  const VcdDocument& document = original.splitVectors ? split : original;
  std::ostringstream out;
  out << "$date\n  " << document.date << "\n$end\n";
  out << "$version\n  " << document.version << "\n$end\n";
  for (const std::string& comment : document.comments) out << "$comment\n  " << comment << "\n$end\n";
  out << "$timescale 1 ns $end\n";
  out << "$scope module " << document.scope << " $end\n";
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < document.signals.size(); ++i) {
    const VcdSignal& signal = document.signals[i];
    ids.push_back(IdentifierOf(i));
    out << "$var wire " << signal.width << " " << ids.back() << " " << signal.name;
    if (signal.width > 1) out << " [" << signal.width - 1 << ":0]";
    out << " $end\n";
  }
  out << "$upscope $end\n$enddefinitions $end\n";
  out << "#0\n$dumpvars\n";
  for (std::size_t i = 0; i < document.signals.size(); ++i) {
    const VcdSignal& signal = document.signals[i];
    const bool unknown = signal.unknownFromNs && *signal.unknownFromNs == 0;
    out << ValueText(signal, ids[i], unknown ? std::nullopt : std::optional<std::uint32_t>(signal.initial)) << "\n";
  }
  out << "$end\n";

  std::vector<Event> events;
  for (std::size_t i = 0; i < document.signals.size(); ++i) {
    const VcdSignal& signal = document.signals[i];
    for (const VcdSignal::Change& change : signal.changes) {
      if (change.timeNs == 0) continue;
      if (signal.unknownFromNs && change.timeNs >= *signal.unknownFromNs) break;
      events.push_back({change.timeNs, i, change.value});
    }
    if (signal.unknownFromNs && *signal.unknownFromNs > 0) events.push_back({*signal.unknownFromNs, i, std::nullopt});
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.time < b.time; });
  std::uint64_t at = 0;
  for (const Event& event : events) {
    if (event.time != at) {
      out << "#" << event.time << "\n";
      at = event.time;
    }
    out << ValueText(document.signals[event.signal], ids[event.signal], event.value) << "\n";
  }
  if (document.endNs > at) out << "#" << document.endNs << "\n";
  return out.str();
}

const VcdTrace* VcdFile::Find(const std::string& name) const {
  for (const VcdTrace& trace : traces) {
    if (trace.name == name) return &trace;
  }
  return nullptr;
}

std::optional<VcdFile> ReadVcd(const std::string& text, std::string* error) {
  auto fail = [error](const std::string& why) -> std::optional<VcdFile> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  std::istringstream in(text);
  VcdFile file;
  std::map<std::string, std::vector<std::size_t>> byId;  // one id may name several variables
  std::string word;
  bool definitions = true;
  std::uint64_t time = 0;
  auto record = [&](const std::string& id, const std::string& digits) -> bool {
    const auto found = byId.find(id);
    if (found == byId.end()) return false;
    VcdTrace::Value value{time, 0, true};
    for (const char c : digits) {
      if (c == '0' || c == '1') {
        value.value = (value.value << 1) | static_cast<std::uint64_t>(c - '0');
      } else {
        value.known = false;
      }
    }
    for (const std::size_t index : found->second) {
      std::vector<VcdTrace::Value>& values = file.traces[index].values;
      if (!values.empty() && values.back().time == time) values.pop_back();
      values.push_back(value);
    }
    return true;
  };
  while (in >> word) {
    if (definitions) {
      if (word == "$timescale") {
        std::string part;
        while (in >> part && part != "$end") file.timescale += (file.timescale.empty() ? "" : " ") + part;
      } else if (word == "$var") {
        std::string type, width, id, name, rest;
        if (!(in >> type >> width >> id >> name)) return fail("a $var ends early");
        while (in >> rest && rest != "$end") {
        }
        VcdTrace trace;
        trace.name = name;
        trace.width = static_cast<unsigned>(std::stoul(width));
        byId[id].push_back(file.traces.size());
        file.traces.push_back(trace);
      } else if (word == "$enddefinitions") {
        in >> word;  // $end
        definitions = false;
      } else if (word[0] == '$' && word != "$end") {
        std::string part;
        while (in >> part && part != "$end") {
        }
      }
      continue;
    }
    if (word[0] == '#') {
      time = std::stoull(word.substr(1));
    } else if (word == "$dumpvars" || word == "$end" || word == "$dumpon" || word == "$dumpoff" ||
               word == "$dumpall") {
      continue;
    } else if (word == "$comment") {
      std::string part;
      while (in >> part && part != "$end") {
      }
    } else if (word[0] == 'b' || word[0] == 'B' || word[0] == 'r' || word[0] == 'R') {
      std::string id;
      if (!(in >> id)) return fail("a vector value without an identifier");
      if (word[0] == 'b' || word[0] == 'B') record(id, word.substr(1));
    } else if (word.size() >= 2 && std::string("01xXzZ").find(word[0]) != std::string::npos) {
      record(word.substr(1), word.substr(0, 1));
    } else {
      return fail("unexpected '" + word + "' at time " + std::to_string(time));
    }
  }
  if (definitions) return fail("no $enddefinitions");
  return file;
}

}  // namespace qio::tool
