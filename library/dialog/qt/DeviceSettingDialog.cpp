// libZqs5162Dialog.so: the view of the on-device configuration dialog,
// template 101 "QIO-5162 Device Setting" (194 x 137 dialog units, 8-point
// "MS Sans Serif"), as a modal Qt dialog. The library loads this module when
// DeviceConfig is called; the logic stays in the library and reaches the
// controls only through DeviceConfigView.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>

#include <map>
#include <memory>

#include "DeviceConfigView.h"

namespace qio::library::dialog {
namespace {

// Dialog units -> pixels for 6 x 13-pixel characters.
constexpr int DuX(int units) { return (units * 6 + 2) / 4; }
constexpr int DuY(int units) { return (units * 13 + 4) / 8; }
QRect DuRect(int x, int y, int w, int h) { return QRect(DuX(x), DuY(y), DuX(w), DuY(h)); }
constexpr int kComboPixelHeight = 21;

QFont TemplateFont() {
  QFont font;
  font.setFamilies(QStringList{"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial",
                               "DejaVu Sans Condensed", "DejaVu Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

void Tag(QWidget* widget, int controlId, const QString& name) {
  widget->setProperty("controlId", controlId);
  widget->setObjectName(name);
}

class DeviceSettingDialog final : public QDialog, public DeviceConfigView {
 public:
  DeviceSettingDialog(DeviceConfigController& controller, QWidget* parent)
      : QDialog(parent), controller_(controller) {
    setWindowTitle(QStringLiteral("QIO-5162 Device Setting"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(TemplateFont());
    setFixedSize(DuX(194), DuY(137));
    setObjectName(QStringLiteral("template%1").arg(kDialogTemplate));
    setProperty("templateId", kDialogTemplate);

    Group(QStringLiteral("Digital I/O Port Setting"), DuRect(7, 7, 114, 95));
    Label(QStringLiteral("Port C 4~7"), DuRect(25, 28, 41, 8));
    List(kPortCHighList, 77, 25, 35, 78);
    Label(QStringLiteral("Port C 0~3"), DuRect(25, 47, 41, 8));
    List(kPortCLowList, 77, 43, 35, 75);
    Label(QStringLiteral("Port B 0~7"), DuRect(25, 66, 41, 8));
    List(kPortBList, 77, 63, 35, 62);
    Label(QStringLiteral("Port A 0~7"), DuRect(25, 84, 41, 8));
    List(kPortAList, 77, 82, 35, 57);
    Group(QStringLiteral("BaseAddress"), DuRect(126, 7, 55, 43));
    List(kBaseList, 134, 25, 38, 189)->setProperty("sorted", true);
    Group(QStringLiteral("IRQ"), DuRect(127, 57, 55, 45));
    List(kIrqList, 136, 75, 36, 96)->setProperty("sorted", true);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(DuRect(88, 114, 44, 14));
    ok->setDefault(true);
    Tag(ok, kOkButton, QStringLiteral("control%1").arg(kOkButton));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(DuRect(136, 114, 44, 14));
    cancel->setAutoDefault(false);
    Tag(cancel, kCancelButton, QStringLiteral("control%1").arg(kCancelButton));
    connect(ok, &QPushButton::clicked, this, [this] { controller_.OnOk(); });
    connect(cancel, &QPushButton::clicked, this, [this] { controller_.OnCancel(); });

    // The classic desktop look the template was drawn for.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows")); style != nullptr) {
      style->setParent(this);
      setStyle(style);
      for (QWidget* child : findChildren<QWidget*>()) child->setStyle(style);
    }
  }

  // ---- DeviceConfigView ----
  void AddItem(int controlId, const char* text) override {
    if (QComboBox* list = Find(controlId); list != nullptr) {
      const QSignalBlocker quiet(list);
      list->addItem(QString::fromUtf8(text));
      list->setCurrentIndex(-1);
    }
  }
  void SelectItem(int controlId, int index) override {
    if (QComboBox* list = Find(controlId); list != nullptr) {
      const QSignalBlocker quiet(list);
      list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
    }
  }
  int SelectedItem(int controlId) const override {
    const auto it = lists_.find(controlId);
    return it == lists_.end() ? -1 : it->second->currentIndex();
  }
  void ShowError(const char* text, const char* caption) override {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(caption), QString::fromUtf8(text), QMessageBox::Ok,
                    this);
    box.exec();
  }
  void EndDialog(int code) override {
    ended_ = true;
    done(code);
  }

  bool ended() const { return ended_; }

 protected:
  // Escape and the close button are Cancel.
  void reject() override {
    if (!ended_) controller_.OnCancel();
  }

 private:
  void Group(const QString& text, QRect geometry) {
    auto* group = new QGroupBox(text, this);
    group->setGeometry(geometry);
    Tag(group, -1, QStringLiteral("group:") + text);
  }
  void Label(const QString& text, QRect geometry) {
    auto* label = new QLabel(text, this);
    label->setGeometry(geometry);
    Tag(label, -1, QStringLiteral("label:") + text);
  }
  QComboBox* List(int controlId, int x, int y, int width, int dropHeight) {
    auto* list = new QComboBox(this);
    list->setGeometry(DuX(x), DuY(y), DuX(width), kComboPixelHeight);
    list->setProperty("dropHeight", dropHeight);
    Tag(list, controlId, QStringLiteral("control%1").arg(controlId));
    lists_[controlId] = list;
    return list;
  }
  QComboBox* Find(int controlId) const {
    const auto it = lists_.find(controlId);
    return it == lists_.end() ? nullptr : it->second;
  }

  DeviceConfigController& controller_;
  std::map<int, QComboBox*> lists_;
  bool ended_ = false;
};

int Run(DeviceConfigController& controller, void* parent, const char* screenshotPath) {
  std::unique_ptr<QApplication> ownApplication;
  if (QCoreApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "Zqs5162";
    static char* argv[] = {name, nullptr};
    ownApplication = std::make_unique<QApplication>(argc, argv);
  } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr ||
             QThread::currentThread() != QCoreApplication::instance()->thread()) {
    return kEndNotCreated;  // no widgets here, or not the user-interface thread
  }

  int code = kEndNotCreated;
  {
    DeviceSettingDialog dialog(controller, static_cast<QWidget*>(parent));
    controller.OnInitDialog(dialog);
    if (dialog.ended()) return dialog.result();
    if (screenshotPath != nullptr) {
      dialog.show();
      QApplication::processEvents();
      dialog.grab().save(QString::fromLocal8Bit(screenshotPath), "PNG");
      controller.OnCancel();
      return dialog.result();
    }
    code = dialog.exec();
  }
  return code;
}

}  // namespace
}  // namespace qio::library::dialog

extern "C" __attribute__((visibility("default"))) int Zqs5162RunDeviceDialog(
    qio::library::dialog::DeviceConfigController* controller, void* parent, const char* screenshotPath) {
  if (controller == nullptr) return qio::library::dialog::kEndNotCreated;
  try {
    return qio::library::dialog::Run(*controller, parent, screenshotPath);
  } catch (...) {
    return qio::library::dialog::kEndNotCreated;
  }
}
