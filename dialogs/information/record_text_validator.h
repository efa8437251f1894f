// RecordTextValidator: keeps a text field within what one text of an SCP record can carry
// (kRecordMaxText bytes once written as UTF-8). The blocks refuse a longer text and keep the
// old one, so a field that let the user type more would have OK send the old value and close
// as if the change had been made. Characters outside ASCII take more than one byte each, so
// the field's character limit alone does not keep it within the record.
#pragma once

#include <QValidator>

class RecordTextValidator : public QValidator {
 public:
  explicit RecordTextValidator(QObject* parent) : QValidator(parent) {}

  // True when the text fits into one record text.
  static bool Fits(const QString& text);

  State validate(QString& input, int& pos) const override;
};
