// CBatteryTest: the weekly battery (diagnostic) test schedule of an agent (battery-test
// block 25) and its battery log settings (configuration block, branch 6).
//
// The test time is chosen as a weekday (Monday first), a quarter hour of the half day and AM
// or PM; the repeat interval in days must reach the UPS model's minimum (14 days for model
// codes 1, 6, 17, 18, 21; 35 for 3 and 10) and lie within the 1 .. 255 days the block can store.
// "Schedule" and "Unschedule" only change the dialog; OK checks the fields and sends the
// schedule (25, 1, 0) and the log settings (4, 6, 0). "Test Now" asks the agent to test at once.
//
// Times are local: the next test is the next occurrence of the chosen weekday and time after
// now, computed on the calendar so that a daylight-saving change keeps the wall-clock time.
//
// Until the agent's schedule arrives its fields (day, time, interval, next test) stand empty,
// and the log fields until the log settings arrive: the console's image holds only defaults.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <ctime>

#include "dialogs/frame/kt_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;

inline constexpr int IDD_BATTERY_TEST = 3038;
inline constexpr int IDC_TEST_DAY = 1505;
inline constexpr int IDC_TEST_TIME = 1480;
inline constexpr int IDC_TEST_AMPM = 1481;
inline constexpr int IDC_TEST_INTERVAL = 1810;
inline constexpr int IDC_TEST_MAX_ENTRIES = 1124;
inline constexpr int IDC_TEST_FILE_NAME = 1537;
inline constexpr int IDC_TEST_SCHEDULE_TEXT = 1808;
inline constexpr int IDC_TEST_BROWSE = 1267;
inline constexpr int IDC_TEST_SCHEDULE = 1943;
inline constexpr int IDC_TEST_UNSCHEDULE = 1944;
inline constexpr int IDC_TEST_RESULTS = 1539;
inline constexpr int IDC_TEST_NOW = 1081;

class CBatteryTest : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 28;
  static constexpr int kFileNameLimit = 255;

  explicit CBatteryTest(QWidget* parent = nullptr, const QString& hostName = QString());
  CBatteryTest(QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames);
  ~CBatteryTest() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  // The smallest repeat interval of a UPS model code (0: none).
  static int MinimumInterval(int modelCode);
  // "%s, %s %d%s, %d at %d:%02d %s" of a local time.
  static QString FormatScheduleString(const std::tm& local);
  // The next moment after `now` with local weekday `dayIndex` (0 Monday .. 6 Sunday), hour and
  // minute; seconds since 1970, or -1 when the local calendar cannot express it.
  static int64_t NextOccurrence(int64_t now, int dayIndex, int hour, int minute);

  void ResetDialog();
  void ClearSchedule();
  void UpdateSchedule();
  // The checks in order; the first failure shows its stop box. 1 passed, 0 failed.
  int VerifyData();
  void SendData();
  void OnBatteryTestBlock();
  void OnConfigBlock();

  void OnApply();
  void OnClear();
  void OnBrowse();
  void OnResults();
  void OnTestnow();

  bool Enabled() const { return enabled_ != 0; }

 private:
  void BuildControls();
  // Reads the fields back (false after the box of a field that is no number) or writes them.
  bool UpdateData(bool fromControls);
  void ChosenTime(int& hour, int& minute) const;

  QComboBox* day_ = nullptr;
  QComboBox* time_ = nullptr;
  QComboBox* ampm_ = nullptr;
  QLineEdit* interval_edit_ = nullptr;
  QLineEdit* max_edit_ = nullptr;
  QLineEdit* file_edit_ = nullptr;
  QLabel* schedule_label_ = nullptr;

  int day_index_ = 0;
  int time_index_ = 0;
  int ampm_index_ = 0;
  int interval_ = 0;
  unsigned max_entries_ = 0;
  QString file_name_;
  QString schedule_text_;
  // Whether the schedule's and the log's fields show their values (their data have arrived);
  // empty fields are not read back.
  bool schedule_shown_ = false;
  bool log_shown_ = false;
  int enabled_ = 0;
  int model_code_ = 0;
};

extern DialogPointer<CBatteryTest> pBatteryTest;
