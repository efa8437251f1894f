#include "tools/sim_bcm.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "core/adapters/bcm_block.h"
#include "core/base/maker_codes.h"
#include "core/base/ups_identification.h"
#include "core/scp/waveform.h"

namespace upssim {

namespace {

constexpr size_t kMaxInput = 1024;
// Meter map: id, format code (1 float, 224 integer).
struct MeterSlot {
  int id;
  int format;
  const char* key;
};
constexpr int kFloat = 1;
constexpr int kInteger = 224;
const MeterSlot kMeters[] = {
    {4, kFloat, "input-voltage"},   {16, kFloat, "output-current"}, {22, kInteger, "load-watts"},
    {24, kInteger, "load-va"},      {28, kFloat, "frequency"},      {29, kFloat, "frequency"},
    {34, kFloat, "battery-voltage"}, {35, kFloat, "capacity"},      {36, kFloat, "runtime"},
    {60, kFloat, "output-voltage"}, {63, kFloat, "temperature"},    {72, kInteger, "va"},
};
constexpr int kMeterMapSize = 72;
constexpr int kAlarmNumbers = 200;
constexpr int kConfigBytes = 80;
constexpr int kNominalVoltage = 230;
constexpr int kNominalFrequency = 50;
constexpr int kWaveSamples = 64;
constexpr uint8_t kWaveInputCode = 2;
constexpr uint8_t kWaveOutputVoltageCode = 1;
constexpr uint8_t kWaveOutputCurrentCode = 8;

// BCM alarm numbers the simulated UPS raises by itself.
constexpr int kAlarmOnBattery = 57;
constexpr int kAlarmOverload = 25;
constexpr int kAlarmReplaceBattery = 191;
constexpr int kAlarmInputRange = 6;

const char* const kValueKeys[] = {"input-voltage", "output-voltage", "frequency", "battery-voltage",
                                  "capacity", "runtime", "temperature", "load-va", "load-watts",
                                  "output-current"};

void PutU16(std::vector<uint8_t>& out, size_t at, int v) {
  out[at] = static_cast<uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

void AppendFloat(std::vector<uint8_t>& out, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  AppendU32(out, bits);
}

std::string RequestName(uint8_t r) {
  switch (r) {
    case BCM_REQ_IDENTIFICATION: return "identification";
    case BCM_REQ_ALARM_HISTORY: return "alarm-history";
    case BCM_REQ_STATUS: return "status";
    case BCM_REQ_METERS: return "meters";
    case BCM_REQ_ALARMS: return "alarms";
    case BCM_REQ_CONFIG: return "configuration";
    case BCM_REQ_WAVEFORM: return "waveform";
    case BCM_REQ_BATTERY_TEST: return "battery-test";
    case BCM_REQ_RATINGS: return "ratings";
    case BCM_REQ_SUPPORTED_COMMANDS: return "supported-commands";
    case BCM_REQ_LOAD_SEGMENTS: return "load-segments";
    case BCM_REQ_RESYNC: return "resync";
    default: return "unknown " + std::to_string(r);
  }
}

// A timer of that many seconds, as long as the simulator's timers can run.
int TimerMs(int64_t seconds) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(seconds, 0) * 1000, INT32_MAX));
}

std::string Noise(size_t n) {
  static uint32_t seed = 0x1234567u;
  std::string out(n, '\0');
  for (auto& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>((seed >> 16) & 0x7F);
  }
  return out;
}

}  // namespace

BcmUps::BcmUps() {
  model_ = std::string(kModelSubstrings[kBcmModelNames[0].substring]) + " 1500";
  values_ = {{"input-voltage", 230.0},  {"output-voltage", 230.0}, {"frequency", 50.0},
             {"battery-voltage", 27.5}, {"temperature", 31.0},     {"load-va", 450.0},
             {"load-watts", 380.0},     {"output-current", 2.5}};
  commands_ = {BCM_CMD_DELAYED_OFF, BCM_CMD_ON_AFTER_MINUTES, BCM_CMD_OFF_AFTER_MINUTES,
               BCM_CMD_SET_CONFIG, BCM_CMD_SEGMENT_PARAMETER, BCM_CMD_BATTERY_TEST, BCM_REQ_LOAD_SEGMENTS};
}

bool BcmUps::SpeedIsRight(SimContext& ctx) {
  const platform::LineSettings line = ctx.Line();
  return line.bps == speed_ && line.data_bits == 8 && line.parity == platform::Parity::kNone;
}

