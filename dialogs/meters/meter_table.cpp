#include "dialogs/meters/meter_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/scp/meter_block.h"
#include "dialogs/widgets/gauge.h"

namespace {

constexpr int N2 = kGaugeNumbersPlain;
constexpr int N3 = kGaugeNumbersLarge;
constexpr int N4 = kGaugeNumbersDecimal;
constexpr int N9 = kGaugeNumbersDegrees;
using TF = TickFamily;

}  // namespace

// clang-format off
const MeterInfo kMeterTable[kMeterCount] = {
    {1377, 0, "Percent Load - Linear", nullptr, "LoadLinear", "[loadlinear]", "LOADA", "Percent", "%", TF::P, N2},
    {1378, 0, "Output Power - Apparent", nullptr, "OutPwrVA", "[outpwrva]", "POWER1", "  Volt-Amps", "VA", TF::VA, N3},
    {1379, 0, "Percent Load", nullptr, "Load", "[load]", "LOADB", "Percent", "%", TF::P, N2},
    {1380, 0, "Battery Voltage", nullptr, "BattVolt", "[battvolt]", "BATTVOLT", "Volts", "V", TF::BV, N2},
    {1603, 0, "Battery Capacity", nullptr, "BattCap", "[battcap]", "BATTCAP", "Percent", "%", TF::P, N2},
    {1604, 0, "Battery Time Remaining", nullptr, "BattTime", "[batttime]", "BATTTIME", "Seconds", "s", TF::T, N3},
    {1376, 0, "Input Frequency", nullptr, "InFreq", "[infreq]", "INFREQ", "Hertz", "Hz", TF::F, N4},
    {1605, 0, "Output Frequency", nullptr, "OutFreq", "[outfreq]", "OUTFREQ", "Hertz", "Hz", TF::F, N4},
    {1606, 0, "Output Power - Real", nullptr, "OutPwrWatts", "[outpwrwatts]", "POWER2", "WATTS", "WATTS", TF::W, N3},
    {1607, 0, "Percent Load - Non Linear", nullptr, "LoadNonLiner", "[loadnonlineare]", "LOADC", "Percent", "%", TF::P, N2},
    {1608, 0, "Temperature", nullptr, "Temp", "[temp]", "TEMP", "Celsius", "C", TF::C, N9},
    {1609, 1633, "Input Voltage", "Input Voltage - Phase A", "InVolt1", "[involt]", "INVOLTA", "Volts", "V", TF::V, N2},
    {1610, 1634, "Output Voltage", "Output Voltage - Phase A", "OutVolt1", "[outvolt]", "OUTVOLTA", "Volts", "V", TF::V, N2},
    {1611, 1635, "Input Current", "Input Current - Phase A", "InCurrent1", "[incurrent]", "INCURRENTA", "Amps", "A", TF::A, N2},
    {1612, 1636, "Output Current", "Output Current - Phase A", "OutCurrent1", "[outcurrent]", "OUTCURRENTA", "Amps", "A", TF::A, N2},
    {1613, 0, "Input Voltage - Phase B", nullptr, "InVolt2", "[involtb]", "INVOLTB", "Volts", "V", TF::V, N2},
    {1615, 0, "Output Voltage - Phase B", nullptr, "OutVolt2", "[outvoltb]", "OUTVOLTB", "Volts", "V", TF::V, N2},
    {1617, 0, "Input Current - Phase B", nullptr, "InCurrent2", "[incurrentb]", "INCURRENTB", "Amps", "A", TF::A, N2},
    {1618, 0, "Output Current - Phase B", nullptr, "OutCurrent2", "[outcurrentb]", "OUTCURRENTB", "Amps", "A", TF::A, N2},
    {1614, 0, "Input Voltage - Phase C", nullptr, "InVolt3", "[involtc]", "INVOLTC", "Volts", "V", TF::V, N2},
    {1616, 0, "Output Voltage - Phase C", nullptr, "OutVolt3", "[outvoltc]", "OUTVOLTC", "Volts", "V", TF::V, N2},
    {1619, 0, "Input Current - Phase C", nullptr, "InCurrent3", "[incurrentc]", "INCURRENTC", "Amps", "A", TF::A2, N2},
    {1620, 0, "Output Current - Phase C", nullptr, "OutCurrent3", "[outcurrentc]", "OUTCURRENTC", "Amps", "A", TF::A, N2},
    {1621, 0, "BatteryVoltagePositive", nullptr, "BattVoltPos", "[battvoltpos]", "BATTVOLPOS", "Volts", "V", TF::V, N2},
    {1622, 0, "BatteryVoltageNegative", nullptr, "BattVoltNeg", "[battvoltneg]", "BATTVOLTNEG", "Volts", "V", TF::V, N2},
    {1623, 0, "BatteryCurrent", nullptr, "BattCurrent", "[battcurrent]", "BATTCURRENT", "Amps", "A", TF::A, N2},
    {1624, 0, "BatteryCurrentPositive", nullptr, "BattCurrPos", "[battcurrentpos]", "BATTCURRENTPOS", "Amps", "A", TF::A, N2},
    {1625, 0, "BatteryCurrentNegative", nullptr, "BattCurrNeg", "[battcurrentneg]", "OUTCURRENTNEG", "Amps", "A", TF::A, N2},
    {1626, 0, "DCVoltagePositive", nullptr, "DCVoltPos", "[dcvoltpos]", "DCVOLTPOS", "Volts", "V", TF::V, N2},
    {1627, 0, "DCVoltageNegative", nullptr, "DCVoltNeg", "[dcvoltneg]", "DCVOLTNEG", "Volts", "V", TF::V, N2},
    {1628, 0, "BypassVoltage", nullptr, "ByVoltPhL1", "[bypassvoltphaseL1]", "BYPASSVOLTL1", "Volts", "V", TF::V, N2},
    {1629, 0, "InverterFrequency", nullptr, "InvertFreq", "[inverterfreq]", "INVFREQ", "Hertz", "Hz", TF::F, N2},
    {1630, 0, "BypassFrequency", nullptr, "BypassFreq", "[bypassfreq]", "BYPASSFREQ", "Hertz", "Hz", TF::F, N2},
    {1631, 0, "DCLinkVoltage", nullptr, "DclinkVolt", "[dclinkvolt]", "DCLINKVOLT", "Volts", "V", TF::V, N2},
    {1632, 0, "BatteryChargeTime", nullptr, "BattChTime", "[battchargetime]", "BATTCHARTIME", "Seconds", "s", TF::T, N3},
};
// clang-format on

