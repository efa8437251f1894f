#include "agent/servers/local_server.h"

#include "agent/engine/agent.h"
#include "agent/servers/command_server.h"
#include "agent/engine/os_services.h"
#include "agent/engine/trace_dumps.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/system_log.h"

KT_LocalServer::KT_LocalServer(KT_SCP& scp) : scp_(scp) {}

int KT_LocalServer::Open() {
  if (ipc_.Initialize() != 1 || ipc_.OpenChannel(kIpcAgentRole) < 0) {
    Diag() << "LocalThread: the shared-memory channel cannot be opened yet; it is served as soon as it opens\n";
    PrintErrorStatus(ipc_);
    // A service traces nowhere: its log says it once too.
    platform::WriteSystemLog("VigilNT", platform::LogEntryType::kWarning,
                             {"The local consoles' channel cannot be opened yet (" + ipc_.Problem() +
                              "); it is tried again every second"});
    waiting_ = true;
    return -1;
  }
  return 1;
}

void KT_LocalServer::Close() {
  ipc_.CloseChannel();
  clients_.Clear();
}

void KT_LocalServer::Turn() {
  Diag() << "LOCAL THREAD IS ALIVE" << kendl;
  if (waiting_ && ipc_.Ready()) {
    waiting_ = false;
    platform::WriteSystemLog("VigilNT", platform::LogEntryType::kInformation,
                             {"The local consoles' channel is open now"});
  }
  if (!ipc_.IsDataReady()) {
    Diag() << "Waiting for input\n";
  } else {
    std::vector<uint8_t> received;
    const int r = ipc_.Receive(&peer_, received);
    if (r < 0) {
      PrintErrorStatus(ipc_);
    } else if (received.empty()) {
      Diag() << "ERROR: Nothing to read\n";
    } else {
      std::vector<uint8_t> answer;
      ServeScpBlock(scp_, clients_, ipc_, peer_, received.data(), received.size(), answer);
    }
  }
  clients_.PushUpdates(scp_, ipc_);
}

int LocalThread(KT_Agent& agent) {
  KT_OSServices& services = agent.Services();
  std::atomic<int32_t>& state = services.State(THREAD_LOCAL);
  {
    // A channel that cannot be opened yet is tried again at every turn (see KT_IPC) and served
    // from the turn it opens on: the thread never ends before it is stopped.
    KT_LocalServer server(agent.Scp());
    server.Open();
    while (state.load() == kThreadRunning) {
      server.Turn();
      if (state.load() != kThreadRunning) break;
      services.Pause(1000);
    }
    server.Close();
  }
  state.store(kThreadEnded);
  Diag() << "exiting local thread\n";
  return 0;
}
