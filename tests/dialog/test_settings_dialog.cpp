// The settings window's logic without a toolkit: the tree, the pages shown,
// Add, Remove, Save, Close and the destruction prompt, over a real script in
// a temporary image-build tree.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FakeSettingsViews.h"
#include "ScriptTestSupport.h"
#include "config/dialog/TemplateSettingsDialog.h"

namespace qio::config {
namespace {

using test::FakeMainView;
using testing::NewSection;
using testing::ScriptTree;

constexpr const char* kScriptHead = "; QIO-5162 registry script\r\n";

class SettingsDialogTest : public ::testing::Test {
 protected:
  void Open(const std::string& script = kScriptHead) {
    tree_.Write(script);
    OpenExisting();
  }
  void OpenExisting() {
    dialog_ = std::make_unique<TemplateSettingsDialog>(view_, tree_.script());
    ASSERT_TRUE(dialog_->OnInitDialog());
  }
  TreeItemId Board() const { return dialog_->boardItem(); }
  std::vector<std::string> Templates() const { return view_.ChildTexts(Board()); }
  void SelectSlot(int slot) { dialog_->OnTreeSelectionChanged(dialog_->ItemOfSlot(slot)); }
  std::size_t Count(const std::string& text, const std::string& what) const {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
  }

  ScriptTree tree_;
  FakeMainView view_;
  std::unique_ptr<TemplateSettingsDialog> dialog_;
};

TEST_F(SettingsDialogTest, EmptyTableShowsRootAndBoardItemWithBoardSelectedAndNoPage) {
  Open();
  ASSERT_EQ(view_.ChildTexts(kNoTreeItem), std::vector<std::string>{"DeviceTemplate"});
  EXPECT_EQ(view_.ChildTexts(dialog_->rootItem()), std::vector<std::string>{"QIO_5162"});
  EXPECT_TRUE(Templates().empty());
  EXPECT_EQ(view_.selected, Board());
  EXPECT_EQ(view_.VisiblePages(), 0);
  EXPECT_EQ(dialog_->VisiblePage(), nullptr);
  EXPECT_FALSE(view_.saveEnabled);
  EXPECT_FALSE(dialog_->changedFlag());
  EXPECT_EQ(view_.tabs, (std::vector<std::string>{"Device", "DIO", "Counter"}));
  // Every page sits 5 right and 25 down of the tab control's client origin.
  for (const test::FakePage* page : {static_cast<test::FakePage*>(view_.device.get()),
                                     static_cast<test::FakePage*>(view_.dio.get()), view_.counter.get()}) {
    EXPECT_EQ(page->x, 158);
    EXPECT_EQ(page->y, 35);
  }
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(SettingsDialogTest, TemplatesOfTheScriptAppearInSlotOrderAndTheFirstIsShown) {
  Open(std::string(kScriptHead) + NewSection(3, "200", "9", "01,00,04") + NewSection(1, "300", "5"));
  EXPECT_EQ(Templates(), (std::vector<std::string>{"Template1", "Template3"}));
  EXPECT_EQ(view_.SelectedText(), "Template1");
  EXPECT_TRUE(view_.device->visible);
  EXPECT_FALSE(view_.dio->visible);
  EXPECT_FALSE(view_.counter->visible);
  EXPECT_EQ(view_.device->BaseText(), "0x300");
  EXPECT_EQ(view_.device->IrqText(), "5");
  EXPECT_EQ(dialog_->CurrentSlot(), 1);
}

TEST_F(SettingsDialogTest, AddAppendsTheNextTemplateWithDefaultsAndSelectsIt) {
  Open();
  dialog_->OnAdd();
  EXPECT_EQ(Templates(), std::vector<std::string>{"Template0"});
  EXPECT_EQ(view_.SelectedText(), "Template0");
  EXPECT_TRUE(view_.device->visible);
  EXPECT_EQ(view_.device->BaseText(), "0x100");
  EXPECT_EQ(view_.device->IrqText(), "3");
  EXPECT_TRUE(view_.saveEnabled);
  EXPECT_TRUE(dialog_->changedFlag());
  EXPECT_EQ(tree_.Read(), kScriptHead);  // nothing written before Save
}

TEST_F(SettingsDialogTest, AddAfterARemovalReusesTheNumberAndAppendsTheItemLast) {
  Open();
  for (int i = 0; i < 3; ++i) dialog_->OnAdd();
  SelectSlot(1);
  dialog_->OnRemove();
  // The tree moves the selection to the next sibling.
  EXPECT_EQ(view_.SelectedText(), "Template2");
  EXPECT_EQ(Templates(), (std::vector<std::string>{"Template0", "Template2"}));
  dialog_->OnAdd();
  EXPECT_EQ(Templates(), (std::vector<std::string>{"Template0", "Template2", "Template1"}));
  EXPECT_EQ(view_.SelectedText(), "Template1");
  EXPECT_EQ(dialog_->table().Record(1).ioBase, 0x140u);
  EXPECT_EQ(dialog_->table().Record(1).irq, 4u);
}

TEST_F(SettingsDialogTest, RemovingTheLastOrOnlyTemplateMovesTheSelectionBackward) {
  Open();
  dialog_->OnAdd();
  dialog_->OnAdd();
  dialog_->OnRemove();  // Template1, the last: its previous sibling follows
  EXPECT_EQ(view_.SelectedText(), "Template0");
  EXPECT_TRUE(view_.device->visible);
  dialog_->OnRemove();  // the only one: its parent, the board item, follows
  EXPECT_EQ(view_.selected, Board());
  EXPECT_EQ(view_.VisiblePages(), 0);
  EXPECT_TRUE(dialog_->table().Record(0).inUse == 0 && dialog_->table().Record(1).inUse == 0);
}

TEST_F(SettingsDialogTest, RemoveWithoutATemplateSelectedChangesNothing) {
  Open(std::string(kScriptHead) + NewSection(0, "300", "5"));
  dialog_->OnTreeSelectionChanged(Board());
  dialog_->OnRemove();
  dialog_->OnTreeSelectionChanged(dialog_->rootItem());
  dialog_->OnRemove();
  EXPECT_EQ(Templates(), std::vector<std::string>{"Template0"});
  EXPECT_FALSE(dialog_->changedFlag());
  EXPECT_FALSE(view_.saveEnabled);
}

TEST_F(SettingsDialogTest, TheTenthTemplateWarnsAndTheSeventeenthIsRefused) {
  Open();
  for (int i = 0; i < 9; ++i) dialog_->OnAdd();
  EXPECT_TRUE(view_.messages.empty());
  dialog_->OnAdd();  // all nine lines taken
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "No free IRQ can be allocated, conflict might occur");
  EXPECT_EQ(view_.messages[0].caption, "Warning");
  EXPECT_EQ(view_.messages[0].buttons, MessageButtons::Ok);
  EXPECT_EQ(dialog_->table().Record(9).irq, 3u);
  for (int i = 10; i < 16; ++i) dialog_->OnAdd();
  view_.messages.clear();
  const auto before = Templates();
  dialog_->OnAdd();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "Support up to 16 Templates");
  EXPECT_EQ(view_.messages[0].caption, "");  // the application's own caption
  EXPECT_EQ(Templates(), before);
  EXPECT_EQ(view_.SelectedText(), "Template15");
}

TEST_F(SettingsDialogTest, TabSwitchWithTheBoardOrRootSelectedShowsNoPage) {
  Open(std::string(kScriptHead) + NewSection(0, "300", "5"));
  for (const TreeItemId item : {Board(), dialog_->rootItem()}) {
    dialog_->OnTreeSelectionChanged(item);
    for (int tab : {1, 2, 0}) {
      view_.currentTab = tab;
      dialog_->OnTabSelectionChanged(tab);
      EXPECT_EQ(view_.VisiblePages(), 0) << "tab " << tab;
    }
  }
}

TEST_F(SettingsDialogTest, WithATemplateSelectedOnlyThePageOfTheCurrentTabIsVisible) {
  Open(std::string(kScriptHead) + NewSection(0, "300", "5", "01,00,03"));
  view_.currentTab = kDioTab;
  dialog_->OnTabSelectionChanged(kDioTab);
  EXPECT_TRUE(view_.dio->visible);
  EXPECT_EQ(view_.VisiblePages(), 1);
  EXPECT_EQ(view_.dio->Text(DioList::PortA), "OUT");
  view_.currentTab = kCounterTab;
  dialog_->OnTabSelectionChanged(kCounterTab);
  EXPECT_TRUE(view_.counter->visible);
  EXPECT_EQ(view_.VisiblePages(), 1);
  // A tree change keeps the current tab's page.
  dialog_->OnTreeSelectionChanged(Board());
  EXPECT_EQ(view_.VisiblePages(), 0);
  SelectSlot(0);
  EXPECT_TRUE(view_.counter->visible);
  EXPECT_EQ(view_.VisiblePages(), 1);
}

TEST_F(SettingsDialogTest, SaveWritesTheScriptKeepsTheWindowOpenAndALaterCloseAsksNothing) {
  Open();
  dialog_->OnAdd();
  dialog_->OnOk();
  EXPECT_EQ(tree_.Read(), std::string(kScriptHead) + NewSection(0, "100", "3"));
  EXPECT_FALSE(view_.saveEnabled);
  EXPECT_FALSE(dialog_->changedFlag());
  EXPECT_EQ(view_.endDialogCalls, 0);
  dialog_->OnCancel();
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.endDialogCalls, 1);
}

