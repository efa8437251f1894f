#include "dialogs/discovery/discover_adapter.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <vector>

#include "core/discovery/discover.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

CDiscoverAdapter* pDiscoverAdapter = nullptr;

TREM_REGISTER_DIALOG_WITH(CDiscoverAdapter, [](QWidget* parent, const QString&) -> QDialog* {
  auto* dialog = new CDiscoverAdapter(parent);
  dialog->show();
  return dialog;
});

static const StringTableRegistrar kStrings{
    {1172, "Host Name"},
    {3207, "Adapter's name or IP Address must be specified"},
    {3208, "Duplicate entries for the same name is not allowed"},
    {3209, "Get Community Name"},
    {3210, "Set Community Name"},
    {3211, "marble"},
    {3212, "harvest"},
    {3593, "Cannot resolve machine name "},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CDiscoverAdapter::kHelpContext, "Edit Network Adapter",
    "The UPS network adapters this console reaches by SNMP.\n\n"
    "Add puts an adapter (host name or IP address, get and set community) into the list; "
    "Delete removes the selected adapters at once. OK enters the new adapters and asks each "
    "for its UPS information.");

CDiscoverAdapter::CDiscoverAdapter(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlg%1").arg(IDD_DISCOVER_ADAPTER));
  setWindowTitle(QStringLiteral("Edit Network Adapter"));
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Add An Adapter"), this);
  group->setObjectName(ControlName(1015));
  auto* grid = new QGridLayout(group);
  auto field = [&](int id, int row, const QString& label) {
    auto* edit = new QLineEdit(group);
    edit->setObjectName(ControlName(id));
    edit->setMaxLength(255);
    auto* l = new QLabel(label, group);
    l->setBuddy(edit);
    grid->addWidget(l, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
  };
  host_ = field(IDC_ADAPTER_HOST, 0, QStringLiteral("&Host Name"));
  get_ = field(IDC_ADAPTER_GET, 1, QStringLiteral("&Get Community Name"));
  set_ = field(IDC_ADAPTER_SET, 2, QStringLiteral("&Set Community Name"));
  host_->setMinimumWidth(host_->fontMetrics().averageCharWidth() * 32);
  auto* add = new QPushButton(QStringLiteral("&Add"), group);
  add->setObjectName(ControlName(IDC_ADAPTER_ADD));
  add->setAutoDefault(false);
  grid->addWidget(add, 0, 2);
  grid->setColumnStretch(1, 1);
  layout->addWidget(group);

  auto* known = new QLabel(QStringLiteral("&Known Adapters:"), this);
  layout->addWidget(known);
  auto* listRow = new QHBoxLayout;
  list_ = new QTreeWidget(this);
  list_->setObjectName(ControlName(IDC_ADAPTER_LIST));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setColumnCount(3);
  list_->setSortingEnabled(true);
  list_->sortByColumn(0, Qt::AscendingOrder);
  list_->header()->setSectionResizeMode(QHeaderView::Stretch);
  list_->setMinimumHeight(list_->fontMetrics().height() * 8);
  list_->setMinimumWidth(list_->fontMetrics().averageCharWidth() * 72);
  known->setBuddy(list_);
  listRow->addWidget(list_, 1);
  auto* del = new QPushButton(QStringLiteral("&Delete"), this);
  del->setObjectName(ControlName(IDC_ADAPTER_DELETE));
  del->setAutoDefault(false);
  listRow->addWidget(del, 0, Qt::AlignTop);
  layout->addLayout(listRow);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
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
  layout->addLayout(buttons);

  connect(add, &QPushButton::clicked, this, [this] { OnButtonAdd(); });
  connect(del, &QPushButton::clicked, this, [this] { OnButtonDelete(); });
  connect(list_, &QTreeWidget::itemClicked, this, [this] { OnClickListadapter(); });
  connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, [this] { OnHelp(); });
  setTabOrder(host_, get_);
  setTabOrder(get_, set_);
  setTabOrder(set_, add);
  setTabOrder(add, list_);
  setTabOrder(list_, del);
  setTabOrder(del, ok);
  OnInitDialog();
}

QWidget* CDiscoverAdapter::Control(int id) const {
  return findChild<QWidget*>(ControlName(id));
}

bool CDiscoverAdapter::OnInitDialog() {
  list_->setHeaderLabels({LoadString(1172), LoadString(3209), LoadString(3210)});
  list_->clear();
  struct Row {
    QString name, get, set;
  };
  std::vector<Row> rows;
  {
    KT_HostControl reader(0);
    gHosts.ResetIterator();
    while (HostEntry* host = gHosts.GetNextHost()) {
      KT_Address& a = host->Address();
      if (a.GetType() != ADDRESS_SNMP) continue;
      const char* name = a.GetHostName();
      rows.push_back({QString::fromUtf8(name != nullptr ? name : ""), QString::fromUtf8(a.GetReadCommunity()),
                      QString::fromUtf8(a.GetWriteCommunity())});
    }
  }
  for (const Row& r : rows) {
    const int row = InsertListItem(r.name);
    UpdateListItem(row, 1, r.get);
    UpdateListItem(row, 2, r.set);
  }
  get_->setText(LoadString(3211));
  set_->setText(LoadString(3212));
  host_->setFocus();
  return true;
}

