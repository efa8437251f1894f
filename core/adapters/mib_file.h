// The adapter MIB file "mib.txt" in the data directory, read through net-snmp's MIB parser.
// The agent offers SNMP (the adapter client, traps) only when the file can be read.
#pragma once

#include <string>

inline constexpr const char* kMibFileName = "mib.txt";

// True when the file exists and net-snmp parsed it into its MIB tree. A missing file is
// answered false without a word (the agent then runs without SNMP); only the modules the
// file names are loaded, never the system's whole MIB collection.
bool ReadMibFile(const char* name);

// The MIB file a console reads: "mib.txt" in its working directory when it has one, else the
// one the suite ships: share/vigil/mib.txt beside the programs' folder (the build tree), else
// the agent package's /var/lib/vigil/mib.txt.
std::string ConsoleMibFile();
