#include "dialogs/notification/email_config.h"

#include <pwd.h>
#include <unistd.h>

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSysInfo>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/notification/email.h"
#include "dialogs/notification/recipient_remap.h"

DialogPointer<CEMailConfig> pEMailConfig{DialogSlot::EMailConfig};

TREM_REGISTER_DIALOG(CEMailConfig);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CEMailConfig::kHelpContext, "Configure E-mail Recipients",
    "The two recipients of the agent's mail: a name and a mail address each. On systems where "
    "the agent logs on to the mail system, the first recipient takes the user name, domain "
    "and password of the account it logs on with, which must be the account you are working "
    "under.\n\nOK sends the recipients to the agent at once.");

namespace {

QLineEdit* MakeField(QWidget* owner, int id) {
  auto* edit = new QLineEdit(owner);
  edit->setObjectName(ControlName(id));
  edit->setMaxLength(254);
  edit->setValidator(new RecordTextValidator(edit));
  edit->setMinimumWidth(200);
  return edit;
}

QLabel* MakeLabel(QWidget* owner, int id, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, owner);
  label->setObjectName(ControlName(id));
  label->setBuddy(buddy);
  return label;
}

}  // namespace

CEMailConfig::CEMailConfig(QWidget* parent, const QString& hostName)
    : ActionDialog(kTemplateId, parent, hostName) {
  Init();
}

CEMailConfig::CEMailConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                           const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CEMailConfig::Init() {
  BindDialogPointer(pEMailConfig);
  beside_email_ = DialogIsOpen(pEMail.get());
  // The UPS information, and the notification block unless the e-mail dialog holds it.
  SetWaitCount(beside_email_ ? 1 : 2);
  BuildControls();
  Create(kTemplateId);
}

CEMailConfig::~CEMailConfig() = default;

void CEMailConfig::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  name1_ = MakeField(this, IDC_NAME1);
  address1_ = MakeField(this, IDC_ADDRESS1);
  domain_ = MakeField(this, IDC_DOMAIN);
  password_ = MakeField(this, IDC_PASSWORD);
  password_->setEchoMode(QLineEdit::Password);
  name2_ = MakeField(this, IDC_NAME2);
  address2_ = MakeField(this, IDC_ADDRESS2);
  address1_label_ = MakeLabel(this, IDC_ADDRESS1_LABEL, QStringLiteral("&Address 1"), address1_);
  user_label_ = MakeLabel(this, IDC_USER_LABEL, QStringLiteral("&User name"), address1_);
  domain_label_ = MakeLabel(this, IDC_DOMAIN_LABEL, QStringLiteral("&Domain"), domain_);
  password_label_ = MakeLabel(this, IDC_PASSWORD_LABEL, QStringLiteral("&Password "), password_);
  address2_label_ = MakeLabel(this, IDC_ADDRESS2_LABEL, QStringLiteral("A&ddress 2"), address2_);
  grid->addWidget(MakeLabel(this, 0, QStringLiteral("Name &1"), name1_), 0, 0);
  grid->addWidget(name1_, 0, 1);
  grid->addWidget(address1_label_, 1, 0);
  grid->addWidget(user_label_, 1, 0);
  grid->addWidget(address1_, 1, 1);
  grid->addWidget(domain_label_, 2, 0);
  grid->addWidget(domain_, 2, 1);
  grid->addWidget(password_label_, 3, 0);
  grid->addWidget(password_, 3, 1);
  grid->addWidget(MakeLabel(this, 0, QStringLiteral("Name &2"), name2_), 4, 0);
  grid->addWidget(name2_, 4, 1);
  grid->addWidget(address2_label_, 5, 0);
  grid->addWidget(address2_, 5, 1);
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);
  layout->addStretch(1);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(name1_, address1_);
  setTabOrder(address1_, domain_);
  setTabOrder(domain_, password_);
  setTabOrder(password_, name2_);
  setTabOrder(name2_, address2_);
  setTabOrder(address2_, Control(IDOK));
}

