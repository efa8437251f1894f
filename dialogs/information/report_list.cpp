#include "dialogs/information/report_list.h"

#include <QHeaderView>
#include <QPalette>
#include <QResizeEvent>
#include <QStyledItemDelegate>

#include "dialogs/frame/control_ids.h"

namespace {

// Right-aligned columns keep a little room before the next column's text.
class TrailingRoomDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QString displayText(const QVariant& value, const QLocale& locale) const override {
    return QStyledItemDelegate::displayText(value, locale) + QStringLiteral("  ");
  }
};

}  // namespace

ReportList::ReportList(int id, QWidget* parent) : QTreeWidget(parent) {
  setObjectName(ControlName(id));
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
}

void ReportList::RemoveAll() {
  clear();
  setColumnCount(0);
  alignments_.clear();
}

void ReportList::SetColumns(const QStringList& headings) {
  setColumnCount(static_cast<int>(headings.size()));
  setHeaderLabels(headings);
  alignments_.assign(headings.size(), Qt::AlignLeft | Qt::AlignVCenter);
  bool anyHeading = false;
  for (const QString& h : headings) anyHeading = anyHeading || !h.isEmpty();
  setHeaderHidden(!anyHeading);
}

void ReportList::SetColumnAlignment(int column, Qt::Alignment alignment) {
  if (column < 0 || column >= static_cast<int>(alignments_.size())) return;
  alignments_[column] = alignment;
  if (alignment & Qt::AlignRight) setItemDelegateForColumn(column, new TrailingRoomDelegate(this));
  if (QTreeWidgetItem* h = headerItem()) h->setTextAlignment(column, alignment);
  for (int i = 0; i < topLevelItemCount(); ++i) topLevelItem(i)->setTextAlignment(column, alignment);
}

void ReportList::SetWidthRule(WidthRule rule) {
  rule_ = std::move(rule);
  ApplyWidths();
}

int ReportList::ClientWidth() const {
  return viewport()->width();
}

void ReportList::ApplyWidths() {
  if (!rule_) return;
  const std::vector<int> widths = rule_(ClientWidth());
  for (int c = 0; c < columnCount() && c < static_cast<int>(widths.size()); ++c) setColumnWidth(c, widths[c]);
}

QTreeWidgetItem* ReportList::AddRow(const QStringList& texts) {
  auto* item = new QTreeWidgetItem(this, texts);
  for (int c = 0; c < static_cast<int>(alignments_.size()); ++c) item->setTextAlignment(c, alignments_[c]);
  return item;
}

QString ReportList::Text(int row, int column) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item != nullptr ? item->text(column) : QString();
}

std::vector<QStringList> ReportList::Rows() const {
  std::vector<QStringList> rows;
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QStringList texts;
    for (int c = 0; c < columnCount(); ++c) texts << topLevelItem(i)->text(c);
    rows.push_back(texts);
  }
  return rows;
}

void ReportList::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  ApplyWidths();
}

void ReportList::MakeNameValueReport() {
  QPalette face = palette();
  face.setColor(QPalette::Base, face.color(QPalette::Window));
  setPalette(face);
  RemoveAll();
  SetColumns({QString(), QString()});
  SetWidthRule(HalfAndRest());
}

ReportList::WidthRule HalfAndRest() {
  return [](int w) { return std::vector<int>{w / 2, w - w / 2}; };
}
