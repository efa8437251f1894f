// KT_SNMP: filling the image from the adapter, adapter management, output control and the
// battery test.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/adapters/adapter_capabilities.h"
#include "core/base/ktdiag.h"
#include "core/adapters/mib_table.h"
#include "core/adapters/snmp.h"
#include "core/adapters/snmp_convert.h"
#include "core/base/ups_identification.h"
#include "platform/clock.h"

namespace {

// At most one entry per status alarm code is worth walking.
constexpr int kMaxAlarmEntries = 25;
// upsInputNumLines beyond three phases names nothing the meter block can hold.
constexpr int kMaxInputLines = 3;
// Communities the adapter accepts.
constexpr size_t kMinCommunity = 2;
constexpr size_t kMaxCommunity = 15;

// Interface types of the UPS information block.
constexpr int kInterfaceAgentDriven = 2;
constexpr int kInterfaceAdapterOnly = 5;
constexpr int kOsTypeSnmp = 12;

// upsTestResultsSummary values.
constexpr int kOutcomeDonePass = 1;
constexpr int kOutcomeDoneWarning = 2;
constexpr int kOutcomeDoneError = 3;
constexpr int kOutcomeAborted = 4;
constexpr int kOutcomeInProgress = 5;
constexpr int kOutcomeNoTests = 6;

// The leading number of text[pos..] (at most nine digits; white space first is skipped), as a
// byte field can hold it: 0 when there is no number, 255 at most.
int SmallNumberAt(const std::string& text, size_t pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  long value = 0;
  int digits = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 9) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++digits;
  }
  return static_cast<int>(std::min<long>(value, 255));
}

// RFC 1628 well-known alarm numbers (upsWellKnownAlarms.N) the mapping looks at.
constexpr int kAlarmBatteryBad = 1;
constexpr int kAlarmOnBattery = 2;
constexpr int kAlarmLowBattery = 3;
constexpr int kAlarmDepletedBattery = 4;
constexpr int kAlarmInputBad = 6;
constexpr int kAlarmBypassBad = 10;
constexpr int kAlarmGeneralFault = 18;
constexpr int kHighestWellKnownAlarm = 24;

// Maps the well-known alarms present in the adapter's table onto the status flags. The table's
// rows come in no defined order, so the mapping looks at the set as a whole: the UPS is on
// battery when any of on battery, input bad or bypass bad is present; a low battery is the
// low-battery alarm while on battery and a battery problem on mains. No row clears a flag that
// another row set.
void MapAdapterAlarms(const bool present[kHighestWellKnownAlarm + 1], uint8_t flags[kMaxAlarmEntries]) {
  const bool onBattery = present[kAlarmOnBattery] || present[kAlarmInputBad] || present[kAlarmBypassBad];
  if (onBattery) flags[ALARM_ON_BATTERY] = 1;
  if (present[kAlarmInputBad] || present[kAlarmBypassBad]) flags[ALARM_INPUT_OUT_OF_RANGE] = 1;
  if (present[kAlarmLowBattery]) flags[onBattery ? ALARM_LOW_BATTERY : ALARM_BAD_BATTERY] = 1;
  if (present[kAlarmBatteryBad] || present[kAlarmDepletedBattery]) flags[ALARM_BAD_BATTERY] = 1;
  if (present[kAlarmGeneralFault] && onBattery) flags[ALARM_UPS_MALFUNCTION] = 1;
  for (int n : {5, 7, 13, 16, 17}) {  // temperature, output, charger, fan, fuse
    if (present[n]) flags[ALARM_UPS_MALFUNCTION] = 1;
  }
  if (present[8]) flags[ALARM_OVERLOAD] = 1;        // upsAlarmOutputOverload
  if (present[9]) flags[ALARM_ON_BYPASS] = 1;       // upsAlarmOnBypass
  if (present[20]) flags[ALARM_LOST_UPS_COMM] = 1;  // upsAlarmCommunicationsLost
  if (present[24]) flags[ALARM_BATTERY_TEST] = 1;   // upsAlarmTestInProgress
}

