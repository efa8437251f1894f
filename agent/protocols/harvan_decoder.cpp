#include "agent/protocols/harvan_decoder.h"

#include <cstdio>
#include <cstring>

#include "core/base/ktdiag.h"
#include "core/base/maker_codes.h"
#include "core/scp/scp.h"
#include "core/base/ups_identification.h"

const char* const kHarvanCommands[kHarvanCommandCount] = {
    "UPCL\r",
    "UPBT\r000\r",
    "UPCD\r000\r",
    "UPDS\r",
    "UPDV\r",
    "UPEA\r",
    "UPIS\r",
    "UPPC\rTOVRABSENK\r",
    "UPPD\rWEMQUZHAFY\r",
    "UPPF\rTOVRABSENK\r",
    "UPPN\r0\r",
    "UPPU\r",
    "UPSD\r000\r",
    "UPSN\r0\r",
    "UPTP\r",
    "UPLR\rC%02uD%03u\r",
    "UPLC\rC%02uT%05u\r",
    "UPLC\r0\r",
    "UPPM\rP%02uV%02u\r",
    "UPPM\r0\r",
    "UPPM\rP%02u\r",
    "UP??\r",
};

namespace {

// Meter keys; an error record carries the key's position (1..27) as its code.
const char* const kMeterKeys[] = {
    "BTIME", "MIUL1", "MIUL2", "MIUL3", "MIIL1", "MIIL2", "MIIL3", "MBUUU", "MBCH1",
    "MOFFF", "MOUL1", "MOUL2", "MOUL3", "MOIL1", "MOIL2", "MOIL3", "MOPL1", "MOSL1",
    "MUTE1", "MBUPO", "MBUNE", "MBIII", "MBIPO", "MBINE", "MLUPO", "MLUNE", "MPUL1",
};
constexpr int kMeterKeyCount = static_cast<int>(sizeof kMeterKeys / sizeof kMeterKeys[0]);

// Nominal keys; the error code is the position (1..10).
const char* const kNominalKeys[] = {
    "NNAME", "NOUHH", "NOULL", "NOUNN", "NIUHH", "NIULL", "NIUNN", "NOPNN", "NOSNN", "NOFHH",
};
constexpr int kNominalKeyCount = static_cast<int>(sizeof kNominalKeys / sizeof kNominalKeys[0]);

// Digits of a reading's integer part / decimals that still fit an int after scaling.
constexpr size_t kMaxIntegerDigits = 6;
constexpr size_t kMaxDecimalDigits = 6;

// The model index whose ratings count once per phase.
constexpr int kPerPhaseRatingModel = 13;

int KeyIndex(const char* const* keys, int count, const std::string& key) {
  for (int i = 0; i < count; ++i) {
    if (key == keys[i]) return i + 1;
  }
  return 0;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Reads an unsigned short number at `pos`; false when none is there.
bool ReadShort(const std::string& s, size_t pos, int* out, size_t* end) {
  size_t i = pos;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    negative = s[i] == '-';
    ++i;
  }
  int v = 0;
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 5) {
    v = v * 10 + (s[i] - '0');
    ++i;
    ++digits;
  }
  if (digits == 0 || v > 32767) return false;
  *out = negative ? -v : v;
  if (end != nullptr) *end = i;
  return true;
}

// A version character: a digit stands for itself, a letter for its place in the alphabet.
int VersionChar(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 1;
  if (c >= 'a' && c <= 'z') return c - 'a' + 1;
  return -1;
}

int Clamp(long long v) {
  if (v > 2147483647LL) return 2147483647;
  if (v < -2147483647LL) return -2147483647;
  return static_cast<int>(v);
}

}  // namespace

std::vector<uint8_t> BuildHarvanLoadFrame(uint8_t command, const uint8_t* data, size_t n) {
  std::vector<uint8_t> frame;
  if (n > 255 || (n > 0 && data == nullptr)) return frame;
  frame.push_back(kHarvanFrameStart);
  frame.push_back(command);
  frame.push_back(static_cast<uint8_t>(n));
  frame.insert(frame.end(), data, data + n);
  unsigned sum = 0;
  for (uint8_t b : frame) sum += b;
  frame.push_back(static_cast<uint8_t>(sum & 0xFF));
  return frame;
}

std::vector<std::string> HarvanLines(const uint8_t* bytes, size_t size) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c == '\r') {
      if (!line.empty()) lines.push_back(line);
      line.clear();
    } else if (c != '\n') {
      line += c;
    }
  }
  return lines;
}

