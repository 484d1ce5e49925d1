// The Qt window of template 105, "QIO-5162 device setting templates": a
// modeless tool window with the template tree, the tab control, the pages
// over it, and the buttons Add, Remove, Save and Close. It implements
// MainView for TemplateSettingsDialog, which it owns and which decides
// everything; the window deletes itself when it is closed.
#pragma once

#include <QDialog>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "config/dialog/SettingsViews.h"

class QPushButton;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace qio::config {
class TemplateSettingsDialog;
}

namespace qio::config::qt {

class DevicePageWidget;
class DioPageWidget;
class CounterPageWidget;
class TabControl;

// Answers message boxes instead of a person (tests, screenshots). Given a
// request, returns the button "pressed". Without one a real box is shown.
using MessageResponder = std::function<MessageAnswer(const MessageRequest&)>;

class SettingsWindow final : public QDialog, public MainView {
 public:
  explicit SettingsWindow(std::string scriptPath);
  ~SettingsWindow() override;

  // Opens the window for a script, or brings forward the one already open for
  // it (two windows on one script would overwrite each other's saves).
  static SettingsWindow* Open(const std::string& scriptPath);
  // The open window of a script, or null.
  static SettingsWindow* Find(const std::string& scriptPath);

  // Process-wide: every settings window's message boxes go to `responder`
  // (empty: real boxes).
  static void SetMessageResponder(MessageResponder responder);

  TemplateSettingsDialog& logic() { return *logic_; }
  const std::string& scriptPath() const { return scriptPath_; }
  QTreeWidget* tree() const { return tree_; }
  QTabBar* tabBar() const;
  QPushButton* button(int controlId) const;
  DevicePageWidget* devicePage() const { return devicePage_; }
  DioPageWidget* dioPage() const { return dioPage_; }
  CounterPageWidget* counterPage() const { return counterPage_; }
  // The tree item the logic numbers `id`.
  QTreeWidgetItem* treeItem(TreeItemId id) const;

  // ---- MainView ----
  void EnableSave(bool enabled) override;
  void InsertTab(int index, std::string_view text) override;
  int CurrentTab() const override;
  PixelRect TabClientRect() const override;
  DevicePageView* CreateDevicePage() override;
  DioPageView* CreateDioPage() override;
  PageView* CreateCounterPage() override;
  void InsertTreeItem(TreeItemId id, TreeItemId parent, std::string_view text) override;
  void DeleteTreeItem(TreeItemId id) override;
  void SelectTreeItem(TreeItemId id) override;
  MessageAnswer ShowMessage(const MessageRequest& request) override;
  void EndDialog() override;

 protected:
  void reject() override;
  void accept() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnCurrentItemChanged(QTreeWidgetItem* current);

  std::string scriptPath_;
  QTreeWidget* tree_ = nullptr;
  TabControl* tab_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* close_ = nullptr;
  DevicePageWidget* devicePage_ = nullptr;
  DioPageWidget* dioPage_ = nullptr;
  CounterPageWidget* counterPage_ = nullptr;
  std::map<TreeItemId, QTreeWidgetItem*> items_;
  bool updatingTree_ = false;
  bool ending_ = false;
  bool inCloseEvent_ = false;
  bool destroying_ = false;
  std::unique_ptr<TemplateSettingsDialog> logic_;
};

}  // namespace qio::config::qt
