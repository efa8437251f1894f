#include "agent/engine/agent.h"
#include "agent/engine/os_services.h"
#include "agent/workers/worker_threads.h"
#include "core/base/ktdiag.h"

bool AdapterThreadGiveUp(KT_Agent& agent, const char* thread, const char* why) {
  Diag() << thread << " cannot run: " << why << kendl;
  agent.GoIdleAdapterUnreachable();
  agent.Services().PopupMessage(why, kAgentMessageCaption, kMessageBoxAgentStyle);
  return false;
}
