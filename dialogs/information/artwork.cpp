#include "dialogs/information/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <functional>
#include <utility>

#include "core/base/setup_data.h"

namespace {

struct SourceSize {
  int bitmap;
  int width;
  int height;
};

constexpr SourceSize kSizes[] = {
    {188, 213, 172},
    {193, 213, 172},
    {197, 399, 492},
    {198, 361, 228},
    {199, 400, 568},
    {236, 202, 280},
    {243, 200, 123},
    {251, 202, 163},
    {252, 202, 353},
    {253, 202, 280},
    {257, 200, 139},
    {258, 190, 251},
    {260, 202, 176},
    {262, 202, 135},
    {265, 202, 280},
    // Logos.
    {203, 252, 84},
    {204, 155, 76},
    {214, 129, 19},
    {231, 130, 100},
    {250, 155, 76},
};

// A cabinet seen from the front: tall pictures are towers, wide ones rack or desk units.
void DrawCabinet(QPainter& p, const QRectF& r, int bitmap) {
  const bool tower = r.height() > r.width() * 1.1;
  const qreal radius = std::min(r.width(), r.height()) * 0.05;
  QLinearGradient body(r.topLeft(), r.topRight());
  body.setColorAt(0.0, QColor(58, 62, 68));
  body.setColorAt(0.5, QColor(88, 94, 102));
  body.setColorAt(1.0, QColor(46, 50, 55));
  p.setPen(QPen(QColor(30, 32, 36), 1.5));
  p.setBrush(body);
  p.drawRoundedRect(r, radius, radius);

  // Front panel with a display and three lamps.
  const qreal pw = r.width() * (tower ? 0.62 : 0.34);
  const qreal ph = std::min(r.height() * (tower ? 0.16 : 0.42), pw * 0.6);
  const QRectF panel(r.left() + (tower ? (r.width() - pw) / 2 : r.width() * 0.07),
                     r.top() + r.height() * (tower ? 0.08 : 0.29), pw, ph);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(28, 30, 33));
  p.drawRoundedRect(panel, radius * 0.6, radius * 0.6);
  const QRectF display = panel.adjusted(pw * 0.08, ph * 0.12, -pw * 0.08, -ph * 0.45);
  p.setBrush(QColor(96, 170, 120));
  p.drawRect(display);
  const QColor lamps[] = {QColor(80, 210, 90), QColor(235, 180, 40), QColor(220, 60, 50)};
  const qreal d = std::max<qreal>(2.0, ph * 0.16);
  for (int i = 0; i < 3; ++i) {
    p.setBrush(lamps[i]);
    p.drawEllipse(QPointF(panel.left() + pw * (0.25 + 0.25 * i), panel.bottom() - ph * 0.22), d / 2, d / 2);
  }

  // Ventilation slotCount; their count varies a little with the model so the pictures differ.
  p.setPen(QPen(QColor(36, 38, 42), std::max<qreal>(1.0, r.height() * 0.008)));
  const int slotCount = 6 + bitmap % 5;
  if (tower) {
    const qreal top = panel.bottom() + r.height() * 0.08;
    const qreal step = (r.bottom() - r.height() * 0.08 - top) / slotCount;
    for (int i = 0; i < slotCount; ++i) {
      const qreal y = top + step * i;
      p.drawLine(QPointF(r.left() + r.width() * 0.18, y), QPointF(r.right() - r.width() * 0.18, y));
    }
  } else {
    const qreal left = panel.right() + r.width() * 0.08;
    const qreal step = (r.right() - r.width() * 0.07 - left) / slotCount;
    for (int i = 0; i < slotCount; ++i) {
      const qreal x = left + step * i;
      p.drawLine(QPointF(x, r.top() + r.height() * 0.22), QPointF(x, r.bottom() - r.height() * 0.22));
    }
  }
}

