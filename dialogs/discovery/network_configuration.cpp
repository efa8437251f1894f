#include "dialogs/discovery/network_configuration.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <vector>

#include "dialogs/discovery/discoverc.h"
#include "dialogs/discovery/discovery_wait_dlg.h"
#include "dialogs/discovery/host_search.h"
#include "dialogs/discovery/subnet_file.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/clock.h"

DialogPointer<CNetworkConfiguration> pNetworkConfiguration{DialogSlot::NetworkConfiguration};

TREM_REGISTER_DIALOG(CNetworkConfiguration);

static const StringTableRegistrar kStrings{
    {3355, "Need Network Address and Password"},
    {3356,
     "Notification warning time or client shutdown time is\ngreater than server scheduled shutdown time."},
    {3357, "Cannot resolve machine name "},
    {3358, "An entry already exist in list for "},
    {3359, "Cannot delete "},
    {3361, "Warning Message Time"},
    {3362, "Client Scheduled Shutdown Time"},
    {3322, "Unable to delete selected item(s)"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CNetworkConfiguration::kHelpContext, "Configure Network Client",
    "Chooses the computers this agent shuts down before a scheduled shutdown turns its UPS "
    "off.\n\n"
    "Select a Network Client: the agents found on the network. Discover chooses further "
    "subnets to search.\n"
    "Password: the client agent's password.\n"
    "Minutes prior to client OS shutdown to notify administrator: when the client warns its "
    "users.\n"
    "Minutes prior to master UPS turn off to shut down client: when the client shuts down.\n"
    "Both must be less than the minutes until the scheduled shutdown.\n\n"
    "Add puts the client into the list; Delete removes the selected clients. OK sends the list "
    "to the agent.");

namespace {
// The agent's shutdown start delay when the configuration does not give one.
constexpr int kDefaultStartDelay = 5;
constexpr uint16_t kDelayUnset = 0xFFFF;
}  // namespace

CNetworkConfiguration::CNetworkConfiguration(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_NETWORK_CONFIGURATION, parent, hostName), SubnetListOwner(this) {
  BindDialogPointer(pNetworkConfiguration);
  SetWaitCount(1);
  BuildControls();
  Create(IDD_NETWORK_CONFIGURATION);
}

CNetworkConfiguration::CNetworkConfiguration(QWidget* parent, const QString& selectionLabel,
                                             const QString& hostName, const QStringList& hostNames)
    : KTDialog(IDD_NETWORK_CONFIGURATION, parent, selectionLabel, hostName, hostNames),
      SubnetListOwner(this) {
  BindDialogPointer(pNetworkConfiguration);
  SetWaitCount(1);
  BuildControls();
  Create(IDD_NETWORK_CONFIGURATION);
}

CNetworkConfiguration::~CNetworkConfiguration() = default;

void CNetworkConfiguration::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Network Client"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;

  auto* selectLabel = new QLabel(QStringLiteral("&Select a Network Client"), this);
  combo_ = new QComboBox(this);
  combo_->setObjectName(ControlName(IDC_NC_CLIENT));
  combo_->setMinimumContentsLength(28);
  combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  selectLabel->setBuddy(combo_);
  auto* hint = new QLabel(QStringLiteral("Add additional subnets to the discovery process"), this);
  hint->setWordWrap(true);
  auto* discover = MakeButton(IDC_NC_DISCOVER, QStringLiteral("D&iscover"));
  grid->addWidget(selectLabel, 0, 0, 1, 2, Qt::AlignBottom);  // on the line of the hint's last line
  grid->addWidget(combo_, 1, 0, 1, 2);
  grid->addWidget(hint, 0, 2, 1, 1, Qt::AlignBottom);
  grid->addWidget(discover, 1, 2, Qt::AlignLeft);

  auto digits = [this](int id) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(ControlName(id));
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), edit));
    edit->setFixedWidth(edit->fontMetrics().averageCharWidth() * 14);
    return edit;
  };
  password_edit_ = new QLineEdit(this);
  password_edit_->setObjectName(ControlName(IDC_NC_PASSWORD));
  password_edit_->setEchoMode(QLineEdit::Password);
  password_edit_->setMaxLength(8);
  password_edit_->setFixedWidth(password_edit_->fontMetrics().averageCharWidth() * 14);
  warning_edit_ = digits(IDC_NC_WARNING);
  client_shutdown_edit_ = digits(IDC_NC_CLIENT_SHUTDOWN);
  auto* passwordLabel = new QLabel(QStringLiteral("&Password"), this);
  passwordLabel->setBuddy(password_edit_);
  auto* warningLabel =
      new QLabel(QStringLiteral("Minutes prior to client OS shutdown to &notify administrator"), this);
  warningLabel->setBuddy(warning_edit_);
  auto* shutdownLabel =
      new QLabel(QStringLiteral("Minutes prior to master UPS turn off to shut &down client"), this);
  shutdownLabel->setBuddy(client_shutdown_edit_);
  grid->addWidget(passwordLabel, 2, 0);
  grid->addWidget(password_edit_, 2, 1);
  grid->addWidget(warningLabel, 3, 0);
  grid->addWidget(warning_edit_, 3, 1);
  grid->addWidget(shutdownLabel, 4, 0);
  grid->addWidget(client_shutdown_edit_, 4, 1);
  grid->addWidget(MakeButton(IDC_NC_ADD, QStringLiteral("&Add")), 4, 2, Qt::AlignLeft);
  grid->setColumnStretch(0, 1);
  layout->addLayout(grid);

  layout->addSpacing(6);
  layout->addWidget(new QLabel(QStringLiteral("Configured Network Clients"), this));
  auto* listRow = new QHBoxLayout;
  list_ = new QTreeWidget(this);
  list_->setObjectName(ControlName(IDC_NC_LIST));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setColumnCount(3);
  list_->setMinimumHeight(list_->fontMetrics().height() * 8);
  list_->setMinimumWidth(list_->fontMetrics().averageCharWidth() * 100);
  listRow->addWidget(list_, 1);
  auto* del = MakeButton(IDC_NC_DELETE, QStringLiteral("D&elete"));
  listRow->addWidget(del, 0, Qt::AlignTop);
  layout->addLayout(listRow);
  layout->addSpacing(6);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));

  connect(discover, &QPushButton::clicked, this, [this] { OnDiscover(); });
  connect(Control<QPushButton>(IDC_NC_ADD), &QPushButton::clicked, this, [this] { OnAdd(); });
  connect(del, &QPushButton::clicked, this, [this] { OnDelete(); });
  setTabOrder(combo_, discover);
  setTabOrder(discover, password_edit_);
  setTabOrder(password_edit_, warning_edit_);
  setTabOrder(warning_edit_, client_shutdown_edit_);
  setTabOrder(client_shutdown_edit_, Control<QPushButton>(IDC_NC_ADD));
  setTabOrder(Control<QPushButton>(IDC_NC_ADD), list_);
  setTabOrder(list_, del);
}

