#include "dialogs/discovery/host_select.h"

#include <QListWidget>
#include <QVBoxLayout>

#include "dialogs/discovery/client_discovery.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/string_table.h"

DialogPointer<CHostSelect> pHostSelect;

TREM_REGISTER_DIALOG(CHostSelect);

CHostSelect::CHostSelect(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_HOST_SELECT, parent, hostName) {
  BindDialogPointer(pHostSelect);
  SetWaitCount(0);
  setWindowTitle(QStringLiteral("Generic List #2"));
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  list_->setObjectName(ControlName(IDC_HOST_SELECT_LIST));
  list_->setSortingEnabled(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setMinimumWidth(list_->fontMetrics().averageCharWidth() * 36);
  list_->setMinimumHeight(list_->fontMetrics().height() * 10);
  layout->addWidget(list_);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL}));
  Create(IDD_HOST_SELECT);
}

CHostSelect::~CHostSelect() = default;

bool CHostSelect::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHostCaption(3375);
  // The caption is the title alone: the dialog lists hosts rather than showing one.
  setWindowTitle(LoadString(3375));
  GetHosts();
  list_->setFocus();
  return true;
}

void CHostSelect::GetHosts() {
  KT_Discover& discover = gClientDiscovery;
  discover.Initialize();
  if (!discover.IsOpen() && discover.OpenChannel(0) < 0) return;
  discover.AddSubnet(kBroadcastSubnet);
  if (discover.SendDiscoveryRequest(0, 1, 1) > 0) discover.CollectReplies(nullptr, 1, 1);
  discover.ResetHostCursor();
  std::string host;
  while (discover.GetNextHost(host)) list_->addItem(QString::fromStdString(host));
}

void CHostSelect::DoDataExchange() {
  selected_hosts_.clear();
  for (QListWidgetItem* item : list_->selectedItems()) selected_hosts_ << item->text();
  QListWidgetItem* current = list_->currentItem();
  selected_ = current != nullptr ? current->text() : QString();
}

void CHostSelect::OnOK() {
  DoDataExchange();
  KTDialog::OnOK();
}
