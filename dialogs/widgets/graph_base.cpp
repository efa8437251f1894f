#include "dialogs/widgets/graph_base.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace {

// 0x00BBGGRR values of the pen table.
constexpr unsigned kPenTable[kGraphPenCount] = {0xFFFFFF, 0x0000FF, 0xFF0000, 0x008000, 0x00FFFF, 0x808080,
                                                0x800080, 0x8080FF, 0xFFFF00, 0x00FF00, 0x80FFFF, 0xC0C0C0,
                                                0x800000, 0x004000, 0x400040, 0x808040, 0x000080, 0x8000FF,
                                                0x0080FF, 0xFF0080, 0x000000};
constexpr int kTickEntry = 20;
constexpr int kGridEntry = 11;

}  // namespace

QColor GraphPenColor(int entry) {
  if (entry < 0 || entry >= kGraphPenCount) entry = 1;
  const unsigned c = kPenTable[entry];
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

QColor GraphSeriesColor(int series) {
  return GraphPenColor(series + 1 < kGraphPenCount ? series + 1 : 1);
}

QFont GraphFont(int pixelHeight) {
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(std::max(1, pixelHeight));
  font.setWeight(QFont::Normal);
  return font;
}

KtGraphBase::KtGraphBase() = default;

KtGraphBase::KtGraphBase(const QString& title, int xRange, int yRange, const QString& xTitle,
                         const QString& yTitle, int xNumeric)
    : xNumericLabels(xNumeric),
      title_(title),
      x_range_(NormalisedXRange(xRange)),
      y_range_(NormalisedYRange(yRange)),
      x_title_(xTitle),
      y_title_(yTitle) {}

KtGraphBase::~KtGraphBase() = default;

QPoint KtGraphBase::MapPoint(int h, int v) const {
  return GraphMapPoint(plot_, x_range_, y_range_, centred != 0, h, v);
}

void KtGraphBase::DrawSeries(QPainter& /*painter*/) {}

void KtGraphBase::Draw(QPainter& painter, const QRect& rect) {
  const GraphRect drawing = GraphRect::FromQRect(rect);
  units_ = GraphLayoutUnits(drawing.width());
  plot_ = GraphPlotRect(drawing, legend != 0);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBackgroundMode(Qt::TransparentMode);
  painter.setBackground(GraphPenColor(0));
  DrawXAxis(painter, drawing);
  DrawYAxis(painter, drawing);
  // Values beyond the range stay inside the plot frame instead of running over the labels.
  painter.setClipRect(plot_.ToQRect().adjusted(-1, -1, 1, 1));
  DrawSeries(painter);
  painter.setClipping(false);
  if (legend != 0) DrawLegend(painter, drawing);
  painter.restore();
}

void KtGraphBase::DrawXAxis(QPainter& painter, const GraphRect& drawing) {
  const int w = drawing.width();
  const QFont labelFont = GraphFont(GraphLabelHeight(w));
  painter.setFont(labelFont);
  const QFontMetrics fm(labelFont);
  const bool labels = xNumericLabels != 0 && fm.horizontalAdvance(QStringLiteral("00")) < plot_.width() / 12;
  const std::vector<int> ticks = GraphXTicks(x_range_);
  const double spacing = static_cast<double>(plot_.width()) * GraphAxisStep(x_range_) / x_range_;
  const int every =
      GraphLabelEvery(fm.horizontalAdvance(QString::number(x_range_)) + fm.averageCharWidth(), spacing);
  int labelsBottom = plot_.bottom;
  for (size_t i = 0; i < ticks.size(); ++i) {
    const int x = ticks[i];
    const int px = MapPoint(x, 0).x();
    if (verticalGrid != 0) {
      painter.setPen(QPen(GraphPenColor(kGridEntry), 1));
      painter.drawLine(px, plot_.top, px, plot_.bottom);
    }
    if (xTicks != 0) {
      painter.setPen(QPen(GraphPenColor(kTickEntry), 1));
      painter.drawLine(px, plot_.bottom, px, plot_.bottom + units_.tick);
    }
    if (labels && i % static_cast<size_t>(every) == 0) {
      painter.setPen(GraphPenColor(kTickEntry));
      const QString text = QString::number(x);
      const int tw = fm.horizontalAdvance(text);
      const int top = plot_.bottom + units_.tick;
      painter.drawText(QRect(px - tw, top, 2 * tw, fm.height()), Qt::AlignHCenter | Qt::AlignTop, text);
      labelsBottom = top + fm.height();
    }
  }
  if (!x_title_.isEmpty()) {
    const QFont titleFont = GraphFont(GraphTitleHeight(w));
    painter.setFont(titleFont);
    const QFontMetrics tm(titleFont);
    // Below the tick labels; a plain graph keeps W/16 of room under its plot.
    int top = std::max(labelsBottom, plot_.bottom + units_.tick);
    if (centred == 0) top = std::max(top, plot_.bottom + w / 16);
    painter.setPen(GraphPenColor(kTickEntry));
    painter.drawText(QRect(plot_.left, top, plot_.width(), tm.height()), Qt::AlignHCenter | Qt::AlignTop,
                     x_title_);
  }
}

void KtGraphBase::DrawYAxis(QPainter& painter, const GraphRect& drawing) {
  const int w = drawing.width();
  const QFont labelFont = GraphFont(GraphLabelHeight(w));
  painter.setFont(labelFont);
  const QFontMetrics fm(labelFont);
  const std::vector<int> ticks = GraphYTicks(y_range_, centred != 0);
  const double spacing = static_cast<double>(plot_.height()) * GraphAxisStep(y_range_) / y_range_;
  const int every = GraphLabelEvery(fm.height(), spacing);
  // Thinned labels keep the zero of a centred graph.
  const size_t zeroIndex = centred != 0 ? ticks.size() / 2 : 0;
  for (size_t i = 0; i < ticks.size(); ++i) {
    const int v = ticks[i];
    const int py = MapPoint(0, v).y();
    if (horizontalGrid != 0) {
      painter.setPen(QPen(GraphPenColor(kGridEntry), 1, Qt::DotLine));
      painter.drawLine(plot_.left, py, plot_.right, py);
    }
    if (yTicks != 0) {
      painter.setPen(QPen(GraphPenColor(kTickEntry), 1));
      painter.drawLine(plot_.left - units_.tick, py, plot_.left, py);
    }
    const size_t offset = i > zeroIndex ? i - zeroIndex : zeroIndex - i;
    if (yLabels != 0 && offset % static_cast<size_t>(every) == 0) {
      painter.setPen(GraphPenColor(kTickEntry));
      // Right-aligned a little left of the axis (and its tick), vertically centred.
      const int right = plot_.left - units_.tick - fm.averageCharWidth() / 2;
      const int width = 6 * fm.averageCharWidth();
      painter.drawText(QRect(right - width, py - fm.height() / 2, width, fm.height()),
                       Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
  }
  // The y title stands left of the labels; a graph too narrow for both keeps the labels.
  int labelsLeft = plot_.left;
  if (yLabels != 0) {
    int widest = 0;
    for (int v : ticks) widest = std::max(widest, fm.horizontalAdvance(QString::number(v)));
    labelsLeft = plot_.left - units_.tick - fm.averageCharWidth() / 2 - widest;
  }
  const QFont titleFont = GraphFont(GraphTitleHeight(w));
  const QFontMetrics tm(titleFont);
  const int titleX = drawing.left + (w / 6) / 12 + 1;
  if (!y_title_.isEmpty() && titleX + tm.height() <= labelsLeft) {
    painter.setFont(titleFont);
    painter.save();
    const int x = titleX;
    const int y = (plot_.top + plot_.bottom) / 2;
    painter.translate(x, y);
    painter.rotate(-90);
    painter.setPen(GraphPenColor(kTickEntry));
    const int tw = tm.horizontalAdvance(y_title_);
    painter.drawText(QRect(-tw, 0, 2 * tw, tm.height()), Qt::AlignHCenter | Qt::AlignTop, y_title_);
    painter.restore();
  }
  painter.setPen(QPen(GraphPenColor(kTickEntry), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(plot_.ToQRect());
  if (centred != 0) {
    const int zero = MapPoint(0, 0).y();
    painter.drawLine(plot_.left, zero, plot_.right - 1, zero);
  }
  if (!title_.isEmpty()) {
    painter.setFont(titleFont);
    const int top = std::max(drawing.top, plot_.top - tm.height() - 2);
    painter.drawText(QRect(plot_.left, top, plot_.width(), tm.height()), Qt::AlignHCenter | Qt::AlignTop,
                     title_);
  }
}

void KtGraphBase::DrawLegend(QPainter& painter, const GraphRect& drawing) {
  const int n = SeriesCount();
  if (n == 0) return;
  const int w = drawing.width();
  const GraphRect area{drawing.left + w / 6, plot_.bottom + units_.font, drawing.right - w / 20,
                       drawing.bottom};
  if (area.width() <= 0 || area.height() <= 0) return;
  // Squares of a thirtieth of the width, but never so small that the names cannot be read.
  const int size = std::min(area.height() / 3, std::max(area.width() / 30, 14));
  if (size < 6) return;
  const int columns = (n + 2) / 3;
  const int columnWidth = area.width() / columns;
  const QFont font = GraphFont(size * 3 / 4);
  painter.setFont(font);
  for (int i = 0; i < n; ++i) {
    const int col = i / 3;
    const int row = i % 3;
    const int x = area.left + col * columnWidth;
    const int y = area.top + row * size;
    painter.fillRect(QRect(x, y, size - 5, size - 5), GraphSeriesColor(i));
    painter.setPen(GraphPenColor(kTickEntry));
    const QRect text(x + size, y, columnWidth - size, size);
    painter.save();
    painter.setClipRect(text);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, Series(i)->Name());
    painter.restore();
  }
}

void KtGraphBase::Serialize(GraphArchive& ar) {
  if (ar.IsStoring()) {
    ar.WriteString(title_);
    ar.WriteI32(x_range_);
    ar.WriteI32(y_range_);
    ar.WriteString(x_title_);
    ar.WriteString(y_title_);
    for (int flag :
         {legend, centred, horizontalGrid, xNumericLabels, xTicks, verticalGrid, yLabels, yTicks}) {
      ar.WriteI32(flag);
    }
    ar.WriteCount(static_cast<uint32_t>(series_.size()));
    for (auto& s : series_) ar.WriteObject(s.get());
    return;
  }
  title_ = ar.ReadString();
  x_range_ = NormalisedXRange(ar.ReadI32());
  y_range_ = NormalisedYRange(ar.ReadI32());
  x_title_ = ar.ReadString();
  y_title_ = ar.ReadString();
  for (int* flag :
       {&legend, &centred, &horizontalGrid, &xNumericLabels, &xTicks, &verticalGrid, &yLabels, &yTicks}) {
    *flag = ar.ReadI32();
  }
  series_.clear();
  const uint32_t n = ar.ReadCount();
  for (uint32_t i = 0; i < n && !ar.Failed(); ++i) {
    KtGraphObject* object = ar.ReadObject();
    auto* data = dynamic_cast<KtGraphData*>(object);
    if (data == nullptr) {
      delete object;
      ar.SetFailed();  // the series array holds series only
      break;
    }
    series_.emplace_back(data);
  }
}
