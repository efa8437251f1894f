#include "agent/protocols/harvan.h"

#include <algorithm>
#include <cstdio>

#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

namespace {

constexpr const char* kLeadIn = "\r\r";
constexpr int kLoadAttempts = 3;
constexpr int kShutdownAttempts = 3;
// The second delay of the text shutdown sequence.
constexpr int kSecondDelay = 5;
// "UPSD" and "UPCD" carry three digits.
constexpr int kMaxTextDelay = 999;
constexpr int kMaxWord = 0xFFFF;
constexpr size_t kSegmentReplyCapacity = 5;

constexpr int32_t kFnLoadControl = 8;
constexpr int32_t kCodeDelayCut = 1;
constexpr int32_t kCodeEmptyRequest = 1;
constexpr int32_t kCodeNoReply = 4;

int RoundedMinutes(int seconds) { return seconds / 60 + (seconds % 60 >= 30 ? 1 : 0); }

bool Contains(const KT_ReadRecord& record, const char* text) {
  const std::string s(record.data.begin(), record.data.end());
  return s.find(text) != std::string::npos;
}

}  // namespace

KT_Harvan::KT_Harvan(KT_SCP& scp) : KT_UpsProtocol(scp), decoder_(scp) {}

KT_Harvan::~KT_Harvan() = default;

std::unique_ptr<KT_UpsProtocol> MakeHarvanProtocol(KT_SCP& scp) { return std::make_unique<KT_Harvan>(scp); }

// ---- requests ----

int KT_Harvan::SendRequest(const uint8_t* bytes, int count, int) {
  if (bytes == nullptr || count <= 0) return Fail(ERR_HARVAN, HARVAN_FN_SEND, kCodeEmptyRequest);
  if (Write(kLeadIn, 2) < 0) return -1;
  return Write(bytes, count) < 0 ? -1 : 1;
}

int KT_Harvan::ProcessBlock(KT_ReadRecord& record) { return decoder_.Process(record.data); }

int KT_Harvan::ReadReply(KT_ReadRecord& record) {
  const int r = ReadBlock(record);
  if (r == 0) return Fail(ERR_HARVAN, HARVAN_FN_SEND, kCodeNoReply);
  return r;
}

int KT_Harvan::Request(const std::string& text) {
  DiscardInput();
  if (SendRequest(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), 0) < 0) return -1;
  KT_ReadRecord record;
  if (ReadReply(record) < 0) return -1;
  return ProcessBlock(record);
}

int KT_Harvan::Probe() {
  static const std::string kTypePlate = kHarvanCommands[HARVAN_UPTP];
  for (int round = 0; round < kProbeRounds; ++round) {
    DiscardInput();
    if (SendRequest(reinterpret_cast<const uint8_t*>(kTypePlate.data()), static_cast<int>(kTypePlate.size()), 0) < 0) {
      return -1;
    }
    KT_ReadRecord record;
    record.capacity = kProbeReplyCapacity;
    const int r = ReadBlock(record);
    if (r < 0) return -1;
    if (r == 0) continue;
    const int p = ProcessBlock(record);
    if (p != 0) return p;
  }
  return 0;
}

int KT_Harvan::UpdateStatus() { return Request("UPSS\r"); }

int KT_Harvan::UpdateMeter() {
  DiscardInput();
  const std::string text = kHarvanCommands[HARVAN_UPDS];
  if (SendRequest(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), 0) < 0) return -1;
  Pause(kMeterWaitMs);
  KT_ReadRecord record;
  if (ReadReply(record) < 0) return -1;
  return ProcessBlock(record);
}

int KT_Harvan::UpdateInfo() {
  int result = 1;
  // The serial number: the command, then its argument as a second write.
  DiscardInput();
  const uint8_t serial[] = {'U', 'P', 'S', 'N', '\r'};
  if (SendRequest(serial, sizeof serial, 0) < 0 || Write("0\r", 2) < 0) return -1;
  KT_ReadRecord record;
  int r = ReadReply(record);
  if (r > 0) r = ProcessBlock(record);
  result = std::min(result, r);
  result = std::min(result, Request(kHarvanCommands[HARVAN_UPTP]));
  result = std::min(result, UpdateMeter());
  result = std::min(result, Request(kHarvanCommands[HARVAN_UPDV]));
  return result < 0 ? -1 : 1;
}

int KT_Harvan::UpdateConfig() { return -1; }
int KT_Harvan::SetConfig() { return 1; }
int KT_Harvan::UpdateAlarmQueue() { return 1; }

// ---- battery test ----

