#include "dialogs/paging/pager_config.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/mail_paging/page_call.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/notification/recipient_remap.h"
#include "dialogs/paging/pager.h"

DialogPointer<CPagerConfig> pPagerConfig{DialogSlot::PagerConfig};

TREM_REGISTER_DIALOG(CPagerConfig);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CPagerConfig::kHelpContext, "Configure Pager Recipients",
    "The people the agent can page, at most eight. For each give the paging company's number, "
    "the pager PIN (for companies that take the alphanumeric paging protocol), the modem, the "
    "serial port and its speed. Add stores the fields as a recipient (a recipient of the same "
    "name is replaced after a question), Delete removes the selected ones, and OK sends the "
    "list to the agent.");

namespace {

constexpr int kColumns = 12;
const char* const kColumnNames[kColumns] = {"Name",
                                            "TAP Support",
                                            "Access Number",
                                            "Pager PIN Number",
                                            "Max Chars. Per Message Block",
                                            "Delay Seconds",
                                            "Termination String",
                                            "Modem",
                                            "Port Name",
                                            "Baud Rate",
                                            "Modem Initialization",
                                            "Modem Dial String"};
const char* const kBaudEntries[] = {"300", "600", "1200", "2400", "4800", "9600", "14400", "19200"};
constexpr int kRowRole = Qt::UserRole + 1;

QLineEdit* MakeEdit(QWidget* owner, int id, int maxLength) {
  auto* edit = new QLineEdit(owner);
  edit->setObjectName(ControlName(id));
  edit->setMaxLength(maxLength);
  return edit;
}

QLabel* MakeLabel(QWidget* owner, int id, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, owner);
  if (id != 0) label->setObjectName(ControlName(id));
  label->setBuddy(buddy);
  return label;
}

bool AllDigits(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

QString Text(const std::optional<std::string>& text) {
  return QString::fromStdString(text.value_or(std::string()));
}

// Stores a field through its setter; an empty field is left unset. False when the record
// refuses a value the user typed.
bool Store(KT_PagerConfig& config, int (KT_PagerConfig::*setter)(const char*), const QString& text) {
  if (text.isEmpty()) return true;
  return (config.*setter)(text.toUtf8().constData()) >= 0;
}

}  // namespace

CPagerConfig::CPagerConfig(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  Init();
}

CPagerConfig::CPagerConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                           const QStringList& hostNames)
    : KTDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CPagerConfig::Init() {
  BindDialogPointer(pPagerConfig);
  beside_pager_ = DialogIsOpen(pPager.get());
  // The port list, and the notification block unless the pager dialog holds it.
  SetWaitCount(beside_pager_ ? 1 : 2);
  BuildControls();
  Create(kTemplateId);
}

CPagerConfig::~CPagerConfig() {
  QObject::disconnect(focus_connection_);
  ClearRows();
}

void CPagerConfig::ClearRows() {
  for (Row* row : rows_) delete row;
  rows_.clear();
}

