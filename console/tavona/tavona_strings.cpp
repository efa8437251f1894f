// The texts only the central console shows: its UPS state texts, the About caption, the
// agent-start messages, the menu failures and the status-bar prompts of its commands
// ("prompt\ntool tip").
#include "console/tavona/tavona_ids.h"
#include "dialogs/frame/string_table.h"

namespace {

const StringTableRegistrar kTavonaStrings{
    // UPS states.
    {2280, "Bad Battery Detected"},
    {2281, "UPS On Battery"},
    {2282, "Low Battery"},
    {2284, "Input Out Of Tolerance"},
    {2285, "Overload"},
    {2286, "Bypass"},
    {2287, "Communications With UPS Lost"},
    {2288, "Software Error"},
    {2289, "Program Started"},
    {2290, "Program Terminated"},
    {2291, "Remote Configuration Change"},
    {2292, "Scheduled Shutdown Pending"},
    {2293, "Shutdown Due To Power Failure"},
    {2294, "Shutdown Due To Low Battery"},
    {2295, "Remote Shutdown Pending"},
    {2296, "Communications With Agent Lost"},
    {2297, "Diagnostic Test In Progress"},
    {61446, "Utility Over Voltage - Buck"},
    {61447, "Utility Under Voltage - Boost"},
    {61448, "No UPS Configured"},
    {61449, "Client Mode"},
    {61450, "UPS Discovery In Progress"},
    {61451, "Normal Operation"},
    {61452, "Remote Shutdown Failed"},
    {61453, "UPS Error"},
    {3626, "About  "},
    // Starting the agent.
    {3635, "The specified service control manager database handle does not have access to the service."},
    {3636, "The specified handle is invalid."},
    {3637, "The specified service name is invalid."},
    {3638, "The specified service does not exist."},
    {3639, "Unknown service error."},
    {3640, "Access Denied! The service could not be started. "},
    {3641, "Invalid Service Handle! The service could not be started. "},
    {3642, "The Service binary file could not be found!  The service could not be started. "},
    {3643, "The Service is already running! "},
    {3644, "The Service database is locked!  The service could not be started. "},
    {3645, "The Service depends on a service that does not exist!  The service could not be started. "},
    {3646,
     "The service depends on another service that failed to start!  The service could not be started. "},
    {3647, "The service has been disabled!  The service could not be started. "},
    {3648, "The Service could not be logged on!  The service could not be started. "},
    {3649, "The service has been marked for deletion! "},
    {3650, "A thread could not be created for the service!  The service could not be started. "},
    {3651, "The service did not respond to the start request in a timely fashion! "},
    {3652, "Invalid access to memory location."},
    {3653, "Unknown error while attempting to start VIGILNT."},
    {3661, "Tremona agent is already running.\nTerminate agent first!\""},
    {3662, "Access Denied!  Press OK"},
    {3663, "Database Does Not Exist!  Press OK"},
    {3664, "Invalid Parameter!  Press OK"},
    {3666, "Cannot destroy menu"},
    {3667, "Cannot load menu"},
    {3668, "Cannot set menu"},
    // Prompts of the commands.
    {40003, "Configure the agent's serial port to the UPS\nSerial Device"},
    {40004, "Configure the UPS network adapter the agent uses\nNetwork Adapter"},
    {40041, "Configure the console's networking properties\nNetworking Properties"},
    {32795, "Set when the agent shuts the computer down\nShutdown Parameters"},
    {40005, "Choose the actions for each event\nEvents"},
    {40006, "Edit the e-mail recipients of event notices\nE-mail Recipients"},
    {40007, "Edit the pager recipients of event notices\nPager Recipients"},
    {40008, "Edit the network managers that receive alarms\nNetwork Alarm Recipients"},
    {40009, "Configure the agent's event log\nEvent Log"},
    {32904, "Set the UPS's own options\nUPS Options"},
    {32796, "Change the agent's password\nPassword"},
    {40010, "Schedule shutdowns of the computer\nScheduled Shutdown"},
    {40011, "Schedule the UPS's diagnostic tests\nScheduled Diagnostic Test"},
    {40012, "Display the battery's state\nBattery Information"},
    {40013, "Display the agent's event log\nEvent Log Information"},
    {40014, "Display the UPS and the computer it protects\nSystem Information"},
    {40015, "Display meters\nView Meters"},
    {40016, "Display the UPS's power path\nUPS Mimic"},
    {40018, "Display the UPS's alarm queue\nAlarm Queue"},
    {40017, "Display the results of the diagnostic tests\nDiagnostic Results"},
    {32893, "End the agent\nAgent Termination"},
    {32900, "Run a diagnostic test of the UPS now\nDiagnostic Test"},
    {40030, "Manage the UPS network adapter\nNetwork Adapter"},
    {32789, "Write a report of a problem\nProblem Report"},
    {32776, "How to reach technical support\nTechnical Support"},
    {32905, "Configure network clients\nConfigure network clients"},
    {40019, "Start the agent on this computer\nAgent Startup"},
    {32792, "Display program information and version\nAbout"},
    {40036, "Show the splash screen when the console starts\nSplash Screen"},
    {40037, "Ask for the access mode when the console starts\nAccess Mode Dialog"},
    {40039, "Connect to the last server when the console starts\nReconnect Last Server"},
    {40020, "Show the help's contents\nHelp Contents"},
    {40021, "Search the help\nHelp Search"},
    {57665, "Quit the console\nExit"},
    {59392, "Show or hide the toolbar\nToolbar"},
    {59393, "Show or hide the status bar\nStatus Bar"},
};

}  // namespace

namespace tavona {

// Referenced by the application so that this unit is linked in from the static library.
bool TavonaStringsRegistered() {
  return HasString(2281);
}

}  // namespace tavona
