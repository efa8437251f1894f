#include "dialogs/widgets/graph_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

GraphUnits GraphLayoutUnits(int width) {
  return GraphUnits{width / 8, width / 6, width / 20, width / 80};
}

GraphRect GraphPlotRect(const GraphRect& drawing, bool legend) {
  const int w = drawing.width();
  const GraphUnits u = GraphLayoutUnits(w);
  return GraphRect{u.left, drawing.top + u.margin, drawing.right - u.margin,
                   drawing.bottom - u.font - (legend ? 3 * u.font : 0)};
}

int GraphLabelHeight(int width) {
  return std::max(1, std::min(kGraphMaxLabelHeight, (width / 8) * 4 / 9));
}

int GraphTitleHeight(int width) {
  return std::max(1, std::min(kGraphMaxTitleHeight, (width / 8) / 3));
}

int GraphLabelEvery(int extent, double spacing) {
  if (spacing <= 0) return 1;
  return std::max(1, static_cast<int>(std::ceil(extent / spacing)));
}

int NormalisedXRange(int xRange) {
  return xRange < 5 ? 100 : xRange;
}

int NormalisedYRange(int yRange) {
  return yRange < 5 ? 200 : yRange;
}

int GraphAxisStep(int range) {
  return std::max(1, range / 10);
}

QPoint GraphMapPoint(const GraphRect& plot, int xRange, int yRange, bool centred, int h, int v) {
  const int64_t xr = NormalisedXRange(xRange);
  const int64_t yr = NormalisedYRange(yRange);
  const int64_t base = centred ? (static_cast<int64_t>(plot.top) + plot.bottom) / 2 : plot.bottom;
  const int64_t x = plot.left + static_cast<int64_t>(h) * plot.width() / xr;
  const int64_t y = base - static_cast<int64_t>(v) * plot.height() / yr;
  return QPoint(static_cast<int>(x), static_cast<int>(y));
}

std::vector<int> GraphXTicks(int xRange) {
  const int range = NormalisedXRange(xRange);
  const int step = GraphAxisStep(range);
  std::vector<int> out;
  // Counted in 64 bits: the last step of a range near the integer limit would overflow.
  for (int64_t x = 0; x <= range; x += step) out.push_back(static_cast<int>(x));
  return out;
}

std::vector<int> GraphYTicks(int yRange, bool centred) {
  const int range = NormalisedYRange(yRange);
  const int step = GraphAxisStep(range);
  const int lower = centred ? -(range / 2) : 0;
  const int upper = centred ? range / 2 : range;
  std::vector<int> out;
  for (int64_t v = lower; v <= upper; v += step) out.push_back(static_cast<int>(v));
  return out;
}

std::vector<QPoint> GraphPolyline(const GraphRect& plot, int xRange, int yRange, bool centred,
                                  const std::vector<int>& newestFirst) {
  std::vector<QPoint> out;
  const int n = static_cast<int>(newestFirst.size());
  const int c = std::min(NormalisedXRange(xRange), n - 1);
  if (c < 0) return out;
  for (int j = 0; j <= c; ++j) {
    QPoint p = GraphMapPoint(plot, xRange, yRange, centred, j, newestFirst[static_cast<size_t>(c - j)]);
    if (j == 0) {
      p.rx() += 1;
    } else {
      p -= QPoint(1, 1);
    }
    out.push_back(p);
  }
  return out;
}

std::vector<GraphBar> GraphBarRects(const GraphRect& plot, int xRange, int yRange,
                                    const std::vector<int>& newestFirst) {
  std::vector<GraphBar> out;
  const int n = static_cast<int>(newestFirst.size());
  int b = NormalisedXRange(xRange);
  if (b >= n) b = n - 1;
  if (b < 0) return out;
  const int yr = NormalisedYRange(yRange);
  const int d = static_cast<int>(static_cast<double>(plot.width()) * 5.0 / (6.0 * n + 1.0));
  const int g = static_cast<int>(0.2 * d);
  int k = 1;
  for (int pos = b; pos >= 0; --pos, ++k) {
    const int v = std::max(0, newestFirst[static_cast<size_t>(pos)]);
    const int h = v > yr ? plot.height() : static_cast<int>(static_cast<double>(plot.height()) / yr * v);
    GraphBar bar;
    bar.rect.right = plot.left + k * (d + g);
    bar.rect.left = bar.rect.right - d;
    bar.rect.top = plot.bottom - h + 1;
    bar.rect.bottom = plot.bottom;
    if (bar.rect.width() < 1) bar.rect.left = bar.rect.right - 1;
    if (bar.rect.height() < 1) bar.rect.top = bar.rect.bottom - 1;
    bar.drawn = h > 0;
    out.push_back(bar);
  }
  return out;
}
