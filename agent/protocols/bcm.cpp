#include "agent/protocols/bcm.h"

#include <algorithm>
#include <string>

#include "core/base/ktdiag.h"
#include "core/base/maker_codes.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

namespace {

// Read capacities of the probe's status reply and of the resynchronisation's answer.
constexpr int kProbeReplyCapacity = 50;
constexpr int kResyncReplyCapacity = 300;
constexpr int kProbeRounds = 2;
constexpr int kResyncRounds = 2;
constexpr int kMenuReads = 3;
constexpr int kMenuKeyPauseMs = 1000;

// The battery test the agent starts: ten seconds.
constexpr uint8_t kBatteryTestSeconds = 10;

// Load control.
constexpr int32_t kFnLoadControl = 16;
constexpr int32_t kCodeDelayCut = 1;
constexpr int32_t kFnLocalTime = BCM_FN_HISTORY;
constexpr int kMaxWord = 0xFFFF;
constexpr int kMaxByte = 0xFF;
// The segment indicators of command 151 are one byte.
constexpr int kMaxSegmentIndex = 0xFF - kBcmSegmentDelayBase;

// Send errors.
constexpr int32_t kCodeEmptyRequest = 1;
constexpr int32_t kCodeNoReply = 4;

// Models that fall back into their service menu now and then.
bool FallsBackIntoMenu(int model) { return model == 11 || model == 12; }

// Seconds to minutes, a remainder of 30 s or more rounding up; 1 when that gives 0.
int RoundedMinutes(int seconds) {
  const int minutes = seconds / 60 + (seconds % 60 >= 30 ? 1 : 0);
  return minutes == 0 ? 1 : minutes;
}

// Seconds to whole minutes, never shorter than the seconds.
int MinutesNotBefore(int seconds) {
  const int minutes = seconds / 60 + (seconds % 60 != 0 ? 1 : 0);
  return minutes == 0 ? 1 : minutes;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

KT_BCM::KT_BCM(KT_SCP& scp) : KT_UpsProtocol(scp), decoder_(scp) {
  decoder_.onBatteryTestState = [this](uint8_t state) { return BatteryTestState(state); };
}

KT_BCM::~KT_BCM() = default;

std::unique_ptr<KT_UpsProtocol> MakeBcmProtocol(KT_SCP& scp) { return std::make_unique<KT_BCM>(scp); }

int KT_BCM::FailWith(int32_t function, int32_t code) { return Fail(ERR_BCM, function, code); }

// ---- sending and reading ----

int KT_BCM::SendRequest(const uint8_t* bytes, int count, int authorize) {
  if (bytes == nullptr || count <= 0 || count > static_cast<int>(kBcmMaxPayload)) {
    return FailWith(BCM_FN_SEND, kCodeEmptyRequest);
  }
  if (authorize) {
    const std::vector<uint8_t> auth = BuildBcmBlock(
        std::vector<uint8_t>(kBcmAuthorizationCode, kBcmAuthorizationCode + sizeof kBcmAuthorizationCode));
    if (Write(auth.data(), static_cast<int>(auth.size())) < 0) return -1;
    Pause(kAuthorizationPauseMs);
  }
  std::vector<uint8_t> frame;
  AppendBcmBlock(frame, bytes, static_cast<size_t>(count));
  return Write(frame.data(), static_cast<int>(frame.size())) < 0 ? -1 : 1;
}

int KT_BCM::ProcessBlock(KT_ReadRecord& record) {
  const std::vector<uint8_t>& bytes = record.data;
  size_t offset = 0;
  int result = 0;
  int decoded = 0;
  for (;;) {
    BcmReply reply;
    int error = 0;
    const int next = ParseBcmReply(bytes.data(), bytes.size(), offset, &reply, &error);
    if (next < 0) {
      // Bytes without a start byte after a complete reply are line noise, not a reply.
      if (decoded > 0 && (error == BCM_PARSE_NO_START || error == BCM_PARSE_TOO_SHORT) &&
          FindBcmStart(bytes.data(), bytes.size(), offset) == bytes.size()) {
        break;
      }
      protocol_error_.LogError(ERR_BCM, BCM_FN_PARSE, error, 0);
      Diag() << "Error = " << -error << kendl;
      int model;
      {
        auto lock = scp_.Lock();
        model = scp_.upsInfo.GetModelIndex();
      }
      if (!FallsBackIntoMenu(model) || resyncing_) return -1;
      const uint8_t quit = kMenuQuit;
      if (Write(&quit, 1) < 0) {
        Diag() << "ProcessBlock: Error Changing back into BCM (1)\n";
        return -1;
      }
      if (Resync() < 0) {
        Diag() << "ProcessBlock: Error Changing back into BCM (2)\n";
        return -1;
      }
      return kRepeatRequest;
    }
    result = decoder_.Decode(reply.type, reply.data);
    ++decoded;
    if (result < 0) Diag() << "Error = " << result << kendl;
    if (next == 0) break;
    offset = static_cast<size_t>(next);
  }
  return result;
}

int KT_BCM::RequestBlock(uint8_t request) { return RequestBlock(std::vector<uint8_t>{request}); }

int KT_BCM::RequestBlock(const std::vector<uint8_t>& request) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    DiscardInput();
    if (SendRequest(request.data(), static_cast<int>(request.size()), 0) < 0) return -1;
    KT_ReadRecord record;
    const int r = ReadBlock(record);
    if (r < 0) return -1;
    if (r == 0) return FailWith(BCM_FN_SEND, kCodeNoReply);
    const int p = ProcessBlock(record);
    if (p != kRepeatRequest) return p;
  }
  return -1;
}

