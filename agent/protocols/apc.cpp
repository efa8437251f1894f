#include "agent/protocols/apc.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "agent/protocols/apc_reply.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

namespace {

struct ApcModel {
  char code;  // first character of the "V" reply
  const char* text;
  int va;
};

constexpr ApcModel kModels[] = {
    {'3', "SmartUPS 370ci", 370},  {'6', "SmartUPS 600", 600},   {'7', "SmartUPS 900", 900},
    {'8', "SmartUPS 1250", 1250},  {'9', "SmartUPS 2000", 2000},
};

struct ApcVoltage {
  char code;  // third character of the "V" reply
  int volts;
  int hertz;
};

constexpr ApcVoltage kVoltages[] = {{'A', 100, 50}, {'M', 208, 50}, {'T', 230, 50}};
constexpr ApcVoltage kDefaultVoltage = {0, 120, 60};

// Model indexes and the interface types of the UPS information block.
constexpr int kSmartModelIndex = 8;
constexpr int kSimpleModelIndex = 9;  // a UPS that answers "NA" to "V"
constexpr int kInterfaceSimple = 1;
constexpr int kInterfaceSerial = 2;

// Status register bits.
constexpr uint8_t kRegOnBattery = 0x10;
constexpr uint8_t kRegOverload = 0x20;
constexpr uint8_t kRegLowBattery = 0x40;
constexpr uint8_t kRegReplaceBattery = 0x80;
constexpr uint8_t kRegBoost = 0x04;

// Battery-test states of the battery log.
constexpr int kTestPassed = 2;
constexpr int kTestNotPerformed = 3;
constexpr int kTestFailed = 4;

// The "j" run time comes in minutes.
constexpr int64_t kSecondsPerMinute = 60;

// The "@ddd" return delay: tenths of an hour, three digits.
constexpr int kSecondsPerTenthHour = 360;
constexpr int kMaxReturnTenths = 999;

bool Contains(const std::string& text, const char* what) {
  return text.find(what) != std::string::npos;
}

}  // namespace

KT_APC::KT_APC(KT_SCP& scp) : KT_UpsProtocol(scp) {}

int KT_APC::SendRequest(const uint8_t*, int, int) { return 1; }
int KT_APC::ProcessBlock(KT_ReadRecord&) { return 1; }
int KT_APC::UpdateConfig() { return -1; }
int KT_APC::SetConfig() { return 1; }
int KT_APC::UpdateAlarmQueue() { return 1; }

// ---- exchanges ----

int KT_APC::Exchange(const std::string& command, std::string* line) {
  DiscardInput();
  if (command.empty() || Write(command.data(), static_cast<int>(command.size())) < 0) return -1;
  // A reply ends with its line feed: the read stops there instead of waiting out the line's
  // interval gap (a second per query, ten per poll round).
  KT_ReadRecord record;
  record.capacity = static_cast<int>(kApcReadCapacity);
  record.endByte = '\n';
  const int r = ReadBlock(record);
  if (r <= 0) return r;
  std::string bytes(record.data.begin(), record.data.end());
  // The rest of a reply longer than one read, or one that paused on the line, up to its line
  // end: left behind, it would be taken for the answer to the next command.
  while (!ApcHasWholeLine(bytes) && bytes.size() < kApcMaxReply) {
    KT_ReadRecord more;
    more.capacity = static_cast<int>(kApcReadCapacity);
    more.endByte = '\n';
    if (Read(more) <= 0) break;
    bytes.append(more.data.begin(), more.data.end());
  }
  *line = ApcReplyLine(bytes);
  return 1;
}

std::optional<std::string> KT_APC::Query(const std::string& command) {
  std::string line;
  if (Exchange(command, &line) <= 0) return std::nullopt;
  return ApcReplyText(line);
}

int KT_APC::QueryNumber(const std::string& command, int* value) {
  const std::optional<std::string> text = Query(command);
  if (!text) return 0;
  return ApcReplyNumber(*text, value) ? 1 : 0;
}

int KT_APC::SetValue(const std::string& command, const std::string& wanted) {
  const std::optional<std::string> first = Query(command);
  if (!first) return -1;
  if (Contains(*first, wanted.c_str())) return 1;
  for (int step = 0; step < kMaxSetSteps; ++step) {
    if (Write("-", 1) < 0) return -1;
    const std::optional<std::string> now = Query(command);
    if (!now) return -1;
    if (Contains(*now, wanted.c_str())) return 1;
    if (*now == *first) {
      Diag() << "KT_APC::SetValue: the UPS does not offer " << wanted << " for " << command << kendl;
      return 0;
    }
  }
  Diag() << "KT_APC::SetValue: no way round the values of " << command << kendl;
  return -1;
}