void CPagerConfig::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;

  auto* info = new QGroupBox(QStringLiteral("Recipient Information"), this);
  info->setObjectName(ControlName(IDC_INFO_GROUP));
  auto* infoGrid = new QGridLayout(info);
  tap_ = new QCheckBox(QStringLiteral("Paging Company Supports &TAP Protocol"), info);
  tap_->setObjectName(ControlName(IDC_TAP));
  connect(tap_, &QCheckBox::clicked, this, [this] { OnTapSupport1(); });
  name_ = MakeEdit(info, IDC_NAME, 20);
  access_ = MakeEdit(info, IDC_ACCESS_NUMBER, 40);
  pin_ = MakeEdit(info, IDC_PIN, 40);
  max_chars_ = MakeEdit(info, IDC_MAX_CHARS, 5);
  delay_ = MakeEdit(info, IDC_DELAY, 5);
  termination_ = MakeEdit(info, IDC_TERMINATION, 5);
  access_label_ = MakeLabel(info, IDC_ACCESS_LABEL, QStringLiteral("A&ccess Number:"), access_);
  pin_label_ = MakeLabel(info, IDC_PIN_LABEL, QStringLiteral("&Pager PIN Number:"), pin_);
  delay_label_ = MakeLabel(info, IDC_DELAY_LABEL, QStringLiteral("&Delay Seconds:"), delay_);
  termination_label_ =
      MakeLabel(info, IDC_TERMINATION_LABEL, QStringLiteral("T&ermination String:"), termination_);
  infoGrid->addWidget(tap_, 0, 0, 1, 2);
  infoGrid->addWidget(MakeLabel(info, 0, QStringLiteral("&Name:"), name_), 1, 0);
  infoGrid->addWidget(name_, 1, 1);
  infoGrid->addWidget(access_label_, 2, 0);
  infoGrid->addWidget(access_, 2, 1);
  infoGrid->addWidget(pin_label_, 3, 0);
  infoGrid->addWidget(pin_, 3, 1);
  infoGrid->addWidget(MakeLabel(info, 0, QStringLiteral("Ma&x Characters Per Message Block:"), max_chars_), 4,
                      0);
  infoGrid->addWidget(max_chars_, 4, 1);
  infoGrid->addWidget(delay_label_, 5, 0);
  infoGrid->addWidget(delay_, 5, 1);
  infoGrid->addWidget(termination_label_, 6, 0);
  infoGrid->addWidget(termination_, 6, 1);
  infoGrid->setColumnStretch(1, 1);
  infoGrid->setRowStretch(7, 1);

  auto* modem = new QGroupBox(QStringLiteral("Modem Setup"), this);
  modem->setObjectName(ControlName(IDC_MODEM_GROUP));
  auto* modemGrid = new QGridLayout(modem);
  modem_ = new QComboBox(modem);
  modem_->setObjectName(ControlName(IDC_MODEM));
  modem_->setMinimumContentsLength(24);
  modem_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  connect(modem_, &QComboBox::activated, this, [this] { OnSelchangeModemCombo(); });
  port_ = new QComboBox(modem);
  port_->setObjectName(ControlName(IDC_PORT));
  baud_ = new QComboBox(modem);
  baud_->setObjectName(ControlName(IDC_BAUD));
  for (const char* entry : kBaudEntries) baud_->addItem(QString::fromLatin1(entry));
  init_ = MakeEdit(modem, IDC_INIT, 65);
  dial_ = MakeEdit(modem, IDC_DIAL, 5);
  modemGrid->addWidget(MakeLabel(modem, 0, QStringLiteral("&Modem:"), modem_), 0, 0);
  modemGrid->addWidget(modem_, 0, 1);
  modemGrid->addWidget(MakeLabel(modem, 0, QStringLiteral("Port &Name:"), port_), 1, 0);
  modemGrid->addWidget(port_, 1, 1);
  modemGrid->addWidget(MakeLabel(modem, 0, QStringLiteral("&Baud Rate:"), baud_), 2, 0);
  modemGrid->addWidget(baud_, 2, 1);
  modemGrid->addWidget(MakeLabel(modem, 0, QStringLiteral("Modem &Initialization:"), init_), 3, 0);
  modemGrid->addWidget(init_, 3, 1);
  modemGrid->addWidget(MakeLabel(modem, 0, QStringLiteral("Modem Dial Strin&g:"), dial_), 4, 0);
  modemGrid->addWidget(dial_, 4, 1);
  modemGrid->setColumnStretch(1, 1);
  modemGrid->setRowStretch(5, 1);

  top->addWidget(info, 1);
  top->addWidget(modem, 1);
  layout->addLayout(top);

  list_ = new QTreeWidget(this);
  list_->setObjectName(ControlName(IDC_RECIPIENTS));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setMinimumHeight(120);
  list_->header()->setSectionsClickable(false);
  focus_connection_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* /*old*/, QWidget* now) {
    if (now == list_) OnSetfocusRecipients();
  });
  connect(list_, &QTreeWidget::itemClicked, this, [this] { OnRecipientFocusChanged(); });
  connect(list_, &QTreeWidget::currentItemChanged, this, [this] { OnRecipientFocusChanged(); });
  auto* listLabel = MakeLabel(this, IDC_RECIPIENTS_LABEL, QStringLiteral("C&onfigured Recipients"), list_);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(list_, 1);
  auto* side = new QVBoxLayout;
  auto* add = MakeButton(IDC_ADD, QStringLiteral("&Add"));
  add->setAutoDefault(false);
  connect(add, &QPushButton::clicked, this, [this] { OnAdd(); });
  auto* del = MakeButton(IDC_DELETE, QStringLiteral("&Delete"));
  del->setAutoDefault(false);
  connect(del, &QPushButton::clicked, this, [this] { OnDelete(); });
  side->addWidget(add);
  side->addWidget(del);
  side->addStretch(1);
  listRow->addLayout(side);
  layout->addWidget(listLabel);
  layout->addLayout(listRow, 1);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  Control<QPushButton>(ID_HELP)->setText(QStringLiteral("&Help"));

  setTabOrder(tap_, name_);
  setTabOrder(name_, access_);
  setTabOrder(access_, pin_);
  setTabOrder(pin_, max_chars_);
  setTabOrder(max_chars_, delay_);
  setTabOrder(delay_, termination_);
  setTabOrder(termination_, modem_);
  setTabOrder(modem_, port_);
  setTabOrder(port_, baud_);
  setTabOrder(baud_, init_);
  setTabOrder(init_, dial_);
  setTabOrder(dial_, add);
  setTabOrder(add, del);
  setTabOrder(del, list_);
  setTabOrder(list_, Control(IDOK));
  resize(760, 480);
}

