// Fuzz target: the registry-script editor (ScriptText, ScriptNames) and the
// template table over it (TemplateTable::Load and Apply), all in memory.
//
// Each input is a script path (the names of the component's keys come from
// it), the script's bytes (raw, or built from realistic lines by
// script_builder.h, in any encoding the editor reads) and a sequence of
// operations: append, remove, set values of every type with good and bad
// arguments, set tables of values, read values into guarded buffers, load the
// template table, change it and apply it, encode and load again, and now and
// then save it as a file through a file layer whose k-th call fails
// (tests/config/FileFaults.h).
// Oracle (script_reference.h reads the text a second way):
//   - a script that does not load leaves the editor's text as it was; one
//     that loads encodes back to the very same bytes;
//   - an operation is refused exactly when its arguments call for it (a bad
//     template number, name, type, size or string, a line too long, text that
//     is not UTF-8 in a Unicode script, a value for a template without a
//     section where the file has sections of other keys), and a refused one
//     changes nothing;
//   - an append adds exactly " ", a line end, the header, " " and a line end,
//     and the section is then found; a removal takes exactly the template's
//     header lines, the " " lines before them and its value lines;
//   - a value set replaces each line that set it where it stands (keeping the
//     indentation, a trailing comment and the line end) or becomes the last
//     line of the template's last section; nothing else changes, the value
//     reads back as written, and no other value of any template reads
//     differently;
//   - a table of values is written row by row up to the first row that fails;
//   - a read writes nothing beyond the capacity given and touches no output
//     when the value is not set;
//   - an applied template table loads back as it was applied, applying it
//     again changes nothing, and every line outside the templates' own
//     header and value lines stays as it was;
//   - a save through the files holds the old bytes when it fails and the
//     bytes of the table applied in memory when it succeeds, and leaves no
//     temporary file behind;
//   - the encoding, its byte-order mark and the line ends are kept.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "FileFaults.h"
#include "config/script/ScriptText.h"
#include "config/templates/TemplateTable.h"
#include "fuzz_support.h"
#include "script_builder.h"
#include "script_oracle.h"
#include "script_reference.h"
#include "text_encodings.h"

namespace {

namespace cfg = qio::config;
using qio::fuzz::FuzzInput;
using qio::fuzz::ScriptReference;
using qio::fuzz::Show;

const char* const kNames[] = {"IoBase",      "Irq",     "irq",  "DigPortCfg", "Prefix",      "Dll",
                              "TimerClock",  "New",     "a\\b", "semi;colon", "sp ace",      "[x]",
                              "caf\xC3\xA9", "caf\xE9", "",     "q\"x",       "line\nbreak", "tab\there"};
const char* const kTexts[] = {"Q62",      "Zqs5162s.dll", "",        "C:\\Windows\\", "say \"hi\"", "x;y",
                              "[slot 2]", "caf\xC3\xA9",  "caf\xE9", "two\r\nlines",  "trail\\"};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The data of a write: null only when meant (an empty vector may hold none).
const void* DataOf(const qio::fuzz::Write& w) {
  static const std::uint8_t kNothing = 0;
  return w.nullData ? nullptr : w.data.empty() ? &kNothing : w.data.data();
}

class Session {
 public:
  Session(FuzzInput& input, cfg::ScriptText script, std::string loaded)
      : in_(input), script_(std::move(script)), loaded_(std::move(loaded)), original_(script_.text()) {
    const ScriptReference ref(script_.text(), script_.names());
    for (const std::string_view line : ref.lines()) {
      if (line.back() != '\n') continue;
      ++(line.size() >= 2 && line[line.size() - 2] == '\r' ? crlf_ : lf_);
    }
  }

  void Run() {
    for (int step = 0; step < 24 && !in_.Empty(); ++step) {
      const int n = static_cast<int>(in_.Below(20)) - 2;
      switch (in_.Below(12)) {
        case 0: Append(n); break;
        case 1: Remove(n); break;
        case 2:
        case 3:
        case 4: WriteOne(RandomWrite(n)); break;
        case 5: WriteOne(WriteOfPresentName()); break;
        case 6: WriteTable(n); break;
        case 7: ReadOne(n); break;
        case 8: ApplyTable(); break;
        case 9:
          if (in_.Below(8) == 0) {
            SaveThroughFiles();
          } else {
            EncodeAndLoad();
          }
          break;
        default: CompareSections(n); break;
      }
    }
    EncodeAndLoad();
    CheckLineEnds();
  }