// The status alarms that follow the adapter's alarm table: a poll sets them by the table and
// clears the ones the table no longer reports.
bool FollowsAdapterTable(int code) {
  return (code >= ALARM_BAD_BATTERY && code <= ALARM_LOST_UPS_COMM) || code == ALARM_SHUTDOWN_PROLONGED_OUTAGE;
}

}  // namespace

// ---- status -----------------------------------------------------------------------------------

int KT_SNMP::UpdateStatus() {
  Diag() << "KT_SNMP::UpdateStatus\n";
  KT_SnmpValue value;
  const int result = GetRow(kRowUpsAlarmsPresent, value);
  if (result != 1) {
    Diag() << "KT_SNMP::UpdateStatus setting DAEMON_COMM_LOSS\n";
    auto lock = image_->Lock();
    image_->upsStatus.SetAlarm(ALARM_LOST_DAEMON_COMM);
    return result;
  }
  Diag() << "KT_SNMP::UpdateStatus clearing DAEMON_COMM_LOSS\n";
  {
    auto lock = image_->Lock();
    image_->upsStatus.ClearAlarm(ALARM_LOST_DAEMON_COMM);
  }

  const std::optional<int32_t> count = SnmpCount(value);
  if (!count) {
    Diag() << "KT_SNMP::UpdateStatus: upsAlarmsPresent is not a count\n";
    return -1;
  }
  uint8_t flags[kMaxAlarmEntries] = {};
  if (*count == 0) {
    Diag() << "No current alarms\n";
    UpdateSCPStatus(flags);
    Diag() << "KT_SNMP::UpdateStatus returning 1\n";
    return 1;
  }

  const int entries = std::min<int32_t>(*count, kMaxAlarmEntries);
  if (entries < *count) Diag() << "KT_SNMP::UpdateStatus: " << *count << " alarms reported, reading " << entries << kendl;

  // upsAlarmDescr.<id>: the column is the row without its placeholder.
  const MibTableRow* descr = GetMibRow(kRowUpsAlarmDescr);
  const int columnLength = descr->count - 1;
  bool present[kHighestWellKnownAlarm + 1] = {};
  int last = 1;
  int64_t index = 0;
  for (int i = 0; i < entries; ++i) {
    const std::optional<std::string> text = RowOidWithIndex(kRowUpsAlarmDescr, index);
    if (!text) {
      last = -1;
      break;
    }
    last = GetNext(text->c_str(), value);
    if (last != 1) {
      Diag() << "KT_SNMP::UpdateStatus: the alarm table cannot be read\n";
      break;
    }
    // The walk ends where the answer leaves the column or does not move forward.
    const uint32_t* name = value.GetOid();
    bool inColumn = name != nullptr && value.GetOidCount() == columnLength + 1;
    for (int k = 0; inColumn && k < columnLength; ++k) inColumn = name[k] == static_cast<uint32_t>(descr->subIds[k]);
    if (!inColumn || name[columnLength] <= index) {
      Diag() << "KT_SNMP::UpdateStatus: end of the alarm table after " << i << " entries\n";
      break;
    }
    index = name[columnLength];
    const int n = WellKnownAlarmNumber(value);
    if (n < 0) {
      Diag() << "KT_SNMP::UpdateStatus: alarm entry " << static_cast<long long>(index) << " is not a well-known alarm\n";
      continue;
    }
    Diag().Printf("alarm number %d present\n", n);
    if (n <= kHighestWellKnownAlarm) present[n] = true;
  }
  // A walk that failed half way tells nothing about the alarms it did not reach: the status
  // stays as it was.
  if (last != 1) return last;
  MapAdapterAlarms(present, flags);
  UpdateSCPStatus(flags);
  return last;
}