bool CEMailConfig::IsAccountType(int applicationType) {
  return applicationType == 3 || applicationType == 11 || applicationType == 17 || applicationType == 18;
}

QString CEMailConfig::CurrentUserName() {
  const struct passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_name != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

QString CEMailConfig::CurrentDomain() {
  const QString host = QSysInfo::machineHostName();
  const qsizetype dot = host.indexOf('.');
  return dot < 0 ? host : host.left(dot);
}

void CEMailConfig::TakeApplicationType() {
  auto lock = gScp.Lock();
  application_type_ = gScp.upsInfo.GetOsType();
}

void CEMailConfig::ShowModeLabels() {
  // "User name" stands where "Address 1" does; only the label of the mode is shown.
  address1_label_->setVisible(!AccountMode());
  user_label_->setVisible(AccountMode());
}

bool CEMailConfig::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  TakeApplicationType();
  RequestData(2, 4, 0);
  user_name_ = CurrentUserName();
  domain_name_ = CurrentDomain();
  EnableForOpening();
  bool local = false;
  {
    auto lock = gScp.Lock();
    local = gScp.notify.GetLocalMode() != 0;
  }
  if (beside_email_) {
    GetCurrentConfig();
  } else {
    // The whole block, so that a later send of it carries no stale branch.
    RequestData(5, 0, 0);
  }
  if (AccountMode() && !local) {
    address1_->setText(user_name_);
    domain_->setText(domain_name_);
  }
  SetHostCaption(QStringLiteral("Configure E-mail Recipients"));
  name1_->setFocus();
  return false;
}

void CEMailConfig::EnableForOpening() {
  ShowModeLabels();
  bool local = false;
  {
    auto lock = gScp.Lock();
    local = gScp.notify.GetLocalMode() != 0;
  }
  for (QWidget* w :
       std::initializer_list<QWidget*>{address1_label_, user_label_, address2_label_, domain_label_,
                                       password_label_, address1_, address2_, domain_, password_}) {
    w->setEnabled(true);
  }
  if (beside_email_) {
    if (AccountMode() && !local) {
      address1_label_->setEnabled(false);
      address2_label_->setEnabled(false);
      address2_->setEnabled(false);
    } else {
      user_label_->setEnabled(false);
      domain_label_->setEnabled(false);
      password_label_->setEnabled(false);
      domain_->setEnabled(false);
      password_->setEnabled(false);
    }
    return;
  }
  for (QWidget* w :
       std::initializer_list<QWidget*>{address1_label_, user_label_, address2_label_, domain_label_,
                                       password_label_, address1_, address2_, domain_, password_}) {
    w->setEnabled(false);
  }
  if (local) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{address1_label_, address2_label_, address1_, address2_}) {
      w->setEnabled(true);
    }
  }
}

void CEMailConfig::EnableForMode() {
  ShowModeLabels();
  if (AccountMode()) {
    for (QWidget* w : std::initializer_list<QWidget*>{user_label_, domain_label_, password_label_, address1_,
                                                      domain_, password_}) {
      w->setEnabled(true);
    }
  } else {
    for (QWidget* w :
         std::initializer_list<QWidget*>{address1_label_, address2_label_, address1_, address2_}) {
      w->setEnabled(true);
    }
  }
}

void CEMailConfig::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (block == 2) {
    TakeApplicationType();
    EnableForMode();
  } else if (block == 5) {
    GetCurrentConfig();
  }
}

void CEMailConfig::GetCurrentConfig() {
  std::optional<std::string> account1;
  std::optional<std::string> recipient1;
  std::optional<std::string> account2;
  std::optional<std::string> recipient2;
  int count = 0;
  {
    auto lock = gScp.Lock();
    const KT_MailRecipients& mail = gScp.notify.MailRecipients();
    count = mail.Count();
    if (count > 0) mail.GetAt(0, account1, recipient1);
    if (count > 1) mail.GetAt(1, account2, recipient2);
  }
  if (count == 0) return;
  name1_->setText(QString::fromStdString(recipient1.value_or(std::string())));
  const QString account = QString::fromStdString(account1.value_or(std::string()));
  if (AccountMode()) {
    const QStringList parts = account.split(',');
    if (parts.size() == 1) {
      address1_->setText(account);
    } else if (parts.size() == 2) {
      address1_->setText(parts[0]);
    } else {
      address1_->setText(parts[0]);
      domain_->setText(parts[1]);
      password_->setText(account.section(',', 2));
    }
  } else {
    address1_->setText(account);
  }
  if (count > 1) {
    name2_->setText(QString::fromStdString(recipient2.value_or(std::string())));
    address2_->setText(QString::fromStdString(account2.value_or(std::string())));
  }
}

