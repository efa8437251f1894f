// The data-collection chart's scale, colours and layout.
#include "dialogs/widgets/chart_widget.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

std::vector<double> Samples(int n) {
  std::vector<double> x;
  for (int i = 0; i < n; ++i) x.push_back(i);
  return x;
}

TEST(ChartWidgetTest, AxisEndsRoundOutwardsToAWholeUnit) {
  struct Case {
    double value;
    int up, down;
  };
  for (const Case& c : std::vector<Case>{{47, 50, 40},
                                         {3, 10, 0},
                                         {0, 0, 0},
                                         {850, 900, 800},
                                         {-120, -100, -200},
                                         {99.7, 100, 90},
                                         {1234, 2000, 1000},
                                         {29999, 30000, 20000},
                                         {45000, 30000, 30000},
                                         {-45000, -30000, -30000}}) {
    EXPECT_EQ(ChartRoundUp(c.value), c.up) << c.value;
    EXPECT_EQ(ChartRoundDown(c.value), c.down) << c.value;
  }
}

TEST(ChartWidgetTest, ScaleCoversEverySeriesFromZeroAndSkipsGaps) {
  struct Case {
    std::vector<std::vector<double>> ys;
    bool drawable;
    double yMin, yMax, yStep;
  };
  for (const Case& c : std::vector<Case>{{{{3, 20, 47}}, true, 0, 50, 5},
                                         {{{-120, 0, 10}, {850, 5, kGap}}, true, -200, 900, 110},
                                         {{{kGap, 30, kGap}, {12, kGap, 7}}, true, 0, 30, 3},
                                         {{{0, 0, 0}}, false, 0, 0, 0},
                                         {{{kGap, kGap, kGap}}, false, 0, 0, 0},
                                         {{}, false, 0, 0, 0}}) {
    const ChartScale s = ComputeChartScale(Samples(3), c.ys);
    EXPECT_EQ(s.drawable, c.drawable);
    if (!c.drawable) continue;
    EXPECT_EQ(s.yMin, c.yMin);
    EXPECT_EQ(s.yMax, c.yMax);
    EXPECT_DOUBLE_EQ(s.yStep, c.yStep);
    EXPECT_EQ(s.xMin, 0);
    EXPECT_EQ(s.xMax, 10);
    EXPECT_EQ(s.xStep, 10.0);
  }
  // Fewer than two distinct samples: nothing to draw.
  EXPECT_FALSE(ComputeChartScale(Samples(1), {{5}}).drawable);
  EXPECT_FALSE(ComputeChartScale({}, {}).drawable);
  EXPECT_EQ(ComputeChartScale(Samples(100), {{1, 2}}).xMax, 100);
}

TEST(ChartWidgetTest, ColoursRepeatEveryTwentySeries) {
  EXPECT_NE(ChartColor(0), ChartColor(1));
  EXPECT_EQ(ChartColor(20), ChartColor(0));
  EXPECT_EQ(ChartColor(41), ChartColor(1));
  for (int i = 0; i < 20; ++i) {
    for (int j = i + 1; j < 20; ++j) EXPECT_NE(ChartColor(i), ChartColor(j)) << i << " " << j;
  }
}

TEST(ChartWidgetTest, LayoutPlacesPlotAndLegendByPageFractions) {
  const ChartLayout l = ComputeChartLayout(QRect(0, 0, 1000, 1000));
  EXPECT_EQ(l.area, QRect(QPoint(5, 5), QPoint(994, 994)));
  EXPECT_EQ(l.plot.left(), 5 + 148);
  EXPECT_EQ(l.plot.top(), 5 + 99);
  EXPECT_LT(l.plot.bottom(), l.legend.top());
  EXPECT_EQ(l.legend.top(), 5 + 722);
}

}  // namespace