bool IsLoadMeter(int meter) {
  return meter == kMeterLoadLinear || meter == kMeterLoad || meter == kMeterLoadNonLinear;
}

bool IsTenthsMeter(int meter) {
  return meter == 13 || meter == 14 || meter == 17 || meter == 18 || meter == 21 || meter == 22 ||
         (meter >= 25 && meter <= 27);
}

int64_t MeterReading(MeterBlock& b, int meter, bool* known) {
  enum Marker { BYTE, WORD, LONG, CURRENT };
  int64_t v = 0;
  Marker m = WORD;
  switch (meter) {
    case 0:
      v = b.GetPercentLoad(PERCENT_LOAD_WATTS);
      m = BYTE;
      break;
    case 1:
      v = b.GetOutputVA();
      m = LONG;
      break;
    case 2:
      v = b.GetPercentLoad(PERCENT_LOAD_COMPUTE);
      m = BYTE;
      break;
    case 3:
      v = b.GetBatteryVoltage();
      break;
    case 4:
      v = b.GetBatteryCapacity();
      m = BYTE;
      break;
    case 5:
      v = b.GetBatteryTime();
      break;
    case 6:
      v = b.GetInputFrequency();
      break;
    case 7:
      v = b.GetOutputFrequency();
      break;
    case 8:
      v = b.GetOutputWatts();
      m = LONG;
      break;
    case 9:
      v = b.GetPercentLoad(PERCENT_LOAD_VA);
      m = BYTE;
      break;
    case 10:
      v = b.GetTemperature();
      m = BYTE;
      break;
    case 11:
    case 15:
    case 19:
      v = b.GetInputVoltage((meter - 11) / 4);
      break;
    case 12:
    case 16:
    case 20:
      v = b.GetOutputVoltage((meter - 12) / 4);
      break;
    case 13:
    case 17:
    case 21:
      v = b.GetInputCurrent((meter - 13) / 4);
      break;
    case 14:
    case 18:
    case 22:
      v = b.GetOutputCurrent((meter - 14) / 4);
      break;
    case 23:
      v = b.GetBatteryVoltagePositive();
      break;
    case 24:
      v = b.GetBatteryVoltageNegative();
      break;
    case 25:
      v = b.GetBatteryCurrent();
      m = CURRENT;
      break;
    case 26:
      v = b.GetBatteryCurrentPositive();
      m = CURRENT;
      break;
    case 27:
      v = b.GetBatteryCurrentNegative();
      m = CURRENT;
      break;
    case 28:
      v = b.GetDCVoltagePositive();
      break;
    case 29:
      v = b.GetDCVoltageNegative();
      break;
    case 30:
      v = b.GetBypassVoltage();
      break;
    case 31:
      v = b.GetInverterFrequency();
      break;
    case 32:
      v = b.GetBypassFrequency();
      break;
    case 33:
      v = b.GetDCLinkVoltage();
      break;
    case 34:
      v = b.GetAuxiliaryValue();
      break;
    default:
      if (known != nullptr) *known = false;
      return 0;
  }
  bool k = true;
  switch (m) {
    case BYTE:
      k = v != 255;
      break;
    case WORD:
      k = v != 0xFFFF;
      break;
    case LONG:
      k = v != -1;
      break;
    case CURRENT:
      k = v != kUnknownCurrent;
      break;
  }
  if (known != nullptr) *known = k;
  return v;
}

