#include "dialogs/widgets/chart_widget.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kChartLimit = 30000;
constexpr unsigned kChartColors[20] = {0x0000FF, 0xFF0000, 0x008000, 0xFF8C00, 0x800080, 0x008B8B, 0xA52A2A,
                                       0xFF00FF, 0x556B2F, 0x4682B4, 0xDAA520, 0x000080, 0x808000, 0xDC143C,
                                       0x2E8B57, 0x9932CC, 0x708090, 0xD2691E, 0x00CED1, 0x000000};

int ChartUnit(int v) {
  const int a = std::abs(v) / 10;
  if (a < 10) return 10;
  if (a < 100) return 100;
  if (a < 1000) return 1000;
  return 10000;
}

QFont ChartFont(int points) {
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(points);
  return font;
}

}  // namespace

QColor ChartColor(int index) {
  const unsigned c = kChartColors[((index % 20) + 20) % 20];
  return QColor(static_cast<int>((c >> 16) & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>(c & 0xFF));
}

int ChartRoundUp(double value) {
  const double clamped = std::clamp(value, -double(kChartLimit), double(kChartLimit));
  int v = static_cast<int>(clamped);
  const int unit = ChartUnit(v);
  while (v % unit != 0 && v < kChartLimit) ++v;
  return v;
}

int ChartRoundDown(double value) {
  const double clamped = std::clamp(value, -double(kChartLimit), double(kChartLimit));
  int v = static_cast<int>(clamped);
  const int unit = ChartUnit(v);
  while (v % unit != 0 && v > -kChartLimit) --v;
  return v;
}

ChartScale ComputeChartScale(const std::vector<double>& x, const std::vector<std::vector<double>>& ys) {
  ChartScale s;
  if (x.size() < 2) return s;
  const double x0 = x.front();
  const double x1 = x.back();
  if (!(x1 > x0)) return s;
  double lo = 0, hi = 0;
  for (const auto& series : ys) {
    for (double v : series) {
      if (!std::isfinite(v)) continue;  // a gap
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  if (!(lo < hi)) return s;
  s.xMin = ChartRoundDown(x0);
  s.xMax = ChartRoundUp(x1);
  s.yMin = ChartRoundDown(lo);
  s.yMax = ChartRoundUp(hi);
  s.xStep = 10.0;
  s.yStep = (s.yMax - s.yMin) * 0.1;
  s.drawable = s.xMax > s.xMin && s.yMax > s.yMin;
  return s;
}

ChartLayout ComputeChartLayout(const QRect& page) {
  auto part = [](const QRect& r, double l, double t, double rt, double b) {
    const int x0 = r.left() + static_cast<int>(r.width() * l);
    const int y0 = r.top() + static_cast<int>(r.height() * t);
    const int x1 = r.left() + static_cast<int>(r.width() * rt);
    const int y1 = r.top() + static_cast<int>(r.height() * b);
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
  };
  ChartLayout out;
  out.area = part(page, 0.005, 0.005, 0.995, 0.995);
  out.plot = part(out.area, 0.15, 0.1, 0.9, 0.65);
  out.legend = part(out.area, 0.1, 0.73, 0.9, 0.99);
  return out;
}

KtChart::KtChart(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(false);
  setMinimumSize(320, 240);
}

void KtChart::SetData(std::vector<double> x, std::vector<std::vector<double>> ys, QStringList names) {
  x_ = std::move(x);
  ys_ = std::move(ys);
  names_ = std::move(names);
  scale_ = ComputeChartScale(x_, ys_);
  update();
}

void KtChart::Clear() {
  x_.clear();
  ys_.clear();
  names_.clear();
  scale_ = ChartScale{};
  update();
}

void KtChart::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit doubleClicked();
  QWidget::mouseDoubleClickEvent(event);
}

void KtChart::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const ChartLayout layout = ComputeChartLayout(rect());
  painter.setPen(QColor(160, 160, 160));
  painter.drawRect(layout.area.adjusted(0, 0, -1, -1));
  if (!scale_.drawable) return;

  const QRect plot = layout.plot;
  const ChartScale& s = scale_;
  auto mapX = [&](double x) { return plot.left() + (x - s.xMin) / (s.xMax - s.xMin) * plot.width(); };
  auto mapY = [&](double y) { return plot.bottom() - (y - s.yMin) / (s.yMax - s.yMin) * plot.height(); };

  // Title and axis titles (Arial 13), axis text (Arial 10).
  const QFont titleFont = ChartFont(13);
  const QFont axisFont = ChartFont(10);
  const QFontMetrics tm(titleFont);
  const QFontMetrics am(axisFont);
  painter.setPen(Qt::black);
  painter.setFont(titleFont);
  painter.drawText(
      QRect(layout.area.left(), layout.area.top(), layout.area.width(), plot.top() - layout.area.top()),
      Qt::AlignCenter, title);

  // Grid and ticks.
  painter.setFont(axisFont);
  const int tick = 4;
  const double xSpan = s.xMax - s.xMin;
  const int xCount = static_cast<int>(std::floor(xSpan / s.xStep + 1e-9));
  // Labels every k-th tick so that they do not run into each other.
  const int labelWidth =
      am.horizontalAdvance(QString::number(static_cast<int>(s.xMax))) + am.averageCharWidth() * 2;
  const double tickGap = plot.width() / std::max(1.0, xSpan / s.xStep);
  const int every = std::max(1, static_cast<int>(std::ceil(labelWidth / std::max(1.0, tickGap))));
  for (int i = 0; i <= xCount; ++i) {
    const double x = s.xMin + i * s.xStep;
    const int px = static_cast<int>(std::lround(mapX(x)));
    painter.setPen(QColor(225, 225, 225));
    painter.drawLine(px, plot.top(), px, plot.bottom());
    painter.setPen(Qt::black);
    painter.drawLine(px, plot.bottom(), px, plot.bottom() + tick);
    if (i % every == 0) {
      const QString text = QString::number(static_cast<int>(std::lround(x)));
      const int tw = am.horizontalAdvance(text);
      painter.drawText(QRect(px - tw, plot.bottom() + tick + 1, 2 * tw, am.height()),
                       Qt::AlignHCenter | Qt::AlignTop, text);
    }
  }
  for (int i = 0; i <= 10; ++i) {
    const double y = s.yMin + i * s.yStep;
    const int py = static_cast<int>(std::lround(mapY(y)));
    painter.setPen(QColor(225, 225, 225));
    painter.drawLine(plot.left(), py, plot.right(), py);
    painter.setPen(Qt::black);
    painter.drawLine(plot.left() - tick, py, plot.left(), py);
    const QString text = QString::number(y, 'g', 6);
    const int width = plot.left() - layout.area.left() - tick - 4;
    painter.drawText(QRect(layout.area.left(), py - am.height() / 2, width, am.height()),
                     Qt::AlignRight | Qt::AlignVCenter, text);
  }
  painter.setPen(Qt::black);
  painter.drawRect(plot.adjusted(0, 0, -1, -1));

  painter.setFont(titleFont);
  painter.drawText(QRect(plot.left(), plot.bottom() + tick + am.height() + 2, plot.width(), tm.height()),
                   Qt::AlignHCenter | Qt::AlignTop, xTitle);
  painter.save();
  painter.translate(layout.area.left() + 2, plot.center().y());
  painter.rotate(-90);
  const int yw = tm.horizontalAdvance(yTitle);
  painter.drawText(QRect(-yw, 0, 2 * yw, tm.height()), Qt::AlignHCenter | Qt::AlignTop, yTitle);
  painter.restore();

  // The lines: a gap ends a segment.
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setClipRect(plot);
  for (size_t i = 0; i < ys_.size(); ++i) {
    QPainterPath path;
    bool open = false;
    const auto& series = ys_[i];
    for (size_t k = 0; k < series.size() && k < x_.size(); ++k) {
      if (!std::isfinite(series[k])) {
        open = false;
        continue;
      }
      const QPointF p(mapX(x_[k]), mapY(series[k]));
      if (open) {
        path.lineTo(p);
      } else {
        path.moveTo(p);
        // A single point between gaps still shows.
        path.addEllipse(p, 1.5, 1.5);
        path.moveTo(p);
        open = true;
      }
    }
    painter.setPen(QPen(ChartColor(static_cast<int>(i)), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
  }
  painter.setClipping(false);
  painter.setRenderHint(QPainter::Antialiasing, false);

  // Legend: a line sample and the name, in columns.
  const QRect box = layout.legend;
  painter.setFont(axisFont);
  const int row = am.height() + 2;
  const int rows = std::max(1, box.height() / row);
  const int columns = std::max(1, (static_cast<int>(names_.size()) + rows - 1) / rows);
  const int colWidth = box.width() / columns;
  for (int i = 0; i < names_.size(); ++i) {
    const int x = box.left() + (i / rows) * colWidth;
    const int y = box.top() + (i % rows) * row;
    painter.setPen(QPen(ChartColor(i), 3));
    painter.drawLine(x, y + row / 2, x + 18, y + row / 2);
    painter.setPen(Qt::black);
    const QRect text(x + 24, y, colWidth - 28, row);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                     am.elidedText(names_[i], Qt::ElideRight, text.width()));
  }
}