int KT_BCM::SendCommand(const std::vector<uint8_t>& command) {
  if (command.empty()) return FailWith(BCM_FN_SEND, kCodeEmptyRequest);
  decoder_.ClearAck();
  for (int attempt = 0; attempt < 2; ++attempt) {
    DiscardInput();
    if (SendRequest(command.data(), static_cast<int>(command.size()), 1) < 0) return -1;
    KT_ReadRecord record;
    const int r = ReadBlock(record);
    if (r < 0) return -1;
    if (r == 0) return FailWith(BCM_FN_SEND, kCodeNoReply);
    if (ProcessBlock(record) != kRepeatRequest) break;
  }
  if (decoder_.ackCommand != command[0]) {
    Diag() << "KT_BCM: no acknowledgement of command " << static_cast<int>(command[0]) << kendl;
    return -1;
  }
  return BcmCommandAccepted(decoder_.ackResult) ? 1 : 0;
}

// ---- service menu and probe ----

int KT_BCM::MenuKey(uint8_t key) {
  if (Write(&key, 1) < 0) return -1;
  Pause(kMenuKeyPauseMs);
  const char* prompt = nullptr;
  if (key == kMenuInterrupt || key == '1' || key == '2') prompt = ">>>";
  if (key == 'l') prompt = ">+>";
  std::string text;
  for (int i = 0; i < kMenuReads; ++i) {
    KT_ReadRecord record;
    const int r = Read(record);
    if (r < 0) return -1;
    if (r == 0) return 0;
    text.append(record.data.begin(), record.data.end());
    Diag() << std::string(record.data.begin(), record.data.end());
    if (prompt == nullptr || Contains(text, prompt)) return 1;
  }
  return 0;
}

int KT_BCM::Resync() {
  resyncing_ = true;
  int result = -1;
  for (int round = 0; round < kResyncRounds && result < 0; ++round) {
    const uint8_t request = BCM_REQ_RESYNC;
    if (SendRequest(&request, 1, 1) < 0) break;
    Pause(kProbeWaitMs);
    KT_ReadRecord record;
    record.capacity = kResyncReplyCapacity;
    const int r = Read(record);
    if (r < 0) break;
    if (r == 0) {
      Diag() << "Nothing to read\n";
      continue;
    }
    Diag() << "Read " << static_cast<int>(record.data.size()) << " bytes\n";
    const int p = ProcessBlock(record);
    if (p >= 0) result = p;
  }
  resyncing_ = false;
  return result;
}

int KT_BCM::EnterBcm() {
  static constexpr uint8_t kWalk[] = {'2', 'l', '1', 'S'};
  bool walked = true;
  for (uint8_t key : kWalk) {
    if (MenuKey(key) != 1) {
      walked = false;
      break;
    }
  }
  if (!walked) {
    if (MenuKey(kMenuQuit) < 0) return -1;
  }
  return Resync() >= 0 ? 1 : -1;
}

