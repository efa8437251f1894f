#include "core/adapters/bcm_decoder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>

#include "core/base/ktdiag.h"
#include "core/base/maker_codes.h"
#include "core/scp/scp.h"
#include "core/base/ups_identification.h"

namespace {

// Meter ids of the meter reply.
constexpr int kMeterInputVoltage1 = 4;
constexpr int kMeterOutputCurrent1 = 16;
constexpr int kMeterInputCurrent1 = 19;
constexpr int kMeterOutputWatts = 22;
constexpr int kMeterOutputVA = 24;
constexpr int kMeterOutputFrequency = 28;
constexpr int kMeterInputFrequency = 29;
constexpr int kMeterInverterFrequency = 30;
constexpr int kMeterBypassFrequency = 31;
constexpr int kMeterDCLinkVoltage = 32;
constexpr int kMeterBatteryVoltage = 34;
constexpr int kMeterBatteryCapacity = 35;
constexpr int kMeterBatteryTime = 36;
constexpr int kMeterInputVoltageB1 = 57;
constexpr int kMeterOutputVoltage1 = 60;
constexpr int kMeterTemperature = 63;
constexpr int kMeterOutputCurrentB1 = 66;
constexpr int kMeterVARating = 72;
constexpr int kMeterDCVoltageNegative = 75;
constexpr int kMeterDCVoltagePositive = 76;
constexpr int kMeterOutputVoltageB1 = 79;
// Format codes above this one carry a 32-bit integer instead of a float.
constexpr int kMeterIntegerFormat = 223;
// Readings below this are noise of a dead input.
constexpr int kMeterNoiseFloor = 10;

// BCM alarm numbers with a meaning of their own.
constexpr int kAlarmOverload = 25;
constexpr int kAlarmBadBattery1 = 191;
constexpr int kAlarmBadBattery2 = 192;

// Size of one alarm-history record: code (2), six BCD bytes, one unused byte.
constexpr size_t kHistoryRecordBytes = 9;

// Fields of the configuration reply.
constexpr size_t kConfigTypeCode = 0;
constexpr size_t kConfigOutputVoltage = 8;
constexpr size_t kConfigOutputFrequency = 10;
constexpr size_t kConfigMinBytes = 12;
constexpr size_t kConfigRatingFlag = 47;
constexpr size_t kConfigCto = 48;
constexpr size_t kConfigSerial = 64;
constexpr size_t kConfigTextBytes = 16;

// Fields of the rating reply.
constexpr size_t kRatingMinBytes = 18;
constexpr int kWattRatingStep = 50;

// Fields of the waveform reply.
constexpr size_t kWaveHeaderBytes = 13;
constexpr int kWaveByteSampleLimit = 31;  // sample sizes up to this travel as one byte
constexpr uint8_t kWaveInput = 2;
constexpr uint8_t kWaveOutputVoltage = 1;
constexpr uint8_t kWaveOutputCurrent = 8;
constexpr size_t kWaveOffsetAt = 4;
constexpr size_t kWaveScaleAt = 6;
// Centre of an output wave in the waveform block.
constexpr int64_t kWaveBlockCentre = 125;

// A UPS sample in the waveform block's form: the reply's calibration, (sample - offset) x
// scale, gives volts (or milliamperes for the current); output waves are kept centred on 125
// (a value below 0 in two's complement), the rectified input wave as it is, never below 0. A
// scale that is not a positive number counts as 1. An output wave swings both ways about its
// zero line, so an offset of 0 cannot be one: it means samples centred on 125 already, as
// UPSes without calibration send them.
uint32_t CalibratedSample(uint32_t sample, int offset, double scale, bool input) {
  const int zero = input || offset != 0 ? offset : static_cast<int>(kWaveBlockCentre);
  const double v = (static_cast<double>(sample) - zero) * scale;
  const int64_t value = static_cast<int64_t>(std::llround(std::clamp(v, -1.0e9, 1.0e9)));
  if (input) return static_cast<uint32_t>(std::max<int64_t>(0, value));
  return static_cast<uint32_t>(static_cast<int32_t>(value + kWaveBlockCentre));
}

bool IsMalfunctionExempt(int n) { return n == 57 || n == 59 || n == 105 || n == 168; }
bool IsInputRangeAlarm(int n) { return n == 6 || n == 7 || n == 8 || n == 105; }

void SetEvent(NotifyBlock& notify, int event) { notify.SetSupportBit(SUPPORT_EVENTS, event / 8, event % 8); }

// A meter's 4 bytes as an integer; nullopt for a float that is not a number. A float beyond
// the range of int (infinities included) is clamped to it rather than converted undefined.
std::optional<int> MeterValue(const uint8_t* p, int id, int format) {
  if (format > kMeterIntegerFormat) return static_cast<int32_t>(BcmU32(p));
  const uint32_t bits = BcmU32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  double v = f;
  if ((id >= 16 && id <= 21) || (id >= 66 && id <= 68)) v *= 10.0;
  if (std::isnan(v)) return std::nullopt;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<int>(v);
}

// A current reading scaled once more by 10, clamped to the range of int.
int ScaleCurrent(int v) {
  const int64_t scaled = static_cast<int64_t>(v) * 10;
  return static_cast<int>(std::clamp<int64_t>(scaled, INT_MIN, INT_MAX));
}

bool NeedsCurrentScale(int model) { return model == 5 || model == 11 || model == 12 || model == 15; }

}  // namespace

