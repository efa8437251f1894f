// The meter table's rules: default limits from the ratings, tick steps, range files, value
// texts and needle positions.
#include "dialogs/meters/meter_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "core/scp/meter_block.h"
#include "tests/support/test_support.h"

namespace {

struct LimitCase {
  const char* name;
  MeterRatings ratings;
  int meter;
  float upper, lower, max, min;
};

MeterRatings Ratings(int vin, int va, int fin, int model = 255, int minutes = 0xFFFF) {
  MeterRatings r;
  r.inputVoltage = vin;
  r.outputVoltage = vin;
  r.inputFrequency = fin;
  r.outputFrequency = fin;
  r.vaRating = va;
  r.wattRating = va * 7 / 10;
  r.modelCode = model;
  r.batteryMinutes = minutes;
  return r;
}

TEST(MeterLimitsTest, DefaultsFollowTheRatings) {
  const LimitCase cases[] = {
      {"unknown input voltage reads 120 V", Ratings(0xFFFF, 1500, 60), 11, 132, 108, 150, 0},
      {"zero output voltage reads 120 V", Ratings(0, 1500, 60), 12, 132, 108, 150, 0},
      {"230 V", Ratings(230, 1500, 50), 19, 253, 207, 290, 0},
      {"VA 1500", Ratings(120, 1500, 60), 1, 1500, 0, 2000, 0},
      {"VA 700", Ratings(120, 700, 60), 1, 700, 0, 1000, 0},
      {"watts 1050", Ratings(120, 1500, 60), 8, 1050, 0, 2000, 0},
      {"400 Hz", Ratings(120, 1500, 400), 6, 420, 380, 425, 375},
      {"400 Hz bypass", Ratings(120, 1500, 400), 32, 420, 380, 425, 375},
      {"60 Hz", Ratings(120, 1500, 60), 7, 63, 57, 65, 55},
      {"unknown frequency reads 60", Ratings(120, 1500, 0xFFFF), 31, 63, 57, 65, 55},
      {"input current 1500/120", Ratings(120, 1500, 60), 13, 12, 0, 20, 0},
      {"output current phase C", Ratings(120, 1500, 60), 22, 12, 0, 20, 0},
      {"load", Ratings(120, 1500, 60), 9, 100, 80, 125, 0},
      {"capacity ends at 100 %", Ratings(120, 1500, 60), 4, 100, 25, 100, 0},
      {"battery time unset: 7 min", Ratings(120, 1500, 60), 5, 420, 120, 420, 0},
      {"charge time 10 min", Ratings(120, 1500, 60, 255, 10), 34, 600, 0, 600, 0},
      {"battery voltage default", Ratings(120, 1500, 60), 3, 150, 0, 150, 0},
      {"battery voltage model 13", Ratings(120, 1500, 60, 13), 3, 272.4f, 168, 272.4f, 0},
      {"battery voltage model 7", Ratings(120, 1500, 60, 7), 3, 300, 0, 300, 0},
      {"temperature", Ratings(120, 1500, 60), 10, 60, 0, 100, 0},
      {"battery current", Ratings(120, 1500, 60), 26, 10, -20, 10, -20},
      {"DC voltage model 12", Ratings(120, 1500, 60, 12), 28, 450, 0, 500, 0},
      {"DC voltage", Ratings(120, 1500, 60), 29, 220, 0, 250, 0},
      {"bypass voltage model 16", Ratings(230, 1500, 50, 16), 30, 253, 207, 290, 0},
      {"bypass voltage", Ratings(230, 1500, 50), 30, 300, 0, 350, 0},
      {"DC link model 21", Ratings(120, 1500, 60, 21), 33, 140, 0, 175, 0},
      {"DC link model 20", Ratings(120, 1500, 60, 20), 33, 410, 0, 510, 0},
      {"DC link", Ratings(120, 1500, 60), 33, 480, 0, 600, 0},
  };
  for (const LimitCase& c : cases) {
    MeterLimits limits[kMeterCount];
    InitLimits(limits);
    ComputeDefaultLimits(c.ratings, limits);
    const MeterLimits& l = limits[c.meter];
    EXPECT_FLOAT_EQ(l.upperAlarm, c.upper) << c.name;
    EXPECT_FLOAT_EQ(l.lowerAlarm, c.lower) << c.name;
    EXPECT_FLOAT_EQ(l.scaleMax, c.max) << c.name;
    EXPECT_FLOAT_EQ(l.scaleMin, c.min) << c.name;
    EXPECT_STREQ(l.section, kMeterTable[c.meter].section) << c.name;
  }
}

TEST(MeterLimitsTest, TickStepOfEveryFamilyAtItsEdges) {
  struct Case {
    TickFamily family;
    double span;
    double step;
  };
  const Case cases[] = {
      {TickFamily::P, 150, 25},     {TickFamily::P, 151, 100},    {TickFamily::P, 1000, 100},
      {TickFamily::P, 2000, 200},   {TickFamily::VA, 1000, 100},  {TickFamily::VA, 5000, 500},
      {TickFamily::VA, 5001, 2000}, {TickFamily::VA, 9000, 4000}, {TickFamily::W, 1000, 100},
      {TickFamily::W, 5000, 500},   {TickFamily::W, 10000, 1000}, {TickFamily::W, 10001, 4000},
      {TickFamily::BV, 100, 10},    {TickFamily::BV, 200, 25},    {TickFamily::BV, 300, 50},
      {TickFamily::BV, 1000, 100},  {TickFamily::BV, 1500, 150},  {TickFamily::T, 500, 50},
      {TickFamily::T, 1000, 100},   {TickFamily::T, 10000, 1000}, {TickFamily::T, 16000, 8000},
      {TickFamily::F, 50, 5},       {TickFamily::F, 100, 5},      {TickFamily::F, 1000, 20},
      {TickFamily::F, 1001, 100.1}, {TickFamily::C, 100, 10},     {TickFamily::C, 1000, 100},
      {TickFamily::C, 2000, 200},   {TickFamily::V, 200, 30},     {TickFamily::V, 500, 60},
      {TickFamily::V, 600, 60},     {TickFamily::A, 100, 10},     {TickFamily::A, 200, 20},
      {TickFamily::A, 1000, 100},   {TickFamily::A, 1001, 500},   {TickFamily::A2, 100, 10},
      {TickFamily::A2, 200, 100},   {TickFamily::A2, 1000, 100},  {TickFamily::A2, 2000, 1000},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(TickStep(c.family, c.span), c.step, 1e-6) << static_cast<int>(c.family) << " span " << c.span;
  }
  // A range file may hold infinite limits: every family still gives a step (and returns).
  for (TickFamily f : {TickFamily::VA, TickFamily::W, TickFamily::T, TickFamily::A, TickFamily::A2}) {
    EXPECT_GT(TickStep(f, std::numeric_limits<double>::infinity()), 0) << static_cast<int>(f);
  }
}

TEST(MeterLimitsTest, RangeFileFollowsTheModelCode) {
  const std::pair<int, const char*> cases[] = {
      {1, "MMGROUP1.DAT"}, {17, "MMGROUP1.DAT"},  {21, "MMGROUP1.DAT"}, {2, "MMGROUP2.DAT"},
      {7, "MMGROUP2.DAT"}, {3, "MMGROUP3.DAT"},   {10, "MMGROUP3.DAT"}, {4, "MMGROUP4.DAT"},
      {5, "MMGROUP5.DAT"}, {20, "MMGROUP5.DAT"},  {6, "MMGROUP6.DAT"},  {0, "MMDFAULT.DAT"},
      {8, "MMDFAULT.DAT"}, {255, "MMDFAULT.DAT"},
  };
  for (const auto& [model, file] : cases) EXPECT_EQ(RangeFileForModel(model).toStdString(), file) << model;
}

void PutEntry(std::string& out, const std::string& name, std::vector<float> values) {
  out += name;
  out += '\0';
  for (float v : values) {
    uint32_t raw = 0;
    std::memcpy(&raw, &v, 4);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((raw >> (8 * i)) & 0xFF);
  }
}

TEST(MeterLimitsTest, RangeFileOverlaysBoundedNamesAndWholeFloats) {
  testing_support::TempDir dir;
  std::string bytes;
  PutEntry(bytes, std::string(30, 'x'), {1, 2, 3, 4});  // too long a name: skipped whole
  PutEntry(bytes, "[temp]", {70, 5, 120, -10});
  PutEntry(bytes, "[temp]", {1, 1, 1, 1});  // a second entry of a section: ignored
  PutEntry(bytes, "[involt]", {250, 200});
  bytes += std::string("\x01\x02", 2);  // the third float cut short
  {
    std::ofstream f(dir.File("MMGROUP2.DAT"), std::ios::binary);
    f << bytes;
  }
  MeterLimits limits[kMeterCount];
  InitLimits(limits);
  ComputeDefaultLimits(MeterRatings{}, limits);
  ASSERT_EQ(ReadRangeFile(dir.File("MMGROUP2.DAT"), limits), 1);
  EXPECT_FLOAT_EQ(limits[10].upperAlarm, 70);
  EXPECT_FLOAT_EQ(limits[10].lowerAlarm, 5);
  EXPECT_FLOAT_EQ(limits[10].scaleMax, 120);
  EXPECT_FLOAT_EQ(limits[10].scaleMin, -10);
  EXPECT_FLOAT_EQ(limits[11].upperAlarm, 250);
  EXPECT_FLOAT_EQ(limits[11].lowerAlarm, 200);
  EXPECT_FLOAT_EQ(limits[11].scaleMax, 150);  // kept: its float was cut
  EXPECT_FLOAT_EQ(limits[0].scaleMax, 125);   // untouched meters keep their defaults

  { std::ofstream f(dir.File("empty.dat"), std::ios::binary); }
  EXPECT_EQ(ReadRangeFile(dir.File("empty.dat"), limits), 0);
  EXPECT_EQ(ReadRangeFile(dir.File("missing.dat"), limits), -1);
}

TEST(MeterValuesTest, TextsNeedlesAndReadouts) {
  struct Case {
    int meter;
    int64_t reading;
    double min, max;
    const char* text;
    double needle;
    double readout;
  };
  const Case cases[] = {
      {0, 32, 0, 125, "< 33%", 33, 33},           {2, 33, 0, 125, "33%", 33, 33},
      {9, 0, 0, 125, "< 33%", 33, 33},            {0, 140, 0, 125, "140%", 125, 140},
      {13, 125, 0, 20, "12.5A", 12.5, 12.5},      {25, -125, -20, 10, "-12.5A", -12.5, -12.5},
      {27, -300, -20, 10, "-30.0A", -20, -30},    {5, 2700, 0, 420, "2700s", 420, 2700},
      {34, 421, 0, 420, "421s", 420, 421},        {11, 250, 0, 150, "250V", 150, 250},
      {6, 50, 55, 65, "50Hz", 55, 50},            {8, 700, 0, 2000, "700WATTS", 700, 700},
      {10, 31, 0, 100, "31C", 31, 31},            {1, 1200, 0, 2000, "1200VA", 1200, 1200},
  };
  for (const Case& c : cases) {
    // The list and the gauge's readout say the reading; only the needle stops at the end of
    // its scale.
    EXPECT_EQ(MeterValueText(c.meter, c.reading).toStdString(), c.text) << c.meter;
    EXPECT_DOUBLE_EQ(MeterNeedleValue(c.meter, c.reading, c.min, c.max), c.needle) << c.meter;
    EXPECT_DOUBLE_EQ(MeterReadoutValue(c.meter, c.reading), c.readout) << c.meter;
  }
}

TEST(MeterValuesTest, UnavailableMarkersOfEachKind) {
  MeterBlock block;
  for (int i = 0; i < kMeterCount; ++i) {
    bool known = true;
    MeterReading(block, i, &known);
    EXPECT_FALSE(known) << i;
  }
  block.SetTemperature(0);
  block.SetBatteryCurrent(-5);
  block.SetOutputVA(0);
  block.SetBypassVoltage(0);
  for (int i : {10, 25, 1, 30}) {
    bool known = false;
    EXPECT_EQ(MeterReading(block, i, &known), i == 25 ? -5 : 0);
    EXPECT_TRUE(known) << i;
  }
}

}  // namespace
