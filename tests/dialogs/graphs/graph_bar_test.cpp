// The bar graph's rectangles.
#include "dialogs/widgets/graph_bar.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace {

const GraphRect kPlot{50, 20, 450, 220};  // 400 x 200

std::vector<int> Ramp(int n) {  // newest first: the newest point has value n, the oldest 1
  std::vector<int> v;
  for (int i = n; i >= 1; --i) v.push_back(i * 10);
  return v;
}

TEST(GraphBarTest, BarsRunFromTheOldestDrawnPointToTheNewest) {
  struct Case {
    int points;
    size_t bars;
  };
  for (const Case& c : std::vector<Case>{{0, 0}, {1, 1}, {10, 10}, {32, 32}, {64, 32}}) {
    const std::vector<int> values = Ramp(c.points);
    const std::vector<GraphBar> bars = GraphBarRects(kPlot, 31, 1000, values);
    ASSERT_EQ(bars.size(), c.bars) << c.points;
    if (bars.empty()) continue;
    // Width and gap depend on n, the number of points, not on the number drawn.
    const int d = static_cast<int>(400.0 * 5 / (6 * c.points + 1));
    const int g = static_cast<int>(0.2 * d);
    EXPECT_EQ(bars[0].rect.right, kPlot.left + (d + g)) << c.points;
    EXPECT_EQ(bars.back().rect.right, kPlot.left + static_cast<int>(bars.size()) * (d + g));
    // The leftmost bar is position b (the oldest drawn), the rightmost the newest (position 0).
    const int b = static_cast<int>(bars.size()) - 1;
    EXPECT_EQ(bars[0].rect.height(),
              std::max(1, static_cast<int>(200.0 / 1000 * values[static_cast<size_t>(b)]) - 1));
    if (bars.size() > 1) {
      EXPECT_LT(bars[0].rect.height(), bars.back().rect.height());
    }
  }
}

TEST(GraphBarTest, HeightsClipAtTheRangeAndEmptyValuesKeepTheirPlace) {
  // Newest first: 500 (above the range), 0, -20, 100.
  const std::vector<GraphBar> bars = GraphBarRects(kPlot, 31, 200, {500, 0, -20, 100});
  ASSERT_EQ(bars.size(), 4u);
  EXPECT_TRUE(bars[0].drawn);  // 100: half the plot
  EXPECT_EQ(bars[0].rect.top, kPlot.bottom - 100 + 1);
  EXPECT_FALSE(bars[1].drawn);  // -20 counts as 0
  EXPECT_FALSE(bars[2].drawn);  // 0
  EXPECT_TRUE(bars[3].drawn);   // above the range: full height
  EXPECT_EQ(bars[3].rect.top, kPlot.top + 1);
  // The undrawn bars still take their slots.
  const int step = bars[1].rect.right - bars[0].rect.right;
  EXPECT_EQ(bars[2].rect.right - bars[1].rect.right, step);
  EXPECT_EQ(bars[3].rect.right - bars[2].rect.right, step);
  // Narrow plots still give bars at least 1 wide.
  for (const GraphBar& bar : GraphBarRects(GraphRect{0, 0, 10, 10}, 31, 200, Ramp(64))) {
    EXPECT_GE(bar.rect.width(), 1);
    EXPECT_GE(bar.rect.height(), 1);
  }
}

TEST(GraphBarTest, DrawsRedBarsOnlyWhereValuesArePositive) {
  KtGraphBar chart(QString(), 31, 300, QStringLiteral("Harmonic"), QStringLiteral("Value"));
  auto* s = new KtGraphData(QString(), 32);
  for (int v : {0, 300, 0, 150}) s->AddPoint(v, 0);  // oldest first
  chart.AddSeries(s);
  QImage image(480, 240, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  chart.Draw(p, image.rect());
  p.end();
  const std::vector<GraphBar> bars = chart.Bars();
  ASSERT_EQ(bars.size(), 4u);
  for (const GraphBar& bar : bars) {
    const QPoint inside((bar.rect.left + bar.rect.right) / 2, bar.rect.bottom - 2);
    EXPECT_EQ(image.pixelColor(inside) == QColor(255, 0, 0), bar.drawn);
  }
  // An empty series draws nothing.
  KtGraphBar empty(QString(), 31, 300, QString(), QString());
  empty.AddSeries(new KtGraphData(QString(), 32));
  EXPECT_TRUE(empty.Bars().empty());
}

}  // namespace
