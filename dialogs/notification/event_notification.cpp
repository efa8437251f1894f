#include "dialogs/notification/event_notification.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <string>

#include "core/scp/event_log_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/report_list.h"
#include "dialogs/notification/admin_warn.h"
#include "dialogs/notification/email.h"
#include "dialogs/notification/execute_command.h"
#include "dialogs/notification/log_event.h"
#include "dialogs/notification/network_message.h"
#include "dialogs/notification/remote_message.h"
#include "dialogs/notification/user_warn.h"
#include "dialogs/paging/pager.h"

DialogPointer<CEventNotification> pEventNotification{DialogSlot::EventNotification};
std::vector<EventIndexPair> gpEventIndexMap;
int gnSelectedEventCount = 0;
std::vector<int> gpSelectedEvents;

TREM_REGISTER_DIALOG(CEventNotification);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CEventNotification::kHelpContext, "Configure Events",
    "Decides what the agent does when an event occurs.\n\n"
    "Select one or more events on the left, then press the button of an action to configure "
    "that action for them. The configured actions are listed on the right, sorted by event; "
    "select rows and press Delete to remove them.\n\n"
    "Nothing reaches the agent before you press OK.");

namespace {

// The keywords of the action descriptions, in the order they are tested.
struct ActionKeyword {
  const char* keyword;
  int action;
};
constexpr ActionKeyword kActionKeywords[] = {
    {"SNMP", 1},      {"User", 2},      {"Console", 3},
    {"audio", 4},     {"Page", 5},      {"Mail", 6},
    {"command", 7},   {"Event Log", 8}, {"Application Log", 11},
    {"Netfinity", 9}, {"Insight", 10},  {"remote host", 12},
};

struct ActionButtonInfo {
  int id;
  const char* caption;
  const char* tooltip;
  QStyle::StandardPixmap icon;
};
constexpr ActionButtonInfo kButtons[] = {
    {CEventNotification::IDC_NETWORK_MSG, "&Network Message", "Network Message", QStyle::SP_DriveNetIcon},
    {CEventNotification::IDC_USER_WARN, "Warn &User", "User Warning", QStyle::SP_MessageBoxInformation},
    {CEventNotification::IDC_ADMIN_WARN, "Ad&min Warn", "Administrative Warning",
     QStyle::SP_MessageBoxWarning},
    {CEventNotification::IDC_PAGE, "&Page", "Page", QStyle::SP_ComputerIcon},
    {CEventNotification::IDC_EMAIL, "&E-mail", "E-mail", QStyle::SP_DirHomeIcon},
    {CEventNotification::IDC_EXECUTE_CMD, "E&xecute Command", "Execute Command", QStyle::SP_MediaPlay},
    {CEventNotification::IDC_LOG_EVENT, "&Log Event", "Log Event", QStyle::SP_FileDialogDetailedView},
    {CEventNotification::IDC_REMOTE_WARN, "&Remote Warning", "Remote Warning", QStyle::SP_DriveNetIcon},
};

bool InRange(int event, int first, int last) {
  return event >= first && event <= last;
}

// Opens an action dialog, or brings the open one to the front.
template <class D>
void OpenActionDialog(DialogPointer<D>& pointer, CEventNotification* owner) {
  if (DialogIsOpen(pointer.get())) {
    pointer->raise();
    pointer->activateWindow();
    return;
  }
  if (!owner->HostList().isEmpty()) {
    new D(owner, owner->SelectionLabel(), owner->HostName(), owner->HostList());
  } else {
    new D(owner, owner->HostName());
  }
}

}  // namespace

CEventNotification::CEventNotification(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  Init();
}

CEventNotification::CEventNotification(QWidget* parent, const QString& selectionLabel,
                                       const QString& hostName, const QStringList& hostNames)
    : KTDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CEventNotification::Init() {
  BindDialogPointer(pEventNotification);
  first_data_ = false;
  SetWaitCount(1);
  BuildControls();
  Create(kTemplateId);
}

CEventNotification::~CEventNotification() {
  pairs_.clear();
  gpEventIndexMap.clear();
  gpSelectedEvents.clear();
  gnSelectedEventCount = 0;
}

