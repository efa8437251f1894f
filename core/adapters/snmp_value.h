// KT_SnmpValue: one SNMP variable as the adapter client keeps its results: the object
// identifier (32-bit sub-identifiers), the SNMP type byte and the value bytes, stored with a
// terminating zero so that a text value can be read as a C string.
//
// Error records (class 42, fields only): function 1 SetOid (code 1 bad input, 2 no memory),
// function 2 SetValue (same codes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/base/error_status.h"

class KT_SnmpValue : public KT_ErrorStatus {
 public:
  KT_SnmpValue() = default;

  // Copies `count` sub-identifiers. -1 (code 1) for a null array or a count below 1; else 1.
  int SetOid(const uint32_t* oid, int count);
  // nullptr when no identifier is set.
  const uint32_t* GetOid() const { return oid_.empty() ? nullptr : oid_.data(); }
  int GetOidCount() const { return static_cast<int>(oid_.size()); }

  // Copies `length` bytes and appends a zero. -1 (code 1) for a negative length or a null
  // pointer with a non-zero length; else 1. A length of 0 stores an empty value.
  int SetValue(const uint8_t* value, int length);
  // The value bytes followed by a zero; nullptr when no value is set.
  const uint8_t* GetValue() const { return value_.empty() ? nullptr : value_.data(); }
  // Without the terminating zero.
  int GetValueLength() const { return value_.empty() ? 0 : static_cast<int>(value_.size() - 1); }

  void SetType(uint8_t type) { type_ = type; }
  uint8_t GetType() const { return type_; }

 private:
  void Note(int32_t function, int32_t code);

  std::vector<uint32_t> oid_;
  uint8_t type_ = 0;
  std::vector<uint8_t> value_;
};
