#include "agent/nt_services.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>

#include "core/event_log_block.h"
#include "core/ktdiag.h"
#include "core/scp.h"
#include "platform/service_manager.h"
#include "platform/service_settings.h"
#include "platform/user_terminals.h"

namespace {

constexpr int32_t kFnSetOsInfo = 1;
// Events with an event-log text: 1..35.
constexpr int kLastLoggedEvent = 35;

// Leading decimal number of `s` from `pos`, moving pos past it; 0 when there is none.
int TakeNumber(const char* s, size_t& pos) {
  int v = 0;
  bool any = false;
  while (s[pos] >= '0' && s[pos] <= '9') {
    if (v < 100000) v = v * 10 + (s[pos] - '0');
    ++pos;
    any = true;
  }
  if (any && s[pos] == '.') ++pos;
  return any ? v : 0;
}

}  // namespace

KT_NTServices::KT_NTServices(KT_SCP& scp) : KT_OSServices(scp) {}

KT_NTServices::~KT_NTServices() = default;

void KT_NTServices::WriteEventLog(platform::LogEntryType type, const std::vector<std::string>& strings) {
  platform::WriteSystemLog(kEventSourceName, type, strings);
}

int KT_NTServices::ShowMessageBox(const char* text, const char* caption, uint32_t flags) {
  if (text == nullptr) return -1;
  const std::string title = caption ? caption : "";
  WarnAdmin();
  if (console_mode_) {
    std::printf("%s: %s\n", platform::PrintableText(title, false).c_str(),
                platform::PrintableText(text, true).c_str());
    std::fflush(stdout);
    return 1;
  }
  const bool error = (flags & 0xF0) == kMessageBoxIconError;
  WriteEventLog(error ? platform::LogEntryType::kError : platform::LogEntryType::kWarning, {title, text});
  if (platform::GetServiceSettings().userTerminals) platform::WriteToUserTerminals(title, text);
  return 1;
}

int KT_NTServices::LogEvent(int kind, int eventNumber) {
  if (eventNumber < 1 || eventNumber > kLastLoggedEvent) return 0;
  const platform::LogEntryType type = kind == 0   ? platform::LogEntryType::kError
                                      : kind == 1 ? platform::LogEntryType::kWarning
                                                  : platform::LogEntryType::kInformation;
  WriteEventLog(type, {GetEventName(eventNumber)});
  return 1;
}

int KT_NTServices::SetOsInfo() {
  utsname u{};
  if (::uname(&u) != 0) {
    LogError(ERR_AGENT_SERVICES, kFnSetOsInfo, 1, errno);
    return -1;
  }
  size_t pos = 0;
  const int major = TakeNumber(u.release, pos);
  const int minor = TakeNumber(u.release, pos);
  const int patch = TakeNumber(u.release, pos);
  auto clamp = [](int v) { return v > 254 ? 254 : v; };
  KT_SCP& scp = Scp();
  auto lock = scp.Lock();
  scp.upsInfo.SetOsType(kOsTypeLinux);
  scp.upsInfo.SetOsVersion(clamp(major), clamp(minor), clamp(patch));
  return 1;
}

int KT_NTServices::ReportServiceStatus(int state, int exitCode, int checkpoint, int waitHintMs) {
  if (console_mode_) return 1;
  std::string report;
  switch (state) {
    case SERVICE_STATE_RUNNING:
      report = "READY=1\nSTATUS=Monitoring";
      break;
    case SERVICE_STATE_START_PENDING:
      report = "STATUS=Starting (step " + std::to_string(checkpoint) + ")";
      break;
    case SERVICE_STATE_STOP_PENDING:
      report = "STOPPING=1\nSTATUS=Stopping (step " + std::to_string(checkpoint) + ")";
      // Asks for more time when the manager's stop time-out is shorter than the hint.
      if (waitHintMs > 0) report += "\nEXTEND_TIMEOUT_USEC=" + std::to_string(int64_t{waitHintMs} * 1000 * 3);
      break;
    case SERVICE_STATE_STOPPED:
      report = "STATUS=Stopped (exit code " + std::to_string(exitCode) + ")";
      break;
    default:
      return 1;
  }
  if (platform::NotifyServiceManager(report) < 0) {
    ReportServiceError("SetServiceStatus", errno);
    return 0;
  }
  return 1;
}

void KT_NTServices::ReportServiceError(const char* text, int code) {
  char head[64];
  std::snprintf(head, sizeof(head), "VigilNT Service Error : %d", code);
  WriteEventLog(platform::LogEntryType::kError, {head, text ? text : ""});
  SignalExit();
}

void KT_NTServices::SignalExit() {
  std::lock_guard<std::mutex> lock(exit_mutex_);
  exit_signalled_ = true;
  exit_cv_.notify_all();
}

void KT_NTServices::WaitForExit() {
  std::unique_lock<std::mutex> lock(exit_mutex_);
  exit_cv_.wait(lock, [this] { return exit_signalled_; });
}

bool KT_NTServices::IsExitSignalled() {
  std::lock_guard<std::mutex> lock(exit_mutex_);
  return exit_signalled_;
}

int KT_NTServices::StopAgent(int quick) {
  const int result = ExitDaemon(quick);
  if (!console_mode_) {
    ReportServiceStatus(SERVICE_STATE_STOP_PENDING, 0, 1, 10000);
  }
  // Every worker, the adapter threads included, is asked to stop and waited for.
  RequestStopNetBCM();
  RequestStopSNMP();
  RequestStopNetwork();
  RequestStopLocal();
  RequestStopSerial();
  JoinThreads(kThreadStopWaitMs);
  ClearRunFlag();
  if (!console_mode_) {
    ReportServiceStatus(SERVICE_STATE_STOP_PENDING, 0, 2, 2000);
    if (quick == 1) SignalExit();
  }
  return result;
}