void CEventNotification::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* lists = new QHBoxLayout;
  auto* eventColumn = new QVBoxLayout;
  auto* eventLabel = new QLabel(QStringLiteral("&Select an Event"), this);
  events_ = new QListWidget(this);
  events_->setObjectName(ControlName(IDC_EVENTS));
  events_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  events_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  events_->setMinimumWidth(230);
  eventLabel->setBuddy(events_);
  connect(events_, &QListWidget::currentRowChanged, this, [this] { OnSelchangeEvents(); });
  eventColumn->addWidget(eventLabel);
  eventColumn->addWidget(events_, 1);
  auto* configuredColumn = new QVBoxLayout;
  auto* configuredLabel = new QLabel(QStringLiteral("&Configured Events"), this);
  configured_ = new ReportList(IDC_CONFIGURED, this);
  configured_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  configured_->setMinimumWidth(420);
  configuredLabel->setBuddy(configured_);
  configuredColumn->addWidget(configuredLabel);
  configuredColumn->addWidget(configured_, 1);
  auto* remove = MakeButton(IDC_DELETE, QStringLiteral("&Delete"));
  connect(remove, &QPushButton::clicked, this, [this] { OnDelete(); });
  auto* deleteRow = new QHBoxLayout;
  deleteRow->addStretch(1);
  deleteRow->addWidget(remove);
  configuredColumn->addLayout(deleteRow);
  lists->addLayout(eventColumn, 2);
  lists->addLayout(configuredColumn, 3);
  layout->addLayout(lists, 1);

  auto* actions = new QGroupBox(QStringLiteral("Select an Action"), this);
  auto* grid = new QGridLayout(actions);
  void (CEventNotification::*handlers[])() = {
      &CEventNotification::OnNetworkMsg, &CEventNotification::OnUserWarn,  &CEventNotification::OnAdminWarn,
      &CEventNotification::OnPage,       &CEventNotification::OnEmail,     &CEventNotification::OnExecuteCmd,
      &CEventNotification::OnLogEvent,   &CEventNotification::OnRemoteWarn};
  QWidget* previous = configured_;
  setTabOrder(events_, configured_);
  setTabOrder(configured_, remove);
  previous = remove;
  for (size_t i = 0; i < std::size(kButtons); ++i) {
    QPushButton* button = MakeButton(kButtons[i].id, QString::fromUtf8(kButtons[i].caption));
    button->setIcon(style()->standardIcon(kButtons[i].icon));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(QString::fromUtf8(kButtons[i].tooltip));
    button->setAutoDefault(false);
    auto handler = handlers[i];
    connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    grid->addWidget(button, static_cast<int>(i) / 4, static_cast<int>(i) % 4);
    setTabOrder(previous, button);
    previous = button;
  }
  layout->addWidget(actions);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(previous, Control(IDOK));
  setTabOrder(Control(IDOK), Control(IDCANCEL));
  setTabOrder(Control(IDCANCEL), Control(ID_HELP));
  resize(780, 480);
}

QPushButton* CEventNotification::ActionButton(int id) const {
  return Control<QPushButton>(id);
}

bool CEventNotification::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  gpEventIndexMap.clear();
  gpSelectedEvents.clear();
  gnSelectedEventCount = 0;
  InitListControl();
  // Until the block's reply says what the agent supports, no action can be chosen.
  for (const ActionButtonInfo& b : kButtons) ActionButton(b.id)->setEnabled(false);
  RequestData(5, 0, 0);
  SetHostCaption(QStringLiteral("Configure Events"));
  return true;
}

void CEventNotification::InitListControl() {
  configured_->RemoveAll();
  configured_->SetColumns({QStringLiteral("Event"), QStringLiteral("Action")});
  configured_->SetWidthRule([](int width) { return std::vector<int>{width / 2, width}; });
}

void CEventNotification::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/,
                                   unsigned /*item*/) {
  if (block != 5 || first_data_) return;
  first_data_ = true;
  SetupBitmapButtons();
  LoadValidAlarms();
  LoadConfiguredActions();
}

bool CEventNotification::LocalMode() const {
  auto lock = gScp.Lock();
  return gScp.notify.GetLocalMode() != 0;
}

void CEventNotification::SetupBitmapButtons() {
  bool supported[13] = {};
  bool local = false;
  {
    auto lock = gScp.Lock();
    for (int a = 1; a <= 12; ++a) supported[a] = gScp.notify.IsActionSupported(a) == 1;
    local = gScp.notify.GetLocalMode() != 0;
  }
  ActionButton(IDC_USER_WARN)->setEnabled(supported[2] && !local);
  ActionButton(IDC_EMAIL)->setEnabled(supported[6]);
  ActionButton(IDC_ADMIN_WARN)->setEnabled(supported[3]);
  ActionButton(IDC_LOG_EVENT)->setEnabled(supported[8] && !local);
  ActionButton(IDC_EXECUTE_CMD)->setEnabled(supported[7] && !local);
  ActionButton(IDC_NETWORK_MSG)->setEnabled((supported[1] || supported[9] || supported[10]) && !local);
  ActionButton(IDC_PAGE)->setEnabled(supported[5]);
  ActionButton(IDC_REMOTE_WARN)->setEnabled(supported[12] && !local);
}

