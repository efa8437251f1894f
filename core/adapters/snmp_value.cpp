#include "core/adapters/snmp_value.h"

#include <new>

void KT_SnmpValue::Note(int32_t function, int32_t code) {
  errorClass = ERR_SNMP_VALUE;
  this->function = function;
  this->code = code;
  systemError = 0;
}

int KT_SnmpValue::SetOid(const uint32_t* oid, int count) {
  if (oid == nullptr || count < 1) {
    Note(1, 1);
    return -1;
  }
  try {
    oid_.assign(oid, oid + count);
  } catch (const std::bad_alloc&) {
    oid_.clear();
    Note(1, 2);
    return -1;
  }
  return 1;
}

int KT_SnmpValue::SetValue(const uint8_t* value, int length) {
  if (length < 0 || (value == nullptr && length > 0)) {
    Note(2, 1);
    return -1;
  }
  try {
    std::vector<uint8_t> copy;
    copy.reserve(static_cast<size_t>(length) + 1);
    if (length > 0) copy.assign(value, value + length);
    copy.push_back(0);
    value_ = std::move(copy);
  } catch (const std::bad_alloc&) {
    Note(2, 2);
    return -1;
  }
  return 1;
}