void BcmUps::SendText(SimContext& ctx, const std::string& text) {
  // At a speed other than the UPS's own the computer receives its text as noise.
  ctx.Send(SpeedIsRight(ctx) ? text : Noise(text.size()));
}

void BcmUps::OnBytes(SimContext& ctx, const uint8_t* data, size_t size) {
  if (!SpeedIsRight(ctx)) {
    ctx.Log("IGNORED", HexBytes(data, size) + " at " + LineText(ctx.Line()));
    return;
  }
  for (size_t i = 0; i < size; ++i) {
    if (in_menu_) {
      MenuKey(ctx, data[i]);
      continue;
    }
    input_.push_back(data[i]);
  }
  if (input_.size() > kMaxInput) input_.erase(input_.begin(), input_.end() - static_cast<long>(kMaxInput));
  for (;;) {
    if (in_menu_) {
      // A frame can carry the UPS back into its menu: the rest are keys.
      std::vector<uint8_t> rest;
      rest.swap(input_);
      for (uint8_t b : rest) MenuKey(ctx, b);
      return;
    }
    const size_t start = FindBcmStart(input_.data(), input_.size(), 0);
    if (start > 0) {
      ctx.Log("BYTES", HexBytes(input_.data(), start) + " (no start byte, dropped)");
      input_.erase(input_.begin(), input_.begin() + static_cast<long>(start));
    }
    if (input_.size() < 2) return;
    const size_t n = input_[1];
    if (n == 0) {
      input_.erase(input_.begin());
      continue;
    }
    if (input_.size() < n + kBcmSendOverhead) return;
    if (!BcmSumIsZero(input_.data(), n + kBcmSendOverhead)) {
      ctx.Log("BYTES", HexBytes(input_.data(), n + kBcmSendOverhead) + " (bad checksum, dropped)");
      input_.erase(input_.begin());
      continue;
    }
    std::vector<uint8_t> payload(input_.begin() + 2, input_.begin() + 2 + static_cast<long>(n));
    input_.erase(input_.begin(), input_.begin() + static_cast<long>(n + kBcmSendOverhead));
    Frame(ctx, payload);
  }
}

void BcmUps::MenuKey(SimContext& ctx, uint8_t key) {
  if (key != 3 && (key < 0x20 || key >= 0x7F)) return;  // not a key of the menu
  ctx.Log("REQ", "menu key " + std::to_string(key));
  switch (key) {
    case 3: SendText(ctx, "\r\n  1 Status\r\n  2 Setup\r\n  Q Quit\r\n>>> "); return;
    case '2': SendText(ctx, "\r\nSetup\r\n  l Line mode\r\n>>> "); return;
    case 'l': SendText(ctx, "\r\nLine mode\r\n  1 Binary\r\n>+> "); return;
    case '1': SendText(ctx, "\r\nBinary protocol selected\r\n>>> "); return;
    case 'S':
      in_menu_ = false;
      ctx.Log("ACTION", "menu left: binary mode saved");
      SendText(ctx, "\r\nSaved. Binary mode.\r\n");
      return;
    case 'Q':
      in_menu_ = false;
      ctx.Log("ACTION", "menu left");
      SendText(ctx, "\r\nBye\r\n");
      return;
    default: SendText(ctx, "\r\n?\r\n>>> "); return;
  }
}

void BcmUps::OnHostLines(SimContext& ctx, uint32_t before, uint32_t now) {
  const bool dtrRose = !(before & platform::kLineDtr) && (now & platform::kLineDtr);
  if (in_menu_ && dtrRose && !(now & platform::kLineRts)) {
    ctx.Log("ACTION", "menu banner (DTR pulse)");
    SendText(ctx, "\r\nUPS service menu\r\n>>> ");
  }
}

uint32_t BcmUps::DeviceLines(const UpsState&, uint32_t host_lines) const {
  // The computer's cable loops RTS back to CTS.
  return (host_lines & platform::kLineRts) ? platform::kLineCts : 0;
}

void BcmUps::Frame(SimContext& ctx, const std::vector<uint8_t>& payload) {
  if (payload.size() == sizeof kBcmAuthorizationCode &&
      std::memcmp(payload.data(), kBcmAuthorizationCode, sizeof kBcmAuthorizationCode) == 0) {
    authorized_ = true;
    ctx.Log("REQ", "authorization");
    return;
  }
  const uint8_t first = payload[0];
  if (first >= 128 && first != BCM_REQ_RESYNC) {
    Command(ctx, payload);
  } else {
    Request(ctx, first, payload);
  }
  authorized_ = false;
}

