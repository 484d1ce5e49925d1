// The Device and DIO pages of the settings window: how their lists are
// filled and shown, what a chosen base address, interrupt line or direction
// does to the shown template, and what a save then writes.
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

class PageTest : public ::testing::Test {
 protected:
  void Open(const std::string& sections) {
    tree_.Write(kScriptHead + sections);
    dialog_ = std::make_unique<TemplateSettingsDialog>(view_, tree_.script());
    dialog_->OnInitDialog();
    view_.messages.clear();
  }
  void Select(int slot) { dialog_->OnTreeSelectionChanged(dialog_->ItemOfSlot(slot)); }
  int BaseIndex(std::uint32_t base) const {
    for (std::size_t i = 0; i < view_.device->baseItems.size(); ++i) {
      if (view_.device->baseItems[i].data == base) return static_cast<int>(i);
    }
    return -1;
  }
  int IrqIndex(std::uint32_t irq) const {
    for (std::size_t i = 0; i < view_.device->irqItems.size(); ++i) {
      if (view_.device->irqItems[i].data == irq) return static_cast<int>(i);
    }
    return -1;
  }
  // The user picks an item: the list shows it, then the page hears of it.
  void ChooseBase(std::uint32_t base) {
    view_.device->base = BaseIndex(base);
    dialog_->devicePage().OnBaseChanged(BaseIndex(base));
  }
  void ChooseIrq(std::uint32_t irq) {
    view_.device->irq = IrqIndex(irq);
    dialog_->devicePage().OnIrqChanged(IrqIndex(irq));
  }
  void Choose(DioList list, int index) {
    view_.dio->selected[list] = index;
    dialog_->dioPage().OnDirectionChanged(list, index);
  }
  TemplateRecord& Record(int slot) { return dialog_->table().Record(slot); }
  void ShowDio() {
    view_.currentTab = kDioTab;
    dialog_->OnTabSelectionChanged(kDioTab);
  }

  ScriptTree tree_;
  FakeMainView view_;
  std::unique_ptr<TemplateSettingsDialog> dialog_;
};

// ---- Device page ----------------------------------------------------------

TEST_F(PageTest, DevicePageOffersTheBasesAndLinesAndDescribesTheBoard) {
  Open("");
  const auto& bases = view_.device->baseItems;
  ASSERT_EQ(bases.size(), 12u);
  EXPECT_EQ(bases.front().text, "0x100");
  EXPECT_EQ(bases[3].text, "0x1c0");  // lowercase hexadecimal
  EXPECT_EQ(bases.back().text, "0x3c0");
  EXPECT_EQ(bases.back().data, 0x3C0u);
  std::vector<std::string> lines;
  for (const auto& item : view_.device->irqItems) {
    lines.push_back(item.text);
    EXPECT_EQ(std::to_string(item.data), item.text);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"3", "4", "5", "6", "7", "9", "11", "12", "15"}));
  EXPECT_EQ(view_.device->description,
            "2-channel Counter/Timer with 24-ch TTL DI/O Module\n\n*2 independent 16 bit counters\n"
            "*4 independent programmable clock sources(10M,1M,100K,10K)\n*24 TTL DI/O channels(8255 mode 0)\n"
            "*12 programmable counter modes");
}

TEST_F(PageTest, ChoosingTheTemplatesOwnLineWarnsBecauseItCountsAsInUse) {
  Open(NewSection(0, "300", "5"));
  ChooseIrq(5);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "The same IRQ is selected, conflict might occur");
  EXPECT_EQ(view_.messages[0].caption, "Warning");
  EXPECT_EQ(view_.messages[0].buttons, MessageButtons::Ok);
  EXPECT_FALSE(dialog_->changedFlag());  // the line did not change
  EXPECT_FALSE(view_.saveEnabled);
}

TEST_F(PageTest, ALineAnotherTemplateUsesIsAcceptedAfterTheWarning) {
  Open(NewSection(0, "300", "5") + NewSection(1, "340", "7"));
  ChooseIrq(7);
  EXPECT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(Record(0).irq, 7u);
  EXPECT_TRUE(view_.saveEnabled);
  view_.messages.clear();
  ChooseIrq(11);  // free: no word said
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(Record(0).irq, 11u);
  dialog_->OnOk();
  EXPECT_NE(tree_.Read().find("\"Irq\"=dword:b\r\n"), std::string::npos);
}

TEST_F(PageTest, ABaseInUseIsRefusedSilentlyAndTheOldOneStaysSelected) {
  Open(NewSection(0, "300", "5") + NewSection(1, "340", "7"));
  ChooseBase(0x340);
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(Record(0).ioBase, 0x300u);
  EXPECT_EQ(view_.device->BaseText(), "0x300");
  EXPECT_EQ(dialog_->devicePage().baseSelection(), BaseIndex(0x300));
  EXPECT_FALSE(dialog_->changedFlag());
  ChooseBase(0x300);  // its own base counts as in use as well
  EXPECT_FALSE(dialog_->changedFlag());
  ChooseBase(0x100);
  EXPECT_EQ(Record(0).ioBase, 0x100u);
  EXPECT_TRUE(view_.saveEnabled);
  dialog_->OnOk();
  EXPECT_EQ(tree_.Read(), std::string(kScriptHead) + NewSection(0, "100", "5") + NewSection(1, "340", "7"));
}

