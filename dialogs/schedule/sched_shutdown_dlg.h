// CSchedShutdownDlg: "Configure Scheduled Shutdown", the planned shutdowns and restarts of one
// agent's computer (scheduled-shutdown block 24).
//
// The editor area describes the next entry: how often (once, every day, week, month or N
// days), from when, which load segment goes off when the UPS can switch them, whether the
// operating system shuts down, and when the computer comes back (the same day, the next day,
// after a duration, on a date). Add checks it and lists it in start order; Delete and
// "Delay Shutdown..." change the list. OK asks for the agent's password and sends the whole
// table (24, 1, 0); nothing reaches the agent before.
//
// On opening the dialog asks for the table (24, 1, 0), the agent's password (4, 8, 1) and, with
// load-segment control, the receptacles (28, 1, 0), and waits for every one of those replies.
// The list is filled from the first table that arrives only: later replies for the block (the
// console's status view asks for it too) would list every entry again.
//
// Every start and restart time is a local moment (seconds since 1970); the entry texts and
// rules are in sched_entries.h.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

#include "dialogs/frame/kt_dialog.h"
#include "dialogs/schedule/sched_entries.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

inline constexpr int IDD_SCHED_SHUTDOWN = 3036;
inline constexpr int IDC_SCHED_LIST = 1640;
inline constexpr int IDC_SCHED_ADD = 1641;
inline constexpr int IDC_SCHED_DELETE = 1642;
inline constexpr int IDC_SCHED_CLIENT = 1936;
inline constexpr int IDC_SCHED_DELAY = 1742;
inline constexpr int IDC_SCHED_FREQ_GROUP = 1622;
inline constexpr int IDC_SCHED_ONCE = 1611;
inline constexpr int IDC_SCHED_DAY = 1612;
inline constexpr int IDC_SCHED_WEEK = 1613;
inline constexpr int IDC_SCHED_MONTH = 1614;
inline constexpr int IDC_SCHED_DAYS = 1615;
inline constexpr int IDC_SCHED_SKIP_WEEKENDS = 1625;
inline constexpr int IDC_SCHED_WEEKDAY_TEXT = 1619;
inline constexpr int IDC_SCHED_WEEKDAY = 1617;
inline constexpr int IDC_SCHED_FREQ_DATE_TEXT = 1620;
inline constexpr int IDC_SCHED_FREQ_DATE = 1621;
inline constexpr int IDC_SCHED_N_DAYS = 1616;
inline constexpr int IDC_SCHED_START_GROUP = 1646;
inline constexpr int IDC_SCHED_START_MONTH = 1623;
inline constexpr int IDC_SCHED_START_DATE = 1647;
inline constexpr int IDC_SCHED_START_YEAR = 1626;
inline constexpr int IDC_SCHED_START_TIME = 1648;
inline constexpr int IDC_SCHED_START_AMPM = 1624;
inline constexpr int IDC_SCHED_LOAD_GROUP = 1932;
inline constexpr int IDC_SCHED_LOAD_TEXT = 1933;
inline constexpr int IDC_SCHED_LOAD = 1934;
inline constexpr int IDC_SCHED_SHUTDOWN_OS = 1935;
inline constexpr int IDC_SCHED_RESTART_GROUP = 1649;
inline constexpr int IDC_SCHED_SAME_DAY = 1627;
inline constexpr int IDC_SCHED_SAME_AT = 1633;
inline constexpr int IDC_SCHED_SAME_TIME = 1631;
inline constexpr int IDC_SCHED_SAME_AMPM = 1632;
inline constexpr int IDC_SCHED_NEXT_DAY = 1628;
inline constexpr int IDC_SCHED_NEXT_AT = 1636;
inline constexpr int IDC_SCHED_NEXT_TIME = 1634;
inline constexpr int IDC_SCHED_NEXT_AMPM = 1635;
inline constexpr int IDC_SCHED_AFTER = 1629;
inline constexpr int IDC_SCHED_AFTER_DAYS = 1638;
inline constexpr int IDC_SCHED_AFTER_DAYS_TEXT = 2047;
inline constexpr int IDC_SCHED_AFTER_HOURS = 1637;
inline constexpr int IDC_SCHED_AFTER_HOURS_TEXT = 2048;
inline constexpr int IDC_SCHED_AFTER_MINUTES = 1618;
inline constexpr int IDC_SCHED_AFTER_MINUTES_TEXT = 2049;
inline constexpr int IDC_SCHED_ON = 1630;
inline constexpr int IDC_SCHED_ON_MONTH = 1643;
inline constexpr int IDC_SCHED_ON_DATE = 1650;
inline constexpr int IDC_SCHED_ON_YEAR = 1645;
inline constexpr int IDC_SCHED_ON_AT = 1639;
inline constexpr int IDC_SCHED_ON_TIME = 1651;
inline constexpr int IDC_SCHED_ON_AMPM = 1644;
inline constexpr int IDC_SCHED_HMS_HOURS_TEXT = 2053;
inline constexpr int IDC_SCHED_HMS_MINUTES_TEXT = 2054;
inline constexpr int IDC_SCHED_HMS_SECONDS_TEXT = 2055;
inline constexpr int IDC_SCHED_HMS_HOURS = 2056;
inline constexpr int IDC_SCHED_HMS_MINUTES = 2057;
inline constexpr int IDC_SCHED_HMS_SECONDS = 2058;

