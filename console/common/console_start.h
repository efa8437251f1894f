// What both consoles do before their first dialog: their working directory, the MIB file, the
// SCP object's start flags and the single-console mapping of the local channel.
#pragma once

#include <memory>
#include <string>

namespace platform {
class NamedMapping;
}

namespace console {

// The consoles' working directory: $XDG_DATA_HOME/Brenvale/Tavona (~/.local/share when the
// variable is unset or not absolute). The dialogs keep their files there (cfgnet.dat,
// cfgmeter.dat, cfsubnet.dat, setup.dat, ...).
std::string WorkingDirectory();
// Creates the working directory when missing and makes it the current one. False, with the
// reason in *error, when that fails (the console then stays where it was started).
bool EnterWorkingDirectory(std::string* error);

// The MIB file: mib.txt in the current directory, else the agent's /var/lib/vigil/mib.txt.
std::string MibFilePath();
// SCP_FLAG_SNMP when the MIB file reads, SCP_FLAG_SNMP_SERVICE when the system's "snmp" service
// runs (asked without starting it).
void SetScpStartFlags();

// "Tremona GUI is running": the 32-byte mapping the console of the local channel holds. The
// local channel has one console end, so only one console may use it at a time.
class GuiRunningMapping {
 public:
  GuiRunningMapping();
  ~GuiRunningMapping();
  // Creates the mapping. False when it existed already (another console holds the channel) or
  // could not be made; the mapping is then not held.
  bool Take();
  bool Held() const;
  void Release();

 private:
  std::unique_ptr<platform::NamedMapping> mapping_;
};

}  // namespace console
