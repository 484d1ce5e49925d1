#include "DeviceConfigDialog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "DeviceRegistryWrite.h"
#include "Features.h"
#include "qio/protocol/directions.h"
#include "qio/protocol/registry_names.h"

namespace qio::library::dialog {
namespace {

// Base addresses a board can be set to, and the interrupt lines it drives.
constexpr std::uint32_t kFirstBase = 0x100;
constexpr std::uint32_t kLastBase = 0x3C0;
constexpr std::uint32_t kBaseStep = 0x40;
constexpr int kIrqLines[] = {3, 4, 5, 6, 7, 9, 11, 12, 15};

// Longest base-address text converted, as a drop-down list's text is read.
constexpr std::size_t kBaseTextChars = 20;

constexpr int kIn = 0;
constexpr int kOut = 1;

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

std::vector<std::string> Sorted(std::vector<std::string> texts) {
  std::stable_sort(texts.begin(), texts.end(), LessIgnoringCase);
  return texts;
}

std::unique_ptr<DeviceSettings> AllocateZeroed() {
  auto* record = new (std::nothrow) DeviceSettings;
  if (record != nullptr) std::memset(static_cast<void*>(record), 0, sizeof *record);
  return std::unique_ptr<DeviceSettings>(record);
}

// The direction of one half of port C under a code, as the driver applies it
// (0 input, 1 output).
int HalfAsApplied(std::uint8_t code, bool low) {
  const bool input = low ? protocol::LowNibbleIsInput(code) : protocol::HighNibbleIsInput(code);
  return input ? kIn : kOut;
}

}  // namespace

PortCSelection PortCItems(std::uint8_t code) {
  switch (code) {
    case protocol::kDirAllInput: return {kIn, kIn};
    case protocol::kDirAllOutput: return {kOut, kOut};
    case protocol::kDirLowInHighOut: return {kIn, kOut};
    case protocol::kDirLowOutHighIn: return {kOut, kIn};
    default: return {-1, -1};
  }
}

DeviceConfigDialog::DeviceConfigDialog(std::uint32_t deviceNumber, Allocator allocate)
    : deviceNumber_(deviceNumber), allocate_(allocate ? std::move(allocate) : Allocator(AllocateZeroed)) {}

void DeviceConfigDialog::OnInitDialog(DeviceConfigView& view) {
  view_ = &view;
  working_ = allocate_();
  if (working_ == nullptr) {
    view.ShowError(kAllocationFailedText, kErrorCaption);
    End(kEndAllocationFailed);
    return;
  }
  if (!ReadDeviceSettings(deviceNumber_, *working_)) SetDefaults();
  working_->features = &TheDeviceFeatures();
  FillLists();

  char text[24];
  std::snprintf(text, sizeof text, "0x%x", working_->baseAddress);
  SelectByPrefix(kBaseList, text);
  std::snprintf(text, sizeof text, "IRQ%d", static_cast<int>(working_->irq));
  SelectByPrefix(kIrqList, text);

  const auto directionItem = [](std::uint8_t code) { return code <= kOut ? static_cast<int>(code) : -1; };
  view.SelectItem(kPortAList, directionItem(working_->digPortCfg[0]));
  view.SelectItem(kPortBList, directionItem(working_->digPortCfg[1]));
  const PortCSelection c = PortCItems(working_->digPortCfg[2]);
  view.SelectItem(kPortCLowList, c.low);
  view.SelectItem(kPortCHighList, c.high);
}

void DeviceConfigDialog::SetDefaults() {
  DeviceSettings& s = *working_;
  s.boardId = protocol::kBoardId;
  s.baseAddress = kDefaultBaseAddress;
  s.irq = kDefaultIrq;
  s.digPortCfg[0] = s.digPortCfg[1] = s.digPortCfg[2] = protocol::kDirAllInput;
  s.installDir[0] = 0;
  s.deviceIndex = kUnassignedIndex;
}

void DeviceConfigDialog::FillLists() {
  portItems_ = {"IN", "OUT"};
  for (const int list : {kPortCHighList, kPortCLowList, kPortBList, kPortAList}) {
    for (const auto& text : portItems_) view_->AddItem(list, text.c_str());
  }
  std::vector<std::string> bases;
  for (std::uint32_t base = kFirstBase; base <= kLastBase; base += kBaseStep) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", base);
    bases.emplace_back(text);
  }
  baseItems_ = Sorted(std::move(bases));
  for (const auto& text : baseItems_) view_->AddItem(kBaseList, text.c_str());
  std::vector<std::string> lines;
  for (const int line : kIrqLines) lines.push_back("IRQ" + std::to_string(line));
  irqItems_ = Sorted(std::move(lines));
  for (const auto& text : irqItems_) view_->AddItem(kIrqList, text.c_str());
}

