// The settings window's Qt view on the offscreen platform: clicks on the real
// buttons, tree, tabs and lists, message boxes answered, the script on disk
// checked, and a script saved through the window booted on the hosted target.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>
#include <string>
#include <vector>

#include "ScriptTestSupport.h"
#include "config/dialog/TemplateSettingsDialog.h"
#include "config/dialog/qt/DialogTemplate.h"
#include "config/dialog/qt/PageWidgets.h"
#include "config/dialog/qt/SettingsWindow.h"
#include "qio5162/target.h"

namespace qio::config::qt {
namespace {

using testing::NewSection;
using testing::ScriptTree;

constexpr const char* kScriptHead = "; QIO-5162 registry script\r\n";

class SettingsWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "dialog_settings_window";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) app_ = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }

  void SetUp() override {
    SettingsWindow::SetMessageResponder([this](const MessageRequest& request) {
      asked_.push_back(request);
      if (answers_.empty()) return MessageAnswer::Ok;
      const MessageAnswer answer = answers_.front();
      answers_.erase(answers_.begin());
      return answer;
    });
  }
  void TearDown() override {
    delete window_.data();
    SettingsWindow::SetMessageResponder({});
  }

  void Open(const std::string& sections = "") {
    tree_.Write(kScriptHead + sections);
    window_ = SettingsWindow::Open(tree_.script());
    ASSERT_FALSE(window_.isNull());
    QApplication::processEvents();
  }
  void Click(int controlId) {
    QPushButton* button = window_->button(controlId);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void ClickItem(const QString& text) {
    const auto found = window_->tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    const QRect rect = window_->tree()->visualItemRect(found.front());
    QTest::mouseClick(window_->tree()->viewport(), Qt::LeftButton, {}, rect.center());
  }
  void ClickTab(int index) {
    QTabBar* bar = window_->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
  }
  QStringList TemplateItems() const {
    QStringList texts;
    const auto found = window_->tree()->findItems(QStringLiteral("QIO_5162"), Qt::MatchExactly | Qt::MatchRecursive);
    if (found.size() != 1) return texts;
    for (int i = 0; i < found.front()->childCount(); ++i) texts << found.front()->child(i)->text(0);
    return texts;
  }
  QString SelectedItem() const {
    const QTreeWidgetItem* item = window_->tree()->currentItem();
    return item == nullptr ? QString() : item->text(0);
  }
  static void Flush() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  static inline QApplication* app_ = nullptr;
  ScriptTree tree_;
  QPointer<SettingsWindow> window_;
  std::vector<MessageRequest> asked_;
  std::vector<MessageAnswer> answers_;
};

TEST_F(SettingsWindowTest, ControlsStandWhereTheTemplatesPlaceThem) {
  Open();
  EXPECT_EQ(window_->windowTitle(), "QIO-5162 device setting templates");
  EXPECT_EQ(window_->size(), QSize(519, 410));
  EXPECT_TRUE(window_->windowFlags().testFlag(Qt::Tool));
  EXPECT_FALSE(window_->isModal());
  const struct {
    int id;
    QRect geometry;
    const char* text;
  } controls[] = {
      {control::kAdd, QRect(155, 377, 66, 21), "Add"},
      {control::kRemove, QRect(239, 377, 66, 21), "Remove"},
      {control::kSave, QRect(320, 377, 66, 21), "Save"},
      {control::kClose, QRect(404, 377, 66, 21), "Close"},
  };
  for (const auto& c : controls) {
    QWidget* widget = FindControl(window_, c.id);
    ASSERT_NE(widget, nullptr) << c.id;
    EXPECT_EQ(widget->geometry(), c.geometry) << c.text;
    EXPECT_EQ(static_cast<QPushButton*>(widget)->text(), c.text);
  }
  EXPECT_EQ(FindControl(window_, control::kTree)->geometry(), QRect(11, 15, 132, 382));
  EXPECT_EQ(FindControl(window_, control::kTab)->geometry(), QRect(153, 10, 354, 361));
  EXPECT_TRUE(window_->button(control::kSave)->isDefault());
  // Pages: 5 right and 25 down of the tab control, each its template's size.
  EXPECT_EQ(window_->devicePage()->geometry(), QRect(158, 35, 336, 328));
  EXPECT_EQ(window_->dioPage()->geometry(), QRect(158, 35, 264, 254));
  EXPECT_EQ(window_->counterPage()->geometry(), QRect(158, 35, 236, 203));
  EXPECT_EQ(FindControl(window_->devicePage(), control::kBaseList)->pos(), QPoint(242, 89));
  EXPECT_EQ(FindControl(window_->devicePage(), control::kIrqList)->pos(), QPoint(242, 137));
  EXPECT_EQ(FindControl(window_->dioPage(), control::kPortA)->pos(), QPoint(120, 146));
  const QLabel* picture = window_->devicePage()->findChild<QLabel*>(QStringLiteral("picture"));
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->pixmap().size(), QSize(205, 198));
  EXPECT_EQ(picture->property("bitmapId").toInt(), 155);
}

