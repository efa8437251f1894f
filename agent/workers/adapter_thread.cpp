#include <algorithm>

#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/workers/ups_worker.h"
#include "agent/workers/worker_threads.h"
#include "core/adapters/adapter_name.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

void AdapterAnswered(KT_Agent& agent) {
  agent.adapterHeard.store(platform::Now());
}

void AdapterServed(KT_Agent& agent, int type, int outcome) {
  if (type == BLOCK_STATUS && outcome == REQUEST_DONE) AdapterAnswered(agent);
}

AdapterLink AdapterThreadGiveUp(KT_Agent& agent, const char* thread, const char* why) {
  Diag() << thread << " cannot run: " << why << kendl;
  agent.GoIdleAdapterUnreachable();
  agent.Services().PopupMessage(why, kAgentMessageCaption, kMessageBoxAgentStyle);
  return ADAPTER_LINK_ENDED;
}

AdapterLink AdapterSilent(KT_Agent& agent, const char* thread, const std::string& adapter) {
  KT_SCP& scp = agent.Scp();
  bool raised;
  uint32_t interval;
  {
    auto lock = scp.Lock();
    raised = scp.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM) != 1;
    scp.upsStatus.SetAlarm(ALARM_LOST_UPS_COMM);
    interval = std::max<uint32_t>(1, scp.config.GetPollingInterval());
  }
  Diag() << thread << ": the network adapter " << adapter << " does not answer; asked again in " << interval
         << " s\n";
  if (raised) Diag() << "Tremona: ERROR no answer from the network adapter " << adapter << kendl;
  return ADAPTER_LINK_SILENT;
}

bool AdapterRetryDue(KT_Agent& agent, int64_t lastTry) {
  uint32_t interval;
  {
    KT_SCP& scp = agent.Scp();
    auto lock = scp.Lock();
    interval = std::max<uint32_t>(1, scp.config.GetPollingInterval());
  }
  const int64_t now = platform::Now();
  return now < lastTry || now - lastTry >= static_cast<int64_t>(interval);
}

AdapterLink CheckAdapterHostFor(KT_Agent& agent, const char* thread, const std::string& adapter,
                                const char* incorrect) {
  switch (CheckAdapterHost(SplitAdapterName(adapter).host)) {
    case ADAPTER_HOST_USABLE:
      return ADAPTER_LINK_UP;
    case ADAPTER_HOST_NO_ANSWER:
      Diag() << thread << ": the name service does not answer for " << adapter << kendl;
      return AdapterSilent(agent, thread, adapter);
    case ADAPTER_HOST_MALFORMED:
    case ADAPTER_HOST_UNKNOWN:
      break;
  }
  Diag() << thread << ": " << adapter << " names no host\n";
  return AdapterThreadGiveUp(agent, thread, incorrect);
}
