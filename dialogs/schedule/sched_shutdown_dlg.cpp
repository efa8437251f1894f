#include "dialogs/schedule/sched_shutdown_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/scp/local_calendar.h"
#include "core/scp/scp_base.h"
#include "dialogs/discovery/network_configuration.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/schedule/delay_shutdown_dlg.h"
#include "dialogs/schedule/enter_password_dlg.h"
#include "platform/clock.h"

DialogPointer<CSchedShutdownDlg> pSchedShutdownDlg{DialogSlot::SchedShutdownDlg};

TREM_REGISTER_DIALOG(CSchedShutdownDlg);

static const StringTableRegistrar kStrings{{1421, "Configure Scheduled Shutdown"}};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CSchedShutdownDlg::kHelpContext, "Configure Scheduled Shutdown",
    "Plans shutdowns and restarts of the agent's computer.\n\n"
    "Shutdown: how often the shutdown repeats. Starting: the first shutdown. Restart: when the "
    "computer comes back. With a UPS that switches load segments you can turn off one segment "
    "(or all) and leave the operating system running.\n\n"
    "Add lists the entry; Delete removes the selected ones; Delay Shutdown... postpones the "
    "selected entry. OK asks for the agent's password and sends the list to the agent.");

using namespace sched_entries;

namespace {

constexpr int kMonthly = SCHED_MONTHLY;
constexpr int kWeekly = SCHED_WEEKLY;
constexpr int kEveryN = SCHED_EVERY_N;
constexpr int kDaily = SCHED_DAILY;
constexpr int kSameDay = 0;
constexpr int kNextDay = 1;
constexpr int kAfter = 2;
constexpr int kOnDate = 3;
constexpr int kWhichMonth = 0;
constexpr int kWhichDay = 1;
constexpr int kWhichYear = 2;

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kWeekdays[] = {"Mondays", "Tuesdays",  "Wednesdays", "Thursdays",
                                 "Fridays", "Saturdays", "Sundays"};

QStringList TimeTexts() {
  QStringList out;
  for (int i = 0; i < kTimeSteps; ++i) {
    const int hour = i / 4;
    out << QStringLiteral("%1:%2").arg(hour == 0 ? 12 : hour).arg((i % 4) * 15, 2, 10, QLatin1Char('0'));
  }
  return out;
}

QStringList Numbers(int from, int to) {
  QStringList out;
  for (int i = from; i <= to; ++i) out << QString::number(i);
  return out;
}

QStringList Ordinals() {
  QStringList out;
  for (int i = 1; i <= 31; ++i) out << Ordinal(i);
  return out;
}

void Retain(QWidget* w) {
  QSizePolicy p = w->sizePolicy();
  p.setRetainSizeWhenHidden(true);
  w->setSizePolicy(p);
}

bool Breakdown(int64_t t, LocalDate& date, int& hour, int& minute) {
  return t > 0 && LocalDateOf(t, date, hour, minute);
}

}  // namespace

CSchedShutdownDlg::CSchedShutdownDlg(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_SCHED_SHUTDOWN, parent, hostName) {
  Construct();
}

CSchedShutdownDlg::CSchedShutdownDlg(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                                     const QStringList& hostNames)
    : KTDialog(IDD_SCHED_SHUTDOWN, parent, selectionLabel, hostName, hostNames) {
  Construct();
}

CSchedShutdownDlg::~CSchedShutdownDlg() = default;

void CSchedShutdownDlg::Construct() {
  BindDialogPointer(pSchedShutdownDlg);
  now_ = platform::Now();
  LocalDate today;
  int hour = 0;
  int minute = 0;
  int64_t start = 0;
  if (LocalDateOf(now_, today, hour, minute)) {
    reference_year_ = today.year;
    // The next quarter hour (a time on a quarter hour stays), as the time lists step.
    start = LocalMoment(today, hour, minute);
    if (start > 0) start += static_cast<int64_t>((15 - minute % 15) % 15) * 60;
  }
  start_.fill(start);
  restart_same_ = restart_next_ = restart_on_ = start;
  {
    auto lock = gScp.Lock();
    load_.loadControl = gScp.upsInfo.IsFunctionSupported(3, 7) == 1;
    load_.segmentCount = gScp.receptacles.GetCount();
    load_.modelIndex = gScp.upsInfo.GetModelIndex();
  }
  // One reply for each request of the opening: the table, the password and the receptacles.
  SetWaitCount(load_.loadControl ? 3 : 2);
  BuildControls();
  ConnectControls();
  Create(IDD_SCHED_SHUTDOWN);
}

