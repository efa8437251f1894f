// CDcDlgSetup: "Data Collection Setup". The user picks the meter types to store, the number of
// samples to chart, the sample interval, a collection file name and the maximum number of
// stored values; "Graph" opens the data-collection display, for which this dialog supplies the
// chart's sample numbers, value series and legend.
//
// While the dialog is open it collects real readings: every sample interval (at least 1 s
// apart) it records the meter types of gScp's meter block as the last (3, 0, 0) reply for the
// first host left them, and asks for the next one. A reading the UPS did not report, or a
// sample for which no reply arrived, is a gap (not a number). Each type keeps its newest
// "Maximum Value Entries" readings. No file is read or written.
#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <vector>

#include "dialogs/frame/kt_dialog.h"

class MeterBlock;
class QListWidget;

inline constexpr int IDD_DC_SETUP = 3045;

// The meter types of the list, in list order (strings 3277 to 3295).
inline constexpr int kDcMeterTypeCount = 19;
inline constexpr int kDcFirstMeterString = 3277;
// One reading of a meter type from the meter block; NaN when the UPS did not report it (and
// always for the load of phases B and C, which the block does not hold).
double DcMeterReading(MeterBlock& meters, int type);

class CDcDlgSetup : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int IDC_METER_LIST = 1001;
  static constexpr int IDC_FILE_NAME = 1002;
  static constexpr int IDC_MAX_ENTRIES = 1003;
  static constexpr int IDC_SAMPLES = 1004;
  static constexpr int IDC_INTERVAL = 1005;
  static constexpr int IDC_BROWSE = 1006;
  static constexpr int IDC_GRAPH = 1007;
  static constexpr int kSampleTimer = 2;
  static constexpr int kLegendSlot = 42;
  static constexpr int kMaxDisplaySeries = 30;

  explicit CDcDlgSetup(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CDcDlgSetup() override;

  bool OnInitDialog() override;
  void OnTimer(int timerId) override;

  // "Graph": the selection into the selection array, the controls read back, then the
  // display dialog, run modally.
  void OnDcDisplay();
  // "Browse": a save-style file chooser for the collection file name.
  void OnDcBrowse();
  // Reads the controls into the members; false (after the range message) when one is refused.
  bool UpdateData();
  // Writes the members into the controls.
  void WriteControls();

  // Chart buffers handed to the display (freed by it through the Free calls).
  // The number n of samples the chart shows: the smaller of "Number of Samples" and the
  // number collected.
  int GetSampleCount() const;
  const double* GetPtrDataTime();
  void FreeDataTime();
  // One array of n values per entry selected in the display's list, in list order.
  const std::vector<std::vector<double>>& GetPtrDataValues();
  void FreeDataValues();
  // The selected display-list texts, each in a 42-byte slot (cut to 41 bytes and terminated).
  const char* GetPtrLegendStrings();
  void FreeLegendStrings();
  int LegendCount() const { return legend_count_; }

  // The meter-type list's entry texts and the selection array (1 = selected).
  QStringList EntryTexts() const;
  const std::vector<int>& Selection() const { return selection_; }

  // One sampling step (the timer's work): records the readings the last reply left in gScp,
  // then asks for the next.
  void TakeSample();
  // The stored readings of a type, oldest first.
  const std::deque<double>& Readings(int type) const { return readings_[static_cast<size_t>(type)]; }
  int SamplesTaken() const { return samples_taken_; }

  int numberOfSamples = 100;
  double sampleInterval = 1.0;
  QString fileName = QStringLiteral("storage.mtr");
  int maxEntries = 100;

 private:
  void BuildControls();
  void RequestMeters();
  void RestartTimer();
  int TypeOfText(const QString& text) const;
  // The texts selected in the display list, in list order, at most kMaxDisplaySeries.
  QStringList DisplaySelectedTexts() const;

  QListWidget* list_ = nullptr;
  std::vector<int> selection_;
  std::vector<std::deque<double>> readings_;
  int samples_taken_ = 0;
  int64_t requested_at_ = -1;  // platform time of the last request; -1 none outstanding
  int timer_ms_ = 0;
  std::vector<double> time_;
  std::vector<std::vector<double>> values_;
  std::vector<char> legend_;
  int legend_count_ = 0;
};

extern DialogPointer<CDcDlgSetup> pDcDlgSetup;