bool ParseHarvanDecimal(const std::string& text, int* a, int* b) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  int ip = 0;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (++digits > kMaxIntegerDigits) return false;
    ip = ip * 10 + (text[i] - '0');
    ++i;
  }
  if (digits == 0 || i >= text.size() || text[i] != '.') return false;
  ++i;
  int fp = 0;
  digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (++digits > kMaxDecimalDigits) return false;
    fp = fp * 10 + (text[i] - '0');
    ++i;
  }
  if (digits == 0) return false;
  *a = negative ? -ip : ip;
  *b = fp;
  return true;
}

HarvanReplyDecoder::HarvanReplyDecoder(KT_SCP& scp) : scp_(scp) {}

int HarvanReplyDecoder::Fail(int32_t function, int32_t code) {
  LogError(ERR_HARVAN, function, code, 0);
  return -1;
}

int HarvanReplyDecoder::Process(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size == 0) return Fail(HARVAN_FN_PROCESS, 1);
  const std::vector<std::string> lines = HarvanLines(bytes, size);
  bool decoded = false;
  bool failed = false;
  auto lock = scp_.Lock();
  for (size_t i = 0; i + 1 < lines.size(); i += 2) {
    const std::string& key = lines[i];
    const std::string& value = lines[i + 1];
    int r = 0;
    switch (key[0]) {
      case 'A': r = DecodeIdentity(key, value); break;
      case 'B':
      case 'M': {
        r = DecodeMeter(key, value);
        MeterBlock& m = scp_.meters;
        m.SetInputFrequency(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY) == 1 ? 0 : m.GetOutputFrequency());
        break;
      }
      case 'N': {
        r = DecodeNominal(key, value);
        UpsInfoBlock& info = scp_.upsInfo;
        if (info.GetNominalOutputVoltage() == 0xFFFF && maxOutputVoltage != 0 && minOutputVoltage != 0) {
          info.SetNominalOutputVoltage(static_cast<int>((maxOutputVoltage + minOutputVoltage) / 2));
        }
        if (info.GetNominalInputVoltage() == 0xFFFF && maxInputVoltage != 0 && minInputVoltage != 0) {
          info.SetNominalInputVoltage(static_cast<int>((maxInputVoltage + minInputVoltage) / 2));
        }
        break;
      }
      case 'S': r = DecodeStatus(key, value); break;
      default: break;
    }
    if (r > 0) decoded = true;
    if (r < 0) failed = true;
  }
  const int result = failed ? -1 : decoded ? 1 : 0;
  Diag() << "Return from Harvan::ProcessBlock = " << result << kendl;
  return result;
}

int HarvanReplyDecoder::DecodeIdentity(const std::string& key, const std::string& value) {
  if (key != "ACSN") return 0;
  const size_t first = value.find_first_not_of('0');
  const std::string serial = first == std::string::npos ? std::string() : value.substr(first);
  scp_.upsInfo.SetSerialNumber(serial.c_str());
  Diag() << "Serial Number = " << serial << kendl;
  return 1;
}

int HarvanReplyDecoder::DecodeStatus(const std::string& key, const std::string& value) {
  StatusBlock& s = scp_.upsStatus;
  UpsInfoBlock& info = scp_.upsInfo;
  const bool on = HarvanFlag(value);
  auto setOrClear = [&](int alarm) {
    if (on) {
      s.SetAlarm(alarm);
    } else {
      s.ClearAlarm(alarm);
    }
  };
  if (key == "STOK") {
    if (on) {
      Diag() << "Alarm Condition\n";
    } else {
      s.ClearUpsAlarms();
      Diag() << "No active alarms\n";
    }
  } else if (key == "STBO") {
    info.SetVariant(2);
    setOrClear(ALARM_ON_BATTERY);
  } else if (key == "STUF") {
    info.SetVariant(0);
    setOrClear(ALARM_ON_BATTERY);
  } else if (key == "STBL") {
    setOrClear(ALARM_LOW_BATTERY);
  } else if (key == "STBP") {
    setOrClear(ALARM_ON_BYPASS);
  } else if (key == "STBM") {
    const char c = value.empty() ? '\0' : value[0];
    const char* text = c == 'C' ? "Charging" : c == 'D' ? "Discharging" : c == 'F' ? "Floating" : c == 'R' ? "Resetting" : "Unknown";
    Diag() << "Tremona: Battery Status: " << text << kendl;
  } else if (key == "STLR") {
    if (value == "N") {
      s.ClearAlarm(ALARM_BUCKING);
      s.ClearAlarm(ALARM_BOOSTING);
    } else if (value == "SD") {
      s.ClearAlarm(ALARM_BOOSTING);
      s.SetAlarm(ALARM_BUCKING);
    } else if (value == "SU") {
      s.ClearAlarm(ALARM_BUCKING);
      s.SetAlarm(ALARM_BOOSTING);
    }
  } else if (key == "STAT" || key == "STMF") {
    int alarm = -1;
    const char c = value.empty() ? '\0' : value[0];
    if (value == "BC" || value == "BP") {
      alarm = ALARM_UPS_MALFUNCTION;
    } else if (c == 'B') {
      alarm = ALARM_BAD_BATTERY;
    } else if (value == "GF") {
      alarm = ALARM_INPUT_OUT_OF_RANGE;
    } else if (c == 'C' || c == 'F' || c == 'G') {
      alarm = ALARM_BAD_BATTERY;
    } else if (value == "IV") {
      alarm = -1;
    } else if (c == 'I') {
      alarm = ALARM_BAD_BATTERY;
    } else if (value == "OF") {
      alarm = ALARM_UPS_MALFUNCTION;
    } else if (value == "OL") {
      alarm = ALARM_OVERLOAD;
    } else if (c == 'O') {
      alarm = -1;
    } else if (value == "UO" || value == "US") {
      alarm = ALARM_INPUT_OUT_OF_RANGE;
    } else if (c == 'U' || c == 'R') {
      alarm = ALARM_UPS_MALFUNCTION;
    }
    if (alarm >= 0) s.SetAlarm(alarm);
  } else {
    return 0;
  }
  return 1;
}

