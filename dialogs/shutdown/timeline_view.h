// TimeLineView: the bars of CShutdownDlg's rows, beside the row list, on a scale of minutes.
// It paints the rows the list shows (again when the list scrolls or a key moves it), each bar
// at its row's height: an axis with a tick per minute (ticks closer than 3 pixels are left out)
// and major ticks every 5 minutes above 10 minutes, else every 2; then per visible row a grey
// track and the row's bar, a few pixels long at least whatever the scale.
#pragma once

#include <QWidget>
#include <vector>

class CShutdownDlg;

class TimeLineView : public QWidget {
  Q_OBJECT

 public:
  explicit TimeLineView(CShutdownDlg* dialog, QWidget* parent);

  // Pixels of one minute on the current width (a real number: no minute is 0 pixels wide).
  double MinuteWidth() const;
  // The x of a minute.
  int MinuteX(double minute) const;
  // The minutes that get a tick, and the major ones.
  std::vector<int> Ticks() const;
  std::vector<int> MajorTicks() const;
  // Rows (list indexes) drawn by the last paint.
  const std::vector<int>& PaintedRows() const { return painted_; }
  // The y of a row's centre, or -1 when it is not visible.
  int RowY(int row) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CShutdownDlg* dialog_;
  std::vector<int> painted_;
};
