#include "console/tavona/dialog_commands.h"

#include <QDialog>
#include <functional>

#include "dialogs/agent_commands/password_dlg.h"
#include "dialogs/agent_commands/terminate_daemon.h"
#include "dialogs/battery_test/battery_test.h"
#include "dialogs/discovery/network_configuration.h"
#include "dialogs/eventlog/bug_dlg.h"
#include "dialogs/eventlog/event_log_config.h"
#include "dialogs/eventlog/event_log_display.h"
#include "dialogs/information/alarm_history.h"
#include "dialogs/information/battery_info.h"
#include "dialogs/information/battery_test_results.h"
#include "dialogs/information/network_manager.h"
#include "dialogs/information/serial_device_config.h"
#include "dialogs/information/ups_configuration.h"
#include "dialogs/information/ups_info_dlg.h"
#include "dialogs/meters/meters.h"
#include "dialogs/mimic/mimic.h"
#include "dialogs/monitoring/manage_diag_test.h"
#include "dialogs/network/manage_adapter.h"
#include "dialogs/network/network_adapter_config.h"
#include "dialogs/network/networking_prop_config.h"
#include "dialogs/notification/email_config.h"
#include "dialogs/notification/event_notification.h"
#include "dialogs/paging/pager_config.h"
#include "dialogs/schedule/sched_shutdown_dlg.h"
#include "dialogs/shutdown/shutdown_dlg.h"
#include "dialogs/support/tech_support_dlg.h"

namespace tavona {

namespace {

struct Row {
  DialogCommand command;
  std::function<QDialog*()> current;  // the open dialog, or null
  std::function<QDialog*()> make;     // builds a new one (it binds its pointer and shows itself)
};

template <class T>
Row Make(int command, const char* className, DialogPointer<T>& pointer) {
  return Row{{command, className},
             [&pointer]() -> QDialog* { return pointer.get(); },
             []() -> QDialog* { return new T(nullptr, QString()); }};
}

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      Make(40003, "CSerialDeviceConfig", pSerialDeviceConfig),
      Make(40004, "CNetworkAdapterConfig", pNetworkAdapterConfig),
      Make(40041, "CNetworkingPropConfig", pNetworkingPropConfig),
      Make(32795, "CShutdownDlg", pShutdownDlg),
      Make(40005, "CEventNotification", pEventNotification),
      Make(40006, "CEMailConfig", pEMailConfig),
      Make(40007, "CPagerConfig", pPagerConfig),
      Make(40008, "CNetworkManager", pNetworkManager),
      Make(40009, "CEventLogConfig", pEventLogConfig),
      Make(32904, "CUpsConfiguration", pUpsConfiguration),
      Make(32796, "CPassWordDlg", pPassWordDlg),
      Make(40010, "CSchedShutdownDlg", pSchedShutdownDlg),
      Make(40011, "CBatteryTest", pBatteryTest),
      Make(40012, "CBatteryInfo", pBatteryInfo),
      Make(40013, "CEventLogDisplay", pEventLogDisplay),
      Make(40014, "CUpsInfoDlg", pUpsInfoDlg),
      Make(40015, "CMeters", pMeters),
      Make(40016, "CMimic", pMimic),
      Make(40018, "CAlarmHistory", pAlarmHistory),
      Make(40017, "CBatteryTestResults", pBatteryTestResults),
      Make(32893, "CTerminateDaemon", pTerminateDaemon),
      Make(32900, "CManageDiagTest", pManageDiagTest),
      Make(40030, "CManageAdapter", pManageAdapter),
      Make(32789, "CBugDlg", pBugDlg),
      Make(32776, "CTechSupportDlg", pTechSupportDlg),
      Make(32905, "CNetworkConfiguration", pNetworkConfiguration),
  };
  return rows;
}

const Row* RowOf(int command) {
  for (const Row& r : Rows()) {
    if (r.command.command == command) return &r;
  }
  return nullptr;
}

}  // namespace

const std::vector<DialogCommand>& DialogCommands() {
  static const std::vector<DialogCommand> commands = [] {
    std::vector<DialogCommand> out;
    for (const Row& r : Rows()) out.push_back(r.command);
    return out;
  }();
  return commands;
}

const std::vector<int>& MissingDialogCommands() {
  static const std::vector<int> missing;
  return missing;
}

bool IsDialogCommand(int command) {
  return RowOf(command) != nullptr;
}

QString DialogClassOf(int command) {
  const Row* r = RowOf(command);
  return r != nullptr ? QString::fromLatin1(r->command.className) : QString();
}

QDialog* OpenDialogOf(int command) {
  const Row* r = RowOf(command);
  return r != nullptr ? r->current() : nullptr;
}

QDialog* OpenDialogCommand(int command) {
  const Row* r = RowOf(command);
  if (r == nullptr) return nullptr;
  for (int missing : MissingDialogCommands()) {
    if (missing == command) return nullptr;
  }
  if (QDialog* open = r->current()) {
    open->show();
    open->raise();
    open->activateWindow();
    return open;
  }
  r->make();
  return r->current();
}

}  // namespace tavona
