// CProtectedCommandDlg: what the reboot and terminate dialogs share. The user types the agent's
// password (at most 10 characters, hidden); OK checks it against the console's copy (gScp's
// configuration block, case-sensitive), asks for confirmation and then hands the command to
// the derived dialog. The dialog asks the agent for its password when it opens (4, 8, 1), so
// the check uses the agent's password once the reply has arrived and the built-in default
// before.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QLineEdit;

inline constexpr int IDD_PROTECTED_COMMAND = 3001;
inline constexpr int IDC_COMMAND_PASSWORD = 1003;
inline constexpr int kCommandPasswordLimit = 10;

class CProtectedCommandDlg : public KTDialog {
  Q_OBJECT

 public:
  CProtectedCommandDlg(QWidget* parent, const QString& hostName);
  CProtectedCommandDlg(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                       const QStringList& hostNames);

  // 1 when the typed text equals the console's copy of the password; else the box
  // "Incorrect Password!", the field emptied, 0.
  int VerifyPassword(int unused = 0);
  QString TypedPassword() const { return password_; }

  void OnOK() override;

 protected:
  // Builds template 3001 and creates the window.
  void BuildAndCreate();
  // The confirmation text and the command sent after an OK answer.
  virtual QString ConfirmationText() const = 0;
  virtual void SendProtectedCommand() = 0;

 private:
  void UpdateData(bool fromControls);
  QLineEdit* edit_ = nullptr;
  QString password_;
};