void CSchedShutdownDlg::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Scheduled Shutdown"));
  auto combo = [this](int id, const QStringList& items, bool editable = false) {
    auto* c = new QComboBox(this);
    c->setObjectName(ControlName(id));
    c->setEditable(editable);
    c->addItems(items);
    if (editable) {
      c->setInsertPolicy(QComboBox::NoInsert);
      c->lineEdit()->setMaxLength(5);
      c->setMaxVisibleItems(12);
      c->setMinimumContentsLength(5);
    }
    return c;
  };
  auto label = [this](int id, const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, this);
    if (id != 0) l->setObjectName(ControlName(id));
    l->setBuddy(buddy);
    return l;
  };
  auto radio = [this](int id, const QString& text) {
    auto* r = new QRadioButton(text, this);
    r->setObjectName(ControlName(id));
    return r;
  };
  auto edit = [this](int id, int chars) {
    auto* e = new QLineEdit(this);
    e->setObjectName(ControlName(id));
    e->setMaxLength(chars);
    e->setFixedWidth(e->fontMetrics().averageCharWidth() * (chars + 3));
    return e;
  };
  const QStringList ampm{QStringLiteral("AM"), QStringLiteral("PM")};
  QStringList months;
  for (const char* m : kMonths) months << QString::fromLatin1(m);
  QStringList weekdays;
  for (const char* w : kWeekdays) weekdays << QString::fromLatin1(w);

  // Shutdown: the frequency.
  auto* freqBox = new QGroupBox(QStringLiteral("Shutdown"), this);
  freqBox->setObjectName(ControlName(IDC_SCHED_FREQ_GROUP));
  auto* freqGrid = new QGridLayout(freqBox);
  freq_radio_[SCHED_ONCE] = radio(IDC_SCHED_ONCE, QStringLiteral("&Once"));
  freq_radio_[kDaily] = radio(IDC_SCHED_DAY, QStringLiteral("Every &Day"));
  freq_radio_[kWeekly] = radio(IDC_SCHED_WEEK, QStringLiteral("Every &Week"));
  freq_radio_[kMonthly] = radio(IDC_SCHED_MONTH, QStringLiteral("Every &Month"));
  freq_radio_[kEveryN] = radio(IDC_SCHED_DAYS, QStringLiteral("E&very"));
  skip_weekends_ = new QCheckBox(QStringLiteral("&Skip Weekends"), this);
  skip_weekends_->setObjectName(ControlName(IDC_SCHED_SKIP_WEEKENDS));
  weekday_ = combo(IDC_SCHED_WEEKDAY, weekdays);
  weekday_text_ = label(IDC_SCHED_WEEKDAY_TEXT, QStringLiteral("o&n"), weekday_);
  freq_date_ = combo(IDC_SCHED_FREQ_DATE, Ordinals());
  freq_date_text_ = label(IDC_SCHED_FREQ_DATE_TEXT, QStringLiteral("on &the"), freq_date_);
  n_days_ = edit(IDC_SCHED_N_DAYS, 5);
  auto* daysText = label(0, QStringLiteral("Da&ys"), n_days_);
  for (QWidget* w :
       std::initializer_list<QWidget*>{skip_weekends_, weekday_, weekday_text_, freq_date_, freq_date_text_})
    Retain(w);
  freqGrid->addWidget(freq_radio_[SCHED_ONCE], 0, 0);
  freqGrid->addWidget(freq_radio_[kDaily], 1, 0);
  freqGrid->addWidget(skip_weekends_, 1, 1, 1, 2);
  freqGrid->addWidget(freq_radio_[kWeekly], 2, 0);
  freqGrid->addWidget(weekday_text_, 2, 1, Qt::AlignRight);
  freqGrid->addWidget(weekday_, 2, 2);
  freqGrid->addWidget(freq_radio_[kMonthly], 3, 0);
  freqGrid->addWidget(freq_date_text_, 3, 1, Qt::AlignRight);
  freqGrid->addWidget(freq_date_, 3, 2);
  freqGrid->addWidget(freq_radio_[kEveryN], 4, 0);
  auto* nRow = new QHBoxLayout;
  nRow->addWidget(n_days_);
  nRow->addWidget(daysText);
  nRow->addStretch(1);
  freqGrid->addLayout(nRow, 4, 1, 1, 2);
  freqGrid->setColumnStretch(3, 1);

  // Starting: the first shutdown.
  auto* startBox = new QGroupBox(QStringLiteral("St&arting"), this);
  startBox->setObjectName(ControlName(IDC_SCHED_START_GROUP));
  auto* startGrid = new QGridLayout(startBox);
  start_month_ = combo(IDC_SCHED_START_MONTH, months);
  start_date_ = combo(IDC_SCHED_START_DATE, Ordinals());
  start_year_ = combo(IDC_SCHED_START_YEAR, {});
  start_time_ = combo(IDC_SCHED_START_TIME, TimeTexts(), true);
  start_ampm_ = combo(IDC_SCHED_START_AMPM, ampm);
  startGrid->addWidget(start_month_, 0, 0);
  startGrid->addWidget(start_date_, 0, 1);
  startGrid->addWidget(start_year_, 0, 2);
  startGrid->addWidget(label(0, QStringLiteral("at"), start_time_), 1, 0, Qt::AlignRight);
  startGrid->addWidget(start_time_, 1, 1);
  startGrid->addWidget(start_ampm_, 1, 2);
  startGrid->setRowStretch(2, 1);

  // Segment groups: which load segment goes off, and whether the system shuts down.
  load_group_ = new QGroupBox(QStringLiteral("Segment groups"), this);
  load_group_->setObjectName(ControlName(IDC_SCHED_LOAD_GROUP));
  auto* loadLayout = new QHBoxLayout(load_group_);
  segment_list_ = combo(IDC_SCHED_LOAD, {});
  segment_list_->setMinimumContentsLength(4);
  load_text_ = label(IDC_SCHED_LOAD_TEXT, QStringLiteral("Se&lect segment to shutdown"), segment_list_);
  loadLayout->addWidget(load_text_);
  loadLayout->addWidget(segment_list_);
  loadLayout->addStretch(1);
  shutdown_os_ = new QCheckBox(QStringLiteral("Sh&utdown Operating System"), this);
  shutdown_os_->setObjectName(ControlName(IDC_SCHED_SHUTDOWN_OS));

  // Restart.
  auto* restartBox = new QGroupBox(QStringLiteral("Restart"), this);
  restartBox->setObjectName(ControlName(IDC_SCHED_RESTART_GROUP));
  auto* rGrid = new QGridLayout(restartBox);
  restart_radio_[kSameDay] = radio(IDC_SCHED_SAME_DAY, QStringLiteral("Sa&me Day"));
  restart_radio_[kNextDay] = radio(IDC_SCHED_NEXT_DAY, QStringLiteral("Ne&xt Day"));
  restart_radio_[kAfter] = radio(IDC_SCHED_AFTER, QStringLiteral("A&fter"));
  restart_radio_[kOnDate] = radio(IDC_SCHED_ON, QStringLiteral("&On"));
  same_time_ = combo(IDC_SCHED_SAME_TIME, TimeTexts(), true);
  same_ampm_ = combo(IDC_SCHED_SAME_AMPM, ampm);
  same_at_ = label(IDC_SCHED_SAME_AT, QStringLiteral("a&t"), same_time_);
  next_time_ = combo(IDC_SCHED_NEXT_TIME, TimeTexts(), true);
  next_ampm_ = combo(IDC_SCHED_NEXT_AMPM, ampm);
  next_at_ = label(IDC_SCHED_NEXT_AT, QStringLiteral("a&t"), next_time_);
  rGrid->addWidget(restart_radio_[kSameDay], 0, 0);
  rGrid->addWidget(same_at_, 0, 1, Qt::AlignRight);
  rGrid->addWidget(same_time_, 0, 2);
  rGrid->addWidget(same_ampm_, 0, 3);
  rGrid->addWidget(restart_radio_[kNextDay], 1, 0);
  rGrid->addWidget(next_at_, 1, 1, Qt::AlignRight);
  rGrid->addWidget(next_time_, 1, 2);
  rGrid->addWidget(next_ampm_, 1, 3);

  // After: days, hours and minutes; on UPS model 15 for one segment hours, minutes and seconds
  // from lists instead, in the same place.
  auto* afterStack = new QStackedWidget(this);
  afterStack->setObjectName(QStringLiteral("afterStack"));
  auto* afterPage = new QWidget(afterStack);
  auto* afterRow = new QHBoxLayout(afterPage);
  afterRow->setContentsMargins(0, 0, 0, 0);
  const int afterIds[3] = {IDC_SCHED_AFTER_DAYS, IDC_SCHED_AFTER_HOURS, IDC_SCHED_AFTER_MINUTES};
  const int afterTextIds[3] = {IDC_SCHED_AFTER_DAYS_TEXT, IDC_SCHED_AFTER_HOURS_TEXT,
                               IDC_SCHED_AFTER_MINUTES_TEXT};
  const QString afterTexts[3] = {QStringLiteral("&Days"), QStringLiteral("&Hrs."), QStringLiteral("&Mins.")};
  for (int i = 0; i < 3; ++i) {
    after_edit_[i] = edit(afterIds[i], i == 0 ? 5 : 4);
    after_edit_[i]->setParent(afterPage);
    after_text_[i] = label(afterTextIds[i], afterTexts[i], after_edit_[i]);
    after_text_[i]->setParent(afterPage);
    afterRow->addWidget(after_edit_[i]);
    afterRow->addWidget(after_text_[i]);
  }
  afterRow->addStretch(1);
  auto* hmsPage = new QWidget(afterStack);
  auto* hmsRow = new QHBoxLayout(hmsPage);
  hmsRow->setContentsMargins(0, 0, 0, 0);
  const int hmsIds[3] = {IDC_SCHED_HMS_HOURS, IDC_SCHED_HMS_MINUTES, IDC_SCHED_HMS_SECONDS};
  const int hmsTextIds[3] = {IDC_SCHED_HMS_HOURS_TEXT, IDC_SCHED_HMS_MINUTES_TEXT,
                             IDC_SCHED_HMS_SECONDS_TEXT};
  const QString hmsTexts[3] = {QStringLiteral("&Hrs."), QStringLiteral("&Mins."), QStringLiteral("&Sec.")};
  for (int i = 0; i < 3; ++i) {
    hms_[i] = combo(hmsIds[i], Numbers(0, i == 0 ? 9 : 60));
    hms_[i]->setParent(hmsPage);
    hms_text_[i] = label(hmsTextIds[i], hmsTexts[i], hms_[i]);
    hms_text_[i]->setParent(hmsPage);
    hmsRow->addWidget(hms_text_[i]);
    hmsRow->addWidget(hms_[i]);
  }
  hmsRow->addStretch(1);
  afterStack->addWidget(afterPage);
  afterStack->addWidget(hmsPage);
  rGrid->addWidget(restart_radio_[kAfter], 2, 0);
  rGrid->addWidget(afterStack, 2, 1, 1, 4);

  on_month_ = combo(IDC_SCHED_ON_MONTH, months);
  on_date_ = combo(IDC_SCHED_ON_DATE, Ordinals());
  on_year_ = combo(IDC_SCHED_ON_YEAR, {});
  on_time_ = combo(IDC_SCHED_ON_TIME, TimeTexts(), true);
  on_ampm_ = combo(IDC_SCHED_ON_AMPM, ampm);
  on_at_ = label(IDC_SCHED_ON_AT, QStringLiteral("&at"), on_time_);
  auto* onDate = new QHBoxLayout;
  onDate->addWidget(on_month_);
  onDate->addWidget(on_date_);
  onDate->addWidget(on_year_);
  onDate->addStretch(1);
  rGrid->addWidget(restart_radio_[kOnDate], 3, 0);
  rGrid->addLayout(onDate, 3, 1, 1, 4);
  rGrid->addWidget(on_at_, 4, 1, Qt::AlignRight);
  rGrid->addWidget(on_time_, 4, 2);
  rGrid->addWidget(on_ampm_, 4, 3);
  rGrid->setColumnStretch(4, 1);
  for (QWidget* w :
       std::initializer_list<QWidget*>{same_at_, same_time_, same_ampm_, next_at_, next_time_, next_ampm_,
                                       on_month_, on_date_, on_year_, on_at_, on_time_, on_ampm_})
    Retain(w);
  for (QRadioButton* r : restart_radio_) Retain(r);

  // The list of entries and its buttons.
  list_ = new QListWidget(this);
  list_->setObjectName(ControlName(IDC_SCHED_LIST));
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setMinimumHeight(list_->fontMetrics().height() * 7);
  list_->setMinimumWidth(list_->fontMetrics().averageCharWidth() * 70);
  auto* listButtons = new QVBoxLayout;
  listButtons->addWidget(MakeButton(IDC_SCHED_ADD, QStringLiteral("&Add")));
  listButtons->addWidget(MakeButton(IDC_SCHED_DELETE, QStringLiteral("&Delete")));
  QPushButton* delay = MakeButton(IDC_SCHED_DELAY, QStringLiteral("Dela&y Shutdown..."));
  Retain(delay);
  delay->hide();
  listButtons->addWidget(delay);
  listButtons->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(freqBox);
  left->addWidget(startBox, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(restartBox);
  right->addWidget(load_group_);
  right->addWidget(shutdown_os_);
  right->addStretch(1);
  top->addLayout(left);
  top->addLayout(right, 1);
  layout->addLayout(top);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(list_, 1);
  listRow->addLayout(listButtons);
  layout->addLayout(listRow, 1);
  layout->addSpacing(6);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(MakeButton(IDC_SCHED_CLIENT, QStringLiteral("&Client...")));
  buttons->addStretch(1);
  buttons->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // Tab order: the editor area top to bottom, then the list and its buttons.
  QWidget* order[] = {freq_radio_[SCHED_ONCE],
                      freq_radio_[kDaily],
                      skip_weekends_,
                      freq_radio_[kWeekly],
                      weekday_,
                      freq_radio_[kMonthly],
                      freq_date_,
                      freq_radio_[kEveryN],
                      n_days_,
                      start_month_,
                      start_date_,
                      start_year_,
                      start_time_,
                      start_ampm_,
                      restart_radio_[0],
                      same_time_,
                      same_ampm_,
                      restart_radio_[1],
                      next_time_,
                      next_ampm_,
                      restart_radio_[2],
                      after_edit_[0],
                      after_edit_[1],
                      after_edit_[2],
                      hms_[0],
                      hms_[1],
                      hms_[2],
                      restart_radio_[3],
                      on_month_,
                      on_date_,
                      on_year_,
                      on_time_,
                      on_ampm_,
                      segment_list_,
                      shutdown_os_,
                      list_,
                      Control(IDC_SCHED_ADD),
                      Control(IDC_SCHED_DELETE),
                      delay,
                      Control(IDC_SCHED_CLIENT),
                      Control(IDOK),
                      Control(IDCANCEL),
                      Control(ID_HELP)};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void CSchedShutdownDlg::ConnectControls() {
  connect(freq_radio_[SCHED_ONCE], &QRadioButton::clicked, this, [this] { OnRadOnce(); });
  connect(freq_radio_[kDaily], &QRadioButton::clicked, this, [this] { OnRadDay(); });
  connect(freq_radio_[kWeekly], &QRadioButton::clicked, this, [this] { OnRadWeek(); });
  connect(freq_radio_[kMonthly], &QRadioButton::clicked, this, [this] { OnRadMonth(); });
  connect(freq_radio_[kEveryN], &QRadioButton::clicked, this, [this] { OnRadDays(); });
  connect(skip_weekends_, &QCheckBox::clicked, this, [this] { OnChkSkipWeekends(); });
  connect(weekday_, &QComboBox::activated, this, [this] { OnSelchangeCbWeekDay(); });
  connect(freq_date_, &QComboBox::activated, this, [this] { OnSelchangeCbFreqDate(); });
  connect(start_month_, &QComboBox::activated, this, [this] { OnSelchangeCbStartMonth(); });
  connect(start_date_, &QComboBox::activated, this, [this] { OnSelchangeCbStartDate(); });
  connect(start_year_, &QComboBox::activated, this, [this] { OnSelchangeCbStartYear(); });
  connect(start_time_, &QComboBox::activated, this, [this] { OnSelchangeCbStartTime(); });
  connect(start_time_->lineEdit(), &QLineEdit::textEdited, this, [this] { OnEditchangeCbStartTime(); });
  connect(start_ampm_, &QComboBox::activated, this, [this] { OnSelchangeCbStartAmPm(); });
  connect(restart_radio_[kSameDay], &QRadioButton::clicked, this, [this] { OnRadSameDay(); });
  connect(restart_radio_[kNextDay], &QRadioButton::clicked, this, [this] { OnRadNextDay(); });
  connect(restart_radio_[kAfter], &QRadioButton::clicked, this, [this] { OnRadAfter(); });
  connect(restart_radio_[kOnDate], &QRadioButton::clicked, this, [this] { OnRadOn(); });
  connect(on_month_, &QComboBox::activated, this, [this] { OnSelchangeCbRestartMonth(); });
  connect(on_date_, &QComboBox::activated, this, [this] { OnSelchangeCbRestartDate(); });
  connect(on_year_, &QComboBox::activated, this, [this] { OnSelchangeCbRestartYear(); });
  connect(on_time_, &QComboBox::activated, this, [this] { OnSelchangeCbRestartTime(); });
  connect(on_time_->lineEdit(), &QLineEdit::textEdited, this, [this] { OnEditchangeCbRestartTime(); });
  connect(on_ampm_, &QComboBox::activated, this, [this] { OnSelchangeCbRestartAmPm(); });
  connect(list_, &QListWidget::itemSelectionChanged, this, [this] { OnSelchangeListShutdown(); });
  connect(segment_list_, &QComboBox::activated, this, [this] { OnSelchangeLoad(); });
  connect(Control<QPushButton>(IDC_SCHED_ADD), &QPushButton::clicked, this, [this] { OnBtnAdd(); });
  connect(Control<QPushButton>(IDC_SCHED_DELETE), &QPushButton::clicked, this, [this] { OnBtnRemove(); });
  connect(Control<QPushButton>(IDC_SCHED_DELAY), &QPushButton::clicked, this,
          [this] { OnBtnDelayShutdown(); });
  connect(Control<QPushButton>(IDC_SCHED_CLIENT), &QPushButton::clicked, this, [this] { OnBtnClient(); });
}

// --- start-up ---

bool CSchedShutdownDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  LocalDate today;
  int hour = 0;
  int minute = 0;
  if (LocalDateOf(now_, today, hour, minute)) {
    weekday_->setCurrentIndex(WeekdayOf(today) - 1);
    freq_date_->setCurrentIndex(today.day - 1);
  }
  const QStringList years = Numbers(reference_year_, reference_year_ + kYears - 1);
  start_year_->clear();
  start_year_->addItems(years);
  on_year_->clear();
  on_year_->addItems(years);

  frequency_ = SCHED_ONCE;
  freq_radio_[SCHED_ONCE]->setChecked(true);
  for (int code : {kDaily, kWeekly, kMonthly, kEveryN}) ShowFrequency(code, false);
  n_days_->clear();
  InitializeStartDate(start_[SCHED_ONCE]);

  SetRestartRowsVisible(true);
  SetOnRowVisible(true);
  SetHmsVisible(false);
  for (int mode : {kSameDay, kAfter, kOnDate}) ShowRestart(mode, false);
  restart_mode_ = kNextDay;
  ShowRestart(kNextDay, true);
  restart_radio_[kNextDay]->setChecked(true);
  InitializeRestartTimes();
  shutdown_os_->setChecked(shutdown_os_state_ != 0);
  SetHostCaption(1421);
  DisableAndHideLoadControls();
  UpdateDelayButton();

  RequestData(SchedShutdownBlock::kBlockId, 1, 0);
  RequestData(BLOCK_CONFIG, 8, 1);
  if (load_.loadControl) RequestData(Recptinf::kBlockId, 1, 0);
  return true;
}

