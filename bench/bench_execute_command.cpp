// Figures for the SCP object's server path: ExecuteCommand on a GET of a whole block (every
// block of a filled object, as a console's refresh asks), a GET of one branch, and a SET.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/scp/scp.h"

namespace {

// An object with every block filled, as an agent holds it while the UPS answers.
void Fill(KT_SCP& scp) {
  scp.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  scp.upsStatus.SetAlarm(ALARM_LOW_BATTERY);
  scp.upsInfo.SetInterfaceType(2);
  scp.upsInfo.SetModelIndex(3);
  scp.upsInfo.SetModelText("Brenvale 1500");
  scp.upsInfo.SetSerialNumber("BV1500-0001");
  scp.upsInfo.SetSoftwareVersion(1, 4);
  scp.upsInfo.SetVARating(1500);
  scp.meters.SetLoadVARating(1500);
  scp.meters.SetOutputVA(700);
  scp.meters.SetBatteryCapacity(95);
  for (int p = 0; p < 3; ++p) scp.meters.SetInputVoltage(p, 230);
  for (uint32_t t = 0; t < 100; ++t) {
    const uint8_t event = static_cast<uint8_t>(1 + t % 36);
    scp.eventLog.AddRecord(1000 + t, 1, &event);
    scp.alarmQueue.Add(static_cast<int>(t % 7), 1000 + t, 1);
  }
  for (KT_Block* b : {static_cast<KT_Block*>(&scp.upsStatus), static_cast<KT_Block*>(&scp.upsInfo),
                      static_cast<KT_Block*>(&scp.meters)}) {
    for (int branch = 0; branch <= 5; ++branch) b->Branches().Touch(branch);
  }
}

void BM_GetWholeObject(benchmark::State& state) {
  KT_SCP scp;
  Fill(scp);
  const std::vector<KT_ScpMessage> gets = {
      KT_ScpMessage(SCP_GET, {1}), KT_ScpMessage(SCP_GET, {2}), KT_ScpMessage(SCP_GET, {3}),
      KT_ScpMessage(SCP_GET, {6}), KT_ScpMessage(SCP_GET, {8}), KT_ScpMessage(SCP_GET, {27})};
  std::vector<uint8_t> reply;
  size_t bytes = 0;
  for (auto _ : state) {
    for (const KT_ScpMessage& m : gets) {
      scp.ExecuteCommand(m, reply);
      bytes += reply.size();
    }
    benchmark::DoNotOptimize(reply.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(gets.size()));
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_GetWholeObject);

void BM_GetStatusBlock(benchmark::State& state) {
  KT_SCP scp;
  Fill(scp);
  const KT_ScpMessage get(SCP_GET, {1});
  std::vector<uint8_t> reply;
  for (auto _ : state) {
    scp.ExecuteCommand(get, reply);
    benchmark::DoNotOptimize(reply.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetStatusBlock);

void BM_SetCommand(benchmark::State& state) {
  KT_SCP scp;
  const KT_ScpMessage set(SCP_SET, {27, 5}, {1});
  std::vector<uint8_t> reply;
  for (auto _ : state) {
    scp.ExecuteCommand(set, reply);
    scp.system_queue.Clear();
    benchmark::DoNotOptimize(reply.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetCommand);

}  // namespace
