// A property test of the template editor: scripts built from the pieces
// people and tools put in them (foreign keys, comments that name template
// keys and values, strings with brackets, continued hex lists, indented or
// commented headers, no final line break, CR LF or LF, UTF-8 with a mark,
// UTF-16LE) meet random sequences of add, set, remove and a window's save of
// several edits. After every save:
//   - every line that is not a template's header or value line (or the " "
//     line an append writes before a header) is still there, unchanged and
//     in order, and the file keeps its encoding;
//   - the table read back from the script is the one that was saved;
//   - the script boots the hosted target, whose registry holds exactly those
//     templates with those values, and the foreign keys beside them.
// A fixed number of seeds runs here; longer runs belong to the fuzz targets.
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ScriptTestSupport.h"
#include "config/script/ScriptEncoding.h"
#include "config/templates/TemplateTable.h"
#include "qio/platform/registry.h"
#include "qio5162/target.h"

namespace qio::config {
namespace {

namespace pf = qio::platform;

struct Expected {
  std::uint32_t ioBase = 0;
  std::uint32_t irq = 0;
  std::array<std::uint8_t, 3> ports{};
};
using Model = std::map<int, Expected>;

// Flushing is what makes a change durable, not what makes it correct.
class UnflushedFiles : public FileLayer {
 public:
  int Sync(int) override { return 0; }
};

// ---- reading a script independently of the editor --------------------------

struct Line {
  std::string content;
  std::string end;  // "\r\n", "\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t lf = text.find('\n', pos);
    Line line;
    if (lf == std::string::npos) {
      line.content = text.substr(pos);
      pos = text.size();
    } else {
      const bool cr = lf > pos && text[lf - 1] == '\r';
      line.content = text.substr(pos, lf - pos - (cr ? 1 : 0));
      line.end = cr ? "\r\n" : "\n";
      pos = lf + 1;
    }
    lines.push_back(line);
  }
  return lines;
}

std::string Lower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

std::string TrimLeft(const std::string& text) { return text.substr(std::min(text.find_first_not_of(" \t"), text.size())); }

// The template number of a header line of this board, or -1.
int TemplateOf(const std::string& content) {
  const std::string prefix = "[hkey_local_machine\\drivers\\builtin\\zqs5162s";
  const std::string text = Lower(TrimLeft(content));
  if (text.compare(0, prefix.size(), prefix) != 0) return -1;
  std::size_t at = prefix.size();
  int n = 0;
  const std::size_t digits = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - digits < 3) n = n * 10 + (text[at++] - '0');
  if (at == digits || at >= text.size() || text[at] != ']' || n >= kTemplateSlots) return -1;
  const std::string rest = TrimLeft(text.substr(at + 1));
  return rest.empty() || rest[0] == ';' ? n : -1;
}

bool IsValueLine(const std::string& content) {
  const std::string text = TrimLeft(content);
  if (text.empty() || (text[0] != '"' && text[0] != '@')) return false;
  std::size_t at = 1;
  if (text[0] == '"') {
    while (at < text.size() && text[at] != '"') at += text[at] == '\\' ? 2 : 1;
    if (at >= text.size()) return false;
    ++at;
  }
  const std::string rest = TrimLeft(text.substr(at));
  return !rest.empty() && rest[0] == '=';
}

bool ContinuesHex(const std::string& content) {
  std::string text = content.substr(0, content.find(';'));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return !text.empty() && text.back() == '\\';
}

// The lines that belong to no template: what no save may change.
std::vector<Line> ForeignLines(const std::string& text) {
  const std::vector<Line> lines = SplitLines(text);
  std::vector<bool> owned(lines.size(), false);
  bool inTemplate = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string first = TrimLeft(lines[i].content);
    if (!first.empty() && first[0] == '[') {
      inTemplate = TemplateOf(lines[i].content) >= 0;
      if (inTemplate) {
        owned[i] = true;
        if (i > 0 && lines[i - 1].content == " ") owned[i - 1] = true;
      }
      continue;
    }
    if (!inTemplate || !IsValueLine(lines[i].content)) continue;
    const bool hex = Lower(lines[i].content).find("=hex") != std::string::npos;
    owned[i] = true;
    while (hex && ContinuesHex(lines[i].content) && i + 1 < lines.size()) owned[++i] = true;
  }
  std::vector<Line> foreign;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!owned[i]) foreign.push_back(lines[i]);
  }
  return foreign;
}