bool CNetworkConfiguration::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  // Columns, each a third of the list's width.
  list_->setHeaderLabels({LoadString(3360), LoadString(3361), LoadString(3362)});
  list_->header()->setSectionResizeMode(QHeaderView::Stretch);
  // Each column a third of the list: wide enough that every heading shows whole.
  int widest = 0;
  for (int id : {3360, 3361, 3362})
    widest = std::max(widest, list_->header()->fontMetrics().horizontalAdvance(LoadString(id)));
  list_->setMinimumWidth(std::max(list_->minimumWidth(), 3 * (widest + 24)));
  UpdateData(false);
  RequestData(BLOCK_CONFIG, 10, 0);
  ReadFileFromDisk();
  GetHosts();
  SetHostCaption(1671);
  return true;
}

bool CNetworkConfiguration::event(QEvent* e) {
  if (e->type() == kRediscoverEventType) {
    if (WindowExists()) Rediscover();
    return true;
  }
  return KTDialog::event(e);
}

void CNetworkConfiguration::Rediscover() {
  GetHosts();
}

bool CNetworkConfiguration::SearchesIpx(int softwareSecond, int softwareThird, int osType) {
  if (softwareSecond == 0 && softwareThird < 37) return false;
  switch (osType) {
    case 4:
    case 5:
    case 6:
    case 7:
    case 9:
    case 10:
    case 13:
    case 14:
    case 15:
      return false;
    default:
      return true;
  }
}

