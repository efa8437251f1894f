#include "agent/actions/nt_services.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "core/scp/event_log_block.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/service_manager.h"
#include "platform/service_settings.h"
#include "platform/user_terminals.h"

namespace {

constexpr int32_t kFnBroadcast = 2;
constexpr int32_t kFnShutdownSystem = 8;
constexpr int32_t kFnPlaySound = 10;
// Events with an event-log text: 1..35.
constexpr int kLastLoggedEvent = 35;

// The event-log text of an event: the event names, with "UPS Discovered" for 35.
const char* EventLogText(int event) { return event == EVENT_UPS_DISCOVERED ? "UPS Discovered" : GetEventName(event); }

}  // namespace

KT_NTServices::KT_NTServices(KT_SCP& scp) : KT_EffectServices(scp) {
  SetDefaultMessageBoxes(std::make_shared<KT_DaemonMessageBoxes>(false));
}

KT_NTServices::~KT_NTServices() = default;

void KT_NTServices::SetConsoleMode(bool on) {
  console_mode_ = on;
  SetDefaultMessageBoxes(std::make_shared<KT_DaemonMessageBoxes>(on));
}

void KT_NTServices::WriteEventLog(platform::LogEntryType type, const std::vector<std::string>& strings) {
  platform::WriteSystemLog(kEventSourceName, type, strings);
}

int KT_NTServices::ShowMessageBox(const char* text, const char* caption, uint32_t flags) {
  return StartMessageBoxThread(text, caption, flags);
}

int KT_NTServices::LogEvent(int kind, int eventNumber) {
  if (eventNumber < 1 || eventNumber > kLastLoggedEvent) return 0;
  const platform::LogEntryType type = kind == 0   ? platform::LogEntryType::kError
                                      : kind == 1 ? platform::LogEntryType::kWarning
                                                  : platform::LogEntryType::kInformation;
  WriteEventLog(type, {EventLogText(eventNumber)});
  return 1;
}

int KT_NTServices::PlaySound(const char* soundFile) { return Sound(soundFile, true); }

int KT_NTServices::StartSound(const char* soundFile) { return Sound(soundFile, false); }

int KT_NTServices::Sound(const char* soundFile, bool wait) {
  if (soundFile == nullptr) {
    LogError(ERR_AGENT_SERVICES, kFnPlaySound, 1, 0);
    return -1;
  }
  int error = 0;
  if (!effects_.PlaySound(soundFile, &error, wait)) {
    LogError(ERR_AGENT_SERVICES, kFnPlaySound, 2, error);
    return -1;
  }
  return 1;
}

int KT_NTServices::ShutdownSystem() {
  DebugPrint("Entring shutdown function\n");
  DebugPrint("Before initiate shutdown\n");
  Diag() << "Shutting the computer down\n";
  return EndSystem(effects_.Shutdown(), "The shutdown command failed");
}

int KT_NTServices::RebootSystem() {
  Diag() << "Restarting the computer\n";
  return EndSystem(effects_.Reboot(), "The reboot command failed");
}

int KT_NTServices::EndSystem(const platform::ProcessResult& r, const char* failure) {
  DebugPrint("After initiate shutdown\n");
  int result = 1;
  if (r.status == platform::ProcessStatus::kFailedToStart) {
    LogError(ERR_AGENT_SERVICES, kFnShutdownSystem, 2, r.sysError);
    result = -1;
  } else if (r.status == platform::ProcessStatus::kExited && r.exitCode != 0) {
    LogError(ERR_AGENT_SERVICES, kFnShutdownSystem, 3, r.exitCode);
    result = -1;
  }
  if (result < 0) WriteEventLog(platform::LogEntryType::kError, {failure});
  // The agent's threads have stopped: the service ends whatever the command did.
  SignalExit();
  return result;
}

int KT_NTServices::Broadcast(const char* text) {
  if (text == nullptr) {
    LogError(ERR_AGENT_SERVICES, kFnBroadcast, 1, 0);
    return -1;
  }
  return effects_.Broadcast(text) ? 1 : -1;
}

int KT_NTServices::StartMailProgram(const char* text, const char* recipient, const char* account, const char*) {
  return effects_.StartMailProgram(text ? text : "", recipient ? recipient : "", account ? account : "");
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
