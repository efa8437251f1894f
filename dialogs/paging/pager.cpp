#include "dialogs/paging/pager.h"

#include <QComboBox>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <mutex>
#include <thread>

#include "core/mail_paging/page_call.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/event_notification.h"
#include "dialogs/paging/pager_config.h"

DialogPointer<CPager> pPager;

TREM_REGISTER_DIALOG(CPager);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CPager::kHelpContext, "Configure Pager",
    "The page the agent sends when one of the selected events occurs: select the recipients, "
    "type the message (digits and hyphens only for a numeric pager), the delay before it is "
    "sent and how often a failed call is tried again. Test... pages the selected recipients "
    "from this computer at once. Add Pager Recipients edits the recipients the agent knows.");

namespace {

std::mutex g_senderLock;
CPager::PageSender& Sender() {
  static CPager::PageSender sender;
  return sender;
}

int DefaultSend(const KT_PageCall& call, const std::atomic<bool>& stop, std::string* text) {
  KT_PageLink link;
  link.SetStopFlag(&stop);
  return link.Send(call, text);
}

}  // namespace

void CPager::SetPageSender(PageSender sender) {
  std::lock_guard<std::mutex> lock(g_senderLock);
  Sender() = std::move(sender);
}

CPager::CPager(QWidget* parent, const QString& hostName) : ActionDialog(kTemplateId, parent, hostName) {
  Init();
}