 private:
  std::string Name() {
    if (in_.Below(16) == 0) return std::string("nul\0name", 8);
    if (in_.Below(16) == 0) return std::string(in_.Below(260), 'N');
    return kNames[in_.Below(std::size(kNames))];
  }

  qio::fuzz::Write RandomWrite(int n) {
    qio::fuzz::Write w;
    w.n = n;
    w.name = Name();
    // The three types the editor writes, twice as often as three it does not.
    static const std::uint32_t kTypes[] = {cfg::kTypeDword, cfg::kTypeString, cfg::kTypeBinary, cfg::kTypeDword,
                                           cfg::kTypeString, cfg::kTypeBinary, cfg::kTypeMultiString, 0, 2};
    w.type = in_.Pick(kTypes);
    w.nullData = in_.Below(32) == 0;
    switch (w.type) {
      case cfg::kTypeString: {
        std::string text = in_.Below(16) == 0 ? std::string(in_.Below(260), 'q') : kTexts[in_.Below(std::size(kTexts))];
        w.data.assign(text.begin(), text.end());
        w.data.push_back(0);
        if (in_.Below(8) == 0) w.data.insert(w.data.end(), {'x', 'y', 0});  // text after the terminator
        w.size = static_cast<std::uint32_t>(in_.Below(8) == 0 ? in_.Below(static_cast<std::uint32_t>(w.data.size()) + 1)
                                                              : w.data.size());
        break;
      }
      case cfg::kTypeBinary:
        w.data.resize(in_.Below(100));
        in_.Fill(w.data.data(), w.data.size());
        w.size = static_cast<std::uint32_t>(w.data.size());
        break;
      default:
        w.data.resize(4);
        in_.Fill(w.data.data(), 4);
        w.size = in_.Below(8) == 0 ? in_.Below(4) : 4;
        break;
    }
    return w;
  }

  // A write of a name some template's section already holds, so that lines
  // are replaced where they stand.
  qio::fuzz::Write WriteOfPresentName() {
    qio::fuzz::Write w = RandomWrite(0);
    const ScriptReference ref(script_.text(), script_.names());
    std::vector<std::pair<int, std::string>> present;
    for (int n = 0; n < 18; ++n) {
      for (const auto& section : ref.Sections(n)) {
        for (const auto& value : ref.Values(section)) {
          if (value.quoted) present.emplace_back(n, value.name);
        }
      }
    }
    if (!present.empty()) {
      const auto& [n, name] = present[in_.Below(static_cast<std::uint32_t>(present.size()))];
      w.n = n;
      w.name = name;
    }
    return w;
  }

  void Unchanged(const cfg::ScriptText& before, const char* what) {
    QIO_FUZZ_CHECK(script_.text() == before.text(), "%s failed and changed the text", what);
  }

  void Append(int n) {
    const cfg::ScriptText before = script_;
    const int rc = script_.AppendSection(n);
    // A Unicode script takes only a header that is UTF-8.
    const bool refused = n < 0 || (before.encoding() != cfg::ScriptEncoding::kEightBit &&
                                   !qio::fuzz::IsWellFormedUtf8(before.names().HeaderLine(n)));
    QIO_FUZZ_CHECK((rc != 0) == refused, "append of template %d gave %d", n, rc);
    if (rc != 0) return Unchanged(before, "an append");
    const std::string& end = before.lineEnd();
    QIO_FUZZ_CHECK(script_.text() == before.text() + " " + end + before.names().HeaderLine(n) + " " + end,
                   "append of template %d wrote something else", n);
    QIO_FUZZ_CHECK(script_.SectionExists(n), "the section appended for template %d is not found", n);
    qio::fuzz::CheckOtherValues(before, script_, {}, "", "an append");
  }

