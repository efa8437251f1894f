// The desktop agent's own texts and command ids.
#pragma once

// String table.
inline constexpr const char* kStringAppTitle = "Tremona\u00AE Vigil95";  // 57344
inline constexpr const char* kStringFennProgram = "fenn.exe";            // 57345
inline constexpr const char* kStringTavonaProgram = "tavona.exe";        // 57346
// The console program the tray menu starts for both of them (the console shows the right
// edition for the agent's connection by itself).
inline constexpr const char* kMonitorProgram = "Tavona";
inline constexpr const char* kMonitorFailedText = "Unable to run monitor program.\n";
// Commands of menu 133.
inline constexpr int kCommandAbout = 57664;
inline constexpr int kCommandMonitor = 32775;
inline constexpr const char* kMenuAboutText = "&About...";
inline constexpr const char* kMenuMonitorText = "&Monitor";
// The About box (template 100).
inline constexpr int kAboutStateControl = 1000;
inline constexpr int kAboutNameControl = 1001;
inline constexpr int kAboutVersionControl = 1002;
inline constexpr const char* kAboutFixedLine = "UPS monitoring and managed shutdown for this computer";
