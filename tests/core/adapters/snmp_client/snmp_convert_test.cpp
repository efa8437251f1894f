// Identifier texts, value encoding and the checked readers of adapter values.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/adapters/snmp.h"
#include "core/adapters/snmp_convert.h"

namespace {

TEST(SnmpConvertTest, IdentifierTexts) {
  EXPECT_EQ(OidToText(ParseOidText("33.1.6.1.0")), ".1.3.6.1.2.1.33.1.6.1.0");
  EXPECT_EQ(OidToText(ParseOidText("1.6.0")), ".1.3.6.1.2.1.1.6.0");
  EXPECT_EQ(OidToText(ParseOidText(".1.3.6.1.4.1.32473.1")), ".1.3.6.1.4.1.32473.1");
  EXPECT_EQ(ParseOidText(".1.3.4294967295").back(), 4294967295u);
  for (const char* bad : {"", ".", "33..1", "33.1.", "33.1.6.2.1.2.-1", "33.x", "1.4294967296", " 33.1"}) {
    EXPECT_TRUE(ParseOidText(bad).empty()) << bad;
  }
  EXPECT_TRUE(ParseOidText(nullptr).empty());
  std::string longest = ".1";
  for (int i = 1; i < 128; ++i) longest += ".1";
  EXPECT_EQ(ParseOidText(longest.c_str()).size(), 128u);
  EXPECT_TRUE(ParseOidText((longest + ".1").c_str()).empty());
}

// The value snmp_add_var appended as the adapter will read it.
KT_SnmpValue Added(char type, const char* text, int* result) {
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_SET);
  const std::vector<oid> name = ParseOidText("1.6.0");
  *result = KT_SNMP::snmp_add_var(pdu, name.data(), name.size(), type, text);
  KT_SnmpValue value;
  if (pdu->variables != nullptr) CopySnmpVariable(pdu->variables, value);
  snmp_free_pdu(pdu);
  return value;
}

TEST(SnmpConvertTest, ValuesFromTypeLetters) {
  int r = 0;
  EXPECT_EQ(SnmpInteger(Added('i', "-42", &r)), -42);
  EXPECT_EQ(r, 0);
  KT_SnmpValue ticks = Added('t', "4294967295", &r);
  EXPECT_EQ(ticks.GetType(), ASN_TIMETICKS);
  EXPECT_EQ(SnmpInteger(ticks), -1);  // all 32 bits, read back as int32
  EXPECT_EQ(SnmpText(Added('s', "Room 7", &r), 63), "Room 7");
  EXPECT_EQ(SnmpText(Added('x', "52 6f 0A", &r), 63), "Ro\n");
  EXPECT_EQ(SnmpText(Added('d', " 82  111 ", &r), 63), "Ro");
  EXPECT_EQ(WellKnownAlarmNumber(Added('o', "33.1.6.3.6", &r)), 6);
  KT_SnmpValue address = Added('a', "10.1.2.3", &r);
  EXPECT_EQ(address.GetType(), ASN_IPADDRESS);
  EXPECT_EQ(address.GetValueLength(), 4);
  EXPECT_EQ(Added('n', nullptr, &r).GetType(), ASN_NULL);
  EXPECT_EQ(r, 0);

  // Bad texts and unknown letters append nothing and give -1 (the process goes on).
  const std::pair<char, const char*> bad[] = {{'i', "12x"}, {'i', "2147483648"}, {'i', ""}, {'t', "-1"},
                                              {'x', "4g"},   {'d', "256"},        {'a', "10.1.2"}, {'o', "33.-1"},
                                              {'u', "1"},    {'\0', "1"}};
  for (const auto& [type, text] : bad) {
    KT_SnmpValue v = Added(type, text, &r);
    EXPECT_EQ(r, -1) << type << " " << text;
    EXPECT_EQ(v.GetOid(), nullptr);
  }
}

TEST(SnmpConvertTest, ReadersCheckTypeAndLength) {
  const std::vector<oid> name = ParseOidText("33.1.6.1.0");
  netsnmp_variable_list var{};
  var.name = const_cast<oid*>(name.data());
  var.name_length = name.size();
  long number = 0;
  var.val.integer = &number;
  var.val_len = sizeof number;
  KT_SnmpValue value;

  var.type = ASN_GAUGE;
  number = 0xFFFFFFFFl;
  ASSERT_EQ(CopySnmpVariable(&var, value), 1);
  EXPECT_FALSE(SnmpCount(value));  // above 2^31: not a count
  number = 0x100000000l;           // beyond 32 bits: not an SNMP value at all
  EXPECT_EQ(CopySnmpVariable(&var, value), -1);
  EXPECT_EQ(value.GetOid(), nullptr);
  var.type = ASN_INTEGER;
  number = static_cast<long>(INT_MIN) - 1;
  EXPECT_EQ(CopySnmpVariable(&var, value), -1);
  number = 5;
  var.val_len = 4;  // a number that is not a whole long
  EXPECT_EQ(CopySnmpVariable(&var, value), -1);

  // A text is never read past its end nor past the caller's limit; a number is not a text.
  const char text[] = "0123456789";
  var.type = ASN_OCTET_STR;
  var.val.string = reinterpret_cast<u_char*>(const_cast<char*>(text));
  var.val_len = 4;
  ASSERT_EQ(CopySnmpVariable(&var, value), 1);
  EXPECT_EQ(SnmpText(value, 63), "0123");
  EXPECT_EQ(SnmpText(value, 2), "01");
  EXPECT_FALSE(SnmpInteger(value));
  var.val_len = 0;
  ASSERT_EQ(CopySnmpVariable(&var, value), 1);
  EXPECT_EQ(SnmpText(value, 63), "");

  // Identifiers: whole sub-identifiers only, each within 32 bits.
  const std::vector<oid> alarm = ParseOidText("33.1.6.3.24");
  var.type = ASN_OBJECT_ID;
  var.val.objid = const_cast<oid*>(alarm.data());
  var.val_len = alarm.size() * sizeof(oid) - 1;
  EXPECT_EQ(CopySnmpVariable(&var, value), -1);
  var.val_len = alarm.size() * sizeof(oid);
  ASSERT_EQ(CopySnmpVariable(&var, value), 1);
  EXPECT_EQ(WellKnownAlarmNumber(value), 24);
  var.val_len = (alarm.size() - 1) * sizeof(oid);  // upsWellKnownAlarms itself
  ASSERT_EQ(CopySnmpVariable(&var, value), 1);
  EXPECT_EQ(WellKnownAlarmNumber(value), -1);
  const std::vector<oid> huge = {1, 3, 6, 1, 2, 1, 33, 1, 6, 3, 0x1FFFFFFFFul};
  var.val.objid = const_cast<oid*>(huge.data());
  var.val_len = huge.size() * sizeof(oid);
  EXPECT_EQ(CopySnmpVariable(&var, value), -1);
}

}  // namespace
