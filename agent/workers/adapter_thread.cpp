#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/workers/ups_worker.h"
#include "agent/workers/worker_threads.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

void AdapterAnswered(KT_Agent& agent) {
  agent.adapterHeard.store(platform::Now());
}

void AdapterServed(KT_Agent& agent, int type, int outcome) {
  if (type == BLOCK_STATUS && outcome == REQUEST_DONE) AdapterAnswered(agent);
}

bool AdapterThreadGiveUp(KT_Agent& agent, const char* thread, const char* why) {
  Diag() << thread << " cannot run: " << why << kendl;
  agent.GoIdleAdapterUnreachable();
  agent.Services().PopupMessage(why, kAgentMessageCaption, kMessageBoxAgentStyle);
  return false;
}