bool CDiscoverAdapter::IsNameInList(const QString& name) const {
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    if (list_->topLevelItem(i)->text(0) == name) return true;
  return false;
}

int CDiscoverAdapter::InsertListItem(const QString& text) {
  auto* item = new QTreeWidgetItem;
  item->setText(0, text);
  list_->addTopLevelItem(item);
  return list_->indexOfTopLevelItem(item);
}

void CDiscoverAdapter::UpdateListItem(int row, int column, const QString& text) {
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setText(column, text);
}

void CDiscoverAdapter::OnButtonAdd() {
  const QString name = host_->text().trimmed();
  if (name.isEmpty()) {
    TremMessageBox(this, LoadString(3207), MB_OK | MB_ICONERROR);
    return;
  }
  if (IsNameInList(name)) {
    TremMessageBox(this, LoadString(3208), MB_OK | MB_ICONERROR);
    return;
  }
  // Sorting would move the row between the cells: the row is filled before it is placed.
  list_->setSortingEnabled(false);
  const int row = InsertListItem(name);
  if (row < 0) return;
  UpdateListItem(row, 1, get_->text());
  UpdateListItem(row, 2, set_->text());
  list_->setSortingEnabled(true);
  changed_ = 1;
}

void CDiscoverAdapter::OnClickListadapter() {
  QTreeWidgetItem* chosen = nullptr;
  for (int i = list_->topLevelItemCount() - 1; i >= 0 && chosen == nullptr; --i)
    if (list_->topLevelItem(i)->isSelected()) chosen = list_->topLevelItem(i);
  if (chosen == nullptr) return;
  host_->setText(chosen->text(0));
  get_->setText(chosen->text(1));
  set_->setText(chosen->text(2));
}

void CDiscoverAdapter::OnButtonDelete() {
  for (int i = list_->topLevelItemCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    if (!item->isSelected()) continue;
    const QByteArray name = item->text(0).toUtf8();
    {
      KT_HostControl writer;
      const int index = gHosts.FindHostByName(name.constData());
      if (index >= 0) {
        if (HostEntry* host = gHosts.GetHostByIndex(index)) {
          KT_Address address;
          address = host->Address();
          gHosts.RemoveHost(address);
        }
      }
    }
    delete list_->takeTopLevelItem(i);
    changed_ = 1;
  }
}

void CDiscoverAdapter::UpdateHostData(KT_Address& address) {
  KT_ScpMessage answer;
  const uint8_t adapterReply[] = {kAdapterQueryMarker};
  TranslateAdapterReply(adapterReply, sizeof adapterReply, answer);
  gHosts.ProcessPacket(address, answer);
}

void CDiscoverAdapter::OnOK() {
  struct Adapter {
    KT_Address address;
    QString name;
  };
  std::vector<Adapter> adapters;
  for (int i = list_->topLevelItemCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    Adapter a;
    a.name = item->text(0);
    const QByteArray name = a.name.toUtf8();
    a.address.SetType(ADDRESS_SNMP);
    a.address.SetHostName(name.constData());
    // An adapter without an address would be the same host as any other without one, and
    // silently not be entered: it is refused, and stays in the list to be corrected.
    if (a.address.Resolve(name.constData()) < 0 || a.address.GetIpAddress() == 0) {
      TremMessageBox(this, LoadString(3593) + a.name, MB_OK | MB_ICONERROR);
      list_->setCurrentItem(item);
      return;
    }
    a.address.SetType(ADDRESS_SNMP);
    a.address.SetReadCommunity(item->text(1).toUtf8().constData());
    a.address.SetWriteCommunity(item->text(2).toUtf8().constData());
    adapters.push_back(std::move(a));
  }
  for (Adapter& a : adapters) {
    // The host table's writer guard first, then the queue's mutex; no box while they are held.
    KT_HostControl writer;
    if (gHosts.AddHost(a.address) != 1) continue;
    UpdateHostData(a.address);
    const int index = gHosts.FindHostByAddress(a.address.GetIpAddress());
    if (index < 0) continue;
    ScpQueueLock queue;
    if (queue.locked()) gScp.QueueGetRequest(2, 0, 0, 0, index);
  }
  QDialog::accept();
}

void CDiscoverAdapter::OnHelp() {
  ShowHelpTopic(parentWidget() != nullptr ? parentWidget() : this, kPanelHelpFile, kHelpContext);
}

void CDiscoverAdapter::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    OnHelp();
    return;
  }
  QDialog::keyPressEvent(event);
}
