#include "dialogs/frame/layout_fit.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLayout>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace {

class HeightForWidthKeeper : public QObject {
 public:
  explicit HeightForWidthKeeper(QWidget* window) : QObject(window), window_(window) {
    setObjectName(QStringLiteral("heightForWidthKeeper"));
  }

  // The window's layout has handled the event before the window's filters see it.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && !fitting_ &&
        (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize ||
         event->type() == QEvent::Show))
      Fit();
    return false;
  }

 private:
  void Fit() {
    QLayout* layout = window_->layout();
    if (layout == nullptr || !layout->hasHeightForWidth()) return;
    fitting_ = true;
    const int need =
        std::max(layout->totalMinimumSize().height(), layout->totalMinimumHeightForWidth(window_->width()));
    if (window_->minimumHeight() != need) window_->setMinimumHeight(need);
    if (window_->height() < need) window_->resize(window_->width(), need);
    fitting_ = false;
  }

  QWidget* window_;
  bool fitting_ = false;
};

}  // namespace

void KeepHeightForWidth(QWidget* window) {
  if (window == nullptr ||
      window->findChild<HeightForWidthKeeper*>(QString(), Qt::FindDirectChildrenOnly) != nullptr)
    return;
  window->installEventFilter(new HeightForWidthKeeper(window));
}

void GiveStyleSpacing(QBoxLayout* row, const QWidget* owner) {
  if (row == nullptr || owner == nullptr) return;
  const Qt::Orientation orientation =
      row->direction() == QBoxLayout::LeftToRight || row->direction() == QBoxLayout::RightToLeft
          ? Qt::Horizontal
          : Qt::Vertical;
  QStyle* style = owner->style();
  int spacing = style->pixelMetric(
      orientation == Qt::Horizontal ? QStyle::PM_LayoutHorizontalSpacing : QStyle::PM_LayoutVerticalSpacing,
      nullptr, owner);
  // A style that spaces by the kinds of controls gives -1 here: the spacing between two buttons.
  if (spacing < 0)
    spacing =
        style->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton, orientation, nullptr, owner);
  row->setSpacing(std::max(spacing, 0));
}