QString CNetworkConfiguration::ShownText(KT_Address& address) {
  const char* name = address.GetHostName();
  QString text = QString::fromUtf8(name != nullptr ? name : "");
  if (address.GetType() == ADDRESS_IPX) text += QLatin1String(kRemoteServerSuffix);
  return text;
}

QString CNetworkConfiguration::WithoutSuffix(const QString& text) {
  const QString suffix = QLatin1String(kRemoteServerSuffix);
  return text.endsWith(suffix) ? text.left(text.size() - suffix.size()) : text;
}

void CNetworkConfiguration::GetHosts() {
  ++search_count_;
  if (SearchHosts(this, discover_, discovered_, AgentSearchesIpx()) == HostSearchResult::NoChannel) return;
  FillHostCombo(combo_, discovered_);
}

void CNetworkConfiguration::OnDiscover() {
  CDiscoverc discover(this);
  discover.DoModal();
}

void CNetworkConfiguration::OnNewData(unsigned, unsigned block, unsigned, unsigned) {
  if (block == BLOCK_CONFIG) {
    OnConfigBlock();
    OnSchedShutdown();
  } else if (block == BLOCK_SCHED_SHUTDOWN) {
    OnSchedShutdown();
  }
}

bool CNetworkConfiguration::UpdateData(bool fromControls) {
  if (!fromControls) {
    password_edit_->setText(password_);
    warning_edit_->setText(QString::number(warning_));
    client_shutdown_edit_->setText(QString::number(client_shutdown_));
    return true;
  }
  bool ok1 = false, ok2 = false;
  const unsigned warning = warning_edit_->text().trimmed().toUInt(&ok1);
  const unsigned shutdown = client_shutdown_edit_->text().trimmed().toUInt(&ok2);
  if (!ok1 || !ok2 || warning > 255 || shutdown > 255) return false;
  password_ = password_edit_->text();
  warning_ = static_cast<uint8_t>(warning);
  client_shutdown_ = static_cast<uint8_t>(shutdown);
  client_ = combo_->currentText();
  return true;
}

void CNetworkConfiguration::OnConfigBlock() {
  list_->clear();
  std::vector<std::array<QString, 3>> rows;
  {
    auto lock = gScp.Lock();
    start_delay_ = gScp.config.GetShutdownStartDelay();
    for (KT_NetClient& client : gScp.config.ScheduledShutdownClients().Clients())
      rows.push_back({ShownText(client.address), QString::number(client.warn_delay),
                      QString::number(client.time_shut_delay)});
  }
  SetDefaults(1);
  for (const auto& row : rows) {
    const int index = list_->topLevelItemCount();
    if (AddItemToList(index, 0, row[0]) < 0) {
      TremMessageBox(this, LoadString(3364), MB_OK);
      continue;
    }
    AddItemToList(index, 1, row[1]);
    AddItemToList(index, 2, row[2]);
  }
}

void CNetworkConfiguration::OnSchedShutdown() {
  uint8_t minutes = 255;
  {
    auto lock = gScp.Lock();
    if (gScp.schedShutdown.GetCurrentIndex() >= 0) {
      const int64_t at = gScp.schedShutdown.GetShutdownTime();
      const int64_t now = platform::Now();
      if (at > now) minutes = static_cast<uint8_t>(std::min<int64_t>((at - now) / 60, 255));
    }
  }
  minutes_to_shutdown_ = minutes;
  SetDefaults(2);
}

uint8_t CNetworkConfiguration::WarningDefault(uint16_t startDelay) {
  // An unset delay is the agent's default; the result stays a valid minute count instead of
  // wrapping below 0.
  const int delay = startDelay == kDelayUnset ? kDefaultStartDelay : startDelay;
  return static_cast<uint8_t>(std::clamp(delay - 2, 0, 254));
}

uint8_t CNetworkConfiguration::ClientShutdownDefault(uint8_t minutesToShutdown) {
  if (minutesToShutdown >= 11) return 10;
  return static_cast<uint8_t>(std::clamp(minutesToShutdown - 1, 0, 254));
}

