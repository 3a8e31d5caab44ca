#include "desk/emblem.h"

#include <QPainter>
#include <QPainterPath>

namespace vellum::desk {

// Drawn on a 64-unit grid, the grid of the SVG.
QPixmap DrawEmblem(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);

  // The sheet with its folded corner.
  QPainterPath sheet;
  sheet.moveTo(12, 4);
  sheet.lineTo(40, 4);
  sheet.lineTo(52, 16);
  sheet.lineTo(52, 60);
  sheet.lineTo(12, 60);
  sheet.closeSubpath();
  painter.setPen(QPen(QColor(0x3b, 0x4a, 0x5c), 2));
  painter.setBrush(QColor(0xf7, 0xf4, 0xea));
  painter.drawPath(sheet);
  QPainterPath fold;
  fold.moveTo(40, 4);
  fold.lineTo(40, 16);
  fold.lineTo(52, 16);
  painter.setBrush(QColor(0xd9, 0xd3, 0xc0));
  painter.drawPath(fold);

  // Lines of writing.
  painter.setPen(QPen(QColor(0x8a, 0x94, 0xa3), 2.5, Qt::SolidLine, Qt::RoundCap));
  for (int y : {24, 31, 38}) painter.drawLine(QPointF(18, y), QPointF(y == 24 ? 36 : 46, y));

  // The seal with its check mark.
  painter.setPen(QPen(QColor(0x7a, 0x12, 0x1c), 2));
  painter.setBrush(QColor(0xb3, 0x1b, 0x2a));
  painter.drawEllipse(QPointF(44, 48), 13, 13);
  painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  QPainterPath check;
  check.moveTo(37.5, 48.5);
  check.lineTo(42.5, 53.5);
  check.lineTo(51, 43);
  painter.drawPath(check);
  return pixmap;
}

}  // namespace vellum::desk