// ---- building scripts ---------------------------------------------------------

class ScriptMaker {
 public:
  explicit ScriptMaker(std::uint32_t seed) : random_(seed) {}

  int Pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }
  template <typename T, std::size_t N>
  const T& OneOf(const T (&items)[N]) { return items[Pick(static_cast<int>(N))]; }
  std::mt19937& random() { return random_; }

  // A script and the templates it holds.
  void Make(std::string& text, Model& model, bool& hasDisplay) {
    end_ = Pick(3) == 0 ? "\n" : "\r\n";
    const char* const kLeads[] = {"", "REGEDIT4", "Windows Registry Editor Version 5.00"};
    text = OneOf(kLeads);
    if (!text.empty()) text += end_ + (Pick(2) == 0 ? end_ : "");
    model.clear();
    hasDisplay = false;
    std::vector<int> free(kTemplateSlots);
    for (int n = 0; n < kTemplateSlots; ++n) free[static_cast<std::size_t>(n)] = n;
    std::shuffle(free.begin(), free.end(), random_);
    const int chunks = 2 + Pick(9);
    int lastSlot = -1;
    for (int c = 0; c < chunks; ++c) {
      switch (Pick(6)) {
        case 0: text += Comment(); break;
        case 1:
          text += Display();
          hasDisplay = true;
          break;
        case 2: text += end_; break;
        default: {
          // A new template, now and then the same key once more.
          const int n = lastSlot >= 0 && Pick(5) == 0 ? lastSlot : free.back();
          if (n == free.back()) free.pop_back();
          text += Section(n, model);
          lastSlot = n;
        }
      }
    }
    if (Pick(4) == 0) {
      // No line break at the end.
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    }
    // A key is a template when it has a base, whichever of its sections gave it.
    for (auto it = model.begin(); it != model.end();) it = it->second.ioBase == 0 ? model.erase(it) : std::next(it);
  }

 private:
  std::string Comment() {
    const char* const kComments[] = {
        "; QIO-5162 boards of this image",
        "; ZQS5162S4] was moved to the carrier board",
        "; [HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S2]",
        ";\"Irq\"=dword:9 was the old line",
        "  ; Irq 5 is wired on the carrier",
        "; Gr\u00FC\u00DFe \u20AC",  // UTF-8
    };
    return std::string(OneOf(kComments)) + end_;
  }

  std::string Display() {
    return "[HKEY_LOCAL_MACHINE\\Drivers\\Display]" + end_ + "\"Height\"=dword:1e0" + end_ +
           "\"Name\"=\"panel [left] ; not a comment\"" + end_ + "\"Cfg\"=hex:01,02,\\" + end_ + "  03" + end_;
  }

  std::string Section(int n, Model& model) {
    std::string text;
    if (Pick(2) == 0) text += " " + end_;
    const std::string header = "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S" + std::to_string(n) + "]";
    switch (Pick(4)) {
      case 0: text += header + " ; template " + std::to_string(n); break;
      case 1: text += "  " + Lower(header); break;
      default: text += header + " "; break;
    }
    text += end_;
    Expected& values = model[n];  // a repeated key adds to its values
    std::vector<std::string> lines;
    if (Pick(3) != 0) {
      values.ioBase = kBaseAddresses[static_cast<std::size_t>(Pick(12))];
      char line[64];
      std::snprintf(line, sizeof line, "\"%s\"=dword:%x", Pick(4) == 0 ? "ioBASE" : "IoBase", values.ioBase);
      lines.push_back(line);
    }
    if (Pick(3) != 0) {
      values.irq = static_cast<std::uint32_t>(3 + Pick(13));
      char line[64];
      std::snprintf(line, sizeof line, "\"Irq\"=dword:%x%s", values.irq, Pick(3) == 0 ? " ; jumper J4" : "");
      lines.push_back(line);
    }
    if (Pick(2) == 0) {
      values.ports = {static_cast<std::uint8_t>(Pick(2)), static_cast<std::uint8_t>(Pick(2)),
                      static_cast<std::uint8_t>(Pick(5))};
      char line[64];
      if (Pick(2) == 0) {
        std::snprintf(line, sizeof line, "\"DigPortCfg\"=hex:%02X,%02X,%02X", values.ports[0], values.ports[1],
                      values.ports[2]);
      } else {
        std::snprintf(line, sizeof line, "\t\"DigPortCfg\"=hex:%02x,\\%s    %02x,%02x", values.ports[0], end_.c_str(),
                      values.ports[1], values.ports[2]);
      }
      lines.push_back(line);
    }
    const char* const kExtras[] = {"\"IrqShare\"=dword:1", "\"FriendlyName\"=\"QIO board [slot 2]\"",
                                   "; Irq 5 is wired on the carrier", "\"Prefix\"=\"Q62\"", ""};
    for (int extra = Pick(3); extra > 0; --extra) lines.push_back(OneOf(kExtras));
    std::shuffle(lines.begin(), lines.end(), random_);
    for (const std::string& line : lines) text += line + end_;
    return text;
  }

  std::mt19937 random_;
  std::string end_;
};

