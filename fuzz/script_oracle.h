// The oracle's pieces for the script editor's fuzz target: the names a path
// gives, the line a value write must compose (or its refusal), and readings
// of every value the templates' sections hold, so that an edit can be shown
// to change no value but its own.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/script/ScriptText.h"
#include "fuzz_support.h"
#include "script_reference.h"
#include "text_encodings.h"

namespace qio::fuzz {

namespace cfg = qio::config;

inline const char* const kPaths[] = {
    "/img/Public/Quillory/Device_Drivers/QIO5162/QIO5162.reg",
    "C:\\WINCE500\\PUBLIC\\Quillory\\Device_Drivers\\QIO5162\\QIO5162.reg",
    "/img/Device_Drivers/PCI5170/PCI5170.reg",
    "/img/Device_Drivers/PCI5175/PCI5175.reg",
    "/img/Device_Drivers/USB5160/USB5160.reg",
    "/work/QIO-PCI-USB/Device_Drivers/QIO5162/QIO5162.reg",
    "/img/Device_Drivers/QIOUSB1/QIOUSB1.reg",
    "/img/Device_Drivers/QIO/x.reg",
};

inline std::string Show(std::string_view text) { return std::string(text.substr(0, 600)); }

// Where two texts part, with some text around it from each.
inline std::string Difference(std::string_view a, std::string_view b) {
  std::size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const std::size_t from = at < 60 ? 0 : at - 60;
  return "at byte " + std::to_string(at) + ":\n" + std::string(a.substr(from, 160)) + "\n--- against ---\n" +
         std::string(b.substr(from, 160));
}

// The names of a path from the list, or of a path with random bytes for its
// component; a path that names nothing gives this board's names.
inline cfg::ScriptNames Names(FuzzInput& input) {
  std::string path = kPaths[input.Below(std::size(kPaths))];
  if (input.Below(8) == 0) {
    path = "/img/Device_Drivers/QIO";
    for (int i = 0; i < 4; ++i) path += static_cast<char>(input.Byte());
    path += "/x.reg";
  }
  cfg::ScriptNames names;
  if (cfg::DeriveScriptNames(path, names) != 0) {
    QIO_FUZZ_CHECK(cfg::DeriveScriptNames(kPaths[0], names) == 0, "this board's path names nothing");
    return names;
  }
  QIO_FUZZ_CHECK(
      names.keyPrefix.rfind("[HKEY_LOCAL_MACHINE\\Drivers\\", 0) == 0 && names.busKind >= 0 && names.busKind <= 2,
      "odd names from \"%s\": prefix \"%s\", bus %d", path.c_str(), names.keyPrefix.c_str(), names.busKind);
  for (const int n : {0, 7, 15}) {
    const std::string header = names.HeaderLine(n);
    const std::string key = names.SearchKey(n);
    QIO_FUZZ_CHECK(header.size() >= key.size() && header.compare(header.size() - key.size(), key.size(), key) == 0,
                   "header \"%s\" does not end in its key \"%s\"", header.c_str(), key.c_str());
  }
  return names;
}

// ---- what a value line must look like ------------------------------------

inline std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

struct Write {
  int n = 0;
  std::string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;  // the caller's bytes (a string with its terminator)
  std::uint32_t size = 0;
  bool nullData = false;
};

// The line a write composes, or nothing when it must be refused.
inline std::optional<std::string> ExpectedLine(const cfg::ScriptText& script, const Write& w) {
  if (w.n < 0 || w.nullData || w.name.empty()) return std::nullopt;
  for (const char c : w.name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '"') return std::nullopt;
  }
  std::string line = "\"" + Escaped(w.name) + "\"";
  switch (w.type) {
    case cfg::kTypeDword: {
      if (w.size < 4) return std::nullopt;
      std::uint32_t value = 0;
      std::memcpy(&value, w.data.data(), 4);
      char digits[16];
      std::snprintf(digits, sizeof digits, "%x", value);
      line += std::string("=dword:") + digits;
      break;
    }
    case cfg::kTypeString: {
      const std::string_view all(reinterpret_cast<const char*>(w.data.data()),
                                 std::min<std::size_t>(w.size, w.data.size()));
      const std::string_view text = all.substr(0, all.find('\0'));
      if (text.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
      line += "=\"" + Escaped(text) + "\"";
      break;
    }
    case cfg::kTypeBinary: {
      line += "=hex:";
      for (std::uint32_t i = 0; i < w.size; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", w.data[i]);
        line += (i == 0 ? "" : ",") + std::string(pair);
      }
      break;
    }
    default: return std::nullopt;
  }
  if (line.size() + 3 > cfg::ScriptText::kLineBufferBytes) return std::nullopt;
  if (script.encoding() != cfg::ScriptEncoding::kEightBit && !qio::fuzz::IsWellFormedUtf8(line)) return std::nullopt;
  // Without a section of its own the value would land in another key's.
  const ScriptReference ref(script.text(), script.names());
  if (ref.Sections(w.n).empty()) {
    for (const std::string_view l : ref.lines()) {
      const std::string_view content = ScriptReference::TrimLeft(ScriptReference::Content(l));
      if (!content.empty() && content.front() == '[') return std::nullopt;
    }
  }
  return line;
}

// ---- value readings, to show what an edit did not change --------------------

struct Reading {
  int rc = 0;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::vector<std::uint8_t> bytes;
  bool operator==(const Reading&) const = default;
};

constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kFill = 0xA5;

// One read into a buffer of `capacity` bytes between guards; the guards must
// stay as they were.
inline Reading Read(const cfg::ScriptText& script, int n, std::string_view name, std::uint32_t capacity,
                    bool withData) {
  std::vector<std::uint8_t> buffer(capacity + 2 * kGuard, kFill);
  Reading r;
  r.type = 0xEEEE;
  r.size = capacity;
  r.rc = script.ReadValue(n, name, &r.type, withData ? buffer.data() + kGuard : nullptr, &r.size);
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    QIO_FUZZ_CHECK((i >= kGuard && i < kGuard + capacity) || buffer[i] == kFill,
                   "a read of \"%s\" into %u bytes wrote byte %zd", std::string(name).c_str(), capacity,
                   static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(kGuard));
  }
  r.bytes.assign(buffer.begin() + kGuard, buffer.begin() + kGuard + capacity);
  return r;
}

