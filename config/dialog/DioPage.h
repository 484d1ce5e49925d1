// The DIO page: the directions of ports A and B and of the two halves of
// port C of the shown template. Item 0 of every list is "IN" (input), item 1
// "OUT" (output), so an item index is a direction bit.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "config/dialog/SettingsPage.h"

namespace qio::config {

// A half of port C whose direction a code does not tell.
inline constexpr std::uint8_t kUnknownHalf = 0xFF;

// Port C code -> (lines 0-3, lines 4-7), each 0 input or 1 output; codes
// other than 0, 1, 3 and 4 give kUnknownHalf for both halves.
std::pair<std::uint8_t, std::uint8_t> SplitPortC(std::uint8_t code);
// (lines 0-3, lines 4-7) -> port C code: (0, 0) 0, (1, 1) 1, (0, 1) 3, any
// other pair 4.
std::uint8_t JoinPortC(std::uint8_t low, std::uint8_t high);

class DioPage final : public SettingsPage {
 public:
  using SettingsPage::SettingsPage;

  bool CreatePage() override;
  void ShowTemplate(TemplateRecord* record) override;
  PageView* view() const override { return view_; }

  // The user chose item `index` (0 IN, 1 OUT) of one list.
  void OnDirectionChanged(DioList list, int index);

  // What a list shows (-1: nothing).
  int selection(DioList list) const { return selection_[static_cast<std::size_t>(list)]; }
  const TemplateRecord* shown() const { return shown_; }

 private:
  void OnInitDialog();
  void Select(DioList list, int index);
  void ChangePortAB(std::size_t port, int index);
  void ChangePortCHalf(DioList list, int index);

  DioPageView* view_ = nullptr;
  std::array<int, kDioLists> selection_ = {-1, -1, -1, -1};
  TemplateRecord* shown_ = nullptr;
};

}  // namespace qio::config
