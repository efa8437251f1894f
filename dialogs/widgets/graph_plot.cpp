#include "dialogs/widgets/graph_plot.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <ctime>

std::vector<int> GraphTimeLabelIndexes(int xRange, int pointCount) {
  std::vector<int> out;
  const int range = NormalisedXRange(xRange);
  const int last = std::min(range, pointCount - 1);
  const int step = GraphAxisStep(range);
  for (int j = 0; j <= last; j += step) out.push_back(j);
  return out;
}

QString GraphTimeLabel(int time) {
  const time_t t = static_cast<time_t>(static_cast<uint32_t>(time));
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return QString();
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return QString::fromLatin1(text);
}

void KtGraphPlot::DrawSeries(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing, true);
  for (int i = 0; i < SeriesCount(); ++i) {
    const KtGraphData* series = Series(i);
    const std::vector<int> values = series->ValuesNewestFirst();
    const std::vector<QPoint> line = GraphPolyline(plot_, x_range_, y_range_, centred != 0, values);
    if (line.empty()) continue;
    QPen pen(GraphSeriesColor(i), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    // A value beyond the y range stops at the plot's frame.
    painter.save();
    painter.setClipRect(plot_.ToQRect(), Qt::IntersectClip);
    painter.drawPolyline(line.data(), static_cast<int>(line.size()));
    painter.restore();
    if (xNumericLabels != 0) continue;
    // Clock times under the axis, from the oldest drawn point on.
    const int n = series->GetCount();
    const int c = std::min(x_range_, n - 1);
    std::vector<int> times;
    for (const GraphPoint& p : series->Points()) times.push_back(p.time);
    painter.save();
    painter.setClipping(false);  // the labels stand outside the plot
    const QFont font = GraphFont(GraphLabelHeight(units_.font * 8));
    painter.setFont(font);
    const QFontMetrics fm(font);
    painter.setPen(Qt::black);
    const std::vector<int> indexes = GraphTimeLabelIndexes(x_range_, n);
    const double spacing = static_cast<double>(plot_.width()) * GraphAxisStep(x_range_) / x_range_;
    const int every =
        GraphLabelEvery(fm.horizontalAdvance(QStringLiteral("00:00:00")) + fm.averageCharWidth(), spacing);
    for (size_t k = 0; k < indexes.size(); k += static_cast<size_t>(every)) {
      const int j = indexes[k];
      const QPoint at = MapPoint(j, 0) + QPoint(0, 2 * units_.tick);
      const QString text = GraphTimeLabel(times[static_cast<size_t>(c - j)]);
      const int tw = fm.horizontalAdvance(text);
      painter.drawText(QRect(at.x() - tw / 2, at.y(), tw + 2, fm.height()), Qt::AlignLeft | Qt::AlignTop,
                       text);
    }
    painter.restore();
  }
  painter.setRenderHint(QPainter::Antialiasing, false);
}