int KT_BCM::Probe() {
  const int menu = MenuKey(kMenuInterrupt);
  if (menu < 0) return -1;
  if (menu > 0) {
    if (EnterBcm() == 1) return 1;
    Diag() << "Error Changing to BCM\n";
    return -1;
  }
  for (int round = 0; round < kProbeRounds; ++round) {
    DiscardInput();
    const uint8_t request = BCM_REQ_STATUS;
    if (SendRequest(&request, 1, 0) < 0) return -1;
    Pause(kProbeWaitMs);
    KT_ReadRecord record;
    record.capacity = kProbeReplyCapacity;
    const int r = Read(record);
    if (r < 0) return -1;
    if (r == 0) continue;
    BcmReply reply;
    int error = 0;
    if (ParseBcmReply(record.data.data(), record.data.size(), 0, &reply, &error) >= 0 &&
        reply.type == BCM_REPLY_STATUS) {
      return 1;
    }
  }
  return 0;
}

// ---- updates ----

int KT_BCM::UpdateStatus() {
  RequestBlock(BCM_REQ_STATUS);
  return RequestBlock(BCM_REQ_ALARMS);
}

int KT_BCM::UpdateInfo() {
  const int r = RequestBlock(BCM_REQ_IDENTIFICATION);
  if (r < 0) return r;
  if (decoder_.HasCapability(BCM_CAP_CONFIG_BLOCK) && RequestBlock(BCM_REQ_CONFIG) < 0) return -1;
  if (decoder_.HasCapability(BCM_CAP_RATING_BLOCK) && RequestBlock(BCM_REQ_RATINGS) < 0) return -1;
  return r;
}

int KT_BCM::UpdateMeter() { return RequestBlock(BCM_REQ_METERS); }

int KT_BCM::UpdateAlarmQueue() { return RequestBlock(BCM_REQ_ALARM_HISTORY); }

int KT_BCM::UpdateConfig() {
  if (decoder_.HasCapability(BCM_CAP_RATING_BLOCK)) return RequestBlock(BCM_REQ_RATINGS);
  auto lock = scp_.Lock();
  scp_.upsInfo.ClearFunctionSupported(2, 3);
  scp_.config.Branches().Touch(3);
  return 1;
}

int KT_BCM::SetConfig() {
  if (!decoder_.HasCapability(BCM_CAP_SET_CONFIG)) return 0;
  int audible;
  int warning;
  {
    auto lock = scp_.Lock();
    audible = scp_.config.GetAudibleAlarm();
    warning = scp_.config.GetLowBatteryWarning();
  }
  int sent = 0;
  bool failed = false;
  if (audible != kConfigUnset8) {
    ++sent;
    failed = SendCommand({BCM_CMD_SET_CONFIG, kBcmConfigAudibleAlarm, static_cast<uint8_t>(audible), 0}) != 1 || failed;
  }
  if (warning != kConfigUnset8) {
    ++sent;
    failed = SendCommand({BCM_CMD_SET_CONFIG, kBcmConfigLowBatteryWarning, static_cast<uint8_t>(warning), 0}) != 1 || failed;
  }
  if (sent == 0) return 0;
  return failed ? -1 : 1;
}

int KT_BCM::UpdateWaveform(int kind, int flag) {
  uint8_t code;
  switch (kind) {
    case 1: code = 2; break;
    case 2: code = 1; break;
    case 3: code = 8; break;
    default: return -1;  // no wave of that kind
  }
  return RequestBlock({BCM_REQ_WAVEFORM, code, static_cast<uint8_t>(flag), 0, 0, 64, 0});
}

// ---- battery test ----

int KT_BCM::InitiateBatteryTest() {
  if (!decoder_.HasCapability(BCM_CAP_BATTERY_TEST)) return 0;
  const int r = SendCommand({BCM_CMD_BATTERY_TEST, 0, kBatteryTestSeconds});
  if (r > 0) BeginBatteryTest(kBatteryTestName);
  return r;
}

int KT_BCM::UpdateBatteryTest() {
  if (!decoder_.HasCapability(BCM_CAP_BATTERY_TEST)) return 0;
  return RequestBlock(BCM_REQ_BATTERY_TEST);
}

int KT_BCM::BatteryTestState(uint8_t state) {
  SetBatteryTestState(state);
  if (state == 1) return 1;  // still running
  scp_.serial_queue.Delete(BLOCK_BATTERY_LOG, 0);
  if (state > 1 && RunningBatteryTest() != nullptr) AddBatteryTestResult(state, platform::Now(), 0);
  FinishBatteryTest();
  return 1;
}

// ---- capabilities ----

