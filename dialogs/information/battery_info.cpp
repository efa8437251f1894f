#include "dialogs/information/battery_info.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/information/report_list.h"
#include "dialogs/information/time_text.h"
#include "platform/clock.h"

DialogPointer<CBatteryInfo> pBatteryInfo{DialogSlot::BatteryInfo};

TREM_REGISTER_DIALOG(CBatteryInfo);

static const StringTableRegistrar kStrings{
    {1672, "View Battery Information"},  {3250, "(no resets)"},
    {3251, "Time of last reset:"},       {3252, "Number of outages:"},
    {3253, "Total time on battery:"},    {3254, "Average seconds on battery :"},
    {3255, "(no low battery warnings)"}, {3256, "Time of last low battery warning:"},
    {3257, "(no information found)"},    {3258, "Number of low battery warnings:"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CBatteryInfo::kHelpContext, "View Battery Information",
    "Shows what the agent has counted since the statistics were last reset: power outages, "
    "the total and average time the UPS ran on battery, and the low-battery warnings.\n\n"
    "Date battery replaced is a note of your own: type the date and press OK to store it on "
    "the agent.\n\n"
    "Reset starts the statistics afresh (for instance after the batteries were replaced); it "
    "also clears the replacement date. The change reaches the agent at once.");

CBatteryInfo::CBatteryInfo(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  BindDialogPointer(pBatteryInfo);
  replaced_date_.clear();
  SetWaitCount(1);
  BuildControls();
  Create(kTemplateId);
}

CBatteryInfo::~CBatteryInfo() = default;

void CBatteryInfo::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  list_ = new ReportList(IDC_STATISTICS, this);
  list_->setMinimumSize(440, 170);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(list_, 1);
  auto* dateRow = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("&Date battery replaced:"), this);
  date_edit_ = new QLineEdit(this);
  date_edit_->setObjectName(ControlName(IDC_REPLACED_DATE));
  date_edit_->setMaxLength(255);
  date_edit_->setValidator(new RecordTextValidator(date_edit_));
  label->setBuddy(date_edit_);
  dateRow->addWidget(label);
  dateRow->addWidget(date_edit_, 1);
  layout->addLayout(dateRow);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL}));
  auto* row = static_cast<QHBoxLayout*>(layout->itemAt(layout->count() - 1)->layout());
  QPushButton* reset = MakeButton(IDC_RESET, QStringLiteral("&Reset"));
  connect(reset, &QPushButton::clicked, this, [this] { OnReset(); });
  row->addWidget(reset);
  row->addWidget(MakeButton(ID_HELP, QStringLiteral("Help")));
  resize(500, 300);
}

bool CBatteryInfo::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  list_->MakeNameValueReport();
  UpdateDialog();
  RequestData(BatteryInfoBlock::kBlockId, 1, 0);
  SetHostCaption(1672);
  return true;
}

void CBatteryInfo::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (block == BatteryInfoBlock::kBlockId) UpdateDialog();
}

void CBatteryInfo::UpdateData(bool save) {
  if (save) {
    replaced_date_ = date_edit_->text();
  } else {
    date_edit_->setText(replaced_date_);
  }
}

QString CBatteryInfo::DurationText(uint32_t seconds) {
  if (seconds < 61) return QStringLiteral("%1 seconds").arg(seconds);
  const uint32_t m = seconds / 60;
  const uint32_t s = seconds % 60;
  if (m < 61) return QStringLiteral("%1 minute(s) and %2 seconds").arg(m).arg(s);
  return QStringLiteral("%1 hour(s) and %2 minute(s) and %3 seconds").arg(m / 60).arg(m % 60).arg(s);
}

QString CBatteryInfo::ResetTimeText(int64_t seconds) {
  return LocalTimeText(seconds, "%m/%d/%Y %X");
}

void CBatteryInfo::UpdateDialog() {
  list_->clear();
  auto row = [this](int label, const QString& value) { list_->AddRow({LoadString(label), value}); };
  if (!IsFilled()) {
    // Until the agent's statistics arrive the console's image holds only its own defaults (a
    // reset "now", no outages): the rows stand empty rather than show them as the agent's.
    for (int label : {3251, 3252, 3253, 3254, 3258, 3256}) row(label, QString());
    list_->ApplyWidths();
    return;
  }
  {
    auto lock = gScp.Lock();
    const BatteryInfoBlock& info = gScp.batteryInfo;
    const uint32_t reset = info.GetResetTime();
    if (reset != UINT32_MAX) row(3251, reset == 0 ? LoadString(3250) : ResetTimeText(reset));
    if (info.GetOutageCount() != 0xFFFF) row(3252, QString::number(info.GetOutageCount()));
    if (info.GetOnBatterySeconds() != 0xFFFF) row(3253, DurationText(info.GetOnBatterySeconds()));
    if (info.GetAverageSeconds() != 0xFFFF) row(3254, QString::number(info.GetAverageSeconds()));
    if (info.GetLowBatteryWarnings() != 0xFFFF) row(3258, QString::number(info.GetLowBatteryWarnings()));
    const uint32_t last = info.GetLastLowBatteryWarning();
    if (last != UINT32_MAX) row(3256, last == 0 ? LoadString(3255) : DefaultTimeText(last));
    if (auto date = info.GetReplacedDate()) replaced_date_ = QString::fromStdString(*date);
  }
  if (list_->RowCount() == 0) list_->AddRow({LoadString(3257)});
  list_->ApplyWidths();
  UpdateData(false);
}

void CBatteryInfo::OnOK() {
  UpdateData(true);
  {
    auto lock = gScp.Lock();
    gScp.batteryInfo.SetReplacedDate(replaced_date_.toStdString().c_str());
  }
  SendCommand(BatteryInfoBlock::kBlockId, 1, 0);
  KTDialog::OnOK();
}

void CBatteryInfo::OnReset() {
  // Like OK, Reset waits for the agent's statistics: before they arrive the image holds
  // nothing the agent would accept, and the dialog would show counters it never cleared.
  if (IsBusy() || !WindowExists()) return;
  const int64_t now = platform::Now();
  UpdateData(true);
  {
    auto lock = gScp.Lock();
    BatteryInfoBlock& info = gScp.batteryInfo;
    info.SetResetTime(now);
    info.SetOutageCount(0);
    info.SetOnBatterySeconds(0);
    info.SetAverageSeconds(0);
    info.SetLowBatteryWarnings(0);
    info.SetLastLowBatteryWarning(0);
    replaced_date_.clear();
    info.SetReplacedDate("");
  }
  SendCommand(BatteryInfoBlock::kBlockId, 1, 0);
  UpdateDialog();
}
