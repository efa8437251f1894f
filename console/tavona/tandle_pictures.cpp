#include "console/tavona/tandle_pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

#include "console/tavona/tavona_ids.h"

namespace tavona {

namespace {

struct PictureRow {
  int id;
  PictureKind kind;
  int mode, subMode, level;
};

constexpr PictureRow kPictures[] = {
    {316, PictureKind::Computer, 0, 0, 0},   {334, PictureKind::Computer, 0, 0, 1},
    {335, PictureKind::Computer, 0, 0, 2},   {313, PictureKind::Computer, 1, 0, 1},
    {312, PictureKind::Computer, 1, 1, 1},   {336, PictureKind::Computer, 1, 1, 2},
    {311, PictureKind::Computer, 2, 0, 2},   {310, PictureKind::Computer, 2, 1, 2},
    {306, PictureKind::Ups, 0, 0, 0},        {341, PictureKind::Ups, 0, 0, 1},
    {345, PictureKind::Ups, 0, 0, 2},        {295, PictureKind::Ups, 0, 1, 0},
    {342, PictureKind::Ups, 0, 1, 2},        {293, PictureKind::Ups, 0, 2, 0},
    {339, PictureKind::Ups, 0, 2, 1},        {338, PictureKind::Ups, 0, 2, 2},
    {292, PictureKind::Ups, 0, 3, 0},        {340, PictureKind::Ups, 0, 3, 2},
    {291, PictureKind::Ups, 1, 0, 1},        {290, PictureKind::Ups, 1, 1, 1},
    {289, PictureKind::Ups, 1, 2, 1},        {288, PictureKind::Ups, 1, 3, 1},
    {305, PictureKind::Ups, 2, 0, 2},        {320, PictureKind::Ups, 2, 1, 2},
    {287, PictureKind::Ups, 2, 2, 2},        {304, PictureKind::Ups, 2, 3, 2},
    {326, PictureKind::Receptacle, 0, 0, 0}, {343, PictureKind::Receptacle, 0, 0, 1},
    {344, PictureKind::Receptacle, 0, 0, 2}, {324, PictureKind::Receptacle, 0, 2, 0},
    {323, PictureKind::Receptacle, 1, 0, 1}, {322, PictureKind::Receptacle, 1, 2, 1},
    {321, PictureKind::Receptacle, 2, 0, 2}, {303, PictureKind::Receptacle, 2, 2, 2},
};

const QColor kInk(0x2b, 0x35, 0x42);
const QColor kCase(0xe4, 0xe8, 0xee);
const QColor kCaseDark(0xb9, 0xc1, 0xcc);
const QColor kGood(0x2e, 0x9d, 0x48);
const QColor kWarn(0xe0, 0x84, 0x00);
const QColor kBad(0xc6, 0x28, 0x28);
const QColor kInfo(0x2b, 0x6c, 0xb0);

QColor LevelColour(int level) {
  return level >= 2 ? kBad : level == 1 ? kWarn : kGood;
}

enum class Glyph { Check, Bang, Cross, Battery, Unknown, BrokenLink, Bypass, Plug };

void DrawGlyph(QPainter& p, Glyph glyph, const QPointF& c, double r) {
  p.save();
  p.setBrush(Qt::NoBrush);
  QPen pen(Qt::white, r * 0.26, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  switch (glyph) {
    case Glyph::Check: {
      QPainterPath path(c + QPointF(-r * 0.45, 0.0));
      path.lineTo(c + QPointF(-r * 0.12, r * 0.35));
      path.lineTo(c + QPointF(r * 0.48, -r * 0.35));
      p.drawPath(path);
      break;
    }
    case Glyph::Bang:
      p.drawLine(c + QPointF(0, -r * 0.5), c + QPointF(0, r * 0.12));
      p.drawPoint(c + QPointF(0, r * 0.48));
      break;
    case Glyph::Cross:
      p.drawLine(c + QPointF(-r * 0.38, -r * 0.38), c + QPointF(r * 0.38, r * 0.38));
      p.drawLine(c + QPointF(r * 0.38, -r * 0.38), c + QPointF(-r * 0.38, r * 0.38));
      break;
    case Glyph::Battery: {
      pen.setWidthF(r * 0.16);
      p.setPen(pen);
      const QRectF body(c.x() - r * 0.55, c.y() - r * 0.3, r * 1.0, r * 0.6);
      p.drawRoundedRect(body, r * 0.08, r * 0.08);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(body.right(), c.y() - r * 0.12, r * 0.12, r * 0.24));
      p.drawRect(QRectF(body.left() + r * 0.14, body.top() + r * 0.14, r * 0.35, body.height() - r * 0.28));
      break;
    }
    case Glyph::Unknown: {
      QFont f;
      f.setBold(true);
      f.setPixelSize(static_cast<int>(r * 1.25));
      p.setFont(f);
      p.drawText(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case Glyph::BrokenLink:
      pen.setWidthF(r * 0.2);
      p.setPen(pen);
      p.drawLine(c + QPointF(-r * 0.55, r * 0.1), c + QPointF(-r * 0.12, r * 0.1));
      p.drawLine(c + QPointF(r * 0.12, -r * 0.1), c + QPointF(r * 0.55, -r * 0.1));
      p.drawLine(c + QPointF(-r * 0.1, -r * 0.45), c + QPointF(r * 0.1, -r * 0.25));
      p.drawLine(c + QPointF(-r * 0.1, r * 0.45), c + QPointF(r * 0.1, r * 0.25));
      break;
    case Glyph::Bypass: {
      QPainterPath path(c + QPointF(-r * 0.5, r * 0.2));
      path.cubicTo(c + QPointF(-r * 0.3, -r * 0.5), c + QPointF(r * 0.3, -r * 0.5),
                   c + QPointF(r * 0.5, r * 0.2));
      p.drawPath(path);
      p.drawLine(c + QPointF(r * 0.5, r * 0.2), c + QPointF(r * 0.15, r * 0.1));
      p.drawLine(c + QPointF(r * 0.5, r * 0.2), c + QPointF(r * 0.52, -r * 0.15));
      break;
    }
    case Glyph::Plug: {
      QPainterPath bolt(c + QPointF(r * 0.12, -r * 0.6));
      bolt.lineTo(c + QPointF(-r * 0.32, r * 0.08));
      bolt.lineTo(c + QPointF(-r * 0.02, r * 0.08));
      bolt.lineTo(c + QPointF(-r * 0.14, r * 0.6));
      bolt.lineTo(c + QPointF(r * 0.34, -r * 0.1));
      bolt.lineTo(c + QPointF(r * 0.04, -r * 0.1));
      bolt.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(bolt);
      break;
    }
  }
  p.restore();
}

// The round state mark in the picture's lower right corner.
void DrawBadge(QPainter& p, const QColor& colour, Glyph glyph) {
  const QPointF c(kPictureWidth - 24, kPictureHeight - 24);
  const double r = 17;
  p.save();
  p.setPen(QPen(Qt::white, 3));
  QRadialGradient g(c - QPointF(5, 5), r * 1.6);
  g.setColorAt(0, colour.lighter(125));
  g.setColorAt(1, colour.darker(110));
  p.setBrush(g);
  p.drawEllipse(c, r, r);
  p.restore();
  DrawGlyph(p, glyph, c, r);
}

QLinearGradient Vertical(const QRectF& r, const QColor& top, const QColor& bottom) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  return g;
}

void DrawComputer(QPainter& p, const PictureState& s) {
  const QColor tint = LevelColour(s.level);
  const QRectF monitor(18, 14, 108, 76);
  p.setPen(QPen(kInk, 2));
  p.setBrush(Vertical(monitor, kCase, kCaseDark));
  p.drawRoundedRect(monitor, 7, 7);
  const QRectF screen = monitor.adjusted(8, 8, -8, -12);
  QColor screenTop = s.level == 0 ? QColor(0x3a, 0x78, 0xb8) : tint.darker(115);
  p.setPen(QPen(kInk.lighter(130), 1));
  p.setBrush(Vertical(screen, screenTop.lighter(140), screenTop));
  p.drawRoundedRect(screen, 3, 3);
  // A trace on the screen: steady when the computer is fine, broken off otherwise.
  p.setPen(QPen(QColor(255, 255, 255, 220), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPainterPath trace(QPointF(screen.left() + 8, screen.center().y()));
  const double step = (screen.width() - 16) / 8;
  for (int i = 1; i <= 8; ++i) {
    const double y = screen.center().y() + ((i % 2) != 0 ? -9.0 : 9.0) * (s.mode == 0 ? 1.0 : 0.35);
    if (s.mode == 2 && i > 4) break;
    trace.lineTo(QPointF(screen.left() + 8 + i * step, y));
  }
  p.drawPath(trace);
  // Stand and base.
  p.setPen(QPen(kInk, 2));
  p.setBrush(kCaseDark);
  QPolygonF neck;
  neck << QPointF(62, 90) << QPointF(82, 90) << QPointF(86, 104) << QPointF(58, 104);
  p.drawPolygon(neck);
  p.setBrush(Vertical(QRectF(38, 104, 68, 10), kCase, kCaseDark));
  p.drawRoundedRect(QRectF(38, 104, 68, 10), 4, 4);
  Glyph g = Glyph::Check;
  if (s.mode == 1) g = s.subMode == 1 ? Glyph::BrokenLink : Glyph::Bang;
  if (s.mode == 2) g = Glyph::Cross;
  if (s.mode == 0 && s.level > 0) g = Glyph::Bang;
  DrawBadge(p, tint, g);
}

void DrawUps(QPainter& p, const PictureState& s) {
  const QColor tint = LevelColour(s.level);
  const QRectF tower(40, 8, 64, 112);
  p.setPen(QPen(kInk, 2));
  p.setBrush(Vertical(tower, QColor(0x4a, 0x55, 0x63), QColor(0x2c, 0x34, 0x3e)));
  p.drawRoundedRect(tower, 8, 8);
  // Front panel with its lamps.
  const QRectF panel(50, 20, 44, 30);
  p.setPen(QPen(QColor(0x1c, 0x22, 0x29), 1));
  p.setBrush(QColor(0x1f, 0x26, 0x2e));
  p.drawRoundedRect(panel, 4, 4);
  const QColor lamps[3] = {s.subMode == 1 || s.mode == 2 ? QColor(0x55, 0x5f, 0x6b) : kGood,
                           s.subMode == 1 ? kWarn : QColor(0x55, 0x5f, 0x6b),
                           s.level >= 2 ? kBad : QColor(0x55, 0x5f, 0x6b)};
  for (int i = 0; i < 3; ++i) {
    p.setPen(Qt::NoPen);
    p.setBrush(lamps[i]);
    p.drawEllipse(QPointF(58 + i * 14, 35), 4.2, 4.2);
  }
  // Vents.
  p.setPen(QPen(QColor(0x5d, 0x69, 0x77), 2, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 5; ++i) p.drawLine(QPointF(54, 66 + i * 9), QPointF(90, 66 + i * 9));
  Glyph g = Glyph::Check;
  switch (s.subMode) {
    case 0:
      g = s.mode == 2 ? Glyph::Cross : s.mode == 1 || s.level > 0 ? Glyph::Bang : Glyph::Plug;
      break;
    case 1:
      g = Glyph::Battery;
      break;
    case 2:
      g = Glyph::Unknown;
      break;
    default:
      g = Glyph::Bypass;
      break;
  }
  DrawBadge(p, s.mode == 0 && s.subMode == 0 && s.level == 0 ? kGood : tint, g);
}

void DrawReceptacle(QPainter& p, const PictureState& s) {
  const QColor tint = LevelColour(s.level);
  const QRectF plate(22, 12, 96, 106);
  p.setPen(QPen(kInk, 2));
  p.setBrush(Vertical(plate, QColor(0xf6, 0xf7, 0xf9), kCaseDark));
  p.drawRoundedRect(plate, 12, 12);
  const QPointF c = plate.center() - QPointF(0, 4);
  p.setBrush(
      Vertical(QRectF(c.x() - 30, c.y() - 30, 60, 60), QColor(0xfd, 0xfd, 0xfd), QColor(0xd5, 0xda, 0xe1)));
  p.drawEllipse(c, 32, 32);
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  p.drawRoundedRect(QRectF(c.x() - 16, c.y() - 12, 7, 18), 3, 3);
  p.drawRoundedRect(QRectF(c.x() + 9, c.y() - 12, 7, 18), 3, 3);
  p.drawEllipse(QPointF(c.x(), c.y() + 16), 4.5, 4.5);
  // The power indicator above the socket.
  p.setBrush(s.subMode == 2 ? kWarn : s.level >= 2 ? kBad : kGood);
  p.drawEllipse(QPointF(plate.center().x(), plate.top() + 10), 4, 4);
  Glyph g = s.subMode == 2 ? Glyph::Battery : s.level == 0 ? Glyph::Plug : Glyph::Bang;
  DrawBadge(p, tint, g);
}

QImage NewImage(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

}  // namespace

bool PictureStateOf(int id, PictureState* state) {
  for (const PictureRow& r : kPictures) {
    if (r.id != id) continue;
    if (state != nullptr) *state = PictureState{r.kind, r.mode, r.subMode, r.level};
    return true;
  }
  return false;
}

int PictureIdOf(PictureKind kind, int mode, int subMode, int level) {
  for (const PictureRow& r : kPictures) {
    if (r.kind == kind && r.mode == mode && r.subMode == subMode && r.level == level) return r.id;
  }
  return 0;
}

QImage TandlePicture(int id) {
  PictureState s;
  if (!PictureStateOf(id, &s)) return QImage();
  QImage image = NewImage(kPictureWidth, kPictureHeight);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  switch (s.kind) {
    case PictureKind::Computer:
      DrawComputer(p, s);
      break;
    case PictureKind::Ups:
      DrawUps(p, s);
      break;
    case PictureKind::Receptacle:
      DrawReceptacle(p, s);
      break;
  }
  return image;
}

QImage ListImage(int id, int size) {
  QImage image = NewImage(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const double r = size / 2.0 - 0.75;
  const QPointF c(size / 2.0, size / 2.0);
  if (id == kIconWarning) {
    QPolygonF tri;
    tri << QPointF(c.x(), 1) << QPointF(size - 1, size - 1.5) << QPointF(1, size - 1.5);
    p.setPen(QPen(kWarn.darker(120), 1));
    p.setBrush(kWarn);
    p.drawPolygon(tri);
    DrawGlyph(p, Glyph::Bang, c + QPointF(0, size * 0.12), r * 0.8);
  } else {
    const QColor colour = id == kIconAlarm ? kBad : kInfo;
    p.setPen(QPen(colour.darker(120), 1));
    p.setBrush(colour);
    p.drawEllipse(c, r, r);
    if (id == kIconAlarm) {
      DrawGlyph(p, Glyph::Bang, c, r);
    } else {
      p.setPen(QPen(Qt::white, size * 0.14, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(c + QPointF(0, -r * 0.05), c + QPointF(0, r * 0.5));
      p.drawPoint(c + QPointF(0, -r * 0.45));
    }
  }
  return image;
}

QImage ProgramIconImage(int size) {
  QImage image = NewImage(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  const QRectF body(6, 6, 52, 52);
  p.setPen(Qt::NoPen);
  p.setBrush(Vertical(body, QColor(0x2f, 0x80, 0xc8), QColor(0x1b, 0x4f, 0x86)));
  p.drawRoundedRect(body, 12, 12);
  QPainterPath bolt(QPointF(36, 12));
  bolt.lineTo(QPointF(20, 36));
  bolt.lineTo(QPointF(31, 36));
  bolt.lineTo(QPointF(27, 52));
  bolt.lineTo(QPointF(44, 27));
  bolt.lineTo(QPointF(33, 27));
  bolt.closeSubpath();
  p.setBrush(QColor(0xff, 0xd2, 0x4a));
  p.drawPath(bolt);
  return image;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
  return icon;
}

QImage SplashBanner(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF all(0, 0, width, height);
  QLinearGradient g(all.topLeft(), all.bottomRight());
  g.setColorAt(0, QColor(0x1b, 0x4f, 0x86));
  g.setColorAt(1, QColor(0x0d, 0x26, 0x42));
  p.fillRect(all, g);
  // A mains wave running across the banner, and the program's mark on the left.
  p.setPen(QPen(QColor(255, 255, 255, 40), 3));
  QPainterPath wave(QPointF(0, height * 0.78));
  for (int x = 0; x <= width; x += 4) {
    wave.lineTo(QPointF(x, height * 0.78 + std::sin(x / 22.0) * height * 0.06));
  }
  p.drawPath(wave);
  // The program's mark in the left sixth, beside the name.
  const int mark = std::min(height / 3, width / 6);
  p.drawImage(QRectF(width / 12.0 - mark / 2.0 + 8, height / 3.0 + 10 - mark / 2.0, mark, mark),
              ProgramIconImage(mark * 2));
  return image;
}

QIcon CommandIcon(int command) {
  struct Look {
    int command;
    const char* label;
    QColor colour;
  };
  const QColor configure(0x2b, 0x6c, 0xb0), notify(0x13, 0x8d, 0x90), view(0x2e, 0x8a, 0x48),
      manage(0x7b, 0x4a, 0xa8);
  const Look looks[] = {
      {40013, "Lg", view},      {40004, "NA", configure}, {40009, "EL", notify},    {40003, "SD", configure},
      {40005, "Ev", notify},    {40006, "@", notify},     {40007, "Pg", notify},    {32795, "Sh", configure},
      {32796, "Pw", configure}, {40014, "i", view},       {40012, "Bt", view},      {40016, "Mc", view},
      {40018, "AQ", view},      {32893, "T", manage},     {32905, "NC", manage},    {32904, "UO", configure},
      {40015, "M", view},       {32900, "DT", manage},    {40011, "St", configure}, {40017, "DR", view},
      {40010, "SS", configure}, {40008, "NR", notify},
  };
  QString label = QStringLiteral("?");
  QColor colour = configure;
  for (const Look& l : looks) {
    if (l.command == command) {
      label = QString::fromUtf8(l.label);
      colour = l.colour;
    }
  }
  QIcon icon;
  for (int size : {16, 24, 32}) {
    QImage image = NewImage(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(0.5, 0.5, size - 1, size - 1);
    p.setPen(QPen(colour.darker(130), 1));
    p.setBrush(Vertical(tile, colour.lighter(125), colour));
    p.drawRoundedRect(tile, size * 0.2, size * 0.2);
    QFont f;
    f.setBold(true);
    f.setPixelSize(static_cast<int>(size * (label.size() > 1 ? 0.46 : 0.6)));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(tile, Qt::AlignCenter, label);
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace tavona
