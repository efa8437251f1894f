// EnterPasswordDlg: "Enter Password", the modal question of the scheduled-shutdown dialog for
// the agent's password before the table is sent. OK closes only for the password the console
// holds for the agent (the copy in gScp's configuration block).
#pragma once

#include "dialogs/frame/kt_dialog.h"

class QLineEdit;

inline constexpr int IDD_ENTER_PASSWORD = 3034;
inline constexpr int IDC_ENTER_PASSWORD = 1001;

class EnterPasswordDlg : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kPasswordLimit = 10;

  explicit EnterPasswordDlg(QWidget* parent = nullptr, const QString& hostName = QString());

  bool OnInitDialog() override;
  void OnOK() override;

 private:
  QLineEdit* edit_ = nullptr;
};
