// Geometry of the graph frame and the poly-line graph, and drawing into an image.
#include "dialogs/widgets/graph_plot.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <climits>

namespace {

const GraphRect kPlot{100, 40, 500, 240};  // a plot that does not start at y 0

TEST(GraphPlotTest, RangesBelowFiveTakeTheirDefaults) {
  struct Case {
    int x, y, xHeld, yHeld;
  };
  for (const Case& c :
       std::vector<Case>{{3, 0, 100, 200}, {4, 4, 100, 200}, {5, 5, 5, 5}, {63, 600, 63, 600}}) {
    KtGraphPlot g(QString(), c.x, c.y, QString(), QString(), 1);
    EXPECT_EQ(g.XRange(), c.xHeld) << c.x;
    EXPECT_EQ(g.YRange(), c.yHeld) << c.y;
  }
}

TEST(GraphPlotTest, LayoutUnitsAndPlotRectangleFollowTheWidth) {
  const GraphRect drawing{0, 10, 480, 330};
  const GraphUnits u = GraphLayoutUnits(drawing.width());
  EXPECT_EQ(u.font, 60);
  EXPECT_EQ(u.left, 80);
  EXPECT_EQ(u.margin, 24);
  EXPECT_EQ(u.tick, 6);
  EXPECT_EQ(GraphPlotRect(drawing, false), (GraphRect{80, 34, 456, 270}));
  EXPECT_EQ(GraphPlotRect(drawing, true), (GraphRect{80, 34, 456, 90}));
}

TEST(GraphPlotTest, MappingUsesThePlotsMiddleForCentredGraphs) {
  struct Case {
    bool centred;
    int h, v;
    QPoint expected;
  };
  // x = left + h * width / x range; y = zero - v * height / y range.
  for (const Case& c : std::vector<Case>{{false, 0, 0, {100, 240}},
                                         {false, 63, 600, {500, 40}},
                                         {true, 0, 0, {100, 140}},
                                         {true, 63, 300, {500, 40}},
                                         {true, 21, -300, {233, 240}}}) {
    EXPECT_EQ(GraphMapPoint(kPlot, 63, 600, c.centred, c.h, c.v), c.expected)
        << c.centred << " " << c.h << " " << c.v;
  }
  // Where the plot starts at 0 the middle is bottom / 2, as before.
  EXPECT_EQ(GraphMapPoint(GraphRect{0, 0, 100, 200}, 10, 100, true, 0, 0).y(), 100);
}

TEST(GraphPlotTest, TicksStepByATenthAndAtLeastOne) {
  struct Case {
    int range;
    bool centred;
    size_t count;
    int first, last;
  };
  for (const Case& c : std::vector<Case>{{100, false, 11, 0, 100},
                                         {63, false, 11, 0, 60},
                                         {7, false, 8, 0, 7},
                                         {9, false, 10, 0, 9},
                                         {600, true, 11, -300, 300},
                                         {9, true, 9, -4, 4},
                                         // A range from an archive may reach the integer limit.
                                         {INT_MAX, false, 11, 0, 2147483640},
                                         {INT_MAX, true, 11, -1073741823, 1073741817}}) {
    const std::vector<int> ticks = c.centred ? GraphYTicks(c.range, true) : GraphXTicks(c.range);
    ASSERT_EQ(ticks.size(), c.count) << c.range;
    EXPECT_EQ(ticks.front(), c.first);
    EXPECT_EQ(ticks.back(), c.last);
  }
  EXPECT_EQ(GraphYTicks(9, false).size(), 10u);
  EXPECT_EQ(GraphTimeLabelIndexes(7, 100), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(GraphTimeLabelIndexes(100, 35), (std::vector<int>{0, 10, 20, 30}));
}

TEST(GraphPlotTest, PolylineDrawsTheNewestPointsOldestFirst) {
  struct Case {
    int points;
    size_t drawn;
  };
  for (const Case& c : std::vector<Case>{{0, 0}, {1, 1}, {5, 5}, {101, 101}, {300, 101}}) {
    std::vector<int> newestFirst;
    for (int i = 0; i < c.points; ++i) newestFirst.push_back(c.points - 1 - i);  // value = age order
    const std::vector<QPoint> line = GraphPolyline(kPlot, 100, 400, false, newestFirst);
    ASSERT_EQ(line.size(), c.drawn) << c.points;
    if (line.empty()) continue;
    // Index 0 is the oldest drawn point (moved 1 right); the last is the newest at index c.
    const int c0 = static_cast<int>(c.drawn) - 1;
    EXPECT_EQ(line.front(),
              GraphMapPoint(kPlot, 100, 400, false, 0, newestFirst[static_cast<size_t>(c0)]) + QPoint(1, 0));
    if (c.drawn > 1) {
      EXPECT_EQ(line.back(), GraphMapPoint(kPlot, 100, 400, false, c0, newestFirst[0]) - QPoint(1, 1));
    }
  }
}

TEST(GraphPlotTest, SeriesColoursComeFromThePenTable) {
  EXPECT_EQ(GraphSeriesColor(0), QColor(255, 0, 0));     // entry 1
  EXPECT_EQ(GraphSeriesColor(1), QColor(0, 0, 255));     // entry 2
  EXPECT_EQ(GraphSeriesColor(19), QColor(0, 0, 0));      // entry 20
  EXPECT_EQ(GraphSeriesColor(20), GraphSeriesColor(0));  // entry 1 again
  EXPECT_EQ(GraphSeriesColor(35), GraphSeriesColor(0));
  EXPECT_EQ(GraphPenColor(11), QColor(0xC0, 0xC0, 0xC0));
}

TEST(GraphPlotTest, DrawingSmallRangesAndEmptySeriesFinishes) {
  // Ranges of 5 to 9 once gave an axis step of 0; every shape here must draw and return.
  for (int range : {5, 7, 9, 63}) {
    KtGraphPlot g(QString(), range, range, QStringLiteral("x"), QStringLiteral("y"), range == 63 ? 0 : 1);
    g.centred = range == 9;
    g.legend = range == 7;
    g.horizontalGrid = g.verticalGrid = 1;
    auto* s = new KtGraphData(QStringLiteral("s"), 0);
    for (int i = 0; i < 20; ++i) s->AddPoint(i % range, 1700000000 + i);
    g.AddSeries(s);
    g.AddSeries(new KtGraphData(QStringLiteral("empty"), 0));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    g.Draw(p, image.rect());
    p.end();
    EXPECT_EQ(g.PlotRect(), GraphPlotRect(GraphRect{0, 0, 400, 300}, g.legend != 0)) << range;
  }
}

}  // namespace