bool IsStandardBcmAlarm(int n) {
  return (n >= 0 && n <= 92) || n == 94 || (n >= 97 && n <= 108) || (n >= 110 && n <= 128) ||
         (n >= 130 && n <= 137) || n == 142 || n == 146 || n == 147 || n == 149 || n == 151 ||
         (n >= 159 && n <= 170) || n == 176 || n == 177 || n == 184 || n == 188 ||
         (n >= 191 && n <= 193);
}

BcmTypeCodeModel BcmModelForTypeCode(int typeCode, int knownModel) {
  BcmTypeCodeModel m;
  switch (typeCode) {
    case 30:
    case 50: m.model = 7; m.capabilities = 0x0282; break;
    case 80: m.model = 1; break;
    case 81: m.model = 6; break;
    case 90: m.model = 5; m.capabilities = 0x0040; break;
    case 210:
    case 230:
      m.keepsModel = knownModel == 10 || knownModel == 13 || knownModel == 16;
      m.model = 3;
      m.adapterVariant = 2;
      break;
    case 250: m.model = 11; break;
    case 260: m.model = 15; m.adapterVariant = 2; break;
    case 280: m.model = 22; break;
    case 281: m.model = 23; break;
    case 290: m.model = 18; m.adapterVariant = 2; break;
    case 291: m.model = 19; m.adapterVariant = 2; break;
    case 292: m.model = 21; m.adapterVariant = 2; break;
    case 300: m.model = 17; break;
    case 310: m.model = 20; break;
    case 330: m.model = 24; break;
    default: break;
  }
  return m;
}

BcmReplyDecoder::BcmReplyDecoder(KT_SCP& scp) : scp_(scp) {}

int BcmReplyDecoder::Fail(int32_t function, int32_t code) {
  LogError(ERR_BCM, function, code, 0);
  return -1;
}

