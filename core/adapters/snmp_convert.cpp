#include "core/adapters/snmp_convert.h"

#include <cstring>
#include <limits>

namespace {

constexpr uint64_t kMaxSubId = 0xFFFFFFFFu;

// upsWellKnownAlarms: 1.3.6.1.2.1.33.1.6.3
constexpr uint32_t kWellKnownAlarms[] = {1, 3, 6, 1, 2, 1, 33, 1, 6, 3};
constexpr size_t kWellKnownAlarmsLength = 10;

bool IsNumericType(uint8_t type) {
  return type == ASN_INTEGER || type == ASN_COUNTER || type == ASN_GAUGE || type == ASN_TIMETICKS ||
         type == ASN_UINTEGER;
}

bool IsUnsignedType(uint8_t type) { return type != ASN_INTEGER; }

}  // namespace

std::vector<oid> ParseOidText(const char* text) {
  std::vector<oid> out;
  if (text == nullptr || *text == '\0') return {};
  const char* p = text;
  if (*p == '.') {
    ++p;
  } else {
    out.assign(kMib2Prefix, kMib2Prefix + kMib2PrefixLength);
  }
  if (*p == '\0') return {};
  for (;;) {
    if (*p < '0' || *p > '9') return {};
    uint64_t value = 0;
    while (*p >= '0' && *p <= '9') {
      value = value * 10 + static_cast<uint64_t>(*p - '0');
      if (value > kMaxSubId) return {};
      ++p;
    }
    if (out.size() >= kMaxOidLength) return {};
    out.push_back(static_cast<oid>(value));
    if (*p == '\0') break;
    if (*p != '.') return {};
    ++p;
  }
  return out;
}

std::string OidToText(const oid* name, size_t length) {
  std::string text;
  if (name == nullptr) return text;
  for (size_t i = 0; i < length; ++i) {
    text += '.';
    text += std::to_string(static_cast<unsigned long long>(name[i]));
  }
  return text;
}

std::string OidToText(const std::vector<uint32_t>& name) {
  std::string text;
  for (uint32_t part : name) {
    text += '.';
    text += std::to_string(part);
  }
  return text;
}

std::string OidToText(const std::vector<oid>& name) { return OidToText(name.data(), name.size()); }

int CopySnmpVariable(const netsnmp_variable_list* var, KT_SnmpValue& out) {
  out = KT_SnmpValue();
  if (var == nullptr || var->name == nullptr || var->name_length < 1 || var->name_length > kMaxOidLength) return -1;

  std::vector<uint32_t> name(var->name_length);
  for (size_t i = 0; i < var->name_length; ++i) {
    if (static_cast<uint64_t>(var->name[i]) > kMaxSubId) return -1;
    name[i] = static_cast<uint32_t>(var->name[i]);
  }

  const uint8_t type = var->type;
  std::vector<uint8_t> bytes;
  if (IsNumericType(type)) {
    // net-snmp keeps every 32-bit SNMP number in a long.
    if (var->val.integer == nullptr || var->val_len != sizeof(long)) return -1;
    const long v = *var->val.integer;
    int32_t narrowed = 0;
    if (IsUnsignedType(type)) {
      if (v < 0 || static_cast<unsigned long>(v) > kMaxSubId) return -1;
      narrowed = static_cast<int32_t>(static_cast<uint32_t>(v));
    } else {
      if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return -1;
      narrowed = static_cast<int32_t>(v);
    }
    bytes.resize(sizeof narrowed);
    std::memcpy(bytes.data(), &narrowed, sizeof narrowed);
  } else if (type == ASN_OBJECT_ID) {
    if (var->val_len % sizeof(oid) != 0) return -1;
    const size_t count = var->val_len / sizeof(oid);
    if (count > kMaxOidLength || (count > 0 && var->val.objid == nullptr)) return -1;
    bytes.resize(count * sizeof(uint32_t));
    for (size_t i = 0; i < count; ++i) {
      if (static_cast<uint64_t>(var->val.objid[i]) > kMaxSubId) return -1;
      const uint32_t part = static_cast<uint32_t>(var->val.objid[i]);
      std::memcpy(bytes.data() + i * sizeof part, &part, sizeof part);
    }
  } else if (var->val_len > 0) {
    // Texts, addresses, opaque values, 64-bit counters: the value bytes as they are. A value
    // longer than an SNMP message could carry is not a value.
    if (var->val.string == nullptr || var->val_len > 65535) return -1;
    bytes.assign(var->val.string, var->val.string + var->val_len);
  }

  if (out.SetOid(name.data(), static_cast<int>(name.size())) < 0 ||
      out.SetValue(bytes.data(), static_cast<int>(bytes.size())) < 0) {
    out = KT_SnmpValue();
    return -1;
  }
  out.SetType(type);
  return 1;
}

std::optional<int32_t> SnmpInteger(const KT_SnmpValue& value) {
  if (!IsNumericType(value.GetType()) || value.GetValueLength() != 4 || value.GetValue() == nullptr) {
    return std::nullopt;
  }
  int32_t v = 0;
  std::memcpy(&v, value.GetValue(), sizeof v);
  return v;
}

std::optional<int32_t> SnmpCount(const KT_SnmpValue& value) {
  std::optional<int32_t> v = SnmpInteger(value);
  if (!v || *v < 0) return std::nullopt;
  return v;
}

std::optional<std::string> SnmpText(const KT_SnmpValue& value, size_t maxLength) {
  if (value.GetType() != ASN_OCTET_STR) return std::nullopt;
  const uint8_t* bytes = value.GetValue();
  const size_t length = static_cast<size_t>(value.GetValueLength());
  std::string text;
  if (bytes == nullptr) return text;
  const size_t limit = length < maxLength ? length : maxLength;
  for (size_t i = 0; i < limit && bytes[i] != 0; ++i) text += static_cast<char>(bytes[i]);
  return text;
}

std::vector<uint32_t> SnmpObjectId(const KT_SnmpValue& value) {
  if (value.GetType() != ASN_OBJECT_ID || value.GetValue() == nullptr) return {};
  const size_t length = static_cast<size_t>(value.GetValueLength());
  if (length % sizeof(uint32_t) != 0) return {};
  std::vector<uint32_t> parts(length / sizeof(uint32_t));
  if (!parts.empty()) std::memcpy(parts.data(), value.GetValue(), length);
  return parts;
}

int WellKnownAlarmNumber(const KT_SnmpValue& value) {
  const std::vector<uint32_t> parts = SnmpObjectId(value);
  if (parts.size() < kWellKnownAlarmsLength + 1) return -1;
  for (size_t i = 0; i < kWellKnownAlarmsLength; ++i) {
    if (parts[i] != kWellKnownAlarms[i]) return -1;
  }
  const uint32_t n = parts[kWellKnownAlarmsLength];
  return n > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ? -1 : static_cast<int>(n);
}