TEST_F(SettingsDialogTest, CloseWithUnsavedEditsAsksAndOkSaves) {
  Open(std::string(kScriptHead) + NewSection(0, "300", "5"));
  dialog_->OnAdd();
  dialog_->OnCancel();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "The configuration of QIO-5162 is change, save the change");
  EXPECT_EQ(view_.messages[0].caption, "Note");
  EXPECT_EQ(view_.messages[0].buttons, MessageButtons::OkCancel);
  EXPECT_TRUE(view_.messages[0].owned);
  EXPECT_EQ(view_.endDialogCalls, 1);
  EXPECT_FALSE(dialog_->changedFlag());
  EXPECT_EQ(tree_.Read(), std::string(kScriptHead) + NewSection(0, "300", "5") + NewSection(1, "100", "3"));
  dialog_->OnDestroy();
  EXPECT_EQ(view_.messages.size(), 1u);  // nothing left to ask
}

TEST_F(SettingsDialogTest, CloseAnsweredWithCancelDropsTheEdits) {
  const std::string script = std::string(kScriptHead) + NewSection(0, "300", "5");
  Open(script);
  dialog_->OnRemove();
  view_.answers.push_back(MessageAnswer::Cancel);
  dialog_->OnCancel();
  EXPECT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.endDialogCalls, 1);
  EXPECT_FALSE(dialog_->changedFlag());
  EXPECT_EQ(tree_.Read(), script);
}