int BcmReplyDecoder::Decode(uint8_t type, const std::vector<uint8_t>& data) {
  switch (type) {
    case BCM_REPLY_IDENTIFICATION: return DecodeIdentification(data);
    case BCM_REPLY_ALARM_HISTORY: return DecodeAlarmHistory(data);
    case BCM_REPLY_STATUS: return DecodeStatus(data);
    case BCM_REPLY_METERS: return DecodeMeters(data);
    case BCM_REPLY_ALARMS: return DecodeAlarms(data);
    case BCM_REPLY_CONFIG: return DecodeConfig(data);
    case BCM_REPLY_ACK: return DecodeAck(data);
    case BCM_REPLY_WAVEFORM: return DecodeWaveform(data);
    case BCM_REPLY_BATTERY_TEST: return DecodeBatteryTest(data);
    case BCM_REPLY_RATINGS: return DecodeRatings(data);
    case BCM_REPLY_SUPPORTED_COMMANDS: return DecodeSupportedCommands(data);
    case BCM_REPLY_LOAD_SEGMENTS: return DecodeLoadSegments(data);
    default:
      LogError(ERR_BCM, BCM_FN_REPLY_TYPE, 1, 0);
      Diag() << "KT_BCM: unknown reply type " << static_cast<int>(type) << kendl;
      return 0;
  }
}

int BcmReplyDecoder::DecodeIdentification(const std::vector<uint8_t>& d) {
  const size_t n = d.size();
  if (n == 0) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeNoData);
  // Everything is read into locals first: a damaged reply changes nothing.
  const size_t versions = d[0];
  int major = -1;
  int minor = -1;
  if (versions > 0) {
    if (n < 3) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
    major = BcmFromBcd(d[1]);
    minor = BcmFromBcd(d[2]);
  }
  size_t pos = 2 * versions + 1;
  if (pos >= n) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
  int va;
  if (d[pos] != 0) {
    va = d[pos] * 1000;
    pos += 1;
  } else {
    if (pos + 3 > n) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
    va = BcmU16(&d[pos + 1]) * 50;
    pos += 3;
  }
  // Phases, one byte skipped, the name's length.
  if (pos + 3 > n) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
  const int phases = d[pos];
  pos += 2;
  const size_t nameLength = d[pos++];
  if (nameLength > n - pos) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
  const std::string name(d.begin() + static_cast<long>(pos), d.begin() + static_cast<long>(pos + nameLength));
  pos += nameLength;
  // Meter map.
  if (pos >= n) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
  const size_t meterCount = d[pos++];
  if (meterCount > n - pos) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
  std::vector<uint16_t> ids;
  std::vector<uint16_t> formats;
  for (size_t j = 0; j < meterCount; ++j) {
    if (d[pos + j] != 0) {
      ids.push_back(static_cast<uint16_t>(j + 1));
      formats.push_back(d[pos + j]);
    }
  }
  pos += meterCount;
  // Alarm map.
  if (pos >= n) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
  const size_t alarmBytes = d[pos++];
  if (alarmBytes > n - pos) return Fail(BCM_FN_IDENTIFICATION, kBcmCodeTooShort);
  std::vector<uint16_t> alarms;
  for (size_t j = 0; j < alarmBytes; ++j) {
    for (int b = 0; b < 8; ++b) {
      if (d[pos + j] & (1u << b)) alarms.push_back(static_cast<uint16_t>(8 * j + static_cast<size_t>(b)));
    }
  }
  pos += alarmBytes;

  // The reply holds together: store it.
  auto lock = scp_.Lock();
  UpsInfoBlock& info = scp_.upsInfo;
  if (versions > 0) info.SetVersion(major < 0 ? 255 : major, minor < 0 ? 255 : minor);
  info.SetVARating(va);
  scp_.meters.SetLoadVARating(va);
  info.SetModelText(RatingText(va).c_str());
  info.SetNumberOfPhases(phases);
  modelName = name;
  for (size_t i = 0; i < std::size(kBcmModelNames); ++i) {
    if (name.find(kModelSubstrings[kBcmModelNames[i].substring]) == std::string::npos) continue;
    if (i == kBcmNorthAmericanModel) {
      if (info.GetModelIndex() != 255) continue;
      info.SetNominalInputVoltage(120);
      info.SetNominalOutputVoltage(120);
      info.SetNominalInputFrequency(60);
      info.SetNominalOutputFrequency(60);
      info.SetFunctionSupported(2, 5);
    }
    if (i == kBcmOemModel) info.SetVariant(2);
    info.SetModelIndex(kBcmModelNames[i].modelIndex);
    break;
  }
  meterIds = std::move(ids);
  meterFormats = std::move(formats);
  alarmMap = std::move(alarms);
  for (size_t i = 0; i < alarmMap.size(); ++i) {
    Diag() << "bcm_alarm_map[" << static_cast<int>(i) << "] = " << static_cast<int>(alarmMap[i]) << kendl;
  }
  if (pos + 2 <= n) {
    const int configSize = BcmU16(&d[pos]);
    if (configSize != 0) {
      capabilities |= BCM_CAP_CONFIG_BLOCK;
      Diag() << "Config block available, size = " << configSize << kendl;
    } else {
      capabilities &= ~static_cast<uint32_t>(BCM_CAP_CONFIG_BLOCK);
    }
    if (pos + 2 < n) {
      capabilities |= BCM_CAP_STATISTICS;
    } else {
      capabilities &= ~static_cast<uint32_t>(BCM_CAP_STATISTICS);
    }
  } else {
    capabilities &= ~static_cast<uint32_t>(BCM_CAP_CONFIG_BLOCK | BCM_CAP_STATISTICS);
    Diag() << "No Config or statistic block\n";
  }
  SetEvent(scp_.notify, 8);
  SetEvent(scp_.notify, 9);
  return 1;
}

