// KtGraphBar: the bar-chart variant of the graph classes: draws the first series as red
// vertical bars, the oldest drawn point at the left (see GraphBarRects). Used for the
// harmonic spectrum of a waveform.
#pragma once

#include "dialogs/widgets/graph_plot.h"

class KtGraphBar : public KtGraphPlot {
 public:
  KtGraphBar() = default;
  KtGraphBar(const QString& title, int xRange, int yRange, const QString& xTitle, const QString& yTitle)
      : KtGraphPlot(title, xRange, yRange, xTitle, yTitle, 1) {}
  const char* RuntimeClassName() const override { return "KtGraphBar"; }
  void DrawSeries(QPainter& painter) override;
  // The bars the last plot rectangle gives the first series.
  std::vector<GraphBar> Bars() const;
};
