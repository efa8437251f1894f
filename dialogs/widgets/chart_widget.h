// KtChart: the line chart of the data-collection display, drawn with QPainter. One line per
// series over the sample number, axes with ticks and labels, axis titles, a chart title and a
// legend of the series names. A value that is not a number is a gap: it breaks the line and
// takes no part in the y range.
//
// The scale (ComputeChartScale) is pure so that tests check it without drawing:
//   - x runs from the first to the last sample number, y over every value of every series,
//     both starting from 0; a chart whose x or y span is empty draws nothing;
//   - the ends are rounded outwards to a whole unit (ChartRoundUp / ChartRoundDown: the unit
//     is 10 below 100, 100 below 1000, 1000 below 10000, else 10000; limits +/-30000);
//   - ticks every 10 samples on x and every tenth of the span on y.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

// The 20 line colours; series i draws in ChartColor(i % 20).
QColor ChartColor(int index);

int ChartRoundUp(double value);
int ChartRoundDown(double value);

struct ChartScale {
  bool drawable = false;
  double xMin = 0, xMax = 0, yMin = 0, yMax = 0;
  double xStep = 10.0, yStep = 0;
};
ChartScale ComputeChartScale(const std::vector<double>& x, const std::vector<std::vector<double>>& ys);

// The parts of the chart in a page rectangle: the chart area (0.005 .. 0.995 of the page),
// the plot (0.15, 0.1, 0.9, 0.65 of the chart area) and the legend box (0.1, 0.73, 0.9, 0.99).
struct ChartLayout {
  QRect area;
  QRect plot;
  QRect legend;
};
ChartLayout ComputeChartLayout(const QRect& page);

class KtChart : public QWidget {
  Q_OBJECT

 public:
  explicit KtChart(QWidget* parent = nullptr);

  // Replaces the data: the sample numbers, one value array per series (each as long as x),
  // the series names.
  void SetData(std::vector<double> x, std::vector<std::vector<double>> ys, QStringList names);
  void Clear();
  const ChartScale& Scale() const { return scale_; }
  int SeriesCount() const { return static_cast<int>(ys_.size()); }
  const std::vector<std::vector<double>>& Values() const { return ys_; }
  const QStringList& Names() const { return names_; }

  QString title = QStringLiteral("Data_Collection_Display");
  QString xTitle = QStringLiteral("Time");
  QString yTitle = QStringLiteral("Meter_Value");

 signals:
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::vector<double> x_;
  std::vector<std::vector<double>> ys_;
  QStringList names_;
  ChartScale scale_;
};
