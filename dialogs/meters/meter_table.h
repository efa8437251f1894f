// The 35 meters of the meters dialog and their limits.
//
// Meter index 0..34 is the list order and the gauge number less 1. Each meter has a list
// label (string table), a key name (the gauge window's name), a section name (its entry in a
// range file), a gauge name and unit label (the dial), a list unit and a tick family.
//
// Limit record: 36 bytes, the section name (20 bytes, NUL-terminated) and four floats: upper
// alarm, lower alarm, scale maximum, scale minimum. Default limits follow from the UPS's
// ratings (ComputeDefaultLimits); a range file ("MMDFAULT.DAT", "MMGROUP1.DAT" ...) may
// overlay them (ReadRangeFile): entries of a section name (NUL-terminated, at most 19
// characters) and four little-endian floats in the record's order.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

class MeterBlock;

inline constexpr int kMeterCount = 35;

enum class TickFamily { P, VA, W, BV, T, F, C, V, A, A2 };

struct MeterInfo {
  int textId;        // list label
  int phaseTextId;   // the "- Phase A" label of meters 11..14, else 0
  const char* text;  // the label's text (registered in the string table)
  const char* phaseText;
  const char* key;
  const char* section;
  const char* gaugeName;
  const char* gaugeUnit;  // unit label on the dial
  const char* listUnit;   // unit after the value in the list
  TickFamily tick;
  int numberStyle;  // the dial's label style (gauge.h)
};

extern const MeterInfo kMeterTable[kMeterCount];

// Meter indexes with a rule of their own.
inline constexpr int kMeterLoadLinear = 0;
inline constexpr int kMeterLoad = 2;
inline constexpr int kMeterLoadNonLinear = 9;

// Percent-load meters: readings below 33 show as "< 33%" and put the needle at 33.
bool IsLoadMeter(int meter);
// Current meters: readings in tenths, shown with one decimal.
bool IsTenthsMeter(int meter);

// The meter's reading from the block; `known` false when the block holds the meter's
// "not available" marker. The block's GetPercentLoad is not const, hence the reference.
int64_t MeterReading(MeterBlock& block, int meter, bool* known);
// The list's value text of a reading ("< 33%", "12.5A", "2700s", "230V", ...): the value the
// UPS reports, also beyond the end of the meter's gauge.
QString MeterValueText(int meter, int64_t reading);
// The value the needle shows: load meters 33 below 33 and at most the maximum; others within
// the scale; currents in amps.
double MeterNeedleValue(int meter, int64_t reading, double minimum, double maximum);
// The value the gauge's readout says: the reading as the list says it (load meters 33 below
// 33), beyond the scale too; currents in amps.
double MeterReadoutValue(int meter, int64_t reading);

#pragma pack(push, 1)
struct MeterLimits {
  char section[20];
  float upperAlarm;
  float lowerAlarm;
  float scaleMax;
  float scaleMin;
};
#pragma pack(pop)
static_assert(sizeof(MeterLimits) == 36, "a limit record is 36 bytes");

// What the default limits are computed from (raw block values; 0 / 0xFFFF / -1 unknown).
struct MeterRatings {
  int inputVoltage = 0xFFFF;
  int outputVoltage = 0xFFFF;
  int inputFrequency = 0xFFFF;
  int outputFrequency = 0xFFFF;
  int vaRating = -1;
  int wattRating = -1;
  int modelCode = 255;
  int batteryMinutes = 0xFFFF;  // total battery time (configuration), minutes
  bool operator==(const MeterRatings&) const = default;
};

// Section names into the records, every limit 0.
void InitLimits(MeterLimits (&limits)[kMeterCount]);
// Default limits of every meter from the ratings.
void ComputeDefaultLimits(const MeterRatings& ratings, MeterLimits (&limits)[kMeterCount]);
// Major tick step of a family for a span.
double TickStep(TickFamily family, double span);
// R1000 and P25 of the limit rules.
int64_t RoundUpThousand(int64_t x);
int64_t PlusQuarterRoundTen(int64_t x);
// The battery-voltage scale of a model code.
double BatteryVoltageScale(int modelCode);
// Range file of a model code ("MMGROUP1.DAT" .. "MMGROUP6.DAT", else "MMDFAULT.DAT").
QString RangeFileForModel(int modelCode);

// Overlays the limits with a range file's entries. 1 read, 0 empty file, -1 not opened,
// -2 the file could not be repositioned. Names of 20 characters or more are skipped; a float
// cut short by the end of the file is not stored.
int ReadRangeFile(const std::string& path, MeterLimits (&limits)[kMeterCount]);
