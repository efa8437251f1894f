// ReportList: the report-style list the information dialogs show their rows in (a list view
// with text columns, no tree decoration). Column widths follow a rule of the list's client
// width that the dialog sets; the rule is applied again whenever the list is resized, so the
// columns keep their proportions when the dialog grows.
#pragma once

#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <vector>

class ReportList : public QTreeWidget {
  Q_OBJECT

 public:
  // Column widths for a client width.
  using WidthRule = std::function<std::vector<int>(int clientWidth)>;

  ReportList(int id, QWidget* parent);

  // Removes every row and column.
  void RemoveAll();
  // Sets the columns (headings may be empty; when all are, the heading bar is hidden).
  void SetColumns(const QStringList& headings);
  void SetColumnAlignment(int column, Qt::Alignment alignment);
  void SetWidthRule(WidthRule rule);
  // Empties the list into two heading-less columns of half the width each, on the dialog's own
  // face colour: the name / value report of the information dialogs, read rather than edited.
  void MakeNameValueReport();
  // Applies the width rule to the current client width.
  void ApplyWidths();
  // Appends a row; the texts go to the columns in order.
  QTreeWidgetItem* AddRow(const QStringList& texts);

  int RowCount() const { return topLevelItemCount(); }
  QString Text(int row, int column) const;
  // The rows, each as its column texts.
  std::vector<QStringList> Rows() const;
  // The list's client width (the viewport).
  int ClientWidth() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  WidthRule rule_;
  std::vector<Qt::Alignment> alignments_;
};

// "Half and the rest" and similar rules.
ReportList::WidthRule HalfAndRest();