void CEMailConfig::OnOK() {
  const QString name1 = name1_->text();
  const QString name2 = name2_->text();
  const QString address1 = address1_->text();
  const QString address2 = address2_->text();
  const QString domain = domain_->text();
  const QString password = password_->text();
  const bool account = AccountMode();
  bool local = false;
  {
    auto lock = gScp.Lock();
    local = gScp.notify.GetLocalMode() != 0;
  }
  // Every check first: a refusal leaves gScp's recipients as they were.
  QString account1;
  if (account) {
    if (name1.isEmpty() != address1.isEmpty()) {
      TremMessageBox(this, QStringLiteral("Recipient name and user must be specified"), MB_OK);
      return;
    }
    if (domain.isEmpty() != password.isEmpty()) {
      TremMessageBox(this, QStringLiteral("Domain and password must be specified"), MB_OK);
      return;
    }
    if (!name1.isEmpty() && (address1 != user_name_ || domain != domain_name_)) {
      TremMessageBox(
          this,
          QStringLiteral("Tremona could not log on to the system. Make sure your User name and domain "
                         "are correct."),
          MB_OK);
      return;
    }
    account1 = address1;
    if (!domain.isEmpty()) account1 += "," + domain;
    if (!password.isEmpty()) account1 += "," + password;
  } else {
    if (name1.isEmpty() != address1.isEmpty() || name2.isEmpty() != address2.isEmpty()) {
      TremMessageBox(this, QStringLiteral("Name and Address must be specified"), MB_OK);
      return;
    }
    account1 = address1;
  }
  if (!RecordTextValidator::Fits(account1)) {
    TremMessageBox(this, QStringLiteral("The user name, domain and password are too long together."), MB_OK);
    return;
  }
  const bool add1 = !name1.isEmpty();
  const bool add2 = !name2.isEmpty() && (account ? !local : !address2.isEmpty());
  const QString account2 = account ? QStringLiteral(" ") : address2;

  bool refused = false;
  bool moved = false;
  {
    auto lock = gScp.Lock();
    KT_MailRecipients& mail = gScp.notify.MailRecipients();
    const int before = mail.Count();
    mail.Clear();
    int next = 0;
    std::vector<int> newSlot(KT_MailRecipients::kSlots, -1);
    if (add1) {
      if (mail.Add(account1.toStdString().c_str(), name1.toStdString().c_str()) < 0) {
        refused = true;
      } else {
        newSlot[0] = next++;
      }
    }
    if (add2) {
      if (mail.Add(account2.toStdString().c_str(), name2.toStdString().c_str()) < 0) {
        refused = true;
      } else {
        newSlot[1] = next++;
      }
    }
    // Slots that held nobody keep their bits: they named nobody and still do.
    for (int i = before; i < KT_MailRecipients::kSlots; ++i) newSlot[i] = i;
    moved = MoveRecipientBits(gScp.notify, ACTION_MAIL, newSlot);
    gScp.notify.Branches().Touch(moved ? 0 : 3);
  }
  if (refused) TremMessageBox(this, QStringLiteral("Cannot add user"), MB_OK);
  // When mail actions followed their recipients the action list changed too: the whole
  // block goes, in one message.
  SendCommand(5, moved ? 0 : 3, 0);
  if (moved) ReloadNotificationList();
  if (DialogIsOpen(pEMail.get())) pEMail->GetCurrentConfig();
  KTDialog::OnOK();
}
