#include "dialogs/discovery/host_selection.h"

#include <arpa/inet.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimerEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>
#include <string>

#include "core/discovery/discover.h"
#include "core/network/net_client.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"

CHostSelection* pHostSelection = nullptr;

TREM_REGISTER_DIALOG_WITH(CHostSelection, [](QWidget* parent, const QString&) -> QDialog* {
  auto* dialog = new CHostSelection(parent);
  dialog->Open();
  return dialog;
});

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CHostSelection::kHelpContext, "Host Selection",
    "Chooses the agent this console watches.\n\n"
    "The list shows the agents that answered a search of the network. Select one and press "
    "OK (or double-click it). Cancel keeps the host the console had.");

namespace {
int g_tick_ms = 1000;
}  // namespace

void CHostSelection::SetTickMs(int ms) {
  g_tick_ms = ms > 0 ? ms : 1000;
}

CHostSelection::CHostSelection(QWidget* parent) : QDialog(parent) {
  pHostSelection = this;
  setObjectName(QStringLiteral("dlg%1").arg(IDD_HOST_SELECTION));
  setWindowTitle(QStringLiteral("Host Selection"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("&Host Name"), this);
  list_ = new QTreeWidget(this);
  list_->setObjectName(ControlName(IDC_HOST_LIST));
  list_->setRootIsDecorated(false);
  list_->setHeaderHidden(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setMinimumWidth(list_->fontMetrics().averageCharWidth() * 40);
  list_->setMinimumHeight(list_->fontMetrics().height() * 10);
  label->setBuddy(list_);
  layout->addWidget(label);
  auto* row = new QHBoxLayout;
  row->addWidget(list_, 1);
  auto* buttons = new QVBoxLayout;
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(ControlName(IDOK));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(ControlName(IDCANCEL));
  auto* help = new QPushButton(QStringLiteral("&Help"), this);
  help->setObjectName(ControlName(ID_HELP));
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  buttons->addStretch(1);
  row->addLayout(buttons);
  layout->addLayout(row);
  connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
  connect(help, &QPushButton::clicked, this, [this] { OnHelp(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnDblclkHostName(); });
}

CHostSelection::~CHostSelection() {
  if (pHostSelection == this) pHostSelection = nullptr;
}

int CHostSelection::DoModal() {
  OnInitDialog();
  return exec();
}

void CHostSelection::Open() {
  OnInitDialog();
  show();
}

int CHostSelection::RowCount() const {
  return list_->topLevelItemCount();
}

QString CHostSelection::RowText(int row) const {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  return item != nullptr ? item->text(0) : QString();
}

QString CHostSelection::RowAddressText(int row) const {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  return item != nullptr ? item->data(0, Qt::UserRole).toString() : QString();
}

bool CHostSelection::OnInitDialog() {
  adjustSize();
  if (!preset_.isEmpty()) {
    // Out of sight until the preset host answers or the search gives up.
    saved_rect_ = geometry();
    hidden_ = true;
    setGeometry(-500, -500, 10, 10);
  }
  if (SendIPXDiscoverPacket() < 0) SearchByUdp();
  timer_ = startTimer(g_tick_ms);
  InitList();
  return false;
}

int CHostSelection::SendIPXDiscoverPacket() {
  if (gDiscover.Initialize() < 0) return -1;
  // 0: the channel cannot be opened -- nothing was sent, which is a failure.
  return gDiscover.SendIpxServiceQueries() > 0 ? 1 : -1;
}

void CHostSelection::SearchByUdp() {
  gDiscover.Initialize();
  if (!gDiscover.IsOpen() && gDiscover.OpenChannel(0) < 0) {
    no_channel_ = true;
    return;
  }
  if (gDiscover.SendDiscoveryRequest(0, 1, 0) < 0) {
    no_channel_ = true;
    return;
  }
  udp_search_ = true;
}

void CHostSelection::InitList() {
  list_->setColumnCount(1);
  list_->header()->setStretchLastSection(true);
}

void CHostSelection::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_) {
    OnTimer(kSearchTimerId);
    return;
  }
  QDialog::timerEvent(event);
}

void CHostSelection::OnTimer(int id) {
  if (id != kSearchTimerId || finished_) return;
  auto stop = [this] {
    if (timer_ != 0) killTimer(timer_);
    timer_ = 0;
  };
  if (no_channel_) {
    stop();
    Finish();
    return;
  }
  if (udp_search_) {
    stop();
    gDiscover.CollectReplies(
        [this](KT_Address& found) {
          KT_Address address(ADDRESS_IP);
          address.SetIpAddress(found.GetIpAddress());
          address.SetPort(htons(kScpUdpPort));
          // Only hosts with a name are handed over.
          const char* name = found.GetHostName();
          address.SetHostName(name);
          if (!found_) OfferServer(address, QString::fromUtf8(name));
        },
        1, 0);
    Finish();
    return;
  }
  // A look without waiting: the timer paces the search, and the window stays responsive.
  if (gDiscover.IpxChannel().WaitForData(0) > 0) {
    stop();
    GetData();
    return;
  }
  if (!preset_.isEmpty() && ++ticks_ >= kPresetTicks) {
    stop();
    Finish();
  }
}

void CHostSelection::GetData() {
  KT_Address from(ADDRESS_IPX);
  std::vector<uint8_t> buffer;
  while (gDiscover.IpxChannel().WaitForData(2) > 0) {
    buffer.clear();
    if (gDiscover.IpxChannel().ReceiveData(&from, buffer) < 0) break;
    // DecodeSap passes over anything that is no service response.
    if (!found_) DecodeSap(buffer.data(), buffer.size());
  }
  Finish();
}

void CHostSelection::DecodeSap(const uint8_t* response, size_t length) {
  std::vector<KT_SapEntry> entries;
  if (ParseSapResponse(response, length, entries) == 0) return;
  for (const KT_SapEntry& entry : entries) {
    if (entry.serverType != kSapServerType) continue;
    SapEntryAddress(entry, work_);
    if (!OfferServer(work_, QString::fromStdString(entry.name))) break;
  }
}

bool CHostSelection::OfferServer(KT_Address& address, const QString& name) {
  if (servers_.AddHost(address) == 1) {
    const int row = RowCount();
    AddItemsToList(row, 0, name);
    QString text;
    if (address.GetType() == ADDRESS_IPX) {
      const uint8_t* n = address.Node();
      text = QString::asprintf("%x,%x%x%x%x%x%x,%x", address.GetIpAddress(), n[0], n[1], n[2], n[3], n[4],
                               n[5], address.GetPort());
    } else {
      const char* dotted = address.GetAddressString();
      text = QString::fromUtf8(dotted != nullptr ? dotted : "");
    }
    AddItemsToList(row, 1, text);
  }
  if (MatchesPreset(name)) {
    found_ = 1;
    return false;
  }
  return true;
}

void CHostSelection::AddItemsToList(int row, int column, const QString& text) {
  if (column == 0) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, text);
    list_->insertTopLevelItem(row, item);
  } else if (column == 1) {
    // The second column is stored, not shown: the list has one column.
    if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setData(0, Qt::UserRole, text);
  }
}

