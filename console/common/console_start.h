// What both consoles do before their first dialog: their working directory, the MIB file, the
// SCP object's start flags and the single-console mapping of the local channel.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {
class NamedMapping;
}

namespace console {

// The consoles' working directory: $XDG_DATA_HOME/Brenvale/Tavona (~/.local/share when the
// variable is unset or not absolute). The dialogs keep their files there (cfgnet.dat,
// cfgmeter.dat, cfsubnet.dat, setup.dat, ...).
std::string WorkingDirectory();
// Creates the working directory when missing and makes it the current one, then provides the
// shipped data files there (ProvideShippedFiles). False, with the reason in *error, when
// entering fails (the console then stays where it was started, and nothing is copied).
bool EnterWorkingDirectory(std::string* error);

// The folder of the data files that come with the consoles: share/vigil beside the folder of
// the running program (/usr/share/vigil for /usr/bin/Tavona; the build tree's share/vigil for
// the programs of a build).
std::string ShippedDataFolder();
// The shipped files a fresh account needs in the working directory: "modems.txt", the modems
// that the pager recipient dialog offers (it has no list of its own).
std::vector<std::string> ShippedFileNames();
// Copies each shipped file that the current directory lacks from `folder` into it. A file
// already there (the user's own, or one a console copied before) is never replaced, not even by
// a console starting at the same moment; a file the folder lacks is left out. A copy that fails
// is said on standard error, with the reason; false then.
bool ProvideShippedFiles(const std::string& folder);

// The MIB file: mib.txt in the current directory, else the shipped one (ConsoleMibFile).
std::string MibFilePath();
// SCP_FLAG_SNMP when the MIB file reads, SCP_FLAG_SNMP_SERVICE when the system's "snmp" service
// runs (asked without starting it).
void SetScpStartFlags();

// "Tremona GUI is running": the 32-byte mapping the console of the local channel holds. The
// local channel has one console end, so only one console may use it at a time, whatever its
// release: a console of another release holds a mapping of another layout there.
class GuiRunningMapping {
 public:
  GuiRunningMapping();
  ~GuiRunningMapping();
  // Creates the mapping. False when it existed already (another console holds the channel) or
  // could not be made; the mapping is then not held, and Refusal() says why.
  bool Take();
  bool Held() const;
  void Release();
  // Why the last Take failed, beyond "another console holds the channel" (empty then): a
  // console of another release holds it, and what to do; or what keeps the mapping from being
  // made. One or two lines for the user.
  const std::string& Refusal() const { return refusal_; }

 private:
  std::unique_ptr<platform::NamedMapping> mapping_;
  std::string refusal_;
};

// The message of a console that the local channel refuses: "Tremona is already running.\n",
// then the mapping's Refusal() when it has one.
std::string AlreadyRunningText(const GuiRunningMapping& mapping);

}  // namespace console