  void Remove(int n) {
    const cfg::ScriptText before = script_;
    const int rc = script_.RemoveSection(n);
    QIO_FUZZ_CHECK((rc != 0) == (n < 0), "removal of template %d gave %d", n, rc);
    if (rc != 0) return Unchanged(before, "a removal");
    const ScriptReference ref(before.text(), before.names());
    // A " " line may take a removed header's place (where it ended a hex list
    // that a stray "\\" left open): compared without them, nothing else moved.
    const std::string expected = ref.Without(ref.OwnLines(n));
    QIO_FUZZ_CHECK(script_.text() == expected ||
                       WithoutSpaceLines(script_.text(), script_.names()) == WithoutSpaceLines(expected, script_.names()),
                   "removal of template %d took other lines:\n%s\n---\n%s", n, Show(before.text()).c_str(),
                   Show(script_.text()).c_str());
    QIO_FUZZ_CHECK(!script_.SectionExists(n), "template %d still has a section after its removal", n);
    qio::fuzz::CheckOtherValues(before, script_, {n}, "", "a removal");
  }

  void WriteOne(const qio::fuzz::Write& w) {
    const cfg::ScriptText before = script_;
    const std::optional<std::string> line = qio::fuzz::ExpectedLine(before, w);
    const int rc = script_.WriteValue(w.n, w.name, w.type, DataOf(w), w.size);
    QIO_FUZZ_CHECK((rc == 0) == line.has_value(),
                   "write of \"%s\" (type %u, %u bytes) to template %d gave %d (%s) in:\n%s", Show(w.name).c_str(),
                   w.type, w.size, w.n, rc, script_.error().c_str(), Show(before.text()).c_str());
    if (rc != 0) return Unchanged(before, "a write");
    CheckWritten(before, w, *line);
  }

  void CheckWritten(const cfg::ScriptText& before, const qio::fuzz::Write& w, const std::string& line) {
    const ScriptReference was(before.text(), before.names());
    const ScriptReference is(script_.text(), script_.names());
    const std::string& end = before.lineEnd();
    if (was.Sections(w.n).empty()) {
      const bool open = !before.text().empty() && before.text().back() != '\n';
      QIO_FUZZ_CHECK(script_.text() == before.text() + (open ? end : "") + line + end,
                     "a value for template %d without a section went elsewhere than the end", w.n);
      return;
    }
    const auto old = was.ValuesNamed(w.n, w.name);
    const auto now = is.ValuesNamed(w.n, w.name);
    std::set<std::size_t> oldLines;
    std::set<std::size_t> newLines;
    for (const auto& v : old) {
      for (std::size_t i = v.first; i <= v.last; ++i) oldLines.insert(i);
    }
    for (const auto& v : now) newLines.insert(v.first);
    if (old.empty()) {
      QIO_FUZZ_CHECK(
          now.size() == 1 && now[0].first == now[0].last && ScriptReference::Content(is.lines()[now[0].first]) == line,
          "a new value \"%s\" of template %d is not one line \"%s\"", Show(w.name).c_str(), w.n, line.c_str());
      const auto sections = is.Sections(w.n);
      QIO_FUZZ_CHECK(now[0].first < sections.back().end && now[0].first > sections.back().header,
                     "a new value of template %d is not in its last section", w.n);
      const std::string rest = is.Without(newLines);
      const bool open = !before.text().empty() && before.text().back() != '\n';
      QIO_FUZZ_CHECK(rest == before.text() || (open && rest == before.text() + end),
                     "adding \"%s\" to template %d changed other lines", Show(w.name).c_str(), w.n);
    } else {
      QIO_FUZZ_CHECK(now.size() == old.size(), "template %d set \"%s\" on %zu lines, now on %zu", w.n,
                     Show(w.name).c_str(), old.size(), now.size());
      for (std::size_t k = 0; k < old.size(); ++k) {
        const std::string_view first = ScriptReference::Content(was.lines()[old[k].first]);
        const std::string indent(first.substr(0, first.find_first_not_of(" \t")));
        const std::string_view replaced = ScriptReference::Content(is.lines()[now[k].first]);
        QIO_FUZZ_CHECK(
            now[k].first == now[k].last && replaced.substr(0, indent.size() + line.size()) == indent + line &&
                ScriptReference::IsRest(replaced.substr(std::min(replaced.size(), indent.size() + line.size()))),
            "\"%s\" was replaced by \"%s\", not \"%s%s\" and a comment", Show(first).c_str(), Show(replaced).c_str(),
            indent.c_str(), line.c_str());
      }
      QIO_FUZZ_CHECK(is.Without(newLines) == was.Without(oldLines),
                     "replacing \"%s\" in template %d changed other lines", Show(w.name).c_str(), w.n);
    }
    CheckReadBack(w);
    qio::fuzz::CheckOtherValues(before, script_, {w.n}, w.name, "a write");
  }

