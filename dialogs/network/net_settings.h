// The console's networking settings, one pair per process: the polling interval and the
// time-out after which the console treats an agent as no longer answering.
//
// The time-out is the SCP objects' own process-wide communication time-out
// (KT_SCPBase::CommTimeout), so KT_SCPBase::IsCommTimedOut and the console's worker read the
// same number. The polling interval is kept and stored; nothing reads it yet.
//
// Both live in the text file "cfgnet.dat" in the console's current directory: the polling
// interval and the time-out, one decimal number per line ("%d\n%d\n"). The library takes the
// file's values at start-up (_InitTremDLL); the networking properties dialog rewrites it.
#pragma once

#include <QString>

inline constexpr int kDefaultPollingIntervalSeconds = 30;
inline constexpr int kDefaultCommTimeoutSeconds = 90;
inline constexpr int kMinPollingIntervalSeconds = 10;
inline constexpr int kMaxPollingIntervalSeconds = 600;
inline constexpr int kMinCommTimeoutSeconds = 30;
inline constexpr int kMaxCommTimeoutSeconds = 3600;
inline constexpr const char* kNetSettingsFileName = "cfgnet.dat";

int CommTimeoutSeconds();
// A value of 0 or below leaves the setting unchanged.
void SetCommTimeoutSeconds(int seconds);
int PollingIntervalSeconds();
void SetPollingIntervalSeconds(int seconds);

struct NetSettingsFile {
  int pollingInterval = kDefaultPollingIntervalSeconds;
  int timeout = kDefaultCommTimeoutSeconds;
};

// Reads the file into `values`: 1 when it could be opened, 0 when not (values unchanged). Each
// line's leading decimal number replaces its value when it lies in its range (10..600,
// 30..3600); a missing, unreadable or out-of-range line leaves its value as it was.
int ReadNetSettingsFile(const QString& path, NetSettingsFile& values);
// Creates or truncates the file with the two lines: true, or false when it cannot be written.
bool WriteNetSettingsFile(const QString& path, const NetSettingsFile& values);
// Takes the values of "cfgnet.dat" (when present) as the process's settings.
void LoadNetSettings();