void BcmUps::Request(SimContext& ctx, uint8_t r, const std::vector<uint8_t>& payload) {
  ctx.Log("REQ", RequestName(r) + (authorized_ ? " (authorized)" : ""));
  const UpsState& s = ctx.State();
  switch (r) {
    case BCM_REQ_IDENTIFICATION: Reply(ctx, BCM_REPLY_IDENTIFICATION, Identification()); return;
    case BCM_REQ_ALARM_HISTORY: Reply(ctx, BCM_REPLY_ALARM_HISTORY, History()); return;
    case BCM_REQ_STATUS: Reply(ctx, BCM_REPLY_STATUS, Status(s)); return;
    case BCM_REQ_METERS:
      battery_.Advance(!s.mains_ok);
      Reply(ctx, BCM_REPLY_METERS, Meters(s));
      return;
    case BCM_REQ_ALARMS: Reply(ctx, BCM_REPLY_ALARMS, ActiveAlarms(s)); return;
    case BCM_REQ_CONFIG: Reply(ctx, BCM_REPLY_CONFIG, Config()); return;
    case BCM_REQ_WAVEFORM:
      Reply(ctx, BCM_REPLY_WAVEFORM,
            Waveform(payload.size() > 1 ? payload[1] : 0, payload.size() > 2 ? payload[2] : 0, s));
      return;
    case BCM_REQ_BATTERY_TEST: Reply(ctx, BCM_REPLY_BATTERY_TEST, {test_state_}); return;
    case BCM_REQ_RATINGS: Reply(ctx, BCM_REPLY_RATINGS, Ratings()); return;
    case BCM_REQ_SUPPORTED_COMMANDS: {
      std::vector<uint8_t> d = {static_cast<uint8_t>(commands_.size()), 1};
      for (int c : commands_) d.push_back(static_cast<uint8_t>(c));
      Reply(ctx, BCM_REPLY_SUPPORTED_COMMANDS, d);
      return;
    }
    case BCM_REQ_LOAD_SEGMENTS: Reply(ctx, BCM_REPLY_LOAD_SEGMENTS, {static_cast<uint8_t>(segments_)}); return;
    case BCM_REQ_RESYNC: Ack(ctx, BCM_ACK_ACCEPTED, BCM_REQ_RESYNC); return;
    default: return;  // not answered
  }
}

