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
// Branch of the configuration block with the UPS's own options (audible alarm, low-battery
// warning).
constexpr int kUpsOptionsBranch = 3;
}  // namespace

int KT_SCP::ExecuteCommand(const KT_ScpMessage& message, std::vector<uint8_t>& reply) {
  if (message.type == SCP_SET && message.KeyByte(kScpKeyBlock) == BLOCK_CONFIG && message.KeyLength() >= 2 &&
      message.KeyByte(kScpKeyBranch) == kUpsOptionsBranch) {
    auto lock = Lock();
    // Options the agent holds unknown are ones the UPS does not report, and the drivers that
    // cannot read them (the Smart-UPS protocol, SNMP) cannot set them either: such a change
    // would be acknowledged and reach nothing. It is refused before the block takes it, so
    // the options stay unknown.
    if (config.GetAudibleAlarm() == kConfigUnset8 && config.GetLowBatteryWarning() == kConfigUnset8) {
      reply.clear();
      return BuildStatusReply(message, reply, SCP_NOT_AVAILABLE) < 0 ? -1 : 1;
    }
  }
  return KT_SCPBase::ExecuteCommand(GetBlock(message.KeyByte(kScpKeyBlock)), message, reply);
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