int KT_SNMP::UpdateSCPStatus(const uint8_t flags[25]) {
  auto lock = image_->Lock();
  StatusBlock& status = image_->upsStatus;
  for (int code = 0; code < kMaxAlarmEntries; ++code) {
    if (flags[code] != 0) {
      if (status.IsAlarmSet(code) != 1) Diag() << "UpdateSCPStatus: setting SCP alarm " << code << kendl;
      status.SetAlarm(code);
    } else if (FollowsAdapterTable(code) || (code == ALARM_BATTERY_TEST && test_start_time_ == 0)) {
      if (status.IsAlarmSet(code) == 1) Diag() << "UpdateSCPStatus: clearing SCP alarm " << code << kendl;
      status.ClearAlarm(code);
    }
  }
  status.Branches().Touch(0);
  status.Branches().Touch(1);
  return 1;
}

// ---- UPS information ----------------------------------------------------------------------------

void KT_SNMP::ApplyUpsVersion(const std::string& text) {
  // "FW: 2.15": the minor after the first dot, the major two characters after a colon before it
  // (without a colon: the number just before the dot).
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return;
  const int minor = SmallNumberAt(text, dot + 1);
  const std::string before = text.substr(0, dot);
  int major = 0;
  const size_t colon = before.find(':');
  if (colon != std::string::npos) {
    major = colon + 2 < before.size() ? SmallNumberAt(before, colon + 2) : 0;
  } else {
    size_t start = before.size();
    while (start > 0 && before[start - 1] >= '0' && before[start - 1] <= '9') --start;
    major = SmallNumberAt(before, start);
  }
  auto lock = image_->Lock();
  image_->upsInfo.SetVersion(major, minor);
}

void KT_SNMP::ApplyAdapterVersion(const std::string& text) {
  // "Adapter 3.02": the minor after the first dot, the major after the first blank before it
  // (or at the start).
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return;
  const int minor = SmallNumberAt(text, dot + 1);
  const std::string before = text.substr(0, dot);
  const size_t blank = before.find(' ');
  const int major = SmallNumberAt(before, blank == std::string::npos ? 0 : blank + 1);
  auto lock = image_->Lock();
  image_->upsInfo.SetAdapterVersion(major, minor);
}

void KT_SNMP::ApplyIdentName(const std::string& text) {
  // "ID: <16 characters> Msg: <16 characters>": the serial number and the CTO text, each
  // taken one character after its tag, never beyond the end of the text.
  constexpr size_t kField = 16;
  auto field = [&](size_t start) { return start < text.size() ? text.substr(start, kField) : std::string(); };
  const size_t id = text.find("ID:");
  const std::string serial = id == std::string::npos ? text.substr(0, kField) : field(id + 3 + 1);
  const size_t msg = text.find("Msg:");
  auto lock = image_->Lock();
  image_->upsInfo.SetSerialNumber(serial.c_str());
  if (msg != std::string::npos) image_->upsInfo.SetCto(field(msg + 4 + 1).c_str());
}

int KT_SNMP::UpdateInfo() {
  {
    auto lock = image_->Lock();
    image_->upsInfo.SetInterfaceType(agent_side_ ? kInterfaceAgentDriven : kInterfaceAdapterOnly);
  }

  if (std::optional<std::string> maker = GetRowText(kRowUpsIdentManufacturer)) {
    if (std::optional<int> code = IdentifyManufacturer(*maker)) {
      auto lock = image_->Lock();
      image_->upsInfo.SetManufacturer(*code);
    }
  }
  if (std::optional<std::string> model = GetRowText(kRowUpsIdentModel)) {
    const ModelIdentity id = IdentifyModel(
        *model, [this] { return GetRowInteger(kRowUpsConfigOutputVA); },
        [this] { return GetRowInteger(kRowUpsInputNumLines); });
    if (id.matched) {
      auto lock = image_->Lock();
      image_->upsInfo.SetModelIndex(id.modelIndex);
      image_->upsInfo.SetVariant(id.variant);
    }
  }

  if (std::optional<std::string> version = GetRowText(kRowUpsIdentUpsSoftwareVersion)) ApplyUpsVersion(*version);
  if (!agent_side_) {
    auto lock = image_->Lock();
    image_->upsInfo.SetOsType(kOsTypeSnmp);
  }
  if (std::optional<std::string> version = GetRowText(kRowUpsIdentAgentSoftwareVersion)) ApplyAdapterVersion(*version);

  KT_SnmpValue value;
  const int result = GetRow(kRowUpsIdentName, value);
  if (result == 1) {
    const MibTableRow* row = GetMibRow(kRowUpsIdentName);
    if (std::optional<std::string> name = SnmpText(value, static_cast<size_t>(row->maxLength))) ApplyIdentName(*name);
  }

  UpdateRatings();
  auto lock = image_->Lock();
  for (int branch = 0; branch <= 5; ++branch) image_->upsInfo.Branches().Touch(branch);
  return result;
}