bool CSchedShutdownDlg::ShowTimeOf(QComboBox* time, QComboBox* ampm, int64_t t) {
  int index = 0;
  int pm = 0;
  GetIndexesFromTime(t, index, pm);
  time->setCurrentIndex(index);
  time->setEditText(GetTimeString(t));
  ampm->setCurrentIndex(pm);
  return true;
}

void CSchedShutdownDlg::InitializeStartDate(int64_t t) {
  start_[frequency_] = t;
  LocalDate date;
  int hour = 0;
  int minute = 0;
  if (Breakdown(t, date, hour, minute)) {
    start_month_->setCurrentIndex(date.month - 1);
    start_date_->setCurrentIndex(date.day - 1);
    start_year_->setCurrentIndex(date.year - reference_year_);
  }
  ShowTimeOf(start_time_, start_ampm_, t);
}

void CSchedShutdownDlg::InitializeRestartTimes() {
  ShowTimeOf(same_time_, same_ampm_, restart_same_);
  ShowTimeOf(next_time_, next_ampm_, restart_next_);
  InitRestartDate();
  ShowTimeOf(on_time_, on_ampm_, restart_on_);
  for (QComboBox* c : hms_) c->setCurrentIndex(0);
}

void CSchedShutdownDlg::InitRestartDate() {
  LocalDate date;
  int hour = 0;
  int minute = 0;
  if (!Breakdown(restart_on_, date, hour, minute)) return;
  on_month_->setCurrentIndex(date.month - 1);
  on_date_->setCurrentIndex(date.day - 1);
  on_year_->setCurrentIndex(date.year - reference_year_);
}