// ---- checking -----------------------------------------------------------------

// The text of the script's bytes, in whatever encoding the script has.
std::string Decoded(const std::string& bytes) {
  DecodedScript decoded;
  std::string why;
  EXPECT_EQ(DecodeScript(bytes, decoded, &why), 0) << why;
  return decoded.text;
}

void ExpectForeignLinesKept(const std::string& before, const std::string& after) {
  const std::vector<Line> old = ForeignLines(before);
  const std::vector<Line> now = ForeignLines(after);
  ASSERT_EQ(now.size(), old.size()) << "before:\n" << before << "\nafter:\n" << after;
  for (std::size_t i = 0; i < old.size(); ++i) {
    if (old[i].end.empty()) {
      // The last line, without a line end: a save may end it (and the
      // header appended after it puts a space there first).
      std::string content = now[i].content;
      while (!content.empty() && content.back() == ' ') content.pop_back();
      std::string was = old[i].content;
      while (!was.empty() && was.back() == ' ') was.pop_back();
      EXPECT_EQ(content, was) << "line " << i;
    } else {
      EXPECT_EQ(now[i].content, old[i].content) << "line " << i << "\nafter:\n" << after;
      EXPECT_EQ(now[i].end, old[i].end) << "line " << i;
    }
  }
}

void ExpectTable(const std::string& path, const Model& model) {
  TemplateTable table;
  ASSERT_EQ(table.Load(path), 0);
  for (int n = 0; n < kTemplateSlots; ++n) {
    const auto it = model.find(n);
    const TemplateRecord& record = table.Record(n);
    ASSERT_EQ(record.inUse != 0, it != model.end()) << "slot " << n;
    if (it == model.end()) continue;
    EXPECT_EQ(record.ioBase, it->second.ioBase) << "slot " << n;
    EXPECT_EQ(record.irq, it->second.irq) << "slot " << n;
    EXPECT_EQ(record.portConfig, it->second.ports) << "slot " << n;
  }
}

std::pair<bool, std::vector<std::uint8_t>> Value(const std::string& path, const char* name) {
  pf::RegKey key = pf::kNullHandle;
  if (pf::RegOpenKey(pf::kLocalMachine, path, &key) != 0) return {false, {}};
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::vector<std::uint8_t> data;
  const bool found = pf::RegQueryValue(key, name, &type, nullptr, &size) == 0;
  if (found) {
    data.resize(size);
    pf::RegQueryValue(key, name, &type, data.data(), &size);
  }
  pf::RegCloseKey(key);
  return {found, data};
}