int HarvanReplyDecoder::DecodeMeter(const std::string& key, const std::string& value) {
  const int index = KeyIndex(kMeterKeys, kMeterKeyCount, key);
  if (index == 0) return 0;
  int a = 0;
  int b = 0;
  if (!ParseHarvanDecimal(value, &a, &b)) return Fail(HARVAN_FN_METER, index);
  MeterBlock& m = scp_.meters;
  UpsInfoBlock& info = scp_.upsInfo;
  const std::string k = key;
  const int thousands = Clamp(static_cast<long long>(a) * 1000 + static_cast<long long>(b) * 10);
  if (k == "BTIME") {
    m.SetBatteryTime(a);  // seconds, as the meter block keeps it
  } else if (StartsWith(k, "MIUL")) {
    m.SetInputVoltage(k[4] - '1', a);
  } else if (StartsWith(k, "MIIL")) {
    m.SetInputCurrent(k[4] - '1', a);
  } else if (k == "MBUUU") {
    m.SetBatteryVoltage(a);
  } else if (k == "MBCH1") {
    m.SetBatteryCapacity(a);
  } else if (k == "MOFFF") {
    m.SetOutputFrequency(a);
  } else if (StartsWith(k, "MOUL")) {
    const int phase = k[4] - '1';
    m.SetOutputVoltage(phase, a);
    const int phases = info.GetNumberOfPhases();
    if (phases == 255 || phases < phase + 1) info.SetNumberOfPhases(phase + 1);
  } else if (StartsWith(k, "MOIL")) {
    m.SetOutputCurrent(k[4] - '1', a * 10);
  } else if (k == "MOPL1") {
    m.SetOutputWatts(thousands);
  } else if (k == "MOSL1") {
    m.SetOutputVA(thousands);
  } else if (k == "MUTE1") {
    m.SetTemperature(a);
  } else if (k == "MBUPO") {
    m.SetBatteryVoltagePositive(a);
  } else if (k == "MBUNE") {
    m.SetBatteryVoltageNegative(a);
  } else if (k == "MBIII") {
    m.SetBatteryCurrent(a);
  } else if (k == "MBIPO") {
    m.SetBatteryCurrentPositive(a);
  } else if (k == "MBINE") {
    m.SetBatteryCurrentNegative(a);
  } else if (k == "MLUPO") {
    m.SetDCVoltagePositive(a);
  } else if (k == "MLUNE") {
    m.SetDCVoltageNegative(a);
  } else if (k == "MPUL1") {
    m.SetBypassVoltage(a);
  }
  return 1;
}

