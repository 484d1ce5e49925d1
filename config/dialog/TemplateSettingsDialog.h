// The logic of the settings window "QIO-5162 device setting templates": a
// tree of up to 16 device templates ("DeviceTemplate" > "QIO_5162" >
// "Template<n>"), a tab control with the Device, DIO and Counter pages, and
// the buttons Add, Remove, Save and Close. It owns the template table of the
// component's registry script and its three pages; the view (MainView) owns
// the windows.
//
// The On... functions are the window's events; the view calls them. The Save
// button is enabled exactly while there are edits not yet saved (changedFlag).
// Single-threaded: everything runs on the user-interface thread.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "config/dialog/DevicePage.h"
#include "config/dialog/DioPage.h"
#include "config/dialog/SettingsPage.h"
#include "config/dialog/SettingsViews.h"
#include "config/dialog/TreeModel.h"
#include "config/script/FileLayer.h"
#include "config/templates/TemplateTable.h"

namespace qio::config {

inline constexpr std::string_view kMainCaption = "QIO-5162 device setting templates";
inline constexpr std::string_view kRootItemText = "DeviceTemplate";
inline constexpr std::string_view kBoardItemText = "QIO_5162";
inline constexpr std::string_view kTemplateItemPrefix = "Template";

// Tabs, in order.
inline constexpr int kDeviceTab = 0;
inline constexpr int kDioTab = 1;
inline constexpr int kCounterTab = 2;
inline constexpr int kPageCount = 3;
inline constexpr std::array<std::string_view, kPageCount> kTabTexts = {"Device", "DIO", "Counter"};

// Offset of a page from the tab control's client rectangle.
inline constexpr int kPageOffsetX = 5;
inline constexpr int kPageOffsetY = 25;

class TemplateSettingsDialog final : private MessageSink {
 public:
  TemplateSettingsDialog(MainView& view, std::string scriptPath, FileLayer& files = FileLayer::System());
  ~TemplateSettingsDialog() override;
  TemplateSettingsDialog(const TemplateSettingsDialog&) = delete;
  TemplateSettingsDialog& operator=(const TemplateSettingsDialog&) = delete;

  // ---- events ----
  // Builds pages, tabs and tree from the script and selects the first
  // template (or the board item). Returns true.
  bool OnInitDialog();
  void OnAdd();
  void OnRemove();
  void OnOk();       // Save
  void OnCancel();   // Close
  void OnDestroy();  // the window is being destroyed
  void OnTreeSelectionChanged(TreeItemId item);
  void OnTabSelectionChanged(int tab);

  // ---- for the pages ----
  TemplateTable& table() { return table_; }
  MainView& mainView() { return view_; }
  // Records an edit: sets changedFlag and enables Save.
  void MarkChanged();
  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageButtons buttons, bool owned);

  // ---- state ----
  bool changedFlag() const { return changedFlag_; }
  const std::string& scriptPath() const { return scriptPath_; }
  const TreeModel& tree() const { return tree_; }
  TreeItemId rootItem() const { return rootItem_; }
  TreeItemId boardItem() const { return boardItem_; }
  // The slot of the selected template, or -1 when no template is selected.
  int CurrentSlot() const;
  TemplateRecord* CurrentTemplate();
  // The tree item of a template slot, or kNoTreeItem.
  TreeItemId ItemOfSlot(int slot) const;

  SettingsPage& page(int tab) { return *pages_.at(static_cast<std::size_t>(tab)); }
  DevicePage& devicePage() { return *devicePage_; }
  DioPage& dioPage() { return *dioPage_; }
  CounterPage& counterPage() { return *counterPage_; }
  // The page whose window is visible, or null.
  SettingsPage* VisiblePage() const { return visiblePage_; }

 private:
  void ShowMessage(std::string_view text, std::string_view caption) override;
  void SelectItem(TreeItemId item);
  void HideAllPages();
  void ShowPage(int tab);
  void AskToSave(bool owned);

  MainView& view_;
  std::string scriptPath_;
  TemplateTable table_;
  TreeModel tree_;
  TreeItemId rootItem_ = kNoTreeItem;
  TreeItemId boardItem_ = kNoTreeItem;
  std::unique_ptr<DevicePage> devicePage_;
  std::unique_ptr<DioPage> dioPage_;
  std::unique_ptr<CounterPage> counterPage_;
  std::array<SettingsPage*, kPageCount> pages_{};  // in tab order
  std::array<bool, kPageCount> pageCreated_{};
  SettingsPage* visiblePage_ = nullptr;
  bool changedFlag_ = false;
};

// "Template12" -> 12; -1 for a text that names no template slot.
int SlotOfItemText(std::string_view text);

}  // namespace qio::config