  void CheckReadBack(const qio::fuzz::Write& w) {
    std::vector<std::uint8_t> expected;
    if (w.type == cfg::kTypeString) {
      const std::string_view all(reinterpret_cast<const char*>(w.data.data()),
                                 std::min<std::size_t>(w.size, w.data.size()));
      const std::string_view text = all.substr(0, all.find('\0'));
      expected.assign(text.begin(), text.end());
      expected.push_back(0);
    } else {
      expected.assign(w.data.begin(), w.data.begin() + (w.type == cfg::kTypeDword ? 4 : w.size));
    }
    const qio::fuzz::Reading r =
        qio::fuzz::Read(script_, w.n, w.name, static_cast<std::uint32_t>(expected.size()), true);
    QIO_FUZZ_CHECK(r.rc == 0 && r.type == w.type && r.size == expected.size() && r.bytes == expected,
                   "\"%s\" of template %d reads back as rc %d, type %u, %u bytes", Show(w.name).c_str(), w.n, r.rc,
                   r.type, r.size);
  }

  void WriteTable(int n) {
    std::vector<qio::fuzz::Write> rows(1 + in_.Below(4));
    for (auto& row : rows) row = RandomWrite(n);
    std::vector<cfg::ValueEntry> table;
    for (const auto& row : rows) {
      table.push_back({row.name.c_str(), row.type, row.size, const_cast<void*>(DataOf(row))});
    }
    table.push_back({nullptr, 0, 0, nullptr});
    // What the rows do one by one: a string is written whole whatever its
    // size says; a number is four bytes.
    cfg::ScriptText expected = script_;
    int all = 1;
    for (auto row : rows) {
      if (row.type == cfg::kTypeDword) row.size = 4;
      if (row.type == cfg::kTypeString && !row.nullData) {
        row.size = std::max<std::uint32_t>(
            row.size, static_cast<std::uint32_t>(std::strlen(reinterpret_cast<const char*>(row.data.data())) + 1));
      }
      // A name is read up to its terminator.
      row.name = row.name.c_str();
      if (expected.WriteValue(row.n, row.name, row.type, DataOf(row), row.size) != 0) {
        all = 0;
        break;
      }
    }
    const int rc = script_.WriteValues(n, table.data());
    QIO_FUZZ_CHECK(rc == all && script_.text() == expected.text(),
                   "a table of %zu values gave %d, not %d, or other text", rows.size(), rc, all);
  }

  void ReadOne(int n) {
    const std::string name = Name();
    const std::uint32_t capacity = in_.Below(20);
    const bool withData = in_.Below(8) != 0;
    const qio::fuzz::Reading r = qio::fuzz::Read(script_, n, name, capacity, withData);
    const ScriptReference ref(script_.text(), script_.names());
    if (ref.ValuesNamed(n, name).empty() || name.empty()) {
      QIO_FUZZ_CHECK(
          r.rc != 0 && r.type == 0xEEEE && r.size == capacity &&
              std::all_of(r.bytes.begin(), r.bytes.end(), [](std::uint8_t b) { return b == qio::fuzz::kFill; }),
          "a read of \"%s\", which template %d does not set, touched its outputs", Show(name).c_str(), n);
    }
    // Null type or size pointers are refused.
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    QIO_FUZZ_CHECK(script_.ReadValue(n, name, nullptr, nullptr, &size) != 0 &&
                       script_.ReadValue(n, name, &type, nullptr, nullptr) != 0,
                   "a read without type or size succeeded");
  }