std::vector<std::uint8_t> Dword(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// `saved`: the script has been saved, so every template carries all its values.
void ExpectBoots(const std::string& bytes, const Model& model, bool hasDisplay, bool saved) {
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot_data(bytes.data(), bytes.size(), QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS, &target),
            QIO_TARGET_OK)
      << qio_target_last_message() << "\n" << Decoded(bytes);
  for (int n = 0; n < kTemplateSlots; ++n) {
    const std::string key = "Drivers\\BuiltIn\\ZQS5162S" + std::to_string(n);
    const auto it = model.find(n);
    if (it == model.end()) {
      EXPECT_FALSE(Value(key, "IoBase").first) << key;
      continue;
    }
    EXPECT_EQ(Value(key, "IoBase").second, Dword(it->second.ioBase)) << key;
    // A script not yet saved may leave a value out; it then reads as 0.
    if (saved || it->second.irq != 0) {
      EXPECT_EQ(Value(key, "Irq").second, Dword(it->second.irq)) << key;
    }
    const auto ports = Value(key, "DigPortCfg");
    if (!saved && !ports.first) continue;
    EXPECT_EQ(ports.second, std::vector<std::uint8_t>(it->second.ports.begin(), it->second.ports.end())) << key;
    if (!saved) continue;
    EXPECT_EQ(Value(key, "DeviceIndex").second, Dword(static_cast<std::uint32_t>(n))) << key;
    EXPECT_EQ(Value(key, "Prefix").second, pf::Utf8ToUtf16Le("Q62", true)) << key;
  }
  if (hasDisplay) {
    EXPECT_EQ(Value("Drivers\\Display", "Height").second, Dword(0x1e0));
  }
  EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);
}

std::string Encode(const std::string& text, int encoding) {
  if (encoding == 1) return "\xEF\xBB\xBF" + text;
  if (encoding == 2) {
    std::string bytes;
    EXPECT_EQ(EncodeScript(text, ScriptEncoding::kUtf16Le, bytes), 0);
    return bytes;
  }
  return text;
}

// One command: the table loaded from the script, changed, saved.
void Change(ScriptMaker& maker, TemplateTable& table, Model& model) {
  std::vector<int> used;
  for (const auto& [n, values] : model) used.push_back(n);
  const int kind = used.empty() ? 0 : maker.Pick(3);
  if (kind == 0 && used.size() < static_cast<std::size_t>(kTemplateSlots)) {
    const int n = table.AllocateSlot();
    table.ApplyDefaults(n);
    model[n] = {table.Record(n).ioBase, table.Record(n).irq, table.Record(n).portConfig};
  } else if (kind == 1 && !used.empty()) {
    const int n = used[static_cast<std::size_t>(maker.Pick(static_cast<int>(used.size())))];
    TemplateRecord& record = table.Record(n);
    if (maker.Pick(2) == 0) {
      const std::uint32_t base = kBaseAddresses[static_cast<std::size_t>(maker.Pick(12))];
      if (!table.IsBaseInUse(base)) record.ioBase = base;
    }
    if (maker.Pick(2) == 0) record.irq = static_cast<std::uint32_t>(3 + maker.Pick(13));
    if (maker.Pick(2) == 0) record.portConfig[0] = static_cast<std::uint8_t>(maker.Pick(2));
    if (maker.Pick(2) == 0) record.portConfig[2] = static_cast<std::uint8_t>(maker.Pick(5));
    model[n] = {record.ioBase, record.irq, record.portConfig};
  } else if (!used.empty()) {
    const int n = used[static_cast<std::size_t>(maker.Pick(static_cast<int>(used.size())))];
    table.RemoveSlot(n);
    model.erase(n);
  }
}

TEST(ScriptProperty, SavesChangeOnlyTheTemplatesAndBootWithTheirValues) {
  UnflushedFiles files;
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ScriptMaker maker(seed);
    std::string text;
    Model model;
    bool hasDisplay = false;
    maker.Make(text, model, hasDisplay);
    const int encoding = maker.Pick(3);
    testing::ScriptTree tree;
    tree.Write(Encode(text, encoding));
    ExpectTable(tree.script(), model);
    ExpectBoots(tree.Read(), model, hasDisplay, false);
    if (HasFailure()) return;

    for (int step = 0; step < 5; ++step) {
      TemplateTable table(nullptr, files);
      ASSERT_EQ(table.Load(tree.script()), 0);
      // Most saves are one command; some are a window's save of several.
      for (int edits = maker.Pick(4) == 0 ? 3 : 1; edits > 0; --edits) Change(maker, table, model);
      ASSERT_TRUE(table.Save(tree.script())) << table.lastError();
      const std::string bytes = tree.Read();
      ASSERT_EQ(bytes.substr(0, 2) == "\xFF\xFE", encoding == 2);
      ASSERT_EQ(bytes.substr(0, 3) == "\xEF\xBB\xBF", encoding == 1);
      ExpectForeignLinesKept(text, Decoded(bytes));
      ExpectTable(tree.script(), model);
      ExpectBoots(bytes, model, hasDisplay, true);
      if (HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace qio::config