int KT_Harvan::InitiateBatteryTest() {
  int model;
  {
    auto lock = scp_.Lock();
    model = scp_.upsInfo.GetModelIndex();
  }
  DiscardInput();
  int r;
  if (model == kUpbtModel) {
    const uint8_t text[] = {'U', 'P', 'B', 'T', 1, '\r'};
    r = SendRequest(text, sizeof text, 0);
  } else {
    const std::string text = kHarvanCommands[HARVAN_UPIS];
    r = SendRequest(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), 0);
  }
  BeginBatteryTest(kSystemsTestName);
  return r;
}

int KT_Harvan::UpdateBatteryTest() {
  int state;
  {
    auto lock = scp_.Lock();
    StatusBlock& s = scp_.upsStatus;
    if (s.IsAlarmSet(ALARM_ON_BATTERY) == 1 || s.IsAlarmSet(ALARM_OVERLOAD) == 1) {
      state = BATTERY_TEST_NOT_PERFORMED;
    } else if (platform::Now() - GetBatteryTestStart() < kTestSeconds) {
      return 1;  // still running
    } else if (s.IsAlarmSet(ALARM_BAD_BATTERY) == 1 || s.IsAlarmSet(ALARM_UPS_MALFUNCTION) == 1) {
      state = BATTERY_TEST_FAILED;
    } else {
      state = BATTERY_TEST_PASSED;
    }
  }
  SetBatteryTestState(static_cast<uint8_t>(state));
  scp_.serial_queue.Delete(BLOCK_BATTERY_LOG, 0);
  if (RunningBatteryTest() == nullptr) return -1;
  AddBatteryTestResult(state, platform::Now(), kGeneralSystemsTest);
  FinishBatteryTest();
  return 1;
}

// ---- capabilities ----

int KT_Harvan::UpdateCapabilities() {
  DiscardInput();
  const std::string text = kHarvanCommands[HARVAN_UPCL];
  if (SendRequest(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), 0) < 0) {
    return Fail(ERR_HARVAN, HARVAN_FN_CAPABILITIES, 1);
  }
  KT_ReadRecord record;
  const int r = ReadBlock(record);
  Diag() << "After read data in Harvan Capabilities - ret = " << r << kendl;
  marks_ = r > 0 ? HarvanReplyDecoder::MarkCapabilities(record.data.data(), record.data.size())
                 : std::array<bool, kHarvanCommandCount>{};
  {
    auto lock = scp_.Lock();
    if (marks_[HARVAN_UPBT] || marks_[HARVAN_UPIS]) {
      SetEvent(27);
      SetEvent(28);
      SetFunction(3, 0);
    }
    if (marks_[HARVAN_UPCD] && marks_[HARVAN_UPSD] && marks_[HARVAN_UPPC]) SetFunction(3, 3);
    if (marks_[HARVAN_BINARY]) {
      SetFunction(3, 3);
      Diag() << "Adding Timed Shutdown as supported\n";
      SetFunction(3, 1);
      SetEvent(21);
    }
  }
  if (marks_[HARVAN_BINARY]) QuerySegmentCount();
  auto lock = scp_.Lock();
  for (int e : {29, 30, 31, 32}) SetEvent(e);
  DefaultCapabilitiesLocked();
  SetEvent(24);
  for (int e : {0, 1, 6, 7}) SetEvent(e);
  static constexpr int kFunctions[][2] = {{2, 1}, {2, 4}, {2, 7}, {3, 2}};
  for (const auto& f : kFunctions) SetFunction(f[0], f[1]);
  const int segments = GetSegmentCount();
  if (segments >= 2 && segments <= 254) SetFunction(3, 7);
  return r < 0 ? -1 : 1;
}

// ---- load control ----

int KT_Harvan::SendLoadCommand(uint8_t command, const std::vector<uint8_t>& data) {
  const std::vector<uint8_t> frame = BuildHarvanLoadFrame(command, data.data(), data.size());
  if (frame.empty()) return Fail(ERR_HARVAN, HARVAN_FN_LOAD_COMMAND, 2);
  for (int attempt = 0; attempt < kLoadAttempts; ++attempt) {
    DiscardInput();
    if (Write(frame.data(), static_cast<int>(frame.size())) < 0) continue;
    KT_ReadRecord record;
    record.capacity = static_cast<int>(frame.size());
    if (ReadBlock(record) > 0 && record.data == frame) return 1;
  }
  return Fail(ERR_HARVAN, HARVAN_FN_LOAD_COMMAND, 1);
}

int KT_Harvan::QuerySegmentCount() {
  const std::vector<uint8_t> frame = BuildHarvanLoadFrame(HARVAN_LOAD_QUERY, nullptr, 0);
  DiscardInput();
  if (Write(frame.data(), static_cast<int>(frame.size())) < 0) return -1;
  KT_ReadRecord record;
  record.capacity = kSegmentReplyCapacity;
  const int r = ReadBlock(record);
  if (r <= 0 || record.data.size() <= kHarvanSegmentCountByte || record.data[0] != kHarvanFrameStart) {
    return Fail(ERR_HARVAN, HARVAN_FN_LOAD_COMMAND, 3);
  }
  const int count = record.data[kHarvanSegmentCountByte];
  SetSegmentCount(count);
  auto lock = scp_.Lock();
  scp_.receptacles.SetCount(count);
  return count;
}

