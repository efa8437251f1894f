// CReboot: asks for the agent's password, then, after a confirmation, tells the agent to
// reboot the computer: command branch 2 is marked as just changed and (27, 2, 1) is sent.
#pragma once

#include "dialogs/agent_commands/protected_command_dlg.h"

class CReboot : public CProtectedCommandDlg {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 41;

  explicit CReboot(QWidget* parent = nullptr, const QString& hostName = QString());
  CReboot(QWidget* parent, const QString& selectionLabel, const QString& hostName,
          const QStringList& hostNames);
  ~CReboot() override;

  bool OnInitDialog() override;

 protected:
  QString ConfirmationText() const override;
  void SendProtectedCommand() override;
};

extern DialogPointer<CReboot> pReboot;
