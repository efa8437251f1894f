#include "dialogs/widgets/gauge.h"

#include <QCloseEvent>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace {

constexpr double kStartAngle = 225.0;  // the scale minimum, lower left
constexpr double kSweep = 270.0;       // clockwise to the maximum, lower right
constexpr int kMaxMajorTicks = 60;
constexpr int kMinorPerMajor = 5;

struct GaugeTables {
  std::map<KtGaugeHandle, KtGaugeDefinition> definitions;
  KtGaugeHandle next = 1;
  std::set<int> windowNumbers;  // numbers of open gauge windows
};

GaugeTables& Tables() {
  static GaugeTables tables;
  return tables;
}

KtGaugeDefinition* Find(KtGaugeHandle handle) {
  auto& defs = Tables().definitions;
  auto it = defs.find(handle);
  return it == defs.end() ? nullptr : &it->second;
}

void Repaint(KtGaugeDefinition* def) {
  if (def != nullptr && def->control) def->control->update();
}

QPointF Polar(QPointF centre, double radius, double degrees) {
  const double a = degrees * M_PI / 180.0;
  return {centre.x() + radius * std::cos(a), centre.y() - radius * std::sin(a)};
}

// A band of the arc between two scale values.
void DrawBand(QPainter& p, QPointF c, double radius, double width, double from, double to, double min,
              double max, const QColor& colour) {
  if (to <= from) return;
  const double a0 = KtGaugeWidget::AngleOf(from, min, max);
  const double a1 = KtGaugeWidget::AngleOf(to, min, max);
  QPen pen(colour, width, Qt::SolidLine, Qt::FlatCap);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  const QRectF r(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
  p.drawArc(r, static_cast<int>(std::lround(a0 * 16)), static_cast<int>(std::lround((a1 - a0) * 16)));
}

// The value's readout in the gap at the bottom, the unit under it (out of the needle's way).
void DrawReadout(QPainter& p, const QFont& base, QPointF c, double F, double side, const KtGaugeDefinition& def) {
  const QString readout = def.hasValue ? KtGaugeWidget::FormatValue(def.reading) : QStringLiteral("--");
  QFont rf = base;
  rf.setPixelSize(std::max(9, static_cast<int>(side * 0.075)));
  rf.setBold(true);
  const QFontMetricsF rfm(rf);
  const double rw = std::max(F * 0.50, rfm.horizontalAdvance(readout) + F * 0.16);
  const double rh = rfm.height() + F * 0.04;
  const QRectF rr(c.x() - rw / 2, c.y() + F * 0.36, rw, rh);
  p.setPen(QPen(QColor(0x30, 0x33, 0x38), 1));
  p.setBrush(QColor(0x1f, 0x26, 0x2e));
  p.drawRoundedRect(rr, rh * 0.25, rh * 0.25);
  p.setFont(rf);
  p.setPen(QColor(0x9c, 0xf0, 0x9a));
  p.drawText(rr, Qt::AlignCenter, readout);

  QFont uf = base;
  uf.setPixelSize(std::max(8, static_cast<int>(side * 0.056)));
  uf.setBold(true);
  p.setFont(uf);
  p.setPen(QColor(0x2b, 0x4a, 0x7a));
  p.drawText(QRectF(c.x() - F * 0.5, rr.bottom() + F * 0.03, F * 1.0, F * 0.17), Qt::AlignCenter,
             def.unit.trimmed());
}

}  // namespace

KtGaugeHandle KtGaugeDefine(const QString& name, const QString& unit) {
  auto& t = Tables();
  const KtGaugeHandle handle = t.next++;
  KtGaugeDefinition def;
  def.name = name;
  def.unit = unit;
  t.definitions.emplace(handle, std::move(def));
  return handle;
}

int KtGaugeAddZone(KtGaugeHandle handle, int zone, double threshold, const QString& label) {
  KtGaugeDefinition* def = Find(handle);
  if (def == nullptr || (zone != kGaugeZoneHigh && zone != kGaugeZoneLow)) return -1;
  auto it = std::find_if(def->zones.begin(), def->zones.end(),
                         [&](const KtGaugeZone& z) { return z.zone == zone; });
  if (it == def->zones.end()) {
    def->zones.push_back({zone, threshold, label});
  } else {
    *it = {zone, threshold, label};
  }
  Repaint(def);
  return 1;
}