int KT_SNMP::UpdateRatings() {
  if (std::optional<int32_t> v = GetRowCount(kRowUpsConfigInputVoltage)) {
    auto lock = image_->Lock();
    image_->upsInfo.SetNominalInputVoltage(*v);
  }
  if (std::optional<int32_t> v = GetRowCount(kRowUpsConfigOutputVoltage)) {
    auto lock = image_->Lock();
    image_->upsInfo.SetNominalOutputVoltage(*v);
  }
  if (std::optional<int32_t> va = GetRowCount(kRowUpsConfigOutputVA)) {
    auto lock = image_->Lock();
    image_->upsInfo.SetVARating(*va);
    image_->meters.SetLoadVARating(*va);
    image_->upsInfo.SetModelText(RatingText(*va).c_str());
  }
  if (std::optional<int32_t> w = GetRowCount(kRowUpsConfigOutputPower)) {
    auto lock = image_->Lock();
    image_->upsInfo.SetWattRating(*w);
    image_->meters.SetLoadWattRating(*w);
  }
  if (std::optional<int32_t> f = GetRowCount(kRowUpsConfigInputFreq)) {
    auto lock = image_->Lock();
    image_->upsInfo.SetNominalInputFrequency(*f / 10);
  }
  if (std::optional<int32_t> f = GetRowCount(kRowUpsConfigOutputFreq)) {
    auto lock = image_->Lock();
    image_->upsInfo.SetNominalOutputFrequency(*f / 10);
  }
  if (std::optional<int32_t> n = GetRowCount(kRowUpsInputNumLines)) {
    auto lock = image_->Lock();
    image_->upsInfo.SetNumberOfPhases(*n);
  }
  return 1;
}

int KT_SNMP::UpdateCapabilities() {
  auto lock = image_->Lock();
  UpsInfoBlock& info = image_->upsInfo;
  NotifyBlock& notify = image_->notify;
  auto function = [&](int n, int b) { info.SetFunctionSupported(n, b); };
  auto noFunction = [&](int n, int b) { info.ClearFunctionSupported(n, b); };
  auto event = [&](int n, int b) { notify.SetSupportBit(SUPPORT_EVENTS, n, b); };
  auto noEvent = [&](int n, int b) { notify.ClearSupportBit(SUPPORT_EVENTS, n, b); };

  if (!agent_side_) {
    function(1, 4);
    function(1, 6);
    function(2, 4);
    function(3, 2);
    function(3, 5);
    noFunction(3, 4);
    noFunction(0, 0);
    noFunction(0, 7);
    noFunction(2, 0);
    noFunction(0, 1);
    return 1;
  }

  SetAdapterUpsCapabilities(info, notify);

  const int m = info.GetModelIndex();
  if (m == 2 || m == 7) {
    function(2, 5);
    function(1, 0);
    event(2, 5);
    function(3, 1);
  }
  if (m == 1 || m == 6 || m == 15 || (m >= 17 && m <= 24)) {
    if (m == 18 || m == 20) {
      noFunction(3, 0);
      noEvent(3, 3);
      noEvent(3, 4);
    } else {
      function(3, 0);
      event(3, 3);
      event(3, 4);
    }
    function(3, 1);
    event(2, 5);
    function(2, 6);
    function(2, 3);
  }
  if (m == 11 || m == 12 || m == 10 || m == 3) {
    function(3, 0);
    event(3, 3);
    event(3, 4);
    function(3, 1);
    event(2, 5);
    function(3, 3);
    if (m == 10 || m == 3) {
      noEvent(1, 0);
      noEvent(1, 1);
      event(3, 5);
      event(3, 6);
      event(3, 7);
      event(4, 0);
    }
  }
  if (m == 6) function(3, 3);
  if (m == 1) {
    if (info.GetVARating() > 3000 && (info.GetVersionMajor() > 1 || info.GetVersionMinor() > 4)) {
      function(3, 3);
    } else {
      function(1, 0);
    }
  }
  return 1;
}

