#include "desk/emblem.h"

#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

namespace vellum::desk {

QPixmap DrawEmblem(int size, qreal device_pixel_ratio) {
  const int pixels = static_cast<int>(std::lround(size * device_pixel_ratio));
  QPixmap pixmap(pixels, pixels);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(QStringLiteral(":/moravel-verify.svg"));
  {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
  }
  pixmap.setDevicePixelRatio(device_pixel_ratio);
  return pixmap;
}

QIcon EmblemIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawEmblem(size));
  return icon;
}

}  // namespace vellum::desk