void CSchedShutdownDlg::FillSegmentList() {
  segment_list_->clear();
  for (int i = 1; i <= load_.segmentCount; ++i) segment_list_->addItem(QString::number(i));
  segment_list_->addItem(LoadString(3437));
  segment_list_->setCurrentIndex(load_.segmentCount);
  segment_ = load_.segmentCount;
}

void CSchedShutdownDlg::DisableAndHideLoadControls() {
  if (!load_.loadControl) {
    load_group_->hide();
    load_text_->hide();
    segment_list_->hide();
    segment_ = -1;
    return;
  }
  FillSegmentList();
  load_group_->show();
  load_text_->show();
  segment_list_->show();
}

bool CSchedShutdownDlg::AllSegmentsSelected() const {
  return segment_list_->currentIndex() == segment_list_->count() - 1;
}

// --- visibility of the frequency and restart controls ---

void CSchedShutdownDlg::ShowFrequency(int code, bool show) {
  switch (code) {
    case SCHED_ONCE: {
      // A restart on a date exists only for one-time entries, and not for one segment on a
      // UPS that restarts it after a duration only.
      const bool segmentOnly =
          load_.loadControl && load_.modelIndex == kModelSecondsRestart && !AllSegmentsSelected();
      SetOnRowVisible(show && !segmentOnly);
      break;
    }
    case kDaily:
      skip_weekends_->setVisible(show);
      break;
    case kWeekly:
      weekday_text_->setVisible(show);
      weekday_->setVisible(show);
      break;
    case kMonthly:
      freq_date_text_->setVisible(show);
      freq_date_->setVisible(show);
      start_date_->setEnabled(!show);
      break;
    case kEveryN:
      if (show) {
        n_days_->setEnabled(true);
        n_days_->setText(saved_days_);
        n_days_->selectAll();
        n_days_->setFocus();
      } else {
        SaveFreqDays();
        n_days_->clear();
        n_days_->setEnabled(false);
      }
      break;
    default:
      break;
  }
}

