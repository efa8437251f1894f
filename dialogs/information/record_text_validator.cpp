#include "dialogs/information/record_text_validator.h"

#include "core/scp/record_writer.h"

QValidator::State RecordTextValidator::validate(QString& input, int& /*pos*/) const {
  return static_cast<size_t>(input.toUtf8().size()) <= kRecordMaxText ? Acceptable : Invalid;
}
