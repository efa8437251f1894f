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

// The systemctl program to run: "systemctl" on PATH by default, or the program that
// VIGIL_SYSTEMCTL names; "" restores that default.
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

// What a start of a unit came to, told from the unit's properties (`systemctl show`: LoadState,
// ActiveState, Result, ExecMainStatus) where the start did not happen.
enum class UnitStartOutcome {
  Started,
  NotPrivileged,  // the start was not tried: starting units needs root
  NoSystemd,      // systemctl cannot be run or answers nothing (no systemd on this machine)
  NotFound,       // LoadState=not-found
  Masked,         // LoadState=masked
  AlreadyActive,  // ActiveState=active before the start
  Dependency,     // the start job failed and the unit itself never ran (a dependency failed)
  ExecFailed,     // ExecMainStatus=203: its program could not be run
  TimedOut,       // Result=timeout, or the start job ran past its limit
  Other,
};
const char* UnitStartOutcomeName(UnitStartOutcome outcome);

// The unit's properties as `systemctl show` gives them ("Key=value" lines); false when
// systemctl could not be run or failed.
bool ShowUnit(const std::string& unit, const std::vector<std::string>& properties, std::string* out);
// Starts the unit as StartUnit does and says why when it did not start.
UnitStartOutcome StartUnitExplained(const std::string& unit);

// Runs a program as RunProgram does, its standard output (at most 64 KiB) into *out.
int RunProgramOutput(const std::vector<std::string>& argv, int timeoutMs, std::string* out);
// Replaces RunProgramOutput for the service queries whose output is read (`systemctl show`); an
// empty function restores it. Without one, a runner set with SetServiceRunner answers them with
// no output.
using ServiceOutputRunner =
    std::function<int(const std::vector<std::string>& argv, int timeoutMs, std::string* out)>;
void SetServiceOutputRunner(ServiceOutputRunner runner);

}  // namespace platform