int BcmReplyDecoder::DecodeStatus(const std::vector<uint8_t>& d) {
  if (d.empty()) return Fail(BCM_FN_STATUS, kBcmCodeNoData);
  if (d[0] != 'P' && d.size() < 2) return Fail(BCM_FN_STATUS, kBcmCodeTooShort);
  auto lock = scp_.Lock();
  StatusBlock& s = scp_.upsStatus;
  if (d[0] == 'P') {
    s.ClearUpsAlarms();
    s.ClearAlarm(ALARM_BUCKING);
    s.ClearAlarm(ALARM_BOOSTING);
    return 1;
  }
  const uint8_t flags = d[1];
  if ((flags & 0x80) == 0) {
    s.SetAlarm(ALARM_ON_BATTERY);
    s.ClearAlarm(ALARM_INPUT_OUT_OF_RANGE);
  } else {
    s.ClearAlarm(ALARM_ON_BATTERY);
  }
  if (flags & 0x20) {
    s.SetAlarm(ALARM_LOW_BATTERY);
  } else {
    s.ClearAlarm(ALARM_LOW_BATTERY);
  }
  if (flags & 0x04) {
    if (scp_.upsInfo.GetVariant() != 2) s.SetAlarm(ALARM_ON_BYPASS);
  } else {
    s.ClearAlarm(ALARM_ON_BYPASS);
  }
  if (d[0] == 'c') {
    s.SetAlarm(ALARM_BUCKING);
  } else {
    s.ClearAlarm(ALARM_BUCKING);
  }
  if (d[0] == 'b') {
    s.SetAlarm(ALARM_BOOSTING);
  } else {
    s.ClearAlarm(ALARM_BOOSTING);
  }
  return 1;
}