int KT_BCM::UpdateCapabilities() {
  {
    auto lock = scp_.Lock();
    DefaultCapabilitiesLocked();
    SetEvent(24);
    static constexpr int kFunctions[][2] = {{2, 1}, {2, 2}, {2, 4}, {2, 7}, {3, 2}};
    for (const auto& f : kFunctions) SetFunction(f[0], f[1]);
    for (int e : {0, 1, 6, 7, 8, 9, 12, 13}) SetEvent(e);
    const int model = scp_.upsInfo.GetModelIndex();
    auto shutdownSet = [&] {
      SetFunction(3, 0);
      SetEvent(27);
      SetEvent(28);
      SetFunction(3, 1);
      SetEvent(21);
    };
    auto powerEvents = [&] {
      ClearEvent(8);
      ClearEvent(9);
      for (int e : {29, 30, 31, 32}) SetEvent(e);
    };
    switch (model) {
      case 2:
      case 7:
        SetFunction(2, 5);
        SetFunction(1, 0);
        SetFunction(3, 1);
        SetEvent(21);
        break;
      case 20:
        SetFunction(1, 0);
        SetFunction(3, 1);
        SetEvent(21);
        break;
      case 1:
      case 6:
      case 17:
        shutdownSet();
        SetFunction(2, 6);
        SetFunction(2, 3);
        break;
      case 11:
      case 12:
        shutdownSet();
        SetFunction(3, 3);
        break;
      case 13:
      case 16:
        SetFunction(3, 3);
        break;
      case 3:
      case 10:
      case 15:
      case 19:
      case 21:
        shutdownSet();
        SetFunction(3, 3);
        powerEvents();
        break;
      case 18:
        SetFunction(3, 1);
        SetEvent(21);
        SetFunction(3, 3);
        powerEvents();
        break;
      default: break;
    }
    if (model == 6) SetFunction(3, 3);
    if (model == 1 || model == 17 || model == 18 || model == 21 || model == 22 || model == 23 || model == 24) {
      const int va = scp_.upsInfo.GetVARating();
      const int major = scp_.upsInfo.GetVersionMajor();
      const int minor = scp_.upsInfo.GetVersionMinor();
      const bool knownVersion = major != 255 && minor != 255;
      if (va > 3000 && knownVersion && (major >= 2 || minor >= 5)) {
        SetFunction(3, 3);
      } else {
        SetFunction(1, 0);
      }
    }
    if (scp_.upsInfo.IsFunctionSupported(3, 3) == 1) {
      decoder_.capabilities |= BCM_CAP_DELAYED_OFF_WORD;
    } else if (scp_.upsInfo.IsFunctionSupported(1, 0) == 1) {
      decoder_.capabilities |= BCM_CAP_DELAYED_OFF;
    }
  }
  int segments = 1;
  if (RequestBlock(BCM_REQ_SUPPORTED_COMMANDS) > 0 && decoder_.IsCommandSupported(BCM_REQ_LOAD_SEGMENTS) &&
      RequestBlock(BCM_REQ_LOAD_SEGMENTS) > 0) {
    segments = decoder_.segments;
  }
  SetSegmentCount(segments);
  auto lock = scp_.Lock();
  scp_.receptacles.SetCount(segments);
  if (segments >= 2 && segments <= 254) SetFunction(3, 7);
  return 1;
}

// ---- load control ----

void KT_BCM::DelayCut(const char* form, int seconds, int sent) {
  Diag() << "KT_BCM::LoadControl: " << form << " holds at most " << sent << ", not " << seconds
         << "; the UPS gets " << sent << kendl;
  protocol_error_.LogError(ERR_BCM, kFnLoadControl, kCodeDelayCut, seconds);
}

int KT_BCM::DateCommand(uint8_t command, int seconds) {
  // The UPS counts in whole minutes: the moment is rounded up to the next one, so that an
  // off never comes early.
  int64_t when = platform::Now() + seconds;
  if (command == BCM_CMD_OFF_AT_TIME && when % 60 != 0) when += 60 - when % 60;
  uint8_t date[6];
  if (!BcmLocalDate(when, date)) return FailWith(kFnLocalTime, 1);
  std::vector<uint8_t> bytes(1 + sizeof date);
  bytes[0] = command;
  std::copy(date, date + sizeof date, bytes.begin() + 1);
  return SendCommand(bytes);
}

