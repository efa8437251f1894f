// Small pieces of the shutdown-parameter pages' layout: a question on the left (wrapped), its
// number field and its unit on the right.
#pragma once

#include <QString>

class QGridLayout;
class QLabel;
class QLineEdit;
class QWidget;

// A field for whole minutes (digits only, at most `digits` of them) with the id.
QLineEdit* MakeMinutesEdit(QWidget* parent, int id, int digits = 4);
// Adds the row question | field | unit to the grid; the question's label.
QLabel* AddQuestionRow(QGridLayout* grid, int row, const QString& question, QWidget* field,
                       const QString& unit = QStringLiteral("minutes"));
// The number in a minutes field, -1 when it is empty.
int MinutesOf(const QLineEdit* edit);
