#include "dialogs/battery_test/battery_test.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <algorithm>

#include "core/scp/command_block.h"
#include "core/scp/config_block.h"
#include "core/scp/local_calendar.h"
#include "dialogs/eventlog/event_log_config.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/file_dialog.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/battery_test_results.h"
#include "dialogs/information/record_text_validator.h"
#include "platform/clock.h"

DialogPointer<CBatteryTest> pBatteryTest{DialogSlot::BatteryTest};

TREM_REGISTER_DIALOG(CBatteryTest);

static const StringTableRegistrar kStrings{
    {1676, "Configure Scheduled Diagnostic Test"},
    {3268, "Invalid day selected"},
    {3269, "Invalid time selected"},
    {3270, "AM or PM must be selected"},
    {3271, "Max Entries must be between 10 and 100"},
    {3272, "Invalid filename specified"},
    {3273, "A filename cannot have any of the following characters:\n \\ / : * ? \" < > |"},
    {3274, "Invalid repeat interval selected, must be greater than 14"},
    {3275, "Invalid repeat interval selected, must be greater than 35"},
    {3265, "Invalid repeat interval selected, must be between 1 and 255"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CBatteryTest::kHelpContext, "Configure Scheduled Diagnostic Test",
    "Schedules the UPS's weekly battery (diagnostic) test.\n\n"
    "Perform Test / Time: the weekday and the time of the test.\n"
    "Repeat Every ... Days: how often the test repeats; some UPS models need at least 14 or 35 "
    "days between tests.\n"
    "Results File: where the agent keeps the test results and how many it keeps (10 to 100).\n\n"
    "Schedule shows the next test; Unschedule turns the schedule off. Nothing reaches the agent "
    "until you press OK. Test Now starts a test at once; Results... shows the past results.");

namespace {

constexpr int kQuarterHours = 48;
constexpr int kMinEntries = 10;
constexpr int kMaxEntries = 100;
// What the battery-test block stores as an interval; it keeps its old value for anything else.
constexpr int kMinIntervalDays = 1;
constexpr int kMaxIntervalDays = 255;

std::tm LocalTime(int64_t t) {
  std::tm tm{};
  const time_t tt = static_cast<time_t>(t);
  localtime_r(&tt, &tm);
  return tm;
}

// Monday = 1 .. Sunday = 7.
int IsoWeekday(const std::tm& tm) {
  return tm.tm_wday == 0 ? 7 : tm.tm_wday;
}

const char* DaySuffix(int day) {
  switch (day) {
    case 1:
    case 21:
    case 31:
      return "st";
    case 2:
    case 22:
      return "nd";
    case 3:
    case 23:
      return "rd";
    default:
      return "th";
  }
}

}  // namespace

CBatteryTest::CBatteryTest(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_BATTERY_TEST, parent, hostName) {
  BindDialogPointer(pBatteryTest);
  SetWaitCount(2);
  BuildControls();
  Create(IDD_BATTERY_TEST);
}

CBatteryTest::CBatteryTest(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                           const QStringList& hostNames)
    : KTDialog(IDD_BATTERY_TEST, parent, selectionLabel, hostName, hostNames) {
  BindDialogPointer(pBatteryTest);
  SetWaitCount(2);
  BuildControls();
  Create(IDD_BATTERY_TEST);
}

CBatteryTest::~CBatteryTest() = default;

void CBatteryTest::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Scheduled Diagnostic Test"));
  auto* layout = new QVBoxLayout(this);

  auto* scheduleBox = new QGroupBox(QStringLiteral("Schedule"), this);
  auto* grid = new QGridLayout(scheduleBox);
  day_ = new QComboBox(this);
  day_->setObjectName(ControlName(IDC_TEST_DAY));
  time_ = new QComboBox(this);
  time_->setObjectName(ControlName(IDC_TEST_TIME));
  ampm_ = new QComboBox(this);
  ampm_->setObjectName(ControlName(IDC_TEST_AMPM));
  interval_edit_ = new QLineEdit(this);
  interval_edit_->setObjectName(ControlName(IDC_TEST_INTERVAL));
  interval_edit_->setMaxLength(6);
  interval_edit_->setMaximumWidth(interval_edit_->fontMetrics().averageCharWidth() * 8);
  auto* dayLabel = new QLabel(QStringLiteral("Perform &Test:"), this);
  dayLabel->setBuddy(day_);
  auto* timeLabel = new QLabel(QStringLiteral("T&ime:"), this);
  timeLabel->setBuddy(time_);
  auto* repeatLabel = new QLabel(QStringLiteral("&Repeat Every:"), this);
  repeatLabel->setBuddy(interval_edit_);
  grid->addWidget(dayLabel, 0, 0, Qt::AlignRight);
  grid->addWidget(day_, 0, 1, 1, 2);
  grid->addWidget(timeLabel, 1, 0, Qt::AlignRight);
  grid->addWidget(time_, 1, 1);
  grid->addWidget(ampm_, 1, 2);
  grid->addWidget(repeatLabel, 2, 0, Qt::AlignRight);
  auto* repeatRow = new QHBoxLayout;
  repeatRow->addWidget(interval_edit_);
  repeatRow->addWidget(new QLabel(QStringLiteral("Days"), this));
  repeatRow->addStretch(1);
  grid->addLayout(repeatRow, 2, 1, 1, 2);
  auto* nextLabel = new QLabel(QStringLiteral("Next Scheduled Test:"), this);
  schedule_label_ = new QLabel(QStringLiteral("Date, Time"), this);
  schedule_label_->setObjectName(ControlName(IDC_TEST_SCHEDULE_TEXT));
  schedule_label_->setFrameShape(QFrame::StyledPanel);
  schedule_label_->setFrameShadow(QFrame::Sunken);
  schedule_label_->setMinimumWidth(schedule_label_->fontMetrics().averageCharWidth() * 44);
  grid->addWidget(nextLabel, 3, 0, Qt::AlignRight);
  grid->addWidget(schedule_label_, 3, 1, 1, 2);
  auto* scheduleButtons = new QHBoxLayout;
  scheduleButtons->addStretch(1);
  scheduleButtons->addWidget(MakeButton(IDC_TEST_SCHEDULE, QStringLiteral("&Schedule")));
  scheduleButtons->addWidget(MakeButton(IDC_TEST_UNSCHEDULE, QStringLiteral("&Unschedule")));
  grid->addLayout(scheduleButtons, 4, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  layout->addWidget(scheduleBox);

  auto* fileBox = new QGroupBox(QStringLiteral("Results File"), this);
  auto* fileGrid = new QGridLayout(fileBox);
  file_edit_ = new QLineEdit(this);
  file_edit_->setObjectName(ControlName(IDC_TEST_FILE_NAME));
  file_edit_->setMaxLength(kFileNameLimit);
  file_edit_->setValidator(new RecordTextValidator(file_edit_));
  max_edit_ = new QLineEdit(this);
  max_edit_->setObjectName(ControlName(IDC_TEST_MAX_ENTRIES));
  max_edit_->setMaxLength(6);
  max_edit_->setMaximumWidth(max_edit_->fontMetrics().averageCharWidth() * 8);
  auto* fileLabel = new QLabel(QStringLiteral("&File Name:"), this);
  fileLabel->setBuddy(file_edit_);
  auto* maxLabel = new QLabel(QStringLiteral("&Maximum entries in results file:"), this);
  maxLabel->setBuddy(max_edit_);
  fileGrid->addWidget(fileLabel, 0, 0, Qt::AlignRight);
  fileGrid->addWidget(file_edit_, 0, 1);
  fileGrid->addWidget(MakeButton(IDC_TEST_BROWSE, QStringLiteral("&Browse...")), 0, 2);
  fileGrid->addWidget(maxLabel, 1, 0, 1, 2, Qt::AlignRight);
  fileGrid->addWidget(max_edit_, 1, 2);
  fileGrid->setColumnStretch(1, 1);
  layout->addWidget(fileBox);

  layout->addSpacing(6);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(MakeButton(IDC_TEST_NOW, QStringLiteral("Test &Now")));
  buttons->addWidget(MakeButton(IDC_TEST_RESULTS, QStringLiteral("Res&ults...")));
  buttons->addStretch(1);
  buttons->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(Control<QPushButton>(IDC_TEST_SCHEDULE), &QPushButton::clicked, this, [this] { OnApply(); });
  connect(Control<QPushButton>(IDC_TEST_UNSCHEDULE), &QPushButton::clicked, this, [this] { OnClear(); });
  connect(Control<QPushButton>(IDC_TEST_BROWSE), &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(Control<QPushButton>(IDC_TEST_RESULTS), &QPushButton::clicked, this, [this] { OnResults(); });
  connect(Control<QPushButton>(IDC_TEST_NOW), &QPushButton::clicked, this, [this] { OnTestnow(); });
  setTabOrder(day_, time_);
  setTabOrder(time_, ampm_);
  setTabOrder(ampm_, interval_edit_);
  setTabOrder(interval_edit_, Control<QPushButton>(IDC_TEST_SCHEDULE));
  setTabOrder(Control<QPushButton>(IDC_TEST_SCHEDULE), Control<QPushButton>(IDC_TEST_UNSCHEDULE));
  setTabOrder(Control<QPushButton>(IDC_TEST_UNSCHEDULE), file_edit_);
  setTabOrder(file_edit_, Control<QPushButton>(IDC_TEST_BROWSE));
  setTabOrder(Control<QPushButton>(IDC_TEST_BROWSE), max_edit_);
}

int CBatteryTest::MinimumInterval(int modelCode) {
  switch (modelCode) {
    case 1:
    case 6:
    case 17:
    case 18:
    case 21:
      return 14;
    case 3:
    case 10:
      return 35;
    default:
      return 0;
  }
}

QString CBatteryTest::FormatScheduleString(const std::tm& local) {
  const QLocale locale;
  const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  return QString::asprintf("%s, %s %d%s, %d at %d:%02d %s",
                           locale.dayName(local.tm_wday == 0 ? 7 : local.tm_wday).toUtf8().constData(),
                           locale.monthName(local.tm_mon + 1).toUtf8().constData(), local.tm_mday,
                           DaySuffix(local.tm_mday), local.tm_year + 1900, hour12, local.tm_min,
                           local.tm_hour < 12 ? "AM" : "PM");
}

int64_t CBatteryTest::NextOccurrence(int64_t now, int dayIndex, int hour, int minute) {
  // Calendar dates rather than seconds, so that a daylight-saving change keeps the wall-clock time.
  LocalDate day;
  int nowHour = 0;
  int nowMinute = 0;
  if (!LocalDateOf(now, day, nowHour, nowMinute)) return -1;
  day = AddDays(day, (dayIndex + 1 - WeekdayOf(day) + 7) % 7);
  const int64_t t = LocalMoment(day, hour, minute);
  if (t > now) return t;
  return LocalMoment(AddDays(day, 7), hour, minute);
}

bool CBatteryTest::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  {
    auto lock = gScp.Lock();
    model_code_ = gScp.upsInfo.GetModelIndex();
  }
  ResetDialog();
  ClearSchedule();
  OnBatteryTestBlock();
  OnConfigBlock();
  RequestData(BLOCK_BATTERY_TEST, 1, 0);
  RequestData(BLOCK_CONFIG, 6, 0);
  SetHostCaption(1676);
  return true;
}

void CBatteryTest::OnNewData(unsigned, unsigned block, unsigned, unsigned) {
  if (block == BLOCK_CONFIG)
    OnConfigBlock();
  else if (block == BLOCK_BATTERY_TEST)
    OnBatteryTestBlock();
}

void CBatteryTest::ResetDialog() {
  const QLocale locale;
  day_->clear();
  for (int d = 1; d <= 7; ++d) day_->addItem(locale.dayName(d));
  time_->clear();
  for (int i = 0; i < kQuarterHours; ++i) {
    const int hour = i / 4;
    time_->addItem(QString::asprintf("%02d:%02d", hour == 0 ? 12 : hour, (i % 4) * 15));
  }
  ampm_->clear();
  ampm_->addItems({QStringLiteral("AM"), QStringLiteral("PM")});
  day_index_ = time_index_ = ampm_index_ = 0;
  interval_ = MinimumInterval(model_code_);
  max_entries_ = 0;
  file_name_ = QStringLiteral("battlog.dat");
  schedule_text_.clear();
  UpdateData(false);
}

void CBatteryTest::ClearSchedule() {
  day_index_ = time_index_ = ampm_index_ = 0;
  interval_ = MinimumInterval(model_code_);
  schedule_text_ = LoadString(3267);
  UpdateData(false);
}

bool CBatteryTest::UpdateData(bool fromControls) {
  if (!fromControls) {
    schedule_shown_ = IsAnswered(BLOCK_BATTERY_TEST, 1, 0);
    log_shown_ = IsAnswered(BLOCK_CONFIG, 6, 0);
    day_->setCurrentIndex(schedule_shown_ ? day_index_ : -1);
    time_->setCurrentIndex(schedule_shown_ ? time_index_ : -1);
    ampm_->setCurrentIndex(schedule_shown_ ? ampm_index_ : -1);
    interval_edit_->setText(schedule_shown_ ? QString::number(interval_) : QString());
    schedule_label_->setText(schedule_shown_ ? schedule_text_ : QString());
    max_edit_->setText(log_shown_ ? QString::number(max_entries_) : QString());
    file_edit_->setText(log_shown_ ? file_name_ : QString());
    return true;
  }
  bool ok = false;
  int interval = interval_;
  if (schedule_shown_) {
    interval = interval_edit_->text().trimmed().toInt(&ok);
    if (!ok) {
      TremMessageBox(this, QStringLiteral("Please enter an integer."), MB_OK | MB_ICONEXCLAMATION);
      interval_edit_->setFocus();
      return false;
    }
  }
  unsigned maxEntries = max_entries_;
  if (log_shown_) {
    maxEntries = max_edit_->text().trimmed().toUInt(&ok);
    if (!ok) {
      TremMessageBox(this, QStringLiteral("Please enter a positive integer."), MB_OK | MB_ICONEXCLAMATION);
      max_edit_->setFocus();
      return false;
    }
  }
  if (schedule_shown_) {
    day_index_ = day_->currentIndex();
    time_index_ = time_->currentIndex();
    ampm_index_ = ampm_->currentIndex();
    interval_ = interval;
  }
  if (log_shown_) {
    max_entries_ = maxEntries;
    file_name_ = file_edit_->text();
  }
  return true;
}

void CBatteryTest::ChosenTime(int& hour, int& minute) const {
  const int j = time_index_ + (ampm_index_ == 1 ? kQuarterHours : 0);
  hour = j / 4;
  minute = (j % 4) * 15;
}

void CBatteryTest::UpdateSchedule() {
  if (day_index_ < 0 || day_index_ >= 7 || time_index_ < 0 || time_index_ >= kQuarterHours) return;
  if (interval_ < MinimumInterval(model_code_)) return;
  if (max_entries_ < static_cast<unsigned>(kMinEntries) || max_entries_ > static_cast<unsigned>(kMaxEntries))
    return;
  if (file_name_.isEmpty()) return;
  int hour, minute;
  ChosenTime(hour, minute);
  const int64_t next = NextOccurrence(platform::Now(), day_index_, hour, minute);
  schedule_text_ = FormatScheduleString(LocalTime(next));
  UpdateData(false);
}

void CBatteryTest::OnBatteryTestBlock() {
  if (!UpdateData(true)) return;
  uint8_t mode;
  uint32_t testTime;
  uint8_t interval;
  {
    auto lock = gScp.Lock();
    mode = gScp.batteryTest.GetMode();
    testTime = gScp.batteryTest.GetNextTestTime();
    interval = gScp.batteryTest.GetIntervalDays();
  }
  enabled_ = (mode != 0 && mode != 255) ? 1 : 0;
  if (enabled_) {
    if (testTime != BatteryTestBlock::kNoTime) {
      const std::tm tm = LocalTime(testTime);
      const int h = tm.tm_hour;
      const int index = tm.tm_min / 15 + 4 * h - (h >= 12 ? kQuarterHours : 0);
      if (index >= 0 && index < kQuarterHours) {
        time_index_ = index;
        ampm_index_ = h >= 12 ? 1 : 0;
      }
      day_index_ = IsoWeekday(tm) - 1;
    }
    if (interval != 255) interval_ = interval;
    UpdateSchedule();
  } else {
    ClearSchedule();
  }
  UpdateData(false);
}

void CBatteryTest::OnConfigBlock() {
  if (!UpdateData(true)) return;
  {
    auto lock = gScp.Lock();
    const uint8_t size = gScp.config.GetBatteryLogSize();
    if (size != 255) max_entries_ = std::clamp<unsigned>(size, kMinEntries, kMaxEntries);
    if (auto name = gScp.config.GetBatteryLogFileName()) file_name_ = QString::fromStdString(*name);
  }
  UpdateData(false);
}

int CBatteryTest::VerifyData() {
  int failure = 0;
  const int minimum = MinimumInterval(model_code_);
  if (day_index_ < 0 || day_index_ > 6)
    failure = 3268;
  else if (time_index_ < 0 || time_index_ > kQuarterHours - 1)
    failure = 3269;
  else if (ampm_index_ < 0 || ampm_index_ > 1)
    failure = 3270;
  else if (max_entries_ < static_cast<unsigned>(kMinEntries) ||
           max_entries_ > static_cast<unsigned>(kMaxEntries))
    failure = 3271;
  else if (file_name_.isEmpty())
    failure = 3272;
  else if (file_name_.contains(QRegularExpression(QStringLiteral("[*?<>|\"]"))))
    failure = 3273;
  // The agent keeps the log only under a plain name in its folder, else silently its default.
  else if (!IsAllowedLogFileName(file_name_.toStdString()))
    failure = -1;
  else if (interval_ < minimum)
    failure = minimum >= 35 ? 3275 : 3274;
  // The block would refuse it and keep the old interval while OK closed as if it was stored.
  else if (interval_ < kMinIntervalDays || interval_ > kMaxIntervalDays)
    failure = 3265;
  if (failure == 0) return 1;
  ShowMessageBox(this, failure < 0 ? CEventLogConfig::PlainNameMessage() : LoadString(failure),
                 gcsMessageBoxTitle, MB_OK | MB_ICONSTOP);
  return 0;
}

void CBatteryTest::SendData() {
  int hour, minute;
  ChosenTime(hour, minute);
  const int64_t next = NextOccurrence(platform::Now(), day_index_, hour, minute);
  const QByteArray name = file_name_.toUtf8();
  {
    auto lock = gScp.Lock();
    gScp.batteryTest.SetMode(enabled_);
    gScp.batteryTest.SetNextTestTime(next);
    gScp.batteryTest.SetIntervalDays(interval_);
    gScp.config.SetBatteryLogSize(static_cast<uint8_t>(std::min<unsigned>(max_entries_, 255)));
    gScp.config.SetBatteryLogFileName(name.constData());
    gScp.config.Branches().Touch(6);
    gScp.batteryTest.Branches().Touch(0);
    gScp.batteryTest.Branches().Touch(1);
  }
  SendCommand(BLOCK_BATTERY_TEST, 1, 0);
  SendCommand(BLOCK_CONFIG, 6, 0);
}

void CBatteryTest::OnApply() {
  if (!UpdateData(true) || !VerifyData()) return;
  enabled_ = 1;
  UpdateSchedule();
}

void CBatteryTest::OnClear() {
  enabled_ = 0;
  ClearSchedule();
}

void CBatteryTest::OnBrowse() {
  QString chosen;
  if (GetFileDialogLayer().GetSaveFileName(this, QStringLiteral("Save As"), QStringLiteral("*.*"),
                                           QStringLiteral("All Files (*)"), chosen)) {
    // A path the field (and the record) cannot hold whole would be cut short silently.
    if (!RecordTextValidator::Fits(chosen)) {
      ShowMessageBox(this, LoadString(3272), gcsMessageBoxTitle, MB_OK | MB_ICONSTOP);
      return;
    }
    if (!UpdateData(true)) return;
    file_name_ = chosen;
    UpdateData(false);
  }
}

void CBatteryTest::OnResults() {
  if (DialogIsOpen(pBatteryTestResults)) {
    pBatteryTestResults->raise();
    pBatteryTestResults->activateWindow();
    return;
  }
  if (!SelectionLabel().isEmpty() || !HostList().isEmpty())
    new CBatteryTestResults(parentWidget(), SelectionLabel(), HostName(), HostList());
  else
    new CBatteryTestResults(parentWidget(), HostName());
}

void CBatteryTest::OnTestnow() {
  if (TremMessageBox(this, LoadString(3266), MB_OKCANCEL | MB_ICONQUESTION) == IDCANCEL) return;
  {
    auto lock = gScp.Lock();
    gScp.commandBlock.Branches().Touch(COMMAND_BATTERY_TEST);
  }
  SendCommand(BLOCK_COMMAND, COMMAND_BATTERY_TEST, 0);
}

void CBatteryTest::OnOK() {
  if (!UpdateData(true) || !VerifyData()) return;
  SendData();
  KTDialog::OnOK();
}
