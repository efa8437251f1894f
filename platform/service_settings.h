// Service settings of the agent daemon: where it keeps its files and which programs and
// endpoints its effects on the machine use. On Linux this small file takes the place of the
// service's registry value.
//
// The file is /etc/vigil/VigilNT.conf, or the file named by the environment variable
// VIGIL_AGENT_CONF. One "key = value" a line; blank lines and lines starting with '#' or ';'
// are ignored; blanks around keys and values are dropped. Keys:
//
//   data_directory    directory of the record files (absolute)   (the program's own directory)
//   trace_file        trace output of the service (absolute)     (none: no trace as a service)
//   shutdown_command  command that powers the machine off        (shutdown -h now)
//   reboot_command    command that restarts the machine          (shutdown -r now)
//   sound_player      program that plays a sound file            (none: the terminal bell)
//   saver_command     the application saver                      (saver)
//   snmp_service      system SNMP service started at start-up    (snmp; empty: none started)
//   bind_address      local IPv4 address of the network server   (none: every address)
//   agentx_socket     AgentX address of the system SNMP service  (net-snmp's default,
//                     unix:/var/agentx/master): the trap hand-off connects there
//   user_terminals    yes | no: messages, broadcasts and the bell go to the terminals of
//                     logged-in users (yes)
//   command_user      the account that runs the commands a console sets (the pre-shutdown
//                     command, the command action) when the agent runs as root     (nobody)
//
// Consoles change the configuration without a password, so a command they set must not run
// as root unless this root-owned file says so (command_user = root). The file's own commands
// (shutdown, reboot, saver, sound player) run as the agent's user; an agent that is not root
// runs every command as itself.
//
// Commands are split into arguments and started without a shell (platform/process.h). A
// missing default file means the defaults; a file named by the environment must exist. Any
// bad line makes the whole file invalid: the agent then refuses to start rather than run with
// its files in an unintended place.
//
// VIGIL_DATA_DIR, when set, names the data directory over the file's setting.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline constexpr const char* kServiceSettingsEnv = "VIGIL_AGENT_CONF";
inline constexpr const char* kServiceSettingsDefaultPath = "/etc/vigil/VigilNT.conf";
inline constexpr const char* kDataDirectoryEnv = "VIGIL_DATA_DIR";
inline constexpr size_t kServiceSettingsMaxBytes = 64 * 1024;

struct ServiceSettings {
  std::string dataDirectory;
  std::string traceFile;
  std::string shutdownCommand = "shutdown -h now";
  std::string rebootCommand = "shutdown -r now";
  std::string soundPlayer;
  std::string saverCommand = "saver";
  std::string snmpService = "snmp";
  std::string bindAddress;
  std::string agentxSocket;
  bool userTerminals = true;
  std::string commandUser = "nobody";
};

// Parses settings text. On success fills `out` (defaults for what is not given) and returns
// true; on a bad line returns false with "line N: reason" in `error` and leaves `out` unchanged.
bool ParseServiceSettings(std::string_view text, ServiceSettings& out, std::string& error);

// The settings file in use: VIGIL_AGENT_CONF when set and not empty, else the default path.
std::string ServiceSettingsPath();

// Reads the settings file in use. True with the settings (the defaults when the default file
// is missing); false with the reason in `error` (unreadable, too large, a bad line, or a file
// named by the environment that does not exist).
bool LoadServiceSettings(ServiceSettings& out, std::string& error);

// The directory of the running program (from /proc/self/exe); "." when it cannot be read.
std::string ProgramDirectory();

// The data directory: VIGIL_DATA_DIR, else the settings' data_directory, else the program's
// directory.
std::string ResolveDataDirectory(const ServiceSettings& settings);

// The process-wide settings: what the program loaded at start, for the layers that carry out
// the agent's effects. The defaults until a program installs its own.
const ServiceSettings& GetServiceSettings();
void SetServiceSettings(const ServiceSettings& settings);

}  // namespace platform
