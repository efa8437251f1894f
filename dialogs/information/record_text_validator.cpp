#include "dialogs/information/record_text_validator.h"

#include "core/scp/record_writer.h"

bool RecordTextValidator::Fits(const QString& text) {
  return static_cast<size_t>(text.toUtf8().size()) <= kRecordMaxText;
}

QValidator::State RecordTextValidator::validate(QString& input, int& /*pos*/) const {
  return Fits(input) ? Acceptable : Invalid;
}
