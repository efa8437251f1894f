#include "trayagent/agent_pictures.h"

#include <QPainter>
#include <QPainterPath>

QPixmap AgentPixmap(int id, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  const bool running = id == kIconRunning;
  const QColor body = running ? QColor(0x2e, 0x8b, 0x3c) : QColor(0x80, 0x80, 0x80);
  const QColor charge = running ? QColor(0x7c, 0xd9, 0x5a) : QColor(0xc8, 0xc8, 0xc8);

  // The battery: a rounded body with its terminal on the right.
  p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1.5));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(2, 9, 24, 16), 3, 3);
  p.setBrush(QColor(0x20, 0x20, 0x20));
  p.drawRect(QRectF(26, 13.5, 3.5, 7));
  // Its charge.
  p.setPen(Qt::NoPen);
  p.setBrush(charge);
  p.drawRoundedRect(QRectF(4.5, 11.5, running ? 19 : 8, 11), 1.5, 1.5);
  // A lightning bolt: power.
  QPainterPath bolt;
  bolt.moveTo(15.5, 10.5);
  bolt.lineTo(10.5, 18.5);
  bolt.lineTo(14.5, 18.5);
  bolt.lineTo(12.5, 24);
  bolt.lineTo(18.5, 15.5);
  bolt.lineTo(14.5, 15.5);
  bolt.closeSubpath();
  p.setPen(QPen(QColor(0x20, 0x20, 0x20), 0.8));
  p.setBrush(running ? QColor(0xff, 0xd7, 0x00) : QColor(0xf0, 0xf0, 0xf0));
  p.drawPath(bolt);
  return pixmap;
}

QIcon AgentIcon(int id) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(AgentPixmap(id, size));
  return icon;
}
