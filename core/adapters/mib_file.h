// The adapter MIB file "mib.txt" in the data directory, read through net-snmp's MIB parser.
// The agent offers SNMP (the adapter client, traps) only when the file can be read.
#pragma once

inline constexpr const char* kMibFileName = "mib.txt";

// True when the file exists and net-snmp parsed it into its MIB tree. A missing file is
// answered false without a word (the agent then runs without SNMP); only the modules the
// file names are loaded, never the system's whole MIB collection.
bool ReadMibFile(const char* name);
