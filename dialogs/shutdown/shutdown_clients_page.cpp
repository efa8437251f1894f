#include "dialogs/shutdown/shutdown_clients_page.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/discovery/client_discovery.h"
#include "dialogs/discovery/discoverc.h"
#include "dialogs/discovery/host_search.h"
#include "dialogs/discovery/subnet_file.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/layout_fit.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/shutdown/page_fields.h"
#include "dialogs/shutdown/shutdown_dlg.h"

TREM_REGISTER_DIALOG(ShutdownClientsPage);

static const StringTableRegistrar kStrings{
    {3352, "Unable to open file for writing!"},
    {3472, "Unable to remove "},
    {3590, "Need to select a network client and \nprovide the correct password"},
    {3591,
     "Administrator and users warning time for the \nclient is greater than the shutdown time of the "
     "client."},
    {3592,
     "Administrator and users warning time for the \nclient is greater than the shutdown time of the "
     "client."},
    {3593, "Cannot resolve machine name "},
    {3594, "Unable to add "},
    {3595, ", \nentry already exist."},
    {3597, "The client's delays must be between 0 and 254 minutes."},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, ShutdownClientsPage::kHelpContext, "Network Clients",
    "The computers this agent tells to shut down when its UPS goes on battery.\n\n"
    "Choose a client among the agents found, give its agent's password, the minutes before its "
    "shutdown starts and before it warns its users (less than its shutdown time), then Add. "
    "Delete removes the chosen client. Discover chooses further subnets to search.");

namespace {
constexpr uint16_t kUnset = 0xFFFF;
constexpr int kMaxDelay = 254;  // 255 marks a delay that is not set

int AgentStartDelay() {
  auto lock = gScp.Lock();
  const uint16_t s = gScp.config.GetShutdownStartDelay();
  return s == kUnset ? 5 : s;
}
}  // namespace

ShutdownClientsPage::ShutdownClientsPage(QWidget* parent, const QString& hostName)
    : ShutdownPage(ShutdownPageId::Clients, IDD_SHUTDOWN_CLIENTS_PAGE, parent, hostName),
      SubnetListOwner(this) {
  BuildControls();
  Create(IDD_SHUTDOWN_CLIENTS_PAGE);
}

KT_Discover& ShutdownClientsPage::SubnetDiscovery() {
  return gClientDiscovery;
}

void ShutdownClientsPage::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Shutdown Parameters - Network Clients"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  clients_ = new QComboBox(this);
  clients_->setObjectName(ControlName(IDC_CLIENTS_CLIENT));
  clients_->setMinimumContentsLength(28);
  clients_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  auto* clientLabel = new QLabel(
      QStringLiteral("Which network client do you want to configure the shutdown parameters?"), this);
  clientLabel->setWordWrap(true);
  clientLabel->setBuddy(clients_);
  password_ = new QLineEdit(this);
  password_->setObjectName(ControlName(IDC_CLIENTS_PASSWORD));
  password_->setEchoMode(QLineEdit::Password);
  password_->setValidator(new RecordTextValidator(password_));
  password_->setFixedWidth(password_->fontMetrics().averageCharWidth() * 18);
  shutdown_ = MakeMinutesEdit(this, IDC_CLIENTS_SHUTDOWN);
  warning_ = MakeMinutesEdit(this, IDC_CLIENTS_WARNING);

  grid->addWidget(clientLabel, 0, 0, 1, 3);
  auto* clientRow = new QHBoxLayout;
  clientRow->addWidget(clients_, 1);
  auto* discover = MakeButton(IDC_CLIENTS_DISCOVER, QStringLiteral("D&iscover"));
  discover->setAutoDefault(false);
  clientRow->addWidget(discover);
  GiveStyleSpacing(clientRow, this);
  grid->addLayout(clientRow, 1, 0, 1, 3);
  auto* hint = new QLabel(QStringLiteral("Add additional subnets to the discovery process"), this);
  hint->setObjectName(ControlName(2043));
  hint->setAlignment(Qt::AlignRight);
  grid->addWidget(hint, 2, 0, 1, 3);
  AddQuestionRow(grid, 3, QStringLiteral("What is the password of the selected network client?"), password_,
                 QString());
  AddQuestionRow(grid, 4,
                 QStringLiteral("How long do you want to wait after the master UPS goes on battery before "
                                "starting the shutdown process of the client?"),
                 shutdown_);
  AddQuestionRow(grid, 5,
                 QStringLiteral("How long do you want to wait after the master UPS goes on battery before "
                                "warning the users and administrator of the network client?"),
                 warning_);
  grid->setColumnStretch(0, 1);
  grid->setVerticalSpacing(10);
  layout->addLayout(grid);
  auto* editRow = new QHBoxLayout;
  editRow->addStretch(1);
  auto* add = MakeButton(IDC_CLIENTS_ADD, QStringLiteral("&Add"));
  auto* del = MakeButton(IDC_CLIENTS_DELETE, QStringLiteral("&Delete"));
  add->setAutoDefault(false);
  del->setAutoDefault(false);
  editRow->addWidget(add);
  editRow->addWidget(del);
  layout->addLayout(editRow);
  layout->addStretch(1);
  layout->addSpacing(8);
  layout->addLayout(MakePageButtons(false, true));
  connect(add, &QPushButton::clicked, this, [this] { OnAdd(); });
  connect(del, &QPushButton::clicked, this, [this] { OnDelete(); });
  connect(discover, &QPushButton::clicked, this, [this] { OnDiscover(); });
  setTabOrder(clients_, discover);
  setTabOrder(discover, password_);
  setTabOrder(password_, shutdown_);
  setTabOrder(shutdown_, warning_);
  setTabOrder(warning_, add);
  setTabOrder(add, del);
}

