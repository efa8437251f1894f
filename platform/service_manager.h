// The service manager (systemd) as the agent daemon sees it: whether this process was started
// as a service, and the state reports a service sends it (sd_notify's datagram protocol on
// the socket named by NOTIFY_SOCKET).
//
// A process counts as started by the service manager when INVOCATION_ID is set: systemd sets
// it for every process it starts as a unit, and nothing else does.
#pragma once

#include <string_view>

namespace platform {

// True when INVOCATION_ID is set and not empty.
bool StartedByServiceManager();

// Sends one state report ("READY=1", "STOPPING=1", "STATUS=...", several joined by '\n') to
// the service manager. 1 sent; 0 when there is no notification socket (not a notify-type
// service, or not started by the manager); -1 when the send failed.
int NotifyServiceManager(std::string_view state);

}  // namespace platform
