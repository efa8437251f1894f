#include "dialogs/information/network_manager.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/network_message_link.h"
#include "dialogs/information/report_list.h"
#include "dialogs/notification/event_notification.h"
#include "dialogs/notification/recipient_remap.h"

NetworkMessageLink* pNetworkMessage = nullptr;

DialogPointer<CNetworkManager> pNetworkManager{DialogSlot::NetworkManager};

TREM_REGISTER_DIALOG(CNetworkManager);

static const StringTableRegistrar kStrings{
    {1172, "Host Name"},
    {1176, "Community Name"},
    {1357, "Configure Network Alarm Recipients"},
    {1657, "Cannot insert item"},
    {1658, "Cannot set item"},
    {1680, "SNMP"},
    {1681, "Netfinity"},
    {1682, "NetView"},
    {1683, "Insight"},
    {3319, "Please select at least one item"},
    {3365, "Host: "},
    {3366, " was not added."},
    {3367, "Entry might already be in list or\n list might be full."},
    {3368, "Host name must be provided"},
    {3369, "Community name must be provided"},
    {3371, "Host: "},
    {3372, " and Community: "},
    {3373, " were not added.\n"},
    {3374, "Entry is already in list."},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CNetworkManager::kHelpContext, "Configure Network Alarm Recipients",
    "Lists the network management stations the agent sends its SNMP traps (alarm messages) "
    "to, each a host name and the SNMP community the trap carries.\n\n"
    "Type a host name and a community and press Add to list a station; select rows and press "
    "Delete to remove them. The agent keeps at most eight stations.\n\n"
    "Network Manager Type shows the kinds of management station the agent can serve.\n\n"
    "Nothing reaches the agent before you press OK.");

namespace {

struct ManagerType {
  int stringId;
  int byte;
  int bit;
};
constexpr ManagerType kManagerTypes[] = {{1680, 0, 3}, {1681, 1, 1}, {1682, 1, 2}, {1683, 1, 3}};

}  // namespace

CNetworkManager::CNetworkManager(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  Init();
}

CNetworkManager::CNetworkManager(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                                 const QStringList& hostNames)
    : KTDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CNetworkManager::Init() {
  BindDialogPointer(pNetworkManager);
  selected_type_ = -1;
  // Beside the network-message dialog the data is already in gScp.
  SetWaitCount(pNetworkMessage != nullptr ? 0 : 1);
  BuildControls();
  Create(kTemplateId);
}

CNetworkManager::~CNetworkManager() = default;

void CNetworkManager::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* typeRow = new QHBoxLayout;
  auto* typeLabel = new QLabel(QStringLiteral("Network Manager &Type:"), this);
  typeLabel->setObjectName(ControlName(IDC_TYPE_LABEL));
  types_ = new QComboBox(this);
  types_->setObjectName(ControlName(IDC_TYPE));
  types_->setMinimumContentsLength(12);
  typeLabel->setBuddy(types_);
  typeRow->addWidget(typeLabel);
  typeRow->addWidget(types_, 1);
  layout->addLayout(typeRow);

  auto* parameters = new QGroupBox(QStringLiteral("Parameters"), this);
  parameters->setObjectName(ControlName(IDC_PARAMETERS));
  auto* grid = new QGridLayout(parameters);
  auto* hostLabel = new QLabel(QStringLiteral("&Host Name"), parameters);
  hostLabel->setObjectName(ControlName(IDC_HOST_LABEL));
  host_ = new QLineEdit(parameters);
  host_->setObjectName(ControlName(IDC_HOST));
  host_->setMaxLength(255);
  hostLabel->setBuddy(host_);
  auto* communityLabel = new QLabel(QStringLiteral("&Community Name"), parameters);
  communityLabel->setObjectName(ControlName(IDC_COMMUNITY_LABEL));
  community_ = new QLineEdit(parameters);
  community_->setObjectName(ControlName(IDC_COMMUNITY));
  community_->setMaxLength(80);
  communityLabel->setBuddy(community_);
  auto* add = MakeButton(IDC_ADD, QStringLiteral("&Add"));
  connect(add, &QPushButton::clicked, this, [this] { OnAdd(); });
  auto* remove = MakeButton(IDC_DELETE, QStringLiteral("&Delete"));
  connect(remove, &QPushButton::clicked, this, [this] { OnDelete(); });
  list_ = new ReportList(IDC_MANAGERS, parameters);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setMinimumSize(360, 150);
  grid->addWidget(hostLabel, 0, 0);
  grid->addWidget(host_, 0, 1);
  grid->addWidget(add, 0, 2);
  grid->addWidget(communityLabel, 1, 0);
  grid->addWidget(community_, 1, 1);
  grid->addWidget(remove, 1, 2);
  grid->addWidget(list_, 2, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  layout->addWidget(parameters, 1);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));

  setTabOrder(types_, host_);
  setTabOrder(host_, community_);
  setTabOrder(community_, add);
  setTabOrder(add, remove);
  setTabOrder(remove, list_);
  setTabOrder(list_, Control(IDOK));
  resize(480, 400);
}