int BcmReplyDecoder::DecodeAlarms(const std::vector<uint8_t>& d) {
  if (d.empty()) return Fail(BCM_FN_ALARMS, kBcmCodeNoData);
  for (size_t p = 0; p < d.size(); ++p) {
    if (d[p] != 0 && p >= alarmMap.size()) return Fail(BCM_FN_ALARMS, 3);
  }
  auto lock = scp_.Lock();
  StatusBlock& s = scp_.upsStatus;
  const bool onBattery = s.IsAlarmSet(ALARM_ON_BATTERY) == 1;
  bool anyStandard = false;
  bool inputRange = false;
  bool overload = false;
  bool badBattery = false;
  std::vector<uint16_t> collected;
  for (size_t p = 0; p < d.size(); ++p) {
    if (d[p] == 0) continue;
    const int number = alarmMap[p];
    Diag() << "BCM alarm # " << number << kendl;
    if (!IsStandardBcmAlarm(number)) continue;
    anyStandard = true;
    if (IsInputRangeAlarm(number)) {
      if (!onBattery) inputRange = true;
    } else if (number == kAlarmOverload) {
      overload = true;
    } else if (number == kAlarmBadBattery1 || number == kAlarmBadBattery2) {
      badBattery = true;
    } else if (onBattery && !IsMalfunctionExempt(number) &&
               static_cast<int>(collected.size()) < kMaxNonStandardAlarms) {
      collected.push_back(static_cast<uint16_t>(number));
    }
  }
  if (!anyStandard) {
    s.ClearAlarm(ALARM_BAD_BATTERY);
    s.ClearAlarm(ALARM_UPS_MALFUNCTION);
    s.ClearAlarm(ALARM_INPUT_OUT_OF_RANGE);
    s.ClearAlarm(ALARM_OVERLOAD);
    nonStandardAlarms.clear();
    return 1;
  }
  if (!collected.empty()) {
    s.SetAlarm(ALARM_UPS_MALFUNCTION);
    nonStandardAlarms = collected;
    Diag() << "\nNon Standard alarms:";
    for (uint16_t a : nonStandardAlarms) Diag() << " " << static_cast<int>(a);
    Diag() << kendl;
  } else {
    s.ClearAlarm(ALARM_UPS_MALFUNCTION);
    nonStandardAlarms.clear();
  }
  if (badBattery) {
    s.SetAlarm(ALARM_BAD_BATTERY);
  } else {
    s.ClearAlarm(ALARM_BAD_BATTERY);
  }
  if (inputRange) {
    s.SetAlarm(ALARM_INPUT_OUT_OF_RANGE);
  } else {
    s.ClearAlarm(ALARM_INPUT_OUT_OF_RANGE);
  }
  const bool wasOverload = s.IsAlarmSet(ALARM_OVERLOAD) == 1;
  if (overload) {
    s.SetAlarm(ALARM_OVERLOAD);
    if (!wasOverload) Diag() << "Added overload alarm\n";
  } else {
    s.ClearAlarm(ALARM_OVERLOAD);
    if (wasOverload) Diag() << "Removed overload alarm\n";
  }
  return 1;
}