int HarvanReplyDecoder::DecodeNominal(const std::string& key, const std::string& value) {
  const int index = KeyIndex(kNominalKeys, kNominalKeyCount, key);
  if (index == 0) return 0;
  if (index == 1) return DecodeName(value);
  int a = 0;
  int b = 0;
  if (!ParseHarvanDecimal(value, &a, &b)) return Fail(HARVAN_FN_NOMINAL, index);
  UpsInfoBlock& info = scp_.upsInfo;
  const unsigned volts = a < 0 ? 0u : static_cast<unsigned>(a);
  if (key == "NOUHH") {
    maxOutputVoltage = volts;
  } else if (key == "NOULL") {
    minOutputVoltage = volts;
  } else if (key == "NOUNN") {
    info.SetNominalOutputVoltage(a);
    maxOutputVoltage = 0;
    minOutputVoltage = 0;
  } else if (key == "NIUHH") {
    maxInputVoltage = volts;
  } else if (key == "NIULL") {
    minInputVoltage = volts;
  } else if (key == "NIUNN") {
    info.SetNominalInputVoltage(a);
    maxInputVoltage = 0;
    minInputVoltage = 0;
  } else if (key == "NOPNN" || key == "NOSNN") {
    long long rating = static_cast<long long>(a) * 1000 + static_cast<long long>(b) * 10;
    const int phases = info.GetNumberOfPhases();
    if (info.GetModelIndex() == kPerPhaseRatingModel && phases != 255) rating *= phases;
    const int r = Clamp(rating);
    if (key == "NOPNN") {
      info.SetWattRating(r);
      scp_.meters.SetLoadWattRating(r);
    } else {
      info.SetVARating(r);
      scp_.meters.SetLoadVARating(r);
      info.SetModelText(RatingText(r).c_str());
    }
  } else if (key == "NOFHH") {
    const int hz = a < 60 ? 50 : 60;
    info.SetNominalInputFrequency(hz);
    info.SetNominalOutputFrequency(hz);
  }
  return 1;
}

int HarvanReplyDecoder::DecodeName(const std::string& text) {
  if (text.empty()) return Fail(HARVAN_FN_NOMINAL, 1);
  UpsInfoBlock& info = scp_.upsInfo;
  std::string model;
  bool hit = false;
  for (const VarnisModelGroup& group : kVarnisModelGroups) {
    for (const char* code : group.codes) {
      if (code == nullptr) break;
      const size_t at = text.find(code);
      if (at == std::string::npos) continue;
      const size_t blank = text.find(' ', at);
      model = text.substr(at, blank == std::string::npos ? std::string::npos : blank - at);
      info.SetModelIndex(group.modelIndex);
      info.SetVariant(0);
      info.SetNumberOfPhases(1);
      hit = true;
      break;
    }
    if (hit) break;
  }
  if (!hit) {
    const size_t ups = text.find("UPS");
    if (ups != std::string::npos || text.find("FW") != std::string::npos) {
      info.SetModelIndex(3);
      info.SetVariant(2);
      info.SetNumberOfPhases(1);
      if (ups != std::string::npos) {
        size_t start = text.find_first_not_of(' ', ups + 3);
        if (start != std::string::npos) {
          size_t stop = text.find(' ', start);
          const size_t fw = text.find("FW", start);
          if (fw != std::string::npos && (stop == std::string::npos || fw < stop)) stop = fw;
          model = text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
        }
      }
    } else {
      info.SetModelIndex(14);
    }
  }
  if (!model.empty()) info.SetModelText(model.c_str());
  // Firmware version.
  bool version = false;
  int major = 0;
  int minor = 0;
  size_t at = text.find("SW");
  if (at != std::string::npos) {
    size_t end = 0;
    if (ReadShort(text, at + 2, &major, &end) && end < text.size() && text[end] == '.' &&
        ReadShort(text, end + 1, &minor, nullptr)) {
      version = true;
    }
  }
  if (!version && (at = text.find("FW")) != std::string::npos) {
    if (at + 2 < text.size() && text[at + 2] == '-' && ReadShort(text, at + 3, &major, nullptr)) {
      minor = 0;
      version = true;
    }
  }
  if (!version && (at = text.find("sw")) != std::string::npos && at + 3 < text.size()) {
    const int hi = VersionChar(text[at + 2]);
    const int lo = VersionChar(text[at + 3]);
    if (hi >= 0 && lo >= 0) {
      major = hi;
      minor = lo;
      version = true;
    }
  }
  if (version) {
    info.SetVersion(major & 0xFF, minor & 0xFF);
  } else if (model.empty()) {
    info.SetModelText(text.c_str());
  }
  return 1;
}

std::array<bool, kHarvanCommandCount> HarvanReplyDecoder::MarkCapabilities(const uint8_t* bytes, size_t size) {
  std::array<bool, kHarvanCommandCount> marks{};
  for (const std::string& line : HarvanLines(bytes, size)) {
    for (int i = 0; i < kHarvanCommandCount; ++i) {
      if (std::strstr(kHarvanCommands[i], line.c_str()) != nullptr) {
        marks[static_cast<size_t>(i)] = true;
        break;
      }
    }
  }
  return marks;
}