int KtGaugeDrawDial(KtGaugeWidget* control, KtGaugeHandle handle, double min, double max, double step,
                    int numberStyle) {
  KtGaugeDefinition* def = Find(handle);
  if (def == nullptr || control == nullptr) return -1;
  // A scale that is not a finite range (infinite or not-a-number limits) has nothing to show.
  if (!std::isfinite(max - min)) min = max = 0;
  if (!(max >= min)) std::swap(min, max);
  const double span = max - min;
  if (!(step > 0) || !std::isfinite(step)) step = span > 0 ? span / 10 : 1;
  if (span > 0 && span / step > kMaxMajorTicks) step = span / kMaxMajorTicks;
  def->scaled = true;
  def->min = min;
  def->max = max;
  def->step = step;
  def->numberStyle = numberStyle;
  def->control = control;
  control->SetHandle(handle);
  return 1;
}

int KtGaugeSetValue(KtGaugeHandle handle, double value, std::optional<double> reading) {
  KtGaugeDefinition* def = Find(handle);
  if (def == nullptr) return -1;
  const bool hasValue = std::isfinite(value);
  const double shown = hasValue ? value : 0;
  const double said = hasValue && reading && std::isfinite(*reading) ? *reading : shown;
  // Readings arrive several times a second; a needle that stays where it is is not repainted.
  if (def->hasValue == hasValue && def->value == shown && def->reading == said) return 1;
  def->hasValue = hasValue;
  def->value = shown;
  def->reading = said;
  Repaint(def);
  return 1;
}

int KtGaugeDestroy(KtGaugeHandle handle) {
  auto& defs = Tables().definitions;
  auto it = defs.find(handle);
  if (it == defs.end()) return 0;
  QPointer<KtGaugeWidget> control = it->second.control;
  defs.erase(it);
  if (control && control->Handle() == handle) control->SetHandle(0);
  return 1;
}

const KtGaugeDefinition* KtGaugeFind(KtGaugeHandle handle) {
  return Find(handle);
}

int KtGaugeCount() {
  return static_cast<int>(Tables().definitions.size());
}

// --- the dial ---

KtGaugeWidget::KtGaugeWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

KtGaugeWidget::~KtGaugeWidget() = default;

void KtGaugeWidget::SetHandle(KtGaugeHandle handle) {
  handle_ = handle;
  update();
}

void KtGaugeWidget::SetTitle(const QString& title) {
  setAccessibleName(title);
  setToolTip(title);
}

double KtGaugeWidget::AngleOf(double value, double min, double max) {
  if (!(max > min)) return kStartAngle;
  const double f = std::clamp((value - min) / (max - min), 0.0, 1.0);
  return kStartAngle - kSweep * f;
}

QString KtGaugeWidget::FormatNumber(double value, int numberStyle) {
  if (std::fabs(value) < 1e-9) value = 0;
  const bool whole = std::fabs(value - std::round(value)) < 1e-6;
  switch (numberStyle) {
    case kGaugeNumbersLarge:
      if (std::fabs(value) >= 1000 && std::fmod(std::round(value), 100.0) == 0) {
        return QString::number(std::round(value) / 1000.0, 'g', 4) + QStringLiteral("k");
      }
      return QString::number(std::llround(value));
    case kGaugeNumbersDecimal:
      return whole ? QString::number(std::llround(value)) : QString::number(value, 'f', 1);
    case kGaugeNumbersDegrees:
      return QString::number(std::llround(value)) + QChar(0x00B0);
    default:
      return whole ? QString::number(std::llround(value)) : QString::number(value, 'f', 1);
  }
}

QString KtGaugeWidget::Notice() const {
  const KtGaugeDefinition* def = Find(handle_);
  if (def == nullptr || !def->scaled || def->max > def->min) return QString();
  return QStringLiteral("No scale range");
}

QString KtGaugeWidget::FormatValue(double value) {
  const bool whole = std::fabs(value - std::round(value)) < 1e-6;
  return whole ? QString::number(std::llround(value)) : QString::number(value, 'f', 1);
}

void KtGaugeWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  const QRectF area = rect();
  p.fillRect(area, palette().window());

  const double side = std::min(area.width(), area.height());
  const double R = side * 0.48;
  const QPointF c(area.center().x(), area.center().y() + side * 0.02);

  // Bezel and face.
  QLinearGradient bezel(c.x(), c.y() - R, c.x(), c.y() + R);
  bezel.setColorAt(0, QColor(0x8a, 0x90, 0x99));
  bezel.setColorAt(0.5, QColor(0x4a, 0x50, 0x58));
  bezel.setColorAt(1, QColor(0x2a, 0x2e, 0x34));
  p.setPen(QPen(QColor(0x20, 0x22, 0x26), 1));
  p.setBrush(bezel);
  p.drawEllipse(c, R, R);
  const double F = R * 0.92;
  QRadialGradient face(c.x(), c.y() - F * 0.3, F * 1.3);
  face.setColorAt(0, QColor(0xff, 0xff, 0xfc));
  face.setColorAt(1, QColor(0xe4, 0xe6, 0xe2));
  p.setPen(QPen(QColor(0x30, 0x33, 0x38), 1));
  p.setBrush(face);
  p.drawEllipse(c, F, F);

  const KtGaugeDefinition* def = Find(handle_);
  const bool scaled = def != nullptr && def->scaled && def->max > def->min;

  const double bandR = F * 0.86;
  const double bandW = F * 0.09;

  if (!scaled) {
    // An empty dial: the plain arc. One drawn without a span between its ends says so, and
    // still reads out the value.
    DrawBand(p, c, bandR, bandW, 0, 1, 0, 1, QColor(0xc8, 0xcb, 0xcf));
    const QString notice = Notice();
    if (!notice.isEmpty()) {
      QFont mf = font();
      mf.setPixelSize(std::max(9, static_cast<int>(side * 0.07)));
      mf.setBold(true);
      p.setFont(mf);
      p.setPen(QColor(0x5a, 0x5e, 0x66));
      p.drawText(QRectF(c.x() - F * 0.75, c.y() - F * 0.48, F * 1.5, F * 0.3), Qt::AlignCenter, notice);
      DrawReadout(p, font(), c, F, side, *def);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x40, 0x44, 0x4a));
    p.drawEllipse(c, F * 0.07, F * 0.07);
    return;
  }

  const double min = def->min;
  const double max = def->max;
  double low = min;
  double high = max;
  QString lowLabel, highLabel;
  for (const KtGaugeZone& z : def->zones) {
    if (std::isnan(z.threshold)) continue;  // a threshold that is not a number marks nothing
    if (z.zone == kGaugeZoneLow) {
      low = std::clamp(z.threshold, min, max);
      lowLabel = z.label;
    }
    if (z.zone == kGaugeZoneHigh) {
      high = std::clamp(z.threshold, min, max);
      highLabel = z.label;
    }
  }
  if (high < low) high = low;
  DrawBand(p, c, bandR, bandW, min, low, min, max, QColor(0xf2, 0xb1, 0x34));   // low alarm: amber
  DrawBand(p, c, bandR, bandW, low, high, min, max, QColor(0x4c, 0xaf, 0x50));  // normal: green
  DrawBand(p, c, bandR, bandW, high, max, min, max, QColor(0xd9, 0x3b, 0x35));  // high: red

  // Ticks and numbers.
  const double step = def->step;
  const int majors = static_cast<int>(std::floor((max - min) / step + 1e-6));
  const int labelEvery = std::max(1, (majors + 9) / 10);
  QFont nf = font();
  nf.setPixelSize(std::max(7, static_cast<int>(side * 0.056)));
  p.setFont(nf);
  const QFontMetricsF fm(nf);
  const double outer = bandR + bandW / 2;
  for (int k = 0; k <= majors; ++k) {
    const double v = min + k * step;
    const double a = AngleOf(v, min, max);
    p.setPen(QPen(QColor(0x1e, 0x20, 0x24), std::max(1.2, side * 0.010), Qt::SolidLine, Qt::FlatCap));
    p.drawLine(Polar(c, outer, a), Polar(c, outer - F * 0.17, a));
    if (k < majors) {
      p.setPen(QPen(QColor(0x3a, 0x3d, 0x42), std::max(0.8, side * 0.004)));
      for (int m = 1; m < kMinorPerMajor; ++m) {
        const double mv = v + step * m / kMinorPerMajor;
        if (mv > max) break;
        const double ma = AngleOf(mv, min, max);
        p.drawLine(Polar(c, outer, ma), Polar(c, outer - F * 0.085, ma));
      }
    }
    if (k % labelEvery == 0) {
      const QString text = FormatNumber(v, def->numberStyle);
      const QPointF at = Polar(c, F * 0.56, a);
      const double w = fm.horizontalAdvance(text) + 2;
      const double h = fm.height();
      p.setPen(QColor(0x1e, 0x20, 0x24));
      p.drawText(QRectF(at.x() - w / 2, at.y() - h / 2, w, h), Qt::AlignCenter, text);
    }
  }

  DrawReadout(p, font(), c, F, side, *def);

  // Needle and hub.
  if (def->hasValue) {
    const double a = AngleOf(def->value, min, max);
    const double len = F * 0.80;
    const double base = F * 0.045;
    QPainterPath needle;
    needle.moveTo(Polar(c, len, a));
    needle.lineTo(Polar(c, base, a + 90));
    needle.lineTo(Polar(c, F * 0.16, a + 180));
    needle.lineTo(Polar(c, base, a - 90));
    needle.closeSubpath();
    p.setPen(QPen(QColor(0x7a, 0x12, 0x10), 0.8));
    p.setBrush(QColor(0xd3, 0x2f, 0x2f));
    p.drawPath(needle);
  }
  QRadialGradient hub(c.x() - F * 0.02, c.y() - F * 0.02, F * 0.09);
  hub.setColorAt(0, QColor(0x9a, 0xa0, 0xa8));
  hub.setColorAt(1, QColor(0x25, 0x28, 0x2d));
  p.setPen(Qt::NoPen);
  p.setBrush(hub);
  p.drawEllipse(c, F * 0.075, F * 0.075);
}

