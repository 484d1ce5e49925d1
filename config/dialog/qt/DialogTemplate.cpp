#include "config/dialog/qt/DialogTemplate.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace qio::config::qt {

QFont TemplateFont() {
  QFont font;
  // Narrow sans-serif faces first: the templates were laid out for a font of
  // six pixels per average character.
  font.setFamilies(QStringList{"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial",
                               "DejaVu Sans Condensed", "DejaVu Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

void ApplyClassicStyle(QWidget* window) {
  QStyle* style = QStyleFactory::create(QStringLiteral("Windows"));
  if (style == nullptr) return;
  style->setParent(window);
  window->setStyle(style);
  for (QWidget* child : window->findChildren<QWidget*>()) child->setStyle(style);
}

void TagControl(QWidget* widget, int controlId, const char* name) {
  widget->setProperty(kControlIdProperty, controlId);
  if (name != nullptr) {
    widget->setObjectName(QString::fromLatin1(name));
  } else {
    widget->setObjectName(QStringLiteral("control%1").arg(controlId));
  }
}

QWidget* FindControl(QWidget* root, int controlId) {
  if (root == nullptr) return nullptr;
  for (QWidget* child : root->findChildren<QWidget*>()) {
    const QVariant id = child->property(kControlIdProperty);
    if (id.isValid() && id.toInt() == controlId) return child;
  }
  return nullptr;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  TagControl(label, -1, nullptr);
  label->setObjectName(QStringLiteral("label:") + text);
  return label;
}

QGroupBox* MakeGroupBox(QWidget* parent, const QString& text, QRect geometry) {
  auto* group = new QGroupBox(text, parent);
  group->setGeometry(geometry);
  TagControl(group, -1, nullptr);
  group->setObjectName(QStringLiteral("group:") + text);
  return group;
}

QPushButton* MakeButton(QWidget* parent, int controlId, const QString& text, QRect geometry) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(geometry);
  TagControl(button, controlId);
  return button;
}

QComboBox* MakeDropDownList(QWidget* parent, int controlId, int x, int y, int width, int dropHeight) {
  auto* list = new QComboBox(parent);
  list->setGeometry(DuX(x), DuY(y), DuX(width), kComboPixelHeight);
  list->setEditable(false);
  list->setProperty("dropHeight", dropHeight);
  TagControl(list, controlId);
  return list;
}

}  // namespace qio::config::qt
