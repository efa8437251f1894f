#include "dialogs/notification/email.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/email_config.h"
#include "dialogs/notification/event_notification.h"

DialogPointer<CEMail> pEMail;

TREM_REGISTER_DIALOG(CEMail);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CEMail::kHelpContext, "Configure E-mail",
    "The mail the agent sends when one of the selected events occurs: select its recipients, "
    "type its text and choose the delay before it is sent. Add E-mail Recipients edits the two "
    "recipients the agent knows.");

CEMail::CEMail(QWidget* parent, const QString& hostName) : ActionDialog(kTemplateId, parent, hostName) {
  Init();
}

CEMail::CEMail(QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CEMail::Init() {
  BindDialogPointer(pEMail);
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CEMail::~CEMail() = default;

void CEMail::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* recipientsLabel = new QLabel(QStringLiteral("&Select a Recipient to E-mail"), this);
  recipients_ = new QListWidget(this);
  recipients_->setObjectName(ControlName(IDC_RECIPIENTS));
  recipients_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  recipients_->setMinimumHeight(60);
  recipients_->setMaximumHeight(80);
  recipientsLabel->setBuddy(recipients_);
  auto* configure = MakeButton(IDC_CONFIGURE, QStringLiteral("&Add E-mail Recipients"));
  configure->setAutoDefault(false);
  connect(configure, &QPushButton::clicked, this, [this] { OnEmailConfig(); });
  auto* recipientRow = new QHBoxLayout;
  recipientRow->addWidget(recipients_, 1);
  auto* configureColumn = new QVBoxLayout;
  configureColumn->addWidget(configure);
  configureColumn->addStretch(1);
  recipientRow->addLayout(configureColumn);
  layout->addWidget(recipientsLabel);
  layout->addLayout(recipientRow);
  auto* messageLabel = new QLabel(QStringLiteral("&Message"), this);
  message_ = new QPlainTextEdit(this);
  message_->setObjectName(ControlName(IDC_MESSAGE));
  message_->setTabChangesFocus(true);
  message_->setMinimumSize(360, 60);
  LimitToRecordText(message_, 80);
  messageLabel->setBuddy(message_);
  layout->addWidget(messageLabel);
  layout->addWidget(message_, 1);
  auto* timeGroup = new QGroupBox(QStringLiteral("Time"), this);
  auto* grid = new QGridLayout(timeGroup);
  delay_minutes_ = MakeTimeCombo(IDC_DELAY_MINUTES, 20);
  delay_seconds_ = MakeTimeCombo(IDC_DELAY_SECONDS, 59);
  AddTimeRow(grid, 0, new QLabel(QStringLiteral("Delay before message is sent"), timeGroup), delay_minutes_,
             delay_seconds_);
  layout->addWidget(timeGroup);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(recipients_, configure);
  setTabOrder(configure, message_);
  setTabOrder(message_, delay_minutes_);
  setTabOrder(delay_minutes_, delay_seconds_);
  setTabOrder(delay_seconds_, Control(IDOK));
}

bool CEMail::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  GetCurrentConfig();
  SetHostCaption(QStringLiteral("Configure E-mail"));
  return true;
}

void CEMail::GetCurrentConfig() {
  SelectTimeValue(delay_minutes_, 0);
  SelectTimeValue(delay_seconds_, 0);
  recipients_->clear();
  std::vector<QString> names;
  KT_ActionEntry entry;
  bool found = false;
  const int event = SingleSelectedEvent();
  {
    auto lock = gScp.Lock();
    const KT_MailRecipients& mail = gScp.notify.MailRecipients();
    for (int i = 0; i < mail.Count(); ++i) {
      std::optional<std::string> account;
      std::optional<std::string> name;
      if (mail.GetAt(i, account, name) > 0)
        names.push_back(QString::fromStdString(name.value_or(std::string())));
    }
    if (event != 0) found = gScp.notify.FindAction(event, ACTION_MAIL, entry);
  }
  for (const QString& name : names) recipients_->addItem(name);
  if (!found) return;
  message_->setPlainText(QString::fromStdString(entry.message.value_or(std::string())));
  for (int row = 0; row < recipients_->count() && row < KT_MailRecipients::kSlots; ++row) {
    recipients_->item(row)->setSelected((entry.alias & (1u << row)) != 0);
  }
  SelectTimeValue(delay_minutes_, entry.delay / 60);
  SelectTimeValue(delay_seconds_, entry.delay % 60);
}

void CEMail::OnEmailConfig() {
  if (DialogIsOpen(pEMailConfig.get())) {
    pEMailConfig->raise();
    pEMailConfig->activateWindow();
    return;
  }
  if (!HostList().isEmpty()) {
    new CEMailConfig(this, SelectionLabel(), HostName(), HostList());
  } else {
    new CEMailConfig(this, HostName());
  }
}

void CEMail::OnOK() {
  uint8_t mask = 0;
  for (int row = 0; row < recipients_->count() && row < KT_MailRecipients::kSlots; ++row) {
    if (recipients_->item(row)->isSelected()) mask |= static_cast<uint8_t>(1u << row);
  }
  if (mask == 0) {
    TremMessageBox(this, QStringLiteral("Must select recipient"), MB_OK);
    return;
  }
  const int delay = ReadTime(this, delay_minutes_, delay_seconds_, kDelayTexts);
  if (delay < 0) return;
  const QString message = message_->toPlainText();
  if (message.isEmpty()) {
    TremMessageBox(this, QStringLiteral("Must provide message"), MB_OK);
    return;
  }
  int refused = 0;
  {
    auto lock = gScp.Lock();
    for (int event : gpSelectedEvents) {
      KT_ActionEntry entry(static_cast<uint8_t>(event), ACTION_MAIL);
      entry.delay = static_cast<uint16_t>(delay);
      entry.alias = mask;
      entry.SetMessage(message.toStdString().c_str());
      if (!AddOrReplaceAction(gScp.notify, entry)) ++refused;
    }
  }
  for (int i = 0; i < refused; ++i) ReportAddRefused();
  ReloadNotificationList();
  KTDialog::OnOK();
}