// ---- meters ---------------------------------------------------------------------------------------

int KT_SNMP::UpdateMeters() {
  const std::optional<int32_t> reported = GetRowCount(kRowUpsInputNumLines);
  const int lines = reported ? std::min<int32_t>(*reported, kMaxInputLines) : 0;
  if (reported && *reported > kMaxInputLines) {
    Diag() << "KT_SNMP::UpdateMeters: " << *reported << " input lines reported, reading " << lines << kendl;
  }

  int64_t vaSum = 0;
  bool anyVa = false;
  int64_t wattSum = 0;
  bool anyWatts = false;
  for (int line = 1; line <= lines; ++line) {
    const int phase = line - 1;
    auto lineValue = [&](int row) -> std::optional<int32_t> {
      const std::optional<std::string> text = RowOidWithIndex(row, line);
      if (!text) return std::nullopt;
      KT_SnmpValue value;
      if (Get(text->c_str(), value) != 1) return std::nullopt;
      return SnmpCount(value);
    };
    if (std::optional<int32_t> v = lineValue(kRowUpsInputVoltage)) {
      auto lock = image_->Lock();
      image_->meters.SetInputVoltage(phase, *v);
    }
    if (std::optional<int32_t> v = lineValue(kRowUpsOutputVoltage)) {
      auto lock = image_->Lock();
      image_->meters.SetOutputVoltage(phase, *v);
    }
    if (std::optional<int32_t> current = lineValue(kRowUpsOutputCurrent)) {
      auto lock = image_->Lock();
      image_->meters.SetOutputCurrent(phase, *current);
      const int voltage = image_->meters.GetOutputVoltage(phase);
      if (voltage != 0xFFFF) {
        vaSum += static_cast<int64_t>(voltage) * *current / 10;
        anyVa = true;
      }
    }
    if (std::optional<int32_t> f = lineValue(kRowUpsInputFrequency)) {
      auto lock = image_->Lock();
      image_->meters.SetInputFrequency(*f / 10);
    }
    if (std::optional<int32_t> w = lineValue(kRowUpsOutputPower)) {
      wattSum += *w;
      anyWatts = true;
    }
  }

  auto withMeters = [this](auto&& apply) {
    auto lock = image_->Lock();
    apply(image_->meters);
  };
  if (anyVa) withMeters([&](MeterBlock& m) { m.SetOutputVA(static_cast<int>(std::min<int64_t>(vaSum, INT_MAX))); });
  if (std::optional<int32_t> f = GetRowCount(kRowUpsOutputFrequency)) {
    withMeters([&](MeterBlock& m) { m.SetOutputFrequency(*f / 10); });
  }
  if (anyWatts) withMeters([&](MeterBlock& m) { m.SetOutputWatts(static_cast<int>(std::min<int64_t>(wattSum, INT_MAX))); });
  if (std::optional<int32_t> v = GetRowCount(kRowUpsBatteryVoltage)) {
    withMeters([&](MeterBlock& m) { m.SetBatteryVoltage(*v); });
  }
  if (std::optional<int32_t> minutes = GetRowCount(kRowUpsEstimatedMinutesRemaining)) {
    const int64_t seconds = static_cast<int64_t>(*minutes) * 60;
    Diag() << "Battery Time Remaining = " << static_cast<long long>(seconds) << kendl;
    withMeters([&](MeterBlock& m) { m.SetBatteryTime(static_cast<int>(std::min<int64_t>(seconds, INT_MAX))); });
  }
  if (std::optional<int32_t> charge = GetRowCount(kRowUpsEstimatedChargeRemaining)) {
    withMeters([&](MeterBlock& m) { m.SetBatteryCapacity(*charge); });
  }
  withMeters([](MeterBlock& m) {
    for (int branch = 0; branch <= 3; ++branch) m.Branches().Touch(branch);
  });
  return 1;
}