TEST_F(SettingsWindowTest, AnEmptyScriptShowsTheBoardItemAndNoPage) {
  Open();
  EXPECT_EQ(window_->tree()->topLevelItemCount(), 1);
  EXPECT_EQ(window_->tree()->topLevelItem(0)->text(0), "DeviceTemplate");
  EXPECT_EQ(SelectedItem(), "QIO_5162");
  EXPECT_TRUE(TemplateItems().isEmpty());
  EXPECT_FALSE(window_->devicePage()->isVisible());
  EXPECT_FALSE(window_->dioPage()->isVisible());
  EXPECT_FALSE(window_->counterPage()->isVisible());
  EXPECT_FALSE(window_->button(control::kSave)->isEnabled());
}

TEST_F(SettingsWindowTest, AddChangeBaseSaveRemoveAndCloseThroughTheWidgets) {
  Open();
  Click(control::kAdd);
  EXPECT_EQ(TemplateItems(), QStringList{"Template0"});
  EXPECT_EQ(SelectedItem(), "Template0");
  ASSERT_TRUE(window_->devicePage()->isVisible());
  QComboBox* base = window_->devicePage()->baseList();
  EXPECT_EQ(base->currentText(), "0x100");
  EXPECT_TRUE(window_->button(control::kSave)->isEnabled());

  QTest::keyClick(base, Qt::Key_End);  // the last address, 0x3c0
  EXPECT_EQ(base->currentText(), "0x3c0");
  Click(control::kSave);
  EXPECT_EQ(tree_.Read(), std::string(kScriptHead) + NewSection(0, "3c0", "3"));
  EXPECT_FALSE(window_->button(control::kSave)->isEnabled());
  EXPECT_TRUE(window_->isVisible());

  Click(control::kRemove);
  EXPECT_TRUE(TemplateItems().isEmpty());
  EXPECT_EQ(SelectedItem(), "QIO_5162");
  EXPECT_FALSE(window_->devicePage()->isVisible());
  EXPECT_TRUE(window_->button(control::kSave)->isEnabled());

  Click(control::kClose);  // asked, answered OK: saved
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0].text, "The configuration of QIO-5162 is change, save the change");
  EXPECT_EQ(asked_[0].caption, "Note");
  EXPECT_TRUE(asked_[0].owned);
  EXPECT_EQ(tree_.Read().find("ZQS5162S0]"), std::string::npos);
  Flush();
  EXPECT_TRUE(window_.isNull());  // the window deleted itself
}

TEST_F(SettingsWindowTest, ABaseInUseSnapsBackAndASharedLineWarns) {
  Open(NewSection(0, "100", "3") + NewSection(1, "140", "4"));
  QComboBox* base = window_->devicePage()->baseList();
  QComboBox* irq = window_->devicePage()->irqList();
  QTest::keyClick(base, Qt::Key_Down);  // 0x140, Template1's
  EXPECT_EQ(base->currentText(), "0x100");
  EXPECT_TRUE(asked_.empty());
  EXPECT_FALSE(window_->button(control::kSave)->isEnabled());
  QTest::keyClick(irq, Qt::Key_Down);  // line 4, Template1's
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0].text, "The same IRQ is selected, conflict might occur");
  EXPECT_EQ(asked_[0].caption, "Warning");
  EXPECT_EQ(irq->currentText(), "4");
  EXPECT_TRUE(window_->button(control::kSave)->isEnabled());
}

TEST_F(SettingsWindowTest, TreeAndTabClicksSwitchPages) {
  Open(NewSection(0, "300", "5", "01,00,04") + NewSection(2, "340", "7"));
  ClickTab(kDioTab);
  EXPECT_TRUE(window_->dioPage()->isVisible());
  EXPECT_FALSE(window_->devicePage()->isVisible());
  EXPECT_EQ(window_->dioPage()->list(DioList::PortA)->currentText(), "OUT");
  EXPECT_EQ(window_->dioPage()->list(DioList::PortC0to3)->currentText(), "OUT");
  EXPECT_EQ(window_->dioPage()->list(DioList::PortC4to7)->currentText(), "IN");
  ClickItem(QStringLiteral("Template2"));
  EXPECT_TRUE(window_->dioPage()->isVisible());
  EXPECT_EQ(window_->dioPage()->list(DioList::PortA)->currentText(), "IN");
  ClickItem(QStringLiteral("QIO_5162"));
  EXPECT_FALSE(window_->dioPage()->isVisible());
  ClickTab(kCounterTab);
  EXPECT_FALSE(window_->counterPage()->isVisible());
  ClickItem(QStringLiteral("Template0"));
  EXPECT_TRUE(window_->counterPage()->isVisible());
  EXPECT_FALSE(window_->dioPage()->isVisible());
}

