#include "dialogs/mimic/mimic_pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>
#include <vector>

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 270;

enum class Kind { OnLine, OffLine, LineInteractive };
enum class State { Normal, Battery, Bypass, Buck, Boost };

struct Scene {
  Kind kind;
  State state;
  int frame;  // 0 or 1: the flow marks move between the two
};

bool SceneOf(int id, Scene* s) {
  switch (id) {
    case 146:
      *s = {Kind::OnLine, State::Bypass, 0};
      return true;
    case 147:
      *s = {Kind::OnLine, State::Bypass, 1};
      return true;
    case 156:
      *s = {Kind::OnLine, State::Battery, 0};
      return true;
    case 163:
      *s = {Kind::OnLine, State::Battery, 1};
      return true;
    case 161:
      *s = {Kind::OnLine, State::Normal, 0};
      return true;
    case 164:
      *s = {Kind::OnLine, State::Normal, 1};
      return true;
    case 185:
      *s = {Kind::OffLine, State::Normal, 0};
      return true;
    case 184:
      *s = {Kind::OffLine, State::Normal, 1};
      return true;
    case 187:
      *s = {Kind::OffLine, State::Battery, 0};
      return true;
    case 186:
      *s = {Kind::OffLine, State::Battery, 1};
      return true;
    case 177:
      *s = {Kind::LineInteractive, State::Normal, 0};
      return true;
    case 176:
      *s = {Kind::LineInteractive, State::Normal, 1};
      return true;
    case 183:
      *s = {Kind::LineInteractive, State::Battery, 0};
      return true;
    case 182:
      *s = {Kind::LineInteractive, State::Battery, 1};
      return true;
    case 181:
      *s = {Kind::LineInteractive, State::Buck, 0};
      return true;
    case 180:
      *s = {Kind::LineInteractive, State::Buck, 1};
      return true;
    case 179:
      *s = {Kind::LineInteractive, State::Boost, 0};
      return true;
    case 178:
      *s = {Kind::LineInteractive, State::Boost, 1};
      return true;
    default:
      return false;
  }
}

const QColor kIdle(0xb6, 0xbe, 0xc8);
const QColor kInk(0x26, 0x32, 0x40);
const QColor kNormal(0x2e, 0x9d, 0x48);
const QColor kBattery(0xe0, 0x84, 0x00);
const QColor kBypass(0x2b, 0x6c, 0xb0);
const QColor kAvr(0x13, 0x8d, 0x90);

QColor StateColour(State s) {
  switch (s) {
    case State::Normal:
      return kNormal;
    case State::Battery:
      return kBattery;
    case State::Bypass:
      return kBypass;
    case State::Buck:
    case State::Boost:
      return kAvr;
  }
  return kNormal;
}

class Painter {
 public:
  Painter(QPainter& p, int frame) : p_(p), frame_(frame) {}

