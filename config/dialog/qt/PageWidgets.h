// The Qt windows of the three tab pages (templates 124, 137 and 148): child
// widgets of the settings window, placed over its tab control. They report
// the user's choices through the callbacks given at construction; selections
// made by the logic report nothing.
#pragma once

#include <QWidget>

#include <array>
#include <functional>

#include "config/dialog/SettingsViews.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace qio::config::qt {

class PageWidget : public QWidget, public virtual PageView {
 public:
  PageWidget(QWidget* parent, int templateId, int widthUnits, int heightUnits);
  void MoveTo(int x, int y) override;
  void SetVisible(bool visible) override;
};

class DevicePageWidget final : public PageWidget, public DevicePageView {
 public:
  DevicePageWidget(QWidget* parent, std::function<void(int)> onBaseChosen, std::function<void(int)> onIrqChosen);

  void FillBaseList(const std::vector<ListItem>& items) override;
  void FillIrqList(const std::vector<ListItem>& items) override;
  void SelectBase(int index) override;
  void SelectIrq(int index) override;
  void SetDescription(std::string_view text) override;

  QComboBox* baseList() const { return baseList_; }
  QComboBox* irqList() const { return irqList_; }

 private:
  QLabel* picture_;
  QLineEdit* deviceName_;
  QComboBox* baseList_;
  QComboBox* irqList_;
  QPlainTextEdit* description_;
};

class DioPageWidget final : public PageWidget, public DioPageView {
 public:
  DioPageWidget(QWidget* parent, std::function<void(DioList, int)> onDirectionChosen);

  void FillList(DioList list, const std::vector<std::string>& items) override;
  void Select(DioList list, int index) override;

  QComboBox* list(DioList which) const { return lists_[static_cast<std::size_t>(which)]; }

 private:
  std::array<QComboBox*, kDioLists> lists_{};
};

class CounterPageWidget final : public PageWidget {
 public:
  explicit CounterPageWidget(QWidget* parent);
};

// Fills a list with texts, storing each item's number as its data; the
// logic's selection follows, so the list starts with none.
void FillList(QComboBox* list, const std::vector<ListItem>& items);
void SelectQuietly(QComboBox* list, int index);

}  // namespace qio::config::qt
