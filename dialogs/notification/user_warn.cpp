#include "dialogs/notification/user_warn.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "core/scp/event_log_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/event_notification.h"

DialogPointer<CUserWarn> pUserWarn{DialogSlot::UserWarn};

TREM_REGISTER_DIALOG(CUserWarn);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CUserWarn::kHelpContext, "User Warning Configuration",
    "The message the agent sends to the users of its computer when one of the selected events "
    "occurs, the time before the first message and how often it is repeated (0 minutes and 0 "
    "seconds: once).");

namespace {

constexpr const char* kDelayText = "Delay before first message is sent";
constexpr const char* kShutdownDelayText = "Time before event occurs that message will be displayed";

// Events whose warning comes before the event rather than after it.
bool IsAnnouncedShutdown(int event) {
  const QString name = QString::fromUtf8(GetEventName(event));
  return name.compare(QStringLiteral("Scheduled Shutdown"), Qt::CaseInsensitive) == 0 ||
         name.compare(QStringLiteral("Remote Shutdown"), Qt::CaseInsensitive) == 0;
}

}  // namespace

CUserWarn::CUserWarn(QWidget* parent, const QString& hostName) : ActionDialog(kTemplateId, parent, hostName) {
  Init();
}

CUserWarn::CUserWarn(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                     const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CUserWarn::Init() {
  BindDialogPointer(pUserWarn);
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CUserWarn::~CUserWarn() = default;

void CUserWarn::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* messageGroup = new QGroupBox(QStringLiteral("Message"), this);
  auto* messageLayout = new QVBoxLayout(messageGroup);
  message_ = new QPlainTextEdit(messageGroup);
  message_->setObjectName(ControlName(IDC_MESSAGE));
  message_->setTabChangesFocus(true);
  message_->setMinimumSize(380, 90);
  LimitToRecordText(message_, 254);
  messageLayout->addWidget(message_);
  layout->addWidget(messageGroup, 1);

  auto* timeGroup = new QGroupBox(QStringLiteral("Time"), this);
  auto* grid = new QGridLayout(timeGroup);
  delay_minutes_ = MakeTimeCombo(IDC_DELAY_MINUTES, 20);
  interval_minutes_ = MakeTimeCombo(IDC_INTERVAL_MINUTES, 20);
  interval_seconds_ = MakeTimeCombo(IDC_INTERVAL_SECONDS, 59);
  delay_label_ = new QLabel(QString::fromUtf8(kDelayText), timeGroup);
  delay_label_->setObjectName(ControlName(IDC_DELAY_LABEL));
  AddTimeRow(grid, 0, delay_label_, delay_minutes_, nullptr);
  AddTimeRow(grid, 1, new QLabel(QStringLiteral("Frequency at which message is sent"), timeGroup),
             interval_minutes_, interval_seconds_);
  layout->addWidget(timeGroup);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(message_, delay_minutes_);
  setTabOrder(delay_minutes_, interval_minutes_);
  setTabOrder(interval_minutes_, interval_seconds_);
  setTabOrder(interval_seconds_, Control(IDOK));
}

bool CUserWarn::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  GetCurrentConfig();
  setWindowTitle(QStringLiteral("User Warning Configuration"));
  SetHostCaption(QStringLiteral("User Warning Configuration"));
  message_->setFocus();
  return false;
}

void CUserWarn::GetCurrentConfig() {
  SelectTimeValue(delay_minutes_, 0);
  SelectTimeValue(interval_minutes_, 1);
  SelectTimeValue(interval_seconds_, 0);
  delay_label_->setText(QString::fromUtf8(kDelayText));
  const int event = SingleSelectedEvent();
  if (event == 0) return;
  if (IsAnnouncedShutdown(event)) delay_label_->setText(QString::fromUtf8(kShutdownDelayText));
  KT_ActionEntry entry;
  bool found = false;
  {
    auto lock = gScp.Lock();
    found = gScp.notify.FindAction(event, ACTION_USER_WARNING, entry);
  }
  if (!found) return;
  message_->setPlainText(QString::fromStdString(entry.message.value_or(std::string())));
  SelectTimeValue(delay_minutes_, entry.delay / 60);
  SelectTimeValue(interval_minutes_, entry.interval / 60);
  SelectTimeValue(interval_seconds_, entry.interval % 60);
}

void CUserWarn::OnOK() {
  const QString message = message_->toPlainText();
  if (message.isEmpty()) {
    TremMessageBox(this, QStringLiteral("Please enter a message to be sent."), MB_OK);
    message_->setFocus();
    return;
  }
  const int interval = ReadTime(this, interval_minutes_, interval_seconds_, kIntervalTexts);
  if (interval < 0) return;
  const int delay = ReadTime(this, delay_minutes_, nullptr, kDelayTexts);
  if (delay < 0) return;
  int refused = 0;
  {
    auto lock = gScp.Lock();
    for (int event : gpSelectedEvents) {
      KT_ActionEntry entry(static_cast<uint8_t>(event), ACTION_USER_WARNING);
      entry.delay = static_cast<uint16_t>(delay);
      entry.interval = static_cast<uint16_t>(interval);
      entry.SetMessage(message.toStdString().c_str());
      if (!AddOrReplaceAction(gScp.notify, entry)) ++refused;
    }
  }
  for (int i = 0; i < refused; ++i) ReportAddRefused();
  ReloadNotificationList();
  KTDialog::OnOK();
}