QPixmap Cached(int key, const QSize& size, const std::function<void(QPainter&, const QRectF&)>& draw) {
  static QMap<std::pair<int, std::pair<int, int>>, QPixmap> cache;
  const auto k = std::make_pair(key, std::make_pair(size.width(), size.height()));
  auto it = cache.find(k);
  if (it != cache.end()) return *it;
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  {
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, QRectF(QPointF(0, 0), QSizeF(size)));
  }
  cache.insert(k, pixmap);
  return pixmap;
}

QColor VendorColour(int bitmap) {
  switch (bitmap) {
    case 203:
      return QColor(26, 82, 148);
    case 204:
      return QColor(160, 28, 36);
    case 214:
      return QColor(24, 110, 70);
    case 231:
      return QColor(90, 60, 130);
    default:
      return QColor(180, 100, 20);
  }
}

}  // namespace

QSize ArtworkSourceSize(int bitmap) {
  for (const SourceSize& s : kSizes) {
    if (s.bitmap == bitmap) return QSize(s.width, s.height);
  }
  return QSize();
}

QPixmap UpsArtwork(int bitmap) {
  const QSize size = ArtworkSourceSize(bitmap);
  if (!size.isValid()) return QPixmap();
  return Cached(bitmap, size,
                [bitmap](QPainter& p, const QRectF& r) { DrawCabinet(p, r.adjusted(2, 2, -2, -2), bitmap); });
}

QPixmap LogoArtwork(int bitmap) {
  const QSize size = ArtworkSourceSize(bitmap);
  if (!size.isValid() || bitmap < 203 || bitmap == 236) return QPixmap();
  const QString name = QString::fromStdString(VendorName(bitmap));
  return Cached(bitmap, size, [bitmap, name](QPainter& p, const QRectF& r) {
    const QRectF plate = r.adjusted(1, 1, -1, -1);
    p.setPen(Qt::NoPen);
    p.setBrush(VendorColour(bitmap));
    const qreal radius = std::min(plate.width(), plate.height()) * 0.18;
    p.drawRoundedRect(plate, radius, radius);
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(8, static_cast<int>(plate.height() * 0.5)));
    QFontMetricsF metrics(font);
    const qreal fit = plate.width() * 0.86 / std::max<qreal>(1.0, metrics.horizontalAdvance(name));
    if (fit < 1.0) font.setPixelSize(std::max(6, static_cast<int>(font.pixelSize() * fit)));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(plate, Qt::AlignCenter, name);
  });
}

QPixmap ReceptacleArtwork(int bitmap, int size) {
  return Cached(bitmap, QSize(size, size), [bitmap](QPainter& p, const QRectF& r) {
    // An outlet face; its ring tells the state: green on, red off, grey unknown. The "down"
    // pictures are the pressed look of the same face.
    const bool down = bitmap == 213 || bitmap == 212;
    QColor ring = bitmap == 209 || bitmap == 213   ? QColor(46, 160, 67)
                  : bitmap == 210 || bitmap == 212 ? QColor(200, 50, 45)
                                                   : QColor(140, 140, 140);
    const QRectF face = r.adjusted(3, 3, -3, -3).translated(down ? 1 : 0, down ? 1 : 0);
    p.setPen(QPen(ring, std::max<qreal>(2.0, r.width() * 0.08)));
    p.setBrush(down ? QColor(225, 225, 225) : QColor(245, 245, 245));
    p.drawRoundedRect(face, face.width() * 0.2, face.width() * 0.2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 60));
    const qreal w = face.width();
    p.drawRoundedRect(QRectF(face.left() + w * 0.3, face.top() + w * 0.28, w * 0.1, w * 0.26), 1, 1);
    p.drawRoundedRect(QRectF(face.left() + w * 0.6, face.top() + w * 0.28, w * 0.1, w * 0.26), 1, 1);
    p.drawEllipse(QPointF(face.center().x(), face.top() + w * 0.72), w * 0.07, w * 0.07);
  });
}