void BcmUps::Command(SimContext& ctx, const std::vector<uint8_t>& p) {
  const uint8_t c = p[0];
  if (!authorized_) {
    ctx.Log("REQ", "command " + std::to_string(c) + " " + HexBytes(p.data() + 1, p.size() - 1) + " (not authorized)");
    Ack(ctx, BCM_ACK_UNRECOGNIZED, c);
    return;
  }
  ctx.Log("REQ", "command " + std::to_string(c) + (p.size() > 1 ? " " + HexBytes(p.data() + 1, p.size() - 1) : ""));
  const UpsState& s = ctx.State();
  switch (c) {
    case BCM_CMD_DELAYED_OFF: {
      if (p.size() != 2 && p.size() != 3) break;
      const int delay = p.size() == 2 ? p[1] : BcmU16(&p[1]);
      OutputOffIn(ctx, delay, "delayed off");
      Ack(ctx, BCM_ACK_ACCEPTED, c);
      return;
    }
    case BCM_CMD_ON_AFTER_MINUTES:
    case BCM_CMD_OFF_AFTER_MINUTES: {
      if (p.size() != 3) break;
      const int minutes = BcmU16(&p[1]);
      if (c == BCM_CMD_ON_AFTER_MINUTES) {
        OutputOnIn(ctx, int64_t{minutes} * 60, "on after " + std::to_string(minutes) + " min");
      } else {
        OutputOffIn(ctx, int64_t{minutes} * 60, "off after " + std::to_string(minutes) + " min");
      }
      Ack(ctx, BCM_ACK_ACCEPTED, c);
      return;
    }
    case BCM_CMD_ON_AT_TIME:
    case BCM_CMD_OFF_AT_TIME: {
      if (p.size() != 7 || !(p[1] & kBcmDateYearFlag)) break;
      const int century = BcmFromBcd(static_cast<uint8_t>(p[1] & ~kBcmDateYearFlag));
      const int year = BcmFromBcd(p[2]);
      const int month = BcmFromBcd(p[3]);
      const int day = BcmFromBcd(p[4]);
      const int hour = BcmFromBcd(p[5]);
      const int minute = BcmFromBcd(p[6]);
      if (century < 0 || year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
          hour > 23 || minute < 0 || minute > 59) {
        Ack(ctx, BCM_ACK_INVALID_PARAMETER, c);
        return;
      }
      std::tm tm{};
      tm.tm_year = century * 100 + year - 1900;
      tm.tm_mon = month - 1;
      tm.tm_mday = day;
      tm.tm_hour = hour;
      tm.tm_min = minute;
      tm.tm_isdst = -1;
      const time_t at = std::mktime(&tm);
      const int64_t delay = std::max<int64_t>(0, static_cast<int64_t>(at) - static_cast<int64_t>(std::time(nullptr)));
      char when[32];
      std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", century * 100 + year, month, day, hour, minute);
      if (c == BCM_CMD_ON_AT_TIME) {
        OutputOnIn(ctx, delay, std::string("on at ") + when);
      } else {
        OutputOffIn(ctx, delay, std::string("off at ") + when);
      }
      Ack(ctx, BCM_ACK_ACCEPTED, c);
      return;
    }
    case BCM_CMD_SET_CONFIG: {
      if (p.size() != 4) break;
      if (p[1] == kBcmConfigAudibleAlarm) {
        audible_ = p[2];
      } else if (p[1] == kBcmConfigLowBatteryWarning) {
        low_battery_warning_ = p[2];
      } else {
        Ack(ctx, BCM_ACK_INVALID_PARAMETER, c);
        return;
      }
      ctx.Log("ACTION", std::string(p[1] == kBcmConfigAudibleAlarm ? "audible alarm" : "low-battery warning") +
                            " set to " + std::to_string(p[2]));
      Ack(ctx, BCM_ACK_ACCEPTED, c);
      return;
    }
    case BCM_CMD_SEGMENT_PARAMETER: {
      if (p.size() != 5) break;
      const int value = BcmU16(&p[3]);
      if (p[1] == kBcmSegmentRestartDelay) {
        const int segment = p[2] - kBcmSegmentDelayBase;
        if (segment < 0 || segment >= segments_) break;
        segment_restart_delay_[segment] = value;
        ctx.Log("ACTION", "segment " + std::to_string(segment) + " restart delay " + std::to_string(value) + " s");
      } else if (p[1] == kBcmSegmentOff || p[1] == kBcmSegmentOn) {
        const int segment = p[2] - kBcmSegmentSwitchBase;
        if (segment < 0 || segment >= segments_) break;
        ctx.Log("ACTION", "segment " + std::to_string(segment) + (p[1] == kBcmSegmentOff ? " off" : " on") +
                              " in " + std::to_string(value) + " s");
      } else {
        break;
      }
      Ack(ctx, BCM_ACK_ACCEPTED, c);
      return;
    }
    case BCM_CMD_BATTERY_TEST: {
      if (p.size() != 3) break;
      if (!s.mains_ok || test_state_ == 1) {
        if (!s.mains_ok) test_state_ = 3;
        Ack(ctx, BCM_ACK_BUSY, c);
        return;
      }
      test_state_ = 1;
      const int seconds = test_seconds_ >= 0 ? test_seconds_ : p[2];
      ctx.Log("ACTION", "battery test started for " + std::to_string(seconds) + " s");
      ctx.After(seconds * 1000, [this, &ctx]() {
        if (test_state_ != 1) return;
        test_state_ = ctx.State().replace_battery || test_fails_ ? 4 : 2;
        ctx.Log("ACTION", std::string("battery test ") + (test_state_ == 2 ? "passed" : "failed"));
      });
      Ack(ctx, BCM_ACK_ACCEPTED, c);
      return;
    }
    default:
      Ack(ctx, BCM_ACK_NOT_IMPLEMENTED, c);
      return;
  }
  Ack(ctx, BCM_ACK_INVALID_PARAMETER, c);
}

void BcmUps::Ack(SimContext& ctx, uint8_t code, uint8_t command) { Reply(ctx, BCM_REPLY_ACK, {code, command}); }

