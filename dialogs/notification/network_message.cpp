#include "dialogs/notification/network_message.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/network_manager.h"
#include "dialogs/information/report_list.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/event_notification.h"

DialogPointer<CNetworkMessage> pNetworkMessageDialog{DialogSlot::NetworkMessage};

TREM_REGISTER_DIALOG(CNetworkMessage);

static const StringTableRegistrar kStrings{
    {1172, "Host Name"},
    {1176, "Community Name"},
    {1651, "Must select delay seconds"},
    {1657, "Cannot insert item"},
    {1658, "Cannot set item"},
    {1684, "Configure Network Manager Message"},
    {3195, "Must select interval seconds"},
    {3201, "Interval minutes must be between 0 and 20"},
    {3202, "Interval seconds must be between 0 and 59"},
    {3203, "Delay minutes must be between 0 and 20"},
    {3205, "Unable to add action!"},
    {3297, "Delay seconds must be between 0 and 59"},
    {3319, "Please select at least one item"},
    {3332, "Unable to get current configuration"},
};

CNetworkMessage::CNetworkMessage(QWidget* parent, const QString& hostName)
    : ActionDialog(kTemplateId, parent, hostName) {
  Init();
}

CNetworkMessage::CNetworkMessage(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                                 const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CNetworkMessage::Init() {
  BindDialogPointer(pNetworkMessageDialog);
  pNetworkMessage = this;
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CNetworkMessage::~CNetworkMessage() {
  if (pNetworkMessage == this) pNetworkMessage = nullptr;
}

void CNetworkMessage::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* managers = new QGroupBox(QStringLiteral("Select a Network Manager"), this);
  auto* managersLayout = new QVBoxLayout(managers);
  list_ = new ReportList(IDC_MANAGERS, managers);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setMinimumSize(420, 130);
  managersLayout->addWidget(list_);
  configure_ = MakeButton(IDC_CONFIGURE, QStringLiteral("&Add Network Alarm Recipients"));
  configure_->setAutoDefault(false);
  connect(configure_, &QPushButton::clicked, this, [this] { OnConfigure(); });
  auto* configureRow = new QHBoxLayout;
  configureRow->addStretch(1);
  configureRow->addWidget(configure_);
  managersLayout->addLayout(configureRow);
  layout->addWidget(managers, 1);

  auto* timeGroup = new QGroupBox(QStringLiteral("Time"), this);
  timeGroup->setObjectName(ControlName(IDC_TIME_GROUP));
  time_group_ = timeGroup;
  auto* grid = new QGridLayout(timeGroup);
  delay_minutes_ = MakeTimeCombo(IDC_DELAY_MINUTES, 20);
  delay_seconds_ = MakeTimeCombo(IDC_DELAY_SECONDS, 59);
  interval_minutes_ = MakeTimeCombo(IDC_INTERVAL_MINUTES, 20);
  interval_seconds_ = MakeTimeCombo(IDC_INTERVAL_SECONDS, 59);
  AddTimeRow(grid, 0, new QLabel(QStringLiteral("Time to wait before sending first message"), timeGroup),
             delay_minutes_, delay_seconds_);
  AddTimeRow(grid, 1, new QLabel(QStringLiteral("Time to wait between messages"), timeGroup),
             interval_minutes_, interval_seconds_);
  layout->addWidget(timeGroup);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(list_, configure_);
  setTabOrder(configure_, delay_minutes_);
  setTabOrder(delay_minutes_, delay_seconds_);
  setTabOrder(delay_seconds_, interval_minutes_);
  setTabOrder(interval_minutes_, interval_seconds_);
  setTabOrder(interval_seconds_, Control(IDOK));
}

bool CNetworkMessage::OnInitDialog() {
  KTDialog::OnInitDialog();
  InitListControl();
  GetCurrentConfig();
  SetHostCaption(1684);
  return true;
}

void CNetworkMessage::InitListControl() {
  list_->RemoveAll();
  list_->SetColumns({LoadString(1172), LoadString(1176)});
  list_->SetWidthRule(HalfAndRest());
  // An event that ends a condition gets its trap once: no timing.
  if (!gpSelectedEvents.empty() && NotifyBlock::IsClearingEvent(gpSelectedEvents.front()))
    time_group_->hide();
}

bool CNetworkMessage::OffersDefaultRecipient() {
  auto lock = gScp.Lock();
  return gScp.notify.TrapReceivers().Count() == 0 && gScp.upsInfo.GetOsType() == 0;
}

void CNetworkMessage::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (block == 5) GetCurrentConfig();
}

