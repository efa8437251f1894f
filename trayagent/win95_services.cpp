#include "trayagent/win95_services.h"

#include <cerrno>

#include "core/base/ktdiag.h"
#include "platform/process.h"

namespace {

constexpr int32_t kFnRunProgram = 7;
constexpr int32_t kFnPlaySound = 10;

}  // namespace

KT_Win95Services::KT_Win95Services(KT_SCP& scp) : KT_EffectServices(scp) {}

KT_Win95Services::~KT_Win95Services() = default;

int KT_Win95Services::WaitForAgentThreads(int quick) {
  RequestStopSNMP();
  const int result = ExitDaemon(quick);
  RequestStopNetwork();
  RequestStopLocal();
  RequestStopSerial();
  RequestStopNetBCM();
  JoinThreads(stop_wait_ms_);
  ClearRunFlag();
  return result;
}

int KT_Win95Services::ShutdownSystem() {
  Diag() << "Shutting the computer down\n";
  return StartSystemCommand(effects_.Settings().shutdownCommand);
}

int KT_Win95Services::RebootSystem() {
  Diag() << "Restarting the computer\n";
  return StartSystemCommand(effects_.Settings().rebootCommand);
}

int KT_Win95Services::StartSystemCommand(const std::string& command) {
  const platform::ProcessResult r = effects_.Run(command, KT_CommandSource::kSettings);
  if (r.status == platform::ProcessStatus::kFailedToStart) {
    LogError(ERR_AGENT_SERVICES, kFnRunProgram, 2, r.sysError);
    return -1;
  }
  return 1;
}

int KT_Win95Services::PlaySound(const char* soundFile) {
  if (soundFile == nullptr) {
    LogError(ERR_AGENT_SERVICES, kFnPlaySound, 1, 0);
    return -1;
  }
  const std::string player = effects_.Settings().soundPlayer;
  if (player.empty()) {
    if (bell_) bell_();
    return 1;
  }
  int error = 0;
  if (!effects_.StartSound(soundFile, &error)) {
    LogError(ERR_AGENT_SERVICES, kFnPlaySound, 2, error);
    return -1;
  }
  return 1;
}

int KT_Win95Services::ShowMessageBox(const char* text, const char* caption, uint32_t flags) {
  return StartMessageBoxThread(text, caption, flags);
}