uint16_t KT_Harvan::CutDelay(const char* form, int64_t value, int64_t most) {
  if (value <= most) return static_cast<uint16_t>(value);
  Diag() << "KT_Harvan::LoadControl: " << form << " holds at most " << static_cast<long long>(most)
         << ", not " << static_cast<long long>(value) << "; the UPS gets " << static_cast<long long>(most) << kendl;
  protocol_error_.LogError(ERR_HARVAN, kFnLoadControl, kCodeDelayCut, static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX)));
  return static_cast<uint16_t>(most);
}

int KT_Harvan::SendUntil(const std::string& text, const char* answer) {
  for (int attempt = 0; attempt < kShutdownAttempts; ++attempt) {
    DiscardInput();
    if (SendRequest(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), 0) < 0) continue;
    KT_ReadRecord record;
    if (ReadBlock(record) > 0 && Contains(record, answer)) return 1;
  }
  return 0;
}

int KT_Harvan::TextShutdown(int seconds) {
  const int delay = CutDelay("\"UPSD\"", std::max(seconds, 0), kMaxTextDelay);
  char text[32];
  std::snprintf(text, sizeof text, "UPSD\r%03d\r", delay);
  if (!SendUntil(text, "ACSD")) return Fail(ERR_HARVAN, HARVAN_FN_SHUTDOWN, 1);
  std::snprintf(text, sizeof text, "UPCD\r%03d\r", kSecondDelay);
  if (!SendUntil(text, "ACCD")) return Fail(ERR_HARVAN, HARVAN_FN_SHUTDOWN, 2);
  const std::string confirm = kHarvanCommands[HARVAN_UPPC];
  return SendRequest(reinterpret_cast<const uint8_t*>(confirm.data()), static_cast<int>(confirm.size()), 0);
}

int KT_Harvan::LoadControl(int kind, int segment, int seconds) {
  Diag() << "KT_Harvan::LoadControl sending UPS command " << kind << ", load " << segment << ", delay "
         << seconds << kendl;
  if (seconds < 0) seconds = 0;
  if (GetSegmentCount() == kAllSegments && marks_[HARVAN_BINARY]) QuerySegmentCount();
  if (!marks_[HARVAN_BINARY]) return kind == kOutputOffAfterOs ? TextShutdown(seconds) : -1;

  std::vector<int> segments;
  if (segment == kAllSegments) {
    for (int s = 0; s < GetSegmentCount() && s < kAllSegments; ++s) segments.push_back(s);
  } else if (segment >= 0 && segment < kAllSegments) {
    segments.push_back(segment);
  } else {
    return -1;
  }
  int64_t delay = (kind == kOutputOffAfterOs || kind == kSegmentRestartDelay) ? static_cast<int64_t>(seconds) * 2
                                                                               : RoundedMinutes(seconds);
  if (delay == 0) delay = 1;
  const uint16_t d = CutDelay("a load command", delay, kMaxWord);
  int result = -1;
  for (int s : segments) {
    const std::vector<uint8_t> timed = {static_cast<uint8_t>(s), static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d & 0xFF)};
    const std::vector<uint8_t> only = {static_cast<uint8_t>(s)};
    switch (kind) {
      case kOutputOffAfterDelay: result = SendLoadCommand(HARVAN_LOAD_OFF, timed); break;
      case kOutputOnAfterDelay: result = SendLoadCommand(HARVAN_LOAD_ON, timed); break;
      case kOutputOffAfterOs:
        Diag() << "KT_Harvan::LoadControl sending UPS command 4(UTIL_FAIL_OFF)\n";
        result = SendLoadCommand(HARVAN_LOAD_OFF_ON_FAIL, timed);
        if (result < 0) return -1;
        result = SendLoadCommand(HARVAN_LOAD_ARM, only);
        break;
      case kOutputOnAfterDelay2: result = SendLoadCommand(HARVAN_LOAD_ON_NOW, only); break;
      case kSegmentRestartDelay:
        result = SendLoadCommand(HARVAN_LOAD_RESTART_DELAY, timed);
        if (result < 0) return -1;
        break;
      default: return -1;
    }
  }
  return result;
}

int KT_Harvan::SegmentOnNow(int segment) {
  if (segment == kAllSegments) return 0;
  return LoadControl(kOutputOnAfterDelay2, segment, 0);
}
