#include "core/base/service_start.h"

#include <strings.h>

#include <string>

#include "platform/service_control.h"

namespace {

// The unit behind a service name; empty for the network stack.
std::string UnitOf(const char* name) {
  if (strcasecmp(name, "VigilNT") == 0) return "VigilNT.service";
  if (strcasecmp(name, "snmp") == 0) return "snmpd.service";
  return std::string(name) + ".service";
}

}  // namespace

int StartServiceByName(const char* name, int start) {
  if (name == nullptr || *name == '\0') return SERVICE_NOT_RUNNING;
  // The network stack is part of the kernel: it always runs.
  if (strcasecmp(name, "tcpip") == 0) return SERVICE_RUNNING;
  const std::string unit = UnitOf(name);
  if (!platform::IsValidUnitName(unit)) return SERVICE_NOT_RUNNING;
  if (platform::IsUnitActive(unit) == 1) return SERVICE_RUNNING;
  if (!start) return SERVICE_NOT_RUNNING;
  return platform::StartUnit(unit) == 1 ? SERVICE_STARTED : SERVICE_NOT_RUNNING;
}

platform::UnitStartOutcome StartServiceExplained(const char* name) {
  if (name == nullptr || *name == '\0' || strcasecmp(name, "tcpip") == 0) {
    return name != nullptr && *name != '\0' ? platform::UnitStartOutcome::AlreadyActive
                                            : platform::UnitStartOutcome::NotFound;
  }
  return platform::StartUnitExplained(UnitOf(name));
}
