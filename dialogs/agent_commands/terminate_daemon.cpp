#include "dialogs/agent_commands/terminate_daemon.h"

#include "core/scp/command_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CTerminateDaemon> pTerminateDaemon{DialogSlot::TerminateDaemon};

TREM_REGISTER_DIALOG(CTerminateDaemon);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CTerminateDaemon::kHelpContext, "Terminate Tremona Agent",
    "Stops the agent.\n\n"
    "Type the agent's password and press OK. After you confirm, the agent ends its "
    "communication with the UPS and stops: the computer is no longer protected by a managed "
    "shutdown until the agent is started again.\n\n"
    "Press Cancel to close without stopping the agent.");

CTerminateDaemon::CTerminateDaemon(QWidget* parent, const QString& hostName)
    : CProtectedCommandDlg(parent, hostName) {
  BindDialogPointer(pTerminateDaemon);
  BuildAndCreate();
}

CTerminateDaemon::CTerminateDaemon(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                                   const QStringList& hostNames)
    : CProtectedCommandDlg(parent, selectionLabel, hostName, hostNames) {
  BindDialogPointer(pTerminateDaemon);
  BuildAndCreate();
}

CTerminateDaemon::~CTerminateDaemon() = default;

bool CTerminateDaemon::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  RequestData(BLOCK_CONFIG, 8, 1);
  SetHostCaption(QStringLiteral("Terminate Tremona Agent"));
  return true;
}

QString CTerminateDaemon::ConfirmationText() const {
  return QStringLiteral(
      "-> This will immediately terminate communication with the UPS! <-\n\n"
      "Press OK to continue or Cancel to exit without terminating communication.");
}

void CTerminateDaemon::SendProtectedCommand() {
  SendCommand(BLOCK_COMMAND, COMMAND_TERMINATE, 1);
}
