#include "core/adapters/mib_table.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct UsedRow {
  int row;
  const char* oid;
  int32_t type;
  int32_t max;
};

// The rows that the adapter client and the traps use, as the adapter knows them.
const UsedRow kUsedRows[] = {
    {14, "33.1.1.1.0", 4, 63},       {15, "33.1.1.2.0", 4, 63},       {16, "33.1.1.3.0", 4, 63},
    {17, "33.1.1.4.0", 4, 63},       {18, "33.1.1.5.0", 4, 63},       {19, "33.1.1.6.0", 4, 63},
    {21, "33.1.2.2.0", 2, 4},        {22, "33.1.2.3.0", 2, 4},        {23, "33.1.2.4.0", 2, 4},
    {24, "33.1.2.5.0", 2, 4},        {28, "33.1.3.2.0", 2, 4},        {30, "33.1.3.3.1.2.3", 2, 4},
    {31, "33.1.3.3.1.3.3", 2, 4},    {35, "33.1.4.2.0", 2, 4},        {38, "33.1.4.4.1.2.3", 2, 4},
    {39, "33.1.4.4.1.3.3", 2, 4},    {40, "33.1.4.4.1.4.3", 2, 4},    {46, "33.1.6.1.0", 66, 4},
    {47, "33.1.6.2.1.1.-1", 2, 4},   {48, "33.1.6.2.1.2.-1", 6, 11},  {50, "33.1.7.1.0", 6, 11},
    {51, "33.1.7.2.0", 2, 4},        {52, "33.1.7.3.0", 2, 4},        {53, "33.1.7.4.0", 4, 79},
    {54, "33.1.7.5.0", 67, 4},       {55, "33.1.7.6.0", 67, 4},       {57, "33.1.8.2.0", 2, 4},
    {58, "33.1.8.3.0", 2, 4},        {61, "33.1.9.1.0", 2, 4},        {62, "33.1.9.2.0", 2, 4},
    {63, "33.1.9.3.0", 2, 4},        {64, "33.1.9.4.0", 2, 4},        {65, "33.1.9.5.0", 2, 4},
    {66, "33.1.9.6.0", 2, 4},        {67, "33.1.9.7.0", 2, 4},
};

TEST(MibTable, UsedRowsHaveTheAdaptersIdentifiersTypesAndLengths) {
  for (const UsedRow& used : kUsedRows) {
    SCOPED_TRACE(used.row);
    std::optional<std::string> text = GetOidText(used.row);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, used.oid);
    const MibTableRow* row = GetMibRow(used.row);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->asnType, used.type);
    EXPECT_EQ(row->maxLength, used.max);
  }
}

TEST(MibTable, OnlyUpsMibRowsGiveAText) {
  for (int row = -2; row <= kMibTableRows + 1; ++row) {
    SCOPED_TRACE(row);
    std::optional<std::string> text = GetOidText(row);
    if (row >= kRowUpsIdentManufacturer && row <= kRowUpsConfigAudibleStatus) {
      ASSERT_TRUE(text.has_value());
      EXPECT_EQ(text->rfind("33.1.", 0), 0u);
    } else {
      EXPECT_FALSE(text.has_value());  // system, interfaces, private rows, end row, outside
    }
  }
  EXPECT_EQ(GetMibRow(-1), nullptr);
  EXPECT_EQ(GetMibRow(kMibTableRows), nullptr);
  EXPECT_EQ(MibRowName(kMibTableRows), nullptr);
}

TEST(MibTable, RowsAreWellFormed) {
  for (int r = 0; r < kMibTableRows; ++r) {
    SCOPED_TRACE(r);
    const MibTableRow* row = GetMibRow(r);
    ASSERT_NE(row, nullptr);
    ASSERT_NE(MibRowName(r), nullptr);
    if (r == kRowEnd) {
      EXPECT_EQ(row->count, 0);
      EXPECT_STREQ(MibRowName(r), "");
      continue;
    }
    EXPECT_TRUE(row->count == 9 || row->count == 11 || row->count == 13);
    EXPECT_GT(std::strlen(MibRowName(r)), 0u);
    for (int i = row->count; i < 13; ++i) EXPECT_EQ(row->subIds[i], 0);
    // the index placeholder only ever stands last
    for (int i = 0; i + 1 < row->count; ++i) EXPECT_GE(row->subIds[i], 0);
    const bool isNumber = row->asnType == kAsnInteger || row->asnType == kAsnCounter ||
                          row->asnType == kAsnGauge || row->asnType == kAsnTimeTicks;
    if (isNumber) {
      EXPECT_EQ(row->maxLength, 4);
    }
    const int32_t prefix[] = {1, 3, 6, 1};
    EXPECT_EQ(std::memcmp(row->subIds, prefix, sizeof prefix), 0);
    if (r >= kRowXIdentManufacturer) {
      const int32_t priv[] = {1, 3, 6, 1, 4, 1, kAdapterEnterprise, 1};
      EXPECT_EQ(std::memcmp(row->subIds, priv, sizeof priv), 0);
    }
  }
}

TEST(MibTable, AlarmColumnsEndInThePlaceholder) {
  for (int r : {kRowUpsAlarmId, kRowUpsAlarmDescr, kRowUpsAlarmTime}) {
    const MibTableRow* row = GetMibRow(r);
    ASSERT_EQ(row->count, 13);
    EXPECT_EQ(row->subIds[12], kMibIndexPlaceholder);
  }
  EXPECT_EQ(*GetOidText(kRowUpsAlarmTime), "33.1.6.2.1.3.-1");
}

}  // namespace
