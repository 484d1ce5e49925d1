#include "config/dialog/qt/PageWidgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>

#include "config/dialog/DevicePage.h"
#include "config/dialog/qt/BoardPicture.h"
#include "config/dialog/qt/DialogTemplate.h"

namespace qio::config::qt {

void FillList(QComboBox* list, const std::vector<ListItem>& items) {
  const QSignalBlocker quiet(list);
  list->clear();
  for (const auto& item : items) list->addItem(QString::fromStdString(item.text), item.data);
  list->setCurrentIndex(-1);
}

void SelectQuietly(QComboBox* list, int index) {
  const QSignalBlocker quiet(list);
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// ---- pages -------------------------------------------------------------------

PageWidget::PageWidget(QWidget* parent, int templateId, int widthUnits, int heightUnits) : QWidget(parent) {
  setFixedSize(DuX(widthUnits), DuY(heightUnits));
  setAutoFillBackground(true);
  TagControl(this, -1, nullptr);
  setObjectName(QStringLiteral("template%1").arg(templateId));
  setProperty("templateId", templateId);
}

void PageWidget::MoveTo(int x, int y) {
  move(x, y);
  raise();  // over the tab control, which is the page's sibling
}

void PageWidget::SetVisible(bool visible) { setVisible(visible); }

DevicePageWidget::DevicePageWidget(QWidget* parent, std::function<void(int)> onBaseChosen,
                                   std::function<void(int)> onIrqChosen)
    : PageWidget(parent, kDeviceTemplate, 224, 202) {
  // A picture control takes the size of its bitmap.
  picture_ = new QLabel(this);
  const QPixmap bitmap = BoardPicture();
  picture_->setPixmap(bitmap);
  picture_->setGeometry(DuX(8), DuY(8), bitmap.width(), bitmap.height());
  TagControl(picture_, control::kStatic, "picture");
  picture_->setProperty("bitmapId", kBoardBitmap);

  MakeLabel(this, QStringLiteral("Device Name"), DuRect(161, 12, 50, 11));
  deviceName_ = new QLineEdit(QString::fromLatin1(kDeviceNameText.data(), static_cast<int>(kDeviceNameText.size())),
                              this);
  deviceName_->setGeometry(DuRect(161, 25, 50, 11));
  TagControl(deviceName_, control::kDeviceName);

  MakeLabel(this, QStringLiteral("Base Address"), DuRect(161, 44, 50, 8));
  baseList_ = MakeDropDownList(this, control::kBaseList, 161, 55, 50, 169);
  MakeLabel(this, QStringLiteral("IRQ"), DuRect(161, 74, 50, 8));
  irqList_ = MakeDropDownList(this, control::kIrqList, 161, 84, 50, 12);

  description_ = new QPlainTextEdit(this);
  description_->setGeometry(DuRect(7, 135, 211, 60));
  description_->setReadOnly(true);
  description_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  description_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  TagControl(description_, control::kDescription);

  QObject::connect(baseList_, &QComboBox::activated, this, [onBaseChosen](int index) { onBaseChosen(index); });
  QObject::connect(irqList_, &QComboBox::activated, this, [onIrqChosen](int index) { onIrqChosen(index); });
}

void DevicePageWidget::FillBaseList(const std::vector<ListItem>& items) { FillList(baseList_, items); }
void DevicePageWidget::FillIrqList(const std::vector<ListItem>& items) { FillList(irqList_, items); }
void DevicePageWidget::SelectBase(int index) { SelectQuietly(baseList_, index); }
void DevicePageWidget::SelectIrq(int index) { SelectQuietly(irqList_, index); }

void DevicePageWidget::SetDescription(std::string_view text) {
  description_->setPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

DioPageWidget::DioPageWidget(QWidget* parent, std::function<void(DioList, int)> onDirectionChosen)
    : PageWidget(parent, kDioTemplate, 176, 156) {
  MakeGroupBox(this, QStringLiteral("Digital I/O Port Setting"), DuRect(16, 14, 130, 99));
  struct Row {
    DioList list;
    int controlId;
    const char* label;
    int labelY;
    int listY;
    int dropHeight;
  };
  // In the template's order, top to bottom.
  const Row rows[] = {
      {DioList::PortC4to7, control::kPortC4to7, "PortC 4~7", 30, 27, 33},
      {DioList::PortC0to3, control::kPortC0to3, "PortC 0~3", 50, 48, 32},
      {DioList::PortB, control::kPortB, "PortB 0~7", 71, 69, 33},
      {DioList::PortA, control::kPortA, "PortA 0~7", 91, 90, 34},
  };
  for (const Row& row : rows) {
    MakeLabel(this, QString::fromLatin1(row.label), DuRect(30, row.labelY, 36, 8));
    QComboBox* list = MakeDropDownList(this, row.controlId, 80, row.listY, 49, row.dropHeight);
    list->setProperty("sorted", true);
    lists_[static_cast<std::size_t>(row.list)] = list;
    const DioList which = row.list;
    QObject::connect(list, &QComboBox::activated, this,
                     [onDirectionChosen, which](int index) { onDirectionChosen(which, index); });
  }
}

void DioPageWidget::FillList(DioList which, const std::vector<std::string>& items) {
  std::vector<ListItem> listItems;
  for (std::size_t i = 0; i < items.size(); ++i) listItems.push_back({items[i], static_cast<std::uint32_t>(i)});
  qt::FillList(list(which), listItems);
}

void DioPageWidget::Select(DioList which, int index) { SelectQuietly(list(which), index); }

CounterPageWidget::CounterPageWidget(QWidget* parent) : PageWidget(parent, kCounterTemplate, 157, 125) {
  MakeLabel(this, QStringLiteral("No Configuration Needed"), DuRect(14, 16, 86, 13));
}

}  // namespace qio::config::qt