TEST_F(PageTest, AValueTheListsDoNotOfferLeavesTheirSelection) {
  Open(NewSection(0, "300", "5") + NewSection(1, "120", "10"));
  Select(1);
  EXPECT_EQ(view_.device->BaseText(), "0x300");
  EXPECT_EQ(view_.device->IrqText(), "5");
  EXPECT_EQ(Record(1).ioBase, 0x120u);
}

// ---- DIO page ---------------------------------------------------------------

TEST_F(PageTest, DioPageShowsTheDirectionsOfTheTemplate) {
  Open(NewSection(0, "300", "5", "01,00,03") + NewSection(1, "340", "7", "00,01,04"));
  for (const auto& [list, texts] : view_.dio->items) EXPECT_EQ(texts, (std::vector<std::string>{"IN", "OUT"}));
  ASSERT_EQ(view_.dio->items.size(), 4u);
  ShowDio();
  EXPECT_EQ(view_.dio->Text(DioList::PortA), "OUT");
  EXPECT_EQ(view_.dio->Text(DioList::PortB), "IN");
  EXPECT_EQ(view_.dio->Text(DioList::PortC0to3), "IN");
  EXPECT_EQ(view_.dio->Text(DioList::PortC4to7), "OUT");
  Select(1);
  EXPECT_EQ(view_.dio->Text(DioList::PortA), "IN");
  EXPECT_EQ(view_.dio->Text(DioList::PortB), "OUT");
  EXPECT_EQ(view_.dio->Text(DioList::PortC0to3), "OUT");
  EXPECT_EQ(view_.dio->Text(DioList::PortC4to7), "IN");
}

TEST_F(PageTest, PortCCodesAnUnknownCodeLeavesTheHalvesAsTheyWere) {
  Open(NewSection(0, "300", "5", "00,00,01") + NewSection(1, "340", "7", "00,00,02"));
  ShowDio();
  Select(1);
  EXPECT_EQ(view_.dio->Text(DioList::PortC0to3), "OUT");
  EXPECT_EQ(view_.dio->Text(DioList::PortC4to7), "OUT");
}

TEST_F(PageTest, PortCHalvesJoinIntoTheirCodes) {
  Open(NewSection(0, "300", "5"));
  ShowDio();
  const struct {
    DioList list;
    int index;
    std::uint8_t code;
  } steps[] = {
      {DioList::PortC0to3, 1, 4},  // lines 0-3 out, 4-7 in
      {DioList::PortC4to7, 1, 1},  // both out
      {DioList::PortC0to3, 0, 3},  // lines 0-3 in, 4-7 out
      {DioList::PortC4to7, 0, 0},  // both in
  };
  for (const auto& step : steps) {
    Choose(step.list, step.index);
    EXPECT_EQ(Record(0).portConfig[2], step.code);
  }
  EXPECT_TRUE(view_.saveEnabled);
  dialog_->OnOk();
  Choose(DioList::PortC0to3, 0);  // the half it already has: no edit
  EXPECT_FALSE(dialog_->changedFlag());
  EXPECT_FALSE(view_.saveEnabled);
}

TEST_F(PageTest, PortAAndBTakeTheItemIndexAndOnlyAChangeCounts) {
  Open(NewSection(0, "300", "5"));
  ShowDio();
  Choose(DioList::PortA, 1);
  Choose(DioList::PortB, 1);
  Choose(DioList::PortC4to7, 1);
  EXPECT_TRUE(dialog_->changedFlag());
  dialog_->OnOk();
  EXPECT_EQ(tree_.Read(), std::string(kScriptHead) + NewSection(0, "300", "5", "01,01,03"));
  Choose(DioList::PortA, 1);
  EXPECT_FALSE(dialog_->changedFlag());
  Choose(DioList::PortA, 0);
  EXPECT_TRUE(dialog_->changedFlag());
  EXPECT_EQ(Record(0).portConfig[0], 0);
}

TEST_F(PageTest, AHalfChangedUnderAnUnknownCodeKeepsWhatTheOtherListShows) {
  Open(NewSection(0, "300", "5", "00,00,03") + NewSection(1, "340", "7", "00,00,02"));
  ShowDio();  // shows Template0: lines 0-3 IN, 4-7 OUT
  Select(1);  // code 2 names no halves: the lists stay
  Choose(DioList::PortC0to3, 1);
  // Lines 0-3 OUT with 4-7 OUT as shown: all output.
  EXPECT_EQ(Record(1).portConfig[2], 1);
  EXPECT_EQ(view_.dio->Text(DioList::PortC4to7), "OUT");
}

TEST_F(PageTest, AHalfChangedUnderAnUnknownCodeWithNothingShownTakesOutput) {
  Open(NewSection(0, "300", "5", "00,00,07"));
  ShowDio();
  ASSERT_EQ(view_.dio->Text(DioList::PortC4to7), "");
  Choose(DioList::PortC0to3, 0);
  EXPECT_EQ(Record(0).portConfig[2], 3);  // lines 0-3 in, 4-7 out as the board ran them
  EXPECT_EQ(view_.dio->Text(DioList::PortC4to7), "OUT");
}

}  // namespace
}  // namespace qio::config
