#include "core/scp/scp.h"

KT_SCP::KT_SCP() {
  RegisterBlock(BLOCK_METERS, &meters);
  RegisterBlock(BLOCK_CONFIG, &config);
  config.SetUpsInfo(&upsInfo);
  RegisterBlock(BLOCK_NOTIFY, &notify);
  RegisterBlock(BLOCK_EVENT_LOG, &eventLog);
  RegisterBlock(BLOCK_BATTERY_LOG, &batteryLog);
  RegisterBlock(BLOCK_SCHED_SHUTDOWN, &schedShutdown);
  RegisterBlock(BLOCK_BATTERY_TEST, &batteryTest);
  RegisterBlock(BLOCK_BATTERY_INFO, &batteryInfo);
  RegisterBlock(BLOCK_COMMAND, &commandBlock);
  RegisterBlock(BLOCK_ALARM_QUEUE, &alarmQueue);
  RegisterBlock(BLOCK_WAVEFORM, &waveforms);
  RegisterBlock(BLOCK_RECEPTACLES, &receptacles);
}

namespace {
// Branches of the configuration block: the UPS's own options (audible alarm, low-battery
// warning), and the adapter threads' timing (polling interval, time-out).
constexpr int kUpsOptionsBranch = 3;
constexpr int kTimingBranch = 12;
// The data format whose peers know the timing branch: a software version whose second
// number is 1.
constexpr int kTimingFormat = 1;

// Clears the timing flag of the block when the message is served.
class TimingScope {
 public:
  TimingScope(ConfigBlock& config, bool addressed) : config_(config) {
    config_.SetTimingAddressed(addressed);
  }
  ~TimingScope() { config_.SetTimingAddressed(false); }
  TimingScope(const TimingScope&) = delete;
  TimingScope& operator=(const TimingScope&) = delete;

 private:
  ConfigBlock& config_;
};
}  // namespace

int KT_SCP::ExecuteCommand(const KT_ScpMessage& message, std::vector<uint8_t>& reply) {
  KT_Block* block = GetBlock(message.KeyByte(kScpKeyBlock));
  if (block != &config) return KT_SCPBase::ExecuteCommand(block, message, reply);

  auto lock = Lock();
  const bool set = message.type == SCP_SET;
  const int branch = message.KeyLength() >= 2 ? message.KeyByte(kScpKeyBranch) : 0;
  auto refuse = [&](int code) {
    reply.clear();
    return BuildStatusReply(message, reply, code) < 0 ? -1 : 1;
  };
  if (set && branch == kUpsOptionsBranch) {
    // Options the agent holds unknown are ones the UPS does not report, and the drivers that
    // cannot read them (the Smart-UPS protocol, SNMP) cannot set them either: such a change
    // would be acknowledged and reach nothing. It is refused before the block takes it, so
    // the options stay unknown.
    if (!ups_options_carried_ ||
        (config.GetAudibleAlarm() == kConfigUnset8 && config.GetLowBatteryWarning() == kConfigUnset8)) {
      return refuse(SCP_NOT_AVAILABLE);
    }
  }
  if (branch == kTimingBranch) {
    // The branch alone travels in the format of the agent it belongs to, whatever the peer has
    // read before: an agent of that format keeps and gives the values even when no console has
    // yet asked for its UPS information.
    TimingScope scope(config, upsInfo.GetSoftwareVersionSecond() == kTimingFormat);
    if (set && !config.TimingOnWire()) return refuse(SCP_SET_FAILED);  // the values would be dropped
    return KT_SCPBase::ExecuteCommand(block, message, reply);
  }
  const int result = KT_SCPBase::ExecuteCommand(block, message, reply);
  // A SET of the whole block carries the options too: the rest is applied, they stay unknown.
  if (set && branch == 0 && !ups_options_carried_) ForgetUpsOptions();
  return result;
}

bool KT_SCP::ForgetUpsOptions() {
  const bool known =
      config.GetAudibleAlarm() != kConfigUnset8 || config.GetLowBatteryWarning() != kConfigUnset8;
  if (config.GetAudibleAlarm() != kConfigUnset8) config.SetAudibleAlarm(kConfigUnset8);
  if (config.GetLowBatteryWarning() != kConfigUnset8) config.SetLowBatteryWarning(kConfigUnset8);
  return known;
}

bool KT_SCP::SetUpsOptionsCarried(bool carried) {
  auto lock = Lock();
  ups_options_carried_ = carried;
  return !carried && ForgetUpsOptions();
}

void KT_SCP::ResetUpsData() {
  auto lock = Lock();
  upsInfo.Reset();
  meters.Reset();
}

int KT_SCP::GetCommMode() const { return config.GetCommMode(); }

KT_SCP& GetProcessScp() {
  static KT_SCP scp;
  return scp;
}

int GetProcessCommMode() {
  KT_SCP& scp = GetProcessScp();
  auto lock = scp.Lock();
  return scp.GetCommMode();
}
