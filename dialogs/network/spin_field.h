// An integer field with a spin box, as the networking dialogs use them: the spin box carries
// the range, and reading it back checks the typed text against the same range.
#pragma once

#include <QString>

class QSpinBox;
class QWidget;

// A spin box named after `id` with the range and the initial value.
QSpinBox* MakeSpinField(QWidget* parent, int id, int lo, int hi, int value);
// The field's value: true, or false after "Please enter an integer between lo and hi." (the
// field gets the focus and its text is selected).
bool ReadSpinField(QWidget* owner, QSpinBox* spin, int& out);