  void ApplyTable() {
    cfg::TemplateTable table;
    table.Load(script_);
    for (std::uint32_t i = in_.Below(6); i > 0; --i) {
      const int n = static_cast<int>(in_.Below(cfg::kTemplateSlots));
      cfg::TemplateRecord& record = table.Record(n);
      switch (in_.Below(5)) {
        case 0: table.ApplyDefaults(table.AllocateSlot()); break;
        case 1: table.RemoveSlot(n); break;
        case 2:
          record.ioBase = in_.Bool() ? cfg::kBaseAddresses[in_.Below(12)] : in_.U32();
          record.inUse = 1;
          break;
        case 3: record.irq = in_.Below(20); break;
        default: in_.Fill(record.portConfig.data(), 3); break;
      }
    }
    // A header that is not UTF-8 goes into no Unicode script.
    const bool headersFit =
        script_.encoding() == cfg::ScriptEncoding::kEightBit || qio::fuzz::IsWellFormedUtf8(script_.names().keyPrefix);
    const ScriptReference ref(script_.text(), script_.names());
    bool appends = false;
    for (int n = 0; n < cfg::kTemplateSlots; ++n) {
      appends = appends || (table.Record(n).inUse != 0 && ref.Sections(n).empty());
    }
    cfg::ScriptText edited = script_;
    const bool applied = table.Apply(edited);
    QIO_FUZZ_CHECK(applied == (headersFit || !appends), "applying the template table gave %d: %s", applied,
                   edited.error().c_str());
    if (!applied) return;
    cfg::TemplateTable reloaded;
    reloaded.Load(edited);
    for (int n = 0; n < cfg::kTemplateSlots; ++n) {
      const cfg::TemplateRecord& saved = table.Record(n);
      const cfg::TemplateRecord& loaded = reloaded.Record(n);
      const bool inUse = saved.inUse != 0 && saved.ioBase != 0;
      QIO_FUZZ_CHECK((loaded.inUse != 0) == inUse, "template %d was applied %s and loads %s", n,
                     inUse ? "in use" : "free", loaded.inUse != 0 ? "in use" : "free");
      if (inUse) {
        QIO_FUZZ_CHECK(
            loaded.ioBase == saved.ioBase && loaded.irq == saved.irq && loaded.portConfig == saved.portConfig,
            "template %d loads 0x%X/%u, applied 0x%X/%u", n, loaded.ioBase, loaded.irq, saved.ioBase, saved.irq);
      } else if (saved.inUse == 0) {
        QIO_FUZZ_CHECK(loaded.ioBase == 0 && loaded.irq == 0, "free template %d left values behind", n);
      }
    }
    cfg::ScriptText again = edited;
    QIO_FUZZ_CHECK(table.Apply(again) && again.text() == edited.text(),
                   "applying the same table twice differs %s\n=== applied once to ===\n%s",
                   qio::fuzz::Difference(edited.text(), again.text()).c_str(),
                   (Show(script_.text()) + "\n=== once ===\n" + edited.text()).c_str());
    // A last line without a line end may get one (and the " " an append
    // writes before its own).
    const std::string outsideAfter = OutsideTemplates(edited.text(), edited.names());
    const std::string& text = script_.text();
    const std::string& end = script_.lineEnd();
    const bool open = !text.empty() && text.back() != '\n';
    QIO_FUZZ_CHECK(outsideAfter == OutsideTemplates(text, script_.names()) ||
                       (open && (outsideAfter == OutsideTemplates(text + end, script_.names()) ||
                                 outsideAfter == OutsideTemplates(text + " " + end, script_.names()))),
                   "applying the table changed lines outside the templates:\n%s\n=== in ===\n%s\n=== to ===\n%s",
                   Show(outsideAfter).c_str(), Show(script_.text()).c_str(), Show(edited.text()).c_str());
    std::set<int> templates;
    for (int n = 0; n < cfg::kTemplateSlots; ++n) templates.insert(n);
    qio::fuzz::CheckOtherValues(script_, edited, templates, "", "applying the table");
    if (in_.Bool()) script_ = edited;
  }

