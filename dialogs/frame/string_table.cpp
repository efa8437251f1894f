#include "dialogs/frame/string_table.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Table {
  std::mutex mutex;
  std::map<int, std::string> texts;
  std::vector<int> conflicts;
};

Table& GetTable() {
  static Table table;
  return table;
}

void Add(Table& table, int id, const char* text) {
  const std::string value = text != nullptr ? text : "";
  auto [it, inserted] = table.texts.emplace(id, value);
  if (!inserted && it->second != value &&
      std::find(table.conflicts.begin(), table.conflicts.end(), id) == table.conflicts.end()) {
    table.conflicts.push_back(id);
  }
}

// The texts of the dialogs and the consoles, by id.
const StringTableEntry kFrameStrings[] = {
    {132, "Brenvale®"},
    {133, "ERROR: Unable to initialize communications"},
    {1165, "View System Information"},
    {1168, "Configure Shutdown Parameters"},
    {1172, "Host Name"},
    {1176, "Community Name"},
    {1250, "Configure Serial Device"},
    {1269, "Date and Time"},
    {1271, "Event"},
    {1357, "Configure Network Alarm Recipients"},
    {1374, "View Meters"},
    {1375, "Value"},
    {1651, "Must select delay seconds"},
    {1655, "Unable to get current configuration"},
    {1657, "Cannot insert item"},
    {1658, "Cannot set item"},
    {1670, "Configure UPS Options"},
    {1671, "Configure Network Client"},
    {1672, "View Battery Information"},
    {1673, "View Alarm Queue"},
    {1674, "View UPS Mimic"},
    {1684, "Configure Network Manager Message"},
    {1688, "Power Waveforms"},
    {1691, "Configure Network Adapter"},
    {3195, "Must select interval seconds"},
    {3196, "Receptacle Control"},
    {3198, "Manage Diagnostic Test"},
    {3199, "Configure Networking Properties"},
    {3201, "Interval minutes must be between 0 and 20"},
    {3202, "Interval seconds must be between 0 and 59"},
    {3203, "Delay minutes must be between 0 and 20"},
    {3205, "Unable to add action!"},
    {3207, "Adapter's name or IP Address must be specified"},
    {3208, "Duplicate entries for the same name is not allowed"},
    {3209, "Get Community Name"},
    {3210, "Set Community Name"},
    {3211, "marble"},
    {3212, "harvest"},
    {3213, "Unable to locate mib.txt file."},
    {3214, "Invalid Hostname"},
    {3215, "Done, Passed."},
    {3221, "None"},
    {3223, "Passwords must be between 2 and 15 characters"},
    {3224, "Password(s) incorrect"},
    {3225,
     "Your agent can't talk to network adapters\nIs TCP/IP setup correctly and do you have a mib.txt file ?"},
    {3226, "Password not verified, Still Save ?"},
    {3227, "The SNMP Network Adapter is not connect to an UPS !!"},
    {3228, "Password correct"},
    {3229, "Connected UPS not up - Can't select this network adapter at this time"},
    {3230, "Password incorrect or unverified "},
    {3231, "or invalid hostname"},
    {3232, " - try 'marble' and 'harvest'"},
    {3233, "Unable to locate <mib.txt> file.\nSNMP disabled."},
    {3234, "KelpR3"},
    {3235, "A hostname or IP address must be supplied"},
    {3236, "Get Community Name must be 2 to 15 digits"},
    {3237, "Set Community Name must be 2 to 15 digits"},
    {3238, "A 6 digit password must be supplied"},
    {3239, "Can't verify password now since the UPS is on Battery"},
    {3240, "Can't determine UPS State - can't verify password"},
    {3245, "The Network Adapter is not connect to an UPS !!"},
    {3246, "Your Netware agent can't connect to that host"},
    {3248, " is not responding yet - enter passwords and click 'Verify Password(s)'"},
    {3249, "(no alarms found)"},
    {3259, "Time"},
    {3260, "Status"},
    {3263, "Passed"},
    {3266, "Press OK to perform diagnostic test now"},
    {3267, "no test scheduled"},
    {3276, "No meter types selected"},
    {3297, "Delay seconds must be between 0 and 59"},
    {3304, "Unknow branch time id"},
    {3319, "Please select at least one item"},
    {3330, "Unable to retrieve data from the Agent"},
    {3331, "Unable to complete the print job."},
    {3332, "Unable to get current configuration"},
    {3352, "Unable to open file for writing!"},
    {3354, "Invalid data"},
    {3360, "Network Address"},
    {3363, "Unable to retrieve data"},
    {3364, "Cannot add item to list"},
    {3368, "Host name must be provided"},
    {3375, "Select Hosts:"},
    {3437, "All"},
    {3449, "Unable to open file for writing!"},
    {3450, "Host name or IP Address must be specified."},
    {3451, "Interval minutes must be between 0 and 20"},
    {3452, "Interval seconds must be between 0 and 59"},
    {3453, "Please enter a message to be sent."},
    {3523, "IsFunctionSupported failure"},
    {3537, "Horn status must be selected"},
    {3566, "Unable to create temporary print file."},
    {3589, "NONE"},
    {3624, "Tremona GUI is running"},
    {3625, "Tremona is already running.\n"},
    {3627, "marble"},
    {3628, "harvest"},
    {3629, " - Host: "},
    {3630, "Idle"},
    {3631, "Unable to communicate with the UPS Agent.\nRestart the Agent."},
    {3654, "FENN"},
    {3656, "Fenn"},
    {3657, "Tavona"},
    {3658, "Cannot insert item"},
    {3659, "Cannot set item"},
    {3665, "ERROR waiting for SCP queue"},
    {3669, "Countn't update Menu"},
    {3693, "#"},
    {3706, "Tremona Kessa"},
    {3709, "The Time_out Value has to be greater than the Polling Interval value"},
    {57344, "Tremona® Vigil95"},
    {57345, "fenn.exe"},
    {57346, "tavona.exe"},
};

void EnsureFrameStrings(Table& table) {
  static const bool done = [&table] {
    for (const StringTableEntry& e : kFrameStrings) Add(table, e.id, e.text);
    return true;
  }();
  (void)done;
}

}  // namespace

StringTableRegistrar::StringTableRegistrar(std::initializer_list<StringTableEntry> entries) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  EnsureFrameStrings(table);
  for (const StringTableEntry& e : entries) Add(table, e.id, e.text);
}

QString LoadString(int id) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  EnsureFrameStrings(table);
  auto it = table.texts.find(id);
  return it == table.texts.end() ? QString() : QString::fromStdString(it->second);
}

bool HasString(int id) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  EnsureFrameStrings(table);
  return table.texts.count(id) != 0;
}

std::vector<int> StringTableConflicts() {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  EnsureFrameStrings(table);
  return table.conflicts;
}