TEST_F(SettingsWindowTest, DirectionsChosenOnTheDioPageAreSaved) {
  Open(NewSection(0, "300", "5"));
  ClickTab(kDioTab);
  QTest::keyClick(window_->dioPage()->list(DioList::PortB), Qt::Key_Down);
  QTest::keyClick(window_->dioPage()->list(DioList::PortC4to7), Qt::Key_Down);
  QTest::keyClick(window_, Qt::Key_Return);  // the default button: Save
  EXPECT_EQ(tree_.Read(), std::string(kScriptHead) + NewSection(0, "300", "5", "00,01,03"));
}

TEST_F(SettingsWindowTest, ARealMessageBoxAnsweredWithCancelKeepsTheScript) {
  SettingsWindow::SetMessageResponder({});
  Open();
  Click(control::kAdd);
  bool sawBox = false;
  QTimer::singleShot(0, [&sawBox] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    sawBox = box->text() == "The configuration of QIO-5162 is change, save the change" &&
             box->windowTitle() == "Note";
    QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
  });
  Click(control::kClose);
  EXPECT_TRUE(sawBox);
  EXPECT_EQ(tree_.Read(), kScriptHead);
  Flush();
  EXPECT_TRUE(window_.isNull());
}

TEST_F(SettingsWindowTest, EscapeIsCloseAndAfterASaveAsksNothing) {
  Open();
  Click(control::kAdd);
  Click(control::kSave);
  QTest::keyClick(window_, Qt::Key_Escape);
  EXPECT_TRUE(asked_.empty());
  Flush();
  EXPECT_TRUE(window_.isNull());
}

TEST_F(SettingsWindowTest, DestroyingTheWindowWithEditsAsksWithoutOwnerAndSaves) {
  Open();
  Click(control::kAdd);
  delete window_.data();
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_FALSE(asked_[0].owned);
  EXPECT_EQ(asked_[0].caption, "Note");
  EXPECT_EQ(tree_.Read(), std::string(kScriptHead) + NewSection(0, "100", "3"));
}

TEST_F(SettingsWindowTest, OpeningTheSameScriptAgainBringsTheOpenWindowForward) {
  Open();
  SettingsWindow* again = SettingsWindow::Open(tree_.script());
  EXPECT_EQ(again, window_.data());
  ScriptTree other;
  other.Write(kScriptHead);
  QPointer<SettingsWindow> second = SettingsWindow::Open(other.script());
  EXPECT_NE(second.data(), window_.data());
  delete second.data();
}

TEST_F(SettingsWindowTest, AScriptSavedThroughTheWindowBootsOnTheHostedTarget) {
  Open();
  Click(control::kAdd);
  Click(control::kAdd);
  QTest::keyClick(window_->devicePage()->baseList(), Qt::Key_End);  // Template1 at 0x3c0
  Click(control::kSave);
  const std::string script = tree_.Read();

  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot_ex(script.c_str(), QIO_TARGET_BARE, &target), QIO_TARGET_OK)
      << qio_target_last_message();
  char report[4096];
  ASSERT_EQ(qio_target_boot_report(target, report, sizeof report, nullptr), QIO_TARGET_OK);
  const std::string text(report);
  std::size_t loaded = 0;
  for (auto at = text.find("loaded Q62"); at != std::string::npos; at = text.find("loaded Q62", at + 1)) ++loaded;
  EXPECT_EQ(loaded, 2u) << text;
  // Each driver instance registered its board with the base of its key.
  std::size_t needed = 0;
  qio_target_export_registry(target, nullptr, 0, &needed);
  std::string registry(needed, '\0');
  ASSERT_EQ(qio_target_export_registry(target, registry.data(), registry.size(), nullptr), QIO_TARGET_OK);
  for (const char* device : {"Device000]", "Device001]"}) {
    const auto at = registry.find(std::string("Services\\ZQS5162S\\") + device);
    ASSERT_NE(at, std::string::npos) << device << "\n" << registry;
    const std::string key = registry.substr(at, registry.find("\r\n\r\n", at) - at);
    EXPECT_NE(key.find(device[8] == '0' ? "\"BaseAddress\"=dword:00000100" : "\"BaseAddress\"=dword:000003c0"),
              std::string::npos)
        << key;
  }
  EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);
}

}  // namespace
}  // namespace qio::config::qt