void CNetworkConfiguration::SetDefaults(int which) {
  if (!UpdateData(true)) {
    TremMessageBox(this, LoadString(3363), MB_OK);
    return;
  }
  if (which == 1)
    warning_ = WarningDefault(start_delay_);
  else if (which == 2)
    client_shutdown_ = ClientShutdownDefault(minutes_to_shutdown_);
  if (!UpdateData(false)) TremMessageBox(this, LoadString(3354), MB_OK);
}

int CNetworkConfiguration::AddItemToList(int row, int column, const QString& text) {
  if (column == 0) {
    if (row < 0 || row > list_->topLevelItemCount()) return -1;
    auto* item = new QTreeWidgetItem;
    item->setText(0, text);
    list_->insertTopLevelItem(row, item);
    return 1;
  }
  if (column == 1 || column == 2) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (item == nullptr) return -1;
    item->setText(column, text);
    return 1;
  }
  return 0;
}

void CNetworkConfiguration::OnAdd() {
  if (!UpdateData(true)) {
    TremMessageBox(this, LoadString(3354), MB_OK);
    return;
  }
  if (client_.isEmpty() || password_.isEmpty()) {
    TremMessageBox(this, LoadString(3355), MB_OK);
    return;
  }
  if (!(warning_ < minutes_to_shutdown_ && client_shutdown_ < minutes_to_shutdown_)) {
    TremMessageBox(this, LoadString(3356), MB_OK);
    return;
  }
  KT_NetClient* found = discovered_.FindByName(WithoutSuffix(client_).toStdString());
  if (found == nullptr) return;
  KT_Address address;
  KT_NetClient::CopyAddress(address, found->address);
  if (address.GetType() == ADDRESS_IP) {
    const char* name = address.GetHostName();
    if (name == nullptr || address.Resolve(name) < 0) {
      TremMessageBox(this, LoadString(3357) + client_, MB_OK);
      return;
    }
  }
  bool added;
  {
    auto lock = gScp.Lock();
    added = gScp.config.ScheduledShutdownClients().Add(address, password_.toUtf8().constData(), warning_, 0,
                                                       client_shutdown_);
  }
  if (!added) {
    TremMessageBox(this, LoadString(3358) + client_, MB_OK);
    return;
  }
  if (AddItemToList(0, 0, client_) < 0) {
    TremMessageBox(this, LoadString(1657), MB_OK);
    return;
  }
  if (AddItemToList(0, 1, QString::number(warning_)) < 0 ||
      AddItemToList(0, 2, QString::number(client_shutdown_)) < 0)
    TremMessageBox(this, LoadString(1658), MB_OK);
}

void CNetworkConfiguration::OnDelete() {
  if (list_->selectedItems().isEmpty()) {
    TremMessageBox(this, LoadString(3319), MB_OK);
    return;
  }
  for (int row = list_->topLevelItemCount() - 1; row >= 0; --row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item->isSelected()) continue;
    const QString name = WithoutSuffix(item->text(0));
    int removed = -1;
    {
      auto lock = gScp.Lock();
      KT_NetClientList& clients = gScp.config.ScheduledShutdownClients();
      if (KT_NetClient* client = clients.FindByName(name.toStdString())) {
        KT_Address address;
        KT_NetClient::CopyAddress(address, client->address);
        removed = clients.Remove(address) > 0 ? 1 : 0;
      }
    }
    if (removed < 0) continue;
    if (removed == 1) {
      delete list_->takeTopLevelItem(row);
    } else {
      TremMessageBox(this, LoadString(3359) + name, MB_OK);
    }
  }
}

int CNetworkConfiguration::ReadFileFromDisk() {
  return ReadSubnetFile(discover_);
}

int CNetworkConfiguration::WriteFileToDisk() {
  if (WriteSubnetFile(discover_) != 1) {
    TremMessageBox(this, LoadString(3352), MB_OK);
    return 0;
  }
  return 1;
}

void CNetworkConfiguration::OnOK() {
  bool known;
  {
    auto lock = gScp.Lock();
    known = gScp.config.Branches().GetFieldCount(10) >= 0;
    if (known) gScp.config.Branches().Touch(10);
  }
  if (!known) TremMessageBox(this, LoadString(3304), MB_OK);
  SendCommand(BLOCK_CONFIG, 10, 0);
  WriteFileToDisk();
  KTDialog::OnOK();
}