void CEventNotification::LoadValidAlarms() {
  events_->clear();
  gpEventIndexMap.clear();
  std::vector<int> supported;
  {
    auto lock = gScp.Lock();
    if (gScp.notify.CountSupportedEvents() == 0) return;
    gScp.notify.GetSupportedEvents(supported);
  }
  const QFontMetrics metrics(events_->font());
  for (int event : supported) {
    const QString name = QString::fromUtf8(GetEventName(event));
    if (metrics.horizontalAdvance(name) == 0) break;
    events_->addItem(name);
    gpEventIndexMap.push_back({events_->count() - 1, event});
  }
}

void CEventNotification::LoadConfiguredActions() {
  configured_->clear();
  pairs_.clear();
  {
    auto lock = gScp.Lock();
    NotifyBlock& block = gScp.notify;
    block.ResetActionCursor();
    for (int i = 0; i < block.GetActionCount(); ++i) {
      KT_ActionEntry entry;
      if (block.GetNextAction(entry) < 0) break;
      std::string text;
      block.GetActionText(entry, text);
      pairs_.emplace_back(QString::fromUtf8(GetEventName(entry.event)), QString::fromStdString(text),
                          entry.event, entry.action);
    }
    block.ResetActionCursor();
  }
  SortConfiguredActions();
  for (const CEventActionPair& pair : pairs_) {
    QTreeWidgetItem* item = configured_->AddRow({pair.event_name, pair.action_text});
    if (item == nullptr) {
      TremMessageBox(this, QStringLiteral("Cannot insert item"), MB_OK);
      continue;
    }
    item->setData(0, Qt::UserRole, pair.event);
    item->setData(1, Qt::UserRole, pair.action);
  }
  OnSelchangeEvents();
}

void CEventNotification::SortConfiguredActions() {
  if (pairs_.size() < 2) return;
  // The smallest name (without regard to case) first, then an insertion sort by the names'
  // bytes that moves a row back only past a strictly greater name.
  size_t smallest = 0;
  for (size_t i = 1; i < pairs_.size(); ++i) {
    if (pairs_[i].event_name.compare(pairs_[smallest].event_name, Qt::CaseInsensitive) < 0) smallest = i;
  }
  std::swap(pairs_[0], pairs_[smallest]);
  for (size_t i = 1; i < pairs_.size(); ++i) {
    CEventActionPair moving = pairs_[i];
    const std::string key = moving.event_name.toStdString();
    size_t j = i;
    while (j > 0 && std::strcmp(pairs_[j - 1].event_name.toStdString().c_str(), key.c_str()) > 0) {
      pairs_[j] = pairs_[j - 1];
      --j;
    }
    pairs_[j] = std::move(moving);
  }
}

int CEventNotification::GetSelectedEvents() {
  const QList<QListWidgetItem*> selected = events_->selectedItems();
  if (selected.isEmpty()) {
    TremMessageBox(this, QStringLiteral("Must select at least one event"), MB_OK);
    return -1;
  }
  std::vector<int> rows;
  for (QListWidgetItem* item : selected) rows.push_back(events_->row(item));
  std::sort(rows.begin(), rows.end());
  gpSelectedEvents.clear();
  for (int row : rows) {
    for (const EventIndexPair& pair : gpEventIndexMap) {
      if (pair.index == row) gpSelectedEvents.push_back(pair.event);
    }
  }
  gnSelectedEventCount = static_cast<int>(gpSelectedEvents.size());
  return 1;
}

int CEventNotification::CheckEventsAndActions(int event, int action, bool localMode) {
  const bool lost = event == 26 || event == 27;
  const bool unknown = event == 34 || event == 35;
  bool refused = false;
  switch (action) {
    case 1:
    case 9:
    case 10:
      refused = InRange(event, 17, 27) || unknown;
      break;
    case 2:
    case 3:
      refused = unknown || (lost && !localMode);
      break;
    case 5:
    case 6:
      refused = event == 20 || event == 23 || event == 24 || unknown || (lost && !localMode);
      break;
    case 7:
      refused = InRange(event, 23, 27) || unknown;
      break;
    case 8:
    case 11:
      refused = lost;
      break;
    case 12:
      refused = InRange(event, 21, 24) || lost || unknown;
      break;
    default:
      break;
  }
  return refused ? event : 0;
}

int CEventNotification::CheckEventsAndActions(int event, int action) const {
  return CheckEventsAndActions(event, action, LocalMode());
}

