// The geometry of the graph classes as pure functions, so that it can be checked without
// drawing: layout units, the plot rectangle, the mapping of (index, value) to a device point,
// the tick positions, the poly-line of a series and the rectangles of the bar graph.
//
// Rectangles follow the drawing convention of the graph classes: right and bottom are the
// first coordinates outside (width = right - left).
#pragma once

#include <QPoint>
#include <QRect>
#include <vector>

struct GraphRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const GraphRect&) const = default;
  QRect ToQRect() const { return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)); }
  static GraphRect FromQRect(const QRect& r) {
    return GraphRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
  }
};

// Layout units from the drawing rectangle's width W.
struct GraphUnits {
  int font;    // W / 8
  int left;    // W / 6
  int margin;  // W / 20, top and right
  int tick;    // W / 80
};
GraphUnits GraphLayoutUnits(int width);

// Plot area inside the drawing rectangle; the legend reserves 3 x W/8 more below it.
GraphRect GraphPlotRect(const GraphRect& drawing, bool legend);

// Ranges as the graph keeps them: an x range below 5 is 100, a y range below 5 is 200.
int NormalisedXRange(int xRange);
int NormalisedYRange(int yRange);
// The step between ticks: a tenth of the range, at least 1.
int GraphAxisStep(int range);

// (index h, value v) to a device point. The zero of the y axis is the plot's bottom, or its
// vertical middle for a centred graph.
QPoint GraphMapPoint(const GraphRect& plot, int xRange, int yRange, bool centred, int h, int v);

// The x indexes that get a tick: 0, step, 2 step ... up to the x range.
std::vector<int> GraphXTicks(int xRange);
// The y values that get a tick: 0 .. y range, or -y range / 2 .. y range / 2 when centred.
std::vector<int> GraphYTicks(int yRange, bool centred);

// The poly-line of one series (values newest first): starts at the c-th newest point,
// c = min(x range, n - 1), mapped as index 0 and moved 1 pixel right; the newer points follow
// at indexes 1, 2 ... each moved 1 pixel up and left. Empty for an empty series.
std::vector<QPoint> GraphPolyline(const GraphRect& plot, int xRange, int yRange, bool centred,
                                  const std::vector<int>& newestFirst);

// Text heights of a graph drawn W wide: labels (W/8) x 4/9 and titles (W/8)/3, each capped so
// that a large window keeps readable, not poster-sized, text.
inline constexpr int kGraphMaxLabelHeight = 13;
inline constexpr int kGraphMaxTitleHeight = 15;
int GraphLabelHeight(int width);
int GraphTitleHeight(int width);
// Every how many ticks a label is written so that labels `extent` pixels tall (or wide) do not
// run into each other when ticks are `spacing` pixels apart (1: every tick).
int GraphLabelEvery(int extent, double spacing);

// One bar of the bar graph; drawn only when `drawn` (its value gave a height above 0).
struct GraphBar {
  GraphRect rect;
  bool drawn = false;
};
// The bars of a series (values newest first), oldest drawn point at the left: the points from
// position b = min(x range, n - 1) down to 0. Widths and gaps depend on n, not on the number
// of bars drawn.
std::vector<GraphBar> GraphBarRects(const GraphRect& plot, int xRange, int yRange,
                                    const std::vector<int>& newestFirst);
