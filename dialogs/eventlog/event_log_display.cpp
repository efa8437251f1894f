#include "dialogs/eventlog/event_log_display.h"

#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/scp/event_log_block.h"
#include "dialogs/eventlog/event_log_config.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/help_topics.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CEventLogDisplay> pEventLogDisplay{DialogSlot::EventLogDisplay};

TREM_REGISTER_DIALOG(CEventLogDisplay);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CEventLogDisplay::kHelpContext, "View Event Log Information",
    "The events the agent has logged, the newest first. Double-click an event for its help "
    "topic; Print... prints the whole log, Configure... sets where the agent keeps it and how "
    "many events it holds.");

CEventLogDisplay::CEventLogDisplay(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  BindDialogPointer(pEventLogDisplay);
  SetWaitCount(1);
  BuildControls();
  Create(kTemplateId);
}

CEventLogDisplay::~CEventLogDisplay() = default;

void CEventLogDisplay::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  list_ = new QTreeWidget(this);
  list_->setObjectName(ControlName(IDC_EVENT_LOG));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setUniformRowHeights(true);
  list_->setMinimumSize(480, 260);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnDblclkEventLog(); });
  layout->addWidget(list_, 1);
  layout->addLayout(MakeButtonRow({IDCANCEL, IDC_CONFIGURE, IDC_PRINT, ID_HELP}));
  auto* configure = Control<QPushButton>(IDC_CONFIGURE);
  configure->setText(QStringLiteral("&Configure..."));
  configure->setAutoDefault(false);
  connect(configure, &QPushButton::clicked, this, [this] { OnConfigure(); });
  Control<QPushButton>(IDCANCEL)->setDefault(true);
  resize(600, 360);
}

bool CEventLogDisplay::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  list_->clear();
  list_->setColumnCount(3);
  list_->setHeaderLabels({QStringLiteral("#"), QStringLiteral("Time"), QStringLiteral("Event")});
  list_->headerItem()->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
  SetColumnWidths();
  RequestData(6, 1, 0);
  SetPrintFile(QString::fromLatin1(kPrintFile));
  SetHostCaption(QStringLiteral("View Event Log Information"));
  return true;
}

void CEventLogDisplay::SetColumnWidths() {
  const int width = list_->viewport()->width();
  list_->setColumnWidth(0, 40);
  list_->setColumnWidth(1, width * 5 / 12);
  list_->header()->setStretchLastSection(true);
}

void CEventLogDisplay::OnNewData(unsigned /*status*/, unsigned /*block*/, unsigned /*branch*/,
                                 unsigned /*item*/) {
  UpdateEvents();
}

std::vector<CEventLogDisplay::Line> CEventLogDisplay::ReadEventLog() {
  std::vector<Line> lines;
  auto lock = gScp.Lock();
  const auto& records = gScp.eventLog.Records();
  lines.reserve(records.size());
  for (const LogRecord& record : records) {
    Line line;
    EventLogBlock::FormatEvent(record, line.time, line.name);
    line.event = record.data.empty() ? 255 : record.data[0];
    lines.push_back(std::move(line));
  }
  return lines;
}

void CEventLogDisplay::UpdateEvents() {
  if (!WindowExists()) return;
  list_->clear();
  std::vector<Line> lines = ReadEventLog();
  if (lines.size() > static_cast<size_t>(kMaxRows)) lines.resize(kMaxRows);
  int number = 1;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it, ++number) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, QString::number(number));
    item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
    item->setText(1, QString::fromStdString(it->time));
    item->setText(2, QString::fromStdString(it->name));
    item->setData(0, Qt::UserRole, it->event);
  }
  if (lines.empty()) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(1, QStringLiteral("(no events found)"));
    item->setData(0, Qt::UserRole, 0);
  }
  SetColumnWidths();
}

void CEventLogDisplay::OnDblclkEventLog() {
  QTreeWidgetItem* item = list_->currentItem();
  if (item == nullptr) return;
  const unsigned event = item->data(0, Qt::UserRole).toUInt();
  ShowHelpTopic(window(), QString::fromLatin1(kAlarmHelpFile), static_cast<int>(GetAlarmHelpContext(event)));
  item->setSelected(true);
  list_->setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
}

void CEventLogDisplay::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) last_release_ = event->pos();
  KTDialog::mouseReleaseEvent(event);
}

bool CEventLogDisplay::WriteEventLogFile(const QString& path, const std::vector<Line>& lines,
                                         bool newestFirst) {
  QByteArray text = "\t\t\tEvent Log\r\n\r\n";
  auto add = [&text](const Line& line) {
    text += QByteArray::fromStdString(line.time) + '\t' + QByteArray::fromStdString(line.name) + "\r\n";
  };
  if (newestFirst) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) add(*it);
  } else {
    for (const Line& line : lines) add(line);
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(text) == text.size() && file.flush();
}

int CEventLogDisplay::write_text_file() {
  const std::vector<Line> lines = ReadEventLog();
  QFile probe(GetPrintFile());
  if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
    ShowMessageBox(this, QStringLiteral("Unable to open event log print file for writing!"),
                   gcsMessageBoxTitle, MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  probe.close();
  if (!WriteEventLogFile(GetPrintFile(), lines, true)) {
    ShowMessageBox(this, QStringLiteral("Unable to write file."), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  return 1;
}

int CEventLogDisplay::OnPrint() {
  if (write_text_file() != 1) return -1;
  return KTDialog::PrintTextFile();
}

void CEventLogDisplay::OnConfigure() {
  if (DialogIsOpen(pEventLogConfig.get())) {
    pEventLogConfig->raise();
    pEventLogConfig->activateWindow();
    return;
  }
  new CEventLogConfig(this, QString());
}