// ---- adapter management -----------------------------------------------------------------------

std::optional<std::string> KT_SNMP::ProbeAdapter() { return GetRowText(kRowUpsIdentModel); }

int KT_SNMP::TestWriteAccess() {
  auto fits = [](const std::optional<std::string>& c) {
    return c && c->size() >= kMinCommunity && c->size() <= kMaxCommunity;
  };
  if (!fits(read_community_) || !fits(write_community_)) return -1;
  const std::optional<std::string> oidText = GetOidText(kRowUpsIdentAttachedDevices);
  if (!oidText) return -1;
  KT_SnmpValue value;
  if (Get(oidText->c_str(), value) != 1) return 0;
  const std::string text = SnmpText(value, static_cast<size_t>(GetMibRow(kRowUpsIdentAttachedDevices)->maxLength)).value_or("");
  return Set(oidText->c_str(), value, 's', text.c_str());
}

std::optional<std::string> KT_SNMP::ReadAdapterText() {
  KT_SnmpValue value;
  if (Get(kSysContactOid, value) != 1) return std::nullopt;
  std::optional<std::string> text = SnmpText(value, static_cast<size_t>(GetMibRow(kRowSysContact)->maxLength));
  if (!text || text->empty()) return std::nullopt;
  return text;
}

int KT_SNMP::WriteAdapterText(const char* text) {
  if (text == nullptr) return -1;
  KT_SnmpValue value;
  return Set(kSysContactOid, value, 's', text);
}

int KT_SNMP::RestartAdapterAgent() {
  KT_SnmpValue value;
  return Set(kIfAdminStatusOid, value, 'i', "2");
}

// ---- output control ---------------------------------------------------------------------------

int KT_SNMP::SetControlDelay(int kind, int seconds) {
  int row = -1;
  if (kind == CONTROL_STARTUP_DELAY) {
    row = kRowUpsStartupAfterDelay;
  } else if (kind == CONTROL_SHUTDOWN_DELAY || kind == CONTROL_OFF_DELAY) {
    row = kRowUpsShutdownAfterDelay;
  }
  const std::optional<std::string> oidText = GetOidText(row);
  if (!oidText) return -1;
  char text[16];
  std::snprintf(text, sizeof text, "%d", seconds);
  KT_SnmpValue value;
  return Set(oidText->c_str(), value, 'i', text);
}

int KT_SNMP::StartSleepMode() {
  int shutdownDelay = 0;
  int restartDelay = 0;
  {
    auto lock = image_->Lock();
    shutdownDelay = std::max(1, image_->commandBlock.GetShutdownDelay());
    restartDelay = std::max(1, image_->commandBlock.GetRestartDelay());
    if (image_->upsInfo.GetManufacturer() == kManufacturerOwn) {
      restartDelay = std::max(restartDelay, shutdownDelay > INT_MAX - 60 ? INT_MAX : shutdownDelay + 60);
    }
  }
  if (SetControlDelay(CONTROL_SHUTDOWN_DELAY, shutdownDelay) != 1) return -1;
  return SetControlDelay(CONTROL_STARTUP_DELAY, restartDelay);
}

int KT_SNMP::ReadControlDelays(int& startup, int& shutdown) {
  const std::optional<int32_t> off = GetRowInteger(kRowUpsShutdownAfterDelay);
  const std::optional<int32_t> on = GetRowInteger(kRowUpsStartupAfterDelay);
  shutdown = off ? *off : -2;
  startup = on ? *on : -2;
  return off && on ? 1 : 0;
}

// ---- battery test -----------------------------------------------------------------------------

