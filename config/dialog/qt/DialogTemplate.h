// Building Qt widgets from dialog templates: positions and sizes in dialog
// units, the template font, and the control identifiers.
//
// A dialog unit is a quarter of the template font's average character width
// horizontally and an eighth of its height vertically; for 8-point
// "MS Sans Serif" at 96 dpi that is 6 x 13 pixels per character, so 1.5
// pixels per horizontal unit and 1.625 per vertical unit. Every control keeps
// its template identifier in the property "controlId" (-1 for labels, group
// boxes and pictures) and in its object name ("control1123").
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QWidget;
class QComboBox;
class QLabel;
class QGroupBox;
class QPushButton;

namespace qio::config::qt {

inline constexpr char kControlIdProperty[] = "controlId";

// Dialog units -> pixels, rounded like the toolkit's dialog-rectangle mapping.
constexpr int DuX(int units) { return (units * 6 + 2) / 4; }
constexpr int DuY(int units) { return (units * 13 + 4) / 8; }
inline QRect DuRect(int x, int y, int width, int height) { return QRect(DuX(x), DuY(y), DuX(width), DuY(height)); }

// Height of a drop-down list's closed box for the template font. A template
// gives drop-down lists the height of their opened list instead.
inline constexpr int kComboPixelHeight = 21;

// 8-point "MS Sans Serif" (11 pixels), or the closest sans-serif font there is.
QFont TemplateFont();

// Gives `window` and every widget below it the classic desktop look the
// templates were drawn for (tree lines, flat dialog-coloured panels). Call
// once all controls exist; the style object is the window's child.
void ApplyClassicStyle(QWidget* window);

// Records a control's identifier; `name` (may be null) is the object name
// for controls without one.
void TagControl(QWidget* widget, int controlId, const char* name = nullptr);
// The control with this identifier below `root`, or null.
QWidget* FindControl(QWidget* root, int controlId);

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect geometry);
QGroupBox* MakeGroupBox(QWidget* parent, const QString& text, QRect geometry);
QPushButton* MakeButton(QWidget* parent, int controlId, const QString& text, QRect geometry);
// A drop-down list at (x, y) dialog units, `width` units wide; `dropHeight`
// is the template's height of the opened list.
QComboBox* MakeDropDownList(QWidget* parent, int controlId, int x, int y, int width, int dropHeight);

}  // namespace qio::config::qt
