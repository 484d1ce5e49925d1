#include "config/dialog/qt/SettingsWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyleOption>
#include <QTabBar>
#include <QTreeWidget>

#include <vector>

#include "config/dialog/TemplateSettingsDialog.h"
#include "config/dialog/qt/DialogTemplate.h"
#include "config/dialog/qt/PageWidgets.h"

namespace qio::config::qt {

// The caption of a message box that has none of its own: the plug-in's name.
inline constexpr char kDefaultCaption[] = "QIO5162Cfg";

// A tab control: the row of tabs and the panel under it. The pages are not
// its children but siblings laid over it, as the templates place them.
class TabControl final : public QWidget {
 public:
  explicit TabControl(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)) {
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    bar_->move(2, 2);
  }
  QTabBar* bar() const { return bar_; }
  void Relayout() { bar_->resize(bar_->sizeHint().width(), bar_->sizeHint().height()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, bar_->geometry().bottom() - 1, 0, 0);
    frame.shape = QTabBar::RoundedNorth;
    frame.tabBarSize = bar_->size();
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
  }

 private:
  QTabBar* bar_;
};

namespace {

MessageResponder& Responder() {
  static MessageResponder responder;
  return responder;
}

std::vector<QPointer<SettingsWindow>>& OpenWindows() {
  static std::vector<QPointer<SettingsWindow>> windows;
  return windows;
}

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

SettingsWindow::SettingsWindow(std::string scriptPath) : scriptPath_(std::move(scriptPath)) {
  // A tool window with a caption and no system menu.
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setWindowTitle(ToQString(kMainCaption));
  setFont(TemplateFont());
  setFixedSize(DuX(346), DuY(252));
  setObjectName(QStringLiteral("template%1").arg(kMainTemplate));
  setProperty("templateId", kMainTemplate);

  tree_ = new QTreeWidget(this);
  tree_->setGeometry(DuRect(7, 9, 88, 235));
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setColumnCount(1);
  tree_->setFrameShape(QFrame::StyledPanel);
  tree_->setAccessibleName(QStringLiteral("Tree1"));
  TagControl(tree_, control::kTree);

  tab_ = new TabControl(this);
  tab_->setGeometry(DuRect(102, 6, 236, 222));
  tab_->setAccessibleName(QStringLiteral("Tab1"));
  TagControl(tab_, control::kTab);

  add_ = MakeButton(this, control::kAdd, QStringLiteral("Add"), DuRect(103, 232, 44, 13));
  remove_ = MakeButton(this, control::kRemove, QStringLiteral("Remove"), DuRect(159, 232, 44, 13));
  save_ = MakeButton(this, control::kSave, QStringLiteral("Save"), DuRect(213, 232, 44, 13));
  close_ = MakeButton(this, control::kClose, QStringLiteral("Close"), DuRect(269, 232, 44, 13));
  save_->setDefault(true);

  logic_ = std::make_unique<TemplateSettingsDialog>(*this, scriptPath_);

  connect(add_, &QPushButton::clicked, this, [this] { logic_->OnAdd(); });
  connect(remove_, &QPushButton::clicked, this, [this] { logic_->OnRemove(); });
  connect(save_, &QPushButton::clicked, this, [this] { logic_->OnOk(); });
  connect(close_, &QPushButton::clicked, this, [this] { logic_->OnCancel(); });
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
  connect(tab_->bar(), &QTabBar::currentChanged, this, [this](int index) {
    if (!updatingTree_) logic_->OnTabSelectionChanged(index);
  });
  // A host that quits with the window open destroys it, and the destruction
  // prompt still offers to save.
  connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { delete this; });

  logic_->OnInitDialog();
  ApplyClassicStyle(this);
  OpenWindows().emplace_back(this);
}

SettingsWindow::~SettingsWindow() {
  destroying_ = true;
  hide();
  logic_->OnDestroy();
  logic_.reset();
  std::erase_if(OpenWindows(), [this](const QPointer<SettingsWindow>& w) { return w.isNull() || w == this; });
}

SettingsWindow* SettingsWindow::Find(const std::string& scriptPath) {
  for (const auto& window : OpenWindows()) {
    if (!window.isNull() && window->scriptPath_ == scriptPath && !window->ending_) return window.data();
  }
  return nullptr;
}

SettingsWindow* SettingsWindow::Open(const std::string& scriptPath) {
  SettingsWindow* window = Find(scriptPath);
  if (window == nullptr) window = new SettingsWindow(scriptPath);
  window->showNormal();
  window->raise();
  window->activateWindow();
  return window;
}

void SettingsWindow::SetMessageResponder(MessageResponder responder) { Responder() = std::move(responder); }

QTabBar* SettingsWindow::tabBar() const { return tab_->bar(); }

QPushButton* SettingsWindow::button(int controlId) const {
  switch (controlId) {
    case control::kAdd: return add_;
    case control::kRemove: return remove_;
    case control::kSave: return save_;
    case control::kClose: return close_;
    default: return nullptr;
  }
}

