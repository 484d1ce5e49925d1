// Random edits on random scripts (seeded, bounded): nothing crashes or reads
// outside a buffer, a failed edit changes nothing, the editor's copy always
// matches the disk, every script left behind opens again, and a script the
// editor refuses (a NUL byte) stays as it was.
#include <algorithm>
#include <cerrno>
#include <random>
#include <vector>

#include "ScriptTestSupport.h"
#include "config/script/RegScriptFile.h"
#include "config/templates/TemplateTable.h"

namespace qio::config {
namespace {

using testing::Header;

// Flushing is what makes a change durable, not what makes it correct; the
// fuzz run skips it to stay fast.
class UnflushedFiles : public FileLayer {
 public:
  int Sync(int) override { return 0; }
};

class Fuzzer {
 public:
  explicit Fuzzer(std::uint32_t seed) : random_(seed) {}

  int Pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }

  std::string Name() {
    static const char* const kNames[] = {"IoBase", "Irq",    "IoLen", "DigPortCfg", "Prefix", "Dll",
                                         "Order",  "Device", "S1",    "Template",   "x"};
    return kNames[Pick(11)];
  }

  std::string Junk(int maxLength) {
    static const char kAlphabet[] = "[];\"=:,\r\n \0abcdefZQS5162S0123456789hexdword()";
    std::string text;
    const int length = Pick(maxLength + 1);
    for (int i = 0; i < length; ++i) text.push_back(kAlphabet[Pick(sizeof kAlphabet - 1)]);
    return text;
  }

  std::string Line() {
    switch (Pick(9)) {
      case 0: return Header(Pick(18));
      case 1: return "; " + Header(Pick(18));
      case 2: return "\"" + Name() + "\"=dword:" + std::to_string(Pick(100000)) + "\r\n";
      case 3: return "\"" + Name() + "\"=hex:" + Junk(12) + "\r\n";
      case 4: return "\"" + Name() + "\"=\"" + Junk(10) + "\"\r\n";
      case 5: return "\"" + Name() + "\"=hex(7):00,00\r\n";
      case 6: return "[HKEY_LOCAL_MACHINE\\Other" + std::to_string(Pick(3)) + "]\r\n";
      case 7: return std::string(static_cast<std::size_t>(Pick(300)), 'q') + "\r\n";
      default: return Junk(40);
    }
  }

  std::string Script() {
    std::string text;
    const int lines = Pick(30);
    for (int i = 0; i < lines; ++i) text += Line();
    return text;
  }

  std::mt19937& random() { return random_; }

 private:
  std::mt19937 random_;
};

void CheckEditor(const RegScriptFile& script, const testing::ScriptTree& tree) {
  ASSERT_TRUE(script.IsOpen());
  ASSERT_EQ(script.contents(), tree.Read());
  ASSERT_LE(script.sectionStart(), script.sectionEnd());
  ASSERT_LE(script.sectionEnd(), script.fileSize());
}

void RunEdits(Fuzzer& fuzz, const testing::ScriptTree& tree, FileLayer& files) {
  RegScriptFile script(files);
  if (tree.Read().find('\0') != std::string::npos) {
    // 8-bit text cannot hold a NUL byte: refused, and left as it is.
    const std::string before = tree.Read();
    ASSERT_EQ(script.Open(tree.script().c_str()), EILSEQ);
    ASSERT_EQ(tree.Read(), before);
    return;
  }
  ASSERT_EQ(script.Open(tree.script().c_str()), 0);
  for (int op = 0; op < 25; ++op) {
    const int n = fuzz.Pick(18) - 1;
    const std::string before = tree.Read();
    int rc = 0;
    switch (fuzz.Pick(7)) {
      case 0: {
        auto value = static_cast<std::uint32_t>(fuzz.random()());
        rc = script.WriteValue(n, fuzz.Name().c_str(), kTypeDword, &value, 4);
        break;
      }
      case 1: {
        const std::string text = fuzz.Junk(fuzz.Pick(2) == 0 ? 20 : 300);
        rc = script.WriteValue(n, fuzz.Name().c_str(), kTypeString, text.c_str(),
                               static_cast<std::uint32_t>(text.size() + 1));
        break;
      }
      case 2: {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(fuzz.Pick(100)));
        for (auto& b : bytes) b = static_cast<std::uint8_t>(fuzz.Pick(256));
        rc = script.WriteValue(n, fuzz.Name().c_str(), kTypeBinary, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size()));
        break;
      }
      case 3: rc = script.AppendSection(n); break;
      case 4: rc = script.RemoveSection(n); break;
      case 5: {
        // A destination with guard bytes on both sides.
        std::vector<std::uint8_t> buffer(40, 0xA5);
        std::uint32_t type = 0;
        const std::uint32_t capacity = static_cast<std::uint32_t>(fuzz.Pick(9));
        std::uint32_t size = capacity;
        script.ReadValue(n, fuzz.Name().c_str(), &type, buffer.data() + 16, &size);
        for (std::size_t i = 0; i < buffer.size(); ++i) {
          if (i < 16 || i >= 16 + capacity) {
            ASSERT_EQ(buffer[i], 0xA5) << "byte " << i;
          }
        }
        rc = 1;  // reads never change the file
        break;
      }
      default:
        script.SectionExists(n);
        script.Locate(n);
        rc = 1;
        break;
    }
    if (rc != 0) {
      ASSERT_EQ(tree.Read(), before) << "failed edit changed the file";
    }
    CheckEditor(script, tree);
  }
  script.Close();
  RegScriptFile reopened;
  ASSERT_EQ(reopened.Open(tree.script().c_str()), 0);
}

