#include "agent/mib_file.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdlib>
#include <mutex>

#include "core/error_status.h"

bool ReadMibFile(const char* name) {
  if (name == nullptr || FileSize(name) <= 0) return false;
  static std::mutex mutex;
  static bool initialised = false;
  std::lock_guard<std::mutex> lock(mutex);
  if (!initialised) {
    // No default module list and no warnings on standard error: the agent reads one file.
    setenv("MIBS", "", 0);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 0);
    netsnmp_init_mib();
    initialised = true;
  }
  return read_mib(name) != nullptr;
}