QTreeWidgetItem* SettingsWindow::treeItem(TreeItemId id) const {
  const auto it = items_.find(id);
  return it == items_.end() ? nullptr : it->second;
}

// ---- MainView ------------------------------------------------------------------

void SettingsWindow::EnableSave(bool enabled) { save_->setEnabled(enabled); }

void SettingsWindow::InsertTab(int index, std::string_view text) {
  updatingTree_ = true;
  tab_->bar()->insertTab(index, ToQString(text));
  tab_->Relayout();
  updatingTree_ = false;
}

int SettingsWindow::CurrentTab() const { return tab_->bar()->currentIndex(); }

PixelRect SettingsWindow::TabClientRect() const {
  const QRect r = tab_->geometry();
  return PixelRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

DevicePageView* SettingsWindow::CreateDevicePage() {
  devicePage_ = new DevicePageWidget(
      this, [this](int index) { logic_->devicePage().OnBaseChanged(index); },
      [this](int index) { logic_->devicePage().OnIrqChanged(index); });
  return devicePage_;
}

DioPageView* SettingsWindow::CreateDioPage() {
  dioPage_ = new DioPageWidget(this, [this](DioList list, int index) {
    logic_->dioPage().OnDirectionChanged(list, index);
  });
  return dioPage_;
}

PageView* SettingsWindow::CreateCounterPage() {
  counterPage_ = new CounterPageWidget(this);
  return counterPage_;
}

void SettingsWindow::InsertTreeItem(TreeItemId id, TreeItemId parent, std::string_view text) {
  updatingTree_ = true;
  QTreeWidgetItem* item = nullptr;
  if (QTreeWidgetItem* parentItem = treeItem(parent); parentItem != nullptr) {
    item = new QTreeWidgetItem(parentItem, QStringList{ToQString(text)});
  } else {
    item = new QTreeWidgetItem(tree_, QStringList{ToQString(text)});
  }
  item->setData(0, Qt::UserRole, id);
  items_[id] = item;
  updatingTree_ = false;
}

void SettingsWindow::DeleteTreeItem(TreeItemId id) {
  QTreeWidgetItem* item = treeItem(id);
  if (item == nullptr) return;
  updatingTree_ = true;
  // Forget the item and everything below it before Qt moves the selection.
  std::vector<QTreeWidgetItem*> stack{item};
  while (!stack.empty()) {
    QTreeWidgetItem* next = stack.back();
    stack.pop_back();
    items_.erase(next->data(0, Qt::UserRole).toInt());
    for (int i = 0; i < next->childCount(); ++i) stack.push_back(next->child(i));
  }
  delete item;
  updatingTree_ = false;
}

void SettingsWindow::SelectTreeItem(TreeItemId id) {
  QTreeWidgetItem* item = treeItem(id);
  updatingTree_ = true;
  // Selecting an item makes it visible: its ancestors open.
  for (QTreeWidgetItem* up = item != nullptr ? item->parent() : nullptr; up != nullptr; up = up->parent()) {
    up->setExpanded(true);
  }
  tree_->setCurrentItem(item);
  if (item != nullptr) tree_->scrollToItem(item);
  updatingTree_ = false;
}

MessageAnswer SettingsWindow::ShowMessage(const MessageRequest& request) {
  if (Responder()) return Responder()(request);
  const QString caption = request.caption.empty() ? QString::fromLatin1(kDefaultCaption) : ToQString(request.caption);
  const auto buttons = request.buttons == MessageButtons::OkCancel ? (QMessageBox::Ok | QMessageBox::Cancel)
                                                                   : QMessageBox::StandardButtons(QMessageBox::Ok);
  QMessageBox box(QMessageBox::NoIcon, caption, ToQString(request.text), buttons,
                  request.owned && !destroying_ ? this : nullptr);
  box.setDefaultButton(QMessageBox::Ok);
  box.setObjectName(QStringLiteral("messageBox"));
  return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

void SettingsWindow::EndDialog() {
  ending_ = true;
  if (!inCloseEvent_) close();
}

// ---- events ----------------------------------------------------------------------

void SettingsWindow::OnCurrentItemChanged(QTreeWidgetItem* current) {
  if (updatingTree_ || current == nullptr) return;
  logic_->OnTreeSelectionChanged(current->data(0, Qt::UserRole).toInt());
}

// Escape and the window manager's close go to Close, Enter to the default
// button: the logic decides what happens.
void SettingsWindow::reject() {
  if (!ending_) logic_->OnCancel();
}

void SettingsWindow::accept() {
  if (save_->isEnabled()) logic_->OnOk();
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
  if (!ending_) {
    inCloseEvent_ = true;
    logic_->OnCancel();
    inCloseEvent_ = false;
  }
  if (ending_) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace qio::config::qt
