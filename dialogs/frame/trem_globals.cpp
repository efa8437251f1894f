#include "dialogs/frame/trem_globals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "core/adapters/snmp.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/network/net_settings.h"
#include "platform/message_log.h"

// Built at library load in this order (the guard's state comes first, in host_control.cpp,
// whose statics need no construction order of their own).
KT_SCP gScp;
KT_SCP* prunScp = nullptr;
KT_Hosts gHosts;
KT_Discover gDiscover;
int gnCommMode = 0;
QString gcsMessageBoxTitle;

namespace {
std::atomic<bool> g_initialized{false};

// TCP/IP counts as usable when the process can open a UDP socket.
bool UdpSocketAvailable() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}
}  // namespace

KT_SCP* GetSCPObject() {
  return &gScp;
}

extern "C" void _InitTremDLL() {
  if (g_initialized.exchange(true)) return;
  // The tables fill themselves on first use; touching them here makes the start-up cost
  // land at start-up rather than at the first dialog.
  (void)HasString(IDS_UNABLE_TO_RETRIEVE);
  (void)HasHelpTopic(kAlarmHelpFile, kGeneralHelpTopic);
  // The network adapter dialogs talk to adapters directly: SNMP through the library's own
  // clients, the network BCM protocol over UDP.
  KT_SNMP::Initialize(&gScp);
  if (UdpSocketAvailable()) gScp.SetFlag(SCP_FLAG_TCPIP);
  LoadNetSettings();
  // Headless runs log their boxes instead of showing them; a layer a test or tool installed
  // before stays.
  const std::string log = platform::MessageLogPath();
  if (!log.empty() && !MessageBoxLayerInstalled()) {
    static LoggedMessageBoxes logged(log);
    SetMessageBoxLayer(&logged);
  }
}

bool TremInitialized() {
  return g_initialized.load();
}
