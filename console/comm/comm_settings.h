// The consoles' fixed communication timing. The time-out after which the worker treats a host
// as lost, and the polling interval, are the library's networking settings
// (dialogs/network/net_settings.h).
#pragma once

#include <cstdint>

inline constexpr int64_t kHeartbeatSeconds = 30;
