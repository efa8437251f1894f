#include "agent/protocols/ups_protocol.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

namespace {

// Longest real sleep inside one Pause slice: the process clock is checked between slices.
constexpr int kPauseSliceMs = 10;
// Most bytes DiscardInput drops in one call (a device that never stops talking does not
// hold the caller forever).
constexpr size_t kMaxDiscard = 64 * 1024;

// ReadBlock's error record.
constexpr int32_t kReadBlockFn = 1;

}  // namespace

KT_UpsProtocol::KT_UpsProtocol(KT_SCP& scp) : scp_(scp) {}

KT_UpsProtocol::~KT_UpsProtocol() {
  if (Handle() >= 0) Close();
}

int KT_UpsProtocol::UpdateWaveform(int, int) { return -1; }
int KT_UpsProtocol::SegmentOnNow(int) { return 0; }
int KT_UpsProtocol::LoadControl(int, int, int) { return -1; }
int KT_UpsProtocol::RaiseInterfacePower() { return -1; }

int KT_UpsProtocol::UpdateCapabilities() {
  auto lock = scp_.Lock();
  DefaultCapabilitiesLocked();
  return 1;
}

int KT_UpsProtocol::Fail(int32_t errorClass, int32_t function, int32_t code, int32_t systemError) {
  protocol_error_.LogError(errorClass, function, code, systemError);
  return -1;
}

void KT_UpsProtocol::Pause(int ms) {
  if (ms <= 0) return;
  const uint64_t start = platform::TickMs();
  for (;;) {
    const uint64_t elapsed = platform::TickMs() - start;
    if (elapsed >= static_cast<uint64_t>(ms)) return;
    const uint64_t left = static_cast<uint64_t>(ms) - elapsed;
    ::poll(nullptr, 0, static_cast<int>(std::min<uint64_t>(left, kPauseSliceMs)));
  }
}

// ---- port helpers ----

int KT_UpsProtocol::Configure(const KT_PortSettings& settings) {
  if (settings.HasPortName()) {
    settings_.SetPortName(settings.PortNameRef().c_str());
  }
  settings_.StoreBaudIndex(settings.GetBaudIndex());
  settings_.StoreParity(settings.GetParity());
  settings_.StoreStopBits(settings.GetStopBits());
  settings_.StoreDataBits(settings.GetDataBits());
  settings_.StoreFlowControl(settings.GetFlowControl());
  if (Open() < 0) return -1;
  if (SetIdleLines() < 0) {
    Close();
    return -1;
  }
  return 0;
}

int KT_UpsProtocol::Configure(const std::string& portName, int baudCode) {
  KT_PortSettings settings;
  settings.SetPortName(portName.c_str());
  settings.StoreBaudIndex(static_cast<uint8_t>(baudCode));
  return Configure(settings);
}

int KT_UpsProtocol::ReadBlock(KT_ReadRecord& record) {
  if (Ready(kReplyWaitSeconds) < 1) {
    // The transmission could not be finished; the port has been closed.
    return Fail(ERR_UPS_PROTOCOL, kReadBlockFn, 1);
  }
  const int r = Read(record);
  if (r <= 0) return r;
  // After an input overflow the port still hands over what it read: the length is the number
  // of bytes actually there, never more.
  record.length = static_cast<int>(record.data.size());
  return 1;
}

void KT_UpsProtocol::DiscardInput() {
  const int fd = Handle();
  if (fd < 0) return;
  uint8_t buffer[256];
  size_t dropped = 0;
  while (dropped < kMaxDiscard) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      dropped += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // nothing more waiting (EAGAIN), or the device is gone: Read reports that
  }
}

int KT_UpsProtocol::IsCableConnected() {
  {
    auto lock = scp_.Lock();
    if (scp_.config.GetNoLoopbackTest() != 0) return 1;
  }
  const int lines = ControlCheck(kCts);
  if (lines < 0) return -1;
  return (lines & kCts) ? 1 : 0;
}

int KT_UpsProtocol::SetIdleLines() {
  if (ControlCheck(kAllLines) < 0) return -1;
  if (ControlSet(0) < 0) return -1;
  if (ControlSet(kRts) < 0) return -1;
  return 0;
}

// ---- shutdown sequences ----

int KT_UpsProtocol::ShutdownAndRestart(int segment) {
  int restart;
  int shutdown;
  {
    auto lock = scp_.Lock();
    restart = scp_.commandBlock.GetRestartDelay();
    if (restart == 0) restart = 1;
    if (scp_.schedShutdown.GetLoadSegmentFlag() != 0) {
      shutdown = 0;
    } else {
      shutdown = scp_.commandBlock.GetShutdownDelay();
      if (shutdown == 0) shutdown = 1;
    }
    // The maker's own UPSes need the output off for a while before it may come back.
    if (scp_.upsInfo.GetManufacturer() == 0 && shutdown + 60 > restart) restart = shutdown + 60;
  }
  LoadControl(kSegmentRestartDelay, segment, 0);
  const int off = LoadControl(kOutputOffAfterDelay, segment, shutdown);
  if (off <= 0) return off;
  return LoadControl(kOutputOnAfterDelay, segment, restart);
}

