// The three tab pages: Device, DIO and Counter.
#include <cstdio>

#include "config/dialog/DevicePage.h"
#include "config/dialog/DioPage.h"
#include "config/dialog/TemplateSettingsDialog.h"

namespace qio::config {
namespace {

// Interrupt lines offered, in list order: the lines of kIrqMask upward.
std::vector<ListItem> IrqItems() {
  std::vector<ListItem> items;
  for (std::uint32_t line = 0; line < 16; ++line) {
    if (IsOfferedIrq(line)) items.push_back({std::to_string(line), line});
  }
  return items;
}

std::vector<ListItem> BaseItems() {
  std::vector<ListItem> items;
  for (const std::uint32_t base : kBaseAddresses) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", base);
    items.push_back({text, base});
  }
  return items;
}

}  // namespace

// ---- Counter page ----------------------------------------------------------

bool CounterPage::CreatePage() {
  view_ = parent_.mainView().CreateCounterPage();
  return view_ != nullptr;
}

// ---- Device page -----------------------------------------------------------

bool DevicePage::CreatePage() {
  view_ = parent_.mainView().CreateDevicePage();
  if (view_ == nullptr) return false;
  OnInitDialog();
  return true;
}

void DevicePage::OnInitDialog() {
  baseItems_ = BaseItems();
  view_->FillBaseList(baseItems_);
  irqItems_ = IrqItems();
  view_->FillIrqList(irqItems_);
  view_->SetDescription(kBoardDescription);
}

int DevicePage::IndexOf(const std::vector<ListItem>& items, std::uint32_t data) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].data == data) return static_cast<int>(i);
  }
  return -1;
}

void DevicePage::SelectBase(int index) {
  baseSelection_ = index;
  if (view_ != nullptr) view_->SelectBase(index);
}

void DevicePage::SelectIrq(int index) {
  irqSelection_ = index;
  if (view_ != nullptr) view_->SelectIrq(index);
}

void DevicePage::ShowTemplate(TemplateRecord* record) {
  shown_ = record;
  if (record == nullptr) return;
  // A value the list does not offer leaves that list's selection as it was.
  if (const int base = IndexOf(baseItems_, record->ioBase); base >= 0) SelectBase(base);
  if (const int irq = IndexOf(irqItems_, record->irq); irq >= 0) SelectIrq(irq);
}

void DevicePage::OnBaseChanged(int index) {
  if (index < 0 || index >= static_cast<int>(baseItems_.size())) return;
  baseSelection_ = index;
  if (shown_ == nullptr) return;
  const std::uint32_t base = baseItems_[static_cast<std::size_t>(index)].data;
  if (parent_.table().IsBaseInUse(base)) {
    // Two boards cannot share a port window: back to the template's own base.
    SelectBase(IndexOf(baseItems_, shown_->ioBase));
    return;
  }
  shown_->ioBase = base;
  parent_.MarkChanged();
}

void DevicePage::OnIrqChanged(int index) {
  if (index < 0 || index >= static_cast<int>(irqItems_.size())) return;
  irqSelection_ = index;
  if (shown_ == nullptr) return;
  const std::uint32_t irq = irqItems_[static_cast<std::size_t>(index)].data;
  // Sharing a line is allowed, but worth a warning; the template's own line
  // counts as a user too.
  if (parent_.table().IsIrqInUse(irq)) {
    parent_.ShowMessage(kSameIrqMessage, kWarningCaption, MessageButtons::Ok, true);
  }
  if (irq != shown_->irq) {
    shown_->irq = irq;
    parent_.MarkChanged();
  }
}

// ---- DIO page --------------------------------------------------------------

std::pair<std::uint8_t, std::uint8_t> SplitPortC(std::uint8_t code) {
  switch (code) {
    case kPortCInput: return {kPortInput, kPortInput};
    case kPortCOutput: return {kPortOutput, kPortOutput};
    case kPortCLowInHighOut: return {kPortInput, kPortOutput};
    case kPortCLowOutHighIn: return {kPortOutput, kPortInput};
    default: return {kUnknownHalf, kUnknownHalf};
  }
}

std::uint8_t JoinPortC(std::uint8_t low, std::uint8_t high) {
  if (low == kPortInput && high == kPortInput) return kPortCInput;
  if (low == kPortOutput && high == kPortOutput) return kPortCOutput;
  if (low == kPortInput && high == kPortOutput) return kPortCLowInHighOut;
  return kPortCLowOutHighIn;
}

bool DioPage::CreatePage() {
  view_ = parent_.mainView().CreateDioPage();
  if (view_ == nullptr) return false;
  OnInitDialog();
  return true;
}

void DioPage::OnInitDialog() {
  for (int list = 0; list < kDioLists; ++list) view_->FillList(static_cast<DioList>(list), {"IN", "OUT"});
}

void DioPage::Select(DioList list, int index) {
  selection_[static_cast<std::size_t>(list)] = index;
  if (view_ != nullptr) view_->Select(list, index);
}

void DioPage::ShowTemplate(TemplateRecord* record) {
  shown_ = record;
  if (record == nullptr) return;
  Select(DioList::PortA, record->portConfig[0] == kPortOutput ? 1 : 0);
  Select(DioList::PortB, record->portConfig[1] == kPortOutput ? 1 : 0);
  const auto [low, high] = SplitPortC(record->portConfig[2]);
  // A code that names no pair of halves leaves both lists as they were.
  if (low != kUnknownHalf) {
    Select(DioList::PortC0to3, low);
    Select(DioList::PortC4to7, high);
  }
}

void DioPage::OnDirectionChanged(DioList list, int index) {
  if (index != 0 && index != 1) return;
  selection_[static_cast<std::size_t>(list)] = index;
  if (shown_ == nullptr) return;
  switch (list) {
    case DioList::PortA: ChangePortAB(0, index); break;
    case DioList::PortB: ChangePortAB(1, index); break;
    case DioList::PortC0to3:
    case DioList::PortC4to7: ChangePortCHalf(list, index); break;
  }
}

void DioPage::ChangePortAB(std::size_t port, int index) {
  const auto direction = static_cast<std::uint8_t>(index);
  const std::uint8_t old = shown_->portConfig[port];
  shown_->portConfig[port] = direction;
  if (direction != old) parent_.MarkChanged();
}

void DioPage::ChangePortCHalf(DioList list, int index) {
  auto [low, high] = SplitPortC(shown_->portConfig[2]);
  const bool lowChanged = list == DioList::PortC0to3;
  std::uint8_t& changed = lowChanged ? low : high;
  std::uint8_t& other = lowChanged ? high : low;
  const auto direction = static_cast<std::uint8_t>(index);
  if (direction == changed) return;
  changed = direction;
  if (other == kUnknownHalf) {
    // The stored code tells nothing about the other half: take the direction
    // its list shows, or output when it shows none (the driver runs such a
    // code with all lines output), so that the code written matches the page.
    const int shownOther = selection(lowChanged ? DioList::PortC4to7 : DioList::PortC0to3);
    other = shownOther == 0 ? kPortInput : kPortOutput;
    Select(lowChanged ? DioList::PortC4to7 : DioList::PortC0to3, other);
  }
  shown_->portConfig[2] = JoinPortC(low, high);
  parent_.MarkChanged();
}

}  // namespace qio::config