void CSchedShutdownDlg::DisableAndHideFreqControls() {
  if (frequency_ == SCHED_ONCE && restart_mode_ == kOnDate) {
    DisableAndHideRestartControls();
    restart_mode_ = kSameDay;
    ShowRestart(kSameDay, true);
    restart_radio_[kSameDay]->setChecked(true);
  }
  ShowFrequency(frequency_, false);
}

void CSchedShutdownDlg::SaveFreqDays() {
  if (!n_days_->text().isEmpty()) saved_days_ = n_days_->text();
}

void CSchedShutdownDlg::SaveRestartAfterTime() {
  for (size_t i = 0; i < after_edit_.size(); ++i) {
    if (!after_edit_[i]->text().isEmpty()) saved_after_[i] = after_edit_[i]->text();
  }
}

void SaveRestartAfterTime_B(CSchedShutdownDlg* dialog) {
  if (dialog != nullptr) dialog->SaveRestartAfterTime();
}

void CSchedShutdownDlg::HideTimeCombo(QComboBox* combo) {
  combo->hide();
  update(combo->geometry().adjusted(-2, -2, 0, 2));
}

void CSchedShutdownDlg::ShowRestart(int mode, bool show) {
  switch (mode) {
    case kSameDay:
    case kNextDay: {
      QLabel* at = mode == kSameDay ? same_at_ : next_at_;
      QComboBox* time = mode == kSameDay ? same_time_ : next_time_;
      QComboBox* ampm = mode == kSameDay ? same_ampm_ : next_ampm_;
      at->setVisible(show);
      if (show)
        time->show();
      else
        HideTimeCombo(time);
      ampm->setVisible(show);
      break;
    }
    case kAfter:
      if (show) {
        for (size_t i = 0; i < after_edit_.size(); ++i) {
          after_edit_[i]->setEnabled(true);
          after_edit_[i]->setText(saved_after_[i]);
        }
        after_edit_[0]->selectAll();
        if (after_edit_[0]->isVisible()) after_edit_[0]->setFocus();
      } else {
        SaveRestartAfterTime();
        for (QLineEdit* e : after_edit_) {
          e->clear();
          e->setEnabled(false);
        }
      }
      break;
    case kOnDate:
      if (!show) {
        restart_radio_[kOnDate]->setAutoExclusive(false);
        restart_radio_[kOnDate]->setChecked(false);
        restart_radio_[kOnDate]->setAutoExclusive(true);
      }
      SetOnRowEnabled(show);
      break;
    default:
      break;
  }
}

void CSchedShutdownDlg::DisableAndHideRestartControls() {
  ShowRestart(restart_mode_, false);
}

