// The tab pages of the settings window. Each page is a child window of the
// main window, created from its own template and placed over the tab control;
// it shows the template selected in the tree and writes the user's changes
// straight into that template's record of the table.
#pragma once

#include "config/dialog/SettingsViews.h"
#include "config/templates/TemplateRecord.h"

namespace qio::config {

class TemplateSettingsDialog;

class SettingsPage {
 public:
  explicit SettingsPage(TemplateSettingsDialog& parent) : parent_(parent) {}
  virtual ~SettingsPage() = default;
  SettingsPage(const SettingsPage&) = delete;
  SettingsPage& operator=(const SettingsPage&) = delete;

  // Creates the page's window as a child of the main window and initialises
  // its controls. False when the window could not be created.
  virtual bool CreatePage() = 0;
  // Shows a template's settings; null shows nothing new.
  virtual void ShowTemplate(TemplateRecord* record) { (void)record; }

  // The page's window, null before CreatePage or when it failed.
  virtual PageView* view() const = 0;

 protected:
  TemplateSettingsDialog& parent_;
};

// The Counter page: the counters need no configuration.
class CounterPage final : public SettingsPage {
 public:
  using SettingsPage::SettingsPage;
  bool CreatePage() override;
  PageView* view() const override { return view_; }

 private:
  PageView* view_ = nullptr;
};

}  // namespace qio::config
