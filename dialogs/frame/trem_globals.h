// The process-wide objects of the dialog library (libTrem.so), through which the consoles and
// the dialogs cooperate. Built when the library is loaded, in this order: the host guard's
// state, gScp, gHosts, gDiscover, gcsMessageBoxTitle; destroyed in reverse at unload. Each
// process that loads the library has its own.
//
//   gScp                the console's SCP object: its image of the agent's blocks and the
//                       table of outstanding requests the dialogs fill and the worker drains
//   prunScp             the SCP object of an agent running in this process; null in our
//                       consoles (none runs an agent in-process; tests set it). With it set and
//                       the notification block's local-mode flag 1, KTDialog serves block 5
//                       from it instead of over the network
//   gHosts              the host table (hosts.h), guarded by KT_HostControl
//   gDiscover           discovery, whose UDP (and IPX) channel is also the console's transport
//   gnCommMode          0 UDP, 1 IPX, 2 SNMP adapter, 3 local channel, 4 all networks,
//                       5 built-in host list; set by the console before its worker starts
//   gcsMessageBoxTitle  title of every message box of the library; set by the console
//
// The mutex "Mutex to lock SCP queue" guards gScp's request table between the console's threads;
// the console creates it (kScpQueueMutexName), the library only opens it. It is the process's
// own (scp_queue_mutex.h).
#pragma once

#include <QString>

#include "core/discovery/discover.h"
#include "core/scp/scp.h"
#include "dialogs/frame/hosts.h"

extern KT_SCP gScp;
extern KT_SCP* prunScp;
extern KT_Hosts gHosts;
extern KT_Discover gDiscover;
extern int gnCommMode;
extern QString gcsMessageBoxTitle;

inline constexpr const char* kScpQueueMutexName = "Mutex to lock SCP queue";

// The address of gScp.
KT_SCP* GetSCPObject();

extern "C" {
// Called once by each console at start-up, before any dialog is built; makes sure the
// library's resources (string table, help topics, dialog registry) are in place, starts the
// SNMP library, sets gScp's TCP/IP flag when a UDP socket can be opened and takes the
// networking settings of "cfgnet.dat". Calling it again does nothing.
void _InitTremDLL();
}
// True once _InitTremDLL has run.
bool TremInitialized();
