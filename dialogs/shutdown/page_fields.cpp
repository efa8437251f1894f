#include "dialogs/shutdown/page_fields.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "dialogs/frame/control_ids.h"

QLineEdit* MakeMinutesEdit(QWidget* parent, int id, int digits) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(ControlName(id));
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(digits)), edit));
  edit->setFixedWidth(edit->fontMetrics().averageCharWidth() * 10);
  edit->setAlignment(Qt::AlignRight);
  return edit;
}

QLabel* AddQuestionRow(QGridLayout* grid, int row, const QString& question, QWidget* field,
                       const QString& unit) {
  QWidget* parent = field->parentWidget();
  auto* label = new QLabel(question, parent);
  label->setWordWrap(true);
  label->setBuddy(field);
  label->setMinimumWidth(label->fontMetrics().averageCharWidth() * 56);
  grid->addWidget(label, row, 0);
  grid->addWidget(field, row, 1, Qt::AlignVCenter);
  if (!unit.isEmpty()) grid->addWidget(new QLabel(unit, parent), row, 2);
  return label;
}

int MinutesOf(const QLineEdit* edit) {
  bool ok = false;
  const int v = edit->text().trimmed().toInt(&ok);
  return ok ? v : -1;
}
