// Every command, interrupted at every file call it makes: by a call that
// fails, and by the process ending right before the call. The script left on
// disk is always byte for byte the old text or the new one, a command that
// reports success has written the new one, and a temporary file that a
// crashed run left behind is gone after the next save.
#include <functional>
#include <string>

#include "FileFaults.h"
#include "ScriptTestSupport.h"
#include "config/templates/TemplateTable.h"

namespace qio::config {
namespace {

using testing::Header;
using testing::NewSection;
using testing::RunCrashingAt;
using testing::StepFiles;

// A script as people keep it: a header comment, a foreign key, comments that
// mention template keys and value names, a string with brackets, two
// templates, and no final line break.
const std::string kStart =
    "REGEDIT4\r\n; QIO-5162 boards of this image\r\n"
    "; ZQS5162S4] was moved to the carrier board\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display]\r\n\"Height\"=dword:1e0\r\n\"Depth\"=dword:10\r\n" +
    NewSection(0, "100", "3") + "; Irq 5 is wired on the carrier\r\n\"IrqShare\"=dword:1\r\n" +
    "\"FriendlyName\"=\"QIO board [slot 2]\"\r\n" + NewSection(1, "140", "4", "01,00,03") +
    "[HKEY_LOCAL_MACHINE\\Drivers\\Keyboard]\r\n\"Layout\"=\"us\"";

struct Command {
  const char* name;
  // Loads the table from the script, changes it as the command does, saves.
  std::function<void(TemplateTable&)> change;
};

const Command kCommands[] = {
    {"Add", [](TemplateTable& table) { table.ApplyDefaults(table.AllocateSlot()); }},
    {"SetOneField", [](TemplateTable& table) { table.Record(0).irq = 7; }},
    {"SetFourFields",
     [](TemplateTable& table) {
       table.Record(1).ioBase = 0x300;
       table.Record(1).irq = 9;
       table.Record(1).portConfig[0] = 0;
       table.Record(1).portConfig[2] = 4;
     }},
    {"Remove", [](TemplateTable& table) { table.RemoveSlot(0); }},
};

class ScriptInterrupts : public ::testing::TestWithParam<Command> {
 protected:
  bool Run(FileLayer& files) const {
    TemplateTable table(nullptr, files);
    if (table.Load(tree_.script()) != 0) return false;
    GetParam().change(table);
    return table.Save(tree_.script());
  }

  // The command once without faults: the new text and how many calls it took.
  void Finish() {
    tree_.Write(kStart);
    StepFiles counting;
    ASSERT_TRUE(Run(counting));
    steps_ = counting.steps();
    finished_ = tree_.Read();
    ASSERT_NE(finished_, kStart);
  }

  testing::ScriptTree tree_;
  int steps_ = 0;
  std::string finished_;
};

TEST_P(ScriptInterrupts, FailingCallLeavesTheOldOrTheNewScript) {
  Finish();
  for (int k = 0; k < steps_; ++k) {
    tree_.Write(kStart);
    StepFiles files;
    files.FailAt(k);
    const bool ok = Run(files);
    const std::string left = tree_.Read();
    const std::string where = "step " + std::to_string(k) + " (" + files.failed() + ")";
    EXPECT_TRUE(left == kStart || left == finished_) << where;
    EXPECT_EQ(ok, left == finished_) << where;
    EXPECT_EQ(tree_.StrayFiles(), 0) << where;
  }
}

TEST_P(ScriptInterrupts, CrashLeavesTheOldOrTheNewScriptAndTheNextSaveClearsUp) {
  Finish();
  int crashes = 0;
  for (int k = 0; k <= steps_; ++k) {
    tree_.Write(kStart);
    const int status = RunCrashingAt(k, [this](FileLayer& files) { return Run(files); });
    const std::string where = "crash before step " + std::to_string(k);
    ASSERT_NE(status, -1) << where;
    EXPECT_EQ(status, k < steps_ ? StepFiles::kCrashStatus : 0) << where;
    crashes += status == StepFiles::kCrashStatus ? 1 : 0;
    const std::string left = tree_.Read();
    EXPECT_TRUE(left == kStart || left == finished_) << where;

    // The next save, whether or not it has anything to write, removes what
    // the crashed run left and brings the script to the new text.
    StepFiles files;
    ASSERT_TRUE(Run(files)) << where;
    if (left == kStart) {
      EXPECT_EQ(tree_.Read(), finished_) << where;
    }
    EXPECT_EQ(tree_.StrayFiles(), 0) << where;
  }
  EXPECT_EQ(crashes, steps_);
}

INSTANTIATE_TEST_SUITE_P(EachCommand, ScriptInterrupts, ::testing::ValuesIn(kCommands),
                         [](const ::testing::TestParamInfo<Command>& param) { return param.param.name; });

}  // namespace
}  // namespace qio::config
