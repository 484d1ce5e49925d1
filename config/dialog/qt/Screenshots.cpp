#include "config/dialog/qt/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QTabBar>
#include <QTreeWidget>

#include "config/dialog/TemplateSettingsDialog.h"
#include "config/dialog/qt/PageWidgets.h"
#include "config/dialog/qt/SettingsWindow.h"

namespace qio::config::qt {
namespace {

class Shooter {
 public:
  explicit Shooter(const QString& directory) : dir_(directory) {}

  void Take(QWidget* widget, const QString& name) {
    QApplication::processEvents();
    const QString path = dir_.filePath(name + QStringLiteral(".png"));
    if (widget != nullptr && widget->grab().save(path, "PNG")) written_ << path;
  }

  void Box(const QString& name, const QString& caption, const QString& text, bool okCancel, QWidget* owner) {
    QMessageBox box(QMessageBox::NoIcon, caption, text,
                    okCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::StandardButtons(QMessageBox::Ok),
                    owner);
    box.setDefaultButton(QMessageBox::Ok);
    box.show();
    Take(&box, name);
  }

  QStringList written() const { return written_; }

 private:
  QDir dir_;
  QStringList written_;
};

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

QStringList RenderScreenshots(SettingsWindow* window, const QString& directory) {
  QDir().mkpath(directory);
  Shooter shoot(directory);
  QPointer<SettingsWindow> guard(window);
  // Every question is answered without a person; the last one, Close's offer
  // to save, with Cancel.
  SettingsWindow::SetMessageResponder([](const MessageRequest& request) {
    return request.buttons == MessageButtons::OkCancel ? MessageAnswer::Cancel : MessageAnswer::Ok;
  });
  window->show();
  TemplateSettingsDialog& logic = window->logic();

  // The board item alone: no page.
  window->tree()->setCurrentItem(window->treeItem(logic.boardItem()));
  shoot.Take(window, QStringLiteral("settings-board"));

  TreeItemId first = logic.tree().FirstChild(logic.boardItem());
  if (first == kNoTreeItem) {
    logic.OnAdd();  // in memory only
    first = logic.tree().FirstChild(logic.boardItem());
  }
  window->tree()->setCurrentItem(window->treeItem(first));
  const char* names[kPageCount] = {"settings-device", "settings-dio", "settings-counter"};
  for (int tab = 0; tab < kPageCount; ++tab) {
    window->tabBar()->setCurrentIndex(tab);
    shoot.Take(window, QString::fromLatin1(names[tab]));
  }
  window->tabBar()->setCurrentIndex(kDeviceTab);
  shoot.Take(window->devicePage(), QStringLiteral("page-device"));
  shoot.Take(window->dioPage(), QStringLiteral("page-dio"));
  shoot.Take(window->counterPage(), QStringLiteral("page-counter"));

  shoot.Box(QStringLiteral("message-templates"), QStringLiteral("QIO5162Cfg"), Q(kTooManyTemplatesMessage), false,
            window);
  shoot.Box(QStringLiteral("message-no-free-irq"), Q(kWarningCaption), Q(kNoFreeIrqMessage), false, window);
  shoot.Box(QStringLiteral("message-same-irq"), Q(kWarningCaption), Q(kSameIrqMessage), false, window);
  shoot.Box(QStringLiteral("message-save"), Q(kNoteCaption), Q(kSaveChangesMessage), true, window);

  logic.OnCancel();
  SettingsWindow::SetMessageResponder({});
  if (!guard.isNull()) delete guard.data();
  return shoot.written();
}

}  // namespace qio::config::qt
