#include "dialogs/shutdown/shutdown_dlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/discovery/host_search.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/shutdown/shutdown_page.h"
#include "dialogs/shutdown/timeline_view.h"

DialogPointer<CShutdownDlg> pShutdownDlg{DialogSlot::ShutdownDlg};

TREM_REGISTER_DIALOG(CShutdownDlg);

static const StringTableRegistrar kStrings{
    {1168, "Configure Shutdown Parameters"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CShutdownDlg::kHelpContext, "Configure Shutdown Parameters",
    "Shows what happens after the UPS goes on battery, minute by minute: when this computer "
    "and each of its network clients warn their users and administrators, when the "
    "non-critical load is turned off, and when each shutdown starts.\n\n"
    "Configure opens the pages that change these times. Delete removes the selected network "
    "client. OK sends the changes to the agent; Cancel discards them.");

namespace {
constexpr uint16_t kUnset = 0xFFFF;
constexpr const char* kLocal = "local machine";
constexpr int kOnBatteryEvent = 3;
}  // namespace

CShutdownDlg::CShutdownDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_SHUTDOWN_DLG, parent, hostName) {
  Init();
}

CShutdownDlg::CShutdownDlg(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                           const QStringList& hostNames)
    : KTDialog(IDD_SHUTDOWN_DLG, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CShutdownDlg::Init() {
  BindDialogPointer(pShutdownDlg);
  ShutdownPage::ForgetPages();
  {
    auto lock = gScp.Lock();
    load_control_ = gScp.upsInfo.IsFunctionSupported(3, 7) == 1;
  }
  SetWaitCount(load_control_ ? 4 : 3);
  BuildControls();
  Create(IDD_SHUTDOWN_DLG);
}

CShutdownDlg::~CShutdownDlg() = default;

void CShutdownDlg::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Shutdown Parameters"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  auto* heading = new QLabel(QStringLiteral("Machine Name"), this);
  heading->setObjectName(ControlName(IDC_TIMELINE_HEADING));
  left_label_ = new QLabel(QStringLiteral("0"), this);
  left_label_->setObjectName(ControlName(IDC_TIMELINE_LEFT));
  right_label_ = new QLabel(QStringLiteral("8"), this);
  right_label_->setObjectName(ControlName(IDC_TIMELINE_RIGHT));
  right_label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* nearest = new QLabel(QStringLiteral("Time to the nearest minute"), this);
  nearest->setObjectName(ControlName(1955));
  nearest->setAlignment(Qt::AlignCenter);
  auto* scale = new QHBoxLayout;
  scale->addWidget(left_label_);
  scale->addStretch(1);
  scale->addWidget(nearest);
  scale->addStretch(1);
  scale->addWidget(right_label_);

  list_ = new QListWidget(this);
  list_->setObjectName(ControlName(IDC_TIMELINE_LIST));
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list_->setMinimumWidth(fontMetrics().averageCharWidth() * 52);
  list_->setMinimumHeight(fontMetrics().height() * 12);
  view_ = new TimeLineView(this, this);
  grid->addWidget(heading, 0, 0);
  grid->addLayout(scale, 0, 1);
  grid->addWidget(list_, 1, 0);
  grid->addWidget(view_, 1, 1);
  grid->setColumnStretch(1, 1);
  grid->setHorizontalSpacing(0);
  layout->addLayout(grid, 1);

  auto* legend = new QGroupBox(QStringLiteral("Color Legend"), this);
  auto* legendGrid = new QGridLayout(legend);
  const struct {
    int square, text;
    QColor colour;
    const char* meaning;
  } kLegend[] = {
      {1860, 1863, QColor(255, 0, 0), "Time on battery before issuing warnings"},
      {1861, 1864, QColor(0, 255, 0), "Time on battery before turning off non-critical load"},
      {1978, 1865, QColor(0, 0, 255), "Time on battery before starting shutdown process"},
      {1866, 1072, QColor(255, 255, 0), "Time required to shutdown the operating system"},
  };
  const int side = fontMetrics().height() - 2;
  int row = 0;
  for (const auto& l : kLegend) {
    QPixmap square(side, side);
    square.fill(l.colour);
    {
      QPainter p(&square);
      p.setPen(Qt::black);
      p.drawRect(0, 0, side - 1, side - 1);
    }
    auto* sq = new QLabel(legend);
    sq->setObjectName(ControlName(l.square));
    sq->setPixmap(square);
    auto* text = new QLabel(QString::fromUtf8(l.meaning), legend);
    text->setObjectName(ControlName(l.text));
    legendGrid->addWidget(sq, row, 0);
    legendGrid->addWidget(text, row, 1);
    ++row;
  }
  legendGrid->setColumnStretch(1, 1);
  layout->addWidget(legend);

  auto* buttons = MakeButtonRow({IDOK, IDCANCEL});
  auto* configure = MakeButton(IDC_TIMELINE_CONFIGURE, QStringLiteral("&Configure"));
  auto* del = MakeButton(IDC_TIMELINE_DELETE, QStringLiteral("&Delete"));
  buttons->addWidget(configure);
  buttons->addWidget(del);
  buttons->addWidget(MakeButton(ID_HELP, QStringLiteral("&Help")));
  layout->addLayout(buttons);
  Control<QPushButton>(IDOK)->setText(QStringLiteral("&OK"));
  Control<QPushButton>(IDCANCEL)->setText(QStringLiteral("C&ancel"));
  connect(configure, &QPushButton::clicked, this, [this] { OnWizard(); });
  connect(del, &QPushButton::clicked, this, [this] { OnDelete(); });
  // The bars follow the rows the list shows.
  connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, view_, [this] { view_->update(); });
  connect(list_, &QListWidget::currentRowChanged, view_, [this] { view_->update(); });
  setTabOrder(list_, Control(IDOK));
  setTabOrder(Control(IDOK), Control(IDCANCEL));
  setTabOrder(Control(IDCANCEL), configure);
  setTabOrder(configure, del);
  setTabOrder(del, Control(ID_HELP));
}

