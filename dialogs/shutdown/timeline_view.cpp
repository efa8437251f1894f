#include "dialogs/shutdown/timeline_view.h"

#include <QListWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "dialogs/shutdown/shutdown_dlg.h"

namespace {
constexpr int kMargin = 4;          // space left and right of the scale
constexpr int kMinTickSpacing = 3;  // ticks closer than this are left out
constexpr int kTrackWidth = 5;
constexpr int kMinBarLength = 3;  // pixels of the shortest bar

QColor Colour(BarColour c) {
  switch (c) {
    case BarColour::Red:
      return QColor(255, 0, 0);
    case BarColour::Yellow:
      return QColor(255, 255, 0);
    case BarColour::Blue:
      return QColor(0, 0, 255);
    case BarColour::Green:
      return QColor(0, 255, 0);
    case BarColour::None:
      break;
  }
  return QColor();
}
}  // namespace

TimeLineView::TimeLineView(CShutdownDlg* dialog, QWidget* parent) : QWidget(parent), dialog_(dialog) {
  setObjectName(QStringLiteral("timeLine"));
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

QSize TimeLineView::sizeHint() const {
  return {fontMetrics().averageCharWidth() * 48, fontMetrics().height() * 12};
}

QSize TimeLineView::minimumSizeHint() const {
  return {fontMetrics().averageCharWidth() * 40, fontMetrics().height() * 6};
}

double TimeLineView::MinuteWidth() const {
  const int span = width() - 2 * kMargin;
  return span > 0 ? static_cast<double>(span) / dialog_->ScaleEnd() : 0.0;
}

int TimeLineView::MinuteX(double minute) const {
  return kMargin + static_cast<int>(std::lround(minute * MinuteWidth()));
}

std::vector<int> TimeLineView::Ticks() const {
  std::vector<int> ticks;
  const double unit = MinuteWidth();
  // No scale before the agent's settings arrive.
  if (unit <= 0 || !dialog_->IsFilled()) return ticks;
  // Every minute when they are far enough apart, else every k-th.
  const int step = std::max(1, static_cast<int>(std::ceil(kMinTickSpacing / unit)));
  const int n = dialog_->ScaleEnd() - 1;
  for (int k = step; k <= n; k += step) ticks.push_back(k);
  return ticks;
}

std::vector<int> TimeLineView::MajorTicks() const {
  std::vector<int> ticks;
  const double unit = MinuteWidth();
  // No scale before the agent's settings arrive.
  if (unit <= 0 || !dialog_->IsFilled()) return ticks;
  const int n = dialog_->ScaleEnd() - 1;
  int every = n > 10 ? 5 : 2;
  while (every * unit < kMinTickSpacing) every *= 2;
  for (int k = every; k <= n; k += every) ticks.push_back(k);
  return ticks;
}

int TimeLineView::RowY(int row) const {
  QListWidget* list = dialog_->List();
  QListWidgetItem* item = list->item(row);
  if (item == nullptr) return -1;
  const QRect rect = list->visualItemRect(item);
  if (!rect.isValid() || rect.bottom() < 0 || rect.top() > list->viewport()->height()) return -1;
  const QPoint at = list->viewport()->mapTo(window(), QPoint(0, rect.center().y()));
  return mapFrom(window(), at).y();
}

void TimeLineView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const int left = MinuteX(0);
  const int right = MinuteX(dialog_->ScaleEnd());

  painted_.clear();
  const auto& rows = dialog_->Rows();
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const int y = RowY(r);
    if (y < 0 || y > height()) continue;
    painted_.push_back(r);
    p.fillRect(QRect(left, y - kTrackWidth / 2, right - left, kTrackWidth), QColor(210, 210, 210));
    const TimeLineBar bar = dialog_->BarOf(rows[static_cast<size_t>(r)]);
    if (bar.colour == BarColour::None || bar.to <= bar.from) continue;
    // A bar of any length shows: it starts clear of the axis drawn over the left edge, and is
    // never shorter than a few pixels however long the scale.
    const int x0 = std::max(MinuteX(bar.from), left + 1);
    const int x1 = std::max(MinuteX(bar.to), x0 + kMinBarLength);
    p.fillRect(QRect(x0, y - kTrackWidth / 2, x1 - x0, kTrackWidth), Colour(bar.colour));
  }

  // The axis along the top edge, its ticks pointing down into the rows.
  p.setPen(QPen(palette().color(QPalette::Mid), 3));
  p.drawLine(left, 1, right, 1);
  p.setPen(QPen(Qt::black, 1));
  p.drawLine(left, 0, right, 0);
  p.drawLine(left, 0, left, height());
  for (int k : Ticks()) p.drawLine(MinuteX(k), 0, MinuteX(k), 3);
  p.setPen(QPen(Qt::black, 2));
  for (int k : MajorTicks()) p.drawLine(MinuteX(k), 0, MinuteX(k), 5);
}
