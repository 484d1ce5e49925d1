// The board picture of the Device page: a drawn illustration of a PC/104
// module with the parts a user sets up: the bus connectors, the DIO and
// counter headers, the base-address switch and the IRQ jumpers.
#include "config/dialog/qt/BoardPicture.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace qio::config::qt {
namespace {

const QColor kBackground(0xF0, 0xF0, 0xF0);
const QColor kBoard(0x1E, 0x6B, 0x3C);
const QColor kBoardEdge(0x12, 0x45, 0x26);
const QColor kTrace(0x2F, 0x85, 0x4E);
const QColor kCopper(0xD4, 0xAF, 0x37);
const QColor kPlastic(0x22, 0x22, 0x22);
const QColor kChip(0x2B, 0x2B, 0x2E);
const QColor kSilk(0xF4, 0xF4, 0xEC);

// A row-by-row grid of square gold pins in a black housing.
void PinHeader(QPainter& p, int x, int y, int columns, int rows, int pitch, bool shrouded) {
  const int margin = shrouded ? 3 : 1;
  const QRect housing(x - margin, y - margin, columns * pitch + 2 * margin - 1, rows * pitch + 2 * margin - 1);
  p.setPen(Qt::NoPen);
  p.setBrush(kPlastic);
  p.drawRect(housing);
  if (shrouded) {
    // Polarisation notch in the middle of the long side.
    p.setBrush(kBoard);
    p.drawRect(housing.center().x() - 4, housing.top(), 8, 2);
  }
  p.setBrush(kCopper);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) p.drawRect(x + c * pitch + 1, y + r * pitch + 1, pitch - 3, pitch - 3);
  }
}

void MountingHole(QPainter& p, QPoint centre) {
  p.setPen(Qt::NoPen);
  p.setBrush(kCopper);
  p.drawEllipse(centre, 6, 6);
  p.setBrush(kBackground);
  p.drawEllipse(centre, 3, 3);
}

// A dual-in-line package with its legs along the long sides.
void DipChip(QPainter& p, QRect body, int legsPerSide, const QString& marking) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xB8, 0xB8, 0xB8));
  const int pitch = body.width() / legsPerSide;
  for (int i = 0; i < legsPerSide; ++i) {
    const int x = body.left() + i * pitch + pitch / 2 - 1;
    p.drawRect(x, body.top() - 2, 2, 2);
    p.drawRect(x, body.bottom() + 1, 2, 2);
  }
  p.setBrush(kChip);
  p.drawRect(body);
  p.setBrush(QColor(0x55, 0x55, 0x58));
  p.drawEllipse(QPoint(body.left() + 3, body.center().y()), 2, 2);
  p.setPen(QColor(0xC8, 0xC8, 0xC8));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(6);
  p.setFont(font);
  p.drawText(body, Qt::AlignCenter, marking);
}

// A square package with legs on all four sides.
void QuadChip(QPainter& p, QRect body, const QString& marking) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xB8, 0xB8, 0xB8));
  for (int i = 2; i < body.width() - 2; i += 3) {
    p.drawRect(body.left() + i, body.top() - 3, 1, 3);
    p.drawRect(body.left() + i, body.bottom() + 1, 1, 3);
  }
  for (int i = 2; i < body.height() - 2; i += 3) {
    p.drawRect(body.left() - 3, body.top() + i, 3, 1);
    p.drawRect(body.right() + 1, body.top() + i, 3, 1);
  }
  p.setBrush(kChip);
  p.drawRect(body);
  p.setPen(QColor(0xC8, 0xC8, 0xC8));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(7);
  font.setBold(true);
  p.setFont(font);
  p.drawText(body, Qt::AlignCenter, marking);
}

void DipSwitch(QPainter& p, QRect body, int switches, unsigned onMask) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1F, 0x4E, 0xA8));
  p.drawRect(body);
  const int pitch = (body.width() - 4) / switches;
  for (int i = 0; i < switches; ++i) {
    const QRect slot(body.left() + 3 + i * pitch, body.top() + 2, pitch - 2, body.height() - 4);
    p.setBrush(QColor(0x10, 0x2A, 0x60));
    p.drawRect(slot);
    p.setBrush(Qt::white);
    const bool on = ((onMask >> i) & 1u) != 0;
    p.drawRect(slot.left(), on ? slot.top() : slot.center().y(), slot.width(), slot.height() / 2);
  }
}

void Silk(QPainter& p, QRect area, const QString& text, int pixelSize, int flags = Qt::AlignCenter) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixelSize);
  font.setBold(true);
  p.setFont(font);
  p.setPen(kSilk);
  p.drawText(area, flags, text);
}