int KT_BCM::SwitchWholeUps(bool on, int seconds) {
  if (decoder_.HasCapability(BCM_CAP_MINUTE_TIMERS)) {
    int minutes = on ? RoundedMinutes(seconds) : MinutesNotBefore(seconds);
    if (minutes > kMaxWord) {
      DelayCut(on ? "command 145" : "command 147", minutes, kMaxWord);
      minutes = kMaxWord;
    }
    return SendCommand({on ? BCM_CMD_ON_AFTER_MINUTES : BCM_CMD_OFF_AFTER_MINUTES,
                        static_cast<uint8_t>(minutes & 0xFF), static_cast<uint8_t>(minutes >> 8)});
  }
  return DateCommand(on ? BCM_CMD_ON_AT_TIME : BCM_CMD_OFF_AT_TIME, seconds);
}

int KT_BCM::DelayedOffWholeUps(int seconds) {
  const uint32_t caps = decoder_.capabilities;
  if ((caps & (BCM_CAP_DELAYED_OFF | BCM_CAP_DELAYED_OFF_WORD)) == 0) return 0;
  if (caps & BCM_CAP_DELAYED_OFF_WORD) {
    int delay = seconds;
    if (delay > kMaxWord) {
      DelayCut("command 138", seconds, kMaxWord);
      delay = kMaxWord;
    }
    return SendCommand({BCM_CMD_DELAYED_OFF, static_cast<uint8_t>(delay & 0xFF), static_cast<uint8_t>(delay >> 8)});
  }
  if (seconds <= kMaxByte) return SendCommand({BCM_CMD_DELAYED_OFF, static_cast<uint8_t>(seconds)});
  // The one-byte form cannot carry the delay: a form in minutes or at a time can.
  if (caps & BCM_CAP_MINUTE_TIMERS) {
    Diag() << "KT_BCM::LoadControl: delayed off of " << seconds << " s sent as command 147\n";
    return SwitchWholeUps(false, seconds);
  }
  if (caps & BCM_CAP_DATE_TIMERS) {
    Diag() << "KT_BCM::LoadControl: delayed off of " << seconds << " s sent as command 148\n";
    return DateCommand(BCM_CMD_OFF_AT_TIME, seconds);
  }
  DelayCut("command 138", seconds, kMaxByte);
  return SendCommand({BCM_CMD_DELAYED_OFF, static_cast<uint8_t>(kMaxByte)});
}

int KT_BCM::LoadControl(int kind, int segment, int seconds) {
  if (seconds < 0) seconds = 0;
  const bool whole = segment == kAllSegments;
  if (!whole && (segment < 0 || segment > kMaxSegmentIndex)) return -1;
  auto segmentCommand = [&](uint8_t sub, uint8_t indicator, int value) {
    if (value > kMaxWord) {
      DelayCut("command 151", value, kMaxWord);
      value = kMaxWord;
    }
    return SendCommand({BCM_CMD_SEGMENT_PARAMETER, sub, indicator, static_cast<uint8_t>(value & 0xFF),
                        static_cast<uint8_t>(value >> 8)});
  };
  switch (kind) {
    case kOutputOffAfterDelay:
    case kOutputOnAfterDelay:
    case kOutputOnAfterDelay2: {
      const bool on = kind != kOutputOffAfterDelay;
      if (whole) return SwitchWholeUps(on, seconds);
      // Less than half a minute counts as one second.
      const int delay = seconds < 30 ? 1 : seconds;
      return segmentCommand(on ? kBcmSegmentOn : kBcmSegmentOff,
                            static_cast<uint8_t>(segment + kBcmSegmentSwitchBase), delay);
    }
    case kOutputOffAfterOs: {
      if (seconds < 1) seconds = 1;
      if (whole) return DelayedOffWholeUps(seconds);
      return segmentCommand(kBcmSegmentOff, static_cast<uint8_t>(segment + kBcmSegmentSwitchBase), seconds);
    }
    case kSegmentRestartDelay: {
      if (!whole) return segmentCommand(kBcmSegmentRestartDelay, static_cast<uint8_t>(segment + kBcmSegmentDelayBase), seconds);
      const int count = std::min(GetSegmentCount(), kMaxSegmentIndex + 1);
      if (count <= 1) return 1;
      int result = 1;
      for (int s = 0; s < count; ++s) {
        const int r = segmentCommand(kBcmSegmentRestartDelay, static_cast<uint8_t>(s + kBcmSegmentDelayBase), seconds);
        if (r < result) result = r;
      }
      return result;
    }
    default: return -1;
  }
}

int KT_BCM::SegmentOnNow(int segment) {
  if (segment == kAllSegments) return 0;
  return LoadControl(kOutputOnAfterDelay2, segment, 0);
}
