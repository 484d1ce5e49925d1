// Views of the settings window made of plain records: what every control
// shows, which page is visible where, and the message boxes asked, each
// answered from a queue (OK when the queue is empty).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/dialog/SettingsViews.h"

namespace qio::config::test {

struct FakePage : virtual PageView {
  int x = -1;
  int y = -1;
  bool visible = true;  // a window is created visible until hidden
  void MoveTo(int newX, int newY) override {
    x = newX;
    y = newY;
  }
  void SetVisible(bool v) override { visible = v; }
};

struct FakeDevicePage final : FakePage, DevicePageView {
  std::vector<ListItem> baseItems;
  std::vector<ListItem> irqItems;
  int base = -1;
  int irq = -1;
  std::string description;
  void FillBaseList(const std::vector<ListItem>& items) override { baseItems = items; }
  void FillIrqList(const std::vector<ListItem>& items) override { irqItems = items; }
  void SelectBase(int index) override { base = index; }
  void SelectIrq(int index) override { irq = index; }
  void SetDescription(std::string_view text) override { description = text; }
  std::string BaseText() const { return base < 0 ? "" : baseItems[static_cast<std::size_t>(base)].text; }
  std::string IrqText() const { return irq < 0 ? "" : irqItems[static_cast<std::size_t>(irq)].text; }
};

struct FakeDioPage final : FakePage, DioPageView {
  std::map<DioList, std::vector<std::string>> items;
  std::map<DioList, int> selected{{DioList::PortA, -1}, {DioList::PortB, -1},
                                  {DioList::PortC0to3, -1}, {DioList::PortC4to7, -1}};
  void FillList(DioList list, const std::vector<std::string>& texts) override { items[list] = texts; }
  void Select(DioList list, int index) override { selected[list] = index; }
  std::string Text(DioList list) const {
    const int index = selected.at(list);
    return index < 0 ? "" : items.at(list)[static_cast<std::size_t>(index)];
  }
};

struct FakeMainView final : MainView {
  struct Item {
    TreeItemId parent;
    std::string text;
  };

  bool saveEnabled = true;
  std::vector<std::string> tabs;
  int currentTab = 0;
  PixelRect tabRect{153, 10, 507, 371};
  std::unique_ptr<FakeDevicePage> device = std::make_unique<FakeDevicePage>();
  std::unique_ptr<FakeDioPage> dio = std::make_unique<FakeDioPage>();
  std::unique_ptr<FakePage> counter = std::make_unique<FakePage>();
  bool failPages = false;
  // Tree items in display order (children appended last), and the selection.
  std::vector<std::pair<TreeItemId, Item>> items;
  TreeItemId selected = kNoTreeItem;
  std::vector<MessageRequest> messages;
  std::deque<MessageAnswer> answers;
  int endDialogCalls = 0;

  void EnableSave(bool enabled) override { saveEnabled = enabled; }
  void InsertTab(int index, std::string_view text) override {
    tabs.insert(tabs.begin() + index, std::string(text));
  }
  int CurrentTab() const override { return currentTab; }
  PixelRect TabClientRect() const override { return tabRect; }
  DevicePageView* CreateDevicePage() override { return failPages ? nullptr : device.get(); }
  DioPageView* CreateDioPage() override { return failPages ? nullptr : dio.get(); }
  PageView* CreateCounterPage() override { return failPages ? nullptr : counter.get(); }
  void InsertTreeItem(TreeItemId id, TreeItemId parent, std::string_view text) override {
    items.push_back({id, Item{parent, std::string(text)}});
  }
  void DeleteTreeItem(TreeItemId id) override {
    std::erase_if(items, [&](const auto& entry) { return entry.first == id || entry.second.parent == id; });
  }
  void SelectTreeItem(TreeItemId id) override { selected = id; }
  MessageAnswer ShowMessage(const MessageRequest& request) override {
    messages.push_back(request);
    if (answers.empty()) return MessageAnswer::Ok;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void EndDialog() override { ++endDialogCalls; }

  // Texts of the children of `parent`, in order.
  std::vector<std::string> ChildTexts(TreeItemId parent) const {
    std::vector<std::string> texts;
    for (const auto& [id, item] : items) {
      if (item.parent == parent) texts.push_back(item.text);
    }
    return texts;
  }
  std::string SelectedText() const {
    for (const auto& [id, item] : items) {
      if (id == selected) return item.text;
    }
    return "";
  }
  int VisiblePages() const { return int{device->visible} + int{dio->visible} + int{counter->visible}; }
};

}  // namespace qio::config::test