bool CShutdownDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  RequestData(5, 0, 0);
  RequestData(4, 2, 0);
  RequestData(4, 9, 1);
  if (load_control_) RequestData(28, 1, 0);
  SetHostCaption(1168);
  OnConfigBlock();
  return true;
}

void CShutdownDlg::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  // The status is not looked at: the load segment page's notice after its OK rebuilds the rows
  // as a reply does.
  if (block == 5) {
    OnConfigBlock();
  } else if (block == 28) {
    {
      auto lock = gScp.Lock();
      segments_ = gScp.receptacles.GetCount();
    }
    OnConfigBlock();
  } else if (block == 4) {
    OnConfigBlock();
  }
}

CShutdownDlg::Values CShutdownDlg::ReadValues() const {
  Values v;
  auto lock = gScp.Lock();
  const uint16_t total = gScp.config.GetTotalBatteryTime();
  const uint16_t start = gScp.config.GetShutdownStartDelay();
  const uint16_t os = gScp.config.GetOsShutdownTime();
  v.total = total == kUnset ? kDefaultTotalMinutes : total;
  v.start = start == kUnset ? kDefaultStartDelay : start;
  v.os = os == kUnset ? kDefaultOsMinutes : os / 60;
  v.segment = gScp.receptacles.GetNonCriticalSegment();
  if (v.segment != 255) {
    const uint16_t down = gScp.receptacles.GetDownDelay(v.segment);
    const int seconds = down == kUnset ? 0 : down;
    v.downMinutes = seconds / 60 + (seconds % 60 >= 31 ? 1 : 0);
  }
  KT_ActionEntry entry;
  if (gScp.notify.FindAction(kOnBatteryEvent, ACTION_CONSOLE_WARNING, entry)) v.adminWarn = entry.delay / 60;
  if (gScp.notify.FindAction(kOnBatteryEvent, ACTION_USER_WARNING, entry)) v.userWarn = entry.delay / 60;
  v.userSupported = gScp.notify.IsActionSupported(ACTION_USER_WARNING) == 1;
  return v;
}