void BcmUps::Reply(SimContext& ctx, uint8_t type, const std::vector<uint8_t>& data) {
  std::string out;
  if (junk_) out += std::string("\x00\x55\x0D", 3);
  const size_t size = block_size_ == 0 ? 1 : block_size_;
  size_t pos = 0;
  int number = 1;
  do {
    const size_t n = std::min(size, data.size() - pos);
    const bool last = pos + n >= data.size();
    std::vector<uint8_t> block = {kBcmStartByte, type, static_cast<uint8_t>(n),
                                  static_cast<uint8_t>((number & kBcmBlockNumberMask) | (last ? kBcmLastBlockFlag : 0))};
    block.insert(block.end(), data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
    uint8_t sum = BcmChecksum(block.data(), block.size());
    if (last && corrupt_next_) {
      sum = static_cast<uint8_t>(sum + 1);
      corrupt_next_ = false;
    }
    block.push_back(sum);
    out.append(reinterpret_cast<const char*>(block.data()), block.size());
    pos += n;
    ++number;
  } while (pos < data.size());
  ctx.Send(out);
}

std::vector<uint8_t> BcmUps::Identification() const {
  std::vector<uint8_t> d = {1, BcmToBcd(version_major_), BcmToBcd(version_minor_)};
  if (va_ % 1000 == 0 && va_ / 1000 >= 1 && va_ / 1000 <= 255) {
    d.push_back(static_cast<uint8_t>(va_ / 1000));
  } else {
    const int steps = va_ / 50;
    d.push_back(0);
    d.push_back(static_cast<uint8_t>(steps & 0xFF));
    d.push_back(static_cast<uint8_t>((steps >> 8) & 0xFF));
  }
  d.push_back(static_cast<uint8_t>(phases_));
  d.push_back(0);
  const std::string name = model_.substr(0, 255);
  d.push_back(static_cast<uint8_t>(name.size()));
  d.insert(d.end(), name.begin(), name.end());
  d.push_back(kMeterMapSize);
  std::vector<uint8_t> map(kMeterMapSize, 0);
  for (const MeterSlot& m : kMeters) map[static_cast<size_t>(m.id - 1)] = static_cast<uint8_t>(m.format);
  d.insert(d.end(), map.begin(), map.end());
  d.push_back(kAlarmNumbers / 8);
  d.insert(d.end(), kAlarmNumbers / 8, 0xFF);
  d.push_back(static_cast<uint8_t>(config_size_ & 0xFF));
  d.push_back(static_cast<uint8_t>(config_size_ >> 8));
  d.insert(d.end(), {0, 0, 0, 0});  // statistics
  return d;
}

std::vector<uint8_t> BcmUps::Status(const UpsState& s) const {
  const bool quiet = s.mains_ok && !s.battery_low && !s.boost && !buck_ && !bypass_;
  if (quiet) return {'P', 0x80};
  uint8_t first = 'N';
  if (!s.mains_ok) first = 'B';
  if (s.mains_ok && s.boost) first = 'b';
  if (s.mains_ok && buck_) first = 'c';
  uint8_t flags = 0;
  if (s.mains_ok) flags |= 0x80;
  if (s.battery_low) flags |= 0x20;
  if (bypass_) flags |= 0x04;
  return {first, flags};
}

std::vector<uint8_t> BcmUps::Meters(const UpsState& s) const {
  std::vector<uint8_t> d;
  for (const MeterSlot& m : kMeters) {
    // The battery's charge in percent, its run time in seconds.
    double v = m.id == 72   ? va_
               : m.id == 35 ? battery_.Percent(s.battery_low)
               : m.id == 36 ? battery_.RuntimeSeconds(s.battery_low)
                            : values_.at(m.key);
    if (!s.mains_ok && (m.id == 4 || m.id == 29)) v = 0;
    if (s.overload && m.id == 24) v = va_ * 1.1;
    if (s.overload && m.id == 22) v = watts_ * 1.1;
    if (!output_on_ && (m.id == 60 || m.id == 16 || m.id == 22 || m.id == 24)) v = 0;
    if (m.format == kInteger) {
      AppendU32(d, static_cast<uint32_t>(static_cast<int32_t>(v)));
    } else {
      AppendFloat(d, static_cast<float>(v));
    }
  }
  return d;
}

std::vector<uint8_t> BcmUps::ActiveAlarms(const UpsState& s) const {
  std::vector<uint8_t> d(kAlarmNumbers, 0);
  if (!s.mains_ok) d[kAlarmOnBattery] = 1;
  if (s.overload) d[kAlarmOverload] = 1;
  if (s.replace_battery) d[kAlarmReplaceBattery] = 1;
  if (input_range_) d[kAlarmInputRange] = 1;
  for (int n : raised_alarms_) d[static_cast<size_t>(n)] = 1;
  return d;
}

std::vector<uint8_t> BcmUps::History() const {
  std::vector<uint8_t> d;
  for (const HistoryRecord& r : history_) {
    const int code = r.number * 2 + (r.cleared ? 1 : 0);
    d.push_back(static_cast<uint8_t>(code & 0xFF));
    d.push_back(static_cast<uint8_t>((code >> 8) & 0xFF));
    const time_t t = static_cast<time_t>(r.time);
    std::tm tm{};
    localtime_r(&t, &tm);
    for (int v : {tm.tm_mon + 1, tm.tm_mday, tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec}) {
      d.push_back(BcmToBcd(v));
    }
    d.push_back(0);
  }
  // A reply block carries at least one data byte: an empty history is a single filler byte,
  // shorter than a record, which the reader ignores.
  if (d.empty()) d.push_back(0);
  return d;
}

std::vector<uint8_t> BcmUps::Config() const {
  std::vector<uint8_t> d(kConfigBytes, 0);
  PutU16(d, 0, type_code_);
  PutU16(d, 8, kNominalVoltage);
  PutU16(d, 10, kNominalFrequency);
  d[47] = 1;  // a rating block is available
  const char cto[] = "CTO-4711";
  std::memcpy(&d[48], cto, sizeof cto - 1);
  const char serial[] = "000098765432";
  std::memcpy(&d[64], serial, sizeof serial - 1);
  return d;
}

std::vector<uint8_t> BcmUps::Ratings() const {
  std::vector<uint8_t> d(18, 0);
  PutU16(d, 0, kNominalVoltage);
  PutU16(d, 2, kNominalFrequency);
  PutU16(d, 4, watts_ / 50);
  d[16] = audible_;
  d[17] = low_battery_warning_;
  return d;
}

std::vector<uint8_t> BcmUps::Waveform(uint8_t code, uint8_t value, const UpsState& s) const {
  // The UPS samples one mains cycle 64 times, locked to the mains, in 8 bits about a zero
  // line of 128; the reply's scale turns a step into volts (milliamperes for the current).
  // Each wave is a fundamental of the reading's RMS value and a few odd harmonics.
  struct Harmonic {
    int k;
    double fraction;  // of the fundamental
    double phase;     // radians, against the fundamental's sine; near pi / 2 the harmonics
                      // cross zero at the fundamental's crest, which keeps the peak at
                      // RMS x sqrt(2)
  };
  std::vector<Harmonic> harmonics;
  double rms = 0;
  double lag = 0;
  bool rectified = false;
  if (code == kWaveInputCode) {
    rms = s.mains_ok ? values_.at("input-voltage") : 0.0;
    harmonics = {{3, 0.030, 1.5}, {5, 0.020, 1.7}, {7, 0.010, 1.6}};
    rectified = true;
  } else if (code == kWaveOutputVoltageCode) {
    rms = output_on_ ? values_.at("output-voltage") : 0.0;
    harmonics = {{3, 0.020, 1.6}, {5, 0.015, 1.5}, {7, 0.008, 1.6}};
  } else if (code == kWaveOutputCurrentCode) {
    rms = output_on_ ? values_.at("output-current") * 1000.0 : 0.0;
    const double va = values_.at("load-va");
    const double pf = va > 0 ? std::clamp(values_.at("load-watts") / va, 0.0, 1.0) : 1.0;
    lag = std::acos(pf);
    harmonics = {{3, 0.050, 1.6}, {5, 0.030, 1.6}, {7, 0.015, 1.5}};
  }
  double sumSquares = 1.0;
  for (const Harmonic& h : harmonics) sumSquares += h.fraction * h.fraction;
  const double fundamental = std::max(0.0, rms) * std::sqrt(2.0 / sumSquares);
  const double w = 2.0 * M_PI / kWaveSamples;

  // The input is sensed through a circuit whose response the consoles correct for: each
  // harmonic reaches the sampler divided by 0.8 times its correction factor.
  auto at = [&](double t) {
    auto term = [&](int k, double amplitude, double phase) {
      if (!rectified) return amplitude * std::sin(k * w * t + phase);
      const std::complex<float> f = KT_Waveform::CorrectionFactor(k);
      const double gain = 1.0 / (0.8 * std::abs(std::complex<double>(f.real(), f.imag())));
      return amplitude * gain *
             std::sin(k * w * t + phase + std::arg(std::complex<double>(f.real(), f.imag())));
    };
    double v = term(1, fundamental, -lag);
    for (const Harmonic& h : harmonics) v += term(h.k, fundamental * h.fraction, h.k * -lag + h.phase);
    return v;
  };
  // The rectified input is sampled from a quarter step after a falling zero crossing, at
  // sample 10, so that the lowest sample of each crossing comes just before it.
  double start = 0;
  if (rectified && fundamental > 0) {
    for (double t = 0; t < kWaveSamples; t += 0.01) {
      if (at(t) > 0 && at(t + 0.01) <= 0) {
        double lo = t;
        double hi = t + 0.01;
        for (int i = 0; i < 40; ++i) {
          const double mid = (lo + hi) / 2;
          (at(mid) > 0 ? lo : hi) = mid;
        }
        start = lo - 10.25;
        break;
      }
    }
  }
  std::vector<double> values(kWaveSamples);
  double peak = 0;
  for (int i = 0; i < kWaveSamples; ++i) {
    values[i] = at(start + i);
    if (rectified) values[i] = std::fabs(values[i]);
    peak = std::max(peak, std::fabs(values[i]));
  }
  const int zero = rectified ? 0 : 128;
  const double steps = rectified ? 250.0 : 120.0;
  const float scale = peak > 0 ? static_cast<float>(peak / steps) : 1.0f;

  std::vector<uint8_t> d = {code, value, 0, 0, static_cast<uint8_t>(zero), 0};
  AppendFloat(d, scale);
  d.push_back(8);
  d.push_back(kWaveSamples & 0xFF);
  d.push_back(0);
  for (double v : values) {
    const long sample = std::lround(zero + v / scale);
    d.push_back(static_cast<uint8_t>(std::clamp(sample, 0L, 255L)));
  }
  return d;
}

void BcmUps::OutputOffIn(SimContext& ctx, int64_t seconds, const std::string& why) {
  ctx.Log("ACTION", why + ": output off in " + std::to_string(seconds) + " s");
  ctx.After(TimerMs(seconds), [this, &ctx]() {
    if (!output_on_) return;
    output_on_ = false;
    ctx.Log("ACTION", "output off");
  });
}

void BcmUps::OutputOnIn(SimContext& ctx, int64_t seconds, const std::string& why) {
  ctx.Log("ACTION", why + ": output on in " + std::to_string(seconds) + " s");
  ctx.After(TimerMs(seconds), [this, &ctx]() {
    if (output_on_) return;
    output_on_ = true;
    ctx.Log("ACTION", "output on");
  });
}

void BcmUps::AddHistory(int number, bool cleared) {
  history_.push_back(HistoryRecord{number, cleared, static_cast<int64_t>(std::time(nullptr))});
  if (history_.size() > 100) history_.erase(history_.begin());
}

void BcmUps::OnStateChanged(SimContext& ctx, const UpsState& before) {
  battery_.Advance(!before.mains_ok);
  const UpsState& now = ctx.State();
  if (before.mains_ok != now.mains_ok) AddHistory(kAlarmOnBattery, now.mains_ok);
  if (before.overload != now.overload) AddHistory(kAlarmOverload, !now.overload);
  if (before.replace_battery != now.replace_battery) AddHistory(kAlarmReplaceBattery, !now.replace_battery);
  if (!before.mains_ok && now.mains_ok && !output_on_) {
    output_on_ = true;
    ctx.Log("ACTION", "output on (mains returned)");
  }
  if (!now.mains_ok && test_state_ == 1) {
    test_state_ = 3;
    ctx.Log("ACTION", "battery test aborted (mains failed)");
  }
}

bool BcmUps::Control(SimContext& ctx, const std::vector<std::string>& w, std::string* error,
                     std::vector<std::string>* lines) {
  (void)lines;
  if (w.empty()) return false;
  long v = 0;
  auto onOff = [&](bool* flag) {
    if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) {
      *error = "usage: " + w[0] + " on|off";
    } else {
      *flag = w[1] == "on";
    }
    return true;
  };
  const std::string& cmd = w[0];
  if (cmd == "speed") {
    if (w.size() != 2 || !ParseNumber(w[1], 50, 4000000, &v)) {
      *error = "usage: speed BPS";
    } else {
      speed_ = static_cast<uint32_t>(v);
    }
    return true;
  }
  if (cmd == "menu") {
    const bool ok = onOff(&menu_enabled_);
    if (error->empty()) in_menu_ = menu_enabled_;
    return ok;
  }
  if (cmd == "fallback") {
    in_menu_ = true;
    ctx.Log("ACTION", "fell back into the service menu");
    return true;
  }
  if (cmd == "junk") return onOff(&junk_);
  if (cmd == "bypass") return onOff(&bypass_);
  if (cmd == "buck") return onOff(&buck_);
  if (cmd == "input-range") return onOff(&input_range_);
  if (cmd == "corrupt") {
    corrupt_next_ = true;
    return true;
  }
  if (cmd == "block-size") {
    if (w.size() != 2 || !ParseNumber(w[1], 1, 255, &v)) {
      *error = "usage: block-size 1..255";
    } else {
      block_size_ = static_cast<size_t>(v);
    }
    return true;
  }
  if (cmd == "alarm") {
    if (w.size() != 3 || !ParseNumber(w[1], 0, kAlarmNumbers - 1, &v) || (w[2] != "on" && w[2] != "off")) {
      *error = "usage: alarm 0..199 on|off";
    } else if (w[2] == "on") {
      raised_alarms_.insert(static_cast<int>(v));
    } else {
      raised_alarms_.erase(static_cast<int>(v));
    }
    return true;
  }
  if (cmd == "segments") {
    if (w.size() != 2 || !ParseNumber(w[1], 0, 255, &v)) {
      *error = "usage: segments 0..255";
    } else {
      segments_ = static_cast<int>(v);
    }
    return true;
  }
  if (cmd == "commands") {
    std::vector<int> list;
    if (w.size() == 2) {
      std::stringstream in(w[1]);
      std::string item;
      while (std::getline(in, item, ',')) {
        if (!ParseNumber(item, 0, 255, &v)) {
          list.clear();
          break;
        }
        list.push_back(static_cast<int>(v));
      }
    }
    if (list.empty()) {
      *error = "usage: commands N,N,...";
    } else {
      commands_ = list;
    }
    return true;
  }
  if (cmd == "test-result") {
    if (w.size() < 2 || w.size() > 3 || (w[1] != "pass" && w[1] != "fail") ||
        (w.size() == 3 && !ParseNumber(w[2], 0, 3600, &v))) {
      *error = "usage: test-result pass|fail [SECONDS]";
    } else {
      test_fails_ = w[1] == "fail";
      if (w.size() == 3) test_seconds_ = static_cast<int>(v);
    }
    return true;
  }
  if (cmd == "set") {
    if (w.size() < 3) {
      *error = "usage: set KEY VALUE";
      return true;
    }
    const std::string& key = w[1];
    std::string text = w[2];
    for (size_t i = 3; i < w.size(); ++i) text += " " + w[i];
    if (key == "model") {
      model_ = text;
    } else if (key == "type-code" && ParseNumber(text, 0, 65535, &v)) {
      type_code_ = static_cast<int>(v);
    } else if (key == "va" && ParseNumber(text, 0, 3276750, &v)) {
      va_ = static_cast<int>(v);
    } else if (key == "config-size" && ParseNumber(text, 0, 65535, &v)) {
      config_size_ = static_cast<int>(v);
    } else if (key == "watts" && ParseNumber(text, 0, 3276750, &v)) {
      watts_ = static_cast<int>(v);
    } else if (key == "phases" && ParseNumber(text, 1, 3, &v)) {
      phases_ = static_cast<int>(v);
    } else if (key == "version" && w.size() == 4 && ParseNumber(w[2], 0, 99, &v)) {
      long minor = 0;
      if (!ParseNumber(w[3], 0, 99, &minor)) {
        *error = "usage: set version MAJOR MINOR";
      } else {
        version_major_ = static_cast<int>(v);
        version_minor_ = static_cast<int>(minor);
      }
    } else {
      bool known = false;
      for (const char* k : kValueKeys) known = known || key == k;
      char* end = nullptr;
      const double d = std::strtod(text.c_str(), &end);
      if (!known || *end != '\0' || !std::isfinite(d)) {
        *error = "unknown key or bad value: " + key + " " + text;
      } else if (key == "capacity" || key == "runtime") {
        battery_.Advance(!ctx.State().mains_ok);
        if (key == "capacity") {
          battery_.SetPercent(d);
        } else {
          battery_.SetFullRuntime(static_cast<int>(std::clamp(d, 1.0, 65535.0)));
        }
      } else {
        values_[key] = d;
      }
    }
    return true;
  }
  return false;
}

std::string BcmUps::Describe() const {
  return "speed=" + std::to_string(speed_) + " menu=" + (in_menu_ ? "shown" : menu_enabled_ ? "left" : "none") +
         " model=\"" + model_ + "\" type-code=" + std::to_string(type_code_) + " va=" + std::to_string(va_) +
         " segments=" + std::to_string(segments_) + " test=" + std::to_string(test_state_) +
         " output=" + (output_on_ ? "on" : "off") + " audible=" + std::to_string(audible_) +
         " low-battery-warning=" + std::to_string(low_battery_warning_);
}

}  // namespace upssim