bool CPagerConfig::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  InitModemComboBox();
  InitListControl();
  SetDefaults();
  RequestData(4, 11, 0);
  if (beside_pager_) {
    AddExistingToRecipientList();
  } else {
    // The whole block: OK may have to send the page actions along with the recipients.
    RequestData(5, 0, 0);
  }
  SetHostCaption(QStringLiteral("Configure Pager Recipients"));
  OnTapSupport1();
  return true;
}

bool CPagerConfig::ParseModemLine(const QString& line, QString& name, QString& init) {
  const qsizetype dash = line.indexOf('-');
  if (dash < 0) return false;
  name = line.left(dash);
  init = line.mid(dash + 1);
  if (!init.isEmpty() && init[0].isSpace()) init.remove(0, 1);
  while (init.endsWith('\r') || init.endsWith('\n')) init.chop(1);
  return true;
}

bool CPagerConfig::ReadModemFile(const QString& path, std::vector<std::pair<QString, QString>>& modems) {
  modems.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  while (!file.atEnd()) {
    QByteArray line = file.readLine();
    // Only the first characters of a long line count; the rest of it is skipped.
    if (line.size() > kModemLineMax) line.truncate(kModemLineMax);
    QString name;
    QString init;
    if (ParseModemLine(QString::fromLocal8Bit(line), name, init)) modems.emplace_back(name, init);
  }
  modems.emplace_back(QString::fromLatin1(kDefaultModem), QString());
  std::stable_sort(modems.begin(), modems.end(), [](const auto& a, const auto& b) {
    return a.first.compare(b.first, Qt::CaseInsensitive) < 0;
  });
  return true;
}

void CPagerConfig::InitModemComboBox() {
  modem_->clear();
  std::vector<std::pair<QString, QString>> modems;
  if (!ReadModemFile(QString::fromLatin1(kModemFile), modems)) {
    ShowMessageBox(this, QStringLiteral("Bad or missing MODEMS.TXT file."), gcsMessageBoxTitle,
                   MB_OK | MB_ICONSTOP);
    return;
  }
  for (const auto& [name, init] : modems) modem_->addItem(name, init);
}

void CPagerConfig::InitListControl() {
  list_->clear();
  ClearRows();
  list_->setColumnCount(kColumns);
  QStringList headers;
  for (const char* name : kColumnNames) headers << QString::fromLatin1(name);
  list_->setHeaderLabels(headers);
  const int width = std::max(list_->viewport()->width(), 600);
  for (int c = 0; c < kColumns; ++c) list_->setColumnWidth(c, c == 4 ? width / 3 : width / 4);
  list_->setSortingEnabled(true);
  list_->sortByColumn(0, Qt::AscendingOrder);
}

void CPagerConfig::SetDefaults() {
  const int index = modem_->findText(QString::fromLatin1(kDefaultModem));
  if (index >= 0) modem_->setCurrentIndex(index);
  baud_->setCurrentIndex(0);
  tap_->setChecked(true);
}