int CShutdownDlg::GetWarningTime(int action) {
  auto lock = gScp.Lock();
  KT_ActionEntry entry;
  return gScp.notify.FindAction(kOnBatteryEvent, action, entry) ? entry.delay / 60 : 0;
}

int CShutdownDlg::ScaleEnd() const {
  return ReadValues().total + 1;
}

QString CShutdownDlg::MakeLoadManagementDisplayLine() const {
  int segment;
  {
    auto lock = gScp.Lock();
    segment = gScp.receptacles.GetNonCriticalSegment();
  }
  const QString base = QStringLiteral("local machine, turn off non-critical load - ");
  // Segments are numbered from 1 as the load segment page lists them, in decimal.
  return segment == 255 ? base + QStringLiteral("None") : base + QString::number(segment + 1);
}

void CShutdownDlg::AddRow(const TimeLineRow& row) {
  rows_.push_back(row);
  list_->addItem(row.text);
  const int width = list_->fontMetrics().horizontalAdvance(row.text) + 8;
  if (width > widest_) widest_ = width;
}

void CShutdownDlg::OnConfigBlock() {
  rows_.clear();
  list_->clear();
  if (!IsFilled()) {
    // Until the agent's settings arrive the image holds only defaults: no time line is drawn
    // from them.
    Redraw();
    return;
  }
  const Values v = ReadValues();
  AddRow({QStringLiteral("local machine, start shutdown"), TimeLineKind::LocalStart, {}});
  AddRow({QStringLiteral("local machine, operating system shutdown"), TimeLineKind::LocalOsShutdown, {}});
  if (load_control_) AddRow({MakeLoadManagementDisplayLine(), TimeLineKind::LocalLoad, {}});
  AddRow({QStringLiteral("local machine, warn administrator"), TimeLineKind::LocalAdministrator, {}});
  if (v.userSupported) AddRow({QStringLiteral("local machine, warn user"), TimeLineKind::LocalUser, {}});
  QStringList entries;
  {
    auto lock = gScp.Lock();
    for (KT_NetClient& client : gScp.config.PowerEventClients().Clients())
      entries << HostEntryText(client.address);
  }
  for (const QString& entry : entries) AddMachine(entry);
  right_label_->setText(QString::number(v.total + 1));
  Redraw();
}

int CShutdownDlg::RowOfClient(const QString& hostName) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (!rows_[i].client.isEmpty() && rows_[i].client.compare(hostName, Qt::CaseInsensitive) == 0)
      return static_cast<int>(i);
  return -1;
}

void CShutdownDlg::AddMachine(const QString& entryText) {
  const QString host = HostOfEntryText(entryText);
  if (host.isEmpty() || RowOfClient(host) >= 0) return;
  bool user;
  {
    auto lock = gScp.Lock();
    user = gScp.notify.IsActionSupported(ACTION_USER_WARNING) == 1;
  }
  AddRow({entryText + QStringLiteral(", start shutdown"), TimeLineKind::ClientStart, host});
  AddRow({entryText + QStringLiteral(", administrator warning"), TimeLineKind::ClientAdministrator, host});
  if (user) AddRow({entryText + QStringLiteral(", user warning"), TimeLineKind::ClientUser, host});
  Redraw();
}

void CShutdownDlg::DeleteMachine(const QString& hostName) {
  const QString host = HostOfEntryText(hostName);
  for (int row = static_cast<int>(rows_.size()) - 1; row >= 0; --row) {
    if (rows_[static_cast<size_t>(row)].client.compare(host, Qt::CaseInsensitive) != 0 ||
        rows_[static_cast<size_t>(row)].client.isEmpty())
      continue;
    rows_.erase(rows_.begin() + row);
    delete list_->takeItem(row);
  }
  Redraw();
}