QString MeterValueText(int meter, int64_t reading) {
  const MeterInfo& info = kMeterTable[meter];
  const QString unit = QString::fromLatin1(info.listUnit);
  if (IsLoadMeter(meter) && reading < 33) return QStringLiteral("< 33%");
  if (IsTenthsMeter(meter)) return QString::asprintf("%.1f", static_cast<double>(reading) * 0.1) + unit;
  return QString::number(reading) + unit;
}

double MeterReadoutValue(int meter, int64_t reading) {
  double v = static_cast<double>(reading);
  if (IsTenthsMeter(meter)) v *= 0.1;
  if (IsLoadMeter(meter) && v < 33) return 33;
  return v;
}

double MeterNeedleValue(int meter, int64_t reading, double minimum, double maximum) {
  double v = static_cast<double>(reading);
  if (IsTenthsMeter(meter)) v *= 0.1;
  if (IsLoadMeter(meter)) return std::min(v < 33 ? 33.0 : v, maximum);
  if (v < minimum) return minimum;
  if (v > maximum) return maximum;
  return v;
}

// --- limits ---

void InitLimits(MeterLimits (&limits)[kMeterCount]) {
  for (int i = 0; i < kMeterCount; ++i) {
    MeterLimits& r = limits[i];
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.section, kMeterTable[i].section, sizeof r.section - 1);
  }
}

int64_t RoundUpThousand(int64_t x) {
  if (x <= 1000) return 1000;
  return (x + 999) / 1000 * 1000;
}

int64_t PlusQuarterRoundTen(int64_t x) {
  const int64_t y = x + x * 25 / 100;
  if (y <= 0) return y;
  return (y + 9) / 10 * 10;
}