void CPagerConfig::OnNewData(unsigned status, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (status != 4) return;
  if (block == 4) {
    UpdateSerialPorts();
  } else if (block == 5 && !filled_) {
    // Another dialog's request for the block also reaches this one: fill only once.
    AddExistingToRecipientList();
  }
}

void CPagerConfig::UpdateSerialPorts() {
  if (ports_filled_) return;
  std::vector<std::string> ports;
  int osType = 0;
  {
    auto lock = gScp.Lock();
    const KT_PortList& list = gScp.config.Ports();
    for (int i = 0; i < list.Count(); ++i) {
      std::string name;
      if (list.GetAt(i, name) >= 0) ports.push_back(name);
    }
    osType = gScp.upsInfo.GetOsType();
  }
  const QString keep = port_->currentText();
  if (!ports.empty()) {
    for (const std::string& name : ports) port_->addItem(QString::fromStdString(name));
  } else if (osType == 1) {
    for (const char* name : {"COM1", "COM2", "COM3", "COM4"}) port_->addItem(QString::fromLatin1(name));
  } else {
    TremMessageBox(this, QStringLiteral("Unable to assemble list of available serial ports."), MB_OK);
    return;
  }
  ports_filled_ = true;
  port_->model()->sort(0);
  const int index = keep.isEmpty() ? -1 : port_->findText(keep);
  port_->setCurrentIndex(index >= 0 ? index : 0);
}

void CPagerConfig::AddExistingToRecipientList() {
  filled_ = true;
  std::vector<KT_PagerConfig> recipients;
  {
    auto lock = gScp.Lock();
    recipients = gScp.notify.PagerRecipients().Entries();
  }
  slots_before_ = static_cast<int>(recipients.size());
  for (int i = 0; i < slots_before_; ++i) InsertRow(recipients[static_cast<size_t>(i)], i);
  OnTapSupport1();
}

CPagerConfig::Row* CPagerConfig::RowOf(QTreeWidgetItem* item) const {
  if (item == nullptr) return nullptr;
  return reinterpret_cast<Row*>(item->data(0, kRowRole).value<quintptr>());
}

QString CPagerConfig::GetBaudRateString(int baudIndex) {
  return QString::fromLatin1(PagerBaudText(baudIndex));
}

int CPagerConfig::BaudIndexOfPosition(int position) {
  // Box positions 0..5 are the codes 0..5; "14400" and "19200" are the agent's 8 and 6.
  if (position == 6) return 8;
  if (position == 7) return 6;
  return position < 0 ? 0 : position;
}

int CPagerConfig::PositionOfBaudIndex(int baudIndex) {
  if (baudIndex == 8) return 6;
  if (baudIndex == 6) return 7;
  if (baudIndex == 7 || baudIndex == 9) return -1;
  return baudIndex >= 0 && baudIndex <= 5 ? baudIndex : 0;
}

QTreeWidgetItem* CPagerConfig::InsertRow(const KT_PagerConfig& recipient, int slot) {
  auto* row = new Row{recipient, slot, next_order_++};
  rows_.push_back(row);
  const bool tap = recipient.GetTap() != 0;
  KT_PagerConfig copy = recipient;
  auto* item = new QTreeWidgetItem;
  item->setText(0, Text(recipient.GetName()));
  item->setText(1, tap ? QStringLiteral("Yes") : QStringLiteral("No"));
  item->setText(2, Text(recipient.GetAccessNumber()));
  item->setText(3, tap ? Text(recipient.GetPin()) : QString());
  item->setText(4, Text(recipient.GetMaxCharacters()));
  item->setText(5, Text(recipient.GetDelaySeconds()));
  item->setText(6, Text(recipient.GetTermination()));
  item->setText(7, Text(recipient.GetModemName()));
  item->setText(8, Text(copy.GetPortName()));
  item->setText(9, GetBaudRateString(recipient.GetBaudIndex()));
  item->setText(10, Text(recipient.GetInitString()));
  item->setText(11, Text(recipient.GetDialString()));
  item->setData(0, kRowRole, QVariant::fromValue(reinterpret_cast<quintptr>(row)));
  list_->addTopLevelItem(item);
  return item;
}

int CPagerConfig::AddToRecipientList(const KT_PagerConfig& recipient) {
  InsertRow(recipient, -1);
  return 1;
}