int KT_SNMP::InitiateBatteryTest() {
  Diag() << "KT_SNMP::InitiateBatteryTest\n";
  const std::optional<std::string> spinOid = GetOidText(kRowUpsTestSpinLock);
  if (!spinOid) {
    Diag() << "KT_SNMP::InitiateBatteryTest() could not get TESTSPINLOCK MIB Entry!\n";
    Diag() << "ret from Get(TESTSPINLOCK) = " << -1 << kendl;
    return -1;
  }
  KT_SnmpValue value;
  const int got = Get(spinOid->c_str(), value);
  const std::optional<int32_t> spin = got == 1 ? SnmpInteger(value) : std::nullopt;
  if (!spin) {
    Diag() << "ret from Get(TESTSPINLOCK) = " << (got == 1 ? -1 : got) << kendl;
    return -1;
  }
  // upsTestSpinLock is advisory test-and-increment: the SET must carry the whole value read.
  const int32_t spinLock = *spin;
  Diag() << "TESTSPINLOCK value from GetValue = " << spinLock << kendl;

  const std::optional<std::string> idOid = GetOidText(kRowUpsTestId);
  if (!idOid) {
    Diag() << "KT_SNMP::InitiateBatteryTest() could not get TESTID MIB Entry!\n";
    return -1;
  }
  int manufacturer = 0;
  {
    auto lock = image_->Lock();
    manufacturer = image_->upsInfo.GetManufacturer();
  }
  const char* testId = manufacturer == kManufacturerHarvan ? kGeneralSystemsTestId : kQuickBatteryTestId;

  const std::vector<oid> spinName = ParseOidText(spinOid->c_str());
  if (spinName.empty()) {
    Diag() << "Invalid TESTSPINLOCK object identifier: " << *spinOid << kendl;
    return -1;
  }
  const std::vector<oid> idName = ParseOidText(idOid->c_str());
  if (idName.empty()) {
    Diag() << "Invalid TESTID object identifier: " << *idOid << kendl;
    return -1;
  }
  netsnmp_pdu* pdu = NewPdu(kSnmpSet);
  if (pdu == nullptr) return -1;
  const std::string spinText = std::to_string(spinLock);
  if (snmp_add_var(pdu, spinName.data(), spinName.size(), 'i', spinText.c_str()) != 0 ||
      snmp_add_var(pdu, idName.data(), idName.size(), 'o', testId) != 0) {
    snmp_free_pdu(pdu);
    return -1;
  }

  if (const std::optional<std::string> startOid = GetOidText(kRowUpsTestStartTime)) {
    KT_SnmpValue start;
    Get(startOid->c_str(), start);
  } else {
    Diag() << "KT_SNMP::InitiateBatteryTest() could not get TESTSTARTTIME MIB Entry!\n";
  }
  const time_t requestTime = static_cast<time_t>(platform::Now());

  netsnmp_pdu* response = nullptr;
  const int status = Transact(pdu, &response);
  int result = 0;
  if (status == STAT_TIMEOUT) {
    Diag() << "KT_SNMP::InitiateBatteryTest: No response from " << peer_.value_or("") << kendl;
  } else if (status != STAT_SUCCESS || response == nullptr) {
    Diag() << "KT_SNMP::InitiateBatteryTest: An error occurred, Quitting\n";
  } else if (response->errstat != SNMP_ERR_NOERROR) {
    if (response->errstat == SNMP_ERR_NOSUCHNAME) {
      const netsnmp_variable_list* v = response->variables;
      for (long i = 1; v != nullptr && i < response->errindex; ++i) v = v->next_variable;
      Diag() << "This name doesn't exist: "
             << (response->errindex >= 1 && v != nullptr && v->name_length <= kMaxOidLength ? OidToText(v->name, v->name_length) : "")
             << kendl;
    } else {
      Diag() << "KT_SNMP::InitiateBatteryTest: the adapter refused the test: "
             << snmp_errstring(static_cast<int>(response->errstat)) << kendl;
    }
  } else {
    test_spin_lock_ = spinLock;
    test_id_ = testId;
    test_request_time_ = requestTime;
    test_start_time_ = static_cast<time_t>(platform::Now());
    auto lock = image_->Lock();
    image_->upsStatus.SetAlarm(ALARM_BATTERY_TEST);
    result = 1;
  }
  if (response != nullptr) snmp_free_pdu(response);
  return result;
}