QString CEventNotification::GetEventsAndActionsErrorMsg(int action) {
  QString names;
  const bool local = LocalMode();
  for (int event : gpSelectedEvents) {
    if (CheckEventsAndActions(event, action, local) != 0)
      names += QString::fromUtf8(GetEventName(event)) + "\n";
  }
  if (names.isEmpty()) return QString();
  return QStringLiteral("The action you have selected is not supported \n") +
         "by the following event(s): \n\n" + names;
}

int CEventNotification::GetEventNumber(const QString& name) {
  for (int event = 1; event <= kLastEventId; ++event) {
    if (name == QString::fromUtf8(GetEventName(event))) return event;
  }
  return 0;
}

int CEventNotification::GetActionNumber(const QString& description) {
  for (const ActionKeyword& k : kActionKeywords) {
    if (description.contains(QString::fromUtf8(k.keyword))) return k.action;
  }
  return 0;
}

bool CEventNotification::PrepareAction(int action) {
  if (GetSelectedEvents() < 0) return false;
  const QString refusal = GetEventsAndActionsErrorMsg(action);
  if (!refusal.isEmpty()) {
    TremMessageBox(this, refusal, MB_OK | MB_ICONERROR);
    return false;
  }
  return GetSelectedEvents() >= 0;
}

void CEventNotification::OnNetworkMsg() {
  if (PrepareAction(1)) OpenActionDialog(pNetworkMessageDialog, this);
}

void CEventNotification::OnUserWarn() {
  if (PrepareAction(2)) OpenActionDialog(pUserWarn, this);
}

void CEventNotification::OnAdminWarn() {
  if (PrepareAction(3)) OpenActionDialog(pAdminWarn, this);
}

void CEventNotification::OnPage() {
  if (PrepareAction(5)) OpenActionDialog(pPager, this);
}

void CEventNotification::OnEmail() {
  if (PrepareAction(6)) OpenActionDialog(pEMail, this);
}

void CEventNotification::OnExecuteCmd() {
  if (PrepareAction(7)) OpenActionDialog(pExecuteCommand, this);
}

void CEventNotification::OnLogEvent() {
  if (PrepareAction(8)) OpenActionDialog(pLogEvent, this);
}

void CEventNotification::OnRemoteWarn() {
  if (PrepareAction(12)) OpenActionDialog(pRemoteMessage, this);
}

void CEventNotification::OnDelete() {
  if (configured_->selectedItems().isEmpty()) {
    TremMessageBox(this, QStringLiteral("Please select at least one item"), MB_OK);
    return;
  }
  for (int row = configured_->RowCount() - 1; row >= 0; --row) {
    QTreeWidgetItem* item = configured_->topLevelItem(row);
    if (item == nullptr || !item->isSelected()) continue;
    // The row keeps its numbers: a description's inserted text may hold another action's
    // keyword ("Execute command: Page.sh").
    const int event = item->data(0, Qt::UserRole).toInt();
    if (event < 1) {
      TremMessageBox(this, QStringLiteral("Unable to determine event number"), MB_OK);
      break;
    }
    const int action = item->data(1, Qt::UserRole).toInt();
    if (action < 1) {
      TremMessageBox(this, QStringLiteral("Unable to determine action number"), MB_OK);
      break;
    }
    int removed = -1;
    bool found = false;
    {
      auto lock = gScp.Lock();
      KT_ActionEntry entry;
      found = gScp.notify.FindAction(event, action, entry);
      if (found) removed = gScp.notify.RemoveAction(entry);
    }
    if (!found) {
      TremMessageBox(this, QStringLiteral("Unable to get action"), MB_OK);
      continue;
    }
    if (removed != 1) {
      TremMessageBox(this, QStringLiteral("Unable to delete selected item(s)"), MB_OK);
      continue;
    }
    delete configured_->takeTopLevelItem(row);
    pairs_.erase(
        std::remove_if(pairs_.begin(), pairs_.end(),
                       [&](const CEventActionPair& p) { return p.event == event && p.action == action; }),
        pairs_.end());
  }
}

void CEventNotification::OnSelchangeEvents() {
  QListWidgetItem* current = events_->currentItem();
  if (current == nullptr) return;
  const QString text = current->text();
  for (int row = 0; row < configured_->RowCount(); ++row) {
    if (configured_->Text(row, 0) == text) {
      configured_->scrollToItem(configured_->topLevelItem(row));
      return;
    }
  }
}

void CEventNotification::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete) {
    OnDelete();
    event->accept();
    return;
  }
  KTDialog::keyReleaseEvent(event);
}

void CEventNotification::SaveConfiguredActions() {
  {
    auto lock = gScp.Lock();
    gScp.notify.Branches().Touch(0);
  }
  SendCommand(5, 0, 0);
}

void CEventNotification::OnOK() {
  SaveConfiguredActions();
  KTDialog::OnOK();
}