bool CNetworkManager::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  list_->RemoveAll();
  list_->SetColumns({LoadString(1172), LoadString(1176)});
  list_->SetWidthRule(HalfAndRest());
  if (pNetworkMessage != nullptr) {
    UpdateInfo();
  } else {
    RequestData(5, 0, 0);
  }
  SetHostCaption(1357);
  return true;
}

void CNetworkManager::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (block == 5) UpdateInfo();
}

void CNetworkManager::UpdateInfo() {
  std::vector<std::pair<std::string, std::string>> receivers;
  bool supported[std::size(kManagerTypes)] = {};
  {
    auto lock = gScp.Lock();
    for (size_t i = 0; i < std::size(kManagerTypes); ++i) {
      supported[i] = gScp.upsInfo.IsFunctionSupported(kManagerTypes[i].byte, kManagerTypes[i].bit) == 1;
    }
    KT_NetworkManagerList& list = gScp.notify.TrapReceivers();
    list.ResetCursor();
    NetworkManagerEntry entry;
    while (list.GetNext(entry) > 0) receivers.emplace_back(entry.hostName, entry.community);
    list.ResetCursor();
    // The list holds the newest receiver first; the rows show them oldest first, the order OK
    // adds them back in, so that opening and confirming the dialog keeps every receiver in its
    // slot (a trap action names its receivers by slot).
    std::reverse(receivers.begin(), receivers.end());
  }
  for (size_t i = 0; i < std::size(kManagerTypes); ++i) {
    const QString text = LoadString(kManagerTypes[i].stringId);
    const int found = types_->findText(text);
    if (supported[i] && found < 0) {
      types_->addItem(text);
    } else if (!supported[i] && found >= 0) {
      types_->removeItem(found);
    }
  }
  if (types_->count() > 0) types_->setCurrentIndex(0);
  selected_type_ = types_->currentIndex();
  if (!receivers.empty()) {
    list_->clear();
    for (const auto& [host, community] : receivers) {
      AddSNMP(QString::fromStdString(host), QString::fromStdString(community));
    }
  }
}

void CNetworkManager::OnAdd() {
  const QString host = host_->text();
  if (host.isEmpty()) {
    TremMessageBox(this, LoadString(3368), MB_OK);
    return;
  }
  const QString community = community_->text();
  if (community.isEmpty()) {
    TremMessageBox(this, LoadString(3369), MB_OK);
    return;
  }
  AddSNMP(host, community);
}

void CNetworkManager::AddSNMP(const QString& host, const QString& community) {
  for (int row = 0; row < list_->RowCount(); ++row) {
    if (list_->Text(row, 0).compare(host, Qt::CaseInsensitive) == 0 &&
        list_->Text(row, 1).compare(community, Qt::CaseInsensitive) == 0) {
      TremMessageBox(
          this, LoadString(3371) + host + LoadString(3372) + community + LoadString(3373) + LoadString(3374),
          MB_OK);
      return;
    }
  }
  QTreeWidgetItem* item = list_->AddRow({host});
  if (item == nullptr) {
    TremMessageBox(this, LoadString(1657), MB_OK);
    return;
  }
  item->setText(1, community);
  if (item->text(1) != community) TremMessageBox(this, LoadString(1658), MB_OK);
}

void CNetworkManager::OnDelete() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) {
    TremMessageBox(this, LoadString(3319), MB_OK);
    return;
  }
  if (selected.size() == list_->RowCount()) {
    list_->clear();
    return;
  }
  for (int row = list_->RowCount() - 1; row >= 0; --row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (item == nullptr || !item->isSelected()) continue;
    delete list_->takeTopLevelItem(row);
  }
}

void CNetworkManager::OnOK() {
  std::vector<QString> refused;
  bool moved = false;
  {
    auto lock = gScp.Lock();
    KT_NetworkManagerList& list = gScp.notify.TrapReceivers();
    const KT_NetworkManagerList before = list;
    list.Clear();
    for (int row = 0; row < list_->RowCount(); ++row) {
      const QString host = list_->Text(row, 0);
      if (list.Add(host.toStdString(), list_->Text(row, 1).toStdString()) < 0) refused.push_back(host);
    }
    // The rows take their slots anew from 0, so the receivers after a removed one move down:
    // the trap actions follow them (a removed receiver's bit is cleared).
    moved = MoveRecipientBits(gScp.notify, ACTION_SNMP_TRAP, TrapSlotMap(before, list));
    gScp.notify.Branches().Touch(moved ? 0 : 4);
  }
  // Boxes only after gScp's lock is released.
  for (const QString& host : refused) {
    TremMessageBox(this, LoadString(3365) + host + LoadString(3366) + LoadString(3367), MB_OK);
  }
  // With actions changed, the whole block goes in one message.
  SendCommand(5, moved ? 0 : 4, 0);
  if (moved && DialogIsOpen(pEventNotification.get())) pEventNotification->LoadConfiguredActions();
  if (pNetworkMessage != nullptr) pNetworkMessage->GetCurrentConfig();
  KTDialog::OnOK();
}
