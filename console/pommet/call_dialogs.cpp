#include "console/pommet/call_dialogs.h"

#include "dialogs/agent_commands/password_dlg.h"
#include "dialogs/agent_commands/reboot.h"
#include "dialogs/agent_commands/terminate_daemon.h"
#include "dialogs/battery_test/battery_test.h"
#include "dialogs/discovery/network_configuration.h"
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
#include "dialogs/notification/email_config.h"
#include "dialogs/notification/event_notification.h"
#include "dialogs/notification/remote_message.h"
#include "dialogs/paging/pager_config.h"
#include "dialogs/schedule/sched_shutdown_dlg.h"
#include "dialogs/shutdown/shutdown_dlg.h"
#include "dialogs/waveforms/osc_dialog.h"

namespace {

template <class T, DialogPointer<T>* P>
void Clear() {
  *P = nullptr;
}

template <class T>
KTDialog* Open(const QString& hostName) {
  return new T(nullptr, hostName);
}

#define CALL_DIALOG(index, Class, pointer)                         \
  CallDialog {                                                     \
    index, #Class, &pointer, &Clear<Class, &pointer>, &Open<Class> \
  }

}  // namespace

const std::vector<CallDialog>& CallDialogs() {
  static const std::vector<CallDialog> table = {
      CALL_DIALOG(1, CEventLogDisplay, pEventLogDisplay),
      CALL_DIALOG(2, CSerialDeviceConfig, pSerialDeviceConfig),
      CALL_DIALOG(3, CShutdownDlg, pShutdownDlg),
      CALL_DIALOG(4, CEventNotification, pEventNotification),
      CALL_DIALOG(5, CPassWordDlg, pPassWordDlg),
      CALL_DIALOG(6, CNetworkManager, pNetworkManager),
      CALL_DIALOG(7, CEMailConfig, pEMailConfig),
      CALL_DIALOG(8, CPagerConfig, pPagerConfig),
      CALL_DIALOG(9, CEventLogConfig, pEventLogConfig),
      CALL_DIALOG(10, CUpsConfiguration, pUpsConfiguration),
      CALL_DIALOG(11, CNetworkConfiguration, pNetworkConfiguration),
      CALL_DIALOG(12, CUpsInfoDlg, pUpsInfoDlg),
      CALL_DIALOG(13, CBatteryInfo, pBatteryInfo),
      CALL_DIALOG(14, CMeters, pMeters),
      CALL_DIALOG(15, CAlarmHistory, pAlarmHistory),
      CALL_DIALOG(16, CMimic, pMimic),
      CALL_DIALOG(17, CTerminateDaemon, pTerminateDaemon),
      CALL_DIALOG(18, CSchedShutdownDlg, pSchedShutdownDlg),
      CALL_DIALOG(19, CBatteryTest, pBatteryTest),
      CALL_DIALOG(20, CReboot, pReboot),
      CALL_DIALOG(21, COscDialog, pOscDialog),
      CALL_DIALOG(22, CNetworkAdapterConfig, pNetworkAdapterConfig),
      CALL_DIALOG(23, CBatteryTestResults, pBatteryTestResults),
      CALL_DIALOG(24, CRemoteMessage, pRemoteMessage),
      CALL_DIALOG(25, CManageDiagTest, pManageDiagTest),
      CALL_DIALOG(26, CManageAdapter, pManageAdapter),
  };
  return table;
}

const CallDialog* FindCallDialog(int index) {
  if (index < kFirstCallDialog || index > kLastCallDialog) return nullptr;
  return &CallDialogs()[static_cast<size_t>(index - kFirstCallDialog)];
}
