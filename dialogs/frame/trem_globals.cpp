#include "dialogs/frame/trem_globals.h"

#include <atomic>

#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"

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
}

KT_SCP* GetSCPObject() {
  return &gScp;
}

extern "C" void _InitTremDLL() {
  if (g_initialized.exchange(true)) return;
  // The tables fill themselves on first use; touching them here makes the start-up cost
  // land at start-up rather than at the first dialog.
  (void)HasString(IDS_UNABLE_TO_RETRIEVE);
  (void)HasHelpTopic(kAlarmHelpFile, kGeneralHelpTopic);
}

bool TremInitialized() {
  return g_initialized.load();
}
