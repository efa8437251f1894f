// CPassWordDlg: changes the agent's user password. The old password is checked against the
// console's copy (gScp's configuration block, which the GET (4, 8, 1) of the opening refills
// with the agent's password); the new one takes effect in the console at once and a SET of
// (4, 8, 1) carries it to the agent. When no SET could be queued (no queue mutex, unknown or
// incapable host) the console's copy goes back to the old password and the change is reported
// as failed, so console and agent never disagree.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QLineEdit;

inline constexpr int IDD_PASSWORD = 3007;
inline constexpr int IDC_OLD_PASSWORD = 1165;
inline constexpr int IDC_NEW_PASSWORD = 1166;
inline constexpr int IDC_CONFIRM_PASSWORD = 1713;

class CPassWordDlg : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 25;
  static constexpr int kPasswordLimit = 8;

  explicit CPassWordDlg(QWidget* parent = nullptr, const QString& hostName = QString());
  CPassWordDlg(QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames);
  ~CPassWordDlg() override;

  bool OnInitDialog() override;
  void OnOK() override;

  // The rules in order; the first failure shows its box, empties the three fields and puts
  // the focus into the old-password box. 1 passed, 0 failed.
  int VerifyData(int unused = 0);
  // Changes the console's copy: 1, or 0 after "Old Password Is Incorrect!".
  int ChangePassword(int unused = 0);

 private:
  void BuildControls();
  void UpdateData(bool fromControls);
  void ClearFields();

  QLineEdit* old_edit_ = nullptr;
  QLineEdit* new_edit_ = nullptr;
  QLineEdit* confirm_edit_ = nullptr;
  QString new_password_;
  QString old_password_;
  QString confirmation_;
};

extern DialogPointer<CPassWordDlg> pPassWordDlg;
