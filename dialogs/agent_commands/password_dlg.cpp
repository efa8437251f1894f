#include "dialogs/agent_commands/password_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CPassWordDlg> pPassWordDlg{DialogSlot::PassWordDlg};

TREM_REGISTER_DIALOG(CPassWordDlg);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CPassWordDlg::kHelpContext, "Configure Password",
    "Changes the password that protects the agent's commands (reboot, terminate) and its "
    "network clients.\n\n"
    "Old Password: the password in force now (letter case counts).\n"
    "New Password: one to eight characters, different from the old one.\n"
    "Confirm New Password: the new password once more.\n\n"
    "OK sends the new password to the agent; it is in force in this console at once.");

namespace {
const char kNoMatch[] = "The new password and its confirmation do not match.";
}

CPassWordDlg::CPassWordDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_PASSWORD, parent, hostName) {
  BindDialogPointer(pPassWordDlg);
  SetWaitCount(1);
  BuildControls();
  Create(IDD_PASSWORD);
}

CPassWordDlg::CPassWordDlg(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                           const QStringList& hostNames)
    : KTDialog(IDD_PASSWORD, parent, selectionLabel, hostName, hostNames) {
  BindDialogPointer(pPassWordDlg);
  SetWaitCount(1);
  BuildControls();
  Create(IDD_PASSWORD);
}

CPassWordDlg::~CPassWordDlg() = default;

void CPassWordDlg::BuildControls() {
  setWindowTitle(QStringLiteral("Password"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto make = [&](int id, const QString& label) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(ControlName(id));
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(kPasswordLimit);
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 20);
    form->addRow(label, edit);
    return edit;
  };
  old_edit_ = make(IDC_OLD_PASSWORD, QStringLiteral("&Old Password:"));
  new_edit_ = make(IDC_NEW_PASSWORD, QStringLiteral("&New Password:"));
  confirm_edit_ = make(IDC_CONFIRM_PASSWORD, QStringLiteral("&Confirm New Password:"));
  layout->addLayout(form);
  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setTabOrder(old_edit_, new_edit_);
  setTabOrder(new_edit_, confirm_edit_);
  old_edit_->setFocus();
}

bool CPassWordDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  RequestData(BLOCK_CONFIG, 8, 1);
  SetHostCaption(QStringLiteral("Configure Password"));
  return true;
}

void CPassWordDlg::UpdateData(bool fromControls) {
  if (fromControls) {
    old_password_ = old_edit_->text();
    new_password_ = new_edit_->text();
    confirmation_ = confirm_edit_->text();
  } else {
    old_edit_->setText(old_password_);
    new_edit_->setText(new_password_);
    confirm_edit_->setText(confirmation_);
  }
}

void CPassWordDlg::ClearFields() {
  new_password_.clear();
  old_password_.clear();
  confirmation_.clear();
  old_edit_->setFocus();
  UpdateData(false);
}

int CPassWordDlg::VerifyData(int) {
  UpdateData(true);
  const QByteArray oldBytes = old_password_.toUtf8();
  const QByteArray newBytes = new_password_.toUtf8();
  int oldMatches;
  {
    auto lock = gScp.Lock();
    oldMatches = gScp.config.Password().Check(oldBytes.constData());
  }
  QString failure;
  if (new_password_.isEmpty())
    failure = QStringLiteral("A new password must be supplied!");
  else if (newBytes.size() < 1)
    failure = QStringLiteral("A password with at least one character must be supplied!");
  else if (newBytes.size() > static_cast<int>(kPasswordLimit))
    failure = QStringLiteral("The maximum password length is eight characters!");
  else if (old_password_.isEmpty() || oldMatches != 1)
    failure = QStringLiteral("The old password is incorrect!");
  else if (newBytes == oldBytes)
    failure = QStringLiteral("The new password and old password cannot be the same.");
  else if (confirmation_ != new_password_)
    failure = QString::fromLatin1(kNoMatch);
  if (failure.isEmpty()) return 1;
  TremMessageBox(this, failure, MB_OK);
  ClearFields();
  return 0;
}

int CPassWordDlg::ChangePassword(int) {
  UpdateData(true);
  int changed;
  {
    auto lock = gScp.Lock();
    changed =
        gScp.config.Password().Change(new_password_.toUtf8().constData(), old_password_.toUtf8().constData());
  }
  if (changed != 1) {
    TremMessageBox(this, QStringLiteral("Old Password Is Incorrect!"), MB_OK);
    ClearFields();
    return 0;
  }
  return 1;
}

void CPassWordDlg::OnOK() {
  if (!VerifyData(0)) return;
  const QString previous = old_password_;
  if (!ChangePassword(0)) {
    TremMessageBox(this, QStringLiteral("Attempt to change password failed!"), MB_OK);
    return;
  }
  bool known;
  {
    auto lock = gScp.Lock();
    known = gScp.config.Branches().GetFieldCount(1) >= 0;
    if (known) gScp.config.Branches().Touch(1);
  }
  if (!known) TremMessageBox(this, QStringLiteral("The branch time id is unknown."), MB_OK);
  if (SendCommand(BLOCK_CONFIG, 8, 1) <= 0) {
    // Nothing reached the queue: the agent keeps its password, and so does the console.
    {
      auto lock = gScp.Lock();
      gScp.config.Password().Set(previous.toUtf8().constData());
    }
    TremMessageBox(this, QStringLiteral("Attempt to change password failed!"), MB_OK);
    ClearFields();
    return;
  }
  TremMessageBox(this, QStringLiteral("Password has been changed."), MB_OK);
  KTDialog::OnOK();
}