void DeviceConfigDialog::SelectByPrefix(int controlId, const std::string& prefix) {
  const auto& list = items(controlId);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].compare(0, prefix.size(), prefix) == 0) {
      view_->SelectItem(controlId, static_cast<int>(i));
      return;
    }
  }
  view_->SelectItem(controlId, -1);
}

const std::vector<std::string>& DeviceConfigDialog::items(int controlId) const {
  switch (controlId) {
    case kBaseList: return baseItems_;
    case kIrqList: return irqItems_;
    default: return portItems_;
  }
}

int DeviceConfigDialog::Selected(int controlId) const {
  const int index = view_->SelectedItem(controlId);
  return index >= 0 && index < static_cast<int>(items(controlId).size()) ? index : -1;
}

const std::string* DeviceConfigDialog::SelectedText(int controlId) const {
  const int index = Selected(controlId);
  return index < 0 ? nullptr : &items(controlId)[static_cast<std::size_t>(index)];
}

void DeviceConfigDialog::OnOk() {
  if (working_ == nullptr) return;
  DeviceSettings& s = *working_;
  // A list left without a selection keeps the value that was read: nothing
  // the user did not choose is replaced by a code or address of no meaning.
  const int portA = Selected(kPortAList);
  const int portB = Selected(kPortBList);
  if (portA >= 0) s.digPortCfg[0] = static_cast<std::uint8_t>(portA);
  if (portB >= 0) s.digPortCfg[1] = static_cast<std::uint8_t>(portB);
  int low = Selected(kPortCLowList);
  int high = Selected(kPortCHighList);
  if (low >= 0 || high >= 0) {
    const std::uint8_t old = s.digPortCfg[2];
    if (low < 0) low = HalfAsApplied(old, true);
    if (high < 0) high = HalfAsApplied(old, false);
    std::uint8_t code = protocol::kDirLowInHighOut;
    if (low == high) {
      code = static_cast<std::uint8_t>(low);
    } else if (low == kOut) {
      code = protocol::kDirLowOutHighIn;
    }
    s.digPortCfg[2] = code;
  }

  if (const std::string* text = SelectedText(kBaseList); text != nullptr) {
    const std::string digits = text->substr(0, kBaseTextChars);
    s.baseAddress = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
  }
  if (const std::string* text = SelectedText(kIrqList); text != nullptr && text->size() > 3) {
    s.irq = static_cast<std::uint32_t>(std::strtol(text->c_str() + 3, nullptr, 10));
  }

  // What the write achieved is not shown: the configuration takes effect at
  // the next boot, and a failed step skips only what depends on it.
  WriteDeviceRegistry(deviceNumber_, s);
  End(kEndOk);
}

void DeviceConfigDialog::OnCancel() { End(kEndCancel); }

void DeviceConfigDialog::End(int code) {
  working_.reset();
  endCode_ = code;
  if (view_ != nullptr) view_->EndDialog(code);
}

}  // namespace qio::library::dialog
