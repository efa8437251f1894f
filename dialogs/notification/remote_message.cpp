#include "dialogs/notification/remote_message.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/scp/record_writer.h"
#include "dialogs/discovery/discoverc.h"
#include "dialogs/discovery/host_search.h"
#include "dialogs/discovery/subnet_file.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/event_notification.h"

DialogPointer<CRemoteMessage> pRemoteMessage;

TREM_REGISTER_DIALOG(CRemoteMessage);

static const StringTableRegistrar kStrings{
    {1655, "Unable to get current configuration"},       {3195, "Must select interval seconds"},
    {3203, "Delay minutes must be between 0 and 20"},    {3205, "Unable to add action!"},
    {3352, "Unable to open file for writing!"},          {3450, "Host name or IP Address must be specified."},
    {3451, "Interval minutes must be between 0 and 20"}, {3452, "Interval seconds must be between 0 and 59"},
    {3453, "Please enter a message to be sent."},
};

CRemoteMessage::CRemoteMessage(QWidget* parent, const QString& hostName)
    : ActionDialog(kTemplateId, parent, hostName), SubnetListOwner(this) {
  Init();
}

CRemoteMessage::CRemoteMessage(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                               const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames), SubnetListOwner(this) {
  Init();
}

void CRemoteMessage::Init() {
  BindDialogPointer(pRemoteMessage);
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CRemoteMessage::~CRemoteMessage() = default;

void CRemoteMessage::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Remote Message"));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QGridLayout;
  auto* sendTo = new QLabel(QStringLiteral("&Send Message To:"), this);
  target_ = new QComboBox(this);
  target_->setObjectName(ControlName(IDC_TARGET));
  target_->setEditable(true);
  target_->setInsertPolicy(QComboBox::NoInsert);
  target_->lineEdit()->setMaxLength(255);
  target_->lineEdit()->setValidator(new RecordTextValidator(target_));
  target_->setMinimumContentsLength(30);
  target_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  sendTo->setBuddy(target_);
  auto* hint = new QLabel(QStringLiteral("Add additional subnets to the discovery process"), this);
  hint->setObjectName(ControlName(2046));
  hint->setWordWrap(true);
  auto* discover = MakeButton(IDC_DISCOVER, QStringLiteral("D&iscover"));
  discover->setAutoDefault(false);
  top->addWidget(sendTo, 0, 0, Qt::AlignBottom);
  top->addWidget(hint, 0, 1, Qt::AlignBottom);
  top->addWidget(target_, 1, 0);
  top->addWidget(discover, 1, 1, Qt::AlignLeft);
  top->setColumnStretch(0, 1);
  layout->addLayout(top);

  auto* messageGroup = new QGroupBox(QStringLiteral("Message"), this);
  messageGroup->setObjectName(ControlName(1137));
  auto* messageLayout = new QVBoxLayout(messageGroup);
  message_ = new QPlainTextEdit(messageGroup);
  message_->setObjectName(ControlName(IDC_MESSAGE));
  message_->setTabChangesFocus(true);
  message_->setMinimumHeight(message_->fontMetrics().height() * 5);
  LimitToRecordText(message_, static_cast<int>(kRecordMaxText));
  messageLayout->addWidget(message_);
  layout->addWidget(messageGroup, 1);

  auto* timeGroup = new QGroupBox(QStringLiteral("Time"), this);
  timeGroup->setObjectName(ControlName(1144));
  auto* grid = new QGridLayout(timeGroup);
  delay_minutes_ = MakeTimeCombo(IDC_DELAY_MINUTES, 20);
  interval_minutes_ = MakeTimeCombo(IDC_INTERVAL_MINUTES, 20);
  interval_seconds_ = MakeTimeCombo(IDC_INTERVAL_SECONDS, 59);
  AddTimeRow(grid, 0, new QLabel(QStringLiteral("&Delay before first message is sent"), timeGroup),
             delay_minutes_, nullptr);
  AddTimeRow(grid, 1, new QLabel(QStringLiteral("&Frequency at which message is sent"), timeGroup),
             interval_minutes_, interval_seconds_);
  layout->addWidget(timeGroup);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  connect(discover, &QPushButton::clicked, this, [this] { OnDiscover(); });
  setTabOrder(target_, discover);
  setTabOrder(discover, message_);
  setTabOrder(message_, delay_minutes_);
  setTabOrder(delay_minutes_, interval_minutes_);
  setTabOrder(interval_minutes_, interval_seconds_);
  setTabOrder(interval_seconds_, Control(IDOK));
}