double BatteryVoltageScale(int m) {
  switch (m) {
    case 2:
    case 7:
      return 300;
    case 3:
    case 10:
      return 62.5;
    case 5:
      return 600;
    case 13:
      return 272.4;
    case 15:
      return 480;
    case 17:
      return 60;
    case 18:
      return 168;
    case 19:
      return 31.2;
    case 20:
      return 402;
    case 21:
      return 63.6;
    default:
      return 150;
  }
}

QString RangeFileForModel(int m) {
  switch (m) {
    case 1:
    case 17:
    case 18:
    case 19:
    case 21:
      return QStringLiteral("MMGROUP1.DAT");
    case 2:
    case 7:
      return QStringLiteral("MMGROUP2.DAT");
    case 3:
    case 10:
      return QStringLiteral("MMGROUP3.DAT");
    case 4:
      return QStringLiteral("MMGROUP4.DAT");
    case 5:
    case 20:
      return QStringLiteral("MMGROUP5.DAT");
    case 6:
      return QStringLiteral("MMGROUP6.DAT");
    default:
      return QStringLiteral("MMDFAULT.DAT");
  }
}

namespace {

void Set(MeterLimits& r, double upper, double lower, double max, double min) {
  r.upperAlarm = static_cast<float>(upper);
  r.lowerAlarm = static_cast<float>(lower);
  r.scaleMax = static_cast<float>(max);
  r.scaleMin = static_cast<float>(min);
}

int Nominal(int v, int fallback) {
  return v == 0 || v == 0xFFFF || v < 0 ? fallback : v;
}

void SetFrequency(MeterLimits& r, int f) {
  if (f > 60) {
    Set(r, f + 20, f - 20, f + 25, f - 25);
  } else {
    Set(r, f + 3, f - 3, f + 5, f - 5);
  }
}

void SetVoltage(MeterLimits& r, int v) {
  Set(r, v * 1.1, v * 0.9, static_cast<double>(PlusQuarterRoundTen(v)), 0);
}

// A power rating's dial; an unknown rating puts the high zone at the end of the scale.
void SetPower(MeterLimits& r, int rating) {
  const int64_t p = std::max(rating, 0);
  const double max =
      static_cast<double>(RoundUpThousand(p + static_cast<int64_t>(0.3 * static_cast<double>(p))));
  Set(r, p > 0 ? static_cast<double>(p) : max, 0, max, 0);
}

}  // namespace

void ComputeDefaultLimits(const MeterRatings& in, MeterLimits (&l)[kMeterCount]) {
  const int vin = Nominal(in.inputVoltage, 120);
  const int vout = Nominal(in.outputVoltage, 120);
  const int fin = Nominal(in.inputFrequency, 60);
  const int fout = Nominal(in.outputFrequency, 60);
  const int va = std::max(in.vaRating, 0);
  const int m = in.modelCode;
  const int minutes = in.batteryMinutes == 0xFFFF || in.batteryMinutes <= 0 ? 7 : in.batteryMinutes;
  const double t = minutes * 60.0;
  const int iin = va / vin;
  const int iout = va / vout;
  const double b = BatteryVoltageScale(m);

  for (int i : {0, 2, 9}) Set(l[i], 100, 80, 125, 0);
  SetPower(l[1], in.vaRating);
  Set(l[3], b, m == 13 ? 168 : 0, b, 0);
  // A capacity cannot exceed 100 %: the dial ends there, with no alarm band above it.
  Set(l[4], 100, 25, 100, 0);
  Set(l[5], t, 120, t, 0);
  Set(l[34], t, 0, t, 0);
  SetFrequency(l[6], fin);
  SetFrequency(l[31], fin);
  SetFrequency(l[7], fout);
  SetFrequency(l[32], fout);
  SetPower(l[8], in.wattRating);
  Set(l[10], 60, 0, 100, 0);
  for (int i : {11, 15, 19}) SetVoltage(l[i], vin);
  for (int i : {12, 16, 20}) SetVoltage(l[i], vout);
  for (int i : {13, 17, 21}) Set(l[i], iin, 0, static_cast<double>(PlusQuarterRoundTen(iin)), 0);
  for (int i : {14, 18, 22}) Set(l[i], iout, 0, static_cast<double>(PlusQuarterRoundTen(iout)), 0);
  for (int i : {23, 24}) Set(l[i], 350, 0, 400, 0);
  for (int i : {25, 26, 27}) Set(l[i], 10, -20, 10, -20);
  const bool bigDc = m >= 11 && m <= 13;
  for (int i : {28, 29}) Set(l[i], bigDc ? 450 : 220, 0, bigDc ? 500 : 250, 0);
  if (m == 16) {
    SetVoltage(l[30], vout);
  } else {
    Set(l[30], 300, 0, 350, 0);
  }
  if (m == 18 || m == 21) {
    Set(l[33], 140, 0, 175, 0);
  } else if (m == 20) {
    Set(l[33], 410, 0, 510, 0);
  } else {
    Set(l[33], 480, 0, 600, 0);
  }
}