void CPagerConfig::OnTapSupport1() {
  const bool tap = tap_->isChecked();
  delay_->setEnabled(!tap);
  delay_label_->setEnabled(!tap);
  termination_->setEnabled(!tap);
  termination_label_->setEnabled(!tap);
  pin_->setEnabled(tap);
  pin_label_->setEnabled(tap);
  access_label_->setText(tap ? QStringLiteral("Access Number") : QStringLiteral("Phone Number"));
}

void CPagerConfig::OnRecipientFocusChanged() {
  Row* row = RowOf(list_->currentItem());
  if (row == nullptr) return;
  KT_PagerConfig& r = row->config;
  name_->setText(Text(r.GetName()));
  tap_->setChecked(r.GetTap() != 0);
  access_->setText(Text(r.GetAccessNumber()));
  pin_->setText(Text(r.GetPin()));
  max_chars_->setText(Text(r.GetMaxCharacters()));
  delay_->setText(Text(r.GetDelaySeconds()));
  termination_->setText(Text(r.GetTermination()));
  const int port = port_->findText(Text(r.GetPortName()));
  if (port >= 0) port_->setCurrentIndex(port);
  const int baud = PositionOfBaudIndex(r.GetBaudIndex());
  if (baud >= 0) baud_->setCurrentIndex(baud);
  init_->setText(Text(r.GetInitString()));
  dial_->setText(Text(r.GetDialString()));
  QString modem = Text(r.GetModemName());
  if (modem.isEmpty()) modem = QString::fromLatin1(kDefaultModem);
  const int index = modem_->findText(modem);
  if (index >= 0) modem_->setCurrentIndex(index);
  OnTapSupport1();
}

void CPagerConfig::OnSetfocusRecipients() {
  if (!list_->selectedItems().isEmpty() || list_->topLevelItemCount() == 0) return;
  QTreeWidgetItem* top = list_->itemAt(0, 0);
  if (top == nullptr) top = list_->topLevelItem(0);
  top->setSelected(true);
  list_->setCurrentItem(top);
}

void CPagerConfig::OnSelchangeModemCombo() {
  init_->setText(modem_->currentData().toString());
}