void CSchedShutdownDlg::SetRestartRowsVisible(bool visible) {
  for (int mode : {kSameDay, kNextDay, kAfter}) restart_radio_[mode]->setVisible(visible);
  for (size_t i = 0; i < after_edit_.size(); ++i) {
    after_edit_[i]->setVisible(visible);
    after_text_[i]->setVisible(visible);
  }
}

void CSchedShutdownDlg::SetHmsVisible(bool visible) {
  for (size_t i = 0; i < hms_.size(); ++i) {
    hms_[i]->setVisible(visible);
    hms_text_[i]->setVisible(visible);
  }
  if (auto* stack = findChild<QStackedWidget*>(QStringLiteral("afterStack")))
    stack->setCurrentIndex(visible ? 1 : 0);
}

void CSchedShutdownDlg::SetOnRowVisible(bool visible) {
  for (QWidget* w : std::initializer_list<QWidget*>{restart_radio_[kOnDate], on_month_, on_date_, on_year_,
                                                    on_at_, on_time_, on_ampm_})
    w->setVisible(visible);
}

void CSchedShutdownDlg::SetOnRowEnabled(bool enabled) {
  for (QWidget* w :
       std::initializer_list<QWidget*>{on_month_, on_date_, on_year_, on_at_, on_time_, on_ampm_})
    w->setEnabled(enabled);
}

// --- frequency ---

void CSchedShutdownDlg::ChangeFrequency(int code) {
  if (code == frequency_) return;
  DisableAndHideFreqControls();
  frequency_ = code;
  ShowFrequency(code, true);
  InitializeStartDate(start_[code]);
}

void CSchedShutdownDlg::OnRadOnce() {
  ChangeFrequency(SCHED_ONCE);
}
void CSchedShutdownDlg::OnRadDay() {
  ChangeFrequency(kDaily);
}
void CSchedShutdownDlg::OnRadWeek() {
  ChangeFrequency(kWeekly);
}
void CSchedShutdownDlg::OnRadMonth() {
  ChangeFrequency(kMonthly);
}
void CSchedShutdownDlg::OnRadDays() {
  ChangeFrequency(kEveryN);
}

void CSchedShutdownDlg::OnChkSkipWeekends() {
  if (!skip_weekends_->isChecked()) return;
  InitializeStartDate(SkipWeekends(start_[kDaily]));
}

void CSchedShutdownDlg::OnSelchangeCbWeekDay() {
  InitializeStartDate(WeeklyStart(platform::Now(), start_[kWeekly], weekday_->currentIndex() + 1));
}

void CSchedShutdownDlg::OnSelchangeCbFreqDate() {
  InitializeStartDate(MonthlyStart(platform::Now(), start_[kMonthly], freq_date_->currentIndex() + 1));
}

// --- start ---

void CSchedShutdownDlg::ApplyStartDate(int which, int index) {
  LocalDate date;
  int hour = 0;
  int minute = 0;
  const int64_t current = start_[frequency_];
  if (!Breakdown(current, date, hour, minute)) return;
  if (which == kWhichMonth) date.month = index + 1;
  if (which == kWhichDay) date.day = index + 1;
  if (which == kWhichYear) date.year = reference_year_ + index;
  const int64_t t = WithDate(current, date.year, date.month, date.day);
  if (t == 0) {
    Exclaim(QStringLiteral("Invalid start Date!"));
    InitializeStartDate(current);
    return;
  }
  start_[frequency_] = t;
}

void CSchedShutdownDlg::OnSelchangeCbStartMonth() {
  ApplyStartDate(kWhichMonth, start_month_->currentIndex());
}
void CSchedShutdownDlg::OnSelchangeCbStartDate() {
  ApplyStartDate(kWhichDay, start_date_->currentIndex());
}
void CSchedShutdownDlg::OnSelchangeCbStartYear() {
  ApplyStartDate(kWhichYear, start_year_->currentIndex());
}

bool CSchedShutdownDlg::ApplyTypedTime(QComboBox* time, QComboBox* ampm, int64_t& moment) {
  int64_t t = 0;
  if (!SetTime(t, time->currentText(), ampm->currentIndex())) return false;
  LocalDate date;
  int hour = 0;
  int minute = 0;
  // A time outside the day reads but is not taken; OK's check refuses it.
  if (Breakdown(t, date, hour, minute)) {
    const int64_t moved = WithTime(moment, hour, minute);
    if (moved != 0) moment = moved;
  }
  return true;
}

void CSchedShutdownDlg::OnSelchangeCbStartTime() {
  start_time_->setEditText(start_time_->currentText());
  ApplyTypedTime(start_time_, start_ampm_, start_[frequency_]);
}

void CSchedShutdownDlg::OnEditchangeCbStartTime() {
  ApplyTypedTime(start_time_, start_ampm_, start_[frequency_]);
}

void CSchedShutdownDlg::OnSelchangeCbStartAmPm() {
  if (!ApplyTypedTime(start_time_, start_ampm_, start_[frequency_]))
    Exclaim(QStringLiteral("Invalid start time!"), start_time_);
}

// --- restart ---

void CSchedShutdownDlg::ChangeRestart(int mode) {
  if (mode == restart_mode_) return;
  DisableAndHideRestartControls();
  restart_mode_ = mode;
  ShowRestart(mode, true);
  restart_radio_[mode]->setChecked(true);
}

void CSchedShutdownDlg::OnRadSameDay() {
  ChangeRestart(kSameDay);
}
void CSchedShutdownDlg::OnRadNextDay() {
  ChangeRestart(kNextDay);
}
void CSchedShutdownDlg::OnRadAfter() {
  ChangeRestart(kAfter);
}
void CSchedShutdownDlg::OnRadOn() {
  ChangeRestart(kOnDate);
}

void CSchedShutdownDlg::ApplyRestartDate(int which, int index) {
  LocalDate date;
  int hour = 0;
  int minute = 0;
  if (!Breakdown(restart_on_, date, hour, minute)) return;
  if (which == kWhichMonth) date.month = index + 1;
  if (which == kWhichDay) date.day = index + 1;
  if (which == kWhichYear) date.year = reference_year_ + index;
  const int64_t t = WithDate(restart_on_, date.year, date.month, date.day);
  if (t == 0) {
    Exclaim(QStringLiteral("Invalid Restart Date!"));
    InitRestartDate();
    return;
  }
  restart_on_ = t;
}

