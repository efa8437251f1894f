#include "dialogs/agent_commands/protected_command_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "core/scp/config_block.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

CProtectedCommandDlg::CProtectedCommandDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_PROTECTED_COMMAND, parent, hostName) {}

CProtectedCommandDlg::CProtectedCommandDlg(QWidget* parent, const QString& selectionLabel,
                                           const QString& hostName, const QStringList& hostNames)
    : KTDialog(IDD_PROTECTED_COMMAND, parent, selectionLabel, hostName, hostNames) {}

void CProtectedCommandDlg::BuildAndCreate() {
  setWindowTitle(QStringLiteral("Terminate Tremona Agent"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("Enter password to confirm"), this);
  edit_ = new QLineEdit(this);
  edit_->setObjectName(ControlName(IDC_COMMAND_PASSWORD));
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMaxLength(kCommandPasswordLimit);
  edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 24);
  label->setBuddy(edit_);
  layout->addWidget(label);
  layout->addWidget(edit_);
  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
  SetWaitCount(1);
  Create(IDD_PROTECTED_COMMAND);
  edit_->setFocus();
}

void CProtectedCommandDlg::UpdateData(bool fromControls) {
  if (fromControls)
    password_ = edit_->text();
  else
    edit_->setText(password_);
}

int CProtectedCommandDlg::VerifyPassword(int) {
  UpdateData(true);
  int ok;
  {
    auto lock = gScp.Lock();
    ok = gScp.config.Password().Check(password_.toUtf8().constData());
  }
  if (ok != 1) {
    TremMessageBox(this, QStringLiteral("Incorrect Password!"), MB_OK);
    password_.clear();
    UpdateData(false);
    edit_->setFocus();
    return 0;
  }
  return 1;
}

void CProtectedCommandDlg::OnOK() {
  if (!VerifyPassword(0)) return;
  if (TremMessageBox(this, ConfirmationText(), MB_OKCANCEL) == IDOK) SendProtectedCommand();
  KTDialog::OnOK();
}
