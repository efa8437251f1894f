#include "tests/dialogs/harness/layout_check.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

namespace trem_harness {

namespace {

// The text as drawn: "&&" is an ampersand, a single "&" marks the mnemonic and is not drawn.
QString Drawn(QString text) {
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove(QLatin1Char('&'));
  text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  return text;
}

QString TextOf(const QWidget* w) {
  if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (const auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  return {};
}

std::string Name(const QWidget* w) {
  QString text = Drawn(TextOf(w)).simplified();
  if (text.size() > 40) text = text.left(37) + QStringLiteral("...");
  QString out = QString::fromLatin1(w->metaObject()->className());
  if (!text.isEmpty()) out += QStringLiteral(" '") + text + QLatin1Char('\'');
  if (!w->objectName().isEmpty()) out += QStringLiteral(" (") + w->objectName() + QLatin1Char(')');
  return out.toStdString();
}

// True for the parts of a compound widget and for what scrolls inside a view: their geometry
// is the compound's own business.
bool InsideCompound(const QWidget* w, const QWidget* window) {
  for (const QWidget* p = w->parentWidget(); p != nullptr && p != window; p = p->parentWidget()) {
    if (qobject_cast<const QAbstractScrollArea*>(p) || qobject_cast<const QComboBox*>(p) ||
        qobject_cast<const QAbstractSpinBox*>(p) || qobject_cast<const QTabBar*>(p) ||
        qobject_cast<const QToolBar*>(p) || qobject_cast<const QLineEdit*>(p))
      return true;
  }
  return false;
}

// Controls a user reads or operates.
bool IsControl(const QWidget* w) {
  return qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
         qobject_cast<const QGroupBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
         qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
         qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QProgressBar*>(w) ||
         qobject_cast<const QSlider*>(w) || qobject_cast<const QTabWidget*>(w);
}

std::string Size(int w, int h) {
  return std::to_string(w) + "x" + std::to_string(h);
}

// What the control's text needs against what it has; empty when it fits.
std::string TextFault(const QWidget* w) {
  const QString text = TextOf(w);
  if (text.trimmed().isEmpty()) return {};
  const QSize has = w->size();
  if (const auto* label = qobject_cast<const QLabel*>(w)) {
    if (!label->pixmap().isNull()) return {};
    if (label->wordWrap()) {
      const int need = label->heightForWidth(has.width());
      if (need > has.height())
        return "needs " + std::to_string(need) + " px high at " + std::to_string(has.width()) + " px, has " +
               std::to_string(has.height());
      // The longest word must fit the width.
      const int word = label->minimumSizeHint().width();
      if (word > has.width())
        return "needs " + std::to_string(word) + " px wide, has " + std::to_string(has.width());
      return {};
    }
    const QSize need = label->minimumSizeHint();
    if (need.width() > has.width() || need.height() > has.height())
      return "needs " + Size(need.width(), need.height()) + ", has " + Size(has.width(), has.height());
    return {};
  }
  if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
    const QSize need = w->sizeHint();
    if (need.width() > has.width() || need.height() > has.height())
      return "needs " + Size(need.width(), need.height()) + ", has " + Size(has.width(), has.height());
    return {};
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
    // The text and icon inside the button's frame, with a little air on either side (a push
    // button's size hint asks for more than that: a minimum width of the style's own).
    QStyleOptionButton option;
    option.initFrom(button);
    option.rect = button->rect();
    const QRect inside = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    const QFontMetrics fm = button->fontMetrics();
    int needW = fm.horizontalAdvance(Drawn(text)) + 4;
    if (!button->icon().isNull()) needW += button->iconSize().width() + 4;
    const int needH = fm.height();
    if (needW > inside.width() || needH > inside.height())
      return "needs " + Size(needW, needH) + " inside its frame, has " +
             Size(inside.width(), inside.height());
    return {};
  }
  if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
    const QSize need = group->minimumSizeHint();
    if (need.width() > has.width() || need.height() > has.height())
      return "needs " + Size(need.width(), need.height()) + ", has " + Size(has.width(), has.height());
  }
  return {};
}

}  // namespace

std::vector<std::string> LayoutFaults(QWidget* window) {
  std::vector<std::string> faults;
  if (window == nullptr) return faults;
  if (const QScreen* screen = window->screen()) {
    const QSize room = screen->availableGeometry().size();
    const QSize size = window->frameGeometry().size();
    if (size.width() > room.width() || size.height() > room.height())
      faults.push_back("the window is " + Size(size.width(), size.height()) + ", its screen " +
                       Size(room.width(), room.height()));
  }
  QList<QWidget*> controls;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (w->isWindow() || !w->isVisible() || !IsControl(w) || InsideCompound(w, window)) continue;
    controls << w;
    const std::string fault = TextFault(w);
    if (!fault.empty()) faults.push_back(Name(w) + ": " + fault);
    const QWidget* parent = w->parentWidget();
    if (!parent->rect().contains(w->geometry()))
      faults.push_back(Name(w) + ": at " + Size(w->x(), w->y()) + " size " + Size(w->width(), w->height()) +
                       ", outside its parent " + Name(parent) + " of " +
                       Size(parent->width(), parent->height()));
  }
  // Neighbours that cover each other, or touch with no gap between them (a group box holds its
  // controls, so only siblings count).
  for (int i = 0; i < controls.size(); ++i) {
    for (int j = i + 1; j < controls.size(); ++j) {
      QWidget* a = controls[i];
      QWidget* b = controls[j];
      if (a->parentWidget() != b->parentWidget()) continue;
      if (a->geometry().intersects(b->geometry()))
        faults.push_back(Name(a) + " and " + Name(b) + " overlap");
      else if (!qobject_cast<QLabel*>(a) && !qobject_cast<QLabel*>(b) &&
               a->geometry().adjusted(-1, -1, 1, 1).intersects(b->geometry()))
        faults.push_back(Name(a) + " and " + Name(b) + " touch");
    }
  }
  // The Tab key walks a row of buttons from left to right.
  QList<QWidget*> row;
  QWidget* w = window;
  for (int steps = 0; steps < 1000; ++steps) {
    w = w->nextInFocusChain();
    if (w == window) break;
    if (qobject_cast<QPushButton*>(w) && w->isVisible() && w->isEnabled() && !InsideCompound(w, window) &&
        (w->focusPolicy() & Qt::TabFocus))
      row << w;
  }
  for (int i = 0; i + 1 < row.size(); ++i) {
    const QRect a(row[i]->mapTo(window, QPoint(0, 0)), row[i]->size());
    const QRect b(row[i + 1]->mapTo(window, QPoint(0, 0)), row[i + 1]->size());
    if (a.top() == b.top() && b.left() < a.left())
      faults.push_back(Name(row[i + 1]) + " comes after " + Name(row[i]) +
                       " in the tab order but left of it");
  }
  return faults;
}

}  // namespace trem_harness