int KT_UpsProtocol::ShutdownAfterOs(int segment) {
  int seconds = 0;
  if (segment == kAllSegments) {
    auto lock = scp_.Lock();
    seconds = scp_.config.GetOsShutdownTime();
  }
  if (seconds == 0) seconds = 1;
  return LoadControl(kOutputOffAfterOs, segment, seconds);
}

int KT_UpsProtocol::SetSegmentRestartDelay(int segment) {
  int up = 0;
  {
    auto lock = scp_.Lock();
    if (segment != kAllSegments && segment == scp_.receptacles.GetNonCriticalSegment()) {
      up = scp_.receptacles.GetUpDelay(segment);
    }
  }
  return LoadControl(kSegmentRestartDelay, segment, up);
}

// ---- capabilities ----

void KT_UpsProtocol::SetFunction(int byte, int bit) { scp_.upsInfo.SetFunctionSupported(byte, bit); }
void KT_UpsProtocol::ClearFunction(int byte, int bit) { scp_.upsInfo.ClearFunctionSupported(byte, bit); }
void KT_UpsProtocol::SetEvent(int n) { scp_.notify.SetSupportBit(SUPPORT_EVENTS, n / 8, n % 8); }
void KT_UpsProtocol::ClearEvent(int n) { scp_.notify.ClearSupportBit(SUPPORT_EVENTS, n / 8, n % 8); }
void KT_UpsProtocol::SetActionBit(int n) { scp_.notify.SetSupportBit(SUPPORT_ACTIONS, n / 8, n % 8); }
void KT_UpsProtocol::ClearActionBit(int n) { scp_.notify.ClearSupportBit(SUPPORT_ACTIONS, n / 8, n % 8); }

void KT_UpsProtocol::DefaultCapabilitiesLocked() {
  for (int b = 0; b < 8; ++b) SetFunction(0, b);
  for (int b = 4; b < 8; ++b) SetFunction(1, b);
  SetFunction(2, 0);
  SetFunction(3, 4);
  SetFunction(3, 6);

  static constexpr int kEvents[] = {2, 3, 4, 5, 14, 15, 16, 17, 18, 19, 20, 22, 23};
  for (int e : kEvents) SetEvent(e);
  for (int a = 0; a < 8; ++a) SetActionBit(a);
  SetActionBit(11);

  scp_.upsInfo.SetManufacturer(0);

  // Action 1 (SNMP trap, bit 0) needs the system's SNMP service, which Windows 95 lacks;
  // action 10 (bit 9) is offered where the NT branch applies, which this agent takes.
  switch (scp_.upsInfo.GetOsType()) {
    case 2: ClearActionBit(0); break;
    case 3:
    case kOsTypeLinux: SetActionBit(9); break;
    default: break;
  }
}

// ---- battery tests ----

void KT_UpsProtocol::BeginBatteryTest(const char* name) {
  battery_test_ = std::make_unique<KT_BatteryTestRun>();
  battery_test_->name = name;
  battery_test_start_ = platform::Now();
  battery_test_last_ = battery_test_start_;
  ++battery_test_count_;
}

int KT_UpsProtocol::AddBatteryTestResult(int state, int64_t time, int kind) {
  if (!battery_test_) return -1;
  const int64_t now = platform::Now();
  BatteryTestResult result;
  result.description = battery_test_->name;
  result.value = battery_test_count_;
  result.resultCode = static_cast<uint8_t>(state);
  result.number1 = static_cast<int32_t>(battery_test_start_);
  result.number2 = static_cast<int32_t>(std::clamp<int64_t>((now - battery_test_start_) * 100, 0, INT32_MAX));
  {
    auto lock = scp_.Lock();
    scp_.batteryLog.SetResult(result, static_cast<uint32_t>(time), kind);
  }
  battery_test_last_ = now;
  battery_test_.reset();
  return 1;
}

void KT_UpsProtocol::FinishBatteryTest() {
  {
    auto lock = scp_.Lock();
    scp_.batteryTest.Branches().Touch(0);
    scp_.batteryTest.Branches().Touch(1);
  }
  WriteRecordFile(BLOCK_BATTERY_TEST);
  WriteRecordFile(BLOCK_BATTERY_LOG);
  auto lock = scp_.Lock();
  scp_.upsStatus.ClearAlarm(ALARM_BATTERY_TEST);
}

void KT_UpsProtocol::WriteRecordFile(int blockId) {
  if (file_writer_) file_writer_(blockId);
}