// ---- slots ----

int KT_APC::Probe() {
  const std::optional<std::string> text = Query("Y");
  return text && Contains(*text, "SM") ? 1 : 0;
}

int KT_APC::UpdateInfo() {
  const std::optional<std::string> model = Query("V");
  if (!model) return 0;  // nothing identified: the request stays and is tried again
  {
    auto lock = scp_.Lock();
    UpsInfoBlock& info = scp_.upsInfo;
    if (Contains(*model, "NA")) {
      info.SetModelIndex(kSimpleModelIndex);
      info.SetInterfaceType(kInterfaceSimple);
      info.SetVariant(1);
    } else {
      info.SetInterfaceType(kInterfaceSerial);
      info.SetModelIndex(kSmartModelIndex);
      info.SetVariant(2);
      if (!model->empty()) {
        for (const ApcModel& m : kModels) {
          if (m.code != (*model)[0]) continue;
          info.SetVARating(m.va);
          scp_.meters.SetLoadVARating(m.va);
          info.SetModelText(m.text);
        }
      }
      ApcVoltage v = kDefaultVoltage;
      if (model->size() >= 3) {
        for (const ApcVoltage& candidate : kVoltages) {
          if (candidate.code == (*model)[2]) v = candidate;
        }
      }
      info.SetNominalInputVoltage(v.volts);
      info.SetNominalOutputVoltage(v.volts);
      info.SetNominalInputFrequency(v.hertz);
      info.SetNominalOutputFrequency(v.hertz);
    }
  }
  const std::optional<std::string> serial = Query("n");
  if (serial && !serial->empty()) {
    auto lock = scp_.Lock();
    scp_.upsInfo.SetSerialNumber(serial->c_str());
  }
  return 1;
}

int KT_APC::UpdateMeter() {
  // Silence on the first query ends the pass: a UPS that does not answer would hold the line
  // for every other query's time-out, and the status poll tells of the lost link. Any other
  // reading that does not come as a number (no reply, line noise, a UPS without that meter)
  // is stored as unknown and the others are read: the block, stamped fresh after the pass,
  // never serves a reading of an earlier pass as one of this pass.
  const std::optional<std::string> inputText = Query("L");
  if (!inputText) return 0;
  // Each reading, or -1, which every setter of the meter block stores as the meter's unknown.
  int input = 0;
  if (!ApcReplyNumber(*inputText, &input)) input = -1;
  auto reading = [this](const char* command) {
    int v = 0;
    return QueryNumber(command, &v) ? v : -1;
  };
  const int battery = reading("B");
  const int temperature = reading("C");
  const int frequency = reading("F");
  const int output = reading("O");
  const int load = reading("P");
  const int capacity = reading("f");
  const int runtime = reading("j");

  auto lock = scp_.Lock();
  MeterBlock& m = scp_.meters;
  m.SetInputVoltage(0, input);
  m.SetBatteryVoltage(battery);
  m.SetTemperature(temperature);
  m.SetOutputFrequency(frequency);
  m.SetInputFrequency(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY) == 1 ? 0 : frequency);
  m.SetOutputVoltage(0, output);
  // The UPS reports its load in percent of its rating; the meter block keeps the output in VA
  // and works the percentage out from the rating.
  const int rating = scp_.upsInfo.GetVARating();
  if (rating > 0) m.SetOutputVA(load >= 0 ? static_cast<int>(static_cast<int64_t>(load) * rating / 100) : -1);
  m.SetBatteryCapacity(capacity);
  // The UPS counts its run time in minutes; the meter block keeps seconds. A figure the block
  // cannot hold becomes its unknown value.
  const int64_t seconds = std::clamp<int64_t>(int64_t{runtime} * kSecondsPerMinute, INT_MIN, INT_MAX);
  m.SetBatteryTime(static_cast<int>(seconds));
  return 1;
}