int KT_SNMP::UpdateBatteryTest() {
  Diag() << "KT_SNMP::UpdateBatteryTest\n";
  KT_SnmpValue value;
  const int got = GetRow(kRowUpsTestResultsSummary, value);
  const std::optional<int32_t> outcome = got == 1 ? SnmpInteger(value) : std::nullopt;
  if (!outcome) {
    // Nothing is known of the test: it is neither finished nor logged.
    Diag() << "KT_SNMP::UpdateBatteryTest: the test outcome cannot be read\n";
    return -1;
  }
  if (*outcome == kOutcomeInProgress) return agent_side_ ? 1 : kOutcomeInProgress - 1;

  uint8_t code = 0;
  switch (*outcome) {
    case kOutcomeDonePass: code = BATTERY_TEST_PASSED; break;
    case kOutcomeDoneWarning:
    case kOutcomeDoneError: code = BATTERY_TEST_FAILED; break;
    case kOutcomeAborted:
    case kOutcomeNoTests: code = BATTERY_TEST_NOT_PERFORMED; break;
    default: code = 0; break;
  }

  // Only a test this client started (and the adapter accepted) is logged, and only once.
  if (test_start_time_ != 0 && test_id_) {
    const time_t now = static_cast<time_t>(platform::Now());
    BatteryTestResult record;
    record.description = *test_id_;
    record.value = test_spin_lock_;
    record.number1 = static_cast<int32_t>(test_request_time_);
    record.resultCode = code;
    const int64_t elapsed = (static_cast<int64_t>(now) - test_start_time_) * 100;
    record.number2 = static_cast<int32_t>(std::clamp<int64_t>(elapsed, 0, INT32_MAX));
    image_->serial_queue.Delete(BLOCK_BATTERY_LOG, 0);
    auto lock = image_->Lock();
    image_->batteryLog.SetResult(record, static_cast<uint32_t>(test_start_time_), image_->upsInfo.GetManufacturer());
    image_->batteryLog.Branches().Touch(0);
    image_->batteryLog.Branches().Touch(1);
    image_->upsStatus.ClearAlarm(ALARM_BATTERY_TEST);
    test_start_time_ = 0;
    test_id_.reset();
  }

  if (agent_side_) return 0;
  return *outcome >= kOutcomeDonePass && *outcome <= kOutcomeNoTests ? *outcome - 1 : -1;
}


// ---- configuration texts ----------------------------------------------------------------------

int KT_SNMP::ReadDevicesAndLocation() {
  KT_SnmpValue value;
  if (Get(kSysLocationOid, value) == 1) {
    if (std::optional<std::string> text = SnmpText(value, static_cast<size_t>(GetMibRow(kRowSysLocation)->maxLength))) {
      auto lock = image_->Lock();
      image_->config.SetLocation(text->c_str());
    }
  }
  if (std::optional<std::string> text = GetRowText(kRowUpsIdentAttachedDevices)) {
    auto lock = image_->Lock();
    image_->config.SetPoweredDevices(text->c_str());
  }
  auto lock = image_->Lock();
  for (int branch = 0; branch <= 5; ++branch) image_->config.Branches().Touch(branch);
  return 1;
}

int KT_SNMP::WriteDevicesAndLocation() {
  std::string location;
  std::string devices;
  {
    auto lock = image_->Lock();
    location = image_->config.GetLocation().value_or("");
    devices = image_->config.GetPoweredDevices().value_or("");
  }
  const std::optional<std::string> devicesOid = GetOidText(kRowUpsIdentAttachedDevices);
  if (!devicesOid) return -1;
  KT_SnmpValue value;
  Set(kSysLocationOid, value, 's', location.c_str());
  return Set(devicesOid->c_str(), value, 's', devices.c_str());
}

int KT_SNMP::DelayedOff(int flag) {
  int delay = 0;
  if ((flag & 0xFF) == 0xFF) {
    auto lock = image_->Lock();
    delay = image_->config.GetOsShutdownTime();
  }
  return SetControlDelay(CONTROL_OFF_DELAY, delay);
}
