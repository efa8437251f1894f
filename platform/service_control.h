// System services through systemd: whether a unit is active, and starting one, by running
// `systemctl` with an argument vector (no shell) and a bounded wait.
//
// Starting a unit needs root; without it the start is not tried and fails. Tests point the
// layer at a stand-in: another systemctl program (SetSystemctlPath), or a runner function that
// never starts a process (SetServiceRunner), and a privilege check of their own.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Runs a program with its arguments (argv[0] is the program: a path, or a name looked up on
// PATH), its standard streams on /dev/null, and waits at most `timeoutMs` for it to end. The
// exit code (0..255); -1 when it could not be started, did not end normally, or ran past the
// time limit (it is then killed and reaped).
int RunProgram(const std::vector<std::string>& argv, int timeoutMs);

using ServiceRunner = std::function<int(const std::vector<std::string>& argv, int timeoutMs)>;

// The systemctl program to run ("systemctl" on PATH by default; "" restores it).
void SetSystemctlPath(const std::string& path);
// Replaces RunProgram for service commands; an empty function restores it.
void SetServiceRunner(ServiceRunner runner);
// Replaces the privilege check (effective user root); an empty function restores it.
void SetServicePrivilegeCheck(std::function<bool()> check);

// Time limits of the two service commands, in milliseconds.
inline constexpr int kServiceQueryTimeoutMs = 10000;
inline constexpr int kServiceStartTimeoutMs = 120000;

// True when `unit` names a systemd unit we may pass on a command line: letters, digits and
// ":_.@-", not starting with '-', at most 255 characters.
bool IsValidUnitName(const std::string& unit);
// 1 when the unit is active, 0 when not (or it cannot be asked).
int IsUnitActive(const std::string& unit);
// Starts the unit and waits for the start job (bounded): 1 started, 0 failed, not privileged,
// timed out or an invalid name.
int StartUnit(const std::string& unit);

}  // namespace platform
