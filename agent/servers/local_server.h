// The agent's local command server: the twin of the network server (agent/servers/network_server.h)
// over the shared-memory channel (core/network/ipc.h, the agent's role 7010). It serves one SCP frame
// per turn for the consoles on this computer and pushes the status block to those that
// registered. The channel has no peer addresses: every local console is the same peer, so
// registration holds one entry at most. It sends no network-shutdown commands.
#pragma once

#include "agent/servers/client_list.h"
#include "core/network/ipc.h"

class KT_Agent;
class KT_SCP;

class KT_LocalServer {
 public:
  explicit KT_LocalServer(KT_SCP& scp);
  KT_LocalServer(const KT_LocalServer&) = delete;
  KT_LocalServer& operator=(const KT_LocalServer&) = delete;

  // Initialises and opens the channel in the agent's role. 1, or -1 (its error record is
  // traced, and the system log says why): the channel then opens at a later turn, as soon as
  // its objects can be made.
  int Open();
  void Close();
  // One turn: serve the block the console side wrote (the ready test waits up to 500 ms),
  // then push the status block to the registered console.
  void Turn();

  KT_ClientList& Clients() { return clients_; }
  KT_IPC& Channel() { return ipc_; }

 private:
  KT_SCP& scp_;
  KT_IPC ipc_;
  KT_ClientList clients_;
  KT_Address peer_;  // stays empty: the channel has no peer address
  bool waiting_ = false;  // the channel could not be opened yet
};

// The local thread procedure: turns of KT_LocalServer while the thread's state word is 1 (also
// while the channel cannot be opened yet); writes 255 into it when it ends. Returns 0.
int LocalThread(KT_Agent& agent);
