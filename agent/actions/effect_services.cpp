#include "agent/actions/effect_services.h"

#include <sys/utsname.h>

#include <cerrno>

#include "core/scp/scp.h"

namespace {

constexpr int32_t kFnSetOsInfo = 1;
constexpr int32_t kFnRunProgram = 7;
constexpr int32_t kFnRunSaver = 9;
constexpr int32_t kFnRunAndWait = 11;

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

int KT_EffectServices::SendMail(const char* text, const char* subject, const char* recipient) {
  if (recipient == nullptr) return 0;
  return effects_.SendMail(text ? text : "", subject ? subject : "", recipient) ? 1 : 0;
}

int KT_EffectServices::RunProgram(const char* commandLine) {
  if (commandLine == nullptr) {
    LogError(ERR_AGENT_SERVICES, kFnRunProgram, 1, 0);
    return -1;
  }
  const platform::ProcessResult r = effects_.Run(commandLine, KT_CommandSource::kConsole);
  if (r.status == platform::ProcessStatus::kFailedToStart) {
    LogError(ERR_AGENT_SERVICES, kFnRunProgram, 2, r.sysError);
    return -1;
  }
  return 1;
}

int KT_EffectServices::RunAndWait(const char* commandLine) {
  if (commandLine == nullptr) {
    LogError(ERR_AGENT_SERVICES, kFnRunAndWait, 1, 0);
    return -1;
  }
  const platform::ProcessResult r = effects_.RunBounded(commandLine, effects_.Settings().runWaitMs,
                                                        "The command", KT_CommandSource::kConsole);
  if (r.status == platform::ProcessStatus::kFailedToStart) {
    LogError(ERR_AGENT_SERVICES, kFnRunAndWait, 2, r.sysError);
    return -1;
  }
  return r.status == platform::ProcessStatus::kExited ? 1 : 0;
}

int KT_EffectServices::RunSaver() {
  const platform::ProcessResult r = effects_.RunSaver();
  if (r.status == platform::ProcessStatus::kFailedToStart) {
    LogError(ERR_AGENT_SERVICES, kFnRunSaver, 2, r.sysError);
    return -1;
  }
  if (r.status == platform::ProcessStatus::kTimedOut) {
    LogError(ERR_AGENT_SERVICES, kFnRunSaver, 1, ETIMEDOUT);
    return -1;
  }
  return 1;
}

int KT_EffectServices::SetOsInfo() {
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