void Traces(QPainter& p) {
  p.setPen(QPen(kTrace, 1));
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 8; ++i) {
    QPainterPath path;
    path.moveTo(44 + i * 4, 168);
    path.lineTo(44 + i * 4, 150 - i * 2);
    path.lineTo(86, 122 - i * 3);
    p.drawPath(path);
  }
  for (int i = 0; i < 6; ++i) {
    QPainterPath path;
    path.moveTo(60 + i * 10, 32);
    path.lineTo(60 + i * 10, 50);
    path.lineTo(92 + i * 3, 66);
    p.drawPath(path);
  }
  for (int i = 0; i < 5; ++i) p.drawLine(134, 82 + i * 4, 170, 82 + i * 4);
}

}  // namespace

QPixmap BoardPicture() {
  QImage image(kBoardPictureWidth, kBoardPictureHeight, QImage::Format_RGB888);
  image.fill(kBackground);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);

  // The printed circuit board, 90 x 96 mm at about 2 pixels per millimetre.
  const QRectF board(4.5, 3.5, 196, 190);
  p.setPen(QPen(kBoardEdge, 2));
  p.setBrush(kBoard);
  p.drawRoundedRect(board, 6, 6);
  p.setRenderHint(QPainter::Antialiasing, false);
  Traces(p);

  MountingHole(p, QPoint(14, 13));
  MountingHole(p, QPoint(191, 13));
  MountingHole(p, QPoint(14, 184));
  MountingHole(p, QPoint(191, 184));

  // Stack-through bus connectors: the 64-pin connector along the bottom
  // edge, the 40-pin one along the left.
  PinHeader(p, 30, 172, 32, 2, 4, false);
  Silk(p, QRect(30, 160, 40, 10), QStringLiteral("J1"), 7, Qt::AlignLeft | Qt::AlignVCenter);
  PinHeader(p, 10, 34, 2, 20, 4, false);
  Silk(p, QRect(20, 26, 20, 10), QStringLiteral("J2"), 7, Qt::AlignLeft | Qt::AlignVCenter);

  // Field connectors: 50-pin DIO header (24 lines) and 20-pin counter header.
  PinHeader(p, 46, 14, 25, 2, 4, true);
  Silk(p, QRect(46, 24, 100, 10), QStringLiteral("CN1  DIO"), 6, Qt::AlignLeft | Qt::AlignVCenter);
  PinHeader(p, 182, 40, 2, 10, 4, true);
  Silk(p, QRect(150, 64, 30, 10), QStringLiteral("CN2"), 6, Qt::AlignRight | Qt::AlignVCenter);

  // Base-address switch and interrupt jumpers.
  DipSwitch(p, QRect(36, 44, 40, 14), 6, 0b110100);
  Silk(p, QRect(36, 58, 40, 9), QStringLiteral("BASE"), 6);
  PinHeader(p, 132, 44, 9, 2, 4, false);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x10, 0x10, 0x10));
  p.drawRect(140, 43, 4, 9);  // jumper cap on the third line
  Silk(p, QRect(132, 54, 36, 9), QStringLiteral("IRQ"), 6);

  // Logic: the counter/timer controller, the parallel-port chip, the
  // oscillator and the bus buffers.
  QuadChip(p, QRect(86, 70, 40, 40), QStringLiteral("QIO\n5162"));
  DipChip(p, QRect(40, 128, 70, 16), 20, QStringLiteral("PPI 24-CH"));
  DipChip(p, QRect(132, 124, 30, 12), 10, QStringLiteral("BUF"));
  DipChip(p, QRect(132, 144, 30, 12), 10, QStringLiteral("BUF"));
  p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
  p.setBrush(QColor(0xD8, 0xD8, 0xDC));
  p.drawRoundedRect(QRect(40, 84, 22, 14), 3, 3);
  p.setPen(QColor(0x30, 0x30, 0x30));
  QFont small(QStringLiteral("DejaVu Sans"));
  small.setPixelSize(5);
  p.setFont(small);
  p.drawText(QRect(40, 84, 22, 14), Qt::AlignCenter, QStringLiteral("20.000"));

  // Decoupling capacitors and a resistor network.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xC9, 0x9B, 0x4A));
  for (int i = 0; i < 4; ++i) p.drawRect(136 + i * 9, 108, 5, 3);
  p.setBrush(QColor(0x20, 0x20, 0x20));
  p.drawRect(76, 150, 40, 5);

  Silk(p, QRect(118, 158, 76, 11), QStringLiteral("QIO-5162"), 9, Qt::AlignRight | Qt::AlignVCenter);
  Silk(p, QRect(132, 26, 40, 9), QStringLiteral("PC/104"), 6, Qt::AlignLeft | Qt::AlignVCenter);
  p.end();
  return QPixmap::fromImage(image);
}

}  // namespace qio::config::qt
