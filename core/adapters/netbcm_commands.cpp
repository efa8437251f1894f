// KT_NetBCM: the commands -- sleep mode, delayed off and on, the configuration settings and
// the battery test.
#include <algorithm>
#include <climits>

#include "core/base/ktdiag.h"
#include "core/adapters/netbcm.h"
#include "core/scp/scp.h"
#include "core/base/ups_identification.h"
#include "platform/clock.h"

namespace {

enum NetBcmCommandFunction : int32_t {
  NETBCM_FN_COMMAND = 9,
  NETBCM_FN_BATTERY_TEST = 10,
};
constexpr int32_t kCodeBadSegment = 2;
constexpr int32_t kCodeNoLocalTime = 1;

// Seconds the delay fields of the commands can carry.
constexpr int kOneByteDelay = 255;
constexpr int kTwoByteDelay = 65535;
// Seconds after its start at which a battery test whose result never comes is given up.
constexpr int64_t kBatteryTestGiveUp = 300;

// The tests a driver starts, by manufacturer code (1 the general systems test).
constexpr int kGeneralSystemsManufacturer = 1;
constexpr const char* kGeneralSystemsTestId = "33.1.7.7.3";
constexpr const char* kQuickBatteryTestId = "33.1.7.7.4";

uint8_t Low(int v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t High(int v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }

// The date bytes of an at-a-moment command for `when` in local time (core/adapters/bcm_block.h),
// appended to `out`. False when the local time cannot be had.
bool DateBytes(int64_t when, std::vector<uint8_t>& out) {
  uint8_t date[6];
  if (!BcmLocalDate(when, date)) return false;
  out.insert(out.end(), date, date + 6);
  return true;
}

// The first whole minute at or after `when`.
int64_t NextWholeMinute(int64_t when) { return when + (60 - when % 60) % 60; }

}  // namespace

int KT_NetBCM::SegmentIndicator(int load) const {
  if (load == kWholeUps) return kNetBcmUpsIndicator;
  const int indicator = load + first_segment_;
  return (load < 0 || indicator < 1 || indicator > 255) ? -1 : indicator;
}

// ---- sleep mode -----------------------------------------------------------------------------

int KT_NetBCM::BCMSleepMode(int onOff, int load, int seconds) {
  Diag() << "KT_BCMBase::BCMSleepMode: command = " << onOff << kendl;
  if (onOff != TIMED_ON && onOff != TIMED_OFF) return -1;
  const bool on = onOff == TIMED_ON;
  const int indicator = SegmentIndicator(load);
  if (indicator < 0) {
    Diag() << "KT_NetBCM::BCMSleepMode: no load segment " << load << kendl;
    LogError(ERR_BCM, NETBCM_FN_COMMAND, kCodeBadSegment, load);
    return -1;
  }
  // Whole minutes, rounded to the nearest one -- except that an off never comes before the
  // delay asked for (the system may still be shutting down): its minutes round up, so that
  // 20 s never become "Immediate Off" and 89 s never 60 s.
  const int minutes = std::min(seconds == -1  ? 0
                               : !on && seconds > 0 ? static_cast<int>((static_cast<int64_t>(seconds) + 59) / 60)
                                                    : RoundToMinutes(seconds),
                               kTwoByteDelay);
  const bool oldAdapter = !IsNewAdapter();
  int model;
  {
    auto lock = scp_->Lock();
    model = scp_->upsInfo.GetModelIndex();
  }
  std::vector<uint8_t> request;
  if (oldAdapter && load != kWholeUps && model != 3 && model != 10) {
    // The segment-parameter command counts its delay in seconds (as in the delayed off and
    // the restart delay): minutes here would switch the segment 60 times too early.
    const uint8_t sub = on ? kBcmSegmentOn : kBcmSegmentOff;
    const int delay = seconds == -1 ? 0 : std::clamp(seconds, 0, kTwoByteDelay);
    request = CommandRequest(static_cast<uint8_t>(indicator),
                             {{BCM_CMD_SEGMENT_PARAMETER, sub, static_cast<uint8_t>(indicator), Low(delay), High(delay)}});
  } else {
    // A new adapter addresses one segment inside the command, behind select 1.
    const bool inside = !oldAdapter && load != kWholeUps;
    const uint8_t select = inside ? kNetBcmUpsIndicator : static_cast<uint8_t>(indicator);
    std::vector<std::vector<uint8_t>> payloads;
    if (IsCommandSupported(BCM_CMD_ON_AFTER_MINUTES)) {
      if (minutes == 0) {
        payloads.push_back({on ? BCM_CMD_IMMEDIATE_ON : BCM_CMD_IMMEDIATE_OFF});
      } else {
        payloads.push_back({on ? BCM_CMD_ON_AFTER_MINUTES : BCM_CMD_OFF_AFTER_MINUTES, Low(minutes), High(minutes)});
      }
    } else {
      payloads.push_back({on ? BCM_CMD_ON_AFTER_MINUTES : BCM_CMD_OFF_AFTER_MINUTES, Low(minutes), High(minutes)});
      std::vector<uint8_t> moment{on ? BCM_CMD_ON_AT_TIME : BCM_CMD_OFF_AT_TIME};
      int64_t when = platform::Now() + std::max(seconds, 0);
      // The moment has whole minutes: an off goes to the next one at or after the delay
      // rather than back to the minute already begun.
      if (!on && seconds > 0) when = NextWholeMinute(when);
      if (!DateBytes(when, moment)) {
        LogError(ERR_BCM, NETBCM_FN_COMMAND, kCodeNoLocalTime, 0);
        return -1;
      }
      payloads.push_back(std::move(moment));
    }
    if (inside) {
      for (auto& p : payloads) p.push_back(static_cast<uint8_t>(indicator));
    }
    request = CommandRequest(select, payloads);
  }
  const int code = Command(request, 3, 3);
  LogResult(std::string("KT_NetBCM::BCMSleepMode(") + (on ? "TIMED_ON" : "TIMED_OFF") + ",shut=" +
                std::to_string(seconds) + ", load=" + std::to_string(load) + ") ",
            code);
  return CommandResult(code);
}

// ---- delayed off ----------------------------------------------------------------------------

int KT_NetBCM::BCMDelayedOff(int load, int seconds) {
  if (seconds <= 0) seconds = 1;
  if (seconds > kTwoByteDelay) {
    Diag() << "KT_NetBCM::BCMDelayedOff: " << seconds << " s cut to " << kTwoByteDelay << " s" << kendl;
    seconds = kTwoByteDelay;
  }
  return load == kWholeUps ? DelayedOffWholeUps(seconds) : DelayedOffSegment(load, seconds);
}

int KT_NetBCM::DelayedOffWholeUps(int seconds) {
  if (!IsCommandSupported(BCM_CMD_DELAYED_OFF)) {
    Diag() << "KT_NetBCM::BCMDelayedOff: the UPS takes no delayed off\n";
    return 0;
  }
  std::vector<uint8_t> payload;
  int sent = seconds;
  if (capabilities_ & NETBCM_CAP_TWO_BYTE_DELAY) {
    payload = {BCM_CMD_DELAYED_OFF, Low(seconds), High(seconds)};
  } else if (seconds <= kOneByteDelay) {
    payload = {BCM_CMD_DELAYED_OFF, Low(seconds)};
  } else if (IsCommandSupported(BCM_CMD_OFF_AFTER_MINUTES)) {
    // One byte cannot hold the delay: whole minutes, rounded up so that the output never goes
    // off before the delay asked for.
    const int minutes = (seconds + 59) / 60;
    Diag() << "KT_NetBCM::BCMDelayedOff: " << seconds << " s do not fit one byte; off after " << minutes
           << " minutes" << kendl;
    payload = {BCM_CMD_OFF_AFTER_MINUTES, Low(minutes), High(minutes)};
    sent = minutes * 60;
  } else if (IsCommandSupported(BCM_CMD_OFF_AT_TIME)) {
    const int64_t when = NextWholeMinute(platform::Now() + seconds);
    payload = {BCM_CMD_OFF_AT_TIME};
    if (!DateBytes(when, payload)) {
      LogError(ERR_BCM, NETBCM_FN_COMMAND, kCodeNoLocalTime, 0);
      return -1;
    }
    Diag() << "KT_NetBCM::BCMDelayedOff: " << seconds << " s do not fit one byte; off at a moment" << kendl;
  } else {
    Diag() << "KT_NetBCM::BCMDelayedOff: " << seconds << " s do not fit one byte and the UPS takes no longer form;"
           << " cut to " << kOneByteDelay << " s" << kendl;
    payload = {BCM_CMD_DELAYED_OFF, static_cast<uint8_t>(kOneByteDelay)};
    sent = kOneByteDelay;
  }
  const int code = Command(CommandRequest(kNetBcmUpsIndicator, {payload}), 0, 0);
  LogResult("KT_NetBCM::BCMDelayedOff(BCM_DELAYED_REBOOT,shut=" + std::to_string(sent) + ") ", code);
  return CommandResult(code);
}

int KT_NetBCM::DelayedOffSegment(int load, int seconds) {
  const int indicator = SegmentIndicator(load);
  if (indicator < 0) {
    Diag() << "KT_NetBCM::BCMDelayedOff: no load segment " << load << kendl;
    LogError(ERR_BCM, NETBCM_FN_COMMAND, kCodeBadSegment, load);
    return -1;
  }
  const uint8_t ind = static_cast<uint8_t>(indicator);
  std::vector<uint8_t> request;
  int sent = seconds;
  const std::vector<uint8_t> parameterForm{BCM_CMD_SEGMENT_PARAMETER, kBcmSegmentOff, ind, Low(seconds), High(seconds)};
  if (!IsNewAdapter()) {
    request = CommandRequest(ind, {parameterForm});
  } else if (capabilities_ & NETBCM_CAP_TWO_BYTE_DELAY) {
    request = CommandRequest(kNetBcmUpsIndicator, {{BCM_CMD_DELAYED_OFF, Low(seconds), High(seconds), ind}});
  } else if (seconds <= kOneByteDelay) {
    request = CommandRequest(kNetBcmUpsIndicator, {{BCM_CMD_DELAYED_OFF, Low(seconds), ind}});
  } else if (IsListedCommand(BCM_CMD_SEGMENT_PARAMETER)) {
    Diag() << "KT_NetBCM::BCMDelayedOff: " << seconds << " s do not fit one byte; sent as a segment parameter"
           << kendl;
    request = CommandRequest(kNetBcmUpsIndicator, {parameterForm});
  } else {
    Diag() << "KT_NetBCM::BCMDelayedOff: " << seconds << " s do not fit one byte and the adapter takes no longer form;"
           << " cut to " << kOneByteDelay << " s" << kendl;
    request = CommandRequest(kNetBcmUpsIndicator, {{BCM_CMD_DELAYED_OFF, static_cast<uint8_t>(kOneByteDelay), ind}});
    sent = kOneByteDelay;
  }
  const int code = Command(request, 0, 0);
  LogResult("KT_NetBCM::BCMDelayedOff(BCM_SET_OUTLET_PARM_COMMAND,shut=" + std::to_string(sent) + ", load=" +
                std::to_string(load) + ") ",
            code);
  return CommandResult(code);
}

// ---- delayed on -----------------------------------------------------------------------------

int KT_NetBCM::BCMDelayedOn(int load, int seconds) {
  const int delay = std::clamp(seconds, 0, kTwoByteDelay);
  std::vector<int> indicators;
  if (load == kEverySegment || load == kWholeUps) {
    int count;
    {
      auto lock = scp_->Lock();
      count = scp_->receptacles.GetCount();
    }
    if (count <= 1) return 1;  // one output: no segment has a restart delay of its own
    for (int i = 0; i < count; ++i) {
      const int indicator = first_segment_ + i;
      if (indicator >= 1 && indicator <= 255) indicators.push_back(indicator);
    }
  } else {
    const int indicator = SegmentIndicator(load);
    if (indicator < 0) {
      Diag() << "KT_NetBCM::BCMDelayedOn: no load segment " << load << kendl;
      LogError(ERR_BCM, NETBCM_FN_COMMAND, kCodeBadSegment, load);
      return -1;
    }
    indicators.push_back(indicator);
  }
  int result = 0;
  for (int indicator : indicators) {
    const uint8_t ind = static_cast<uint8_t>(indicator);
    const int code = Command(
        CommandRequest(kNetBcmUpsIndicator,
                       {{BCM_CMD_SEGMENT_PARAMETER, kBcmSegmentRestartDelay, ind, Low(delay), High(delay)}}),
        3, 3);
    LogResult("KT_NetBCM::BCMDelayedOn(shut=" + std::to_string(delay) + ", load=" + std::to_string(indicator) + ") ",
              code);
    result = CommandResult(code);
  }
  return result;
}

// ---- configuration settings -----------------------------------------------------------------

int KT_NetBCM::SendConfigSettings() {
  if (!IsCommandSupported(BCM_CMD_SET_CONFIG)) return 0;
  uint8_t audible;
  uint8_t warning;
  {
    auto lock = scp_->Lock();
    audible = scp_->config.GetAudibleAlarm();
    warning = scp_->config.GetLowBatteryWarning();
  }
  int result = 1;
  const std::pair<uint8_t, uint8_t> settings[] = {{kBcmConfigAudibleAlarm, audible},
                                                  {kBcmConfigLowBatteryWarning, warning}};
  for (const auto& [which, value] : settings) {
    if (value == kConfigUnset8) continue;  // never set: nothing to tell the UPS
    const int code = Command(CommandRequest(kNetBcmUpsIndicator, {{BCM_CMD_SET_CONFIG, which, value, 0}}), 0, 3);
    LogResult("Tremona: UPS Set Configuration Parameters - ", code);
    if (CommandResult(code) != 1) result = 0;
  }
  return result;
}

// ---- battery test ---------------------------------------------------------------------------

int KT_NetBCM::InitiateBatteryTest() {
  int code = BCM_ACK_NOT_RESPONDED;
  if (!IsCommandSupported(BCM_CMD_BATTERY_TEST)) {
    Diag() << "Tremona: UPS/Agent is not capable of Battery Test\n";
  } else {
    code = Command(CommandRequest(kNetBcmUpsIndicator,
                                  {{BCM_CMD_BATTERY_TEST, kNetBcmBatteryTestKind, kNetBcmBatteryTestSeconds}}),
                   10, 2);
    LogResult("Tremona: UPS Battery Test - ", code);
  }
  auto lock = scp_->Lock();
  if (CommandResult(code) != 1) {
    // No test runs: the status polls that wait for its end may go on.
    scp_->upsStatus.ClearAlarm(ALARM_BATTERY_TEST);
    return 0;
  }
  test_id_ = scp_->upsInfo.GetManufacturer() == kGeneralSystemsManufacturer ? kGeneralSystemsTestId : kQuickBatteryTestId;
  ++test_count_;
  test_request_time_ = test_start_time_ = platform::Now();
  return 1;
}

int KT_NetBCM::UpdateBatteryTest() {
  if (!IsCommandSupported(11)) {
    if (test_id_) {
      // The UPS no longer tests (identified anew): the test this driver started is over.
      test_id_.reset();
      auto lock = scp_->Lock();
      scp_->upsStatus.ClearAlarm(ALARM_BATTERY_TEST);
    }
    return 0;
  }
  std::vector<uint8_t> data;
  const int64_t now = platform::Now();
  if (Exchange(Query(NETBCM_QUERY_BATTERY_TEST, true), BCM_REPLY_BATTERY_TEST, 5, 2, 10, &data) < 0 || data.empty()) {
    // No answer yet: asked again next round -- but not for ever, since the status polls wait
    // while the test is on.
    if (!test_id_ || now - test_start_time_ <= kBatteryTestGiveUp) return 1;
    Diag() << "Tremona: no battery test result from the adapter; the test is given up\n";
    test_id_.reset();
    auto lock = scp_->Lock();
    scp_->upsStatus.ClearAlarm(ALARM_BATTERY_TEST);
    return 0;
  }
  const uint8_t state = data[0];
  if (state == 1) return 1;
  auto lock = scp_->Lock();
  if (state > 1 && test_id_) {
    BatteryTestResult record;
    record.description = *test_id_;
    record.value = test_count_;
    record.resultCode = state;
    record.number1 = static_cast<int32_t>(test_request_time_);
    record.number2 = static_cast<int32_t>(std::clamp<int64_t>((now - test_start_time_) * 100, 0, INT32_MAX));
    scp_->batteryLog.SetResult(record, static_cast<uint32_t>(test_start_time_), scp_->upsInfo.GetManufacturer());
    test_id_.reset();
  }
  scp_->batteryLog.Branches().Touch(0);
  scp_->batteryLog.Branches().Touch(1);
  scp_->upsStatus.ClearAlarm(ALARM_BATTERY_TEST);
  return 0;
}