void CHostSelection::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!preset_.isEmpty()) {
    if (found_) {
      OnOK();
      return;
    }
    hidden_ = false;
    setGeometry(saved_rect_);
    repaint();
    TremMessageBox(
        this, QStringLiteral("Remote Server NOT found: %1  Please select an active server.").arg(preset_),
        MB_OK);
  }
  if (RowCount() > 0) {
    list_->setCurrentItem(list_->topLevelItem(0));
    list_->topLevelItem(0)->setSelected(true);
    list_->setFocus();
  }
}

bool CHostSelection::MatchesPreset(const QString& name) const {
  // One comparison, ignoring letter case, both for recognising the answer and for OK.
  return !preset_.isEmpty() && name.compare(preset_, Qt::CaseInsensitive) == 0;
}

const char* CHostSelection::ServerName(HostEntry& server) {
  const char* name = server.Address().StoredHostName();
  return name != nullptr ? name : "";
}

int CHostSelection::FindPresetRow() {
  for (int index = 1; index < servers_.GetNextIndex(); ++index) {
    HostEntry* server = servers_.GetHostByIndex(index);
    if (server != nullptr && MatchesPreset(QString::fromUtf8(ServerName(*server)))) return index - 1;
  }
  return -1;
}

int CHostSelection::GetHostName(const char* hostName, const char* addressText) {
  KT_Address address(ADDRESS_IPX);
  if (address.SetHostName(hostName) != 1) return -1;
  uint8_t bytes[12] = {};
  int n = 0;
  const std::string text = addressText != nullptr ? addressText : "";
  size_t start = 0;
  while (n < 12 && start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    bytes[n++] = static_cast<uint8_t>(std::strtoul(text.substr(start, comma - start).c_str(), nullptr, 10));
    start = comma + 1;
  }
  address.SetIpAddress((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                       bytes[3]);
  address.SetNode(bytes + 4);
  address.SetPort(static_cast<uint16_t>(bytes[10] * 256 + bytes[11]));
  return 1;
}

void CHostSelection::OnOK() {
  int row;
  if (found_) {
    row = FindPresetRow();
  } else {
    QTreeWidgetItem* current = list_->currentItem();
    row = current != nullptr ? list_->indexOfTopLevelItem(current) : -1;
  }
  // Row n shows the server of index n + 1.
  HostEntry* server = row >= 0 ? servers_.GetHostByIndex(row + 1) : nullptr;
  if (server == nullptr) {
    QDialog::accept();
    return;
  }
  KT_Address chosen(server->Address().GetType());
  KT_NetClient::CopyAddress(chosen, server->Address());
  const std::string name = ServerName(*server);
  chosen.SetHostName(name.c_str());
  {
    KT_HostControl guard;
    gHosts.ResetHosts();
    gHosts.AddHost(chosen);
  }
  if (GetHostName(name.c_str(), "") < 0 && !found_) {
    OnCancel();
    return;
  }
  QDialog::accept();
}

void CHostSelection::accept() {
  OnOK();
}

void CHostSelection::reject() {
  OnCancel();
}

void CHostSelection::OnCancel() {
  if (timer_ != 0) killTimer(timer_);
  timer_ = 0;
  QDialog::reject();
}

void CHostSelection::OnDblclkHostName() {
  OnOK();
}

void CHostSelection::OnHelp() {
  ShowHelpTopic(parentWidget() != nullptr ? parentWidget() : this, kPanelHelpFile, kHelpContext);
}

bool CHostSelection::OnHelpInfo() {
  OnHelp();
  return true;
}

void CHostSelection::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    OnHelpInfo();
    return;
  }
  QDialog::keyPressEvent(event);
}