using Snapshot = std::map<std::pair<int, std::string>, Reading>;

// Every value name any template's sections hold in either text, read from both.
inline std::pair<Snapshot, Snapshot> Readings(const cfg::ScriptText& before, const cfg::ScriptText& after) {
  std::map<std::pair<int, std::string>, std::string> probes;
  for (const cfg::ScriptText* script : {&before, &after}) {
    const ScriptReference ref(script->text(), script->names());
    for (int n = 0; n < 18; ++n) {
      for (const auto& section : ref.Sections(n)) {
        for (const auto& value : ref.Values(section)) {
          if (value.quoted && !value.name.empty()) probes[{n, ScriptReference::Upper(value.name)}] = value.name;
        }
      }
    }
  }
  std::pair<Snapshot, Snapshot> readings;
  for (const auto& [key, name] : probes) {
    readings.first[key] = Read(before, key.first, name, 1024, true);
    readings.second[key] = Read(after, key.first, name, 1024, true);
  }
  return readings;
}

// No value reads differently, but those of the templates `changed` (the one
// named `name`, or all of them when the name is empty).
inline void CheckOtherValues(const cfg::ScriptText& before, const cfg::ScriptText& after, const std::set<int>& changed,
                             const std::string& name, const char* what) {
  const auto [was, is] = Readings(before, after);
  for (const auto& [key, reading] : was) {
    if (changed.count(key.first) != 0 && (name.empty() || key.second == ScriptReference::Upper(name))) continue;
    QIO_FUZZ_CHECK(is.at(key) == reading, "%s changed value \"%s\" of template %d (rc %d -> %d, type %u -> %u)", what,
                   key.second.c_str(), key.first, reading.rc, is.at(key).rc, reading.type, is.at(key).type);
  }
}

}  // namespace qio::fuzz
