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

int KT_SCP::ExecuteCommand(const KT_ScpMessage& message, std::vector<uint8_t>& reply) {
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