void CSchedShutdownDlg::OnSelchangeCbRestartMonth() {
  ApplyRestartDate(kWhichMonth, on_month_->currentIndex());
}
void CSchedShutdownDlg::OnSelchangeCbRestartDate() {
  ApplyRestartDate(kWhichDay, on_date_->currentIndex());
}
void CSchedShutdownDlg::OnSelchangeCbRestartYear() {
  ApplyRestartDate(kWhichYear, on_year_->currentIndex());
}

void CSchedShutdownDlg::OnSelchangeCbRestartTime() {
  on_time_->setEditText(on_time_->currentText());
  ApplyTypedTime(on_time_, on_ampm_, restart_on_);
}

void CSchedShutdownDlg::OnEditchangeCbRestartTime() {
  ApplyTypedTime(on_time_, on_ampm_, restart_on_);
}

void CSchedShutdownDlg::OnSelchangeCbRestartAmPm() {
  if (!ApplyTypedTime(on_time_, on_ampm_, restart_on_))
    Exclaim(QStringLiteral("Invalid restart time!"), on_time_);
}

// --- load segment ---

void CSchedShutdownDlg::OnSelchangeLoad() {
  segment_ = segment_list_->currentIndex();
  if (AllSegmentsSelected()) {
    shutdown_os_->setChecked(true);
    SetRestartRowsVisible(true);
    // A restart on a date stays with one-time entries.
    SetOnRowVisible(frequency_ == SCHED_ONCE);
    SetHmsVisible(false);
    DisableAndHideRestartControls();
    restart_mode_ = kNextDay;
    ShowRestart(kNextDay, true);
    restart_radio_[kNextDay]->setChecked(true);
  } else {
    shutdown_os_->setChecked(false);
    shutdown_os_state_ = 0;
    if (load_.modelIndex != kModelSecondsRestart) return;
    SetRestartRowsVisible(false);
    SetOnRowVisible(false);
    DisableAndHideRestartControls();
    next_at_->hide();
    HideTimeCombo(next_time_);
    next_ampm_->hide();
    restart_radio_[kAfter]->show();
    SetHmsVisible(true);
    restart_mode_ = kAfter;
    ShowRestart(kAfter, true);
    restart_radio_[kAfter]->setChecked(true);
  }
  shutdown_os_state_ = shutdown_os_->isChecked() ? 1 : 0;
}

// --- the list ---

QString CSchedShutdownDlg::BuildDescription(const schedule_struct& entry) const {
  return sched_entries::BuildDescription(entry, load_);
}

void CSchedShutdownDlg::SelectOnly(int row) {
  list_->clearSelection();
  if (row >= 0 && row < list_->count()) {
    list_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  }
}

bool CSchedShutdownDlg::AddListItem(const schedule_struct& entry, bool check) {
  const QString text = BuildDescription(entry);
  QString refusal;
  const int place = ListPlace(rows_, text, entry, check, &refusal);
  if (place < 0) {
    Exclaim(refusal);
    return false;
  }
  rows_.insert(rows_.begin() + place, SchedListRow{text, entry});
  list_->insertItem(place, text);
  if (list_->selectedItems().size() <= 1) SelectOnly(place);
  return true;
}

void CSchedShutdownDlg::UpdateDelayButton() {
  Control(IDC_SCHED_DELAY)->setVisible(list_->selectedItems().size() == 1);
}

void CSchedShutdownDlg::OnSelchangeListShutdown() {
  UpdateDelayButton();
}

void CSchedShutdownDlg::RemoveSelectedRows() {
  std::vector<int> selected;
  for (QListWidgetItem* item : list_->selectedItems()) selected.push_back(list_->row(item));
  std::sort(selected.begin(), selected.end());
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
    delete list_->takeItem(*it);
    rows_.erase(rows_.begin() + *it);
  }
  if (!rows_.empty()) {
    const int first = selected.front();
    SelectOnly(first < static_cast<int>(rows_.size()) ? first : static_cast<int>(rows_.size()) - 1);
  }
  modified_ = 1;
}

void CSchedShutdownDlg::OnBtnRemove() {
  if (rows_.empty()) {
    UpdateDelayButton();
    return;
  }
  if (list_->selectedItems().isEmpty()) {
    Exclaim(QStringLiteral("Please select the shutdown items you wish to remove."));
    SelectOnly(0);
    list_->setFocus();
  } else {
    RemoveSelectedRows();
  }
  UpdateDelayButton();
}

void CSchedShutdownDlg::OnBtnDelayShutdown() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  if (selected.size() != 1) return;
  DelayShutdownDlg delay(this, HostName());
  if (delay.DoModal() != IDOK) return;
  delay_seconds_ = delay.DelaySeconds();
  const schedule_struct unchanged = rows_[static_cast<size_t>(list_->row(selected.front()))].entry;
  schedule_struct postponed = unchanged;
  Postpone(postponed, static_cast<uint32_t>(delay_seconds_));
  // A refused postponement puts the entry back and leaves the mark as it was, so that earlier
  // additions and deletions are still sent.
  const int mark = modified_;
  RemoveSelectedRows();
  if (AddListItem(postponed, true)) {
    modified_ = 1;
  } else {
    AddListItem(unchanged, false);
    modified_ = mark;
  }
  UpdateDelayButton();
}

void CSchedShutdownDlg::ClearRows() {
  list_->clear();
  rows_.clear();
}

// --- Add ---