  // A save of the script as a file, through a file layer whose k-th call
  // fails: the file then holds the old bytes, or else the bytes of the table
  // applied in memory, and no temporary file is left beside it.
  void SaveThroughFiles() {
    static const std::string path = ScriptFile();
    std::string bytes;
    if (script_.Encode(bytes) != 0) return;
    WriteFile(path, bytes);
    qio::config::testing::StepFiles files;
    cfg::TemplateTable table(nullptr, files);
    if (table.Load(path) != 0) return;  // a component name this path does not have
    if (in_.Bool()) table.ApplyDefaults(table.AllocateSlot());
    if (in_.Bool()) table.RemoveSlot(static_cast<int>(in_.Below(cfg::kTemplateSlots)));
    cfg::TemplateTable copy = table;
    cfg::ScriptText expected(script_);
    std::string expectedBytes;
    cfg::ScriptNames names;
    cfg::DeriveScriptNames(path, names);
    cfg::ScriptText fromFile(names);
    const bool composed = fromFile.Load(bytes) == 0 && copy.Apply(fromFile) && fromFile.Encode(expectedBytes) == 0;
    files.Restart();
    files.FailAt(static_cast<int>(in_.Below(48)) - 8);
    const bool saved = table.Save(path);
    const std::string now = ReadFile(path);
    if (saved) {
      QIO_FUZZ_CHECK(composed && now == expectedBytes, "a save wrote other bytes than the table applied in memory");
    } else {
      QIO_FUZZ_CHECK(now == bytes, "a save that failed (at %s) changed the file", files.failed().c_str());
      QIO_FUZZ_CHECK(!composed || !files.failed().empty(), "a save failed with no call failing: %s",
                     table.lastError().c_str());
    }
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Directory(path))) ++entries;
    QIO_FUZZ_CHECK(entries == 1, "a save left %zu files beside the script", entries - 1);
  }

  static std::string Directory(const std::string& path) { return path.substr(0, path.rfind('/')); }

  // This board's script in a temporary image tree, made once per process.
  static std::string ScriptFile() {
    const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string root = base + "/qio-fuzz-script-XXXXXX";
    if (::mkdtemp(root.data()) == nullptr) qio::fuzz::OracleFailure("no temporary directory");
    const std::string dir = root + "/Public/Quillory/Device_Drivers/QIO5162";
    std::filesystem::create_directories(dir);
    static const std::string kept = root;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(kept, ignored);
    });
    return dir + "/QIO5162.reg";
  }

  // The text less every template's header and value lines and the " " lines
  // (which an append writes, and a line end added later can make).
  static std::string WithoutSpaceLines(std::string_view text, const cfg::ScriptNames& names) {
    const ScriptReference ref(text, names);
    std::set<std::size_t> drop;
    for (std::size_t i = 0; i < ref.lines().size(); ++i) {
      if (ScriptReference::IsSpaceLine(ref.lines()[i])) drop.insert(i);
    }
    return ref.Without(drop);
  }

  static std::string OutsideTemplates(std::string_view text, const cfg::ScriptNames& names) {
    const ScriptReference ref(text, names);
    std::set<std::size_t> drop;
    for (int n = 0; n < cfg::kTemplateSlots; ++n) drop.merge(ref.OwnLines(n));
    for (std::size_t i = 0; i < ref.lines().size(); ++i) {
      if (ScriptReference::Content(ref.lines()[i]) == " ") drop.insert(i);
    }
    return ref.Without(drop);
  }

  void EncodeAndLoad() {
    std::string bytes;
    // 8-bit text that an edit made begin with the bytes of a byte-order mark
    // would read as another encoding: it has no bytes.
    const std::string& text = script_.text();
    bool marked = false;
    for (const std::string_view mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
      marked = marked || text.compare(0, mark.size(), mark) == 0;
    }
    const int encoded = script_.Encode(bytes);
    QIO_FUZZ_CHECK((encoded != 0) == (marked && script_.encoding() == cfg::ScriptEncoding::kEightBit),
                   "encoding the text gave %d: %s", encoded, script_.error().c_str());
    if (encoded != 0) return;
    cfg::ScriptText reloaded(script_.names());
    const int rc = reloaded.Load(bytes);
    QIO_FUZZ_CHECK(rc == 0 && reloaded.text() == script_.text() && reloaded.encoding() == script_.encoding(),
                   "the encoded script loads %s (%d: %s)", rc == 0 ? "as other text" : "no more", rc,
                   reloaded.error().c_str());
    if (script_.text() == original_) {
      QIO_FUZZ_CHECK(bytes == loaded_, "a script no edit changed does not encode to its own bytes");
    }
  }

  // The editor's sections of template n are the reference's, byte for byte.
  void CompareSections(int n) {
    const ScriptReference ref(script_.text(), script_.names());
    std::vector<std::size_t> offsets{0};
    for (const std::string_view line : ref.lines()) offsets.push_back(offsets.back() + line.size());
    const auto mine = script_.Sections(n);
    const auto theirs = ref.Sections(n);
    QIO_FUZZ_CHECK(mine.size() == theirs.size(), "template %d: %zu sections, the reference finds %zu", n, mine.size(),
                   theirs.size());
    for (std::size_t k = 0; k < mine.size(); ++k) {
      QIO_FUZZ_CHECK(mine[k].start == offsets[theirs[k].header] && mine[k].end == offsets[theirs[k].end],
                     "template %d section %zu: [%zu, %zu), the reference [%zu, %zu)", n, k, mine[k].start, mine[k].end,
                     offsets[theirs[k].header], offsets[theirs[k].end]);
    }
    QIO_FUZZ_CHECK(script_.SectionExists(n) == !mine.empty(), "SectionExists disagrees with Sections");
  }

  // A script whose lines all ended alike still does. A last line without a
  // line end that ends in a stray CR gains an LF when something is appended
  // after it (its value may be replaced too), and reads as a CR LF line from
  // then on: one such line is allowed.
  void CheckLineEnds() {
    if ((crlf_ == 0) == (lf_ == 0)) return;
    const ScriptReference ref(script_.text(), script_.names());
    bool strayCr = !original_.empty() && original_.back() == '\r';
    for (const std::string_view line : ref.lines()) {
      if (line.back() != '\n') continue;
      const bool crlf = line.size() >= 2 && line[line.size() - 2] == '\r';
      if (crlf && crlf_ == 0 && strayCr) {
        strayCr = false;
        continue;
      }
      QIO_FUZZ_CHECK(crlf == (crlf_ != 0), "a script of %s line ends now has a line \"%s\"",
                     crlf_ != 0 ? "CR LF" : "LF", Show(line).c_str());
    }
  }

  FuzzInput& in_;
  cfg::ScriptText script_;
  std::string loaded_;    // the bytes loaded
  std::string original_;  // their text
  std::size_t crlf_ = 0;  // lines of the text as loaded that end in CR LF, in LF
  std::size_t lf_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const cfg::ScriptNames names = qio::fuzz::Names(input);
  std::string bytes;
  if (input.Below(4) == 0) {
    for (std::uint32_t n = input.Below(1024); n > 0 && !input.Empty(); --n)
      bytes.push_back(static_cast<char>(input.Byte()));
  } else {
    bytes = qio::fuzz::ScriptBuilder(input, names).Build();
  }
  // A script that does not load leaves the text held before.
  const std::string held = "; held\r\n";
  cfg::ScriptText script(names);
  QIO_FUZZ_CHECK(script.Load(held) == 0, "plain text does not load");
  if (script.Load(bytes) != 0) {
    QIO_FUZZ_CHECK(
        script.text() == held && script.encoding() == cfg::ScriptEncoding::kEightBit && !script.error().empty(),
        "a script that does not load changed the text held, or gave no reason");
    return 0;
  }
  Session(input, std::move(script), bytes).Run();
  return 0;
}