void CNetworkMessage::GetCurrentConfig() {
  SelectTimeValue(delay_minutes_, 0);
  SelectTimeValue(delay_seconds_, 0);
  SelectTimeValue(interval_minutes_, 1);
  SelectTimeValue(interval_seconds_, 0);
  list_->clear();
  // Rows by slot, the order CNetworkManager shows: row i is slot i is bit i.
  std::vector<std::pair<std::string, std::string>> rows;
  KT_ActionEntry entry;
  bool found = false;
  const int event = SingleSelectedEvent();
  {
    auto lock = gScp.Lock();
    const KT_NetworkManagerList& receivers = gScp.notify.TrapReceivers();
    for (int slot = 0; slot < KT_NetworkManagerList::kSlots; ++slot) {
      NetworkManagerEntry e;
      if (receivers.GetBySlot(slot, e) > 0) rows.emplace_back(e.hostName, e.community);
    }
    if (event != 0) found = gScp.notify.FindAction(event, ACTION_SNMP_TRAP, entry);
  }
  configure_->setVisible(true);
  if (!rows.empty()) {
    for (const auto& [host, community] : rows)
      AddSNMP(QString::fromStdString(host), QString::fromStdString(community));
  } else if (OffersDefaultRecipient()) {
    AddSNMP(QString::fromUtf8(kDefaultHostName), QString::fromUtf8(kDefaultCommunity));
    configure_->setVisible(false);
  }
  if (!found) return;
  list_->setFocus();
  for (int row = 0; row < 8 && row < list_->RowCount(); ++row) {
    list_->topLevelItem(row)->setSelected((entry.alias & (1u << row)) != 0);
  }
  SelectTimeValue(interval_minutes_, entry.interval / 60);
  SelectTimeValue(interval_seconds_, entry.interval % 60);
  SelectTimeValue(delay_minutes_, entry.delay / 60);
  SelectTimeValue(delay_seconds_, entry.delay % 60);
}

void CNetworkMessage::AddSNMP(const QString& host, const QString& community) {
  QTreeWidgetItem* item = list_->AddRow({host});
  if (item == nullptr) {
    TremMessageBox(this, LoadString(1657), MB_OK);
    return;
  }
  item->setText(1, community);
  if (item->text(1) != community) TremMessageBox(this, LoadString(1658), MB_OK);
}

void CNetworkMessage::OnConfigure() {
  if (DialogIsOpen(pNetworkManager.get())) return;
  if (!HostList().isEmpty()) {
    new CNetworkManager(this, SelectionLabel(), HostName(), HostList());
  } else {
    new CNetworkManager(this, HostName());
  }
}

void CNetworkMessage::OnOK() {
  uint8_t bits = 0;
  bool any = false;
  for (int row = 0; row < list_->RowCount(); ++row) {
    if (!list_->topLevelItem(row)->isSelected()) continue;
    any = true;
    if (row < 8) bits |= static_cast<uint8_t>(1u << row);
  }
  if (!any) {
    TremMessageBox(this, LoadString(3319), MB_OK);
    return;
  }
  // The timing is checked before anything changes: a refusal leaves the block as it was.
  const int interval = ReadTime(this, interval_minutes_, interval_seconds_, kIntervalTexts);
  if (interval < 0) return;
  const int delay = ReadTime(this, delay_minutes_, delay_seconds_, kDelayTexts);
  if (delay < 0) return;
  const bool addDefault = OffersDefaultRecipient();
  bool refused = false;
  {
    auto lock = gScp.Lock();
    if (addDefault) gScp.notify.TrapReceivers().Add(kDefaultHostName, kDefaultCommunity);
    for (int event : gpSelectedEvents) {
      KT_ActionEntry entry(static_cast<uint8_t>(event), ACTION_SNMP_TRAP);
      entry.delay = static_cast<uint16_t>(delay);
      entry.interval = static_cast<uint16_t>(interval);
      entry.alias = bits;
      if (!AddOrReplaceAction(gScp.notify, entry)) {
        refused = true;
        break;
      }
    }
  }
  if (refused) {
    TremMessageBox(this, LoadString(3205), MB_OK);
    ReloadNotificationList();
    return;
  }
  ReloadNotificationList();
  KTDialog::OnOK();
}