int BcmReplyDecoder::DecodeMeters(const std::vector<uint8_t>& d) {
  if (meterIds.empty()) return Fail(BCM_FN_METERS, 1);
  if (d.empty()) return Fail(BCM_FN_METERS, 2);
  if (d.size() < 4 * meterIds.size()) {
    Diag() << "KT_BCM: meter reply of " << static_cast<int>(d.size()) << " bytes for "
           << static_cast<int>(meterIds.size()) << " meters" << kendl;
  }
  auto lock = scp_.Lock();
  MeterBlock& m = scp_.meters;
  const int model = scp_.upsInfo.GetModelIndex();
  for (size_t i = 0; i < meterIds.size() && 4 * i + 4 <= d.size(); ++i) {
    const int id = meterIds[i];
    const std::optional<int> value = MeterValue(&d[4 * i], id, meterFormats[i]);
    const int v = value.value_or(-1);
    const int noiseless = (value && v < kMeterNoiseFloor) ? 0 : v;
    int current = v;
    if (value && NeedsCurrentScale(model)) current = ScaleCurrent(v);
    if (id >= kMeterInputVoltage1 && id < kMeterInputVoltage1 + 3) {
      m.SetInputVoltage(id - kMeterInputVoltage1, noiseless);
    } else if (id >= kMeterOutputCurrent1 && id < kMeterOutputCurrent1 + 3) {
      m.SetOutputCurrent(id - kMeterOutputCurrent1, current);
    } else if (id >= kMeterInputCurrent1 && id < kMeterInputCurrent1 + 3) {
      m.SetInputCurrent(id - kMeterInputCurrent1, current);
    } else if (id == kMeterOutputWatts) {
      m.SetOutputWatts(v);
    } else if (id == kMeterOutputVA) {
      m.SetOutputVA(v);
    } else if (id == kMeterOutputFrequency) {
      m.SetOutputFrequency(v);
    } else if (id == kMeterInputFrequency) {
      m.SetInputFrequency(noiseless);
    } else if (id == kMeterInverterFrequency) {
      m.SetInverterFrequency(v);
    } else if (id == kMeterBypassFrequency) {
      m.SetBypassFrequency(v);
    } else if (id == kMeterDCLinkVoltage) {
      m.SetDCLinkVoltage(v);
    } else if (id == kMeterBatteryVoltage) {
      m.SetBatteryVoltage(v);
    } else if (id == kMeterBatteryCapacity) {
      m.SetBatteryCapacity(v);
    } else if (id == kMeterBatteryTime) {
      m.SetBatteryTime(v);  // seconds, as the meter block keeps it
    } else if (id >= kMeterInputVoltageB1 && id < kMeterInputVoltageB1 + 3) {
      m.SetInputVoltage(id - kMeterInputVoltageB1, noiseless);
    } else if (id >= kMeterOutputVoltage1 && id < kMeterOutputVoltage1 + 3) {
      m.SetOutputVoltage(id - kMeterOutputVoltage1, v);
    } else if (id == kMeterTemperature) {
      m.SetTemperature(v);
    } else if (id >= kMeterOutputCurrentB1 && id < kMeterOutputCurrentB1 + 3) {
      m.SetOutputCurrent(id - kMeterOutputCurrentB1, current);
    } else if (id == kMeterVARating) {
      if (value) {
        m.SetLoadVARating(v);
        scp_.upsInfo.SetVARating(v);
      }
    } else if (id == kMeterDCVoltageNegative) {
      m.SetDCVoltageNegative(v);
    } else if (id == kMeterDCVoltagePositive) {
      m.SetDCVoltagePositive(v);
    } else if (id >= kMeterOutputVoltageB1 && id < kMeterOutputVoltageB1 + 3) {
      m.SetOutputVoltage(id - kMeterOutputVoltageB1, v);
    }
  }
  return 1;
}

int BcmReplyDecoder::DecodeAlarmHistory(const std::vector<uint8_t>& d) {
  if (d.empty()) {
    LogError(ERR_BCM, BCM_FN_HISTORY, kBcmCodeNoData, 0);
    return 1;
  }
  auto lock = scp_.Lock();
  for (size_t r = 0; r + kHistoryRecordBytes <= d.size(); r += kHistoryRecordBytes) {
    const uint16_t code = BcmU16(&d[r]);
    const int number = code >> 1;
    // The queue's flag is the cleared flag (what the consoles' alarm history reads): the
    // record's direction bit as it comes, 0 raised, 1 cleared.
    const int cleared = code & 1;
    int f[6];
    bool valid = true;
    for (int i = 0; i < 6; ++i) {
      f[i] = BcmFromBcd(d[r + 2 + static_cast<size_t>(i)]);
      if (f[i] < 0) valid = false;
    }
    // month, day, year, hour, minute, second
    if (!valid || f[0] < 1 || f[0] > 12 || f[1] < 1 || f[1] > 31 || f[3] > 23 || f[4] > 59 || f[5] > 60) {
      Diag() << "KT_BCM: alarm history record " << static_cast<int>(r / kHistoryRecordBytes)
             << " has no valid date; skipped" << kendl;
      continue;
    }
    if (number > 255) {
      Diag() << "KT_BCM: alarm history number " << number << " does not fit the alarm queue; skipped" << kendl;
      continue;
    }
    std::tm tm{};
    tm.tm_mon = f[0] - 1;
    tm.tm_mday = f[1];
    // Two year digits: 70..99 are 1970..1999, 00..69 are 2000..2069.
    tm.tm_year = f[2] >= 70 ? f[2] : f[2] + 100;
    tm.tm_hour = f[3];
    tm.tm_min = f[4];
    tm.tm_sec = f[5];
    tm.tm_isdst = -1;
    const time_t t = std::mktime(&tm);
    if (t == static_cast<time_t>(-1)) continue;
    // The UPS reports its whole history every time: an event already listed stays listed once.
    AlarmQueueBlock& queue = scp_.alarmQueue;
    queue.Remove(number, static_cast<uint32_t>(t), cleared);
    queue.Add(number, static_cast<uint32_t>(t), cleared);
  }
  return 1;
}