// --- windows ---

KtGaugeWindow::KtGaugeWindow(QWidget* owner, const QString& name, const QString& title,
                             std::shared_ptr<KtGaugeWindowRecord> record)
    : QWidget(owner, Qt::Window), record_(std::move(record)) {
  setAttribute(Qt::WA_DeleteOnClose);
  // A gauge that opens leaves the keyboard with its owner (Escape, Alt+H, ... keep working
  // there); the user may still click it to make it the active window.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setObjectName(name);
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
}

void KtGaugeWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // Platforms that activate every window they show (or a window manager that ignores the
  // request): an activation that comes with the showing goes back to the owner.
  opening_ = true;
  QTimer::singleShot(kOpeningMs, this, [this] { opening_ = false; });
}

bool KtGaugeWindow::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && opening_) {
    opening_ = false;
    QWidget* owner = parentWidget();
    if (owner != nullptr && owner->isVisible()) owner->activateWindow();
  }
  return QWidget::event(e);
}

KtGaugeWindow::~KtGaugeWindow() {
  if (record_) {
    Tables().windowNumbers.erase(record_->number);
    record_->number = 0;
  }
}

void KtGaugeWindow::SetControl(KtGaugeWidget* control) {
  control_ = control;
  layout()->addWidget(control);
}

std::shared_ptr<KtGaugeWindowRecord> KtCreateGaugeWindow(const QString& name, QWidget* parent,
                                                         const QString& title, int x, int y, int width,
                                                         int height, KtGaugeWindowHolder* holder) {
  if (parent == nullptr) return nullptr;
  auto& numbers = Tables().windowNumbers;
  int number = 1;
  while (numbers.count(number) != 0) ++number;
  if (number > 0xFFFF) return nullptr;
  numbers.insert(number);
  auto record = std::make_shared<KtGaugeWindowRecord>();
  record->number = static_cast<uint16_t>(number);
  record->name = name;
  auto* window = new KtGaugeWindow(parent, name, title, record);
  record->window = window;
  window->resize(width, height);
  window->move(x, y);
  if (holder != nullptr) holder->Create(record.get());
  window->show();
  return record;
}

KtGaugeWidget* KtCreateGaugeControl(KtGaugeWindowRecord* record) {
  if (record == nullptr || !record->window) return nullptr;
  auto* control = new KtGaugeWidget(record->window);
  control->SetTitle(record->window->windowTitle());
  record->window->SetControl(control);
  return control;
}

int KtGaugeWindowCount() {
  return static_cast<int>(Tables().windowNumbers.size());
}