double TickStep(TickFamily family, double s) {
  const double tenth = s * 0.001 * 100;
  double pow2 = 2000;
  // Bounded: an infinite span (a range file may hold one) would double for ever.
  while (pow2 <= s && std::isfinite(pow2)) pow2 *= 2;
  pow2 /= 4;
  switch (family) {
    case TickFamily::P:
      return s <= 150 ? 25 : s <= 1000 ? 100 : tenth;
    case TickFamily::VA:
      return s <= 1000 ? 100 : s <= 5000 ? 500 : pow2;
    case TickFamily::W:
      return s <= 1000 ? 100 : s <= 5000 ? 500 : s <= 10000 ? 1000 : pow2;
    case TickFamily::BV:
      return s <= 100 ? 10 : s <= 200 ? 25 : s <= 300 ? 50 : s <= 1000 ? 100 : tenth;
    case TickFamily::T:
      return s <= 500 ? 50 : s <= 1000 ? 100 : s <= 10000 ? 1000 : pow2;
    case TickFamily::F:
      return s <= 100 ? 5 : s <= 1000 ? 20 : tenth;
    case TickFamily::C:
      return s <= 100 ? 10 : s <= 1000 ? 100 : tenth;
    case TickFamily::V:
      return s <= 200 ? 30 : s <= 500 ? 60 : tenth;
    case TickFamily::A:
      return s <= 100 ? 10 : s <= 200 ? 20 : s <= 1000 ? 100 : pow2;
    case TickFamily::A2:
      return s <= 100 ? 10 : s <= 1000 ? 100 : pow2;
  }
  return tenth;
}

int ReadRangeFile(const std::string& path, MeterLimits (&limits)[kMeterCount]) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return -1;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.empty()) return 0;
  bool found[kMeterCount] = {};
  size_t pos = 0;
  while (pos < bytes.size()) {
    // One entry: a NUL-terminated name, then four floats. A name without its NUL ends the file.
    const auto nul = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.end(), '\0');
    if (nul == bytes.end()) break;
    const size_t end = static_cast<size_t>(nul - bytes.begin());
    const std::string name(bytes.data() + pos, end - pos);
    pos = end + 1;
    int meter = -1;
    if (name.size() < sizeof(MeterLimits::section)) {
      for (int i = 0; i < kMeterCount; ++i) {
        if (!found[i] && name == kMeterTable[i].section) {
          meter = i;
          break;
        }
      }
    }
    float* fields[4] = {nullptr, nullptr, nullptr, nullptr};
    if (meter >= 0) {
      found[meter] = true;
      MeterLimits& r = limits[meter];
      fields[0] = &r.upperAlarm;
      fields[1] = &r.lowerAlarm;
      fields[2] = &r.scaleMax;
      fields[3] = &r.scaleMin;
    }
    for (float* field : fields) {
      if (pos + 4 > bytes.size()) {
        pos = bytes.size();
        break;
      }
      const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
      const uint32_t raw = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
      pos += 4;
      if (field != nullptr) std::memcpy(field, &raw, sizeof raw);
    }
  }
  return 1;
}
