// CDcMeterSelectDlg: "Data Collection Display". Lists the meter types selected in the setup
// dialog and lets the user pick the ones to chart; "Graph" runs the chart dialog modally.
#pragma once

#include "dialogs/frame/kt_dialog.h"

class QLabel;
class QListWidget;

inline constexpr int IDD_DC_METER_SELECT = 3044;

class CDcMeterSelectDlg : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int IDC_DISPLAY_LIST = 1009;
  static constexpr int IDC_GRAPH = 1010;

  // Builds the dialog; the caller runs it with DoModal (the setup dialog) or Create.
  explicit CDcMeterSelectDlg(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CDcMeterSelectDlg() override;

  bool OnInitDialog() override;
  void OnGraph();

  // The display list (its selection names the types to chart).
  QListWidget* DisplayList() const { return list_; }
  // The note shown in place of an empty list (why there is nothing to chart).
  QLabel* EmptyHint() const { return empty_hint_; }
  int SelectedCount() const;

 private:
  void BuildControls();
  QListWidget* list_ = nullptr;
  QLabel* empty_hint_ = nullptr;
};

extern DialogPointer<CDcMeterSelectDlg> pDcMeterSelectDlg;