bool CPagerConfig::IsDuplicateName() const {
  const QString name = name_->text();
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    if (list_->topLevelItem(i)->text(0).compare(name, Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

bool CPagerConfig::DeleteRecipientbyName(const QString& name) {
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    if (item->text(0).compare(name, Qt::CaseInsensitive) != 0) continue;
    Row* row = RowOf(item);
    delete item;
    rows_.erase(std::remove(rows_.begin(), rows_.end(), row), rows_.end());
    delete row;
    return true;
  }
  return false;
}

void CPagerConfig::OnAdd() {
  const QString name = name_->text();
  const QString access = access_->text();
  const QString port = port_->currentText();
  auto box = [this](const QString& text) { ShowMessageBox(this, text, gcsMessageBoxTitle, MB_OK); };
  if (name.isEmpty()) return box(QStringLiteral("Please provide name of recipient."));
  if (access.isEmpty()) return box(QStringLiteral("Please enter access number."));
  if (port.isEmpty()) return box(QStringLiteral("Please select communications port."));
  KT_PagerConfig r;
  QString delay;
  QString termination;
  if (tap_->isChecked()) {
    if (max_chars_->text().toInt() <= 0)
      return box(
          QStringLiteral("Invalid data field:\n\nThe Maximum Characters per Message Block must be greater "
                         "than 0 for TAP supported pages."));
    r.SetTap(1);
    if (!AllDigits(pin_->text()))
      return box(QStringLiteral(
          "Invalid data field:\n\nThe Pager Pin Number must only contain numeric characters."));
    delay = QStringLiteral("0");
  } else {
    r.SetTap(0);
    termination = termination_->text();
    if (delay_->text().toInt() <= 0)
      return box(QStringLiteral("Invalid data field:\n\nDelay Seconds must be greater than 0."));
    delay = delay_->text();
  }
  QString modem = modem_->currentText();
  struct Field {
    int (KT_PagerConfig::*setter)(const char*);
    QString text;
    const char* label;
  };
  const Field fields[] = {
      {&KT_PagerConfig::SetMaxCharacters, max_chars_->text(), "Max Characters Per Message Block"},
      {&KT_PagerConfig::SetModemName, modem, "Modem"},
      {&KT_PagerConfig::SetDialString, dial_->text(), "Modem Dial String"},
      {&KT_PagerConfig::SetInitString, init_->text(), "Modem Initialization"},
      {&KT_PagerConfig::SetAccessNumber, access, "Access Number"},
      {&KT_PagerConfig::SetName, name, "Name"},
      {&KT_PagerConfig::SetPin, pin_->text(), "Pager PIN Number"},
      {&KT_PagerConfig::SetDelaySeconds, delay, "Delay Seconds"},
      {&KT_PagerConfig::SetTermination, termination, "Termination String"},
  };
  for (const Field& f : fields) {
    if (!Store(r, f.setter, f.text))
      return box(
          QStringLiteral("Invalid data field:\n\nThe %1 \"%2\" cannot be stored for a pager recipient.")
              .arg(QString::fromLatin1(f.label), f.text));
  }
  if (r.SetPortName(port.toUtf8().constData()) < 0)
    return box(
        QStringLiteral("Invalid data field:\n\nThe Port Name \"%1\" cannot be stored for a pager recipient.")
            .arg(port));
  r.SetBaudIndex(BaudIndexOfPosition(baud_->currentIndex()));

  if (IsDuplicateName()) {
    if (ShowMessageBox(this, QStringLiteral("Update pager data for %1?").arg(name), gcsMessageBoxTitle,
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
      return;
    // The replacement takes the old recipient's place in the list.
    int slot = -1;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = list_->topLevelItem(i);
      if (item->text(0).compare(name, Qt::CaseInsensitive) == 0) {
        slot = RowOf(item)->slot;
        break;
      }
    }
    DeleteRecipientbyName(name);
    InsertRow(r, slot);
    return;
  }
  if (list_->topLevelItemCount() < KT_PagerList::kMaxRecipients) {
    AddToRecipientList(r);
    return;
  }
  box(QStringLiteral(
      "There can only be eight pager notification recipients.  Please remove one of the existing "
      "recipients before adding another."));
}

void CPagerConfig::OnDelete() {
  for (QTreeWidgetItem* item : list_->selectedItems()) {
    Row* row = RowOf(item);
    delete item;
    rows_.erase(std::remove(rows_.begin(), rows_.end(), row), rows_.end());
    delete row;
  }
  OnRecipientFocusChanged();
}

void CPagerConfig::OnOK() {
  // Every recipient keeps its slot; new ones follow in the order they were added.
  std::vector<const Row*> kept;
  std::vector<const Row*> added;
  for (const Row* row : rows_) (row->slot >= 0 ? kept : added).push_back(row);
  std::sort(kept.begin(), kept.end(), [](const Row* a, const Row* b) { return a->slot < b->slot; });
  std::sort(added.begin(), added.end(), [](const Row* a, const Row* b) { return a->order < b->order; });
  kept.insert(kept.end(), added.begin(), added.end());
  int refused = 0;
  bool moved = false;
  {
    auto lock = gScp.Lock();
    KT_PagerList& list = gScp.notify.PagerRecipients();
    list.Clear();
    std::vector<int> newSlot(KT_PagerList::kMaxRecipients, -1);
    for (int i = slots_before_; i < KT_PagerList::kMaxRecipients; ++i) newSlot[static_cast<size_t>(i)] = i;
    for (const Row* row : kept) {
      if (list.Add(row->config) < 0) {
        ++refused;
        continue;
      }
      if (row->slot >= 0) newSlot[static_cast<size_t>(row->slot)] = list.Count() - 1;
    }
    moved = MoveRecipientBits(gScp.notify, ACTION_PAGE, newSlot);
    gScp.notify.Branches().Touch(moved ? 0 : 5);
  }
  for (int i = 0; i < refused; ++i)
    ShowMessageBox(this, QStringLiteral("Error adding pager recipient."), gcsMessageBoxTitle, MB_OK);
  SendCommand(5, moved ? 0 : 5, 0);
  if (DialogIsOpen(pPager.get())) {
    // The agent has the list a moment after the SET; the pager dialog then shows it.
    QPointer<CPager> pager(pPager.get());
    QTimer::singleShot(1000, pager, [pager] {
      if (pager) pager->GetCurrentConfig();
    });
  }
  KTDialog::OnOK();
}