TEST_F(SettingsDialogTest, DestructionWithUnsavedEditsAsksWithoutOwner) {
  Open();
  dialog_->OnAdd();
  dialog_->OnDestroy();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "The configuration of QIO-5162 is change, save the change");
  EXPECT_EQ(view_.messages[0].caption, "Note");
  EXPECT_FALSE(view_.messages[0].owned);
  EXPECT_EQ(Count(tree_.Read(), "ZQS5162S0]"), 1u);
  EXPECT_FALSE(dialog_->changedFlag());
}

TEST_F(SettingsDialogTest, DestructionAnsweredWithCancelWritesNothing) {
  Open();
  dialog_->OnAdd();
  view_.answers.push_back(MessageAnswer::Cancel);
  dialog_->OnDestroy();
  EXPECT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(tree_.Read(), kScriptHead);
}

TEST_F(SettingsDialogTest, RemovingAndSavingDeletesTheSection) {
  Open(std::string(kScriptHead) + NewSection(0, "300", "5") + NewSection(1, "340", "7"));
  dialog_->OnRemove();  // Template0
  EXPECT_TRUE(view_.saveEnabled);
  dialog_->OnOk();
  const std::string text = tree_.Read();
  EXPECT_EQ(text.find("ZQS5162S0]"), std::string::npos);
  EXPECT_NE(text.find("ZQS5162S1]"), std::string::npos);
}

TEST_F(SettingsDialogTest, ASaveThatCannotReachTheScriptKeepsTheEditsPending) {
  // No script at all: the window starts empty and Save cannot write.
  OpenExisting();
  EXPECT_TRUE(Templates().empty());
  dialog_->OnAdd();
  dialog_->OnOk();
  EXPECT_TRUE(view_.saveEnabled);
  EXPECT_TRUE(dialog_->changedFlag());
  EXPECT_TRUE(view_.messages.empty());  // no message of its own
  EXPECT_FALSE(tree_.Exists());          // never created
  view_.answers.push_back(MessageAnswer::Ok);
  dialog_->OnCancel();
  ASSERT_EQ(view_.messages.size(), 1u);  // Close still offers to save
  EXPECT_EQ(view_.endDialogCalls, 1);
}

TEST_F(SettingsDialogTest, PagesThatCannotBeCreatedLeaveTheTreeWorking) {
  view_.failPages = true;
  Open(std::string(kScriptHead) + NewSection(2, "300", "5"));
  EXPECT_EQ(Templates(), std::vector<std::string>{"Template2"});
  EXPECT_EQ(dialog_->VisiblePage(), nullptr);
  dialog_->OnAdd();
  dialog_->OnTabSelectionChanged(1);
  EXPECT_EQ(dialog_->VisiblePage(), nullptr);
  dialog_->OnOk();
  EXPECT_NE(tree_.Read().find("ZQS5162S0]"), std::string::npos);
}

TEST(SlotOfItemTextTest, TakesTheNumberAfterTheFirstEightCharacters) {
  EXPECT_EQ(SlotOfItemText("Template0"), 0);
  EXPECT_EQ(SlotOfItemText("Template12"), 12);
  EXPECT_EQ(SlotOfItemText("Template15"), 15);
  EXPECT_EQ(SlotOfItemText("Template16"), -1);
  EXPECT_EQ(SlotOfItemText("Template"), -1);
  EXPECT_EQ(SlotOfItemText("Template1x"), -1);
  EXPECT_EQ(SlotOfItemText("QIO_5162"), -1);
}

}  // namespace
}  // namespace qio::config
