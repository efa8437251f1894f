#include "dialogs/discovery/discoverc.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/discovery/discover.h"
#include "dialogs/discovery/subnet_owner.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CDiscoverc::kHelpContext, "Discover",
    "Chooses the networks a search for agents covers.\n\n"
    "Subnet: the broadcast address of a network, for example 192.168.1.255. Add puts it into "
    "the list; Delete removes the selected subnets.\n\n"
    "OK searches again with the new list. Changes stay in the list even when you cancel; the "
    "list is saved when the dialog that opened this one is closed with OK.");

// Opened by name it has no owner: an empty list whose edits change nothing.
TREM_REGISTER_DIALOG_WITH(CDiscoverc, [](QWidget* parent, const QString&) -> QDialog* {
  auto* dialog = new CDiscoverc(parent);
  dialog->show();
  return dialog;
});

CDiscoverc::CDiscoverc(QWidget* parent) : QDialog(parent), owner_(SubnetListOwner::OwnerOf(parent)) {
  setObjectName(QStringLiteral("dlg%1").arg(IDD_DISCOVERC));
  setWindowTitle(QStringLiteral("Discover"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  auto* subnetLabel = new QLabel(QStringLiteral("&Subnet"), this);
  edit_ = new QLineEdit(this);
  edit_->setObjectName(ControlName(IDC_SUBNET_EDIT));
  edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 26);
  subnetLabel->setBuddy(edit_);
  auto* add = new QPushButton(QStringLiteral("&Add"), this);
  add->setObjectName(ControlName(IDC_SUBNET_ADD));
  auto* del = new QPushButton(QStringLiteral("&Delete"), this);
  del->setObjectName(ControlName(IDC_SUBNET_DELETE));
  auto* listLabel = new QLabel(QStringLiteral("Subnets to Search"), this);
  list_ = new QListWidget(this);
  list_->setObjectName(ControlName(IDC_SUBNET_LIST));
  list_->setSortingEnabled(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  listLabel->setBuddy(list_);
  grid->addWidget(subnetLabel, 0, 0);
  grid->addWidget(edit_, 1, 0);
  grid->addWidget(add, 1, 1);
  grid->addWidget(listLabel, 2, 0);
  grid->addWidget(list_, 3, 0, 2, 1);
  grid->addWidget(del, 3, 1, Qt::AlignTop);
  layout->addLayout(grid);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(ControlName(IDOK));
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(ControlName(IDCANCEL));
  auto* help = new QPushButton(QStringLiteral("&Help"), this);
  help->setObjectName(ControlName(ID_HELP));
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  layout->addLayout(buttons);
  ok->setDefault(true);
  list_->setMinimumHeight(list_->fontMetrics().height() * 7);

  connect(add, &QPushButton::clicked, this, [this] { OnAdd(); });
  connect(del, &QPushButton::clicked, this, [this] { OnDelete(); });
  connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, [this] { OnHelp(); });
  setTabOrder(edit_, add);
  setTabOrder(add, list_);
  setTabOrder(list_, del);
  setTabOrder(del, ok);
  OnInitDialog();
}

CDiscoverc::~CDiscoverc() = default;

QWidget* CDiscoverc::Control(int id) const {
  return findChild<QWidget*>(ControlName(id));
}

KT_Discover* CDiscoverc::SubnetList() const {
  return owner_ != nullptr ? &owner_->SubnetDiscovery() : nullptr;
}

bool CDiscoverc::OnInitDialog() {
  list_->clear();
  if (KT_Discover* list = SubnetList()) {
    KT_Discover& discover = *list;
    discover.ResetSubnetCursor();
    std::string subnet;
    while (discover.GetNextSubnet(subnet)) list_->addItem(QString::fromStdString(subnet));
  }
  edit_->setFocus();
  return true;
}

int CDiscoverc::DoModal() {
  return exec();
}

bool CDiscoverc::IsSubnetInList(const QString& text) const {
  for (int i = 0; i < list_->count(); ++i)
    if (list_->item(i)->text() == text) return true;
  return false;
}

void CDiscoverc::OnAdd() {
  subnet_ = edit_->text().trimmed();
  if (!subnet_.isEmpty() && !IsSubnetInList(subnet_)) {
    list_->addItem(subnet_);
    if (KT_Discover* list = SubnetList()) list->AddSubnet(subnet_.toUtf8().constData());
    changed_ = 1;
  }
  edit_->setText(subnet_);
}

void CDiscoverc::OnDelete() {
  for (int i = list_->count() - 1; i >= 0; --i) {
    QListWidgetItem* item = list_->item(i);
    if (!item->isSelected()) continue;
    const QByteArray text = item->text().toUtf8();
    delete list_->takeItem(i);
    if (KT_Discover* list = SubnetList()) list->RemoveSubnet(text.constData());
    changed_ = 1;
  }
}

void CDiscoverc::OnOK() {
  SubnetListOwner::PostRediscoverToAll();
  QDialog::accept();
}

void CDiscoverc::accept() {
  OnOK();
}

void CDiscoverc::OnHelp() {
  ShowHelpTopic(parentWidget() != nullptr ? parentWidget() : this, kPanelHelpFile, kHelpContext);
}

void CDiscoverc::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    OnHelp();
    return;
  }
  QDialog::keyPressEvent(event);
}
