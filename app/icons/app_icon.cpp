#include "app/icons/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace tovalink {

QPixmap DrawApplicationIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // Everything is drawn on a 64-unit grid and scaled, so that small sizes keep the shapes.
  painter.scale(size / 64.0, size / 64.0);

  // Tile: a deep teal rounded square.
  QLinearGradient tile(0, 0, 0, 64);
  tile.setColorAt(0, QColor(0x16, 0x8a, 0x9c));
  tile.setColorAt(1, QColor(0x0b, 0x4f, 0x6c));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

  // Handset: a white body with a dark screen and a keypad of dots.
  painter.setBrush(QColor(0xf4, 0xf7, 0xf8));
  painter.drawRoundedRect(QRectF(14, 14, 22, 40), 4, 4);
  painter.setBrush(QColor(0x12, 0x3a, 0x4a));
  painter.drawRoundedRect(QRectF(17, 18, 16, 13), 1.5, 1.5);
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      painter.drawEllipse(QPointF(19.5 + column * 5.5, 36 + row * 5), 1.6, 1.6);
    }
  }
  // Antenna.
  painter.setBrush(QColor(0xf4, 0xf7, 0xf8));
  painter.drawRoundedRect(QRectF(30, 7, 3.5, 9), 1.5, 1.5);

  // Signal: three amber arcs beside the antenna.
  QPen arc(QColor(0xff, 0xb3, 0x1f), 3.2, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(arc);
  painter.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) {
    const double radius = 6 + i * 6;
    painter.drawArc(QRectF(32 - radius, 11 - radius, 2 * radius, 2 * radius), 0 * 16, 75 * 16);
  }

  // Reload: a green circular arrow at the lower right, the credit going out.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xf4, 0xf7, 0xf8));
  painter.drawEllipse(QPointF(46, 45), 12, 12);
  QPen loop(QColor(0x2e, 0xa0, 0x43), 3.6, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(loop);
  painter.drawArc(QRectF(39, 38, 14, 14), 100 * 16, 280 * 16);
  QPainterPath head;
  head.moveTo(44.5, 33.5);
  head.lineTo(50.5, 38.2);
  head.lineTo(44.0, 42.0);
  head.closeSubpath();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x2e, 0xa0, 0x43));
  painter.drawPath(head);
  return pixmap;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawApplicationIcon(size));
  return icon;
}

}  // namespace tovalink