TEST(ScriptFuzz, RandomEditsOnRandomScripts) {
  UnflushedFiles files;
  for (std::uint32_t seed = 1; seed <= 100; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Fuzzer fuzz(seed);
    testing::ScriptTree tree;
    tree.Write(fuzz.Script());
    RunEdits(fuzz, tree, files);
    if (HasFatalFailure()) return;
  }
}

// Table edits on random scripts; on scripts built from whole lines a saved
// table loads back as it was saved.
TEST(ScriptFuzz, RandomTableEditsSaveWhatTheyHold) {
  UnflushedFiles files;
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Fuzzer fuzz(seed * 7919u);
    testing::ScriptTree tree;
    const bool wellFormed = fuzz.Pick(2) == 0;
    std::string text;
    if (wellFormed) {
      // Each slot's section at most once, in random order, some without a base.
      std::vector<int> slots(kTemplateSlots);
      for (int i = 0; i < kTemplateSlots; ++i) slots[static_cast<std::size_t>(i)] = i;
      std::shuffle(slots.begin(), slots.end(), fuzz.random());
      slots.resize(static_cast<std::size_t>(fuzz.Pick(kTemplateSlots)));
      for (const int n : slots) {
        text += (fuzz.Pick(2) == 0 ? "; template\r\n" : "") + Header(n);
        if (fuzz.Pick(4) != 0) text += "\"IoBase\"=dword:" + std::to_string(fuzz.Pick(4) * 100) + "\r\n";
        if (fuzz.Pick(2) == 0) text += "\"Irq\"=dword:" + std::to_string(fuzz.Pick(16)) + "\r\n";
      }
    } else {
      text = fuzz.Script();
    }
    tree.Write(text);
    TemplateTable table(nullptr, files);
    if (text.find('\0') != std::string::npos) {
      ASSERT_EQ(table.Load(tree.script()), EILSEQ);
      ASSERT_FALSE(table.Save(tree.script()));
      ASSERT_EQ(tree.Read(), text);
      continue;
    }
    ASSERT_EQ(table.Load(tree.script()), 0);
    for (int op = 0; op < 6; ++op) {
      const int n = fuzz.Pick(16);
      switch (fuzz.Pick(3)) {
        case 0: table.ApplyDefaults(table.AllocateSlot()); break;
        case 1: table.RemoveSlot(n); break;
        default:
          if (table.Record(n).inUse != 0) table.Record(n).portConfig = {1, 0, 3};
          break;
      }
    }
    ASSERT_TRUE(table.Save(tree.script()));
    RegScriptFile check;
    ASSERT_EQ(check.Open(tree.script().c_str()), 0);
    if (!wellFormed) continue;
    TemplateTable reloaded;
    ASSERT_EQ(reloaded.Load(tree.script()), 0);
    for (int n = 0; n < kTemplateSlots; ++n) {
      const auto& saved = table.Record(n);
      const auto& loaded = reloaded.Record(n);
      EXPECT_EQ(loaded.inUse, saved.inUse) << "slot " << n;
      if (saved.inUse == 0) continue;
      EXPECT_EQ(loaded.ioBase, saved.ioBase) << "slot " << n;
      EXPECT_EQ(loaded.irq, saved.irq) << "slot " << n;
      EXPECT_EQ(loaded.portConfig, saved.portConfig) << "slot " << n;
    }
  }
}

}  // namespace
}  // namespace qio::config
