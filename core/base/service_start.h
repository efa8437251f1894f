// Whether a system service runs, and starting it. The names are the system's own: "VigilNT"
// (this agent, the unit VigilNT.service), "snmp" (the system SNMP service, snmpd.service) and
// "tcpip" (the network stack, always running); names compare without case. Any other name is
// taken as the stem of a unit "<name>.service".
#pragma once

#include "platform/service_control.h"

// Service states answered by StartServiceByName.
enum ServiceStartResult : int {
  SERVICE_NOT_RUNNING = 0,  // not running, not started, or not possible
  SERVICE_RUNNING = 1,
  SERVICE_STARTED = 2,
};

// 1 when the service runs. Otherwise, with `start` set, starts it and waits (bounded) for the
// start to finish: 2 when it started; 0 when it failed, timed out or the right to start
// services is missing. 0 without `start`, and for a missing or unusable name.
int StartServiceByName(const char* name, int start);

// Starts the service (not asking first whether it runs) and says what came of it: Started, or
// why it did not start (platform/service_control.h). Used where the reason is shown to the user.
platform::UnitStartOutcome StartServiceExplained(const char* name);