int KT_APC::UpdateStatus() {
  const std::optional<std::string> text = Query("Q");
  if (!text) return 0;
  uint8_t reg = 0;
  if (!ApcStatusRegister(*text, &reg)) {
    Diag() << "KT_APC::UpdateStatus: unexpected status reply \"" << *text << "\"\n";
    return -1;
  }
  auto lock = scp_.Lock();
  StatusBlock& status = scp_.upsStatus;
  auto apply = [&status](bool on, int alarm) { on ? status.SetAlarm(alarm) : status.ClearAlarm(alarm); };
  apply(reg & kRegOnBattery, ALARM_ON_BATTERY);
  apply(reg & kRegOverload, ALARM_OVERLOAD);
  apply(reg & kRegLowBattery, ALARM_LOW_BATTERY);
  apply(reg & kRegReplaceBattery, ALARM_BAD_BATTERY);
  apply(reg & kRegBoost, ALARM_BOOSTING);
  return 1;
}

int KT_APC::InitiateBatteryTest() {
  std::string line;
  const int r = Exchange("W", &line);
  BeginBatteryTest(kTestName);
  if (r < 0) return -1;
  if (r == 0) return 1;  // some models start the test without answering
  return Contains(ApcReplyText(line), "OK") ? 1 : 0;
}

int KT_APC::UpdateBatteryTest() {
  const std::optional<std::string> text = Query("X");
  if (!text) return 0;
  if (Contains(*text, "NO")) return 1;  // no result yet
  int state;
  if (Contains(*text, "OK")) {
    state = kTestPassed;
  } else if (Contains(*text, "BT")) {
    state = kTestFailed;
  } else if (Contains(*text, "NG")) {
    state = kTestNotPerformed;
  } else if (Contains(*text, "NA")) {
    state = kTestNotPerformed;  // the UPS cannot report a result
  } else {
    Diag() << "KT_APC::UpdateBatteryTest: unexpected result \"" << *text << "\"\n";
    return -1;
  }
  SetBatteryTestState(static_cast<uint8_t>(state));
  // The held request that polls the result (type 7, branch 0) is done.
  scp_.serial_queue.Delete(BLOCK_BATTERY_LOG, 0);
  if (AddBatteryTestResult(state, GetBatteryTestStart(), 0) < 0) return -1;
  FinishBatteryTest();
  return 1;
}

const char* KT_APC::DelayFor(int seconds) {
  if (seconds <= 20) return kDelay20;
  if (seconds <= 180) return kDelay180;
  if (seconds <= 300) return kDelay300;
  return kDelay600;
}

int KT_APC::SetShutdownDelay(int seconds) { return SetValue("p", DelayFor(seconds)); }

int KT_APC::LoadControl(int kind, int, int seconds) {
  switch (kind) {
    case kOutputOffAfterDelay:
      return SetShutdownDelay(seconds);
    case kOutputOnAfterDelay: {
      int tenths = seconds > 0 ? seconds / kSecondsPerTenthHour : 0;
      if (tenths > kMaxReturnTenths) tenths = kMaxReturnTenths;
      char command[8];
      std::snprintf(command, sizeof command, "@%03d", tenths);
      // The '*' that confirms the command is looked for in the reply line itself: the reply
      // text leaves it out.
      std::string line;
      if (Exchange(command, &line) <= 0) return 0;
      return line.find(kApcCarriedOut) != std::string::npos ? 1 : 0;
    }
    case kOutputOffAfterOs: {
      const int set = SetShutdownDelay(seconds);
      if (set != 1) return set;
      const std::optional<std::string> text = Query("S");
      if (!text) return -1;
      return Contains(*text, "OK") ? 1 : 0;
    }
    default:
      return -1;
  }
}

int KT_APC::UpdateCapabilities() {
  auto lock = scp_.Lock();
  DefaultCapabilitiesLocked();
  if (scp_.upsInfo.GetModelIndex() == kSimpleModelIndex) {
    scp_.upsInfo.SetVariant(1);
    return 1;
  }
  scp_.upsInfo.SetVariant(2);
  SetEvent(24);
  SetFunction(2, 1);
  SetFunction(2, 4);
  SetFunction(2, 7);
  SetFunction(3, 2);
  for (int e : {8, 9, 0, 1, 6, 7}) SetEvent(e);
  SetFunction(3, 0);
  SetEvent(27);
  SetEvent(28);
  SetFunction(3, 1);
  SetEvent(21);
  SetEvent(31);
  SetEvent(32);
  SetFunction(3, 3);
  SetSegmentCount(1);
  scp_.receptacles.SetCount(1);
  return 1;
}
