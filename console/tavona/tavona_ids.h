// The central console's ids: its commands (menu items and toolbar buttons), its menus, dialog
// templates, controls, pictures and the strings only it shows.
#pragma once

namespace tavona {

// Commands that open a dialog of the library (dialog_commands.h has their classes).
enum Command : int {
  ID_SERIAL_DEVICE = 40003,
  ID_NETWORK_ADAPTER = 40004,
  ID_NETWORKING_PROPERTIES = 40041,
  ID_SHUTDOWN_PARAMETERS = 32795,
  ID_EVENTS = 40005,
  ID_EMAIL_RECIPIENTS = 40006,
  ID_PAGER_RECIPIENTS = 40007,
  ID_NETWORK_ALARM_RECIPIENTS = 40008,
  ID_EVENT_LOG = 40009,
  ID_UPS_OPTIONS = 32904,
  ID_PASSWORD = 32796,
  ID_SCHEDULED_SHUTDOWN = 40010,
  ID_SCHEDULED_DIAGNOSTIC_TEST = 40011,
  ID_BATTERY_INFORMATION = 40012,
  ID_EVENT_LOG_INFORMATION = 40013,
  ID_SYSTEM_INFORMATION = 40014,
  ID_METERS = 40015,
  ID_UPS_MIMIC = 40016,
  ID_ALARM_QUEUE = 40018,
  ID_DIAGNOSTIC_RESULTS = 40017,
  ID_AGENT_TERMINATION = 32893,
  ID_DIAGNOSTIC_TEST = 32900,
  ID_MANAGE_NETWORK_ADAPTER = 40030,
  ID_PROBLEM_REPORT = 32789,
  ID_TECHNICAL_SUPPORT = 32776,
  ID_NETWORK_CLIENTS = 32905,
  // The view's own commands.
  ID_AGENT_STARTUP = 40019,
  ID_APP_ABOUT = 32792,
  ID_OPTION_SPLASH = 40036,
  ID_OPTION_ACCESS_DIALOG = 40037,
  ID_OPTION_RECONNECT = 40039,
  // The frame's.
  ID_APP_EXIT = 57665,
  ID_FILE_PRINT_SETUP = 57606,
  ID_VIEW_TOOLBAR = 59392,
  ID_VIEW_STATUS_BAR = 59393,
  ID_HELP_CONTENTS = 40020,
  ID_HELP_SEARCH = 40021,
};

// Menus: 128 the short one (no contact with an agent), 199 the full one.
inline constexpr int kShortMenu = 128;
inline constexpr int kFullMenu = 199;

// The toolbar's commands, in their order; RefreshStatus hides them all when the agent is lost.
inline constexpr int kToolbarCommands[] = {
    40013, 40004, 40009, 40003, 40005, 40006, 40007, 32795, 32796, 40014, 40012,
    40016, 40018, 32893, 32905, 32904, 40015, 32900, 40011, 40017, 40010, 40008,
};

// Controls of the view.
inline constexpr int IDC_COMPUTER = 1113;
inline constexpr int IDC_UPS = 1112;
inline constexpr int IDC_RECEPTACLE = 1111;
inline constexpr int IDC_STATE_LIST = 1615;

// Dialog templates and their controls.
inline constexpr int IDD_ABOUT = 134;
inline constexpr int IDC_ABOUT_VERSION = 1051;
inline constexpr int IDC_ABOUT_LEGAL = 1052;
inline constexpr int IDC_ABOUT_COMPANY = 1357;
inline constexpr int IDD_SPLASH = 400;
inline constexpr int IDD_ACCESS_MODE = 232;
inline constexpr int IDC_ACCESS_DEFAULT = 1001;
inline constexpr int IDC_ACCESS_REMOTE = 1002;
inline constexpr int IDC_ACCESS_SHOW = 1003;
inline constexpr int kAccessModeHelpTopic = 45;

// The start-up watchdog's timer.
inline constexpr int kWatchdogTimer = 88;

// Pictures: the start-up ones and the list's images.
inline constexpr int kComputerNormal = 316;
inline constexpr int kUpsNormal = 306;
inline constexpr int kReceptacleNormal = 326;
inline constexpr int kIconAlarm = 327;
inline constexpr int kIconWarning = 328;
inline constexpr int kIconInformation = 333;

// Strings (registered in tavona_strings.cpp).
enum StringId : int {
  IDS_ABOUT_PREFIX = 3626,
  IDS_NOT_PRIVILEGED = 3662,
  IDS_NO_SERVICE_MANAGER = 3663,
  IDS_INVALID_PARAMETER = 3664,
  IDS_AGENT_ALREADY_RUNNING = 3661,
  IDS_CANNOT_DESTROY_MENU = 3666,
  IDS_CANNOT_LOAD_MENU = 3667,
  IDS_CANNOT_SET_MENU = 3668,
  IDS_STATE_FIRST = 2280,
};

// True once the console's strings are in the library's table (and links them in).
bool TavonaStringsRegistered();

}  // namespace tavona
