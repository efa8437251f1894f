#include "dialogs/widgets/graph_bar.h"

#include <QPainter>

std::vector<GraphBar> KtGraphBar::Bars() const {
  if (SeriesCount() == 0) return {};
  return GraphBarRects(plot_, x_range_, y_range_, Series(0)->ValuesNewestFirst());
}

void KtGraphBar::DrawSeries(QPainter& painter) {
  const QColor red(255, 0, 0);
  for (const GraphBar& bar : Bars()) {
    if (bar.drawn) painter.fillRect(bar.rect.ToQRect(), red);
  }
}
