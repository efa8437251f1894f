// CTerminateDaemon: asks for the agent's password, then, after a confirmation, tells the agent
// to stop: (27, 1, 1) is sent.
#pragma once

#include "dialogs/agent_commands/protected_command_dlg.h"

class CTerminateDaemon : public CProtectedCommandDlg {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 36;

  explicit CTerminateDaemon(QWidget* parent = nullptr, const QString& hostName = QString());
  CTerminateDaemon(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                   const QStringList& hostNames);
  ~CTerminateDaemon() override;

  bool OnInitDialog() override;

 protected:
  QString ConfirmationText() const override;
  void SendProtectedCommand() override;
};

extern DialogPointer<CTerminateDaemon> pTerminateDaemon;