int BcmReplyDecoder::DecodeConfig(const std::vector<uint8_t>& d) {
  if (d.empty()) return Fail(BCM_FN_CONFIG, kBcmCodeNoData);
  if (d.size() < kConfigMinBytes) return Fail(BCM_FN_CONFIG, kBcmCodeTooShort);
  auto lock = scp_.Lock();
  UpsInfoBlock& info = scp_.upsInfo;
  const int typeCode = BcmU16(&d[kConfigTypeCode]);
  const BcmTypeCodeModel byCode = BcmModelForTypeCode(typeCode, info.GetModelIndex());
  if (!byCode.keepsModel) {
    info.SetVariant(0);
    if (byCode.model >= 0) {
      info.SetModelIndex(byCode.model);
      capabilities = byCode.capabilities;
    } else {
      info.SetModelIndex(255);
    }
  }
  info.SetNominalOutputVoltage(BcmU16(&d[kConfigOutputVoltage]));
  info.SetNominalOutputFrequency(BcmU16(&d[kConfigOutputFrequency]));
  if (d.size() > kConfigRatingFlag && d[kConfigRatingFlag] != 0) capabilities |= BCM_CAP_RATING_BLOCK;
  if (d.size() > kConfigCto) {
    const std::string cto = BcmFixedText(d, kConfigCto, kConfigTextBytes);
    if (!cto.empty() && cto[0] != ' ') info.SetCto(cto.c_str());
  }
  if (d.size() > kConfigSerial) {
    std::string serial = BcmFixedText(d, kConfigSerial, kConfigTextBytes);
    const size_t first = serial.find_first_not_of(" 0");
    serial = first == std::string::npos ? std::string() : serial.substr(first);
    info.SetSerialNumber(serial.c_str());
    Diag() << "Serial Number = " << serial << kendl;
  }
  return 1;
}

int BcmReplyDecoder::DecodeRatings(const std::vector<uint8_t>& d) {
  if (d.empty()) return Fail(BCM_FN_RATINGS, kBcmCodeNoData);
  if (d.size() < kRatingMinBytes) return 0;
  auto lock = scp_.Lock();
  int watts = BcmU16(&d[4]) * kWattRatingStep;
  if (modelName && modelName->find(kBcmTripleWattCode) != std::string::npos) watts *= 3;
  scp_.upsInfo.SetWattRating(watts);
  scp_.meters.SetLoadWattRating(watts);
  Diag() << "Watt rating = " << watts << kendl;
  scp_.upsInfo.SetNominalInputVoltage(BcmU16(&d[0]));
  scp_.upsInfo.SetNominalInputFrequency(BcmU16(&d[2]));
  scp_.config.SetAudibleAlarm(d[16]);
  scp_.config.SetLowBatteryWarning(d[17]);
  return 1;
}

