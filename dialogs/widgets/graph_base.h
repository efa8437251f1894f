// KtGraphBase: the frame of a graph drawn with QPainter: the plot area, axes with ticks and
// labels, grid, axis titles and a legend, holding the series it draws (owned). KtGraphPlot
// draws each series as a poly-line; KtGraphBar as bars.
//
// Layout units follow the drawing rectangle's width W (see graph_geometry.h): labels in a font
// (W/8) x 4/9 high, axis titles (W/8)/3 high; "Arial" resolves to the system's sans font.
// Series i draws in pen-table entry i + 1 (entry 1 again from series 20 on); entry 20 is the
// tick colour, entry 11 the grid colour.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <memory>
#include <vector>

#include "dialogs/widgets/graph_archive.h"
#include "dialogs/widgets/graph_data.h"
#include "dialogs/widgets/graph_geometry.h"

class QPainter;

// The 21 pen colours of the graph classes.
inline constexpr int kGraphPenCount = 21;
QColor GraphPenColor(int entry);
// The pen of series i (from 0).
QColor GraphSeriesColor(int series);
// "Arial" at a pixel height, normal weight; falls back to the system's sans font.
QFont GraphFont(int pixelHeight);

class KtGraphBase : public KtGraphObject {
 public:
  KtGraphBase();
  KtGraphBase(const QString& title, int xRange, int yRange, const QString& xTitle, const QString& yTitle,
              int xNumericLabels);
  ~KtGraphBase() override;
  KtGraphBase(const KtGraphBase&) = delete;
  KtGraphBase& operator=(const KtGraphBase&) = delete;

  const char* RuntimeClassName() const override { return "KtGraphBase"; }
  void Serialize(GraphArchive& ar) override;

  // Takes ownership of the series.
  void AddSeries(KtGraphData* series) { series_.emplace_back(series); }
  int SeriesCount() const { return static_cast<int>(series_.size()); }
  KtGraphData* Series(int i) const { return series_[static_cast<size_t>(i)].get(); }

  // Draws the whole graph into the rectangle.
  void Draw(QPainter& painter, const QRect& rect);
  // Draws the series (nothing here; the plot and bar classes draw).
  virtual void DrawSeries(QPainter& painter);
  // (index, value) to a device point in the last plot rectangle.
  QPoint MapPoint(int h, int v) const;

  // The plot rectangle of the last Draw.
  const GraphRect& PlotRect() const { return plot_; }

  const QString& Title() const { return title_; }
  int XRange() const { return x_range_; }
  int YRange() const { return y_range_; }
  // A new full scale for the next drawing (below 5: the default 200).
  void SetYRange(int yRange) { y_range_ = NormalisedYRange(yRange); }
  const QString& XTitle() const { return x_title_; }
  const QString& YTitle() const { return y_title_; }

  int legend = 0;
  int centred = 0;
  int horizontalGrid = 0;
  int verticalGrid = 0;
  int xNumericLabels = 1;
  int yLabels = 1;
  int xTicks = 1;
  int yTicks = 1;

 protected:
  void DrawXAxis(QPainter& painter, const GraphRect& drawing);
  void DrawYAxis(QPainter& painter, const GraphRect& drawing);
  void DrawLegend(QPainter& painter, const GraphRect& drawing);

  GraphRect plot_;
  GraphUnits units_{};
  QString title_;
  int x_range_ = 100;
  int y_range_ = 200;
  QString x_title_;
  QString y_title_;
  std::vector<std::unique_ptr<KtGraphData>> series_;
};