class CSchedShutdownDlg : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 26;
  static constexpr int kYears = 10;

  explicit CSchedShutdownDlg(QWidget* parent = nullptr, const QString& hostName = QString());
  CSchedShutdownDlg(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                    const QStringList& hostNames);
  ~CSchedShutdownDlg() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  void OnCancel() override;
  void OnClose();

  // Frequency.
  void OnRadOnce();
  void OnRadDay();
  void OnRadWeek();
  void OnRadMonth();
  void OnRadDays();
  void OnChkSkipWeekends();
  void OnSelchangeCbWeekDay();
  void OnSelchangeCbFreqDate();
  // Start.
  void OnSelchangeCbStartMonth();
  void OnSelchangeCbStartDate();
  void OnSelchangeCbStartYear();
  void OnSelchangeCbStartTime();
  void OnEditchangeCbStartTime();
  void OnSelchangeCbStartAmPm();
  // Restart.
  void OnRadSameDay();
  void OnRadNextDay();
  void OnRadAfter();
  void OnRadOn();
  void OnSelchangeCbRestartMonth();
  void OnSelchangeCbRestartDate();
  void OnSelchangeCbRestartYear();
  void OnSelchangeCbRestartTime();
  void OnEditchangeCbRestartTime();
  void OnSelchangeCbRestartAmPm();
  // List, load segment, buttons.
  void OnSelchangeListShutdown();
  void OnSelchangeLoad();
  void OnBtnAdd();
  void OnBtnRemove();
  void OnBtnDelayShutdown();
  void OnBtnClient();

  void InitializeStartDate(int64_t t);
  void InitializeRestartTimes();
  void InitRestartDate();
  void SaveFreqDays();
  void SaveRestartAfterTime();
  void DisableAndHideFreqControls();
  void DisableAndHideRestartControls();
  void DisableAndHideLoadControls();
  void HideTimeCombo(QComboBox* combo);

  // Adds a row for the entry in start order; with `check` the duplicate rules may refuse it.
  bool AddListItem(const schedule_struct& entry, bool check);
  QString BuildDescription(const schedule_struct& entry) const;

  // State the tests read.
  const std::vector<SchedListRow>& Rows() const { return rows_; }
  int Frequency() const { return frequency_; }
  int RestartMode() const { return restart_mode_; }
  int64_t CurrentStart() const { return start_[frequency_]; }
  bool Modified() const { return modified_ != 0; }
  bool HasLoadControl() const { return load_.loadControl; }
  int SegmentCount() const { return load_.segmentCount; }

 private:
  void Construct();
  void BuildControls();
  void ConnectControls();
  SchedLoadState LoadState() const { return load_; }
  // The selected segment is "All" (the last item of the list).
  bool AllSegmentsSelected() const;
  void ShowFrequency(int frequency, bool show);
  void ShowRestart(int mode, bool show);
  void SetRestartRowsVisible(bool visible);
  void SetHmsVisible(bool visible);
  void SetOnRowVisible(bool visible);
  void SetOnRowEnabled(bool enabled);
  void FillSegmentList();
  void UpdateDelayButton();
  void RemoveSelectedRows();
  void ClearRows();
  void SelectOnly(int row);
  void ChangeFrequency(int code);
  void ChangeRestart(int mode);
  void ApplyStartDate(int which, int index);
  void ApplyRestartDate(int which, int index);
  // Start time from the time combo and AM/PM list (the date kept), when the text reads.
  bool ApplyTypedTime(QComboBox* time, QComboBox* ampm, int64_t& moment);
  bool ShowTimeOf(QComboBox* time, QComboBox* ampm, int64_t t);
  void Exclaim(const QString& text, QWidget* focus = nullptr);

  QListWidget* list_ = nullptr;
  std::array<QRadioButton*, 5> freq_radio_{};  // by frequency code
  QCheckBox* skip_weekends_ = nullptr;
  QLabel* weekday_text_ = nullptr;
  QComboBox* weekday_ = nullptr;
  QLabel* freq_date_text_ = nullptr;
  QComboBox* freq_date_ = nullptr;
  QLineEdit* n_days_ = nullptr;
  QComboBox* start_month_ = nullptr;
  QComboBox* start_date_ = nullptr;
  QComboBox* start_year_ = nullptr;
  QComboBox* start_time_ = nullptr;
  QComboBox* start_ampm_ = nullptr;
  QGroupBox* load_group_ = nullptr;
  QLabel* load_text_ = nullptr;
  QComboBox* segment_list_ = nullptr;
  QCheckBox* shutdown_os_ = nullptr;
  std::array<QRadioButton*, 4> restart_radio_{};  // by restart mode
  QLabel* same_at_ = nullptr;
  QComboBox* same_time_ = nullptr;
  QComboBox* same_ampm_ = nullptr;
  QLabel* next_at_ = nullptr;
  QComboBox* next_time_ = nullptr;
  QComboBox* next_ampm_ = nullptr;
  std::array<QLineEdit*, 3> after_edit_{};
  std::array<QLabel*, 3> after_text_{};
  QComboBox* on_month_ = nullptr;
  QComboBox* on_date_ = nullptr;
  QComboBox* on_year_ = nullptr;
  QLabel* on_at_ = nullptr;
  QComboBox* on_time_ = nullptr;
  QComboBox* on_ampm_ = nullptr;
  std::array<QLabel*, 3> hms_text_{};
  std::array<QComboBox*, 3> hms_{};

  int64_t now_ = 0;
  int reference_year_ = 1970;
  std::array<int64_t, 5> start_{};  // by frequency code
  int64_t restart_same_ = 0;
  int64_t restart_next_ = 0;
  int64_t restart_on_ = 0;
  int frequency_ = SCHED_ONCE;
  int restart_mode_ = 1;
  SchedLoadState load_;
  int segment_ = -1;
  int shutdown_os_state_ = 1;
  QString saved_days_;
  std::array<QString, 3> saved_after_;
  int delay_seconds_ = 0;
  int modified_ = 0;
  bool table_listed_ = false;
  std::vector<SchedListRow> rows_;  // one per list row, in list order
};

extern DialogPointer<CSchedShutdownDlg> pSchedShutdownDlg;
// Keeps the three "After" edits' texts as the dialog's SaveRestartAfterTime does.
void SaveRestartAfterTime_B(CSchedShutdownDlg* dialog);
