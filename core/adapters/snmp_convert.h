// Conversions between net-snmp's records and the adapter client's own forms: object
// identifier texts, the variables of a response PDU as KT_SnmpValue records, and the checked
// readers that turn a value record into a number, a text or an object identifier.
//
// Everything from the adapter is checked before use: a number is taken only from a 4-byte
// value of a numeric type, a text only from an OCTET STRING and never beyond the largest length
// the caller allows, an identifier only from an OBJECT IDENTIFIER whose length is a whole number
// of sub-identifiers. net-snmp keeps numbers in `long` and sub-identifiers in `oid` (64-bit
// here); both are narrowed explicitly to the 32-bit fields of KT_SnmpValue, and a value that
// does not fit is refused rather than cut.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/adapters/snmp_value.h"

// The longest object identifier the client builds or accepts.
inline constexpr size_t kMaxOidLength = 128;

// mib-2 (1.3.6.1.2.1): the base of every relative identifier text.
inline constexpr oid kMib2Prefix[] = {1, 3, 6, 1, 2, 1};
inline constexpr size_t kMib2PrefixLength = 6;

// Parses a numeric identifier text. "1.3.6.1.2.1.1.6.0" with a leading dot is absolute; without
// one ("33.1.6.1.0", "1.6.0") the text is taken under mib-2. Every part must be a decimal number
// of 0..4294967295, at most 128 parts in all. Empty on failure (null text, empty part, sign,
// letter, too many parts).
std::vector<oid> ParseOidText(const char* text);

// Dotted text with a leading dot: ".1.3.6.1.2.1.33.1.6.1.0".
std::string OidToText(const oid* name, size_t length);
std::string OidToText(const std::vector<uint32_t>& name);
std::string OidToText(const std::vector<oid>& name);

// Copies one variable of a response into the value record: name, type byte and value.
// Numbers (INTEGER, Counter, Gauge, TimeTicks, and UInteger32) become four bytes in host order;
// an OBJECT IDENTIFIER becomes four bytes per sub-identifier; every other type keeps its value
// bytes. 1 on success; -1 when the variable is malformed (no name, a name or value longer than
// its buffer can hold, a number outside 32 bits, a sub-identifier above 2^32 - 1) and the
// record is then left empty.
int CopySnmpVariable(const netsnmp_variable_list* var, KT_SnmpValue& out);

// A number from a value of a numeric type whose value is exactly 4 bytes; nullopt otherwise.
std::optional<int32_t> SnmpInteger(const KT_SnmpValue& value);
// A number that must not be negative (a count, a duration): nullopt also for a negative value.
std::optional<int32_t> SnmpCount(const KT_SnmpValue& value);
// The text of an OCTET STRING, at most maxLength bytes and ending at the first zero byte;
// nullopt for any other type.
std::optional<std::string> SnmpText(const KT_SnmpValue& value, size_t maxLength);
// The sub-identifiers of an OBJECT IDENTIFIER value; empty for any other type or a length that
// is not a whole number of sub-identifiers.
std::vector<uint32_t> SnmpObjectId(const KT_SnmpValue& value);

// The well-known alarm number N of an upsAlarmDescr value 1.3.6.1.2.1.33.1.6.3.N (eleven or
// more sub-identifiers under upsWellKnownAlarms); -1 for any other value.
int WellKnownAlarmNumber(const KT_SnmpValue& value);
