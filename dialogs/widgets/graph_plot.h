// KtGraphPlot: a graph that draws each series as a poly-line in its own pen colour; without
// numeric x labels it writes the points' clock times under the x axis instead.
#pragma once

#include "dialogs/widgets/graph_base.h"

class KtGraphPlot : public KtGraphBase {
 public:
  using KtGraphBase::KtGraphBase;
  const char* RuntimeClassName() const override { return "KtGraphPlot"; }
  void DrawSeries(QPainter& painter) override;
};

// The x indexes of one series that get a time label: multiples of the axis step up to the
// x range, while the series has a point there (index <= min(x range, n - 1)).
std::vector<int> GraphTimeLabelIndexes(int xRange, int pointCount);
// A point's time as its clock part, "HH:MM:SS" of the local time.
QString GraphTimeLabel(int time);