bool CRemoteMessage::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHostCaption(QStringLiteral("Configure Remote Message"));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  GetCurrentConfig();
  ReadFileFromDisk();
  const QString kept = target_->currentText();
  GetHosts();
  target_->setEditText(kept);
  QApplication::restoreOverrideCursor();
  return true;
}

bool CRemoteMessage::event(QEvent* e) {
  if (e->type() == kRediscoverEventType) {
    if (WindowExists()) Rediscover();
    return true;
  }
  return ActionDialog::event(e);
}

void CRemoteMessage::GetCurrentConfig() {
  SelectTimeValue(delay_minutes_, 0);
  SelectTimeValue(interval_minutes_, 1);
  SelectTimeValue(interval_seconds_, 0);
  const int event = SingleSelectedEvent();
  if (event == 0) return;
  KT_ActionEntry entry;
  bool found;
  {
    auto lock = gScp.Lock();
    found = gScp.notify.FindAction(event, ACTION_REMOTE_HOST, entry);
  }
  if (!found) return;
  message_->setPlainText(QString::fromStdString(entry.message.value_or(std::string())));
  SelectTimeValue(delay_minutes_, entry.delay / 60);
  SelectTimeValue(interval_minutes_, entry.interval / 60);
  SelectTimeValue(interval_seconds_, entry.interval % 60);
  target_->setEditText(QString::fromStdString(entry.remoteHost.value_or(std::string())));
}

void CRemoteMessage::GetHosts() {
  if (SearchHosts(this, discover_, found_, AgentSearchesIpx()) == HostSearchResult::NoChannel) return;
  FillHostCombo(target_, found_);
}

void CRemoteMessage::OnDiscover() {
  CDiscoverc discover(this);
  discover.DoModal();
}

int CRemoteMessage::ReadFileFromDisk() {
  ReadSubnetFile(discover_);
  return 0;
}

int CRemoteMessage::WriteFileToDisk() {
  if (WriteSubnetFile(discover_) != 1) {
    ShowMessageBox(this, LoadString(3352), QString(), MB_OK);
    return 0;
  }
  return 1;
}

void CRemoteMessage::OnOK() {
  const QString host = target_->currentText().trimmed();
  if (host.isEmpty()) {
    TremMessageBox(this, LoadString(3450), MB_OK);
    return;
  }
  const int interval = ReadTime(this, interval_minutes_, interval_seconds_, kIntervalTexts);
  if (interval < 0) return;
  const int delay = ReadTime(this, delay_minutes_, nullptr, kDelayTexts);
  if (delay < 0) return;
  const QString text = message_->toPlainText();
  if (text.isEmpty()) {
    TremMessageBox(this, LoadString(3453), MB_OK);
    message_->setFocus();
    return;
  }
  const QByteArray hostBytes = host.toUtf8();
  const QByteArray textBytes = text.toUtf8();
  for (int event : gpSelectedEvents) {
    KT_ActionEntry entry(static_cast<uint8_t>(event), ACTION_REMOTE_HOST);
    entry.delay = static_cast<uint16_t>(delay);
    entry.interval = static_cast<uint16_t>(interval);
    entry.SetMessage(textBytes.constData());
    entry.SetRemoteHost(hostBytes.constData());
    bool added;
    {
      auto lock = gScp.Lock();
      added = AddOrReplaceAction(gScp.notify, entry);
    }
    if (!added) TremMessageBox(this, LoadString(3205), MB_OK);
  }
  ReloadNotificationList();
  WriteFileToDisk();
  KTDialog::OnOK();
}