  // A wire along the points; a lit wire carries chevrons pointing along it.
  void Wire(const std::vector<QPointF>& pts, const QColor& colour, bool lit, double width = 5) {
    QPainterPath path(pts.front());
    for (size_t i = 1; i < pts.size(); ++i) path.lineTo(pts[i]);
    p_.setBrush(Qt::NoBrush);
    p_.setPen(QPen(lit ? colour : kIdle, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p_.drawPath(path);
    if (!lit) return;
    const double spacing = 20;
    double offset = frame_ == 0 ? 4 : 14;
    p_.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (size_t i = 1; i < pts.size(); ++i) {
      const QPointF a = pts[i - 1];
      const QPointF b = pts[i];
      const double len = std::hypot(b.x() - a.x(), b.y() - a.y());
      if (len < 1) continue;
      const QPointF u((b.x() - a.x()) / len, (b.y() - a.y()) / len);
      const QPointF n(-u.y(), u.x());
      double d = offset;
      for (; d + 3 < len; d += spacing) {
        const QPointF tip = a + u * (d + 2.5);
        const QPointF back = a + u * (d - 1.5);
        p_.drawLine(back + n * (width * 0.45), tip);
        p_.drawLine(back - n * (width * 0.45), tip);
      }
      offset = d - len;
    }
  }

  void Block(const QRectF& r, const QString& title, const QString& caption, const QColor& colour, bool lit) {
    p_.setPen(QPen(lit ? colour : kIdle, 2));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, lit ? colour.lighter(185) : QColor(0xee, 0xf0, 0xf3));
    p_.setBrush(g);
    p_.drawRoundedRect(r, 5, 5);
    QFont f = p_.font();
    f.setPixelSize(12);
    f.setBold(true);
    p_.setFont(f);
    p_.setPen(lit ? kInk : QColor(0x8a, 0x94, 0xa0));
    p_.drawText(r, Qt::AlignCenter, title);
    if (!caption.isEmpty()) Caption(QRectF(r.left() - 20, r.bottom() + 2, r.width() + 40, 14), caption);
  }

  void Battery(const QRectF& r, const QColor& colour, bool lit, bool draining) {
    const QRectF body(r.left(), r.top(), r.width() - 5, r.height());
    p_.setPen(QPen(lit ? colour : kIdle, 2));
    p_.setBrush(Qt::white);
    p_.drawRoundedRect(body, 3, 3);
    p_.setBrush(lit ? colour : kIdle);
    p_.drawRect(QRectF(body.right(), r.center().y() - 5, 5, 10));
    const int cells = 4;
    const int full = draining ? (frame_ == 0 ? 3 : 2) : 4;
    const double cw = (body.width() - 8) / cells;
    p_.setPen(Qt::NoPen);
    for (int i = 0; i < cells; ++i) {
      p_.setBrush(i < full ? (lit ? colour : kIdle) : QColor(0xe6, 0xe9, 0xed));
      p_.drawRoundedRect(QRectF(body.left() + 4 + i * cw, body.top() + 4, cw - 3, body.height() - 8), 1.5,
                         1.5);
    }
    Caption(QRectF(r.left() - 20, r.bottom() + 2, r.width() + 40, 14), QStringLiteral("Battery"));
  }

  void Caption(const QRectF& r, const QString& text) {
    QFont f = p_.font();
    f.setPixelSize(10);
    f.setBold(false);
    p_.setFont(f);
    p_.setPen(QColor(0x4a, 0x55, 0x62));
    p_.drawText(r, Qt::AlignHCenter | Qt::AlignTop, text);
  }

  // A switch between two contacts, the lever from `pivot` to `to`.
  void Switch(QPointF pivot, QPointF to, const QColor& colour, bool lit) {
    p_.setPen(QPen(lit ? colour : QColor(0x7b, 0x87, 0x94), 3, Qt::SolidLine, Qt::RoundCap));
    p_.drawLine(pivot, to);
    p_.setPen(QPen(kInk, 1.5));
    p_.setBrush(Qt::white);
    p_.drawEllipse(pivot, 3.5, 3.5);
  }

  void Contact(QPointF at) {
    p_.setPen(QPen(kInk, 1.5));
    p_.setBrush(Qt::white);
    p_.drawEllipse(at, 3.5, 3.5);
  }

  void Utility(QPointF c, bool live) {
    const QColor steel = live ? kInk : QColor(0x8a, 0x94, 0xa0);
    p_.setPen(QPen(steel, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p_.setBrush(Qt::NoBrush);
    const QPointF top(c.x(), c.y() - 42);
    const QPointF bl(c.x() - 18, c.y() + 40), br(c.x() + 18, c.y() + 40);
    p_.drawLine(top, bl);
    p_.drawLine(top, br);
    p_.drawLine(QPointF(c.x() - 24, c.y() - 26), QPointF(c.x() + 24, c.y() - 26));
    p_.drawLine(QPointF(c.x() - 17, c.y() - 10), QPointF(c.x() + 17, c.y() - 10));
    p_.drawLine(QPointF(c.x() - 13, c.y() - 10), QPointF(c.x() + 16, c.y() + 30));
    p_.drawLine(QPointF(c.x() + 13, c.y() - 10), QPointF(c.x() - 16, c.y() + 30));
    for (double x : {-24.0, 24.0, -17.0, 17.0}) {
      const double y = std::fabs(x) > 20 ? c.y() - 26 : c.y() - 10;
      p_.drawLine(QPointF(c.x() + x, y), QPointF(c.x() + x, y + 5));
    }
    if (!live) {
      p_.setPen(QPen(QColor(0xd3, 0x2f, 0x2f), 4, Qt::SolidLine, Qt::RoundCap));
      p_.drawLine(QPointF(c.x() - 14, c.y() - 14), QPointF(c.x() + 14, c.y() + 14));
      p_.drawLine(QPointF(c.x() + 14, c.y() - 14), QPointF(c.x() - 14, c.y() + 14));
    }
    Caption(QRectF(c.x() - 40, c.y() + 46, 80, 14),
            live ? QStringLiteral("Utility") : QStringLiteral("Utility failed"));
  }

  void Load(QPointF c, const QColor& colour) {
    const QRectF screen(c.x() - 26, c.y() - 26, 52, 38);
    p_.setPen(QPen(kInk, 2));
    p_.setBrush(QColor(0x3a, 0x44, 0x50));
    p_.drawRoundedRect(screen, 3, 3);
    QLinearGradient g(screen.topLeft(), screen.bottomRight());
    g.setColorAt(0, colour.lighter(160));
    g.setColorAt(1, colour);
    p_.setPen(Qt::NoPen);
    p_.setBrush(g);
    p_.drawRect(screen.adjusted(4, 4, -4, -4));
    p_.setPen(QPen(kInk, 2));
    p_.drawLine(QPointF(c.x(), screen.bottom()), QPointF(c.x(), screen.bottom() + 8));
    p_.drawLine(QPointF(c.x() - 14, screen.bottom() + 9), QPointF(c.x() + 14, screen.bottom() + 9));
    Caption(QRectF(c.x() - 40, c.y() + 24, 80, 14), QStringLiteral("Load"));
  }

  QPainter& p() { return p_; }

 private:
  QPainter& p_;
  int frame_;
};

QString StateText(State s) {
  switch (s) {
    case State::Normal:
      return QStringLiteral("Normal: load on utility power");
    case State::Battery:
      return QStringLiteral("On Battery: utility power has failed");
    case State::Bypass:
      return QStringLiteral("On Bypass: load fed around the inverter");
    case State::Buck:
      return QStringLiteral("Buck: lowering high utility voltage");
    case State::Boost:
      return QStringLiteral("Boost: raising low utility voltage");
  }
  return QString();
}

QString KindText(Kind k) {
  switch (k) {
    case Kind::OnLine:
      return QStringLiteral("On-line UPS");
    case Kind::OffLine:
      return QStringLiteral("Off-line UPS");
    case Kind::LineInteractive:
      return QStringLiteral("Line-interactive UPS");
  }
  return QString();
}

void DrawFrame(Painter& d, const Scene& s) {
  QPainter& p = d.p();
  QLinearGradient bg(0, 0, 0, kHeight);
  bg.setColorAt(0, QColor(0xf5, 0xf7, 0xfa));
  bg.setColorAt(1, QColor(0xe2, 0xe8, 0xef));
  p.fillRect(QRect(0, 0, kWidth, kHeight), bg);

  // Banner with the state.
  const QColor colour = StateColour(s.state);
  p.fillRect(QRect(0, 0, kWidth, 34), QColor(0x2f, 0x3e, 0x50));
  p.setPen(Qt::NoPen);
  p.setBrush(s.frame == 0 ? colour.lighter(125) : colour.darker(135));
  p.drawEllipse(QPointF(20, 17), 7, 7);
  QFont f = p.font();
  f.setPixelSize(14);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(36, 0, kWidth - 44, 34), Qt::AlignVCenter | Qt::AlignLeft, StateText(s.state));

  // The UPS's enclosure.
  const QRectF box(104, 52, 272, 196);
  p.setPen(QPen(QColor(0x7b, 0x87, 0x94), 1.5, Qt::DashLine));
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawRoundedRect(box, 10, 10);
  f.setPixelSize(11);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(0x5a, 0x66, 0x74));
  p.drawText(box.adjusted(10, 4, -10, 0), Qt::AlignTop | Qt::AlignLeft, KindText(s.kind));
}

void DrawOnLine(Painter& d, const Scene& s) {
  const bool normal = s.state == State::Normal;
  const bool battery = s.state == State::Battery;
  const bool bypass = s.state == State::Bypass;
  const QColor c = StateColour(s.state);
  const double y = 160;
  d.Utility({52, y}, !battery);
  // Utility to the rectifier and to the bypass.
  d.Wire({{72, y}, {122, y}}, c, normal || bypass);
  d.Wire({{122, y}, {140, y}}, c, normal);
  d.Wire({{122, y}, {122, 92}, {220, 92}}, c, bypass);
  d.Wire({{258, 92}, {356, 92}, {356, y}}, c, bypass);
  d.Contact({220, 92});
  d.Contact({258, 92});
  d.Switch({220, 92}, bypass ? QPointF(258, 92) : QPointF(252, 78), c, bypass);
  d.Caption(QRectF(190, 96, 100, 14), QStringLiteral("Static bypass"));
  // Rectifier, DC bus, inverter.
  d.Block(QRectF(140, 140, 62, 40), QStringLiteral("AC/DC"), QStringLiteral("Rectifier"), c, normal);
  d.Wire({{202, y}, {240, y}}, c, normal);
  d.Wire({{240, y}, {278, y}}, c, normal || battery);
  d.Block(QRectF(278, 140, 62, 40), QStringLiteral("DC/AC"), QStringLiteral("Inverter"), c,
          normal || battery);
  d.Wire({{340, y}, {356, y}}, c, normal || battery);
  d.Wire({{356, y}, {402, y}}, c, true);
  // Battery on the DC bus: charging (down) or discharging (up).
  if (battery) {
    d.Wire({{240, 204}, {240, y}}, c, true, 4);
  } else {
    d.Wire({{240, y}, {240, 204}}, c, normal, 4);
  }
  d.Battery(QRectF(212, 204, 60, 26), c, normal || battery, battery);
  d.Load({430, y}, c);
}

void DrawOffLine(Painter& d, const Scene& s) {
  const bool battery = s.state == State::Battery;
  const QColor c = StateColour(s.state);
  const double top = 112;
  const double out = 160;
  d.Utility({52, out}, !battery);
  d.Wire({{72, out}, {122, out}, {122, top}, {150, top}}, c, !battery);
  d.Block(QRectF(150, top - 18, 66, 36), QStringLiteral("Filter"), QStringLiteral("Surge / noise"), c,
          !battery);
  d.Wire({{216, top}, {326, top}}, c, !battery);
  // Charger from the line, battery, inverter to the second contact.
  d.Wire({{122, out}, {122, 186}, {126, 186}}, c, !battery, 3.5);
  d.Block(QRectF(126, 170, 64, 32), QStringLiteral("Charger"), QString(), c, !battery);
  d.Wire({{190, 186}, {198, 186}}, c, !battery, 3.5);
  d.Battery(QRectF(198, 174, 50, 26), c, true, battery);
  d.Wire({{248, 186}, {258, 186}}, c, battery);
  d.Block(QRectF(258, 170, 56, 32), QStringLiteral("DC/AC"), QStringLiteral("Inverter"), c, battery);
  // Transfer switch: line (top contact) or inverter (bottom contact) to the load.
  d.Wire({{314, 186}, {326, 186}}, c, battery);
  d.Contact({326, top});
  d.Contact({326, 186});
  d.Switch({356, out}, battery ? QPointF(326, 186) : QPointF(326, top), c, true);
  d.Caption(QRectF(318, 200, 70, 14), QStringLiteral("Transfer"));
  d.Wire({{356, out}, {402, out}}, c, true);
  d.Load({430, out}, c);
}

void DrawLineInteractive(Painter& d, const Scene& s) {
  const bool battery = s.state == State::Battery;
  const QColor c = StateColour(s.state);
  const double line = 112;
  const double out = 160;
  d.Utility({52, out}, !battery);
  d.Wire({{72, out}, {122, out}, {122, line}, {140, line}}, c, !battery);
  QString avrText = QStringLiteral("AVR");
  if (s.state == State::Buck) avrText = QStringLiteral("AVR  \u2212");
  if (s.state == State::Boost) avrText = QStringLiteral("AVR  +");
  const QString avrCaption = s.state == State::Buck    ? QStringLiteral("Bucking")
                             : s.state == State::Boost ? QStringLiteral("Boosting")
                                                       : QStringLiteral("Voltage regulator");
  d.Block(QRectF(140, line - 18, 72, 36), avrText, avrCaption, c, !battery);
  d.Wire({{212, line}, {238, line}}, c, !battery);
  d.Contact({238, line});
  d.Contact({266, line});
  d.Switch({238, line}, battery ? QPointF(260, line - 14) : QPointF(266, line), c, !battery);
  d.Caption(QRectF(222, line + 6, 60, 14), QStringLiteral("Relay"));
  d.Wire({{266, line}, {300, line}}, c, !battery);
  d.Wire({{300, line}, {356, line}, {356, out}, {402, out}}, c, true);
  // The inverter/charger on the output: charges the battery, or feeds the load from it.
  if (battery) {
    d.Wire({{300, 172}, {300, line}}, c, true, 4);
    d.Wire({{252, 188}, {266, 188}}, c, true, 4);
  } else {
    d.Wire({{300, line}, {300, 172}}, c, true, 3.5);
    d.Wire({{266, 188}, {252, 188}}, c, true, 3.5);
  }
  d.Block(QRectF(266, 172, 70, 34), QStringLiteral("DC \u2194 AC"), QStringLiteral("Inverter / charger"), c,
          true);
  d.Battery(QRectF(196, 175, 56, 26), c, true, battery);
  d.Load({430, out}, c);
}

QImage Render(const Scene& s) {
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  Painter d(p, s.frame);
  DrawFrame(d, s);
  switch (s.kind) {
    case Kind::OnLine:
      DrawOnLine(d, s);
      break;
    case Kind::OffLine:
      DrawOffLine(d, s);
      break;
    case Kind::LineInteractive:
      DrawLineInteractive(d, s);
      break;
  }
  return image;
}

MimicPictureSource& Source() {
  static MimicPictureSource source;
  return source;
}

}  // namespace

QImage MimicPicture(int id) {
  Scene s{};
  if (!SceneOf(id, &s)) return QImage();
  return Render(s);
}

void SetMimicPictureSource(MimicPictureSource source) {
  Source() = std::move(source);
}

QImage LoadMimicPicture(int id) {
  return Source() ? Source()(id) : MimicPicture(id);
}