CPager::CPager(QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CPager::Init() {
  BindDialogPointer(pPager);
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CPager::~CPager() = default;

void CPager::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* recipientsLabel = new QLabel(QStringLiteral("&Select a Recipient to Page"), this);
  recipients_ = new QListWidget(this);
  recipients_->setObjectName(ControlName(IDC_RECIPIENTS));
  recipients_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  recipients_->setMinimumHeight(90);
  recipientsLabel->setBuddy(recipients_);
  auto* configure = MakeButton(IDC_PAGER_CONFIG, QStringLiteral("&Add Pager Recipients"));
  configure->setAutoDefault(false);
  connect(configure, &QPushButton::clicked, this, [this] { OnPagerConfig(); });
  auto* test = MakeButton(IDC_TEST, QStringLiteral("&Test..."));
  test->setAutoDefault(false);
  connect(test, &QPushButton::clicked, this, [this] { OnTest(); });
  auto* recipientRow = new QHBoxLayout;
  recipientRow->addWidget(recipients_, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(configure);
  side->addWidget(test);
  side->addStretch(1);
  recipientRow->addLayout(side);
  layout->addWidget(recipientsLabel);
  layout->addLayout(recipientRow);
  auto* messageLabel = new QLabel(QStringLiteral("&Message"), this);
  message_ = new QLineEdit(this);
  message_->setObjectName(ControlName(IDC_MESSAGE));
  message_->setMaxLength(static_cast<int>(kRecordMaxText));
  message_->setValidator(new RecordTextValidator(message_));
  message_->setMinimumWidth(360);
  messageLabel->setBuddy(message_);
  layout->addWidget(messageLabel);
  layout->addWidget(message_);

  auto* delayGroup = new QGroupBox(QStringLiteral("Delay before message is sent"), this);
  auto* delayGrid = new QGridLayout(delayGroup);
  delay_minutes_ = MakeTimeCombo(IDC_DELAY_MINUTES, 20);
  delay_seconds_ = MakeTimeCombo(IDC_DELAY_SECONDS, 59);
  delayGrid->addWidget(delay_minutes_, 0, 0);
  delayGrid->addWidget(new QLabel(QStringLiteral("Minutes"), delayGroup), 0, 1);
  delayGrid->addWidget(delay_seconds_, 0, 2);
  delayGrid->addWidget(new QLabel(QStringLiteral("Seconds"), delayGroup), 0, 3);
  delayGrid->setColumnStretch(4, 1);
  auto* retryGroup =
      new QGroupBox(QStringLiteral("Number of retries and time to wait between retries"), this);
  auto* retryGrid = new QGridLayout(retryGroup);
  retries_ = MakeTimeCombo(IDC_RETRIES, 10);
  retry_seconds_ = MakeTimeCombo(IDC_RETRY_SECONDS, 59);
  retryGrid->addWidget(retries_, 0, 0);
  retryGrid->addWidget(new QLabel(QStringLiteral("Times"), retryGroup), 0, 1);
  retryGrid->addWidget(retry_seconds_, 0, 2);
  retryGrid->addWidget(new QLabel(QStringLiteral("Seconds"), retryGroup), 0, 3);
  retryGrid->setColumnStretch(4, 1);
  layout->addWidget(delayGroup);
  layout->addWidget(retryGroup);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(recipients_, configure);
  setTabOrder(configure, test);
  setTabOrder(test, message_);
  setTabOrder(message_, delay_minutes_);
  setTabOrder(delay_minutes_, delay_seconds_);
  setTabOrder(delay_seconds_, retries_);
  setTabOrder(retries_, retry_seconds_);
  setTabOrder(retry_seconds_, Control(IDOK));
}

bool CPager::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  SetHostCaption(QStringLiteral("Configure Pager"));
  GetCurrentConfig();
  return true;
}

void CPager::GetCurrentConfig() {
  recipients_->clear();
  std::vector<QString> names;
  KT_ActionEntry entry;
  bool found = false;
  const int event = SingleSelectedEvent();
  {
    auto lock = gScp.Lock();
    for (const KT_PagerConfig& r : gScp.notify.PagerRecipients().Entries())
      names.push_back(QString::fromStdString(r.GetName().value_or(std::string())));
    if (event != 0) found = gScp.notify.FindAction(event, ACTION_PAGE, entry);
  }
  for (const QString& name : names) recipients_->addItem(name);
  SelectTimeValue(delay_minutes_, 0);
  SelectTimeValue(delay_seconds_, 0);
  SelectTimeValue(retries_, 2);
  SelectTimeValue(retry_seconds_, 20);
  if (!found) return;
  message_->setText(QString::fromStdString(entry.message.value_or(std::string())));
  for (int row = 0; row < recipients_->count() && row < KT_PagerList::kMaxRecipients; ++row)
    recipients_->item(row)->setSelected((entry.alias & (1u << row)) != 0);
  SelectTimeValue(delay_minutes_, entry.delay / 60);
  SelectTimeValue(delay_seconds_, entry.delay % 60);
  SelectTimeValue(retry_seconds_, entry.option);
  SelectTimeValue(retries_, entry.retries);
}

uint8_t CPager::SelectedMask() const {
  uint8_t mask = 0;
  for (int row = 0; row < recipients_->count() && row < KT_PagerList::kMaxRecipients; ++row) {
    if (recipients_->item(row)->isSelected()) mask |= static_cast<uint8_t>(1u << row);
  }
  return mask;
}

bool CPager::NumericCheck() const {
  const QString message = message_->text();
  static const QString kNumeric = QStringLiteral("0123456789-");
  bool numericOnly = true;
  for (QChar c : message) {
    if (!kNumeric.contains(c)) numericOnly = false;
  }
  if (numericOnly) return true;
  auto lock = gScp.Lock();
  for (const QListWidgetItem* item : recipients_->selectedItems()) {
    for (const KT_PagerConfig& r : gScp.notify.PagerRecipients().Entries()) {
      if (QString::fromStdString(r.GetName().value_or(std::string())) == item->text() && r.GetTap() == 0)
        return false;
    }
  }
  return true;
}

bool CPager::VerifyData() {
  const QString message = message_->text();
  if (message.isEmpty()) {
    TremMessageBox(this, QStringLiteral("Must provide message"), MB_OK);
    return false;
  }
  const uint8_t mask = SelectedMask();
  if (mask == 0) {
    TremMessageBox(this,
                   recipients_->count() == 0 ? QStringLiteral("Please configure a recipient")
                                             : QStringLiteral("Must select recipient"),
                   MB_OK);
    return false;
  }
  const int delay = ReadTime(this, delay_minutes_, delay_seconds_, kDelayTexts);
  if (delay < 0) return false;
  bool retriesEmpty = false;
  const int retries = ComboNumber(retries_, &retriesEmpty);
  if (!retriesEmpty && (retries < 0 || retries > 10)) {
    TremMessageBox(this, QStringLiteral("Number of retries must be between 0 and 10"), MB_OK);
    return false;
  }
  bool waitEmpty = false;
  int wait = ComboNumber(retry_seconds_, &waitEmpty);
  if (waitEmpty) {
    wait = retries != 0 ? 20 : 0;
  } else if (wait < 0 || wait > 59) {
    TremMessageBox(this, QStringLiteral("Retry interval must be between 0 and 59 seconds"), MB_OK);
    return false;
  }
  // Checked before anything is stored: a message a numeric pager cannot show must not stay
  // configured.
  if (!NumericCheck()) {
    TremMessageBox(
        this,
        QStringLiteral("Invalid data field:\n\nThe Pager Message must only contain numeric characters "
                       "for the type of pager chosen"),
        MB_OK);
    return false;
  }
  const QByteArray text = message.toUtf8();
  {
    auto lock = gScp.Lock();
    for (int event : gpSelectedEvents) {
      KT_ActionEntry entry(static_cast<uint8_t>(event), ACTION_PAGE);
      entry.delay = static_cast<uint16_t>(delay);
      entry.alias = mask;
      entry.retries = static_cast<uint8_t>(retries);
      entry.option = static_cast<uint8_t>(wait);
      entry.SetMessage(text.constData());
      if (!AddOrReplaceAction(gScp.notify, entry)) {
        lock.unlock();
        ReportAddRefused();
        return false;
      }
    }
  }
  return true;
}

void CPager::OnOK() {
  if (!VerifyData()) return;
  ReloadNotificationList();
  KTDialog::OnOK();
}

void CPager::OnPagerConfig() {
  if (DialogIsOpen(pPagerConfig.get())) {
    pPagerConfig->raise();
    pPagerConfig->activateWindow();
    return;
  }
  if (!HostList().isEmpty()) {
    new CPagerConfig(this, SelectionLabel(), HostName(), HostList());
  } else {
    new CPagerConfig(this, HostName());
  }
}

QString CPager::ResultMessage(int result, const QString& errorText) {
  if (result == PAGE_SENT) return QString();
  if (result == PAGE_INTERRUPTED) return QStringLiteral("Operator interrupted session");
  if ((result >= 4 && result <= 9) || (result >= 26 && result <= 29))
    return QStringLiteral("Error occurred during initialization\nError message: ") + errorText;
  if (result >= 16 && result <= 24)
    return QStringLiteral("Error occurred while call was completing\nError message: ") + errorText;
  if (result >= 30 && result <= 36)
    return QStringLiteral("Error occurred while call in progress\nError message: ") + errorText;
  return QStringLiteral("Error occurred\nError number: ") + errorText;
}

int CPager::RunPage(const KT_PageCall& call, std::string* text) {
  PageSender send;
  {
    std::lock_guard<std::mutex> lock(g_senderLock);
    send = Sender();
  }
  if (!send) send = DefaultSend;
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  int result = PAGE_SENT;
  std::string resultText;
  std::thread worker([&] {
    result = send(call, stop, &resultText);
    done = true;
  });
  QProgressDialog progress(this);
  progress.setObjectName(QStringLiteral("pagerTestProgress"));
  progress.setWindowTitle(QStringLiteral("Pager Testing"));
  progress.setLabelText(QStringLiteral("In Progress\nPlease Wait"));
  progress.setRange(0, 0);
  progress.setMinimumDuration(0);
  progress.setWindowModality(Qt::WindowModal);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  connect(&progress, &QProgressDialog::canceled, &progress, [&stop] { stop = true; });
  progress.show();
  QEventLoop loop;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (progress.wasCanceled()) stop = true;
    if (done) loop.quit();
  });
  poll.start(20);
  if (!done) loop.exec();
  worker.join();
  progress.hide();
  *text = resultText;
  return result;
}

void CPager::OnTest() {
  if (!VerifyData()) return;
  const uint8_t mask = SelectedMask();
  if (mask == 0) {
    TremMessageBox(this, QStringLiteral("Select at least one recipient"), MB_OK);
    return;
  }
  const std::string message = message_->text().toStdString();
  for (int row = 0; row < KT_PagerList::kMaxRecipients; ++row) {
    if (!(mask & (1u << row))) continue;
    KT_PagerConfig recipient;
    int have = 0;
    {
      auto lock = gScp.Lock();
      have = gScp.notify.PagerRecipients().GetAt(row, recipient);
    }
    if (have != 1) continue;
    if (!recipient.GetPortName()) {
      TremMessageBox(this, QStringLiteral("Insufficient memory to complete page."), MB_OK);
      return;
    }
    std::string text;
    const int result = RunPage(MakePageCall(recipient, message), &text);
    const QString shown = ResultMessage(result, QString::fromStdString(text));
    if (!shown.isEmpty()) TremMessageBox(this, shown, MB_OK);
  }
}
