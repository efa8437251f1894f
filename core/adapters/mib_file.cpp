#include "core/adapters/mib_file.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "core/adapters/snmp.h"
#include "core/base/error_status.h"
#include "platform/service_settings.h"

bool ReadMibFile(const char* name) {
  if (name == nullptr || FileSize(name) <= 0) return false;
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  // The SNMP library starts once for the process (no default modules, no configuration
  // files); quiet about what the file imports but does not define.
  KT_SNMP::Initialize();
  netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 0);
  // The parser reports what the file imports but the machine lacks on the library's log;
  // the file is read all the same, so its report stays off standard error.
  snmp_disable_stderrlog();
  snmp_enable_filelog("/dev/null", 1);
  const bool read = read_mib(name) != nullptr;
  snmp_disable_filelog();
  snmp_enable_stderrlog();
  return read;
}

std::string ConsoleMibFile() {
  if (::access(kMibFileName, R_OK) == 0) return kMibFileName;
  // Where the consoles' other shipped files lie too (console/common/console_start.h).
  const std::string shipped = platform::ProgramDirectory() + "/../share/vigil/" + kMibFileName;
  if (::access(shipped.c_str(), R_OK) == 0) return shipped;
  return std::string("/var/lib/vigil/") + kMibFileName;
}
