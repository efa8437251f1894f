// The consoles' communication timing, one value of each per process.
//
// The time-out is the number of seconds without block-1 or block-2 traffic after which the
// worker treats a host as lost; the networking properties of a console change it. The
// heartbeat interval is fixed.
#pragma once

#include <cstdint>

inline constexpr int64_t kHeartbeatSeconds = 30;
inline constexpr int kDefaultCommTimeoutSeconds = 90;
inline constexpr int kDefaultPollingIntervalSeconds = 30;

int CommTimeoutSeconds();
// A value of 0 or below leaves the setting unchanged.
void SetCommTimeoutSeconds(int seconds);
int PollingIntervalSeconds();
void SetPollingIntervalSeconds(int seconds);