void CSchedShutdownDlg::OnBtnAdd() {
  schedule_struct e{};
  e.frequency = static_cast<uint8_t>(frequency_);
  switch (frequency_) {
    case kMonthly:
      e.frequencyParam = static_cast<uint16_t>(freq_date_->currentIndex() + 1);
      break;
    case kWeekly:
      e.frequencyParam = static_cast<uint16_t>(weekday_->currentIndex() + 1);
      break;
    case kEveryN:
      if (!ParseEveryNDays(n_days_->text(), e.frequencyParam)) {
        Exclaim(QStringLiteral("Please enter the number of days between\neach shutdown."), n_days_);
        return;
      }
      break;
    case kDaily:
      e.frequencyParam = skip_weekends_->isChecked() ? 1 : 0;
      if (e.frequencyParam != 0) InitializeStartDate(SkipWeekends(start_[kDaily]));
      break;
    default:
      e.frequencyParam = 0;
      break;
  }

  const QString startText = start_time_->currentText();
  if (startText.isEmpty()) {
    Exclaim(QStringLiteral("Please enter the starting time"), start_time_);
    return;
  }
  int64_t typed = 0;
  if (!SetTime(typed, startText, start_ampm_->currentIndex())) {
    Exclaim(QStringLiteral("Invalid Start Time"), start_time_);
    return;
  }
  const int64_t start = typed == 0 ? 0 : start_[frequency_];
  e.startTime = static_cast<uint32_t>(start);

  e.restartMode = static_cast<uint8_t>(restart_mode_);
  if (start != 0) {
    if (restart_mode_ == kSameDay || restart_mode_ == kNextDay || restart_mode_ == kOnDate) {
      QComboBox* time = restart_mode_ == kSameDay   ? same_time_
                        : restart_mode_ == kNextDay ? next_time_
                                                    : on_time_;
      QComboBox* ampm = restart_mode_ == kSameDay   ? same_ampm_
                        : restart_mode_ == kNextDay ? next_ampm_
                                                    : on_ampm_;
      int64_t r = 0;
      if (time->currentText().isEmpty()) {
        Exclaim(QStringLiteral("Please enter the restart time."), time);
        return;
      }
      if (!SetTime(r, time->currentText(), ampm->currentIndex())) {
        Exclaim(QStringLiteral("Invalid restart time!"), time);
        return;
      }
      if (restart_mode_ == kOnDate) {
        e.restartValue = r == 0 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(restart_on_));
      } else {
        LocalDate date, at;
        int h = 0, m = 0, rh = 0, rm = 0;
        if (r == 0 || !Breakdown(start, date, h, m) || !Breakdown(r, at, rh, rm)) {
          Exclaim(QStringLiteral("Invalid restart time!"), time);
          return;
        }
        const int64_t moment = LocalMoment(restart_mode_ == kSameDay ? date : AddDays(date, 1), rh, rm);
        if (restart_mode_ == kSameDay && moment <= start) {
          Exclaim(QStringLiteral("The restart time is before the start time!"), time);
          return;
        }
        if (moment <= 0 || moment - start > kMaxRestartAfter) {
          Exclaim(QStringLiteral("Invalid restart time!"), time);
          return;
        }
        e.restartValue = static_cast<int32_t>(moment - start);
      }
    } else if (restart_mode_ == kAfter) {
      if (load_.loadControl && load_.modelIndex == kModelSecondsRestart && !AllSegmentsSelected()) {
        e.restartValue =
            hms_[0]->currentIndex() * 3600 + hms_[1]->currentIndex() * 60 + hms_[2]->currentIndex();
      } else if (!ParseRestartAfter(after_edit_[0]->text(), after_edit_[1]->text(), after_edit_[2]->text(),
                                    e.restartValue)) {
        Exclaim(QStringLiteral("Invalid restart time!"), after_edit_[0]);
        return;
      }
    }
  }

  const int code = SchedShutdownBlock::ValidateScheduleEntry(e);
  if (code != SchedShutdownBlock::SCHED_VALID) {
    const bool startFault =
        code == SchedShutdownBlock::SCHED_BAD_START || code == SchedShutdownBlock::SCHED_START_PAST;
    Exclaim(CheckMessage(code), startFault ? static_cast<QWidget*>(start_time_) : on_time_);
    return;
  }
  e.segment = load_.loadControl ? segment_list_->currentIndex() : -1;
  e.segmentOnly = shutdown_os_->isChecked() ? 0 : 1;
  if (AddListItem(e, true)) {
    UpdateDelayButton();
    modified_ = 1;
  }
}

// --- replies, OK, Cancel, Client ---

void CSchedShutdownDlg::OnNewData(unsigned status, unsigned block, unsigned, unsigned) {
  if (status != 4) return;
  if (block == static_cast<unsigned>(SchedShutdownBlock::kBlockId)) {
    // The first table only: the status view's own requests for the block would list it again.
    if (table_listed_) return;
    table_listed_ = true;
    std::vector<schedule_struct> entries;
    {
      auto lock = gScp.Lock();
      const schedule_struct* array = nullptr;
      const int n = gScp.schedShutdown.GetEntries(array);
      if (array != nullptr && n > 0) entries.assign(array, array + n);
    }
    for (const schedule_struct& e : entries) AddListItem(e, false);
    if (!entries.empty()) {
      SelectOnly(0);
      UpdateDelayButton();
    }
  } else if (block == static_cast<unsigned>(Recptinf::kBlockId)) {
    {
      auto lock = gScp.Lock();
      load_.segmentCount = gScp.receptacles.GetCount();
    }
    if (load_.loadControl) FillSegmentList();
  }
}

void CSchedShutdownDlg::OnOK() {
  if (modified_ == 0) {
    OnCancel();
    return;
  }
  EnterPasswordDlg password(this, HostName());
  if (password.DoModal() != IDOK) return;
  std::vector<schedule_struct> entries;
  entries.reserve(rows_.size());
  for (const SchedListRow& row : rows_) entries.push_back(row.entry);
  {
    auto lock = gScp.Lock();
    gScp.schedShutdown.SetEntries(static_cast<int>(entries.size()),
                                  entries.empty() ? nullptr : entries.data());
    gScp.schedShutdown.Branches().Touch(0);
    gScp.schedShutdown.Branches().Touch(1);
  }
  SendCommand(SchedShutdownBlock::kBlockId, 1, 0);
  ClearRows();
  KTDialog::OnOK();
}

void CSchedShutdownDlg::OnCancel() {
  ClearRows();
  KTDialog::OnCancel();
}

void CSchedShutdownDlg::OnClose() {
  OnCancel();
}

void CSchedShutdownDlg::OnBtnClient() {
  if (DialogIsOpen(pNetworkConfiguration)) {
    pNetworkConfiguration->raise();
    pNetworkConfiguration->activateWindow();
    return;
  }
  new CNetworkConfiguration(parentWidget(), QString());
}

void CSchedShutdownDlg::Exclaim(const QString& text, QWidget* focus) {
  TremMessageBox(this, text, MB_OK | MB_ICONEXCLAMATION);
  if (focus != nullptr && focus->isVisible()) focus->setFocus();
}