int BcmReplyDecoder::DecodeAck(const std::vector<uint8_t>& d) {
  if (d.size() < 2) return Fail(BCM_FN_ACK, d.empty() ? kBcmCodeNoData : kBcmCodeTooShort);
  ackResult = d[0];
  ackCommand = d[1];
  Diag() << "KT_BCM: command " << static_cast<int>(ackCommand) << ": " << BcmCommandResultText(ackResult) << kendl;
  return 1;
}

int BcmReplyDecoder::DecodeWaveform(const std::vector<uint8_t>& d) {
  if (d.empty()) return Fail(BCM_FN_WAVEFORM, kBcmCodeNoData);
  if (d.size() < kWaveHeaderBytes) return Fail(BCM_FN_WAVEFORM, kBcmCodeTooShort);
  const uint8_t code = d[0];
  const int sampleBits = d[10];
  const size_t announced = BcmU16(&d[11]);
  const size_t width = sampleBits <= kWaveByteSampleLimit ? 1 : 2;
  const size_t present = (d.size() - kWaveHeaderBytes) / width;
  const size_t count = announced < present ? announced : present;
  if (count < announced) {
    Diag() << "KT_BCM: waveform announces " << static_cast<int>(announced) << " samples, carries "
           << static_cast<int>(count) << kendl;
  }
  int branch = 0;
  if (code == kWaveInput) branch = WAVE_INPUT_VOLTAGE;
  if (code == kWaveOutputVoltage) branch = WAVE_OUTPUT_VOLTAGE;
  if (code == kWaveOutputCurrent) branch = WAVE_OUTPUT_CURRENT;
  auto lock = scp_.Lock();
  WaveformBlock& block = scp_.waveforms;
  const int offset = BcmU16(&d[kWaveOffsetAt]);
  const uint32_t scaleBits = BcmU32(&d[kWaveScaleAt]);
  float scale;
  std::memcpy(&scale, &scaleBits, sizeof scale);
  const double factor = std::isfinite(scale) && scale > 0.0f ? static_cast<double>(scale) : 1.0;
  if (branch != 0 && count > 0) {
    std::vector<uint32_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
      const size_t at = kWaveHeaderBytes + i * width;
      const uint32_t sample = width == 1 ? d[at] : BcmU16(&d[at]);
      samples[i] = CalibratedSample(sample, offset, factor, branch == WAVE_INPUT_VOLTAGE);
    }
    KT_Waveform* wave = block.Wave(branch);
    wave->SetSampleCount(static_cast<uint16_t>(count));
    wave->SetSamples(samples);
    block.Branches().Touch(branch);
  }
  block.Branches().Touch(0);
  return 1;
}

int BcmReplyDecoder::DecodeBatteryTest(const std::vector<uint8_t>& d) {
  if (d.empty()) return Fail(BCM_FN_HISTORY, kBcmCodeNoData);
  batteryTestState = d[0];
  return onBatteryTestState ? onBatteryTestState(d[0]) : 1;
}

int BcmReplyDecoder::DecodeSupportedCommands(const std::vector<uint8_t>& d) {
  if (d.size() < 2) return Fail(BCM_FN_SUPPORTED_COMMANDS, d.empty() ? kBcmCodeNoData : kBcmCodeTooShort);
  const size_t count = d[0];
  const size_t size = d[1];
  if (count == 0 || count == 255 || size == 0) return Fail(BCM_FN_SUPPORTED_COMMANDS, kBcmCodeBadValue);
  if (count > (d.size() - 2) / size) return Fail(BCM_FN_SUPPORTED_COMMANDS, kBcmCodeTooShort);
  supportedCommands.fill(0);
  for (size_t i = 0; i < count; ++i) supportedCommands[d[2 + i * size]] = 1;
  return 1;
}

int BcmReplyDecoder::DecodeLoadSegments(const std::vector<uint8_t>& d) {
  if (d.empty()) return Fail(BCM_FN_LOAD_SEGMENTS, kBcmCodeNoData);
  // A UPS always feeds at least its whole output.
  segments = d[0] == 0 ? 1 : d[0];
  return 1;
}
