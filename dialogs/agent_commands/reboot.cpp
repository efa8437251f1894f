#include "dialogs/agent_commands/reboot.h"

#include "core/scp/command_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CReboot> pReboot{DialogSlot::Reboot};

TREM_REGISTER_DIALOG(CReboot);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CReboot::kHelpContext, "Reboot",
    "Restarts the computer the agent runs on.\n\n"
    "Type the agent's password and press OK. After you confirm, the agent reboots the computer "
    "at once; the UPS keeps protecting the load.\n\n"
    "Press Cancel to close without rebooting.");

CReboot::CReboot(QWidget* parent, const QString& hostName) : CProtectedCommandDlg(parent, hostName) {
  BindDialogPointer(pReboot);
  BuildAndCreate();
}

CReboot::CReboot(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                 const QStringList& hostNames)
    : CProtectedCommandDlg(parent, selectionLabel, hostName, hostNames) {
  BindDialogPointer(pReboot);
  BuildAndCreate();
}

CReboot::~CReboot() = default;

bool CReboot::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  RequestData(BLOCK_CONFIG, 8, 1);
  SetHostCaption(QStringLiteral("Reboot"));
  return true;
}

QString CReboot::ConfirmationText() const {
  return QStringLiteral(
      "-> This will immediately reboot the system! <- \n\n"
      "Press OK to continue or Cancel to exit without rebooting.");
}

void CReboot::SendProtectedCommand() {
  {
    auto lock = gScp.Lock();
    gScp.commandBlock.Branches().Touch(COMMAND_RESTART);
  }
  SendCommand(BLOCK_COMMAND, COMMAND_RESTART, 1);
}