bool ShutdownClientsPage::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  shutdown_->setText(QString::number(std::max(0, AgentStartDelay() - 1)));
  warning_->setText(QStringLiteral("0"));
  SetHostCaption(QStringLiteral("Configure Shutdown Parameters - Network Clients"));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ReadSubnetFile(gClientDiscovery);
  GetHosts();
  QApplication::restoreOverrideCursor();
  clients_->setFocus();
  return true;
}

bool ShutdownClientsPage::event(QEvent* e) {
  if (e->type() == kRediscoverEventType) {
    if (WindowExists()) Rediscover();
    return true;
  }
  return ShutdownPage::event(e);
}

void ShutdownClientsPage::GetHosts() {
  if (SearchHosts(this, gClientDiscovery, found_, AgentSearchesIpx()) == HostSearchResult::NoChannel) return;
  FillHostCombo(clients_, found_);
}

QString ShutdownClientsPage::Check() {
  if (clients_->currentText().isEmpty() || password_->text().isEmpty()) return LoadString(3590);
  shut_delay_ = MinutesOf(shutdown_);
  warn_delay_ = MinutesOf(warning_);
  // A delay byte holds 0..254 (255 is "not set"): a larger value must not wrap round.
  if (shut_delay_ < 0 || shut_delay_ > kMaxDelay || warn_delay_ < 0 || warn_delay_ > kMaxDelay)
    return LoadString(3597);
  if (warn_delay_ >= AgentStartDelay()) return LoadString(3591);
  if (warn_delay_ >= shut_delay_) return LoadString(3592);
  return QString();
}

bool ShutdownClientsPage::Apply() {
  const QString entry = clients_->currentText();
  const QString host = HostOfEntryText(entry);
  KT_NetClient* chosen = found_.FindByName(host.toStdString());
  KT_Address address;
  if (chosen != nullptr) KT_NetClient::CopyAddress(address, chosen->address);
  if (chosen == nullptr ||
      (address.GetType() == ADDRESS_IP && address.Resolve(host.toUtf8().constData()) < 0)) {
    TremMessageBox(this, LoadString(3593) + entry, MB_OK);
    return false;
  }
  const QByteArray password = password_->text().toUtf8();
  const auto warn = static_cast<uint8_t>(warn_delay_);
  const auto shut = static_cast<uint8_t>(shut_delay_);
  QString failure;
  {
    auto lock = gScp.Lock();
    KT_NetClientList& clients = gScp.config.PowerEventClients();
    if (!clients.Add(address, password.constData(), warn, shut, 0)) {
      // Listed already: replaced, keeping its scheduled-shutdown lead. Found by address, as
      // the list itself tells clients apart (an IPX entry or a renamed host has another text).
      const KT_NetClient* listed = clients.FindByAddress(address);
      const uint8_t timeShutDelay = listed != nullptr ? listed->time_shut_delay : 0;
      if (clients.Remove(address) <= 0)
        failure = LoadString(3472) + entry;
      else if (!clients.Add(address, password.constData(), warn, shut, timeShutDelay))
        failure = LoadString(3594) + entry + LoadString(3595);
    }
  }
  if (!failure.isEmpty()) {
    TremMessageBox(this, failure, MB_OK);
    return false;
  }
  return true;
}

void ShutdownClientsPage::OnAdd() {
  if (!Validate() || !Apply()) return;
  if (DialogIsOpen(pShutdownDlg.get())) pShutdownDlg->AddMachine(clients_->currentText());
}

void ShutdownClientsPage::OnDelete() {
  const QString host = HostOfEntryText(clients_->currentText());
  bool removed = false;
  {
    auto lock = gScp.Lock();
    KT_NetClientList& clients = gScp.config.PowerEventClients();
    if (KT_NetClient* client = clients.FindByName(host.toStdString())) {
      KT_Address address;
      KT_NetClient::CopyAddress(address, client->address);
      removed = clients.Remove(address) > 0;
    }
  }
  if (!removed) {
    TremMessageBox(this, LoadString(3472) + host, MB_OK);
    return;
  }
  if (DialogIsOpen(pShutdownDlg.get())) pShutdownDlg->DeleteMachine(host);
}

void ShutdownClientsPage::OnDiscover() {
  CDiscoverc discover(this);
  discover.DoModal();
}

void ShutdownClientsPage::OnOK() {
  // OK keeps the subnets searched; it does not add the chosen client.
  if (WriteSubnetFile(gClientDiscovery) != 1) {
    TremMessageBox(this, LoadString(3352), MB_OK);
    return;
  }
  RepaintTimeLine();
  KTDialog::OnOK();
}

void ShutdownClientsPage::OnBack() {
  const ShutdownPageId target = OffersLoadSegments() ? ShutdownPageId::LoadSegment : ShutdownPageId::Programs;
  // Without a password there is nothing to add: the page goes back all the same. With one,
  // the client is added as Add does, time line included; a client that cannot be added stays
  // entered on this page, which stays open behind the page before it (going back needs no
  // valid page).
  if (!clients_->currentText().isEmpty() && !password_->text().isEmpty()) {
    if (!Check().isEmpty() || !Apply()) {
      ShowPage(target);
      return;
    }
    if (DialogIsOpen(pShutdownDlg.get())) pShutdownDlg->AddMachine(clients_->currentText());
  }
  if (ShowPage(target)) OnOK();
}