int CShutdownDlg::AddMachineID(const QString& text) {
  AddRow({text, TimeLineKind::Other, {}});
  Redraw();
  return 1;
}

TimeLineBar CShutdownDlg::BarOf(const TimeLineRow& row) const {
  const Values v = ReadValues();
  switch (row.kind) {
    case TimeLineKind::LocalStart:
      return {BarColour::Blue, 0, v.start};
    case TimeLineKind::LocalOsShutdown:
      return {BarColour::Yellow, v.start, v.start + v.os};
    case TimeLineKind::LocalLoad:
      if (v.segment == 255) return {};
      return {BarColour::Green, 0, v.downMinutes};
    case TimeLineKind::LocalAdministrator:
      return {BarColour::Red, 0, v.adminWarn};
    case TimeLineKind::LocalUser:
      return {BarColour::Red, 0, v.userWarn};
    case TimeLineKind::ClientStart:
    case TimeLineKind::ClientAdministrator:
    case TimeLineKind::ClientUser: {
      auto lock = gScp.Lock();
      KT_NetClient* client = gScp.config.PowerEventClients().FindByName(row.client.toStdString());
      if (client == nullptr) return {};
      if (row.kind == TimeLineKind::ClientStart)
        return {BarColour::Blue, 0, client->shut_delay == kDelayNotSet ? 0 : client->shut_delay};
      return {BarColour::Red, 0, client->warn_delay == kDelayNotSet ? 0 : client->warn_delay};
    }
    case TimeLineKind::Other:
      break;
  }
  return {};
}

void CShutdownDlg::Redraw() {
  // Rows keep their texts; the load row is made again as its segment may have changed.
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].kind != TimeLineKind::LocalLoad) continue;
    rows_[i].text = MakeLoadManagementDisplayLine();
    if (QListWidgetItem* item = list_->item(static_cast<int>(i))) item->setText(rows_[i].text);
  }
  right_label_->setText(IsFilled() ? QString::number(ScaleEnd()) : QString());
  view_->update();
  update();
}

void CShutdownDlg::OnDelete() {
  const int row = list_->currentRow();
  if (row < 0 || list_->currentItem() == nullptr || !list_->currentItem()->isSelected()) {
    TremMessageBox(this, QStringLiteral("Please select item from list box before continuing."), MB_OK);
    return;
  }
  const QString text = rows_[static_cast<size_t>(row)].text;
  const QString machine = text.left(text.indexOf(QLatin1Char(',')));
  if (machine.compare(QLatin1String(kLocal), Qt::CaseInsensitive) == 0) {
    TremMessageBox(this, QStringLiteral("Cannot delete local machine."), MB_OK);
    return;
  }
  const QString host = HostOfEntryText(machine);
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
    TremMessageBox(this, QStringLiteral("Unable to remove ") + host, MB_OK);
    return;
  }
  DeleteMachine(host);
}

void CShutdownDlg::OnWizard() {
  if (ShutdownPage* first = ShutdownPage::OpenPage(ShutdownPageId::Ups)) {
    first->raise();
    first->activateWindow();
    return;
  }
  ShutdownPage::CreatePage(ShutdownPageId::Ups, this, HostName());
}

void CShutdownDlg::OnOK() {
  {
    auto lock = gScp.Lock();
    gScp.notify.Branches().Touch(0);
    gScp.config.Branches().Touch(2);
    gScp.config.Branches().Touch(9);
    if (load_control_) gScp.receptacles.Branches().Touch(1);
  }
  SendCommand(5, 0, 0);
  SendCommand(4, 2, 0);
  SendCommand(4, 9, 1);
  if (load_control_) SendCommand(28, 1, 0);
  KTDialog::OnOK();
}
