#include "dialogs/schedule/enter_password_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"

// Run modally by the scheduled-shutdown dialog; the tools open it on its own, without a modal loop.
TREM_REGISTER_DIALOG_WITH(EnterPasswordDlg, [](QWidget* parent, const QString& host) -> QDialog* {
  auto* dialog = new EnterPasswordDlg(parent, host);
  dialog->Create(IDD_ENTER_PASSWORD);
  return dialog;
});

EnterPasswordDlg::EnterPasswordDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_ENTER_PASSWORD, parent, hostName) {
  SetWaitCount(0);
  setWindowTitle(QStringLiteral("Enter Password"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("&Please enter the password:"), this);
  edit_ = new QLineEdit(this);
  edit_->setObjectName(ControlName(IDC_ENTER_PASSWORD));
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMaxLength(kPasswordLimit);
  edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 28);
  label->setBuddy(edit_);
  layout->addWidget(label);
  layout->addWidget(edit_);
  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool EnterPasswordDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  // The topic of the scheduled shutdown, which is what the password confirms.
  SetHelpContextId(26);
  edit_->setFocus();
  return true;
}

void EnterPasswordDlg::OnOK() {
  const QString text = edit_->text();
  int match = 0;
  if (!text.isEmpty()) {
    auto lock = gScp.Lock();
    match = gScp.config.Password().Check(text.toUtf8().constData());
  }
  if (match != 1) {
    TremMessageBox(
        this,
        text.isEmpty() ? QStringLiteral("Please Enter Password") : QStringLiteral("Incorrect Password!"),
        MB_OK);
    edit_->setFocus();
    edit_->selectAll();
    return;
  }
  KTDialog::OnOK();
}
