// ShutdownLoadSegmentPage: "Non-Critical Load Segment", offered for a UPS with load segments:
// which segment feeds the non-critical equipment, how long after a power failure it is turned
// off and how long after the power returns it is turned on again.
#pragma once

#include "dialogs/shutdown/shutdown_page.h"

class QComboBox;
class QSpinBox;

inline constexpr int IDD_SHUTDOWN_LOAD_PAGE = 226;
inline constexpr int IDC_LOAD_SEGMENT = 1908;
inline constexpr int IDC_LOAD_DOWN = 1910;
inline constexpr int IDC_LOAD_UP = 1911;
inline constexpr int IDC_LOAD_DOWN_SPIN = 2019;
inline constexpr int IDC_LOAD_UP_SPIN = 2018;

class ShutdownLoadSegmentPage : public ShutdownPage {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 8;
  // The up-down ranges; typed values may go beyond them and are then refused by Check.
  static constexpr int kDownStepMax = 255;
  static constexpr int kUpStepMax = 5;

  explicit ShutdownLoadSegmentPage(QWidget* parent = nullptr, const QString& hostName = QString());

  bool OnInitDialog() override;
  QString Check() override;
  bool Apply() override;
  void OnOK() override;
  void OnNext() override;
  std::optional<ShutdownPageId> NextPage() const override;
  void OnBack() override;
  void OnSelectionChange();

  QComboBox* Segments() const { return segments_; }

 private:
  void BuildControls();
  void ShowDelays(bool on);

  QComboBox* segments_ = nullptr;
  QSpinBox* down_ = nullptr;
  QSpinBox* up_ = nullptr;
  QList<QWidget*> delay_widgets_;
  QStringList fit_lines_;    // the delays shown otherwise than held, while that segment is chosen
  int opened_segment_ = -1;  // the choice the page opened with
  int count_ = 0;
  int down_seconds_ = 0;
  int up_seconds_ = 0;
};
