// The Device page: the board picture, the device name, the base address and
// interrupt line of the shown template, and the board's description.
#pragma once

#include <string_view>
#include <vector>

#include "config/dialog/SettingsPage.h"

namespace qio::config {

inline constexpr std::string_view kDeviceNameText = "QIO-5162";
inline constexpr std::string_view kBoardDescription =
    "2-channel Counter/Timer with 24-ch TTL DI/O Module\n\n"
    "*2 independent 16 bit counters\n"
    "*4 independent programmable clock sources(10M,1M,100K,10K)\n"
    "*24 TTL DI/O channels(8255 mode 0)\n"
    "*12 programmable counter modes";

class DevicePage final : public SettingsPage {
 public:
  using SettingsPage::SettingsPage;

  bool CreatePage() override;
  void ShowTemplate(TemplateRecord* record) override;
  PageView* view() const override { return view_; }

  // The user chose item `index` of the base-address or IRQ list (also the
  // item that was already selected).
  void OnBaseChanged(int index);
  void OnIrqChanged(int index);

  // The lists as filled and what they show (-1: nothing).
  const std::vector<ListItem>& baseItems() const { return baseItems_; }
  const std::vector<ListItem>& irqItems() const { return irqItems_; }
  int baseSelection() const { return baseSelection_; }
  int irqSelection() const { return irqSelection_; }
  const TemplateRecord* shown() const { return shown_; }

 private:
  void OnInitDialog();
  void SelectBase(int index);
  void SelectIrq(int index);
  static int IndexOf(const std::vector<ListItem>& items, std::uint32_t data);

  DevicePageView* view_ = nullptr;
  std::vector<ListItem> irqItems_;
  std::vector<ListItem> baseItems_;
  int irqSelection_ = -1;
  int baseSelection_ = -1;
  TemplateRecord* shown_ = nullptr;
};

}  // namespace qio::config
