// Save in the settings window, interrupted at every file call it makes: by a
// call that fails, and by the process ending right before it. The script is
// byte for byte the old or the new text; a failed save keeps the edits
// pending (Save stays enabled) and a successful one clears them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FakeSettingsViews.h"
#include "FileFaults.h"
#include "ScriptTestSupport.h"
#include "config/dialog/TemplateSettingsDialog.h"

namespace qio::config {
namespace {

using testing::NewSection;
using testing::RunCrashingAt;
using testing::StepFiles;

const std::string kStart = "; QIO-5162 registry script\r\n; ZQS5162S2] is kept for the carrier board\r\n" +
                           NewSection(0, "100", "3") + "; Irq 3 is shared with the touch panel\r\n" +
                           NewSection(1, "300", "5", "01,00,03") +
                           "[HKEY_LOCAL_MACHINE\\Drivers\\Display]\r\n\"Name\"=\"panel [left]\"";

class SettingsSaveFaults : public ::testing::Test {
 protected:
  // Opens the window on the script and makes the edits: template 0 removed,
  // two templates added, template 1's port A turned to an input. Returns the
  // dialog, ready to save.
  // Each dialog gets views of its own; the caller drops the previous dialog
  // first.
  std::unique_ptr<TemplateSettingsDialog> Edit(FileLayer& files) {
    view_ = std::make_unique<test::FakeMainView>();
    auto dialog = std::make_unique<TemplateSettingsDialog>(*view_, tree_.script(), files);
    if (!dialog->OnInitDialog()) return nullptr;
    dialog->OnTreeSelectionChanged(dialog->ItemOfSlot(0));
    dialog->OnRemove();
    dialog->OnAdd();
    dialog->OnAdd();
    dialog->table().Record(1).portConfig[0] = 0;
    return dialog;
  }

  testing::ScriptTree tree_;
  std::unique_ptr<test::FakeMainView> view_;
};

TEST_F(SettingsSaveFaults, FailingCallLeavesTheOldOrTheNewScriptAndTheEditsPending) {
  tree_.Write(kStart);
  StepFiles counting;
  auto dialog = Edit(counting);
  ASSERT_NE(dialog, nullptr);
  counting.Restart();
  dialog->OnOk();
  ASSERT_FALSE(dialog->changedFlag());
  const std::string finished = tree_.Read();
  ASSERT_NE(finished, kStart);
  ASSERT_NE(finished.find("\"Name\"=\"panel [left]\""), std::string::npos);
  const int steps = counting.steps();
  ASSERT_GT(steps, 10);

  for (int k = 0; k < steps; ++k) {
    tree_.Write(kStart);
    StepFiles files;
    dialog.reset();
    dialog = Edit(files);
    ASSERT_NE(dialog, nullptr);
    files.Restart();
    files.FailAt(k);
    dialog->OnOk();
    const std::string left = tree_.Read();
    const std::string where = "step " + std::to_string(k) + " (" + files.failed() + ")";
    EXPECT_TRUE(left == kStart || left == finished) << where;
    EXPECT_EQ(dialog->changedFlag(), left == kStart) << where;
    EXPECT_EQ(view_->saveEnabled, left == kStart) << where;
    EXPECT_EQ(tree_.StrayFiles(), 0) << where;
  }
}

TEST_F(SettingsSaveFaults, CrashLeavesTheOldOrTheNewScript) {
  tree_.Write(kStart);
  StepFiles counting;
  auto dialog = Edit(counting);
  ASSERT_NE(dialog, nullptr);
  dialog->OnOk();
  const std::string finished = tree_.Read();
  const int steps = counting.steps();
  dialog.reset();

  for (int k = 0; k < steps; ++k) {
    tree_.Write(kStart);
    const int status = RunCrashingAt(k, [this](FileLayer& files) {
      auto edited = Edit(files);
      if (edited == nullptr) return false;
      edited->OnOk();
      return !edited->changedFlag();
    });
    const std::string where = "crash before step " + std::to_string(k);
    EXPECT_EQ(status, StepFiles::kCrashStatus) << where;
    const std::string left = tree_.Read();
    EXPECT_TRUE(left == kStart || left == finished) << where;
  }
}

}  // namespace
}  // namespace qio::config
